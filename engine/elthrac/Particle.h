#pragma once
// A node of the 3-D scene: a name, a position, marking flags and owned
// child particles. A particle can also be a scene of the render kernel's
// scene graph.
#include <cstdint>
#include <vector>

#include "Vak/Bexlorn/PString.h"
#include "engine/dorvix/SceneGraph.h"

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
  void SetPosition(float x, float y, float z) {
    x_ = x;
    y_ = y;
    z_ = z;
  }
  float X() const { return x_; }
  float Y() const { return y_; }
  float Z() const { return z_; }

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
  float x_ = 0, y_ = 0, z_ = 0;
  uint32_t marks_ = 0;
  Particle* parent_ = nullptr;
  std::vector<Particle*> children_;
};

} // namespace Vak
