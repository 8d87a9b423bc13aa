#include "assetdb/VADFilters.h"

#include <string>
#include <unordered_set>

#include "assetdb/CategoryList.h"
#include "assetdb/VADAssetIndex.h"
#include "assetdb/VADAssetInfo.h"
#include "assetdb/VADAssetQueries.h"
#include "assetdb/VADLock.h"
#include "content/TextHelpers.h"

namespace {

const char* const kBoolKeyWords[] = {
    "local",
    "download-station",
    "location-unknown",
    "locally-available",
    "up-to-date",
    "obsolete",
    "locally-modified",
    "valid-name",
    "open-for-edit",
    "in-archive",
    "locally-enabled",
    "has-missing-dependencies",
    "has-faulty-dependencies",
    "faulty",
    "from-dyeloft",
    "builtin",
    "listing-privilege",
    "favorite",
    "warnings",
};
const char* const kStringKeyWords[] = {"asset-name", "category-list", "era-list", "keyword-list", "region-list"};
constexpr uint32_t kBoolKinds = sizeof(kBoolKeyWords) / sizeof(kBoolKeyWords[0]);
constexpr uint32_t kStringKinds = sizeof(kStringKeyWords) / sizeof(kStringKeyWords[0]);

bool OnDownloadStation(const VADAssetInfo& record) { return (record.Flags() & VADAssetInfo::kDownloadStation) != 0; }

// The name holds the value, letter case aside.
bool NameContains(const char* name, const char* value) {
  unsigned length = 0;
  bool atStart = false;
  MatchLengthIgnoreAsciiCase(name, value, length, atStart);
  return length == std::char_traits<char>::length(value);
}

// A tri-state test of a state kind: 0 it must hold, 1 it must not, 2 either
// (and then the answer, cached or not, is never asked for).
bool Passes(uint8_t state, uint32_t kind, VADAssetInfo& record) {
  return state == VADSearchCriteria::kAny || VADFilterElementBool::Holds(kind, record) == (state == VADSearchCriteria::kMust);
}

bool InstalledWithin(int64_t time, int64_t from, int64_t to) { return (from == 0 || time >= from) && (to == 0 || time <= to); }

// Every record in display-name order that `accept` takes, under one shared
// hold (none while the database is closed, as for every query).
template <typename F>
void CollectRecords(KUIDList& out, F accept) {
  VADLock lock;
  lock.Acquire(false);
  const uint32_t count = gVadAssetIndex.RecordCount();
  for (uint32_t n = 0; n < count; ++n) {
    VADAssetInfo* record = gVadAssetIndex.SortedAt(n);
    if (record != nullptr && accept(*record)) out.Append(record->kuid);
  }
}

} // namespace

bool VADFilterElement::Equals(const VADFilterElement& other) const {
  return KeyWord() == other.KeyWord() && ValueText() == other.ValueText();
}

Vak::PString VADFilterElementBool::KeyWord() const { return kind_ < kBoolKinds ? kBoolKeyWords[kind_] : "unknown"; }

Vak::PString VADFilterElementBool::ValueText() const { return "true"; }

bool VADFilterElementBool::Holds(uint32_t kind, VADAssetInfo& record) {
  switch (kind) {
    case kLocal:
      return record.HasAnyLocation();
    case kDownloadStation:
      return OnDownloadStation(record) && !record.HasAnyLocation();
    case kLocationUnknown:
      return !OnDownloadStation(record) && !record.HasAnyLocation();
    case kLocallyAvailable:
      return record.IsInstalled();
    case kUpToDate:
      return record.IsUpToDate();
    case kObsolete:
      return record.IsObsolete();
    case kLocallyModified:
      return record.HasLocalFolder();
    case kValidName:
      return record.DisplayName().Size() > 0;
    case kOpenForEdit:
      return record.HasEditingFolder();
    case kInArchive:
      return VADIsRecordArchived(record);
    case kLocallyEnabled:
      return (record.Flags() & VADAssetInfo::kLocallyEnabled) != 0;
    case kHasMissingDependencies:
      return record.HasMissingDependencies();
    case kHasFaultyDependencies:
      return record.HasFaultyDependencies();
    case kFaulty:
      return record.HasErrors();
    case kReskin:
      return (record.Flags() & VADAssetInfo::kReskin) != 0;
    case kBuiltIn:
      return record.IsBuiltIn();
    case kListingPrivilege:
      return (record.permissions & VADAssetInfo::kPermitListing) != 0;
    case kFavourite:
      return (record.Flags() & VADAssetInfo::kFavourite) != 0;
    case kWarnings:
      return (record.StateFlags() & VADAssetInfo::kWarnings) && record.IsInstalled();
    default:
      return false;
  }
}

