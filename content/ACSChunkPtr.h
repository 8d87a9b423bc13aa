#pragma once
// The counted pointer through which code holds and edits chunk trees: typed
// child access by name, load and save by file extension, KUID lists kept as
// children. Reads never fail: a missing child gives the caller's default.
#include <cstdint>
#include <vector>

#include "Vak/Bexlorn/PString.h"
#include "content/ACSChunk.h"
#include "content/KUID.h"
#include "content/KUIDList.h"

class ACSChunkPtr {
public:
  ACSChunkPtr() = default;
  // Takes a reference of its own (nothing for null).
  explicit ACSChunkPtr(ACSChunk* chunk);
  ACSChunkPtr(const ACSChunkPtr& other);
  ACSChunkPtr(ACSChunkPtr&& other) noexcept : chunk_(other.chunk_) { other.chunk_ = nullptr; }
  ~ACSChunkPtr();
  ACSChunkPtr& operator=(const ACSChunkPtr& other);
  ACSChunkPtr& operator=(ACSChunkPtr&& other) noexcept;

  ACSChunk* Get() const { return chunk_; }
  ACSChunk* operator->() const { return chunk_; }
  bool operator==(const ACSChunkPtr& other) const { return chunk_ == other.chunk_; }

  void Release();
  // Null, the null chunk, or a chunk of type 0.
  bool IsNull() const;
  // A null pointer (see IsNull) becomes a new empty container.
  void MakeContainer();
  ACSChunkPtr GetContainer();
  // A new container holding a deep copy of `source` (values shared).
  void DeepCopy(const ACSChunkPtr& source);
  // The tree in text form on standard output.
  void DumpToConsole() const;

  int GetChildCount() const;
  Vak::PString GetChildName(int index) const;
  bool HasChild(const Vak::PString& name) const;
  int GetChildType(const Vak::PString& name) const;
  ACSChunkPtr GetChildContainer(const Vak::PString& name) const;
  ACSChunkPtr GetChildContainerAt(int index) const;
  ACSRawDataPtr GetChildData(const Vak::PString& name) const;
  int32_t GetChildInt(const Vak::PString& name, int32_t defaultValue) const;
  bool GetChildBool(const Vak::PString& name, bool defaultValue) const;
  float GetChildFloat(const Vak::PString& name, float defaultValue) const;
  // True when at least one float was read; `values` gets exactly those.
  bool GetChildFloatArray(const Vak::PString& name, std::vector<float>& values) const;
  KUID GetChildKUID(const Vak::PString& name, const KUID& defaultValue) const;
  // The empty string when missing or not convertible.
  Vak::PString GetChildString(const Vak::PString& name) const;

  // Each setter replaces a child of the same name and appends it at the end.
  void SetChildInt(const Vak::PString& name, int32_t value);
  void SetChildBool(const Vak::PString& name, bool flag);
  void SetChildFloat(const Vak::PString& name, float value);
  // Count 0 only removes the child.
  void SetChildFloatArray(const Vak::PString& name, const float* values, uint32_t count);
  void SetChildKUID(const Vak::PString& name, const KUID& kuid);
  void SetChildString(const Vak::PString& name, const char* text);
  void SetChildNull(const Vak::PString& name);
  // Null or the shared null chunk is made an empty container first.
  void SetChild(const Vak::PString& name, ACSChunkPtr chunk);
  void RemoveChild(const Vak::PString& name);
  void RemoveChildChunk(const ACSChunkPtr& chunk);

  // By extension: "txt" is the text form, "chump", "cdp" and "cdp2" the
  // binary form. False only when the file does not open or the extension is
  // unknown; an unreadable file leaves the pointer null.
  bool Load(const char* folder, const char* name);
  // False for an unknown extension, a file that does not open or a failed
  // write.
  bool Save(const char* folder, const char* name) const;

private:
  // Removes `name`, then appends a value child of the type and bytes.
  void SetValueChild(const Vak::PString& name, int type, const ACSRawDataPtr& data);
  ACSRawDataPtr ChildValueAs(const Vak::PString& name, int type) const;

  ACSChunk* chunk_ = nullptr;
};

// Text children parsed strictly, KUID children, and containers recursively.
void CollectTreeKUIDs(const ACSChunkPtr& tree, KUIDList& list);
// Every child read as a KUID.
void CollectChildKUIDs(const ACSChunkPtr& container, KUIDList& list);
// Children "0", "1", ... for the list's non-null KUIDs; null when none.
ACSChunkPtr MakeKUIDListContainer(const KUIDList& list);
