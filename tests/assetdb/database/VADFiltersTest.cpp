#include "assetdb/VADFilters.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "assetdb/VADAssetIndex.h"
#include "assetdb/VADLock.h"
#include "tests/assetdb/database/IndexFixture.h"

namespace {

using Names = std::vector<std::string>;

// Counts its evaluations and reports its own destruction.
class Probe final : public VADFilterElement {
public:
  Probe(bool answer, int* calls, bool* gone = nullptr) : answer_(answer), calls_(calls), gone_(gone) {}
  ~Probe() override {
    if (gone_ != nullptr) *gone_ = true;
  }
  Vak::PString KeyWord() const override { return "probe"; }
  Vak::PString ValueText() const override { return answer_ ? "true" : "false"; }
  bool Evaluate(VADAssetInfo&) const override {
    ++*calls_;
    return answer_;
  }

private:
  bool answer_;
  int* calls_;
  bool* gone_;
};

class VADFiltersTest : public IndexFixture {
protected:
  // Display-name order differs from insertion order on purpose.
  void SetUp() override {
    IndexFixture::SetUp();
    VADAssetInfo box = LocalRecord(KUID(100, 1, 0), "box");
    box.categoryClasses = "TR;TV";
    box.keywordList = "red;box;";
    box.regionList = "DE";
    box.build = 3.5f;
    box.firstInstalled = box.lastInstalled = 1000;
    box.localRating = 4;
    box.UpdateFlags(0, VADAssetInfo::kFavourite | VADAssetInfo::kLocallyEnabled);
    Add(box);

    VADAssetInfo boxcar;
    boxcar.kuid = KUID(100, 2, 0);
    boxcar.name = "Boxcar";
    boxcar.archivePath = "boxcar";
    boxcar.archiveName = "pack";
    boxcar.categoryClasses = "TR;LOC";
    boxcar.keywordList = "blue;boxcar;";
    boxcar.eraList = "1950S";
    boxcar.build = 2.4f;
    boxcar.firstInstalled = boxcar.lastInstalled = 3000;
    boxcar.mapKuid = KUID(7, 7, 0);
    boxcar.UpdateFlags(0, VADAssetInfo::kReskin);
    boxcar.UpdateStateFlags(0, VADAssetInfo::kFaulty | VADAssetInfo::kWarnings);
    Add(boxcar);

    VADAssetInfo station;
    station.kuid = KUID(200, 3, 0);
    station.name = "Anchor";
    station.permissions = 0;
    station.UpdateFlags(0, VADAssetInfo::kDownloadStation);
    station.UpdateStateFlags(0, VADAssetInfo::kFaulty | VADAssetInfo::kWarnings);
    Add(station);

    VADAssetInfo unknown;
    unknown.kuid = KUID(200, 4, 0);
    Add(unknown);
    // Set after taking it in, which drops the bit without an archive.
    Record(unknown.kuid).UpdateStateFlags(0, VADAssetInfo::kBuiltIn);

    VADAssetInfo edited;
    edited.kuid = KUID(300, 5, 0);
    edited.name = "crane";
    edited.editingPath = "editing\\crane";
    edited.build = 3.5f;
    Add(edited);

    // The archived answers as cached, so the persistent list is not asked.
    for (uint64_t n = 0; VADAssetInfo* record = gVadAssetIndex.RecordAt(n); ++n)
      record->UpdateFlags(0, VADAssetInfo::kInArchiveKnown);
    Record(KUID(100, 1, 0)).UpdateFlags(0, VADAssetInfo::kInArchiveAnswer);

    gVadAssetIndex.SortByName();
  }

  static void Add(const VADAssetInfo& record) { ASSERT_NE(gVadAssetIndex.Insert(record), nullptr); }

  static VADAssetInfo& Record(const KUID& kuid) { return *gVadAssetIndex.Find(kuid); }

  static std::string NameOf(const KUID& kuid) {
    VADAssetInfo* record = gVadAssetIndex.Find(kuid);
    return record->DisplayName().Size() > 0 ? std::string(record->DisplayName()) : std::string("(unnamed)");
  }

  static Names Select(const VADFilterElement& filter) {
    KUIDList list;
    VADSelectAssets(filter, list);
    Names names;
    for (const KUID& kuid : list) names.push_back(NameOf(kuid));
    return names;
  }

