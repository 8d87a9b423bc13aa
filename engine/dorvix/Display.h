#pragma once
// The display's state the scene set-up touches, and a view that draws one
// scene on a display.
namespace Vak {

class SceneElement;

class Display {
public:
  float FogDensity() const { return fogDensity_; }
  int FogMode() const { return fogMode_; }
  void SetFog(float density, int mode) {
    fogDensity_ = density;
    fogMode_ = mode;
  }

private:
  float fogDensity_ = 0.0f;
  int fogMode_ = 0;
};

class View {
public:
  explicit View(Display* display) : display_(display) {}
  Display* GetDisplay() const { return display_; }
  SceneElement* GetScene() const { return scene_; }
  void SetScene(SceneElement* scene) { scene_ = scene; }

private:
  Display* display_;
  SceneElement* scene_ = nullptr;
};

} // namespace Vak
