// Loading configs into the config model against a small schema.
#include "datamanager/Container.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "datamanager/DataManager.h"
#include "datamanager/Vocabulary.h"
#include "tests/datamanager/ConfigModelSupport.h"

namespace {

using RUZLib::Container;
using RUZLib::Tag;

const char* const kSchema = R"(base
{
  top-level 0
  subpossibilities
  {
    kuid
    {
      kind "value"
      type "kuid"
      compulsory 1
    }
    username
    {
      kind "value"
      type "string"
      compulsory 1
    }
    kind
    {
      kind "value"
      type "string"
      compulsory 1
    }
    velmar-build
    {
      kind "value"
      type "float"
    }
    description
    {
      kind "value"
      type "string"
    }
    region
    {
      kind "value"
      type "string"
      compulsory 1
      default "parent"
    }
  }
  obsolete-tag
  {
    oldtag 1
    oldbox 1
  }
}
scenery
{
  top-level 1
  inherit
  {
    base 1
  }
  subpossibilities
  {
    light0
    {
      kind "value"
      type "int"
      sequence 1
    }
    plain0
    {
      kind "value"
      type "int"
    }
    mesh-table
    {
      kind "element"
      element-type "mesh-table"
    }
    box
    {
      kind "value"
      type "int"
    }
    queues
    {
      container-type0 "queue"
    }
  }
  tagarray
  {
    odd
    {
      kind "value"
    }
    note
    {
      kind "value"
      type "string"
    }
  }
}
mesh-table
{
  top-level 0
  array-element
  {
    container-type0 "mesh-element"
  }
}
mesh-element
{
  top-level 0
  savingname "mesh-element-saved"
  subpossibilities
  {
    auto-create
    {
      kind "value"
      type "bool"
    }
  }
}
queue
{
  top-level 0
  subpossibilities
  {
    size
    {
      kind "value"
      type "int"
    }
  }
}
notroot
{
  top-level 0
}
track
{
  top-level 1
  inherit
  {
    base 1
  }
}
obsolete-track
{
  top-level 1
  inherit
  {
    base 1
  }
}
bridge
{
  top-level 1
  inherit
  {
    base 1
  }
  subpossibilities
  {
    height
    {
      kind "value"
      type "float"
    }
  }
}
tunnel
{
  top-level 1
  inherit
  {
    bridge 1
  }
}
double-track
{
  top-level 1
  inherit
  {
    bridge 1
  }
}
)";

// A config of the schema's root kind with its identity tags.
std::string Scenery(const std::string& more) {
  return "kuid <kuid:1:2>\r\nusername \"u\"\r\nkind \"scenery\"\r\nvelmar-build 3.1\r\nregion \"r\"\r\n" + more;
}

class ConfigLoad : public datamanager::test::ConfigModelFixture {
protected:
  void SetUp() override { Start(kSchema); }
};

struct KindCase {
  const char* label;
  std::string config;
  bool loads;
  const char* type;  // of the root; null when nothing loads
  std::vector<std::string> records;
};

TEST_F(ConfigLoad, KindsTypeTheRoot) {
  const KindCase cases[] = {
      {"no kind", "username \"u\"\r\n", false, nullptr, {"3:115"}},
      {"not top-level", "kind \"notroot\"\r\n", false, nullptr, {"3:112"}},
      {"unknown kind", "kind \"nothing\"\r\n", false, nullptr, {"3:112"}},
      {"kind in capitals", "kind \"SCENERY\"\r\nkuid <kuid:1:2>\r\nusername \"u\"\r\nregion \"r\"\r\nvelmar-build 3.1\r\n",
       true, "SCENERY", {}},
      {"bridge level", "kind \"bridge\"\r\nheight 0.0005\r\nvelmar-build 3.1\r\n", true, "double-track", {}},
      {"bridge below", "kind \"bridge\"\r\nheight -1\r\nvelmar-build 3.1\r\n", true, "bridge", {}},
      {"bridge above", "kind \"bridge\"\r\nheight 2\r\nvelmar-build 3.1\r\n", true, "tunnel", {}},
      {"bridge without height", "kind \"bridge\"\r\nvelmar-build 3.1\r\n", true, "double-track", {}},
      {"old track", "kind \"track\"\r\nvelmar-build 2.89\r\n", true, "obsolete-track", {}},
      {"current track", "kind \"track\"\r\nvelmar-build 2.90\r\n", true, "track", {}},
  };
  for (const KindCase& c : cases) {
    SCOPED_TRACE(c.label);
    ClearRecords();
    EXPECT_EQ(Load(c.config), c.loads);
    if (c.type) {
      EXPECT_STREQ(root_->typeName.c_str(), c.type);
      EXPECT_STREQ(root_->name.c_str(), c.type);
    }
    // Missing compulsory tags are reported too; only the kind's findings count here.
    std::vector<std::string> kindRecords;
    for (const std::string& record : Records())
      if (record.rfind("3:11", 0) == 0 && record.substr(2, 3) != "114") kindRecords.push_back(record);
    EXPECT_EQ(kindRecords, c.records);
  }
}

