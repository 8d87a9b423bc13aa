#include "cdp/ContentPackage.h"

#include <cstdio>
#include <functional>
#include <string>
#include <unordered_set>
#include <vector>

#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/ByteOrder.h"
#include "cdp/PackageKeys.h"
#include "content/ACSFile.h"
#include "content/DynamicBuffer.h"
#include "content/FileHelpers.h"
#include "content/KUIDList.h"
#include "content/TStream.h"
#include "content/TextChunkFile.h"

using namespace CDPKeys;

namespace {

constexpr const char* kNotPackage = "Content could not be read, as the file is not a valid CDP";
constexpr const char* kDamaged = "Content could not be read, as the CDP file is damaged";
constexpr const char* kNewerVersion = "This content requires a newer Velmar version";
constexpr const char* kWriteFailed = "Unable to write archive file. Needs to be .cdp file extension";
constexpr const char* kNoKUID = "Unable to add content as it doesnt not contain a valid KUID";
constexpr const char* kAlreadyPresent = "Unable to add content as an item with KUID %s is already present";

constexpr int32_t kPackageVersion = 1;
// The interior an engine traincar without one of its own is given.
constexpr KUID kDefaultInterior(-10, 172, KUID::kMaxVersion);

bool Contains(const KUIDList& list, const KUID& kuid) {
  for (auto it = list.Begin(); !it.IsEnd(); it.Next())
    if (*it == kuid) return true;
  return false;
}

using KUIDSet = std::unordered_set<KUID, KUIDHash>;

// Appends each KUID of `from` that `seen` does not hold yet.
void AppendNew(const KUIDList& from, KUIDSet& seen, KUIDList& to) {
  for (auto it = from.Begin(); !it.IsEnd(); it.Next())
    if (!it->IsNull() && seen.insert(*it).second) to.Append(*it);
}

// The tags whose KUID an asset always depends on, in the order they are
// added.
const Vak::PString* const* DependencyTags() {
  static const Vak::PString* const tags[] = {
      &Alias(),   &BridgeTrack(), &Bogey(),    &PreviewMeshKuid(), &MapKuid(),     &ProductCategory(),
      &Bogey1(),  &Bogey1R(),     &Interior(), &EngineSpec(),      &EngineSound(), nullptr,
  };
  return tags;
}


} // namespace

// ---- signature ----

BlockChecksum ComputeBlockChecksum(const uint8_t* bytes, uint32_t length) {
  if (length <= 4 || !bytes) return {};
  const uint32_t aligned = length & ~3u;
  uint32_t sum = 0;
  for (uint32_t i = 0; i < aligned; i += 4) {
    sum += Vak::GetLE32(bytes + i);
    // By 30, not 31: the top bit drops out and bit 30 comes round to bit 0.
    sum = (sum << 1) | (sum >> 30);
  }
  return {sum == 0 ? 1u : sum, aligned};
}

BlockChecksum CombineChecksums(const BlockChecksum& a, const BlockChecksum& b) {
  const uint32_t sum = a.sum + b.sum;
  return {sum == 0 ? 1u : sum, a.length + b.length};
}

BlockChecksum ComputeFilesChecksum(const ACSChunkPtr& files) {
  BlockChecksum total;
  const int count = files.GetChildCount();
  for (int i = 0; i < count; ++i) {
    ACSChunkPtr child = files->FindChild(files.GetChildName(i));
    const int type = child->GetType();
    if (type == kACSContainer) {
      total = CombineChecksums(total, ComputeFilesChecksum(child));
    } else if (type != kACSEmpty) {
      total = CombineChecksums(total, ComputeBlockChecksum(child->GetData(), child->GetDataSize()));
    }
  }
  return total;
}

Vak::AnsiString FormatChecksum(const BlockChecksum& checksum) {
  Vak::AnsiString text;
  text.Setf("%d:%d", static_cast<int32_t>(checksum.sum), static_cast<int32_t>(checksum.length));
  return text;
}

// ---- items ----

ContentPackageItem::ContentPackageItem() {
  MakeContainer();
  SetChildString(Compression(), LZSS().c_str());
}

ContentPackageItem::ContentPackageItem(const ACSChunkPtr& tree) : ACSChunkPtr(tree) { MakeContainer(); }

ACSChunkPtr ContentPackageItem::GetFiles() const { return GetChildContainer(Files()); }

void ContentPackageItem::SetFiles(const ACSChunkPtr& files) {
  SetChild(Files(), files);
  changed_ = true;
}

Vak::PString ContentPackageItem::GetCompression() const { return GetChildString(Compression()); }

void ContentPackageItem::Assign(const ACSChunkPtr& tree) {
  const Vak::PString compression = GetCompression();
  if (tree.Get() != Get()) {
    // Copied into this very node, so a package holding the item sees it.
    if (!tree.IsNull()) {
      ACSChunk::CopyFrom(Get(), tree.Get());
    } else {
      while (GetChildCount() > 0) RemoveChild(GetChildName(0));
    }
  }
  SetChildString(Compression(), compression.c_str());
  changed_ = true;
}

