#include "Vak/plugins/PluginSystem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/OS.h"
#include "Vak/plugins/PluginInstance.h"
#include "tests/Vak/plugins/modules/TestPlugin.h"
#include "tests/platform/os/TempFolder.h"

// --- What the modules call back -------------------------------------------------

namespace {
// Never destroyed: modules kept for the process note their unloading at exit.
std::vector<std::string>& Notes() {
  static auto* notes = new std::vector<std::string>;
  return *notes;
}

int Count(const std::string& event) { return static_cast<int>(std::count(Notes().begin(), Notes().end(), event)); }

class SelfType : public TestPluginType {
public:
  using TestPluginType::TestPluginType;
  ~SelfType() override { TestPluginNote("self:destroy"); }
  const char* Origin() const override { return "self"; }
};
} // namespace

TestPluginType::~TestPluginType() = default;

extern "C" void TestPluginNote(const char* event) { Notes().push_back(event); }

// The running program's own plug-in entry ("*").
extern "C" void VakGetPlugins() {
  TestPluginNote("self:load");
  new SelfType("self", Vak::UId(test_ids::kSelf), Vak::UId(test_ids::kGroup));
}

namespace {

using platform::test::TempFolder;
using Vak::PluginLibrary;
using Vak::PluginSystem;
using Vak::PluginType;
using Vak::PString;
using Vak::UId;
using namespace test_ids;

constexpr const char* kGhost = "60000000-0000-0000-0000-000000000006";
constexpr const char* kBroken = "B0000000-0000-0000-0000-00000000000B";
constexpr const char* kRemapFrom = "F0000000-0000-0000-0000-00000000000F";
constexpr const char* kGroupAlias = "6A000000-0000-0000-0000-0000000000A6";
constexpr const char* kOrphanGroup = "0A000000-0000-0000-0000-0000000000A0";
constexpr const char* kUnknownGroup = "0B000000-0000-0000-0000-0000000000B0";
constexpr const char* kLoose = "10000000-0000-0000-0000-000000000001";

std::string Module(const char* base) { return std::string(VAK_TEST_MODULE_DIR "/") + base; }
const std::string kModuleA = Module("TestPluginA");
const std::string kModuleB = Module("TestPluginB");
const std::string kModuleC = Module("TestPluginC");  // never kept past its system

std::string Group(const char* name, const char* id, const char* parent = nullptr) {
  return std::string("+PluginGroup=") + name + ":" + id + (parent ? std::string(":") + parent : "") + "\n";
}
std::string Plugin(const char* name, const std::string& library, const char* id, const char* group = nullptr) {
  return std::string("+Plugin=") + name + ":" + library + ":" + id + (group ? std::string(":") + group : "") + "\n";
}
std::string Remap(const char* from, const char* to) { return std::string("+PluginRemap=") + from + ":" + to + "\n"; }

// A found plug-in, given back when the test is done with it.
struct Found {
  PluginSystem::Result result;
  PluginType* plugin = nullptr;
  ~Found() {
    if (plugin) plugin->ReleaseReference();
  }
  const char* Origin() const { return plugin ? static_cast<TestPluginType*>(plugin)->Origin() : ""; }
};

class PluginSystemTest : public ::testing::Test {
protected:
  void SetUp() override {
    Notes().clear();
    ASSERT_TRUE(Vak::File::GetCwd(oldCwd_));
    ASSERT_TRUE(Vak::File::ChDir(cwd_.Path().c_str()));
    PluginSystem::SetFolders(kernel_.Path().c_str(), program_.Path().c_str());
  }
  void TearDown() override {
    Vak::File::ChDir(oldCwd_);
    PluginSystem::SetFolders(nullptr, nullptr);
  }

  static void FindPlugin(Found& found, const char* group, const char* name) {
    found.result = PluginSystem::FindPlugin(UId(group), PString(name), found.plugin);
  }

