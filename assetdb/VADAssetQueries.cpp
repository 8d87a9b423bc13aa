#include "assetdb/VADAssetQueries.h"

#include "assetdb/CategoryList.h"
#include "assetdb/GWSpecRegistry.h"
#include "assetdb/PersistentRecordList.h"
#include "assetdb/VADAssetIndex.h"
#include "assetdb/VADLock.h"
#include "assetdb/VADRecordConfig.h"
#include "assetdb/VADServices.h"

using Vak::PString;

VADAssetStatus& VADAssetStatus::operator=(const VADAssetStatus& other) {
  if (this == &other) return *this;
  name = other.name;
  text1 = other.text1;
  state = other.state;
  detail = other.detail;
  commitAllowed = other.commitAllowed;
  listingAllowed = other.listingAllowed;
  userId = other.userId;
  text2 = other.text2;
  number = other.number;
  classText = other.classText;
  text0 = other.text0;
  stateLow = other.stateLow;
  stateByte = other.stateByte;
  build = other.build;
  installTime = other.installTime;
  modifiedTime = other.modifiedTime;
  valid = other.valid;
  return *this;
}

bool VADIsRecordArchived(VADAssetInfo& record) {
  const uint8_t flags = record.Flags();
  if (flags & VADAssetInfo::kInArchiveKnown) return flags & VADAssetInfo::kInArchiveAnswer;
  const bool archived = PersistentRecordList::Global().Contains(record.kuid);
  record.UpdateFlags(VADAssetInfo::kInArchiveAnswer,
                     VADAssetInfo::kInArchiveKnown | (archived ? VADAssetInfo::kInArchiveAnswer : 0));
  return archived;
}

namespace {

// Runs `answer` on the record of the KUID under a shared lock; `none` when
// there is no record.
template <typename T, typename F>
T WithRecord(const KUID& kuid, T none, F answer) {
  VADLock lock;
  lock.Acquire(false);
  VADAssetInfo* record = gVadAssetIndex.Find(kuid);
  return record ? answer(*record) : none;
}

} // namespace

bool VADGetAssetStatus(const KUID& kuid, VADAssetStatus& status, uint32_t mask) {
  return WithRecord(kuid, false, [&](VADAssetInfo& record) {
    const bool installed = record.IsInstalled();
    if (mask & VADAssetStatus::kName) status.name = record.DisplayName();
    if (mask & VADAssetStatus::kTexts) status.text1 = record.name;

    uint8_t state = 0;
    if ((mask & VADAssetStatus::kTests) && record.IsUpToDate()) state |= VADAssetStatus::kUpToDate;
    if (record.HasLocalFolder()) state |= VADAssetStatus::kLocal;
    if (record.HasAnyLocation()) state |= VADAssetStatus::kInstalled;
    if (record.IsBuiltIn()) state |= VADAssetStatus::kBuiltIn;
    if (record.Flags() & VADAssetInfo::kArchiveHeld) state |= VADAssetStatus::kStationItem;
    if (record.Flags() & VADAssetInfo::kDownloadStation) state |= VADAssetStatus::kOnStation;
    if ((mask & VADAssetStatus::kArchived) && VADIsRecordArchived(record)) state |= VADAssetStatus::kInArchive;
    status.state = state;

    uint8_t detail = 0;
    if (record.HasEditingFolder()) detail |= VADAssetStatus::kOpenForEdit;
    if (mask & VADAssetStatus::kTests) {
      if (installed && (record.StateFlags() & VADAssetInfo::kFaulty)) detail |= VADAssetStatus::kHasErrors;
      if (installed && (record.StateFlags() & VADAssetInfo::kWarnings)) detail |= VADAssetStatus::kHasWarnings;
      if (record.HasMissingDependencies()) detail |= VADAssetStatus::kMissingDependencies;
      if (record.HasFaultyDependencies()) detail |= VADAssetStatus::kFaultyDependencies;
    }
    if (record.permissions & VADAssetInfo::kHasDependencies) detail |= VADAssetStatus::kHasDependencies;
    if (record.permissions & VADAssetInfo::kHasDependants) detail |= VADAssetStatus::kHasDependants;
    if (record.permissions & VADAssetInfo::kPermitEdit) detail |= VADAssetStatus::kEditAllowed;
    status.detail = detail;

    status.commitAllowed = (record.permissions & VADAssetInfo::kPermitCommit) ? 1 : 0;
    status.listingAllowed = (record.permissions & VADAssetInfo::kPermitListing) ? 1 : 0;
    status.userId = record.kuid.user;
    if (mask & VADAssetStatus::kTexts) status.text2 = record.regionList;
    status.number = record.sizeOnDisk;
    if (mask & VADAssetStatus::kClassText) status.classText = CategoryList::KindForCodes(record.categoryClasses);
    if (mask & VADAssetStatus::kTexts) status.text0 = record.categoryClasses;
    status.stateLow = record.Flags() & 0x0F;
    status.stateByte = record.localRating;
    status.build = record.build;
    status.installTime = record.firstInstalled;
    status.modifiedTime = record.lastInstalled;
    status.valid = true;
    return true;
  });
}