bool VADFilterElementBool::Evaluate(VADAssetInfo& record) const { return Holds(kind_, record); }

VADFilterElementString::VADFilterElementString(uint32_t kind, const char* value) : kind_(kind), value_(value) {
  const unsigned length = value_.Length();
  if (kind == kAssetName && length > 1 && value[0] == '"' && value[length - 1] == '"') {
    value_ = Vak::PString(value + 1, length - 2);
    exact_ = 1;
  }
}

Vak::PString VADFilterElementString::KeyWord() const {
  return kind_ < kStringKinds ? kStringKeyWords[kind_] : "unknown";
}

bool VADFilterElementString::Evaluate(VADAssetInfo& record) const {
  const char* value = value_.IsNull() ? nullptr : value_.c_str();
  switch (kind_) {
    case kAssetName:
      if (value == nullptr) return true;
      // A whole-name match is a contained one of the same length.
      if (exact_ && record.DisplayName().Size() != value_.Length()) return false;
      return NameContains(record.DisplayName(), value);
    case kCategoryList:
      return CategoryList::Match(value, record.categoryClasses);
    case kEraList:
      return CategoryList::Match(value, record.eraList);
    case kRegionList:
      return CategoryList::Match(value, record.regionList);
    case kKeywordList:
      return CategoryList::MatchKeywords(record.KeywordList(), value);
    default:
      return false;
  }
}

VADFilterElementGroup::VADFilterElementGroup(VADFilterElement* firstChild) { Add(firstChild); }

void VADFilterElementGroup::Add(VADFilterElement* child) {
  if (child != nullptr) children_.emplace_back(child);
}

Vak::PString VADFilterElementGroup::KeyWord() const { return "group"; }

Vak::PString VADFilterElementGroup::ValueText() const {
  std::string text = "(";
  for (std::size_t i = 0; i < children_.size(); ++i) {
    if (i > 0) text += ' ';
    text += children_[i]->KeyWord().c_str();
    text += ':';
    text += children_[i]->ValueText().c_str();
  }
  text += ')';
  return text.c_str();
}

bool VADFilterElementGroup::Equals(const VADFilterElement& other) const {
  const auto* group = dynamic_cast<const VADFilterElementGroup*>(&other);
  if (group == nullptr || group->children_.size() != children_.size() || group->negate_ != negate_ ||
      group->allOf_ != allOf_)
    return false;
  for (std::size_t i = 0; i < children_.size(); ++i) {
    if (!children_[i]->Equals(*group->children_[i]) || !group->children_[i]->Equals(*children_[i])) return false;
  }
  return true;
}

bool VADFilterElementGroup::Evaluate(VADAssetInfo& record) const {
  const bool negate = negate_ != 0;
  if (children_.empty()) return !negate;
  // All-of stops at the first failure, any-of at the first success.
  const bool decider = allOf_ == 0;
  for (const auto& child : children_) {
    if (child->Evaluate(record) == decider) return decider != negate;
  }
  return !decider != negate;
}

