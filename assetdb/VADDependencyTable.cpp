#include "assetdb/VADDependencyTable.h"

#include "Vak/Bexlorn/ByteOrder.h"
#include "assetdb/KuidTable.h"
#include "content/DynamicBuffer.h"
#include "content/TStream.h"

namespace {

using DependencyInfo = VADDependencyTable::DependencyInfo;

bool ListHolds(const KUIDList& list, const KUID& kuid) { return !list.Find(kuid).IsEnd(); }

void AppendOnce(KUIDList& list, const KUID& kuid) {
  if (!ListHolds(list, kuid)) list.Append(kuid);
}

bool WriteSet(TStream& stream, const std::set<DependencyInfo*>& set) {
  bool ok = stream.WriteInt(static_cast<uint32_t>(set.size()));
  for (const DependencyInfo* entry : set) entry->kuid.Write(stream);
  return ok;
}

} // namespace

uint32_t VADDependencyTable::DependencyInfoBase::Hash() const {
  return static_cast<uint32_t>(kuid.user) ^ (static_cast<uint32_t>(kuid.content) << 5) ^
         static_cast<uint32_t>(kuid.version);
}

int VADDependencyTable::DependencyInfoBase::Compare(const Utils::IHashNode& other) const {
  const KUID& o = static_cast<const DependencyInfoBase&>(other).kuid;
  const uint32_t a[3] = {static_cast<uint32_t>(kuid.user), static_cast<uint32_t>(kuid.content),
                         static_cast<uint32_t>(kuid.version)};
  const uint32_t b[3] = {static_cast<uint32_t>(o.user), static_cast<uint32_t>(o.content),
                         static_cast<uint32_t>(o.version)};
  for (int i = 0; i < 3; ++i) {
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  }
  return 0;
}

VADDependencyTable::~VADDependencyTable() { Destroy(); }

VADDependencyTable& VADDependencyTable::Instance() {
  static VADDependencyTable table;
  return table;
}

VADDependencyTable::DependencyInfo* VADDependencyTable::Find(const KUID& kuid) const {
  Unpack();
  return FindEntry(kuid);
}

VADDependencyTable::DependencyInfo* VADDependencyTable::FindOrAdd(const KUID& kuid) {
  Unpack();
  return AddEntry(kuid);
}

VADDependencyTable::DependencyInfo* VADDependencyTable::FindEntry(const KUID& kuid) const {
  const auto it = index_.find(kuid);
  return it == index_.end() ? nullptr : it->second;
}

VADDependencyTable::DependencyInfo* VADDependencyTable::AddEntry(const KUID& kuid) {
  if (DependencyInfo* entry = FindEntry(kuid)) return entry;
  auto* entry = new DependencyInfo(kuid);
  if (!table_.Insert(entry)) {  // an equal node, which the index rules out
    delete entry;
    return nullptr;
  }
  index_.emplace(kuid, entry);
  return entry;
}

void VADDependencyTable::UpdateRecord(const DependencyInfo& entry) const {
  if (records_ != nullptr)
    records_->SetDependencyFlags(entry.kuid, !entry.dependencies.empty(), !entry.dependants.empty());
}

void VADDependencyTable::SetDependencies(const KUID& kuid, const KUIDList& list) {
  if (kuid.IsNull()) return;
  DependencyInfo* entry = FindOrAdd(kuid);
  for (DependencyInfo* old : entry->dependencies) old->dependants.erase(entry);
  entry->dependencies.clear();
  for (auto it = list.Begin(); !it.IsEnd(); ++it) {
    if (it->IsNull()) continue;
    DependencyInfo* dependency = FindOrAdd(*it);
    entry->dependencies.insert(dependency);
    dependency->dependants.insert(entry);
    UpdateRecord(*dependency);
  }
  // The asset's own record from its final sets: updated before the new
  // dependencies are linked, it would always claim none.
  UpdateRecord(*entry);
}

void VADDependencyTable::GetDependencies(const KUID& kuid, KUIDList& list) const {
  if (kuid.IsNull()) return;
  if (const DependencyInfo* entry = Find(kuid)) {
    for (const DependencyInfo* dependency : entry->dependencies) AppendOnce(list, dependency->kuid);
  }
}

void VADDependencyTable::GetDependants(const KUID& kuid, const KuidTable& replacements, KUIDList& list) const {
  if (kuid.IsNull()) return;
  KUIDList names;
  KUIDList replaced;
  replacements.ReverseLookup(kuid, replaced);
  for (auto it = replaced.Begin(); !it.IsEnd(); ++it) AppendOnce(names, *it);
  AppendOnce(names, replacements.Resolve(kuid));
  AppendOnce(names, kuid);
  for (auto it = names.Begin(); !it.IsEnd(); ++it) {
    if (const DependencyInfo* entry = Find(*it)) {
      for (const DependencyInfo* dependant : entry->dependants) AppendOnce(list, dependant->kuid);
    }
  }
}