  static Names Search(const VADSearchCriteria& criteria) {
    KUIDList list;
    VADSearchAssets(criteria, list);
    Names names;
    for (const KUID& kuid : list) names.push_back(NameOf(kuid));
    return names;
  }
};

// Display-name order: "" (the unnamed record) first, letter case aside.
const Names kAll = {"(unnamed)", "Anchor", "box", "Boxcar", "crane"};

TEST_F(VADFiltersTest, SelectWalksTheIndexInDisplayNameOrder) {
  VADFilterElementGroup all;
  EXPECT_EQ(Select(all), kAll);
}

TEST_F(VADFiltersTest, StateKindsAcceptTheirRecords) {
  gVadAssetIndex.TableA().Insert(KUID(100, 1, 0), KUID(100, 2, 0));
  gVadAssetIndex.RaiseObsoleteGeneration();
  gVadAssetIndex.TableB().Insert(KUID(300, 5, 0), KUID(300, 5, 1));
  struct Case {
    uint32_t kind;
    const char* keyWord;
    Names accepted;
  };
  const Case cases[] = {
      {0, "local", {"box", "Boxcar", "crane"}},
      {1, "download-station", {"Anchor"}},
      {2, "location-unknown", {"(unnamed)"}},
      {3, "locally-available", {"box", "Boxcar"}},
      {4, "up-to-date", {"(unnamed)", "Anchor", "box", "Boxcar"}},
      {5, "obsolete", {"box"}},
      {6, "locally-modified", {"box"}},
      {7, "valid-name", {"Anchor", "box", "Boxcar", "crane"}},
      {8, "open-for-edit", {"crane"}},
      {9, "in-archive", {"box"}},
      {10, "locally-enabled", {"box"}},
      {11, "has-missing-dependencies", {}},
      {12, "has-faulty-dependencies", {}},
      {13, "faulty", {"Boxcar"}},
      {14, "from-dyeloft", {"Boxcar"}},
      {15, "builtin", {"(unnamed)"}},
      {16, "listing-privilege", {"(unnamed)", "box", "Boxcar", "crane"}},
      {17, "favorite", {"box"}},
      {18, "warnings", {"Boxcar"}},
      {19, "unknown", {}},
      {99, "unknown", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind);
    VADFilterElementBool filter(c.kind);
    EXPECT_STREQ(filter.KeyWord().c_str(), c.keyWord);
    EXPECT_STREQ(filter.ValueText().c_str(), "true");
    EXPECT_EQ(Select(filter), c.accepted);
  }
}

TEST_F(VADFiltersTest, DownloadStationKindRejectsTheAssetOnceInstalled) {
  VADFilterElementBool station(VADFilterElementBool::kDownloadStation);
  EXPECT_EQ(Select(station), Names{"Anchor"});
  Record(KUID(200, 3, 0)).localPath = "local\\anchor";
  EXPECT_EQ(Select(station), Names{});
}

TEST_F(VADFiltersTest, LeavesIgnoreTheirNegateFlag) {
  VADFilterElementBool favourite(VADFilterElementBool::kFavourite);
  favourite.SetNegate(true);
  EXPECT_EQ(Select(favourite), Names{"box"});
  VADFilterElementString name(VADFilterElementString::kAssetName, "crane");
  name.SetNegate(true);
  EXPECT_EQ(Select(name), Names{"crane"});
}

TEST_F(VADFiltersTest, TextKindsMatchTheirLists) {
  struct Case {
    uint32_t kind;
    const char* value;
    const char* keyWord;
    const char* valueText;
    bool exact;
    Names accepted;
  };
  const Case cases[] = {
      {0, "\"Box\"", "asset-name", "Box", true, {"box"}},
      {0, "Box", "asset-name", "Box", false, {"box", "Boxcar"}},
      {0, "OXC", "asset-name", "OXC", false, {"Boxcar"}},
      {0, "boxes", "asset-name", "boxes", false, {}},
      // One quote character alone is no quoting.
      {0, "\"", "asset-name", "\"", false, {}},
      {0, "\"\"", "asset-name", "", true, {"(unnamed)"}},
      {0, nullptr, "asset-name", "", false, kAll},
      // Quotes mean nothing to the list kinds.
      {1, "\"TR\"", "category-list", "\"TR\"", false, {}},
      {1, "TR", "category-list", "TR", false, {"box", "Boxcar"}},
      {1, "TR;-LOC", "category-list", "TR;-LOC", false, {"box"}},
      {1, "LOC|TV", "category-list", "LOC|TV", false, {"box", "Boxcar"}},
      {2, "1950S", "era-list", "1950S", false, {"Boxcar"}},
      {3, "box", "keyword-list", "box", false, {"box", "Boxcar"}},
      {3, "blue", "keyword-list", "blue", false, {"Boxcar"}},
      {4, "DE", "region-list", "DE", false, {"box"}},
      {5, "box", "unknown", "box", false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.kind) + " " + (c.value ? c.value : "(null)"));
    VADFilterElementString filter(c.kind, c.value);
    EXPECT_STREQ(filter.KeyWord().c_str(), c.keyWord);
    EXPECT_STREQ(filter.ValueText().c_str(), c.valueText);
    EXPECT_EQ(filter.IsExact(), c.exact);
    EXPECT_EQ(Select(filter), c.accepted);
  }
}

