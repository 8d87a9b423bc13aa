#pragma once
// What the scene's lights shine on: the light it is lit by and whether its
// lighting needs working out again.
namespace Vak {

class ParallelLight;

class LightTarget {
public:
  virtual ~LightTarget() = default;

  // A different light marks the lighting for an update.
  virtual void SetLight(ParallelLight* light) {
    if (light != light_) needsUpdate_ = true;
    light_ = light;
  }
  ParallelLight* GetLight() const { return light_; }
  bool NeedsLightingUpdate() const { return needsUpdate_; }
  void SetNeedsLightingUpdate(bool needs) { needsUpdate_ = needs; }
  // Works the lighting out; true when it did. The engine's always does.
  virtual bool UpdateLighting(bool) {
    needsUpdate_ = false;
    return true;
  }

protected:
  void CopyLightTargetState(const LightTarget& from) {
    light_ = from.light_;
    needsUpdate_ = true;
  }

private:
  ParallelLight* light_ = nullptr;
  bool needsUpdate_ = true;
};

} // namespace Vak