TEST_F(ConfigLoad, BuildsBelow290AreUpgradedAndStamped) {
  struct BuildCase {
    const char* written;
    float stamped;
    float current;
  };
  // 2.899 plus 0.001 stays below 290 in double, though the float sum reaches it.
  const BuildCase cases[] = {{"2.89", 2.9f, 2.891f},   {"2.95", 2.95f, 2.951f},    {"", 2.9f, 1.301f},
                             {"2.899", 2.9f, 2.9f},    {"2.8999", 2.8999f, 2.9009f}};
  for (const BuildCase& c : cases) {
    SCOPED_TRACE(c.written);
    std::string text = "kind \"track\"\r\n";
    if (*c.written) text += std::string("velmar-build ") + c.written + "\r\n";
    ASSERT_TRUE(Load(text));
    EXPECT_FLOAT_EQ(config_.GetChildFloat(RUZLib::Words::kVelmarBuild, 0), c.stamped);
    EXPECT_FLOAT_EQ(Manager().currentBuild, c.current);
  }
}

TEST_F(ConfigLoad, IdentityTagsComeFirstAndRepeatsAreNotMade) {
  ASSERT_TRUE(Load("description \"d\"\r\nkind \"scenery\"\r\nusername \"u\"\r\nregion \"r\"\r\nvelmar-build 3.1\r\n"
                   "kuid <kuid:1:2>\r\n"));
  EXPECT_EQ(TagNames(*root_),
            (std::vector<std::string>{"username", "kuid", "description", "kind", "region", "velmar-build"}));
  EXPECT_TRUE(root_->identityTags.empty());
  EXPECT_EQ(Records(), std::vector<std::string>{});
  // A second tag of a name the container holds is neither made nor reported.
  const ACSChunkPtr sub = Manager().GetSchema().GetChildContainer("base").GetChildContainer(
      RUZLib::Words::kSubpossibilities).GetChildContainer(RUZLib::Words::kDescription);
  EXPECT_EQ(root_->CreateTag(root_.get(), RUZLib::Words::kDescription, sub, config_), nullptr);
  EXPECT_EQ(root_->CreateTag(root_.get(), RUZLib::Words::kKuid, sub, config_), nullptr);
  EXPECT_EQ(root_->tags.size(), 6u);
  EXPECT_EQ(Records(), std::vector<std::string>{});
}

TEST_F(ConfigLoad, NumberedNamesUseTheSequenceEntry) {
  struct NameCase {
    const char* name;
    int kind;
    std::vector<std::string> records;
  };
  const NameCase cases[] = {
      {"light12", RUZLib::kFieldInt, {}},
      {"light3", RUZLib::kFieldInt, {}},
      {"plain12", RUZLib::kFieldOther, {"3:107|plain12|scenery"}},
      {"li2", RUZLib::kFieldOther, {"3:107|li2|scenery"}},
      {"description-de", RUZLib::kFieldString, {}},
      {"username-fr", RUZLib::kFieldString, {}},
      {"note", RUZLib::kFieldString, {}},
      {"category-era-1", RUZLib::kFieldOther, {"3:117|category-era-1|scenery"}},
      {"oldtag", RUZLib::kFieldOther, {"3:117|oldtag|scenery"}},
      {"odd", RUZLib::kFieldOther, {"3:107|odd|scenery"}},
  };
  for (const NameCase& c : cases) {
    SCOPED_TRACE(c.name);
    ClearRecords();
    ASSERT_TRUE(Load(Scenery(std::string(c.name) + " 5\r\n")));
    const Tag* tag = root_->FindTag(Vak::PString(c.name));
    ASSERT_NE(tag, nullptr);
    EXPECT_EQ(tag->fieldKind, c.kind);
    EXPECT_EQ(Records(), c.records);
  }
}