TEST_F(VADFiltersTest, GroupsCombineNegateAndStopAtTheDecidingChild) {
  struct Case {
    bool allOf;
    bool negate;
    std::vector<bool> answers;
    bool result;
    int evaluated;
  };
  const Case cases[] = {
      {true, false, {}, true, 0},
      {true, true, {}, false, 0},
      {false, false, {}, true, 0},
      {false, true, {}, false, 0},
      {true, false, {true, true}, true, 2},
      {true, true, {true, true}, false, 2},
      {true, false, {true, false, true}, false, 2},
      {true, true, {true, false, true}, true, 2},
      {false, false, {false, true, false}, true, 2},
      {false, true, {false, true, false}, false, 2},
      {false, false, {false, false}, false, 2},
      {false, true, {false, false}, true, 2},
  };
  VADAssetInfo& record = Record(KUID(100, 1, 0));
  for (std::size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(i);
    int calls = 0;
    VADFilterElementGroup group;
    group.SetAllOf(c.allOf);
    group.SetNegate(c.negate);
    for (bool answer : c.answers) group.Add(new Probe(answer, &calls));
    EXPECT_EQ(group.Evaluate(record), c.result);
    EXPECT_EQ(calls, c.evaluated);
  }
}

TEST_F(VADFiltersTest, EmptyGroupAcceptsEveryRecordAndNegatedNone) {
  VADFilterElementGroup group;
  EXPECT_EQ(Select(group), kAll);
  group.SetNegate(true);
  EXPECT_EQ(Select(group), Names{});
}

TEST_F(VADFiltersTest, NestedGroupSelectsLocalConsistsThatAreNotObsolete) {
  gVadAssetIndex.TableA().Insert(KUID(100, 1, 0), KUID(100, 9, 0));
  gVadAssetIndex.RaiseObsoleteGeneration();
  VADFilterElementGroup group(new VADFilterElementString(VADFilterElementString::kCategoryList, "TR"));
  group.Add(new VADFilterElementBool(VADFilterElementBool::kLocal));
  group.Add(new VADFilterElementBool(VADFilterElementBool::kLocallyAvailable));
  auto* notObsolete = new VADFilterElementGroup(new VADFilterElementBool(VADFilterElementBool::kObsolete));
  notObsolete->SetNegate(true);
  group.Add(notObsolete);
  EXPECT_EQ(Select(group), Names{"Boxcar"});
  EXPECT_STREQ(group.KeyWord().c_str(), "group");
  EXPECT_STREQ(group.ValueText().c_str(),
               "(category-list:TR local:true locally-available:true group:(obsolete:true))");
}

TEST_F(VADFiltersTest, GroupDeletesItsChildren) {
  bool firstGone = false;
  bool addedGone = false;
  int calls = 0;
  {
    VADFilterElementGroup group(new Probe(true, &calls, &firstGone));
    group.Add(new Probe(true, &calls, &addedGone));
    group.Add(nullptr);
    EXPECT_EQ(group.ChildCount(), 2u);
    EXPECT_FALSE(firstGone || addedGone);
  }
  EXPECT_TRUE(firstGone);
  EXPECT_TRUE(addedGone);
}

