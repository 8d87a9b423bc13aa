#pragma once
// The polymorphic root of the content classes and the property family: a
// property names a value and converts it to and from text. The one concrete
// property, VelmarPropertyAssetID, holds a KUID and tells which asset a
// results-log line concerns.
#include <cstddef>
#include <cstdint>

#include "Vak/Bexlorn/PString.h"
#include "Vak/plugins/ReferenceCount.h"
#include "content/KUID.h"

class IdentifiableType {
public:
  IdentifiableType() = default;
  IdentifiableType(const IdentifiableType&) = default;
  IdentifiableType& operator=(const IdentifiableType&) = default;
  virtual ~IdentifiableType() = default;

  static void* operator new(std::size_t size);
  static void operator delete(void* block);
};

class VelmarProperty : public IdentifiableType {
public:
  explicit VelmarProperty(const Vak::PString& name) : name_(name) {}
  VelmarProperty(const VelmarProperty&) = delete;
  VelmarProperty& operator=(const VelmarProperty&) = delete;

  // Takes a reference; returns the property itself.
  virtual VelmarProperty* AddReference() = 0;
  // Gives a reference back; true when that deleted the property.
  virtual bool ReleaseReference() { return false; }
  virtual void SetValueText(const char* text);
  // The value as text; the empty interned string here.
  virtual void GetValueText(Vak::PString& out) const;

  const Vak::PString& GetName() const { return name_; }

protected:
  ~VelmarProperty() override = default;

private:
  Vak::PString name_;
};

// A property whose life is counted by the engine's reference count: it
// starts at 1 for the creator, and the last release deletes the whole
// property.
class VelmarPropertyRefCounted : public VelmarProperty, public Vak::ReferenceCount {
public:
  explicit VelmarPropertyRefCounted(const Vak::PString& name) : VelmarProperty(name) {}

  VelmarProperty* AddReference() override;
  bool ReleaseReference() override;

protected:
  ~VelmarPropertyRefCounted() override = default;
};

class VelmarPropertyAssetID : public VelmarPropertyRefCounted {
public:
  VelmarPropertyAssetID(const Vak::PString& name, int32_t userId, int32_t contentId, int32_t version)
      : VelmarPropertyRefCounted(name), kuid_(userId, contentId, version) {}

  // Lenient parse; unparsable or empty text stores the null KUID.
  void SetValueText(const char* text) override;
  // The config form: "<kuid:..>", "<kuid2:..>" or "<NULL>".
  void GetValueText(Vak::PString& out) const override;

  const KUID& GetKUID() const { return kuid_; }

protected:
  ~VelmarPropertyAssetID() override = default;

private:
  KUID kuid_;
};

// Owns one reference to a property, or holds null.
class VelmarPropertyPtr {
public:
  VelmarPropertyPtr() = default;
  // Takes a new reference (nothing for null).
  explicit VelmarPropertyPtr(VelmarProperty* property);
  VelmarPropertyPtr(const VelmarPropertyPtr& other) : VelmarPropertyPtr(other.property_) {}
  VelmarPropertyPtr(VelmarPropertyPtr&& other) noexcept : property_(other.Detach()) {}
  ~VelmarPropertyPtr() { Release(); }

  VelmarPropertyPtr& operator=(const VelmarPropertyPtr& other);
  VelmarPropertyPtr& operator=(VelmarPropertyPtr&& other) noexcept;

  // Holds `property` with a reference the caller already took for it; the
  // reference held before is given back.
  void Attach(VelmarProperty* property);
  // Holds null without giving the reference back; returns what was held.
  VelmarProperty* Detach();
  // Gives the reference back and holds null; true when that deleted the
  // property (false for null).
  bool Release();

  VelmarProperty* Get() const { return property_; }
  VelmarProperty* operator->() const { return property_; }
  explicit operator bool() const { return property_ != nullptr; }

  // The property's text; for null the empty interned string.
  void GetValueText(Vak::PString& out) const;

private:
  VelmarProperty* property_ = nullptr;
};