TEST_F(ConfigLoad, OldBuildsOnlyWarnAboutObsoleteNames) {
  ASSERT_TRUE(Load("kuid <kuid:1:2>\r\nusername \"u\"\r\nkind \"scenery\"\r\nregion \"r\"\r\nvelmar-build 2.2\r\n"
                   "rem \"a comment\"\r\noldtag 1\r\n"));
  // The upgrade before the load drops "rem" and "region" and adds category
  // defaults, which this small schema does not know.
  EXPECT_EQ(Records(), (std::vector<std::string>{"2:117|oldtag|scenery", "3:107|category-era|scenery",
                                                 "3:107|category-region|scenery", "2:114|region"}));
}

TEST_F(ConfigLoad, ObsoleteNamesAreErrorsAboveHundredths289) {
  struct BuildCase {
    const char* written;
    const char* record;
  };
  // 2.899 is upgraded, yet its build narrowed to float reaches 290 when the
  // float product is truncated.
  const BuildCase cases[] = {{"2.2", "2:117|oldtag|scenery"},
                             {"2.898", "2:117|oldtag|scenery"},
                             {"2.899", "3:117|oldtag|scenery"},
                             {"3.1", "3:117|oldtag|scenery"}};
  for (const BuildCase& c : cases) {
    SCOPED_TRACE(c.written);
    ClearRecords();
    ASSERT_TRUE(Load(std::string("kuid <kuid:1:2>\r\nusername \"u\"\r\nkind \"scenery\"\r\nregion \"r\"\r\n") +
                     "velmar-build " + c.written + "\r\noldtag 1\r\n"));
    std::vector<std::string> records;
    for (const std::string& record : Records())
      if (record.find("oldtag") != std::string::npos) records.push_back(record);
    EXPECT_EQ(records, std::vector<std::string>{c.record});
  }
}

TEST_F(ConfigLoad, MissingCompulsoryTagsAreAddedWithTheirDefaults) {
  ASSERT_TRUE(Load("kind \"scenery\"\r\nvelmar-build 3.1\r\n"));
  EXPECT_EQ(Records(), (std::vector<std::string>{"2:114|kuid", "2:114|username", "2:114|region"}));
  EXPECT_STREQ(root_->FindTag(RUZLib::Words::kRegion)->value.c_str(), "scenery");
  EXPECT_STREQ(root_->FindTag(RUZLib::Words::kKuid)->value.c_str(), "<NULL>");
  EXPECT_EQ(TagNames(*root_), (std::vector<std::string>{"kuid", "username", "kind", "velmar-build", "region"}));
}

TEST_F(ConfigLoad, ChildContainersAreTypedBySchemaEntries) {
  ASSERT_TRUE(Load(Scenery("mesh-table\r\n{\r\n  default\r\n  {\r\n    auto-create 1\r\n  }\r\n}\r\n"
                           "queues\r\n{\r\n  size 4\r\n}\r\n")));
  EXPECT_EQ(Records(), std::vector<std::string>{});
  ASSERT_EQ(root_->children.size(), 2u);
  const Container* table = root_->children[0];
  EXPECT_STREQ(table->typeName.c_str(), "mesh-table");
  EXPECT_EQ(table->index, 0);
  EXPECT_EQ(table->parent, root_.get());
  ASSERT_EQ(table->children.size(), 1u);
  const Container* entry = table->children[0];
  EXPECT_STREQ(entry->typeName.c_str(), "mesh-element");
  EXPECT_STREQ(entry->keyName.c_str(), "mesh-element-saved");
  EXPECT_EQ(TagNames(*entry), std::vector<std::string>{"auto-create"});
  EXPECT_STREQ(root_->children[1]->typeName.c_str(), "queue");
  EXPECT_EQ(root_->children[1]->index, 1);
  // The table's entries are what choice fields with that source may name.
  EXPECT_TRUE(Manager().IsFileReferenced(Vak::PString("default"), Vak::PString("mesh-table")));
  EXPECT_FALSE(Manager().IsFileReferenced(Vak::PString("other"), Vak::PString("mesh-table")));
}

