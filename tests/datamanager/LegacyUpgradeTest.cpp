// Legacy configs rewritten into the current form: before and after as text.
#include "datamanager/LegacyUpgrade.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "datamanager/DataManager.h"
#include "datamanager/Vocabulary.h"
#include "tests/datamanager/ConfigModelSupport.h"

namespace {

// Only the schema's top-level names matter to the upgrade: "kuid",
// "asset-id" and "mass" are top-level tags, "weight" is not.
const char* const kSchema = R"(scenery
{
  top-level 1
  subpossibilities
  {
    kuid
    {
      kind "value"
      type "kuid"
    }
    kind
    {
      kind "value"
      type "string"
    }
    asset-id
    {
      kind "value"
      type "int"
    }
    mass
    {
      kind "value"
      type "float"
    }
  }
}
parts
{
  top-level 0
  subpossibilities
  {
    weight
    {
      kind "value"
      type "float"
    }
  }
}
)";

// Meshes by lower-case resource name, each with its attachment points.
class PointMeshSource : public RUZLib::MeshSource {
public:
  Result Load(const Vak::PString& name, Vak::ResourceDatabase*, Vak::RenderKernel*, bool) override {
    Result result;
    loads.push_back(name.c_str());
    auto it = meshes.find(name.c_str());
    if (it == meshes.end()) return result;
    result.kind = Kind::kGeometry;
    using Model = datamanager::test::TextureMeshSource::Model;
    result.model = std::make_unique<Model>(std::vector<std::string>{}, it->second);
    return result;
  }
  std::map<std::string, std::vector<std::string>> meshes;
  std::vector<std::string> loads;
};

// The tree in one line: text values quoted, other values as their text,
// containers in braces.
std::string Flat(const ACSChunkPtr& chunk) {
  std::string out;
  for (int i = 0; i < chunk.GetChildCount(); ++i) {
    const Vak::PString name = chunk.GetChildName(i);
    if (!out.empty()) out += ' ';
    out += name.c_str();
    const int type = chunk.GetChildType(name);
    if (type == kACSContainer) {
      out += '{' + Flat(chunk.GetChildContainer(name)) + '}';
    } else if (type == kACSText) {
      out += "=\"" + std::string(chunk.GetChildString(name).c_str()) + '"';
    } else if (type != kACSEmpty) {
      out += '=' + std::string(chunk.GetChildString(name).c_str());
    }
  }
  return out;
}

// Lines joined with the line ends of a config file.
std::string Lines(std::initializer_list<const char*> lines) {
  std::string text;
  for (const char* line : lines) text += std::string(line) + "\r\n";
  return text;
}

class LegacyUpgrade : public datamanager::test::ConfigModelFixture {
protected:
  void SetUp() override {
    Start(kSchema);
    RUZLib::DataManager::SetMeshSource(&points_);
  }
  std::string Upgraded(const std::string& text) {
    ACSChunkPtr config = Config(text);
    RUZLib::UpgradeLegacyConfig(config);
    return Flat(config);
  }

  PointMeshSource points_;
};

struct UpgradeCase {
  const char* label;
  std::string before;
  std::string after;
};

// The category defaults the upgrade adds: era and region when empty, and
// "ZX" for a kind without class codes ("lamp").
const char* const kDefaults = "category-era=\"1800s\" category-class=\"ZX\" category-region=\"00\"";
const char* const kKnownKindDefaults = "category-era=\"1800s\" category-region=\"00\"";

std::string WithDefaults(const std::string& after) { return after + ' ' + kDefaults; }
// A kind the category table knows keeps its class; the user name, stored
// back by the last step, comes last.
std::string Known(const std::string& after, const char* username = nullptr) {
  std::string text = after + ' ' + kKnownKindDefaults;
  if (username) text += " username=\"" + std::string(username) + '"';
  return text;
}

