#include "assetdb/VADAssetInfo.h"

#include <functional>
#include <new>
#include <mutex>
#include <string>

#include "Vak/Bexlorn/CodePage.h"
#include "Vak/Bexlorn/Exception.h"
#include "Vak/Bexlorn/Numeric.h"
#include "Vak/Bexlorn/Time.h"
#include "assetdb/AssetArchiveCache.h"
#include "assetdb/CategoryList.h"
#include "assetdb/VADAssetIndex.h"
#include "assetdb/VADDependencyTable.h"
#include "content/AppGlobals.h"
#include "content/FileHelpers.h"

namespace {

using Path = Vak::File::Path;

bool IsSep(char c) { return c == '/' || c == '\\'; }

// Stored folders may use '\'.
Path FolderInRoot(const Vak::String& relative) {
  if (relative.Size() == 0) return Path();
  Path path = InDatabaseRoot(relative);
  path.ReplaceBackSlashes();
  return path;
}

// The path relative to the database root, back-slashed as the index file
// holds it, without a trailing separator. False outside the root.
bool RelativeToRoot(const char* text, Vak::String& out) {
  if (!text || !*text) return false;
  Path path;
  if (!path.Set(text)) return false;
  if (IsAbsolutePath(path)) {
    const Path root = GetDatabaseRootPath();
    if (root.Length() == 0 || !path.MakeRelativeTo(root)) return false;
  }
  // Nothing above the root either.
  Path check(path);
  check.Normalize();
  if (check.Length() >= 2 && check[0] == '.' && check[1] == '.') return false;
  path.ReplaceForwardSlashes();
  path.DelSlash();
  const char* start = path;
  while (IsSep(*start)) ++start;
  if (!*start) return false;
  out = start;
  return true;
}

int64_t Now() { return static_cast<int64_t>(Vak::Time::TimeStamp()); }

// Every file below the folder (through the substitute when one is named),
// recursively; stops when `visit` answers false. False when the search
// cannot start.
bool WalkFiles(const Vak::PString& substitute, const char* folder,
               const std::function<bool(const Vak::File::Find&)>& visit) {
  Path pattern;
  if (!pattern.Set(folder) || !pattern.AddSlash() || !pattern.Add("*")) return false;
  pattern.ReplaceForwardSlashes();
  Vak::File::Find find;
  try {
    if (!(substitute.Length() > 0 ? find.Open(pattern, substitute) : find.Open(pattern))) return false;
  } catch (const Vak::FileEx&) {
    return false;
  }
  do {
    if (IsDotName(find.name)) continue;
    if (find.attributes & Vak::File::Entry::kFolder) {
      const Path sub = find.GetNameAndPath();
      WalkFiles(substitute, sub, visit);
    } else if (!visit(find)) {
      return true;
    }
  } while (find.Next());
  return true;
}

int32_t SumSizes(const Vak::PString& substitute, const char* folder) {
  uint64_t total = 0;
  WalkFiles(substitute, folder, [&](const Vak::File::Find& find) {
    total += find.size;
    return true;
  });
  return static_cast<int32_t>(total);
}

// Both empty, equal, or one side empty.
bool Compatible(const Vak::String& a, const Vak::String& b) {
  return a.Size() == 0 || b.Size() == 0 || VADSamePath(a, b);
}

} // namespace

bool VADFolderHasScripts(const Vak::PString& archive, const char* folder) {
  AssetArchiveHold hold(archive);
  bool found = false;
  WalkFiles(archive, folder, [&](const Vak::File::Find& find) {
    found = IsExtension(find.name, "gs") || IsExtension(find.name, "gse");
    return !found;
  });
  return found;
}

bool VADSamePath(const char* a, const char* b) {
  for (;; ++a, ++b) {
    const char x = *a, y = *b;
    if (IsSep(x) && IsSep(y)) continue;
    if (Vak::CodePage::AsciiLower(x) != Vak::CodePage::AsciiLower(y)) return false;
    if (!x) return true;
  }
}

