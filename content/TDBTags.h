#pragma once
// The in-memory nodes of a chunk tree: containers and values.
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "content/ACSChunk.h"
#include "content/ACSChunkPtr.h"

// A container: children in insertion order; names need not be unique.
class TDBContainerTag : public ACSChunk {
public:
  TDBContainerTag() = default;
  ~TDBContainerTag() override;

  ACSChunkPtr FindChild(const Vak::PString& name) override;
  ACSChunkPtr GetChild(const Vak::PString& name) override;
  int GetChildCount() override;
  Vak::PString GetChildName(int index) override;
  void SortChildren() override;
  void SwapChildren(ACSChunkPtr a, ACSChunkPtr b) override;
  void SetChild(const Vak::PString& name, ACSChunkPtr chunk) override;
  void RemoveChild(ACSChunkPtr chunk) override;
  ACSChunkPtr CreateChunk(int type, const ACSRawDataPtr& data) override;
  int GetType() override { return kACSContainer; }

private:
  struct Entry {
    Vak::PString name;
    ACSChunkPtr child;
  };

  // Index of the first entry named `name`, or -1.
  int FindEntry(const Vak::PString& name);

  std::vector<Entry> entries_;
  // Name node to its first entry, kept for large lists only; rebuilt after
  // an edit that moves entries.
  std::unordered_map<const void*, uint32_t> byName_;
  bool byNameValid_ = false;
};

// A value: a type number and its bytes (possibly none).
class TDBDataTag : public ACSChunk {
public:
  TDBDataTag() = default;
  TDBDataTag(int type, const ACSRawDataPtr& data) : value_(data), type_(type) {}
  ~TDBDataTag() override;

  const uint8_t* GetData() override { return value_.Data(); }
  uint32_t GetDataSize() override { return value_.Size(); }
  int GetType() override { return type_; }
  void SetValue(int type, const ACSRawDataPtr& data) override;

private:
  ACSRawDataPtr value_;
  int32_t type_ = kACSEmpty;
};