TEST_F(LegacyUpgrade, RewritesEachLegacyFormIntoTheCurrentOne) {
  const UpgradeCase cases[] = {
      {"regions 1 and 2 without 0", Lines({"kind \"lamp\"", "category-region-1 \"de\"", "category-region-2 \"at\""}),
       "kind=\"lamp\" category-region=\"DE;AT\" category-era=\"1800s\" category-class=\"ZX\""},
      {"eras get their s once", Lines({"kind \"lamp\"", "category-era-0 \"1950\"", "category-era-1 \"1960s\""}),
       "kind=\"lamp\" category-era=\"1950s;1960s\" category-class=\"ZX\" category-region=\"00\""},
      {"a gap ends the numbered regions",
       Lines({"kind \"lamp\"", "category-region-1 \"fr\"", "category-region-3 \"nl\""}),
       "kind=\"lamp\" category-region-3=\"nl\" category-region=\"FR\" category-era=\"1800s\" category-class=\"ZX\""},
      {"World Trees is any region", Lines({"kind \"lamp\"", "category-region \"World Trees\""}),
       "kind=\"lamp\" category-era=\"1800s\" category-class=\"ZX\" category-region=\"00\""},
      {"a named region stays", Lines({"kind \"lamp\"", "category-region \"AU\"", "category-era \"1990s\""}),
       "kind=\"lamp\" category-region=\"AU\" category-era=\"1990s\" category-class=\"ZX\""},
      {"rgb of two parts goes", Lines({"kind \"lamp\"", "rgb \"255,0\""}), WithDefaults("kind=\"lamp\"")},
      {"rgb of three parts stays", Lines({"kind \"lamp\"", "rgb \"255,0,0\""}),
       WithDefaults("kind=\"lamp\" rgb=\"255,0,0\"")},
      {"rgb as two numbers goes", Lines({"kind \"lamp\"", "rgb 255,0"}), WithDefaults("kind=\"lamp\"")},
      {"bogey and bogey-1-r",
       Lines({"kind \"traincar\"", "category-class \"XX\"", "bogey <kuid:1:2>", "bogey-1-r <kuid:1:3>"}),
       Known("kind=\"traincar\" category-class=\"XX\" "
             "bogeys{0{bogey=<kuid:1:2> reversed=0} 1{bogey=<kuid:1:3> reversed=1}}")},
      {"numbered bogeys from 0",
       Lines({"kind \"traincar\"", "bogey-0 <kuid:1:2>", "bogey-0-r <kuid:1:3>", "bogey-1 <kuid:1:4>",
              "bogey-3 <kuid:1:5>", "running-numbers", "{", "0 \"1\"", "}"}),
       Known("kind=\"traincar\" bogey-3=<kuid:1:5> bogeys{0{bogey=<kuid:1:2> reversed=0} "
             "1{bogey=<kuid:1:3> reversed=1} 2{bogey=<kuid:1:4> reversed=0}}")},
      {"traincar mesh table",
       Lines({"kind \"traincar\"", "asset-filename \"car\"", "bogeys", "{", "0", "{", "bogey <kuid:1:2>", "}", "}"}),
       Known("kind=\"traincar\" bogeys{0{bogey=<kuid:1:2>}} "
             "mesh-table{default{mesh=\"car_body/car_body.pm\" auto-create=1} "
             "shadow{mesh=\"car_shadow/car_shadow.pm\" auto-create=0}}",
             "car")},
      {"bogey mesh table", Lines({"kind \"bogey\"", "username \"b\"", "asset-filename \"b1\"", "light 1"}),
       Known("kind=\"bogey\" mesh-table{default{mesh=\"b1.pm\" auto-create=1} "
             "shadow{mesh=\"b1_shadow/b1_shadow.pm\" auto-create=0}}",
             "b")},
      {"user name from the old name", Lines({"kind \"lamp\"", "name \"Old\""}),
       WithDefaults("kind=\"lamp\"") + " username=\"Old\""},
      {"user name from the file name", Lines({"kind \"lamp\"", "asset-filename \"lamp_a\""}),
       WithDefaults("kind=\"lamp\"") + " username=\"lamp_a\""},
      {"stray words", Lines({"kind \"lamp\"", "by \"me\"", "copyright 2004", "feel \"free\"", "keeper 1"}),
       WithDefaults("kind=\"lamp\" keeper=1")},
      {"numbered leftovers up to the first gap", Lines({"kind \"lamp\"", "0 \"a\"", "1 \"b\"", "3 \"c\""}),
       WithDefaults("kind=\"lamp\" 3=\"c\"")},
      {"quotes and braces in names", Lines({"kind \"lamp\"", "it's 1", "plain 2"}),
       WithDefaults("kind=\"lamp\" plain=2")},
      {"description overflow up to a top-level tag",
       Lines({"description \"A long\"", "text \"spilled\"", "weight 3", "mass 4", "more 5", "kind \"lamp\""}),
       WithDefaults("description=\"A long\" mass=4 more=5 kind=\"lamp\"")},
      {"description overflow up to a container",
       Lines({"description \"d\"", "over \"x\"", "parts", "{", "a 1", "}", "kind \"lamp\""}),
       WithDefaults("description=\"d\" parts{a=1} kind=\"lamp\"")},
      {"asset tags", Lines({"kind \"lamp\"", "asset \"x\"", "asset-id 7", "asset-name \"n\""}),
       WithDefaults("kind=\"lamp\" asset-id=7")},
      {"moved tags",
       Lines({"kind \"lamp\"", "username \"u\"", "auteur \"A\"", "author \"B\"", "organization \"O\"",
              "organisation \"P\"", "user-name \"V\"", "description: \"D\""}),
       WithDefaults("kind=\"lamp\" organisation=\"P\"") + " author=\"A\" description=\"D\" username=\"u\""},
      {"junk tags", Lines({"kind \"lamp\"", "rem \"x\"", "origin \"y\"", "name-de \"z\"", "velmar_build 1.3",
                           "thumbnail \"t.jpg\"", ".cache 1", "type \"t\"", "region \"r\"", "fontsize 3"}),
       WithDefaults("kind=\"lamp\"")},
      {"script libraries", Lines({"kind \"lamp\"", "scriptlibrary \"lib\"", "classlibrary \"Cls\""}),
       WithDefaults("kind=\"lamp\" class=\"Cls\" script=\"lib.gs\"")},
      {"a script with an extension", Lines({"kind \"lamp\"", "script \"run.gsl\"", "license \"\""}),
       WithDefaults("kind=\"lamp\" script=\"run.gsl\"")},
      {"map keeps a KUID region", Lines({"kind \"map\"", "region <kuid:1:9>", "type 1"}),
       Known("kind=\"map\" region=<kuid:1:9>")},
      {"map loses a text region", Lines({"kind \"map\"", "region \"north\""}), Known("kind=\"map\"")},
      {"speed board loses its function", Lines({"kind \"mospeedboard\"", "function \"f\""}),
       Known("kind=\"mospeedboard\"")},
      {"trackside loses its function", Lines({"kind \"lamp\"", "trackside 1", "function \"f\""}),
       WithDefaults("kind=\"lamp\" trackside=1")},
      {"a signal keeps its function", Lines({"kind \"mosignal\"", "trackside 1", "function \"f\""}),
       Known("kind=\"mosignal\" trackside=1 function=\"f\"")},
      {"sound-script lists are numbered",
       Lines({"kind \"lamp\"", "soundscript", "{", "horn", "{", "sound", "{", "a.wav", "b.wav", "}",
              "repeat-delay 2", "}", "bell", "{", "sound", "{", "c.wav", "volume 3", "}", "}", "}"}),
       WithDefaults("kind=\"lamp\" soundscript{horn{repeat-delay=2 sound{0=\"a.wav\" 1=\"b.wav\"}} "
                    "bell{sound{0=\"c.wav\" volume=3}}}")},
      {"interior cameras and mesh",
       Lines({"kind \"interior\"", "asset-filename \"cab\"", "mesh \"cab.im\"", "camera 1,2,3", "cameralist", "{",
              "camera0 4,5,6,0,0", "}", "attachment", "{", "a0", "{", "att \"a.x\"", "}", "a1", "{", "att \"a.y\"",
              "att-parent \"p\"", "}", "}"}),
       "kind=\"interior\" cameralist{camera0=4,5,6,0,0 camera1=1,2,3,0,0} "
       "attachment{a0{att=\"a.x\" att-parent=\"default\"} a1{att=\"a.y\" att-parent=\"p\"}} "
       "mesh-table{default{mesh=\"cab.im\" auto-create=1}} cameradefault=0 " +
           Known("", "cab").substr(1)},
      {"interior camera list made", Lines({"kind \"interior\"", "camera 1", "cameradefault 2"}),
       Known("kind=\"interior\" cameradefault=2 cameralist{camera0=1,0,0}")},
      {"junction", Lines({"kind \"mojunction\"", "asset-filename \"j\"", "mode0 \"Left\"", "mode1 \"Right\""}),
       Known("kind=\"mojunction\" mesh-table{left{mesh=\"Left/Left.im\" auto-create=\"1\"} "
             "right{mesh=\"Right/Right.im\" auto-create=\"0\"}}",
             "j")},
      {"scenery with auto-animation and night",
       Lines({"kind \"scenery\"", "username \"s\"", "asset-filename \"house\"", "auto-animation 1",
              "night \"lit\"", "bendy 1"}),
       Known("kind=\"scenery\" mesh-table{default{auto-create=1 mesh=\"house.im\" anim=\"anim.kin\" "
             "animation-loop-speed=1} night{mesh=\"lit/lit.im\" night-mesh-base=\"default\"}}",
             "s")},
      {"scenery without animation", Lines({"kind \"SCENERY\"", "username \"s\"", "asset-filename \"shed\"",
                                           "auto-animation 0"}),
       Known("kind=\"SCENERY\" mesh-table{default{auto-create=1 mesh=\"shed.im\"}}", "s")},
      {"a mesh table names its name effects and drops night",
       Lines({"kind \"lamp\"", "night \"n\"", "mesh-table", "{", "default", "{", "effects", "{", "e1", "{",
              "kind \"name\"", "}", "e2", "{", "kind \"name\"", "name \"kept\"", "}", "e3", "{", "kind \"corona\"",
              "}", "}", "}", "}"}),
       WithDefaults("kind=\"lamp\" mesh-table{default{effects{e1{kind=\"name\" name=\"e1\"} "
                    "e2{kind=\"name\" name=\"kept\"} e3{kind=\"corona\"}}}}")},
      {"behavior thumbnails", Lines({"kind \"behavior\"", "icon-texture \"i.tga\""}),
       Known("kind=\"behavior\" thumbnails{0{image=\"i.tga\" width=64 height=64}}")},
      {"thumbnails for any kind", Lines({"kind \"lamp\"", "icon-texture \"i.tga\""}),
       "kind=\"lamp\" category-era=\"1800s\" category-class=\"ZX\" category-region=\"00\" "
       "thumbnails{0{image=\"i.tga\" width=64 height=64}}"},
      {"texture", Lines({"kind \"texture\"", "username \"t\"", "asset-filename \"grass\"", "rgb \"1,2,3\"", "light 1"}),
       Known("kind=\"texture\" texture=\"grass.texture\"", "t")},
      {"track", Lines({"kind \"track\"", "username \"t\"", "asset-filename \"rail\"", "height 1", "mini 2"}),
       Known("kind=\"track\"", "t")},
      {"bridge without a file name", Lines({"kind \"bridge\"", "height 1", "mini 2"}),
       Known("kind=\"bridge\" height=1 mini=2")},
  };
  for (const UpgradeCase& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(Upgraded(c.before), c.after);
  }
}