TEST_F(VADFiltersTest, EqualityComparesKeyWordsValuesAndGroupShape) {
  using B = VADFilterElementBool;
  using S = VADFilterElementString;
  auto group = [](std::vector<VADFilterElement*> children, bool allOf = true, bool negate = false) {
    auto* g = new VADFilterElementGroup;
    for (VADFilterElement* child : children) g->Add(child);
    g->SetAllOf(allOf);
    g->SetNegate(negate);
    return g;
  };
  struct Case {
    const char* what;
    VADFilterElement* a;
    VADFilterElement* b;
    bool equal;
  };
  const Case cases[] = {
      {"same kind", new B(5), new B(5), true},
      {"other kind", new B(5), new B(6), false},
      {"two unknown kinds", new B(40), new B(99), true},
      {"leaf negate is not compared", new B(5), [] { auto* b = new B(5); b->SetNegate(true); return b; }(), true},
      {"same text", new S(1, "TR"), new S(1, "TR"), true},
      {"other text", new S(1, "TR"), new S(1, "TV"), false},
      {"other text kind", new S(1, "TR"), new S(2, "TR"), false},
      {"quoted and plain name", new S(0, "\"Box\""), new S(0, "Box"), true},
      {"group against leaf", group({new B(5)}), new B(5), false},
      {"leaf against group", new B(5), group({new B(5)}), false},
      {"same groups", group({new B(5), new S(1, "TR")}), group({new B(5), new S(1, "TR")}), true},
      {"child order", group({new B(5), new B(6)}), group({new B(6), new B(5)}), false},
      {"child count", group({new B(5)}), group({new B(5), new B(5)}), false},
      {"all-of against any-of", group({new B(5)}), group({new B(5)}, false), false},
      {"negated group", group({new B(5)}), group({new B(5)}, true, true), false},
      {"nested groups", group({group({new B(1)})}), group({group({new B(1)})}), true},
      {"nested groups differ", group({group({new B(1)})}), group({group({new B(2)})}), false},
      {"empty groups", group({}), group({}), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.a->Equals(*c.b), c.equal);
    EXPECT_EQ(c.b->Equals(*c.a), c.equal);
    delete c.a;
    delete c.b;
  }
}

TEST_F(VADFiltersTest, NewCriteriaAllowEverythingAndNumberTheirStatesFromOne) {
  VADSearchCriteria criteria;
  for (unsigned n = 1; n <= VADSearchCriteria::kStateCount; ++n) EXPECT_EQ(criteria.State(n), 2) << n;
  EXPECT_EQ(criteria.presetA, 26);
  EXPECT_EQ(criteria.presetB, 5);
  EXPECT_EQ(criteria.categories.Size(), 0u);
  EXPECT_EQ(Search(criteria), kAll);

  EXPECT_EQ(&criteria.State(1), &criteria.hasAnyLocation);
  EXPECT_EQ(&criteria.State(2), &criteria.isInstalled);
  EXPECT_EQ(&criteria.State(7), &criteria.buildMode);
  EXPECT_EQ(&criteria.State(9), &criteria.upToDate);
  EXPECT_EQ(&criteria.State(16), &criteria.listingPermitted);
}