bool ContentPackageItem::VerifyDSID() const {
  const Vak::PString stored = GetChildString(Dsid());
  const Vak::AnsiString now = FormatChecksum(ComputeFilesChecksum(GetFiles()));
  return std::string(stored.c_str()) == static_cast<const char*>(now);
}

void ContentPackageItem::UpdateDSID() {
  SetChildString(Dsid(), FormatChecksum(ComputeFilesChecksum(GetFiles())));
  changed_ = true;
}

// ---- package ----

bool ContentPackage::Read(Vak::String& error, const char* folder, const char* name) {
  error = "";
  std::string path = folder ? folder : "";
  if (!path.empty() && path.back() != '/' && path.back() != '\\') path += '/';
  path += name ? name : "";
  root_.Release();
  tablesStale_ = false;
  // A file that is missing or unreadable leaves an empty tree, which fails
  // the first check.
  root_.Load(nullptr, path.c_str());
  const char* failure = nullptr;
  if (!root_.GetChildString(Kind()).EqualsIgnoreCase(Archive())) {
    failure = kNotPackage;
  } else if (root_.GetChildContainer(ContentsTable()).GetChildCount() !=
             root_.GetChildContainer(Assets()).GetChildCount()) {
    failure = kDamaged;
  } else if (root_.GetChildInt(PackageVersion(), 0) != kPackageVersion) {
    failure = kNewerVersion;
  }
  if (!failure) return true;
  Clear();
  error = failure;
  return false;
}

bool ContentPackage::Write(Vak::String& error, const char* path) {
  error = "";
  const bool text = path && IsExtension(path, "txt");
  const bool binary = path && (IsExtension(path, "cdp") || IsExtension(path, "cdp2") || IsExtension(path, "chump"));
  if (!text && !binary) {
    error = kWriteFailed;
    return false;
  }
  // A package nothing was added to still carries what a reader checks.
  if (tablesStale_ || !HasTables()) RebuildTables();
  bool written;
  if (text) {
    DynamicBuffer buffer;
    {
      TBuffer stream(&buffer);
      WriteChunkFileText(root_, stream);
    }
    written = WriteWholeFile(path, buffer.Data(), buffer.Size());
  } else {
    const std::vector<uint8_t> bytes = ChunkFileBinaryBytes(root_.Get());
    written = WriteWholeFile(path, bytes.data(), bytes.size());
  }
  if (!written) {
    error = kWriteFailed;
    return false;
  }
  return true;
}

int ContentPackage::GetAssetCount() const { return root_.GetChildContainer(Assets()).GetChildCount(); }

ContentPackageItem ContentPackage::GetAsset(int index) const {
  return ContentPackageItem(root_.GetChildContainer(Assets()).GetChildContainerAt(index));
}

int ContentPackage::FindAsset(const KUID& kuid) const {
  const ACSChunkPtr assets = root_.GetChildContainer(Assets());
  const int count = assets.GetChildCount();
  for (int i = 0; i < count; ++i) {
    // Adding scans every asset, so a "kuid" stored as one is read in place;
    // any other form goes through the conversion.
    const ACSChunkPtr asset = assets->FindChild(assets.GetChildName(i));
    const ACSChunkPtr value = asset->GetType() == kACSContainer ? asset->FindChild(Kuid()) : ACSChunkPtr();
    KUID own;
    if (value.Get() && value->GetType() == kACSKUID && value->GetDataSize() == 8) {
      const uint8_t* bytes = value->GetData();
      own = KUID::Unpack(Vak::GetLE32(bytes), Vak::GetLE32(bytes + 4));
    } else {
      own = assets.GetChildContainerAt(i).GetChildKUID(Kuid(), KUID::Null());
    }
    if (own == kuid) return i;
  }
  return -1;
}

ACSChunkPtr ContentPackage::GetChild(const Vak::PString& tag) const {
  if (!root_.Get() || root_.GetChildType(tag) == kACSContainer) return ACSChunkPtr();
  ACSChunkPtr child = root_->FindChild(tag);
  return child.IsNull() ? ACSChunkPtr() : child;
}

bool ContentPackage::AddAsset(Vak::String& error, const ContentPackageItem& item) {
  error = "";
  const KUID kuid = item.GetChildKUID(Kuid(), KUID::Null());
  if (kuid.IsNull()) {
    error = kNoKUID;
    return false;
  }
  if (FindAsset(kuid) >= 0) {
    Vak::AnsiString text;
    text.Setf(kAlreadyPresent, kuid.ToConfigText().c_str());
    error = text;
    return false;
  }
  ACSChunkPtr assets = root_.GetChildContainer(Assets());
  assets.MakeContainer();
  assets.SetChild(kuid.ToConfigText(), item);
  root_.SetChild(Assets(), assets);
  // Rebuilt from every asset when next looked at or written: adding many
  // assets one by one then costs one rebuild, not one per asset.
  tablesStale_ = true;
  return true;
}

const ACSChunkPtr& ContentPackage::Root() {
  if (tablesStale_) RebuildTables();
  return root_;
}