uint8_t& VADSearchCriteria::State(unsigned n) {
  static constexpr uint8_t VADSearchCriteria::*kStates[kStateCount] = {
      &VADSearchCriteria::hasAnyLocation, &VADSearchCriteria::isInstalled,
      &VADSearchCriteria::hasLocalFolder, &VADSearchCriteria::isOpenForEdit,
      &VADSearchCriteria::inArchive,      &VADSearchCriteria::locallyEnabled,
      &VADSearchCriteria::buildMode,      &VADSearchCriteria::hasName,
      &VADSearchCriteria::upToDate,       &VADSearchCriteria::obsolete,
      &VADSearchCriteria::missingDependencies, &VADSearchCriteria::faultyDependencies,
      &VADSearchCriteria::faulty,         &VADSearchCriteria::reskin,
      &VADSearchCriteria::builtIn,        &VADSearchCriteria::listingPermitted,
  };
  return this->*kStates[(n - 1) % kStateCount];
}

void VADSelectAssets(const VADFilterElement& filter, KUIDList& out) {
  CollectRecords(out, [&](VADAssetInfo& record) { return filter.Evaluate(record); });
}

void VADSearchAssets(const VADSearchCriteria& c, KUIDList& out) {
  std::unordered_set<KUID, KUIDHash> wanted;
  if (c.kuids != nullptr) {
    for (const KUID& kuid : *c.kuids) wanted.insert(kuid);
  }
  const bool byMap = !c.mapKuid.IsNull();
  const KUID mapTarget = byMap ? VADResolveKuid(c.mapKuid) : KUID();
  using B = VADFilterElementBool;
  auto accept = [&](VADAssetInfo& r) {
    if (!Passes(c.hasAnyLocation, B::kLocal, r) || !Passes(c.isInstalled, B::kLocallyAvailable, r)) return false;
    if (c.categories.Size() > 0 && !CategoryList::Match(c.categories, r.categoryClasses)) return false;
    if (!Passes(c.hasLocalFolder, B::kLocallyModified, r) || !Passes(c.isOpenForEdit, B::kOpenForEdit, r) ||
        !Passes(c.inArchive, B::kInArchive, r) || !Passes(c.locallyEnabled, B::kLocallyEnabled, r))
      return false;
    if (c.buildMode == VADSearchCriteria::kBuildAtLeast && !(r.build >= c.build)) return false;
    if (c.buildMode == VADSearchCriteria::kBuildBelow && !(r.build < c.build)) return false;
    if (!InstalledWithin(r.firstInstalled, c.installedFrom, c.installedTo) ||
        !InstalledWithin(r.lastInstalled, c.installedFrom, c.installedTo))
      return false;
    if (c.ratingMax >= c.ratingMin && (r.localRating < c.ratingMin || r.localRating > c.ratingMax)) return false;
    if (!Passes(c.hasName, B::kValidName, r)) return false;
    if (c.eras.Size() > 0 && !CategoryList::Match(c.eras, r.eraList)) return false;
    if (c.regions.Size() > 0 && !CategoryList::Match(c.regions, r.regionList)) return false;
    if (c.kuids != nullptr && wanted.count(r.kuid) == 0) return false;
    if (!Passes(c.upToDate, B::kUpToDate, r) || !Passes(c.obsolete, B::kObsolete, r)) return false;
    if (c.authorId != 0 && r.kuid.user != c.authorId) return false;
    if (!Passes(c.missingDependencies, B::kHasMissingDependencies, r) ||
        !Passes(c.faultyDependencies, B::kHasFaultyDependencies, r) || !Passes(c.faulty, B::kFaulty, r))
      return false;
    if (!Passes(c.reskin, B::kReskin, r) || !Passes(c.builtIn, B::kBuiltIn, r) ||
        !Passes(c.listingPermitted, B::kListingPrivilege, r))
      return false;
    if (byMap && VADResolveKuid(r.mapKuid) != mapTarget) return false;
    if (c.keywords.Size() > 0) {
      const bool match = c.keywordMode == VADSearchCriteria::kKeywordWords
                             ? CategoryList::MatchKeywords(r.KeywordList(), c.keywords)
                             : CategoryList::Match(c.keywords, r.KeywordList());
      if (!match) return false;
    }
    return true;
  };
  CollectRecords(out, accept);
}