  TempFolder kernel_, program_, cwd_;
  Vak::FilePath oldCwd_;
};

TEST(PluginLibraryTest, ModuleFileNames) {
  const std::vector<std::pair<const char*, const char*>> cases = {
      {"foo", "foo_7s.so"},           {"foo.dll", "foo_7s.so"},     {"Foo.DLL", "Foo_7s.so"},
      {"foo.exe", "foo_7s.exe"},      {"FOO.Exe", "FOO_7s.exe"},    {"foo.bar", "foo.bar_7s.so"},
      {"dir.d/foo", "dir.d/foo_7s.so"}, {"dir\\foo.dll", "dir\\foo_7s.so"},
  };
  for (const auto& [name, file] : cases)
    EXPECT_STREQ(PluginLibrary::ModuleFileName(name), file) << name;
}

TEST(PluginResultsTest, NamesAndTexts) {
  struct Case {
    unsigned code;
    const char* name;
    const char* text;
  };
  const std::vector<Case> plugin = {
      {1, "RES_PLUGINIDNOTFOUND", "Plugin id not found"},
      {2, "RES_PLUGINGROUPIDNOTFOUND", "Plugin group id not found"},
      {3, "RES_PLUGINNAMENOTFOUND", "Plugin name not found"},
      {4, "RES_PLUGINLIBRARYNOTFOUND", "Plugin has no library associated or library was not found"},
  };
  for (const Case& c : plugin) {
    PluginSystem::Result r(static_cast<PluginSystem::Results>(c.code));
    EXPECT_STREQ(r.Name(), c.name);
    EXPECT_STREQ(r.Text(), c.text);
  }
  const std::vector<Case> library = {
      {1, "RES_LIBRARYNOTFOUND", "Plugin library not found"},
      {2, "RES_ENTRYPOINTNOTFOUND", "Plugin library has no entry point"},
      {3, "RES_NOTSUPPORTED", "Dynamic loading not supported"},
  };
  for (const Case& c : library) {
    PluginLibrary::Result r(static_cast<PluginLibrary::Results>(c.code));
    EXPECT_STREQ(r.Name(), c.name);
    EXPECT_STREQ(r.Text(), c.text);
  }
  EXPECT_EQ(PluginSystem::RES_PLUGINLIBRARYNOTFOUND, 4u);
  EXPECT_EQ(PluginLibrary::RES_ENTRYPOINTNOTFOUND, 2u);
}

// The group comes from the kernel's folder, the plug-in from the program's,
// the remap from the current folder; each place missing loses its part.
TEST_F(PluginSystemTest, ReadsPluginsIniFromItsThreePlaces) {
  struct Case {
    bool kernel, program, cwd;
    PluginSystem::Results byName, byRemap;
  };
  const std::vector<Case> cases = {
      {true, true, true, PluginSystem::RES_OK, PluginSystem::RES_OK},
      {false, true, true, PluginSystem::RES_PLUGINNAMENOTFOUND, PluginSystem::RES_PLUGINIDNOTFOUND},
      {true, false, true, PluginSystem::RES_PLUGINNAMENOTFOUND, PluginSystem::RES_PLUGINIDNOTFOUND},
      {true, true, false, PluginSystem::RES_OK, PluginSystem::RES_PLUGINIDNOTFOUND},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.kernel << c.program << c.cwd);
    for (TempFolder* f : {&kernel_, &program_, &cwd_}) std::filesystem::remove(f->Path() / "plugins.ini");
    if (c.kernel) kernel_.WriteFile("plugins.ini", Group("Types", kGroup));
    if (c.program) program_.WriteFile("plugins.ini", Plugin("alpha", kModuleA, kAlpha, kGroup));
    if (c.cwd) cwd_.WriteFile("plugins.ini", Remap(kRemapFrom, kAlpha));

    Found byName;
    FindPlugin(byName, kGroup, "alpha");
    EXPECT_EQ(byName.result, c.byName);
    if (byName.result.Ok()) {
      EXPECT_STREQ(byName.Origin(), "a");
    }

    PluginSystem::Holder holder = PluginSystem::Acquire();
    Found byRemap;
    byRemap.result = holder->CreatePlugin(UId(kRemapFrom), byRemap.plugin);
    EXPECT_EQ(byRemap.result, c.byRemap);
    if (byRemap.result.Ok()) {
      EXPECT_TRUE(byRemap.plugin->GetId() == UId(kAlpha));
    }
  }
}

