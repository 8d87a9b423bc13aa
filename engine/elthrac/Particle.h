#pragma once
// A node of the 3-D scene: a name, a position and orientation relative to
// its parent, marking flags and owned child particles. A particle can also
// be a scene of the render kernel's scene graph.
#include <cstdint>
#include <vector>

#include "Vak/Bexlorn/PString.h"
#include "engine/dorvix/SceneGraph.h"
#include "engine/kernelx/Quaternion.h"
#include "engine/kernelx/Vector3.h"

namespace Vak {

class Particle : public SceneElement {
public:
  static constexpr uint32_t kMarkCurrent = 0x01;

  Particle() = default;
  explicit Particle(const PString& name) : name_(name) {}
  // Deletes the children and leaves the parent.
  ~Particle() override;

  const PString& GetName() const { return name_; }
  void SetName(const PString& name) { name_ = name; }
  void SetPosition(float x, float y, float z) { position_ = {x, y, z}; }
  void SetPosition(const Vector3& position) { position_ = position; }
  const Vector3& GetPosition() const { return position_; }
  float X() const { return position_.x; }
  float Y() const { return position_.y; }
  float Z() const { return position_.z; }
  void SetOrientation(const Quaternion& orientation) { orientation_ = orientation; }
  const Quaternion& GetOrientation() const { return orientation_; }
  // Turns a pose given in the frame of the tree's top (every ancestor's
  // pose applied) into one relative to this particle's parent, so that
  // setting it places the particle there.
  void GlobalToLocal(Vector3& position, Quaternion& orientation) const;

  // This particle or the first below it, depth first in child order, whose
  // name equals `name`; null when none does.
  Particle* FindByName(const PString& name);

  // Takes ownership; a child of another particle leaves it first.
  void AddChild(Particle* child);
  // Gives up ownership; false when it is no child of this particle.
  bool RemoveChild(Particle* child);
  void DeleteChildren();
  const std::vector<Particle*>& Children() const { return children_; }
  Particle* Parent() const { return parent_; }

  void Mark(uint32_t flags) { marks_ |= flags; }
  void Unmark(uint32_t flags) { marks_ &= ~flags; }
  bool IsMarked(uint32_t flags) const { return (marks_ & flags) != 0; }

private:
  PString name_;
  Vector3 position_;
  Quaternion orientation_;
  uint32_t marks_ = 0;
  Particle* parent_ = nullptr;
  std::vector<Particle*> children_;
};

} // namespace Vak
