#include "content/ReferenceCountMP.h"

#include "Vak/Bexlorn/Alloc.h"

void* ReferenceCountMP::operator new(std::size_t size) { return Vak::Alloc::New(static_cast<unsigned>(size)); }

void ReferenceCountMP::operator delete(void* block) { Vak::Alloc::Delete(block); }

bool ReferenceCountMP::ReleaseReference() {
  if (count_.Decrement() != 0) return false;
  delete this;
  return true;
}

MPHandle::MPHandle(ReferenceCountMP* object) : object_(object) {
  if (object_) object_->AddReference();
}

MPHandle::MPHandle(const MPHandle& other) : object_(other.object_) {
  if (object_) object_->AddReference();
}

MPHandle::~MPHandle() {
  if (object_) object_->ReleaseReference();
}

// The new object gains its reference before the old one loses its own, so
// assigning a handle to itself (or to another handle of the same object)
// never lets the count reach 0.
MPHandle& MPHandle::operator=(const MPHandle& other) {
  ReferenceCountMP* old = object_;
  if (other.object_) other.object_->AddReference();
  object_ = other.object_;
  if (old) old->ReleaseReference();
  return *this;
}

MPHandle& MPHandle::operator=(MPHandle&& other) noexcept {
  if (this != &other) {
    ReferenceCountMP* old = object_;
    object_ = other.object_;
    other.object_ = nullptr;
    if (old) old->ReleaseReference();
  }
  return *this;
}

void MPHandle::Reset() {
  ReferenceCountMP* old = object_;
  object_ = nullptr;
  if (old) old->ReleaseReference();
}
