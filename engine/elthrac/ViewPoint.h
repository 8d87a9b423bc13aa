#pragma once
// One frame's look at the scene: the frame number, where the eye is, and
// the instances culling found visible, each with its transform, in the
// order they were added.
#include <utility>
#include <vector>

#include "engine/kernelx/Matrix4.h"
#include "engine/kernelx/Vector3.h"

namespace Vak {

class Display;
class Particle;

class ViewPoint {
public:
  // Beyond this distance each doubling lowers the wanted detail of
  // textures by one mip level.
  static constexpr float kFullDetailDistance = 16.0f;

  explicit ViewPoint(Display* display = nullptr) : display_(display) {}

  Display* GetDisplay() const { return display_; }
  // Starts at 1; culling stamps particles with it.
  unsigned GetCurrentFrame() const { return frame_; }
  // The next frame: a new number and nothing added yet.
  void NextFrame() {
    ++frame_;
    added_.clear();
  }
  const Vector3& GetEyePosition() const { return eye_; }
  void SetEyePosition(const Vector3& eye) { eye_ = eye; }

  // The mip level to load textures at for geometry placed by `transform`:
  // 0 within kFullDetailDistance of the eye, one more per doubling of the
  // distance beyond it, plus `bias`; never below 0.
  int CalcWantedMipLevelsForCull(const Matrix4& transform, int bias) const;

  void AddInstance(Particle* instance, const Matrix4& transform) { added_.emplace_back(instance, transform); }
  const std::vector<std::pair<Particle*, Matrix4>>& Added() const { return added_; }

private:
  Display* display_;
  unsigned frame_ = 1;
  Vector3 eye_;
  std::vector<std::pair<Particle*, Matrix4>> added_;
};

} // namespace Vak