TEST_F(ConfigLoad, UnknownChildContainersAreSkipped) {
  struct ChildCase {
    const char* name;
    std::vector<std::string> records;
  };
  const ChildCase cases[] = {
      {"stranger", {"3:107|stranger|scenery"}},
      {"oldbox", {"2:117|oldbox|scenery"}},
      {".cache", {"3:107|.cache|scenery", "3:145"}},
      {"box", {"3:113|box"}},
      {"smoke0", {"3:108", "3:107|smoke0|scenery"}},
  };
  for (const ChildCase& c : cases) {
    SCOPED_TRACE(c.name);
    ClearRecords();
    EXPECT_TRUE(Load(Scenery(std::string(c.name) + "\r\n{\r\n  a 1\r\n}\r\n")));
    EXPECT_TRUE(root_->children.empty());
    EXPECT_EQ(Records(), c.records);
  }
}

TEST_F(ConfigLoad, AliasMarksTheMeshAssetSeen) {
  Manager().meshAssetSeen = false;
  ASSERT_TRUE(Load(Scenery("alias <kuid:3:4>\r\n")));
  EXPECT_TRUE(Manager().meshAssetSeen);
  EXPECT_EQ(Records(), (std::vector<std::string>{"2:119", "3:107|alias|scenery"}));
}

TEST_F(ConfigLoad, DeletingARootLeavesNoReferencesBehind) {
  ASSERT_TRUE(Load(Scenery("queues\r\n{\r\n  size 4\r\n}\r\n")));
  EXPECT_EQ(Manager().ContainerReferences().at(Vak::PString("scenery")).size(), 1u);
  root_.reset();
  EXPECT_TRUE(Manager().ContainerReferences().at(Vak::PString("scenery")).empty());
}

// Entries that inherit each other, directly or round a loop, are each merged
// once along a path and the walk ends.
class InheritanceCycle : public datamanager::test::ConfigModelFixture {};

TEST_F(InheritanceCycle, LoadEndsAndMergesEachEntryOnce) {
  Start(R"(first
{
  top-level 1
  inherit
  {
    second 1
    first 1
  }
  subpossibilities
  {
    kind
    {
      kind "value"
      type "string"
    }
    velmar-build
    {
      kind "value"
      type "float"
    }
  }
  validation
  {
    uniquenames 1
  }
}
second
{
  top-level 0
  inherit
  {
    third 1
  }
  subpossibilities
  {
    two
    {
      kind "value"
      type "int"
    }
  }
  validation
  {
    hasvalidtexturefile 1
  }
}
third
{
  top-level 0
  inherit
  {
    first 1
    second 1
  }
  subpossibilities
  {
    three
    {
      kind "value"
      type "float"
    }
  }
}
)");
  ASSERT_TRUE(Load("kind \"first\"\r\nvelmar-build 3.1\r\ntwo 2\r\nthree 3\r\n"));
  EXPECT_EQ(Records(), std::vector<std::string>{});
  EXPECT_EQ(root_->FindTag(Vak::PString("three"))->fieldKind, RUZLib::kFieldFloat);
  std::vector<std::string> inherited;
  for (const Vak::PString& name : root_->inheritedNames) inherited.push_back(name.c_str());
  EXPECT_EQ(inherited, (std::vector<std::string>{"second", "third"}));
  ASSERT_EQ(root_->rules.size(), 2u);
  const ACSChunkPtr validation =
      RUZLib::CollectInheritedValidation(Manager().GetSchema(), Manager().GetSchema().GetChildContainer("third"));
  EXPECT_EQ(validation.GetChildCount(), 2);
}

} // namespace
