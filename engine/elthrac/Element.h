#pragma once
// The scene's tree: an owned list of children and a parent link (ITree),
// and the element that carries a name and the flags every scene node has.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "Vak/Bexlorn/PString.h"
#include "engine/dorvix/SceneGraph.h"

namespace Vak {

// Children are owned; a node's own class deletes them (it knows its type).
template <class T>
class ITree : public SceneElement {
public:
  // Takes ownership; a child of another node leaves it first.
  void AddChild(T* child) {
    ITree* node = child;
    if (!child || node->parent_ == this) return;
    if (node->parent_) node->parent_->RemoveChild(child);
    children_.push_back(child);
    node->parent_ = static_cast<T*>(this);
  }
  // Gives up ownership; false when it is no child of this node.
  bool RemoveChild(T* child) {
    auto it = std::find(children_.begin(), children_.end(), child);
    if (it == children_.end()) return false;
    children_.erase(it);
    static_cast<ITree*>(child)->parent_ = nullptr;
    return true;
  }
  void DeleteChildren() {
    while (!children_.empty()) {
      T* child = children_.back();
      children_.pop_back();
      static_cast<ITree*>(child)->parent_ = nullptr;
      delete child;
    }
  }
  const std::vector<T*>& Children() const { return children_; }
  T* Parent() const { return parent_; }

private:
  T* parent_ = nullptr;
  std::vector<T*> children_;
};

class Particle;

class Element : public ITree<Particle> {
public:
  enum Flag : uint32_t {
    kShown = 0x2,     // drawn and culled; clear hides the element and its children
    kAnimated = 0x4,  // moved by its animation
  };

  Element() = default;
  explicit Element(const PString& name) : name_(name) {}

  const PString& GetName() const { return name_; }
  virtual void SetName(const PString& name) { name_ = name; }
  uint32_t GetFlags() const { return flags_; }
  void SetFlags(uint32_t flags) { flags_ = flags; }
  void SetFlag(uint32_t flag, bool on) { flags_ = on ? flags_ | flag : flags_ & ~flag; }
  bool HasFlag(uint32_t flag) const { return (flags_ & flag) != 0; }

private:
  PString name_;
  uint32_t flags_ = kShown;
};

} // namespace Vak
