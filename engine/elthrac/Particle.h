#pragma once
// A node of the 3-D scene: a position and orientation relative to its
// parent, marking flags, an opacity and the frame it was last culled in,
// with owned child particles. A particle can also be a scene of the render
// kernel's scene graph.
#include <cstdint>
#include <vector>

#include "Vak/Bexlorn/PString.h"
#include "engine/elthrac/Element.h"
#include "engine/kernelx/Matrix4.h"
#include "engine/kernelx/OrientedBox.h"
#include "engine/kernelx/Quaternion.h"
#include "engine/kernelx/Vector3.h"

namespace Vak {

class Display;
class ViewPoint;
struct TriangleRef;

// A ray: a point and a unit direction.
struct Ray {
  Vector3 point;
  Vector3 direction;
};

class Particle : public Element {
public:
  static constexpr uint32_t kMarkCurrent = 0x01;
  // Type codes (GetType).
  static constexpr int kTypeParticle = 1;
  static constexpr int kTypeScaling = 23;

  Particle() = default;
  explicit Particle(const PString& name) : Element(name) {}
  // Deletes the children and leaves the parent.
  ~Particle() override;

  virtual int GetType() const { return kTypeParticle; }

  void SetPosition(float x, float y, float z) { position_ = {x, y, z}; }
  void SetPosition(const Vector3& position) { position_ = position; }
  const Vector3& GetPosition() const { return position_; }
  float X() const { return position_.x; }
  float Y() const { return position_.y; }
  float Z() const { return position_.z; }
  void SetOrientation(const Quaternion& orientation) { orientation_ = orientation; }
  const Quaternion& GetOrientation() const { return orientation_; }
  // The pose relative to the parent as a transform.
  Matrix4 GetLocalTransform() const { return Matrix4::FromRotationTranslation(orientation_, position_); }
  // Turns a pose given in the frame of the tree's top (every ancestor's
  // pose applied) into one relative to this particle's parent, so that
  // setting it places the particle there.
  void GlobalToLocal(Vector3& position, Quaternion& orientation) const;

  // This particle or the first below it, depth first in child order, whose
  // name equals `name`; null when none does.
  Particle* FindByName(const PString& name);

  void Mark(uint32_t flags) { marks_ |= flags; }
  void Unmark(uint32_t flags) { marks_ &= ~flags; }
  bool IsMarked(uint32_t flags) const { return (marks_ & flags) != 0; }

  virtual float GetOpacity() const { return opacity_; }
  virtual void SetOpacity(float opacity) { opacity_ = opacity; }

  // Frame numbers start at 1; 0 means never culled.
  unsigned GetLastCulledFrame() const { return lastCulledFrame_; }
  virtual void SetLastCulledFrame(unsigned frame) { lastCulledFrame_ = frame; }
  // The world transform the last cull worked out.
  const Matrix4& GetCulledTransform() const { return culledTransform_; }

  // A shown particle takes its world transform (`parent` times its own
  // pose) and the view point's frame, then culls its children with that
  // transform. A hidden one stops there, its children with it.
  virtual void Cull(ViewPoint& viewPoint, const Matrix4& parent);
  // Draws nothing: only what shows geometry draws.
  virtual void Render(ViewPoint&, Display&, const Matrix4&) {}
  // A copy of what the particle shows, or null when it cannot be copied.
  virtual Particle* Clone() const { return nullptr; }
  // The nearest hit nearer than `distance` (given in the particle's frame);
  // false without one. This particle shows nothing to hit.
  virtual bool TestRayCollision(const Ray&, float&, TriangleRef&) { return false; }

  void SetBoundingVolume(const OrientedBox& box) { bounds_ = box; }
  const OrientedBox& GetBoundingVolume() const { return bounds_; }

protected:
  // The engine's particle state, for a subclass's copy.
  void CopyParticleState(const Particle& from);

private:
  Vector3 position_;
  Quaternion orientation_;
  uint32_t marks_ = 0;
  float opacity_ = 1.0f;
  unsigned lastCulledFrame_ = 0;
  Matrix4 culledTransform_;
  OrientedBox bounds_;
};

// A particle that can scale what hangs below it; a fixed one does not.
class ScalingParticle : public Particle {
public:
  using Particle::Particle;
  int GetType() const override { return kTypeScaling; }
  bool IsFixed() const { return fixed_; }
  void SetFixed(bool fixed) { fixed_ = fixed; }
  const Vector3& GetScale() const { return scale_; }
  void SetScale(const Vector3& scale) { scale_ = scale; }

private:
  bool fixed_ = false;
  Vector3 scale_{1, 1, 1};
};

} // namespace Vak
