// The kind schema the program ships in data/RUZData, against the configs an
// installation holds.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "content/AppGlobals.h"
#include "content/ResultsLog.h"
#include "datamanager/Container.h"
#include "datamanager/Validate.h"
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

// The kinds the legacy upgrade rewrites, in their current form and as
// legacy configs, validated as the asset database validates an asset.
TEST_F(ShippedSchema, UpgradedKindsValidateWithoutFindings) {
  const std::map<std::string, std::vector<std::string>> points = {
      {"turn\\base\\base.im", {"a.otrack0a", "a.otrack0b"}},
      {"turn\\deck\\deck.im", {"a.itrack0a", "a.itrack0b"}},
      {"cross\\gate\\gate.im", {"a.road0a", "a.road0b", "a.track0a", "a.track0b"}},
      {"turn\\base.im", {}},
      {"cross\\gate.im", {}},
      {"junction\\left\\left.im", {}},
      {"junction\\right\\right.im", {}},
      {"board\\board.im", {}},
  };
  for (const char* kuid : {"<kuid:414141:40>", "<kuid:414141:41>", "<kuid:414141:42>"}) index_.assets[kuid] = {true, ""};
  for (const auto& [name, attachments] : points) {
    meshes_.meshes[name] = {};
    meshes_.attachments[name] = attachments;
  }
  folder_.WriteFile("local/ground/ground.texture", "");
  folder_.WriteFile("local/ground/ground.texture.txt", "");
  auto legacy = [](const char* kind, int number, const std::string& more) {
    return "kuid <kuid:414141:" + std::to_string(number) + ">\r\nkind \"" + kind + "\"\r\nusername \"Old\"\r\n" + more;
  };
  auto meshTable = [](const char* entry, const char* mesh) {
    return std::string("mesh-table\r\n{\r\n  ") + entry + "\r\n  {\r\n    mesh \"" + mesh + "\"\r\n  }\r\n}\r\n";
  };
  struct KindCase {
    const char* folder;
    std::string config;
  };
  const KindCase cases[] = {
      {"turn", Identity("turntable", 30) + "track <kuid:414141:40>\r\n" + meshTable("default", "base.im") +
                   "attached-track\r\n{\r\n  track0\r\n  {\r\n    vertices\r\n    {\r\n      0 \"a.track0a\"\r\n"
                   "      1 \"a.track0b\"\r\n    }\r\n    track <kuid:414141:40>\r\n"
                   "    useadjoiningtracktype 0\r\n  }\r\n}\r\n"},
      {"cross", Identity("mocrossing", 31) + meshTable("default", "gate.im")},
      {"junction", Identity("mojunction", 32) + meshTable("left", "left/left.im")},
      {"board", Identity("mospeedboard", 33) + "trackside 2\r\n" + meshTable("default", "board.im")},
      {"map", Identity("map", 34) + "region <kuid:414141:41>\r\n"},
      {"behavior", Identity("behavior", 35) + "thumbnails\r\n{\r\n  0\r\n  {\r\n    image \"icon.tga\"\r\n"
                                              "    width 64\r\n    height 64\r\n  }\r\n}\r\n"},
      {"ground", Identity("groundtexture", 36) + "texture \"ground.texture\"\r\n"},
      {"engine", Identity("engine", 37)},
      // Legacy: the upgrade builds the mesh tables, and the attached tracks
      // from the meshes' attachment points.
      {"turn", legacy("turntable", 50,
                      "asset-filename \"turn\"\r\nmode0 \"base\"\r\nmode1 \"deck\"\r\ntrack <kuid:414141:40>\r\n")},
      {"cross", legacy("mocrossing", 51,
                       "asset-filename \"cross\"\r\nmode0 \"gate\"\r\ntrack <kuid:414141:40>\r\n"
                       "road <kuid:414141:42>\r\n")},
      {"junction", legacy("mojunction", 52, "asset-filename \"junction\"\r\nmode0 \"left\"\r\nmode1 \"right\"\r\n")},
      {"board", legacy("mospeedboard", 53, "function \"speed\"\r\n")},
      {"map", legacy("map", 54, "region <kuid:414141:41>\r\n")},
      {"behavior", legacy("behavior", 55, "icon-texture \"icon.tga\"\r\n")},
      {"ground", legacy("groundtexture", 56, "asset-filename \"ground\"\r\n")},
      {"engine", legacy("engine", 57, "")},
  };
  RUZLib::DataManagerValidation validation;
  for (const KindCase& c : cases) {
    SCOPED_TRACE(c.config);
    folder_.WriteFile(std::string("local/") + c.folder + "/config.txt", c.config);
    ResultsLog results;
    bool kindUnchanged = false;
    const std::string folder = (folder_.Path() / "local" / c.folder).string();
    EXPECT_TRUE(validation.ValidateAsset(folder.c_str(), nullptr, "config.txt", false, results, kindUnchanged));
    validation.PurgeLoadedData();
    validation.ClearMeshFailureReported();
    EXPECT_TRUE(kindUnchanged);
    std::vector<std::string> lines;
    results.Lock();
    for (const ResultsLog::Line& line : results.GetLines())
      lines.push_back(std::to_string(line.severity) + ":" + static_cast<const char*>(line.text));
    results.Unlock();
    EXPECT_EQ(lines, std::vector<std::string>{});
  }
}

} // namespace
