#pragma once
// A counted array of engine references, shared between a mesh definition and
// its instances; an instance copies it before it changes it. Each slot holds
// one reference of its object (or null).
#include <vector>

#include "Vak/plugins/ReferenceCount.h"

template <class T>
class SharedRefArray : public Vak::ReferenceCount {
public:
  SharedRefArray() = default;
  ~SharedRefArray() override { Resize(0); }

  unsigned Count() const { return static_cast<unsigned>(items_.size()); }
  T* Get(unsigned i) const { return i < items_.size() ? items_[i] : nullptr; }

  // Takes over one reference of `item`, releasing what the slot held; the
  // array grows to reach the slot.
  void Set(unsigned i, T* item) {
    if (i >= items_.size()) items_.resize(i + 1, nullptr);
    if (items_[i] != nullptr) items_[i]->ReleaseReference();
    items_[i] = item;
  }
  // Releases what the dropped slots held.
  void Resize(unsigned count) {
    while (items_.size() > count) RemoveLast();
    items_.resize(count, nullptr);
  }
  void RemoveLast() {
    if (items_.empty()) return;
    if (items_.back() != nullptr) items_.back()->ReleaseReference();
    items_.pop_back();
  }

private:
  std::vector<T*> items_;
};