// One folder serving as all three places is read once: read twice, the child
// group (whose line precedes its parent's) would be known the second time.
TEST_F(PluginSystemTest, ReadsAFolderServingSeveralPlacesOnce) {
  PluginSystem::SetFolders(cwd_.Path().c_str(), cwd_.Path().c_str());
  cwd_.WriteFile("plugins.ini", Group("Child", kOtherGroup, kGroup) + Group("Types", kGroup) +
                                    Plugin("alpha", kModuleA, kAlphaOther, kOtherGroup) +
                                    Plugin("alpha", kModuleA, kAlpha, kGroup));
  Found child;
  FindPlugin(child, kOtherGroup, "alpha");
  EXPECT_EQ(child.result, PluginSystem::RES_PLUGINNAMENOTFOUND);
  EXPECT_EQ(Count("a:load"), 0);
  Found parent;
  FindPlugin(parent, kGroup, "alpha");
  EXPECT_EQ(parent.result, PluginSystem::RES_OK);
}

TEST_F(PluginSystemTest, FindsByGroupAndName) {
  program_.WriteFile("plugins.ini", Group("Types", kGroup) + Group("Other", kOtherGroup, kGroup) +
                                        Group("Orphan", kOrphanGroup, kUnknownGroup) +
                                        Plugin("alpha", kModuleA + ".dll", kAlpha, kGroup) +
                                        Plugin("alpha", kModuleA + ".dll", kAlphaOther, kOtherGroup) +
                                        Plugin("lost", kModuleA + ".dll", kGhost, kOrphanGroup) +
                                        Plugin("gamma", kModuleB, kGamma, kGroup));
  struct Case {
    const char* group;
    const char* name;
    PluginSystem::Results result;
    const char* id;      // of the plug-in found
    const char* origin;  // the module whose code serves it
  };
  const std::vector<Case> cases = {
      {kGroup, "alpha", PluginSystem::RES_OK, kAlpha, "a"},
      {kOtherGroup, "alpha", PluginSystem::RES_OK, kAlphaOther, "a"},
      {kGroup, "gamma", PluginSystem::RES_OK, kGamma, "b"},
      {kOtherGroup, "gamma", PluginSystem::RES_PLUGINNAMENOTFOUND, nullptr, ""},
      // The orphan group's parent is unknown, so the group and its plug-in are ignored.
      {kOrphanGroup, "lost", PluginSystem::RES_PLUGINNAMENOTFOUND, nullptr, ""},
      {kGroup, "ALPHA", PluginSystem::RES_PLUGINNAMENOTFOUND, nullptr, ""},
      {kGroup, "none", PluginSystem::RES_PLUGINNAMENOTFOUND, nullptr, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Found found;
    FindPlugin(found, c.group, c.name);
    EXPECT_EQ(found.result, c.result);
    EXPECT_STREQ(found.Origin(), c.origin);
    if (c.id) {
      ASSERT_NE(found.plugin, nullptr);
      EXPECT_TRUE(found.plugin->GetId() == UId(c.id));
      EXPECT_STREQ(found.plugin->GetName().c_str(), c.name);
    } else {
      EXPECT_EQ(found.plugin, nullptr);
    }
  }
  PluginSystem::Holder holder = PluginSystem::Acquire();
  Found lost;
  lost.result = holder->CreatePlugin(UId(kGhost), lost.plugin);
  EXPECT_EQ(lost.result, PluginSystem::RES_PLUGINIDNOTFOUND);
}

TEST_F(PluginSystemTest, RemapsServeTheReplacement) {
  program_.WriteFile("plugins.ini", Group("Types", kGroup) + Plugin("alpha", kModuleA, kAlpha, kGroup) +
                                        Remap(kRemapFrom, kAlpha) + Remap(kGroupAlias, kGroup) +
                                        Remap(kAlpha, kGhost));
  PluginSystem::Holder holder = PluginSystem::Acquire();
  Found byId, byGroup, original;
  byId.result = holder->CreatePlugin(UId(kRemapFrom), byId.plugin);
  ASSERT_EQ(byId.result, PluginSystem::RES_OK);
  EXPECT_TRUE(byId.plugin->GetId() == UId(kAlpha));
  byGroup.result = holder->Find(UId(kGroupAlias), PString("alpha"), byGroup.plugin);
  EXPECT_EQ(byGroup.result, PluginSystem::RES_OK);
  EXPECT_EQ(byGroup.plugin, byId.plugin);
  // A remap is one step: the remapped identifier itself now leads elsewhere.
  original.result = holder->CreatePlugin(UId(kAlpha), original.plugin);
  EXPECT_EQ(original.result, PluginSystem::RES_PLUGINIDNOTFOUND);
  EXPECT_EQ(Count("a:load"), 1);
}

// Thousands of lines of each kind: the first line of an identifier, of a
// name in a group and of a remapped identifier is the one that counts, and
// plug-ins naming one library share it.
TEST_F(PluginSystemTest, ManyLinesKeepTheirFirstWinners) {
  constexpr int kMany = 1500;
  constexpr int kLibraries = 500;
  auto id = [](int i) {
    char text[40];
    std::snprintf(text, sizeof text, "%08X-0000-0000-0000-00000000C0DE", 0x100000 + i);
    return std::string(text);
  };
  auto library = [](int i) { return "missing" + std::to_string(i % kLibraries); };
  std::string ini = Group("Types", kGroup) + Plugin("alpha", kModuleA, kAlpha, kGroup);
  for (int i = 0; i < kMany; ++i) {
    ini += Plugin(("p" + std::to_string(i)).c_str(), library(i), id(i).c_str(), kGroup);
    ini += Remap(id(kMany + i).c_str(), i == 700 ? kAlpha : id(i).c_str());
  }
  ini += Plugin("alpha", library(0), kAlpha, kGroup);
  ini += Plugin("alpha", library(1), id(2 * kMany).c_str(), kGroup);
  ini += Remap(id(kMany + 700).c_str(), id(0).c_str());
  program_.WriteFile("plugins.ini", ini);
  {
    PluginSystem::Holder holder = PluginSystem::Acquire();
    Found byName;
    byName.result = holder->Find(UId(kGroup), PString("alpha"), byName.plugin);
    ASSERT_EQ(byName.result, PluginSystem::RES_OK);
    EXPECT_TRUE(byName.plugin->GetId() == UId(kAlpha));
    EXPECT_STREQ(byName.Origin(), "a");
  }
  PluginSystem::Holder holder = PluginSystem::Acquire();
  Found byId, byRemap;
  byId.result = holder->CreatePlugin(UId(kAlpha), byId.plugin);
  ASSERT_EQ(byId.result, PluginSystem::RES_OK);
  EXPECT_STREQ(byId.Origin(), "a");
  byRemap.result = holder->CreatePlugin(UId(id(kMany + 700).c_str()), byRemap.plugin);
  EXPECT_EQ(byRemap.plugin, byId.plugin);
  for (int i = 0; i < kLibraries; ++i) {
    PluginLibrary* shared = holder->FindLibrary(PString(library(i).c_str()));
    ASSERT_NE(shared, nullptr) << i;
    EXPECT_EQ(shared->GetName(), PString(library(i + kLibraries).c_str()));
  }
  EXPECT_EQ(holder->FindLibrary(PString("missing500")), nullptr);
  // A plug-in whose module is missing flags its library for every plug-in
  // that names it.
  Found missing, sharing, unloadable;
  missing.result = holder->CreatePlugin(UId(id(3).c_str()), missing.plugin);
  EXPECT_EQ(missing.result, PluginSystem::RES_PLUGINIDNOTFOUND);
  EXPECT_TRUE(holder->FindLibrary(PString(library(3).c_str()))->IsNotFound());
  EXPECT_FALSE(holder->FindLibrary(PString(library(4).c_str()))->IsNotFound());
  sharing.result = holder->Find(UId(kGroup), PString(("p" + std::to_string(3 + kLibraries)).c_str()), sharing.plugin);
  EXPECT_EQ(sharing.result, PluginSystem::RES_PLUGINNAMENOTFOUND);
  unloadable.result = holder->Find(UId(kGroup), PString("p4"), unloadable.plugin);
  EXPECT_EQ(unloadable.result, PluginSystem::RES_PLUGINLIBRARYNOTFOUND);
  EXPECT_TRUE(holder->FindLibrary(PString(library(4).c_str()))->IsNotFound());
}

TEST_F(PluginSystemTest, LoadsAModuleOnlyWhenFirstAsked) {
  program_.WriteFile("plugins.ini", Group("Types", kGroup) + Plugin("alpha", kModuleA, kAlpha, kGroup) +
                                        Plugin("gamma", kModuleB, kGamma, kGroup));
  PluginSystem::Holder holder = PluginSystem::Acquire();
  PluginLibrary* a = holder->FindLibrary(PString(kModuleA.c_str()));
  PluginLibrary* b = holder->FindLibrary(PString(kModuleB.c_str()));
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_FALSE(a->IsLoaded());
  EXPECT_EQ(Count("a:load"), 0);

  Found first, second;
  first.result = holder->CreatePlugin(UId(kAlpha), first.plugin);
  ASSERT_EQ(first.result, PluginSystem::RES_OK);
  EXPECT_TRUE(a->IsLoaded());
  EXPECT_EQ(first.plugin->GetLibrary(), a);
  EXPECT_EQ(a->GetPlugins().size(), 2u);
  FindPlugin(second, kGroup, "alpha");
  EXPECT_EQ(second.plugin, first.plugin);
  EXPECT_EQ(Count("a:load"), 1);
  EXPECT_FALSE(b->IsLoaded());
  EXPECT_EQ(Count("b:load"), 0);
}

// Without a holder each look-up builds the system and tears it down again;
// a holder keeps the module loaded until it is dropped.
TEST_F(PluginSystemTest, AHolderKeepsModulesLoaded) {
  program_.WriteFile("plugins.ini", Group("Types", kGroup) + Plugin("delta", kModuleC, kDelta, kGroup));
  PluginSystem::Holder holder = PluginSystem::Acquire();
  for (int i = 0; i < 3; ++i) {
    Found found;
    FindPlugin(found, kGroup, "delta");
    ASSERT_EQ(found.result, PluginSystem::RES_OK);
    EXPECT_STREQ(found.Origin(), "c");
  }
  EXPECT_EQ(Count("c:load"), 1);
  EXPECT_EQ(Count("c:destroy"), 0);
  EXPECT_EQ(Count("c:unload"), 0);
  PluginSystem::Holder moved = std::move(holder);
  EXPECT_FALSE(holder);
  moved.Reset();
  EXPECT_EQ(Count("c:destroy"), 1);
  EXPECT_EQ(Count("c:unload"), 1);
}

// A plug-in still referenced when its system goes keeps its module mapped:
// its code runs until its last reference is given back.
TEST_F(PluginSystemTest, AReferencedPluginKeepsItsModule) {
  program_.WriteFile("plugins.ini", Group("Types", kGroup) + Plugin("gamma", kModuleB, kGamma, kGroup));
  {
    Found first, second;
    FindPlugin(first, kGroup, "gamma");
    FindPlugin(second, kGroup, "gamma");
    ASSERT_EQ(first.result, PluginSystem::RES_OK);
    ASSERT_EQ(second.result, PluginSystem::RES_OK);
    EXPECT_NE(first.plugin, second.plugin);  // each system loaded the module anew
    EXPECT_EQ(Count("b:load"), 2);
    EXPECT_EQ(first.plugin->GetLibrary(), nullptr);  // its library went with the system
    EXPECT_EQ(Count("b:destroy"), 0);
    EXPECT_STREQ(first.Origin(), "b");
    EXPECT_STREQ(second.Origin(), "b");
  }
  EXPECT_EQ(Count("b:destroy"), 2);
  EXPECT_EQ(Count("b:unload"), 0);
}

TEST_F(PluginSystemTest, AModuleWithoutTheEntryFails) {
  program_.WriteFile("plugins.ini", Group("Types", kGroup) + Plugin("broken", Module("NoEntry"), kBroken, kGroup));
  {
    PluginSystem::Holder holder = PluginSystem::Acquire();
    PluginLibrary* library = holder->FindLibrary(PString(Module("NoEntry").c_str()));
    ASSERT_NE(library, nullptr);
    EXPECT_EQ(holder->LoadModule(*library), PluginLibrary::RES_ENTRYPOINTNOTFOUND);
    EXPECT_EQ(Count("noentry:unload"), 1);  // freed again
    EXPECT_FALSE(library->IsLoaded());
    EXPECT_TRUE(library->IsNotFound());
    EXPECT_EQ(holder->LoadModule(*library), PluginLibrary::RES_LIBRARYNOTFOUND);
    EXPECT_EQ(Count("noentry:unload"), 1);  // not tried again
  }
  Found byName;
  FindPlugin(byName, kGroup, "broken");
  EXPECT_EQ(byName.result, PluginSystem::RES_PLUGINLIBRARYNOTFOUND);
  EXPECT_EQ(byName.plugin, nullptr);
  PluginSystem::Holder holder = PluginSystem::Acquire();
  Found byId;
  byId.result = holder->CreatePlugin(UId(kBroken), byId.plugin);
  EXPECT_EQ(byId.result, PluginSystem::RES_PLUGINIDNOTFOUND);
}

TEST_F(PluginSystemTest, AMissingModuleFails) {
  const std::string absent = Module("Absent");
  program_.WriteFile("plugins.ini", Group("Types", kGroup) + Plugin("gone", absent, kBroken, kGroup));
  PluginSystem::Holder holder = PluginSystem::Acquire();
  Found byName;
  byName.result = holder->Find(UId(kGroup), PString("gone"), byName.plugin);
  EXPECT_EQ(byName.result, PluginSystem::RES_PLUGINLIBRARYNOTFOUND);
  PluginLibrary* library = holder->FindLibrary(PString(absent.c_str()));
  ASSERT_NE(library, nullptr);
  EXPECT_TRUE(library->IsNotFound());
  EXPECT_EQ(holder->LoadModule(*library), PluginLibrary::RES_LIBRARYNOTFOUND);
  Found byId;
  byId.result = holder->CreatePlugin(UId(kBroken), byId.plugin);
  EXPECT_EQ(byId.result, PluginSystem::RES_PLUGINIDNOTFOUND);
}

TEST_F(PluginSystemTest, StarIsTheRunningProgram) {
  program_.WriteFile("plugins.ini", Group("Types", kGroup) + Plugin("self", "*", kSelf, kGroup));
  {
    Found found;
    FindPlugin(found, kGroup, "self");
    ASSERT_EQ(found.result, PluginSystem::RES_OK);
    EXPECT_STREQ(found.Origin(), "self");
    EXPECT_EQ(Count("self:load"), 1);
  }
  EXPECT_EQ(Count("self:destroy"), 1);
  PluginSystem::Holder holder = PluginSystem::Acquire();
  PluginLibrary* library = holder->FindLibrary(PString("*"));
  ASSERT_NE(library, nullptr);
  EXPECT_TRUE(library->IsProgram());
  EXPECT_EQ(holder->LoadModule(*library), PluginLibrary::RES_OK);
  EXPECT_EQ(Count("self:load"), 2);
  library->Unload();
  EXPECT_EQ(Count("self:destroy"), 2);
  EXPECT_EQ(holder->LoadModule(*library), PluginLibrary::RES_OK);  // the program is still there
  EXPECT_EQ(Count("self:load"), 3);
}

// A module that does not serve the identifier it is configured for is
// unloaded again, and that plug-in is not loaded a second time.
TEST_F(PluginSystemTest, APluginItsModuleDoesNotServeIsNotRetried) {
  program_.WriteFile("plugins.ini", Group("Types", kGroup) + Plugin("ghost", kModuleC, kGhost, kGroup));
  PluginSystem::Holder holder = PluginSystem::Acquire();
  PluginLibrary* library = holder->FindLibrary(PString(kModuleC.c_str()));
  for (int i = 0; i < 2; ++i) {
    Found found;
    found.result = holder->CreatePlugin(UId(kGhost), found.plugin);
    EXPECT_EQ(found.result, PluginSystem::RES_PLUGINIDNOTFOUND);
  }
  EXPECT_EQ(Count("c:load"), 1);
  EXPECT_EQ(Count("c:unload"), 1);
  EXPECT_FALSE(library->IsLoaded());
  EXPECT_FALSE(library->IsNotFound());
  // A look-up by name has no such flag: it tries the module again.
  Found byName;
  byName.result = holder->Find(UId(kGroup), PString("ghost"), byName.plugin);
  EXPECT_EQ(byName.result, PluginSystem::RES_PLUGINNAMENOTFOUND);
  EXPECT_EQ(Count("c:load"), 2);
  EXPECT_FALSE(library->IsLoaded());
}

// Plug-ins registered outside a module load have no library to serve them;
// the system owns them and destroys them with itself.
TEST_F(PluginSystemTest, PluginsRegisteredOutsideALoadHaveNoLibrary) {
  PluginSystem::Holder holder = PluginSystem::Acquire();
  new SelfType("loose", UId(kLoose), UId(kGroup));
  Found found;
  found.result = holder->CreatePlugin(UId(kLoose), found.plugin);
  EXPECT_EQ(found.result, PluginSystem::RES_PLUGINLIBRARYNOTFOUND);
  holder.Reset();
  EXPECT_EQ(Count("self:destroy"), 1);
}

// Modules that export "PluginList" add configuration, found in the current
// folder ("AutoPlugin") or in the program's "PluginDir" folders.
TEST_F(PluginSystemTest, ScansModulesForConfiguration) {
  struct Case {
    const char* options;
    bool chdir;
    bool withOS;
    PluginSystem::Results result;
  };
  const std::string dir = std::string("-PluginDir=") + VAK_TEST_SCAN_DIR;
  const std::vector<Case> cases = {
      {"-AutoPlugin", true, true, PluginSystem::RES_OK},
      {dir.c_str(), false, true, PluginSystem::RES_OK},
      {"", true, true, PluginSystem::RES_PLUGINIDNOTFOUND},
      {"-AutoPlugin", true, false, PluginSystem::RES_PLUGINIDNOTFOUND},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    std::unique_ptr<Vak::OS> os;
    if (c.withOS) {
      os = std::make_unique<Vak::OS>("", nullptr, nullptr, nullptr);
      os->GetOptions()->ProcessRaw(c.options);
    }
    ASSERT_TRUE(Vak::File::ChDir(c.chdir ? VAK_TEST_SCAN_DIR : cwd_.Path().c_str()));
    PluginSystem::Holder holder = PluginSystem::Acquire();
    Found found;
    found.result = holder->CreatePlugin(UId(kSelf), found.plugin);
    EXPECT_EQ(found.result, c.result);
  }
}

TEST(PluginInstanceTest, KeepsItsPluginAlive) {
  Notes().clear();
  struct Instance : Vak::PluginInstance {};
  auto* type = new SelfType("instance", UId(kLoose), UId(kGroup));  // no system: ours
  auto* instance = new Instance;
  instance->Assign(type);
  instance->Assign(type);
  EXPECT_EQ(type->ReferenceCountValue(), 2);
  type->ReleaseReference();
  EXPECT_EQ(Count("self:destroy"), 0);
  EXPECT_EQ(instance->GetType(), type);
  instance->ReleaseReference();
  EXPECT_EQ(Count("self:destroy"), 1);
}

} // namespace
