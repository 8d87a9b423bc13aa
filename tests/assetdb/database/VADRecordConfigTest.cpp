#include "assetdb/VADRecordConfig.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "assetdb/CategoryList.h"
#include "assetdb/InterfaceTextDB.h"
#include "assetdb/VADAssetIndex.h"
#include "assetdb/VADServices.h"
#include "content/AppGlobals.h"
#include "content/ResultsLog.h"
#include "tests/assetdb/database/IndexFixture.h"

namespace {

using Vak::PString;

ACSChunkPtr Config(const std::function<void(ACSChunkPtr&)>& fill) {
  ACSChunkPtr config;
  config.MakeContainer();
  config.SetChildKUID(PString("kuid"), KUID(90, 1, 0));
  fill(config);
  return config;
}

std::string Untitled() { return GetInterfaceString(PString("$cm_general_untitled")).c_str(); }

TEST(VADCleanAssetNameTest, TrimsBlanksAndOneQuoteEachSide) {
  struct Case {
    const char* text;
    std::string expected;
  };
  const Case cases[] = {
      {"  name \t\r\n", "name"},   {"\"quoted\"", "quoted"}, {"'single'", "single"},
      {"\"\"twice\"\"", "\"twice\""}, {" \" padded \" ", " padded "}, {"it's", "it's"},
      {"   ", Untitled()},          {"\"\"", Untitled()},      {"", Untitled()},
  };
  for (const Case& c : cases) EXPECT_STREQ(VADCleanAssetName(c.text), c.expected.c_str()) << "[" << c.text << "]";
}

class FillFromConfigTest : public IndexFixture {};

TEST_F(FillFromConfigTest, RefusesWhatIsNoAssetConfig) {
  VADAssetInfo record;
  EXPECT_FALSE(FillFromConfig(ACSChunkPtr(), record, false));
  ACSChunkPtr noKuid;
  noKuid.MakeContainer();
  noKuid.SetChildString(PString("name"), "x");
  EXPECT_FALSE(FillFromConfig(noKuid, record, true));
  EXPECT_TRUE(FillFromConfig(noKuid, record, false));
  EXPECT_TRUE(FillFromConfig(Config([](ACSChunkPtr&) {}), record, true));
  EXPECT_EQ(record.kuid, KUID(90, 1, 0));
}

TEST_F(FillFromConfigTest, BuildNamesErasAndPermissions) {
  using Fill = std::function<void(ACSChunkPtr&)>;
  auto text = [](const char* key, const char* value) {
    return [=](ACSChunkPtr& c) { c.SetChildString(PString(key), value); };
  };
  auto number = [](const char* key, float value) {
    return [=](ACSChunkPtr& c) { c.SetChildFloat(PString(key), value); };
  };
  auto integer = [](const char* key, int value) {
    return [=](ACSChunkPtr& c) { c.SetChildInt(PString(key), value); };
  };
  auto all = [](std::vector<Fill> fills) {
    return [=](ACSChunkPtr& c) {
      for (const Fill& f : fills) f(c);
    };
  };
  struct Case {
    const char* label;
    Fill fill;
    std::function<void(const VADAssetInfo&)> check;
  };
  const Case cases[] = {
      {"build 2.5", number("velmar-build", 2.5f), [](const VADAssetInfo& r) { EXPECT_FLOAT_EQ(r.build, 2.505f); }},
      {"no build, a mesh table", [](ACSChunkPtr& c) { c.SetChild(PString("mesh-table"), ACSChunkPtr()); },
       [](const VADAssetInfo& r) { EXPECT_FLOAT_EQ(r.build, 2.0f); }},
      {"no build at all", [](ACSChunkPtr&) {}, [](const VADAssetInfo& r) { EXPECT_FLOAT_EQ(r.build, 1.3f); }},
      {"build out of range", number("velmar-build", 150.0f),
       [](const VADAssetInfo& r) { EXPECT_FLOAT_EQ(r.build, 1.3f); }},
      {"eras", all({text("category-era-0", " 1950s "), text("category-era-1", "abc"), text("category-era-3", "1960")}),
       [](const VADAssetInfo& r) { EXPECT_STREQ(r.eraList, "1950"); }},
      {"eras of two digits", all({text("category-era-0", "50s"), text("category-era-1", "1970S")}),
       [](const VADAssetInfo& r) { EXPECT_STREQ(r.eraList, "50;1970"); }},
      {"one era text", text("category-era", "1920s;1930s"),
       [](const VADAssetInfo& r) { EXPECT_STREQ(r.eraList, "1920s;1930s"); }},
      {"file name at build 2.0", all({text("asset-filename", "my_box"), number("velmar-build", 2.0f)}),
       [](const VADAssetInfo& r) { EXPECT_STREQ(r.name, "my box"); }},
      {"file name at build 2.9", all({text("asset-filename", "my_box"), number("velmar-build", 2.9f)}),
       [](const VADAssetInfo& r) { EXPECT_STREQ(r.name, "my_box"); }},
      {"username first", all({text("name", "second"), text("username", "first")}),
       [](const VADAssetInfo& r) { EXPECT_STREQ(r.name, "first"); }},
      {"quoted name", text("username", "\"Quoted Name\""),
       [](const VADAssetInfo& r) { EXPECT_STREQ(r.name, "Quoted Name"); }},
      {"blank name", text("username", "   "),
       [](const VADAssetInfo& r) { EXPECT_STREQ(r.name, Untitled().c_str()); }},
      {"secret at build 2.0", all({number("velmar-build", 2.0f), integer("secret", 1)}),
       [](const VADAssetInfo& r) { EXPECT_EQ(r.permissions, 0x0C); }},
      {"template at build 2.0", all({number("velmar-build", 2.0f), text("product-type", "Template")}),
       [](const VADAssetInfo& r) { EXPECT_EQ(r.permissions, 0x0C); }},
      {"plain build 2.0", number("velmar-build", 2.0f), [](const VADAssetInfo& r) { EXPECT_EQ(r.permissions, 0x1C); }},
      {"privileges at 2.6",
       all({number("velmar-build", 2.6f),
            [](ACSChunkPtr& c) {
              ACSChunkPtr privileges;
              privileges.MakeContainer();
              privileges.SetChildInt(PString("permit-listing"), 0);
              privileges.SetChildInt(PString("permit-edit"), 0);
              c.SetChild(PString("privileges"), privileges);
            }}),
       [](const VADAssetInfo& r) { EXPECT_EQ(r.permissions, 0x0C) << "edit only counts for built-in assets"; }},
      {"secret 0 at 2.6 lists", all({number("velmar-build", 2.6f), integer("secret", 0)}),
       [](const VADAssetInfo& r) { EXPECT_EQ(r.permissions, 0x1C); }},
      {"reskin", text("product-type", "ReSkin"),
       [](const VADAssetInfo& r) { EXPECT_EQ(r.flags & VADAssetInfo::kReskin, VADAssetInfo::kReskin); }},
      {"keywords from the company", text("company", "Steam, Loco(UK)"),
       [](const VADAssetInfo& r) { EXPECT_STREQ(r.keywords, "steam;loco;uk;"); }},
      {"keywords as given, lower case", all({text("category-keyword", "Big;Red"), text("company", "x")}),
       [](const VADAssetInfo& r) { EXPECT_STREQ(r.keywords, "big;red"); }},
      {"regions by name and code", all({text("category-region-0", "germany "), text("category-region-1", "UK"),
                                         text("category-region-2", "nowhere")}),
       [](const VADAssetInfo& r) { EXPECT_STREQ(r.regionList, "DE;UK"); }},
      {"old 'to' region", all({text("category-region-0", "to"), number("velmar-build", 2.4f)}),
       [](const VADAssetInfo& r) { EXPECT_STREQ(r.regionList, "00"); }},
      {"origin when region is a tag", all({text("region", "<none>"), text("origin", "Britain")}),
       [](const VADAssetInfo& r) { EXPECT_STREQ(r.regionList, "UK"); }},
      {"region text", text("category-region", "AU;NZ"),
       [](const VADAssetInfo& r) { EXPECT_STREQ(r.regionList, "AU;NZ"); }},
      {"locomotive", all({text("kind", "traincar"), integer("engine", 1)}),
       [](const VADAssetInfo& r) { EXPECT_STREQ(r.categoryClasses, "TR;TV;LOCO"); }},
      {"legacy code of the kind", all({text("kind", "traincar"), text("category-class", "AC")}),
       [](const VADAssetInfo& r) { EXPECT_STREQ(r.categoryClasses, "TR;TV;LOC;ELEC"); }},
      {"custom list merged in upper case", all({text("kind", "traincar"), integer("engine", 1),
                                                text("custom-category-list", "loco;xx")}),
       [](const VADAssetInfo& r) { EXPECT_STREQ(r.categoryClasses, "TR;TV;LOCO;XX"); }},
      {"trackside gets TO", all({text("kind", "signal")}),
       [](const VADAssetInfo& r) { EXPECT_TRUE(CategoryList::HasCode(r.categoryClasses, "TO")); }},
      {"map kuid with SS", all({text("custom-category-list", "SS"), text("map-kuid", "<kuid:5:6>")}),
       [](const VADAssetInfo& r) { EXPECT_EQ(r.mapKuid, KUID(5, 6, 0)); }},
      {"no map kuid without SS", text("map-kuid", "<kuid:5:6>"),
       [](const VADAssetInfo& r) { EXPECT_TRUE(r.mapKuid.IsNull()); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    VADAssetInfo record;
    ASSERT_TRUE(FillFromConfig(Config(c.fill), record, true));
    c.check(record);
    EXPECT_EQ(record.flags & VADAssetInfo::kInArchiveKnown, 0);
  }
}

TEST(BuildHundredthsTest, TruncatesAndClampsWhatNoIntHolds) {
  const float inf = std::numeric_limits<float>::infinity();
  struct Case {
    float build;
    float bias;
    int expected;
  } cases[] = {
      {2.9f, 0.0f, 290},         {3.1f, 0.0f, 310},       {2.505f, 0.005f, 251},
      {1e30f, 0.0f, INT32_MAX},  {inf, 0.0f, INT32_MAX},  {-inf, 0.005f, INT32_MIN},
      {std::numeric_limits<float>::quiet_NaN(), 0.0f, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(BuildHundredths(c.build, c.bias), c.expected) << c.build;
}

TEST_F(FillFromConfigTest, AnEndlessBuildIsTakenAsAVeryLateOne) {
  VADAssetInfo record;
  ASSERT_TRUE(FillFromConfig(Config([](ACSChunkPtr& c) {
                               c.SetChildKUID(PString("kuid"), KUID(400, 1, 0));
                               c.SetChildFloat(PString("velmar-build"), std::numeric_limits<float>::infinity());
                             }),
                             record, true));
  EXPECT_EQ(record.kuid, KUID(400, 1, 0));
}

TEST_F(FillFromConfigTest, BuiltInAssetsKeepTheirPrivileges) {
  ACSChunkPtr config = Config([](ACSChunkPtr& c) {
    c.SetChildFloat(PString("velmar-build"), 3.0f);
    ACSChunkPtr privileges;
    privileges.MakeContainer();
    privileges.SetChildInt(PString("permit-commit"), 0);
    c.SetChild(PString("privileges"), privileges);
  });
  VADAssetInfo record;
  record.stateFlags = VADAssetInfo::kBuiltIn;
  record.archivePath = "x";
  record.permissions = 0x03;
  ASSERT_TRUE(FillFromConfig(config, record, false));
  EXPECT_EQ(record.permissions, 0x03 | 0x08 | 0x10);
}

class RecordConfigTest : public IndexFixture {};

TEST_F(RecordConfigTest, TheCompiledConfigComesFirstAndTheLocalFolderFirst) {
  WriteConfig("local/a", "name text\n");
  WriteConfig("local/b", "name text\n");
  ACSChunkPtr compiled;
  compiled.MakeContainer();
  compiled.SetChildString(PString("name"), "compiled");
  ASSERT_TRUE(compiled.Save(nullptr, Root("local/b/config.chump").c_str()));
  WriteConfig("editing/e", "name editing\n");

  ACSChunkPtr config;
  EXPECT_TRUE(FindConfig(Root("local/a").c_str(), PString(), config));
  EXPECT_EQ(config.GetChildString(PString("name")), PString("text"));
  EXPECT_TRUE(FindConfig(Root("local/b").c_str(), PString(), config));
  EXPECT_EQ(config.GetChildString(PString("name")), PString("compiled"));
  EXPECT_FALSE(FindConfig(Root("local/none").c_str(), PString(), config));

  VADAssetInfo record;
  record.editingPath = "editing\\e";
  EXPECT_TRUE(ReadRecordConfig(record, config));
  EXPECT_EQ(config.GetChildString(PString("name")), PString("editing"));
  record.localPath = "local/a";
  EXPECT_TRUE(ReadRecordConfig(record, config));
  EXPECT_EQ(config.GetChildString(PString("name")), PString("text"));
  EXPECT_FALSE(ReadRecordConfig(VADAssetInfo(), config));

  // The one-entry cache answers again for the same record until dropped.
  EXPECT_EQ(GetRecordConfig(record).GetChildString(PString("name")), PString("text"));
  WriteConfig("local/a", "name changed\n");
  EXPECT_EQ(GetRecordConfig(record).GetChildString(PString("name")), PString("text"));
  DropRecordConfig(record);
  EXPECT_EQ(GetRecordConfig(record).GetChildString(PString("name")), PString("changed"));
}

TEST_F(RecordConfigTest, VerifyRecordFollowsTheFolders) {
  WriteConfig("local/v", "kuid <kuid:91:1>\nusername verified\n");
  ASSERT_TRUE(gVadAssetIndex.Add(LocalRecord(KUID(91, 1, 0), "v")));
  VADAssetInfo* record = gVadAssetIndex.Find(KUID(91, 1, 0));
  ASSERT_NE(record, nullptr);
  EXPECT_TRUE(VerifyRecord(*record)) << "unchanged";

  WriteConfig("local/v", "kuid <kuid:91:1>\nusername renamed asset\n");
  EXPECT_TRUE(VerifyRecord(*record)) << "re-read";
  EXPECT_STREQ(record->name, "renamed asset");
  EXPECT_EQ(record->sizeOnDisk, 40) << "measured again";

  record->editingPath = "editing\\v";
  root_.WriteFile("editing/v/config.txt", "kuid <kuid:91:1>\n");
  root_.WriteFile("local/v/more.txt", "x");
  EXPECT_FALSE(VerifyRecord(*record)) << "open for edit and installed";

  record->localPath = "local\\gone";
  record->editingPath = "editing\\gone";
  EXPECT_TRUE(VerifyRecord(*record));
  EXPECT_FALSE(record->HasAnyLocation());
}

// The data manager as the validation sees it.
class FakeValidation : public VADValidationService {
public:
  bool ValidateAsset(const char* folder, const char* topFolderName, const char* configFileName, bool archivePresent,
                     ResultsLog& results, bool& kindUnchanged) override {
    calls.push_back(std::string(folder) + "|" + (topFolderName ? topFolderName : "-") + "|" + configFileName + "|" +
                    (archivePresent ? "archive" : "no archive"));
    if (fail) throw std::runtime_error("broken");
    if (warn) results.AddMessage(2, nullptr, "a warning");
    kindUnchanged = keepKind;
    return true;
  }
  void PurgeLoadedData() override { events += "purge;"; }
  void ClearMeshFailureReported() override { events += "mesh;"; }

  std::vector<std::string> calls;
  std::string events;
  bool fail = false;
  bool warn = false;
  bool keepKind = true;
};

class ValidateAssetTest : public IndexFixture {
protected:
  void SetUp() override {
    IndexFixture::SetUp();
    SetMainThread();
    GetVADServices().validation = &validation_;
  }
  void TearDown() override {
    GetVADServices().validation = nullptr;
    IndexFixture::TearDown();
  }
  FakeValidation validation_;
};

TEST_F(ValidateAssetTest, AskTheDataManagerAndReportACrash) {
  WriteConfig("local/ok", "kuid <kuid:92:1>\n");
  ResultsLog results;
  EXPECT_FALSE(VADValidateAsset(PString(), Root("local/none").c_str(), results)) << "no config";
  EXPECT_TRUE(validation_.calls.empty());

  EXPECT_TRUE(VADValidateAsset(PString(), Root("local/ok").c_str(), results));
  ASSERT_EQ(validation_.calls.size(), 1u);
  EXPECT_EQ(validation_.calls[0], Root("local/ok") + "|-|config.txt|no archive");
  EXPECT_EQ(validation_.events, "purge;mesh;");

  validation_.keepKind = false;
  EXPECT_FALSE(VADValidateAsset(PString(), Root("local/ok").c_str(), results));
  validation_.keepKind = true;

  validation_.fail = true;
  ResultsLog crashed;
  EXPECT_FALSE(VADValidateAsset(PString(), Root("local/ok").c_str(), crashed));
  ASSERT_EQ(crashed.LineCount(), 1u);
  EXPECT_STREQ(crashed.GetLines().Begin()->text, "$vad_validating_crash");
  EXPECT_EQ(crashed.GetErrorCount(), 1);
}

TEST_F(ValidateAssetTest, RefreshRecordsTheValidation) {
  WriteConfig("local/w", "kuid <kuid:93:1>\n");
  validation_.warn = true;
  ASSERT_TRUE(gVadAssetIndex.Add(LocalRecord(KUID(93, 1, 0), "w")));
  VADAssetInfo* record = gVadAssetIndex.Find(KUID(93, 1, 0));
  EXPECT_EQ(record->StateFlags() & (VADAssetInfo::kFaulty | VADAssetInfo::kWarnings), VADAssetInfo::kWarnings);
  EXPECT_FALSE(record->HasErrors());
  validation_.warn = false;
  validation_.keepKind = false;
  gVadAssetIndex.Refresh(*record, true);
  EXPECT_EQ(record->StateFlags() & (VADAssetInfo::kFaulty | VADAssetInfo::kWarnings), VADAssetInfo::kFaulty);
  EXPECT_TRUE(record->HasErrors());
}

} // namespace