bool ContentPackage::HasTables() const {
  return root_.GetChildType(ContentsTable()) == kACSContainer && root_.GetChildType(KuidTable()) == kACSContainer &&
         root_.GetChildType(ObsoleteTable()) == kACSContainer && root_.HasChild(Kind()) &&
         root_.HasChild(PackageVersion());
}

void ContentPackage::RebuildTables() {
  KUIDList contents;
  KUIDList dependencies;
  KUIDList obsoleted;
  KUIDSet inContents;
  KUIDSet inDependencies;
  KUIDSet inObsoleted;
  const ACSChunkPtr assets = root_.GetChildContainer(Assets());
  const int count = assets.GetChildCount();
  for (int i = 0; i < count; ++i) {
    const ACSChunkPtr asset = assets.GetChildContainerAt(i);
    const KUID kuid = asset.GetChildKUID(Kuid(), KUID::Null());
    contents.Append(kuid);
    inContents.insert(kuid);
    // Each asset's lists are short; the package's are merged through sets,
    // so a rebuild costs in proportion to the package, not its square.
    KUIDList own;
    CollectAssetDependencies(kuid, asset, own);
    AppendNew(own, inDependencies, dependencies);
    own = KUIDList();
    CollectObsoletedKUIDs(kuid, asset, own);
    AppendNew(own, inObsoleted, obsoleted);
  }
  // What the package carries itself is no outside dependency.
  KUIDList outside;
  for (auto it = dependencies.Begin(); !it.IsEnd(); it.Next())
    if (!inContents.count(*it)) outside.Append(*it);
  root_.SetChild(ContentsTable(), MakeKUIDListContainer(contents));
  root_.SetChild(KuidTable(), MakeKUIDListContainer(outside));
  root_.SetChild(ObsoleteTable(), MakeKUIDListContainer(obsoleted));
  root_.SetChildString(Kind(), Archive().c_str());
  root_.SetChildInt(PackageVersion(), kPackageVersion);
  tablesStale_ = false;
}

// ---- dependencies and summaries ----

void CollectAssetDependencies(const KUID& kuid, const ACSChunkPtr& config, KUIDList& out) {
  KUIDList referenced;
  CollectTreeKUIDs(config, referenced);
  CollectChildKUIDs(config.GetChildContainer(KuidTable()), referenced);
  KUIDList excluded;
  CollectChildKUIDs(config.GetChildContainer(ObsoleteTable()), excluded);
  AddKUIDUnique(kuid, excluded);
  for (const Vak::PString* const* tag = DependencyTags(); *tag; ++tag)
    AddKUIDUnique(config.GetChildKUID(**tag, KUID::Null()), referenced);
  if (config.GetChildString(Kind()).EqualsIgnoreCase("traincar") && config.GetChildInt(Engine(), -1) == 1 &&
      config.GetChildKUID(Interior(), KUID::Null()).IsNull()) {
    AddKUIDUnique(kDefaultInterior, referenced);
  }
  for (auto it = referenced.Begin(); !it.IsEnd(); it.Next())
    if (!Contains(excluded, *it)) AddKUIDUnique(*it, out);
}

void CollectObsoletedKUIDs(const KUID& kuid, const ACSChunkPtr& config, KUIDList& out) {
  KUIDList obsoleted;
  CollectChildKUIDs(config.GetChildContainer(ObsoleteTable()), obsoleted);
  AddKUIDUnique(config.GetChildKUID(ObsoletesKuid(), KUID::Null()), obsoleted);
  for (auto it = obsoleted.Begin(); !it.IsEnd(); it.Next())
    if (*it != kuid) AddKUIDUnique(*it, out);
}

ACSChunkPtr MakePackageAssetSummary(ContentPackageItem& item) {
  ACSChunkPtr summary;
  summary.DeepCopy(item);
  summary.RemoveChild(Files());
  summary.RemoveChild(Dsid());
  summary.RemoveChild(Compression());
  summary.RemoveChild(FolderIcon());
  const Vak::PString kind = summary.GetChildString(Kind());
  Vak::PString lower = kind;
  lower.ToLower();
  if (!(lower == kind)) {
    // In place, so the summary keeps the order of the config.
    ACSChunkPtr child = summary->FindChild(Kind());
    if (child->GetType() == kACSText) {
      child->SetValue(kACSText, ACSRawDataCore::CreateCopy(lower.Length() + 1, lower.c_str()));
    } else {
      summary.SetChildString(Kind(), lower.c_str());
    }
    item.SetChanged(true);
  }
  if (summary.HasChild(Cache())) {
    summary.RemoveChild(Cache());
    item.SetChanged(true);
  }
  ACSChunkPtr table = summary.GetChildContainer(KuidTable());
  const int count = table.GetChildCount();
  std::vector<ACSChunkPtr> entries;
  for (int i = 0; i < count; ++i) entries.push_back(table->FindChild(table.GetChildName(i)));
  for (const ACSChunkPtr& entry : entries) table->RemoveChild(entry);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "%d", static_cast<int>(i));
    table->SetChild(Vak::PString(name), entries[i]);
  }
  return summary;
}