Vak::File::Path VADAssetInfo::GetLocalFolder() const { return FolderInRoot(localPath); }

Vak::File::Path VADAssetInfo::GetEditingFolder() const { return FolderInRoot(editingPath); }

bool VADAssetInfo::GetArchiveLocation(Vak::PString& archive, Vak::String& path) const {
  if (!HasArchiveLocation()) {
    archive = Vak::PString();
    path = Vak::String();
    return false;
  }
  archive = archiveName;
  path = archivePath;
  return true;
}

bool VADStoredFolder(const char* path, Vak::String& stored) { return RelativeToRoot(path, stored); }

bool VADAssetInfo::SetLocalFolder(const char* path) {
  Vak::String relative;
  if (!RelativeToRoot(path, relative)) return false;
  localPath = relative;
  contentHash = 0;
  return true;
}

bool VADAssetInfo::SetEditingFolder(const char* path) {
  Vak::String relative;
  if (!RelativeToRoot(path, relative)) return false;
  editingPath = relative;
  if (lastInstalled == 0) lastInstalled = Now();
  if (firstInstalled == 0) firstInstalled = Now();
  return true;
}

void VADAssetInfo::ClearLocalFolder() {
  localPath = Vak::String();
  contentHash = 0;
}

void VADAssetInfo::ClearEditingFolder() { editingPath = Vak::String(); }

void VADAssetInfo::ClearArchiveLocation() {
  archiveName = Vak::PString();
  archivePath = Vak::String();
  if (!HasLocalFolder()) contentHash = 0;
  UpdateStateFlags(kBuiltIn, 0);
  UpdateFlags(kArchiveHeld, 0);
}

void VADAssetInfo::FixLegacyLocalPath() {
  if (HasArchiveLocation() || localPath.Size() < 7) return;
  archivePath = Vak::String(static_cast<const char*>(localPath) + 6);
  archiveName = Vak::PString("local");
  localPath = Vak::String();
}

int32_t VADAssetInfo::ComputeSize() const {
  if (HasLocalFolder()) return SumSizes(Vak::PString(), GetLocalFolder());
  if (IsBuiltIn()) return 0;
  if (!HasArchiveLocation()) return -1;
  AssetArchiveHold hold(archiveName);
  return SumSizes(archiveName, archivePath);
}

uint32_t VADAssetInfo::ComputeContentHash() const {
  if (HasLocalFolder()) return FolderChangeHash(Vak::PString(), GetLocalFolder());
  if (!HasArchiveLocation()) return 1;
  AssetArchiveHold hold(archiveName);
  return FolderChangeHash(archiveName, archivePath);
}

bool VADAssetInfo::IsObsolete() {
  const uint32_t generation = gVadAssetIndex.ObsoleteGeneration();
  if (Ref(obsoleteStamp).load(std::memory_order_acquire) == generation) return StateFlags() & kObsolete;
  const bool obsolete = gVadAssetIndex.TableA().Resolve(kuid) != kuid;
  UpdateStateFlags(kObsolete, obsolete ? kObsolete : 0);
  // The stamp last: whoever sees it sees the bit.
  Ref(obsoleteStamp).store(generation, std::memory_order_release);
  return obsolete;
}

bool VADAssetInfo::IsUpToDate() const {
  const KUID target = gVadAssetIndex.TableB().Lookup(kuid);
  return target.IsNull() || target == kuid;
}

bool VADAssetInfo::CacheDependencyAnswer(uint8_t answerBit, uint8_t knownBit, bool faulty) {
  const uint8_t state = StateFlags();
  if (state & knownBit) return state & answerBit;
  if (!HasAnyLocation()) return false;
  KUIDList dependencies;
  VADDependencyTable::Instance().GetDependencies(kuid, dependencies);
  bool hit = false;
  for (const KUID& dependency : dependencies) {
    if (faulty ? VADIsDependencyFaulty(dependency) : VADIsDependencyMissing(dependency)) {
      hit = true;
      break;
    }
  }
  UpdateStateFlags(answerBit, static_cast<uint8_t>(knownBit | (hit ? answerBit : 0)));
  gVadAssetIndex.MarkDirty(VADAssetIndex::kDirtyDependencyAnswers);
  return hit;
}

