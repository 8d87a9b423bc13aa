#include "content/VelmarProperty.h"

#include "Vak/Bexlorn/Alloc.h"
#include "content/AppGlobals.h"

void* IdentifiableType::operator new(std::size_t size) { return Vak::Alloc::New(static_cast<unsigned>(size)); }

void IdentifiableType::operator delete(void* block) { Vak::Alloc::Delete(block); }

void VelmarProperty::SetValueText(const char*) {}

void VelmarProperty::GetValueText(Vak::PString& out) const { out = EmptyPString(); }

VelmarProperty* VelmarPropertyRefCounted::AddReference() {
  Vak::ReferenceCount::AddReference();
  return this;
}

// The engine's release deletes through the counted subobject's virtual
// destructor, which destroys the whole property.
bool VelmarPropertyRefCounted::ReleaseReference() { return Vak::ReferenceCount::ReleaseReference(); }

void VelmarPropertyAssetID::SetValueText(const char* text) { kuid_ = KUID::Parse(text, false); }

void VelmarPropertyAssetID::GetValueText(Vak::PString& out) const { out = kuid_.ToConfigText(); }

VelmarPropertyPtr::VelmarPropertyPtr(VelmarProperty* property)
    : property_(property ? property->AddReference() : nullptr) {}

// The new reference is taken before the old one goes, so assigning a pointer
// to itself never lets the count reach 0.
VelmarPropertyPtr& VelmarPropertyPtr::operator=(const VelmarPropertyPtr& other) {
  VelmarProperty* taken = other.property_ ? other.property_->AddReference() : nullptr;
  Release();
  property_ = taken;
  return *this;
}

VelmarPropertyPtr& VelmarPropertyPtr::operator=(VelmarPropertyPtr&& other) noexcept {
  if (this != &other) {
    VelmarProperty* taken = other.Detach();
    Release();
    property_ = taken;
  }
  return *this;
}

// Attaching the property already held is safe: the caller's reference keeps
// it alive while the old one goes.
void VelmarPropertyPtr::Attach(VelmarProperty* property) {
  Release();
  property_ = property;
}

VelmarProperty* VelmarPropertyPtr::Detach() {
  VelmarProperty* held = property_;
  property_ = nullptr;
  return held;
}

bool VelmarPropertyPtr::Release() {
  VelmarProperty* held = Detach();
  return held ? held->ReleaseReference() : false;
}

void VelmarPropertyPtr::GetValueText(Vak::PString& out) const {
  if (property_) {
    property_->GetValueText(out);
  } else {
    out = EmptyPString();
  }
}
