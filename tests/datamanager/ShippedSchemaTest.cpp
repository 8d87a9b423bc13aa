// The kind schema the program ships in data/RUZData, against the configs an
// installation holds.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "content/AppGlobals.h"
#include "datamanager/Container.h"
#include "datamanager/ValidationRules.h"
#include "datamanager/Vocabulary.h"
#include "tests/datamanager/ConfigModelSupport.h"

namespace {

namespace fs = std::filesystem;
using RUZLib::Container;

const fs::path kShippedData = fs::path(VELMAR_SOURCE_ROOT) / "data" / "RUZData";

const char* const kTypeWords[] = {"float",        "string",      "int",          "bool",     "vector2",
                                  "vector3",      "rgb",         "vector4",      "vector5",  "floatlist",
                                  "combobox",     "intcombobox", "listbox",      "doublestring", "kuid",
                                  "filepath",     "filepathedit", "stringkuid",  "kuidbrowser", "stringkuidbrowser"};

// The shipped files copied into the test's data folder: the data manager
// writes its personal details there.
class ShippedSchema : public datamanager::test::ConfigModelFixture {
protected:
  void SetUp() override {
    fs::create_directories(folder_.Data());
    for (const auto& entry : fs::directory_iterator(kShippedData))
      fs::copy_file(entry.path(), fs::path(folder_.Data()) / entry.path().filename());
    manager_ = std::make_unique<datamanager::test::StartedDataManager>(folder_);
    ASSERT_TRUE(manager_->Started());
    Manager().SetupScene(&kernel_);
    Manager().LoadSchema();
    SetDatabaseRootPath(folder_.Path().string().c_str());
    Manager().SetCurrentAsset("asset", "content");
    RUZLib::SetAssetIndexQueries(&index_);
  }
  void TearDown() override {
    RUZLib::SetAssetIndexQueries(nullptr);
    ConfigModelFixture::TearDown();
    SetDatabaseRootPath("");
  }