ACSChunkPtr VADGetAssetConfig(const KUID& kuid) {
  VADLock lock;
  lock.Acquire(false);
  if (const GlimmerwerkSpec* spec = GWSpecRegistry::Find(kuid)) {
    ACSChunkPtr tree = GWSpecRegistry::GetChunkHandle(spec);
    if (!tree.IsNull()) return tree;
  }
  const VADAssetInfo* record = gVadAssetIndex.Find(kuid);
  return record ? GetRecordConfig(*record) : ACSChunkPtr();
}

Vak::String VADGetAssetName(const KUID& kuid) {
  return WithRecord(kuid, Vak::String(), [](VADAssetInfo& record) { return record.DisplayName(); });
}

Vak::String VADGetAssetEraList(const KUID& kuid) {
  return WithRecord(kuid, Vak::String(), [](VADAssetInfo& record) { return record.eraList; });
}

Vak::String VADGetAssetRegionList(const KUID& kuid) {
  return WithRecord(kuid, Vak::String(), [](VADAssetInfo& record) { return record.regionList; });
}

Vak::String VADGetAssetDescription(const KUID& kuid) {
  return WithRecord(kuid, Vak::String(), [&](VADAssetInfo& record) {
    if (record.description.Size() > 0) return record.description;
    const ACSChunkPtr config = GetRecordConfig(record);
    Vak::String text(config.GetChildString(PString("description")).c_str());
    if (text.Size() > 0 || record.HasAnyLocation()) return text;
    VADNetworkService* network = GetVADServices().network;
    return network ? network->RequestDescription(kuid) : text;
  });
}

bool VADAssetHasErrors(const KUID& kuid) {
  return WithRecord(kuid, false, [](VADAssetInfo& record) { return record.HasErrors(); });
}

bool VADHasFaultyDependencies(const KUID& kuid) {
  return WithRecord(kuid, false,
                    [](VADAssetInfo& record) { return record.HasErrors() || record.HasFaultyDependencies(); });
}

bool VADHasMissingDependencies(const KUID& kuid, int uninstalledAnswer) {
  return WithRecord(kuid, uninstalledAnswer != 0, [&](VADAssetInfo& record) {
    if (!record.HasAnyLocation() && uninstalledAnswer != 0) return true;
    return record.HasMissingDependencies();
  });
}

bool VADGetObsoletedKuids(const KUID& kuid, KUIDList& list) {
  return WithRecord(kuid, false, [&](VADAssetInfo& record) {
    gVadAssetIndex.TableB().ReverseLookup(record.kuid, list);
    return true;
  });
}

bool VADGetDependencies(const KUID& kuid, KUIDList& list) {
  return WithRecord(kuid, false, [&](VADAssetInfo& record) {
    VADDependencyTable::Instance().GetDependencies(record.kuid, list);
    return true;
  });
}

bool VADGetAuthorName(int32_t authorId, PString& name) {
  VADNetworkService* network = GetVADServices().network;
  name = network ? network->GetUserName(authorId) : PString();
  return !name.IsNull() && name.Length() > 0;
}

Vak::AnsiString VADStatusLetters(const KUID& kuid) {
  VADAssetStatus status;
  VADGetAssetStatus(kuid, status, 0xFF);
  return VADStatusLetters(status, VADHasMissingDependencies(kuid, 0), VADAssetHasErrors(kuid));
}

Vak::AnsiString VADStatusLetters(const VADAssetStatus& status, bool missingDependencies, bool hasErrors) {
  const bool letters[7] = {
      (status.detail & VADAssetStatus::kOpenForEdit) != 0,
      (status.state & VADAssetStatus::kInstalled) != 0,
      (status.state & VADAssetStatus::kInArchive) != 0,
      (status.state & VADAssetStatus::kOnStation) != 0,
      (status.state & VADAssetStatus::kLocal) != 0,
      missingDependencies,
      hasErrors,
  };
  const char names[] = "EIADLME";
  Vak::AnsiString text;
  for (int i = 0; i < 7; ++i) {
    const char c = letters[i] ? names[i] : static_cast<char>(names[i] - 'A' + 'a');
    text.Addf("%c", c);
  }
  return text;
}