unsigned VADDependencyTable::Count() const {
  Unpack();
  return table_.Count();
}

const Utils::HashTable& VADDependencyTable::Table() const {
  Unpack();
  return table_;
}

bool VADDependencyTable::Write(TStream& stream) const {
  uint8_t version[2];
  Vak::PutLE16(version, kBlockVersion);
  bool ok = stream.WriteBytes(version, 2) == 2;
  if (storedPending_.load(std::memory_order_acquire)) {
    ok = stream.WriteInt(storedCount_) && ok;
    const auto n = static_cast<uint32_t>(stored_.size());
    ok = stream.WriteBytes(stored_.data(), n) == n && ok;
    return ok && stream.GetError() == 0;
  }
  ok = stream.WriteInt(table_.Count()) && ok;
  for (auto it = table_.Begin(); !it.IsEnd(); ++it) {
    const auto& entry = static_cast<const DependencyInfo&>(*it.Node());
    entry.kuid.Write(stream);
    ok = WriteSet(stream, entry.dependencies) && ok;
    ok = WriteSet(stream, entry.dependants) && ok;
  }
  return ok && stream.GetError() == 0;
}

bool VADDependencyTable::ReadEntry(TStream& stream) {
  KUID kuid;
  if (!KUID::Read(stream, kuid)) return false;
  DependencyInfo* entry = AddEntry(kuid);
  for (std::set<DependencyInfo*>* set : {&entry->dependencies, &entry->dependants}) {
    const uint32_t n = stream.ReadInt();
    if (stream.GetError() != 0) return false;
    for (uint32_t k = 0; k < n; ++k) {
      if (!KUID::Read(stream, kuid)) return false;
      set->insert(AddEntry(kuid));
    }
  }
  return true;
}

namespace {

// The length of `count` stored entries at `p`, each a KUID and two counted
// lists of KUIDs; false when they run past `left` bytes.
bool EntriesLength(const uint8_t* p, std::size_t left, uint32_t count, std::size_t& length) {
  constexpr std::size_t kKuidBytes = 8;
  std::size_t at = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (left - at < kKuidBytes + 4) return false;
    at += kKuidBytes + 4;
    for (int set = 0; set < 2; ++set) {
      const uint64_t bytes = uint64_t{Vak::GetLE32(p + at - 4)} * kKuidBytes + (set == 0 ? 4 : 0);
      if (bytes > left - at) return false;
      at += static_cast<std::size_t>(bytes);
    }
  }
  length = at;
  return true;
}

} // namespace

bool VADDependencyTable::Read(TStream& stream) {
  Clear();
  uint8_t version[2];
  if (stream.ReadBytes(version, 2) != 2 || Vak::GetLE16(version) != kBlockVersion) return false;
  const uint32_t count = stream.ReadInt();
  if (stream.GetError() != 0) return false;
  // The entries are checked where the stream holds them, else in a copy of
  // the rest of the stream.
  const uint32_t start = stream.Tell();
  uint32_t left = 0;
  const uint8_t* bytes = stream.InPlace(left);
  std::vector<uint8_t> rest;
  if (!bytes) {
    const uint32_t size = stream.GetSize();
    rest.resize(size > start ? size - start : 0);
    left = stream.ReadBuffered(static_cast<uint32_t>(rest.size()), rest.data());
    bytes = rest.data();
  }
  std::size_t length = 0;
  if (!EntriesLength(bytes, left, count, length)) return false;
  stored_.assign(bytes, bytes + length);
  stream.SeekBuffered(start + length, TStream::kBegin);
  storedCount_ = count;
  storedPending_.store(count > 0, std::memory_order_release);
  return true;
}

void VADDependencyTable::Unpack() const {
  if (!storedPending_.load(std::memory_order_acquire)) return;
  auto& self = const_cast<VADDependencyTable&>(*this);
  std::lock_guard<std::mutex> guard(self.unpackMutex_);
  if (!storedPending_.load(std::memory_order_relaxed)) return;
  TView stream(stored_.data(), static_cast<uint32_t>(stored_.size()));
  // Every entry goes into the index: grown once, not rehashed on the way.
  self.index_.reserve(self.index_.size() + storedCount_);
  // The bytes were checked when read.
  for (uint32_t i = 0; i < storedCount_; ++i) self.ReadEntry(stream);
  self.DropStored();
  self.storedPending_.store(false, std::memory_order_release);
}

void VADDependencyTable::DropStored() {
  std::vector<uint8_t>().swap(stored_);
  storedCount_ = 0;
}

void VADDependencyTable::Clear() {
  storedPending_.store(false);
  DropStored();
  index_.clear();
  table_.DeleteAllNodes();
}

void VADDependencyTable::Destroy() {
  Clear();
  table_.FreeBuckets();
}