TEST_F(LegacyUpgrade, UsernameIsCutAtItsFirstLineEnd) {
  const std::pair<const char*, const char*> cases[] = {
      {"Joe\r\nBloggs", "Joe"}, {"Ann\nLee\r", "Ann"}, {"\rx", ""}, {"plain", "plain"}};
  for (const auto& [written, kept] : cases) {
    ACSChunkPtr config = Config(Lines({"kind \"lamp\""}));
    config.SetChildString(RUZLib::Words::kUsername, written);
    RUZLib::UpgradeLegacyConfig(config);
    EXPECT_STREQ(config.GetChildString(RUZLib::Words::kUsername).c_str(), kept) << kept;
  }
}

TEST_F(LegacyUpgrade, TurntablesAndCrossingsTakeTheirTracksFromTheMeshes) {
  points_.meshes["pit\\pit.im"] = {"a.otrack0a", "a.otrack0b", "a.otrack1a", "a.otrack1b", "a.otrack2a"};
  points_.meshes["deck\\deck.im"] = {"a.itrack0a", "a.itrack0b"};
  points_.meshes["cross\\cross.im"] = {"a.road0a", "a.road0b", "a.track0a", "a.track0b", "a.track1b"};
  points_.meshes["mode0\\mode0.im"] = {};
  const UpgradeCase cases[] = {
      {"turntable",
       Lines({"kind \"turntable\"", "username \"t\"", "asset-filename \"tt\"", "mode0 \"pit\"", "mode1 \"deck\"",
              "track <kuid:1:7>"}),
       Known("kind=\"turntable\" "
                    "mesh-table{default{mesh=\"pit/pit.im\" auto-create=1} turntable{mesh=\"deck/deck.im\"}} "
                    "attached-track{tracko0{vertices{0=\"a.otrack0a\" 1=\"a.otrack0b\"} track=<kuid:1:7> "
                    "useadjoiningtracktype=0} tracko1{vertices{0=\"a.otrack1a\" 1=\"a.otrack1b\"} track=<kuid:1:7> "
                    "useadjoiningtracktype=0} tracki0{vertices{0=\"a.itrack0a\" 1=\"a.itrack0b\"} "
                    "track=<kuid:1:7> useadjoiningtracktype=0}}",
             "t")},
      {"turntable with a missing mesh keeps its track",
       Lines({"kind \"turntable\"", "username \"t\"", "asset-filename \"tt\"", "mode0 \"pit\"", "mode1 \"gone\"",
              "track <kuid:1:7>"}),
       Known("kind=\"turntable\" track=<kuid:1:7> "
             "mesh-table{default{mesh=\"pit/pit.im\" auto-create=1} turntable{mesh=\"gone/gone.im\"}}",
             "t")},
      {"crossing",
       Lines({"kind \"mocrossing\"", "username \"c\"", "asset-filename \"x\"", "mode0 \"cross\"", "mode1 \"m\"",
              "road <kuid:1:5>", "track <kuid:1:6>"}),
       Known("kind=\"mocrossing\" "
                    "mesh-table{default{mesh=\"cross/cross.im\" anim=\"cross/anim.kin\" auto-create=1}} "
                    "attached-track{road0{vertices{0=\"a.road0a\" 1=\"a.road0b\"} track=<kuid:1:5> "
                    "useadjoiningtracktype=1} track0{vertices{0=\"a.track0a\" 1=\"a.track0b\"} track=<kuid:1:6> "
                    "useadjoiningtracktype=1}}",
             "c")},
      {"crossing without mode0 and with its own tracks",
       Lines({"kind \"mocrossing\"", "username \"c\"", "asset-filename \"x\"", "mode1 \"m\"", "attached-track",
              "{", "t 1", "}"}),
       Known("kind=\"mocrossing\" attached-track{t=1} "
             "mesh-table{default{mesh=\"mode0/mode0.im\" anim=\"mode0/anim.kin\" auto-create=1}}",
             "c")},
      {"crossing whose mesh is missing keeps its modes",
       Lines({"kind \"mocrossing\"", "username \"c\"", "asset-filename \"x\"", "mode0 \"gone\"", "mode1 \"m\""}),
       Known("kind=\"mocrossing\" mode0=\"gone\" mode1=\"m\" "
             "mesh-table{default{mesh=\"gone/gone.im\" anim=\"gone/anim.kin\" auto-create=1}}",
             "c")},
  };
  for (const UpgradeCase& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(Upgraded(c.before), c.after);
  }
  // The meshes are loaded without an owner: nothing is reported or kept.
  EXPECT_EQ(Records(), std::vector<std::string>{});
  EXPECT_TRUE(Manager().LoadedObjects().empty());
}