bool VADAssetInfo::HasMissingDependencies() { return CacheDependencyAnswer(kMissingAnswer, kMissingKnown, false); }

bool VADAssetInfo::HasFaultyDependencies() {
  return CacheDependencyAnswer(kFaultyDepsAnswer, kFaultyDepsKnown, true);
}

void VADAssetInfo::BuildKeywords() {
  // Built in one reused block, then copied once.
  thread_local std::string list;
  list.clear();
  CategoryList::AppendWords(list, DisplayName());
  CategoryList::AppendWords(list, keywords);
  static constexpr struct {
    const char* code;
    const char* word;
  } kClassWords[] = {{"ACTV", "interactive"}, {"LOCO", "locomotive"}, {"TEND", "tender"}, {"ROLL", "rollingstock"}};
  for (const auto& entry : kClassWords)
    if (CategoryList::HasCode(categoryClasses, entry.code)) CategoryList::AppendWords(list, entry.word);
  keywordList = list.empty() ? Vak::String() : Vak::String(list.data(), static_cast<unsigned>(list.size()));
  Ref(keywordsDue).store(0, std::memory_order_release);
}

const Vak::String& VADAssetInfo::KeywordList() const {
  if (Ref(keywordsDue).load(std::memory_order_acquire)) {
    // Searches under a shared index lock may meet the same record.
    static std::mutex building;
    std::lock_guard<std::mutex> guard(building);
    if (Ref(keywordsDue).load(std::memory_order_relaxed)) const_cast<VADAssetInfo*>(this)->BuildKeywords();
  }
  return keywordList;
}

bool VADAssetInfo::Merge(const VADAssetInfo& other) {
  if (kuid != other.kuid) return false;
  if (!Compatible(editingPath, other.editingPath) || !Compatible(localPath, other.localPath)) return false;
  const bool archiveCompatible =
      !HasArchiveLocation() || !other.HasArchiveLocation() ||
      (archiveName.EqualsIgnoreCase(other.archiveName) && VADSamePath(archivePath, other.archivePath));
  if (!archiveCompatible) return false;
  if (editingPath.Size() == 0) editingPath = other.editingPath;
  if (localPath.Size() == 0) localPath = other.localPath;
  if (!HasArchiveLocation() && other.HasArchiveLocation()) {
    archiveName = other.archiveName;
    archivePath = other.archivePath;
  }
  UpdateFlags(kInArchiveKnown, other.Flags() & (kDownloadStation | kArchiveHeld));
  UpdateStateFlags(0, other.StateFlags() & kBuiltIn);
  return true;
}

struct VADAssetInfo::Block {
  uint32_t live;  // records not yet freed; they are freed under the exclusive lock
};

namespace {
constexpr std::size_t kRecordsAt = (sizeof(uint32_t) + alignof(VADAssetInfo) - 1) & ~(alignof(VADAssetInfo) - 1);
}

VADAssetInfo* VADAssetInfo::MakeBlock(uint32_t count) {
  if (count == 0) return nullptr;
  void* memory = ::operator new(kRecordsAt + std::size_t{count} * sizeof(VADAssetInfo));
  auto* block = new (memory) Block{count};
  auto* records = reinterpret_cast<VADAssetInfo*>(static_cast<char*>(memory) + kRecordsAt);
  for (uint32_t i = 0; i < count; ++i) new (&records[i]) VADAssetInfo;
  for (uint32_t i = 0; i < count; ++i) records[i].storage_.block = block;
  return records;
}

void VADAssetInfo::Free(VADAssetInfo* record) {
  if (!record) return;
  Block* block = record->storage_.block;
  if (!block) {
    delete record;
    return;
  }
  record->~VADAssetInfo();
  if (--block->live == 0) ::operator delete(block);
}

int BuildHundredths(float build, float bias) {
  return Vak::TruncateToInt((build + bias) * 100.0f);
}
