#pragma once
// Tests over asset records: small trees of filter elements that the front
// end builds (state tests and text-list tests combined by groups), and the
// flat criteria record of the search. Both walk the whole index once, in
// display-name order, under a shared index lock.
#include <cstdint>
#include <memory>
#include <vector>

#include "Vak/Bexlorn/PString.h"
#include "Vak/Bexlorn/String.h"
#include "content/ACSChunkPtr.h"
#include "content/KUID.h"

class VADAssetInfo;

class VADFilterElement {
public:
  VADFilterElement() = default;
  VADFilterElement(const VADFilterElement&) = delete;
  VADFilterElement& operator=(const VADFilterElement&) = delete;
  virtual ~VADFilterElement() = default;

  virtual Vak::PString KeyWord() const = 0;
  virtual Vak::PString ValueText() const = 0;
  // Leaves: same key word and value text.
  virtual bool Equals(const VADFilterElement& other) const;
  virtual bool Evaluate(VADAssetInfo& record) const = 0;

  // Only groups apply it; leaves keep it for display.
  void SetNegate(bool negate) { negate_ = negate ? 1 : 0; }
  bool IsNegated() const { return negate_ != 0; }

protected:
  uint8_t negate_ = 0;
};

class VADFilterElementBool final : public VADFilterElement {
public:
  enum Kind : uint32_t {
    kLocal = 0,
    kDownloadStation = 1,
    kLocationUnknown = 2,
    kLocallyAvailable = 3,
    kUpToDate = 4,
    kObsolete = 5,
    kLocallyModified = 6,
    kValidName = 7,
    kOpenForEdit = 8,
    kInArchive = 9,
    kLocallyEnabled = 10,
    kHasMissingDependencies = 11,
    kHasFaultyDependencies = 12,
    kFaulty = 13,
    kReskin = 14,
    kBuiltIn = 15,
    kListingPrivilege = 16,
    kFavourite = 17,
    kWarnings = 18,
  };

  explicit VADFilterElementBool(uint32_t kind) : kind_(kind) {}
  uint32_t GetKind() const { return kind_; }

  Vak::PString KeyWord() const override;
  Vak::PString ValueText() const override;
  bool Evaluate(VADAssetInfo& record) const override;
  // The state test of a kind; the criteria search shares it.
  static bool Holds(uint32_t kind, VADAssetInfo& record);

private:
  uint32_t kind_;
};

class VADFilterElementString final : public VADFilterElement {
public:
  enum Kind : uint32_t { kAssetName = 0, kCategoryList = 1, kEraList = 2, kKeywordList = 3, kRegionList = 4 };

  // An asset name wrapped in double quotes asks for the whole name.
  VADFilterElementString(uint32_t kind, const char* value);
  uint32_t GetKind() const { return kind_; }
  bool IsExact() const { return exact_ != 0; }

  Vak::PString KeyWord() const override;
  Vak::PString ValueText() const override { return value_; }
  bool Evaluate(VADAssetInfo& record) const override;

private:
  uint32_t kind_;
  Vak::PString value_;
  uint8_t exact_ = 0;
};

class VADFilterElementGroup final : public VADFilterElement {
public:
  // Takes ownership of the first child, when one is given.
  explicit VADFilterElementGroup(VADFilterElement* firstChild = nullptr);

  // Takes ownership; a null child is ignored.
  void Add(VADFilterElement* child);
  void SetAllOf(bool allOf) { allOf_ = allOf ? 1 : 0; }
  bool IsAllOf() const { return allOf_ != 0; }
  std::size_t ChildCount() const { return children_.size(); }

  Vak::PString KeyWord() const override;
  Vak::PString ValueText() const override;
  bool Equals(const VADFilterElement& other) const override;
  bool Evaluate(VADAssetInfo& record) const override;

private:
  uint8_t allOf_ = 1;
  std::vector<std::unique_ptr<VADFilterElement>> children_;
};

// The criteria of VADSearchAssets. Each state test is 0 (must hold), 1 (must
// not hold) or 2 (either); texts left empty test nothing.
struct VADSearchCriteria {
  enum State : uint8_t { kMust = 0, kMustNot = 1, kAny = 2 };
  enum Build : uint8_t { kBuildAtLeast = 0, kBuildBelow = 1, kBuildAny = 2 };
  enum KeywordMode : uint8_t { kKeywordAsCategories = 0, kKeywordWords = 1 };

  uint8_t hasAnyLocation = kAny;
  uint8_t isInstalled = kAny;  // an archive or a local folder
  uint8_t hasLocalFolder = kAny;
  uint8_t isOpenForEdit = kAny;
  uint8_t inArchive = kAny;
  uint8_t locallyEnabled = kAny;
  uint8_t buildMode = kBuildAny;
  uint8_t hasName = kAny;
  uint8_t upToDate = kAny;
  uint8_t obsolete = kAny;
  uint8_t missingDependencies = kAny;
  uint8_t faultyDependencies = kAny;
  uint8_t faulty = kAny;
  uint8_t reskin = kAny;
  uint8_t builtIn = kAny;
  uint8_t listingPermitted = kAny;

  // Upper case, the category pattern syntax.
  Vak::AnsiString categories;
  float build = 0.0f;
  // Zero bounds are open.
  int64_t installedFrom = 0;
  int64_t installedTo = 0;
  uint8_t ratingMin = 0;
  uint8_t ratingMax = 255;
  Vak::AnsiString eras;
  Vak::AnsiString regions;
  // When given, only these KUIDs.
  const KUIDList* kuids = nullptr;
  // When not 0, the KUID's user id.
  int32_t authorId = 0;
  // When not null, matched against the records' map KUIDs.
  KUID mapKuid;
  Vak::AnsiString keywords;
  uint8_t keywordMode = kKeywordWords;
  // The front end's, not read by the search.
  int32_t presetA = 26;
  int32_t presetB = 5;

  // The sixteen state tests in order, numbered from 1.
  uint8_t& State(unsigned n);
  static constexpr unsigned kStateCount = 16;
};

// Append the KUIDs of the records taken.
void VADSelectAssets(const VADFilterElement& filter, KUIDList& out);
void VADSearchAssets(const VADSearchCriteria& criteria, KUIDList& out);