TEST_F(LegacyUpgrade, SceneryNamePointsBecomeNameEffects) {
  points_.meshes["sign.im"] = {"a.name0", "a.name1", "a.name3", "a.other"};
  EXPECT_EQ(Upgraded(Lines({"kind \"scenery\"", "username \"s\"", "asset-filename \"sign\"", "fontsize 2",
                            "fontcolor \"1,2,3\""})),
            Known("kind=\"scenery\" mesh-table{default{auto-create=1 mesh=\"sign.im\" "
                  "effects{0{kind=\"name\" att=\"a.name0\" fontcolor=\"1,2,3\" fontsize=2 name=\"name\"} "
                  "1{kind=\"name\" att=\"a.name1\" fontcolor=\"1,2,3\" fontsize=2 name=\"name\"}}}}",
                  "s"));
  EXPECT_EQ(points_.loads, std::vector<std::string>{"sign.im"});
}

TEST_F(LegacyUpgrade, OnlyBuildsBelow290AreUpgradedOnLoad) {
  struct BuildCase {
    const char* build;  // empty: no "velmar-build"
    bool upgraded;
  };
  const BuildCase cases[] = {{"2.9", false}, {"", true}, {"2.899", true}, {"2.89", true}, {"3.1", false}};
  for (const BuildCase& c : cases) {
    SCOPED_TRACE(c.build);
    std::string text = Lines({"kuid <kuid:1:2>", "kind \"scenery\"", "category-region-1 \"de\""});
    if (*c.build) text += std::string("velmar-build ") + c.build + "\r\n";
    Load(text);
    EXPECT_EQ(config_.HasChild(RUZLib::Words::kCategoryRegion), c.upgraded);
    EXPECT_NE(config_.HasChild(Vak::PString("category-region-1")), c.upgraded);
  }
}