  datamanager::test::FakeIndex index_;
};

// Every "type" word and every rule name below a chunk.
void CollectWords(const ACSChunkPtr& chunk, std::set<std::string>& types, std::set<std::string>& rules) {
  for (int i = 0; i < chunk.GetChildCount(); ++i) {
    const Vak::PString name = chunk.GetChildName(i);
    const ACSChunkPtr child = chunk.GetChildContainer(name);
    if (!child.Get()) {
      if (name == RUZLib::Words::kType) types.insert(chunk.GetChildString(name).c_str());
      continue;
    }
    if (name == RUZLib::Words::kValidation)
      for (int r = 0; r < child.GetChildCount(); ++r) rules.insert(child.GetChildName(r).c_str());
    CollectWords(child, types, rules);
  }
}

TEST_F(ShippedSchema, UsesEveryTypeWordAndEveryRule) {
  std::set<std::string> types;
  std::set<std::string> rules;
  CollectWords(Manager().GetSchema(), types, rules);
  for (const char* word : kTypeWords) EXPECT_TRUE(types.count(word)) << word;
  for (const auto& row : RUZLib::ContainerRules()) EXPECT_TRUE(rules.count(row.name.c_str())) << row.name.c_str();
  for (const auto& row : RUZLib::TagRules()) EXPECT_TRUE(rules.count(row.name.c_str())) << row.name.c_str();
  // And nothing else: a misspelt word would type a tag as unknown.
  std::set<std::string> known(std::begin(kTypeWords), std::end(kTypeWords));
  for (const std::string& type : types) EXPECT_TRUE(known.count(type)) << type;
}

std::string Identity(const char* kind, int number) {
  return "kuid <kuid:414141:" + std::to_string(number) + ">\r\nkind \"" + kind +
         "\"\r\nusername \"Sample\"\r\nvelmar-build 3.1\r\n";
}

TEST_F(ShippedSchema, InstalledConfigsLoadAndExportWithoutFindings) {
  folder_.WriteFile("content/asset/ground.texture", "");
  folder_.WriteFile("content/asset/run.gs", "");
  meshes_.meshes["asset\\body.im"] = {"skin.texture"};
  index_.assets["<kuid:414141:20>"] = {true, "BG"};
  index_.assets["<kuid:414141:21>"] = {true, "TV"};
  struct InstalledCase {
    const char* label;
    std::string config;
    int nodes = 1;  // containers in the tree, the root included
  };
  const std::string sample = "category-keyword \"shed;wood\"\r\ncategory-region \"AU\"\r\ndescription \"A sample asset.\"\r\n";
  const InstalledCase cases[] = {
      {"sample scenery", Identity("scenery", 1) + sample},
      {"sample traincar", Identity("traincar", 2) + sample},
      {"sample without category", Identity("scenery", 9)},
      {"scenery with a mesh",
       Identity("scenery", 3) + "height-range \"1,2\"\r\nscript \"run\"\r\nmesh-table\r\n{\r\n  default\r\n  {\r\n"
                                "    mesh \"body.im\"\r\n    auto-create 1\r\n    effects\r\n    {\r\n      name0\r\n"
                                "      {\r\n        kind \"name\"\r\n        texture-name \"skin.texture\"\r\n      }\r\n"
                                "      corona\r\n      {\r\n        object-size 2\r\n      }\r\n    }\r\n  }\r\n}\r\n",
       6},
      {"traincar", Identity("traincar", 4) + "mass 30\r\naxles 2\r\nmesh-table\r\n{\r\n  default\r\n  {\r\n"
                                             "    mesh \"body.im\"\r\n    lights-used \"0,1\"\r\n  }\r\n}\r\n"
                                             "lights\r\n{\r\n  0\r\n  {\r\n    radius 1\r\n    rgb \"255,0,0\"\r\n  }\r\n"
                                             "  1\r\n  {\r\n    radius 2\r\n  }\r\n}\r\nbogeys\r\n{\r\n  0\r\n  {\r\n"
                                             "    bogey <kuid:414141:20>\r\n    reversed 0\r\n  }\r\n}\r\nqueues\r\n{\r\n"
                                             "  coal\r\n  {\r\n    size 20\r\n    initial-count 0\r\n  }\r\n}\r\n",
       10},
      {"bogey", Identity("bogey", 5) + "axle-data \"1,2,3,4,5\"\r\n"},
      {"track", Identity("track", 6) + "length 10\r\nwidth 4\r\n"},
      {"old track", "kuid <kuid:414141:7>\r\nkind \"track\"\r\nusername \"Old\"\r\nvelmar-build 2.5\r\n"},
      {"mesh", Identity("mesh", 8)},
      {"texture", Identity("texture", 10) + "texture \"ground.texture\"\r\n"},
      {"consist", Identity("consist", 11) + "consist-name \"Goods\"\r\nlocomotive <kuid:414141:21>\r\ncar-count 3\r\n"},
      {"bridge", Identity("bridge", 12) + "height 2\r\n"},
      // Upgraded: the text spilled from the description ends at the asset's
      // own tags, which the schema lists as top-level.
      {"legacy scenery", "description \"A sample\"\r\nwood \"and more\"\r\nkuid <kuid:414141:13>\r\n"
                         "kind \"scenery\"\r\nusername \"Old\"\r\ncategory-region-0 \"au\"\r\n"},
  };
  for (const InstalledCase& c : cases) {
    SCOPED_TRACE(c.label);
    ClearRecords();
    Manager().meshFailureReported = false;
    ASSERT_TRUE(Load(c.config));
    EXPECT_EQ(Records(), std::vector<std::string>{});
    EXPECT_EQ(Container::LiveCount(), c.nodes);
    ACSChunkPtr out;
    out.MakeContainer();
    EXPECT_TRUE(root_->Export(out));
    EXPECT_TRUE(root_->RunValidationRules());
    EXPECT_EQ(Records(), std::vector<std::string>{});
    Manager().PurgeLoadedData();
  }
}

} // namespace