TEST_F(VADFiltersTest, SearchAppliesEachCriterion) {
  KUIDList chosen;
  chosen.Append(KUID(300, 5, 0));
  chosen.Append(KUID(100, 2, 0));
  gVadAssetIndex.TableA().Insert(KUID(7, 7, 0), KUID(7, 8, 0));
  gVadAssetIndex.RaiseObsoleteGeneration();
  struct Case {
    const char* what;
    void (*set)(VADSearchCriteria&, const KUIDList&);
    Names found;
  };
  const Case cases[] = {
      {"state 1 must", [](VADSearchCriteria& c, const KUIDList&) { c.State(1) = 0; }, {"box", "Boxcar", "crane"}},
      {"state 1 must not", [](VADSearchCriteria& c, const KUIDList&) { c.State(1) = 1; }, {"(unnamed)", "Anchor"}},
      {"state 2 must", [](VADSearchCriteria& c, const KUIDList&) { c.State(2) = 0; }, {"box", "Boxcar"}},
      {"local folder", [](VADSearchCriteria& c, const KUIDList&) { c.hasLocalFolder = 0; }, {"box"}},
      {"open for edit", [](VADSearchCriteria& c, const KUIDList&) { c.isOpenForEdit = 0; }, {"crane"}},
      {"locally enabled", [](VADSearchCriteria& c, const KUIDList&) { c.locallyEnabled = 0; }, {"box"}},
      {"in archive", [](VADSearchCriteria& c, const KUIDList&) { c.inArchive = 1; },
       {"(unnamed)", "Anchor", "Boxcar", "crane"}},
      {"categories", [](VADSearchCriteria& c, const KUIDList&) { c.categories = "TR;-TV"; }, {"Boxcar"}},
      {"build at least",
       [](VADSearchCriteria& c, const KUIDList&) {
         c.buildMode = 0;
         c.build = 3.5f;
       },
       {"box", "crane"}},
      {"build below",
       [](VADSearchCriteria& c, const KUIDList&) {
         c.buildMode = 1;
         c.build = 3.5f;
       },
       {"(unnamed)", "Anchor", "Boxcar"}},
      {"installed from", [](VADSearchCriteria& c, const KUIDList&) { c.installedFrom = 2000; }, {"Boxcar"}},
      {"installed until", [](VADSearchCriteria& c, const KUIDList&) { c.installedTo = 2000; },
       {"(unnamed)", "Anchor", "box", "crane"}},
      {"rating range",
       [](VADSearchCriteria& c, const KUIDList&) {
         c.ratingMin = 3;
         c.ratingMax = 5;
       },
       {"box"}},
      {"inverted rating range tests nothing",
       [](VADSearchCriteria& c, const KUIDList&) {
         c.ratingMin = 6;
         c.ratingMax = 5;
       },
       kAll},
      {"has a name", [](VADSearchCriteria& c, const KUIDList&) { c.hasName = 1; }, {"(unnamed)"}},
      {"eras", [](VADSearchCriteria& c, const KUIDList&) { c.eras = "1950S"; }, {"Boxcar"}},
      {"regions", [](VADSearchCriteria& c, const KUIDList&) { c.regions = "DE"; }, {"box"}},
      {"kuid set", [](VADSearchCriteria& c, const KUIDList& kuids) { c.kuids = &kuids; }, {"Boxcar", "crane"}},
      {"author", [](VADSearchCriteria& c, const KUIDList&) { c.authorId = 200; }, {"(unnamed)", "Anchor"}},
      {"faulty", [](VADSearchCriteria& c, const KUIDList&) { c.faulty = 0; }, {"Boxcar"}},
      {"reskin", [](VADSearchCriteria& c, const KUIDList&) { c.reskin = 0; }, {"Boxcar"}},
      {"built in", [](VADSearchCriteria& c, const KUIDList&) { c.builtIn = 0; }, {"(unnamed)"}},
      {"listing", [](VADSearchCriteria& c, const KUIDList&) { c.listingPermitted = 1; }, {"Anchor"}},
      {"map kuid through table A", [](VADSearchCriteria& c, const KUIDList&) { c.mapKuid = KUID(7, 8, 0); },
       {"Boxcar"}},
      {"keyword words", [](VADSearchCriteria& c, const KUIDList&) { c.keywords = "box"; }, {"box", "Boxcar"}},
      {"keyword as categories",
       [](VADSearchCriteria& c, const KUIDList&) {
         c.keywords = "box";
         c.keywordMode = VADSearchCriteria::kKeywordAsCategories;
       },
       {"box"}},
      {"several at once",
       [](VADSearchCriteria& c, const KUIDList&) {
         c.State(1) = 0;
         c.State(9) = 0;
         c.categories = "TR";
       },
       {"box", "Boxcar"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    VADSearchCriteria criteria;
    c.set(criteria, chosen);
    EXPECT_EQ(Search(criteria), c.found);
  }
}

TEST_F(VADFiltersTest, SearchTestsUpToDateAndObsolete) {
  gVadAssetIndex.TableA().Insert(KUID(100, 1, 0), KUID(100, 2, 0));
  gVadAssetIndex.RaiseObsoleteGeneration();
  gVadAssetIndex.TableB().Insert(KUID(300, 5, 0), KUID(300, 5, 1));
  VADSearchCriteria criteria;
  criteria.obsolete = 0;
  EXPECT_EQ(Search(criteria), Names{"box"});
  criteria.obsolete = 2;
  criteria.upToDate = 1;
  EXPECT_EQ(Search(criteria), Names{"crane"});
}

} // namespace