ACSChunkPtr gCurrent;
ACSChunkPtr Current() { return gCurrent; }

TEST_F(LegacyUpgrade, AssetUpgradeWorksOnTheCurrentConfigBelow290) {
  struct AssetCase {
    float build;
    bool upgraded;
  };
  // The float product: 2.8999998 times 100 is 290 in float.
  const AssetCase cases[] = {{1.3f, true}, {2.899f, true}, {2.8999998f, false}, {2.9f, false}};
  RUZLib::SetCurrentConfigFunction(&Current);
  for (const AssetCase& c : cases) {
    SCOPED_TRACE(c.build);
    gCurrent = Config(Lines({"kind \"lamp\"", "category-era-0 \"1950\""}));
    Manager().currentBuild = c.build;
    RUZLib::UpgradeLegacyAsset();
    EXPECT_EQ(gCurrent.HasChild(RUZLib::Words::kCategoryEra), c.upgraded);
    EXPECT_EQ(gCurrent.HasChild(RUZLib::Words::kVelmarBuild), c.upgraded);
    if (c.upgraded) {
      EXPECT_FLOAT_EQ(gCurrent.GetChildFloat(RUZLib::Words::kVelmarBuild, 0), 2.9f);
    }
  }
  // Without a current config there is nothing to do.
  gCurrent = ACSChunkPtr();
  Manager().currentBuild = 1.3f;
  RUZLib::UpgradeLegacyAsset();
  RUZLib::SetCurrentConfigFunction(nullptr);
  RUZLib::UpgradeLegacyAsset();
}

TEST(LegacyUpgradeWithoutManager, RaisesTheDataManagersError) {
  ACSChunkPtr config;
  config.MakeContainer();
  EXPECT_ANY_THROW(RUZLib::UpgradeLegacyConfig(config));
  EXPECT_ANY_THROW(RUZLib::UpgradeLegacyAsset());
}

} // namespace
