#include <gtest/gtest.h>

#include <set>
#include <string>

#include "assets3d/AlphaBlendCacheUnsorted.h"
#include "assets3d/VelmarAlphaBlendCache.h"
#include "datamanager/DataManager.h"
#include "engine/dorvix/RenderKernel.h"
#include "engine/elthrac/ParallelLight.h"
#include "tests/content/LogCapture.h"
#include "tests/datamanager/DataManagerSupport.h"

namespace {

using datamanager::test::DataFolder;
using datamanager::test::StartedDataManager;
using RUZLib::DataManager;

// Fails the names it is given; counts the materials alive.
class FailingLoader : public Vak::MaterialManager {
public:
  explicit FailingLoader(std::set<std::string> failing) : failing_(std::move(failing)) {}
  Result Load(const Vak::PString& name, Vak::Material*& out) override {
    asked.push_back(name.c_str());
    out = nullptr;
    if (failing_.count(name.c_str())) return kFailed;
    return MaterialManager::Load(name, out);
  }
  std::vector<std::string> asked;

private:
  std::set<std::string> failing_;
};

const std::string kPrefix = "DataManager::RegisterVelmarBumpVertexType> ";

struct RegisterCase {
  const char* name;
  std::set<std::string> failing;
  std::vector<std::string> logged;  // after the prefix
  unsigned asked;                   // materials asked for
  bool chunks;                      // the geometry chunks were made
};

void PrintTo(const RegisterCase& c, std::ostream* os) { *os << c.name; }

class RegisterVertexTypes : public ::testing::TestWithParam<RegisterCase> {};

TEST_P(RegisterVertexTypes, LogsFailuresAndStopsInTheStrictFive) {
  const RegisterCase& c = GetParam();
  DataFolder folder;
  folder.WriteData("x.txt", "");
  Vak::RenderKernel kernel(nullptr, 8.0f);
  StartedDataManager manager(folder);
  ASSERT_TRUE(kernel.Init(nullptr, 0));
  FailingLoader loader(c.failing);
  kernel.SetMaterialManager(&loader);
  ASSERT_TRUE(manager->SetupScene(&kernel));
  content::test::LogCapture log;
  manager->RegisterVelmarBumpVertexType();
  EXPECT_TRUE(DataManager::DummyMaterialsRegistered());
  EXPECT_EQ(loader.asked.size(), c.asked);
  const std::string text = log.Text();
  std::size_t at = 0;
  int lines = 0;
  for (const std::string& line : c.logged) {
    at = text.find(kPrefix + line, at);
    EXPECT_NE(at, std::string::npos) << line;
    ++lines;
  }
  EXPECT_EQ(log.Count(kPrefix), lines);
  // The engine's own cache is always there; the two of the 3-D formats need
  // their factory.
  EXPECT_EQ(kernel.GetRenderingCacheManager().Count(), 1u);
  Vak::Texture* shared = kernel.GetSharedTextureCollection().Get(0);
  // The collection's reference, this one, and one per material bound.
  EXPECT_EQ(shared->ReferenceCountValue(), c.chunks ? 4 : 2);
  // A second call does nothing.
  manager->RegisterVelmarBumpVertexType();
  EXPECT_EQ(loader.asked.size(), c.asked);
  manager->ReleaseDummyMaterials();
  EXPECT_FALSE(DataManager::DummyMaterialsRegistered());
  EXPECT_EQ(kernel.GetRenderingCacheManager().Count(), 0u);
  EXPECT_EQ(shared->ReferenceCountValue(), 2);
  shared->ReleaseReference();
  manager->ReleaseDummyMaterials();  // nothing the second time
}

const RegisterCase kRegisterCases[] = {
    {"all_load", {}, {}, 14, true},
    {"lenient_failures_go_on",
     {"VelmarDummyLoad.m.tbumptex", "VelmarDummyLoad.m.tglossrust"},
     {"Unable to load 'm.tbumptex'", "Unable to load 'm.tglossrust'"},
     14,
     true},
    {"gloss_is_logged_as_glose", {"VelmarDummyLoad.m.gloss"}, {"Unable to load 'm.glose'"}, 13, false},
    {"first_strict_failure_stops",
     {"VelmarDummyLoad.m.onetex", "VelmarDummyLoad.m.reflect"},
     {"Unable to load 'm.onetex'"},
     11,
     false},
    {"lenient_then_strict",
     {"VelmarDummyLoad.m.tbumpenv", "VelmarDummyLoad.m.notex"},
     {"Unable to load 'm.tbumpenv'", "Unable to load 'm.notex'"},
     10,
     false},
    {"last_strict_failure", {"VelmarDummyLoad.m.reflect"}, {"Unable to load 'm.reflect'"}, 14, false},
};

INSTANTIATE_TEST_SUITE_P(Table, RegisterVertexTypes, ::testing::ValuesIn(kRegisterCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DataManagerScene, SharedTextureFailureIsLogged) {
  DataFolder folder;
  folder.WriteData("x.txt", "");
  Vak::RenderKernel kernel(nullptr, 8.0f);  // not initialised: no shared textures
  StartedDataManager manager(folder);
  manager->SetupScene(&kernel);
  content::test::LogCapture log;
  manager->RegisterVelmarBumpVertexType();
  EXPECT_EQ(log.Count(kPrefix + "SharedTextureCollection failed"), 1);
  manager->ReleaseDummyMaterials();
}

Vak::RenderingCache* MakeCache(int index) {
  if (index == 0) return new Vak::VelmarAlphaBlendCache;
  return new Vak::AlphaBlendCacheUnsorted;
}

TEST(DataManagerScene, AlphaBlendCachesComeFromTheFactory) {
  DataFolder folder;
  folder.WriteData("x.txt", "");
  Vak::RenderKernel kernel(nullptr, 8.0f);
  StartedDataManager manager(folder);
  kernel.Init(nullptr, 0);
  manager->SetupScene(&kernel);
  DataManager::SetAlphaBlendCacheFactory(&MakeCache);
  manager->RegisterVelmarBumpVertexType();
  DataManager::SetAlphaBlendCacheFactory(nullptr);
  const Vak::RenderingCacheManager& caches = kernel.GetRenderingCacheManager();
  ASSERT_EQ(caches.Count(), 3u);
  EXPECT_NE(dynamic_cast<Vak::VelmarAlphaBlendCache*>(caches.At(0)), nullptr);
  EXPECT_EQ(caches.At(1)->GetCacheID(), Vak::PString("AlphaBlendCacheUnsorted"));
  EXPECT_EQ(caches.At(2)->GetCacheID(), Vak::PString("UnsortedAlphaBlendCache"));
  // Materials find the sorted one as the alpha-blend cache.
  EXPECT_EQ(caches.FindCache(Vak::AlphaBlendCache::AlphaBlendCacheID()), caches.At(0));
  manager->ReleaseDummyMaterials();
  EXPECT_EQ(kernel.GetRenderingCacheManager().Count(), 0u);
}

TEST(DataManagerScene, LightAndFogOnlyWithAView) {
  DataFolder folder;
  folder.WriteData("x.txt", "");
  Vak::RenderKernel kernel(nullptr, 8.0f);
  {
    StartedDataManager manager(folder);
    manager->SetupScene(&kernel);
    EXPECT_TRUE(kernel.GetSceneGraph().Contains(manager->GetRootParticle()));
    EXPECT_EQ(manager->GetLight(), nullptr);
    EXPECT_EQ(kernel.GetDisplay().FogMode(), 0);
  }
  EXPECT_EQ(kernel.GetSceneGraph().SceneCount(), 0u);
  Vak::View view(&kernel.GetDisplay());
  StartedDataManager manager(folder);
  manager->SetupScene(&kernel, &view);
  Vak::ParallelLight* light = manager->GetLight();
  ASSERT_NE(light, nullptr);
  EXPECT_EQ(view.GetScene(), manager->GetRootParticle());
  EXPECT_EQ(light->Parent(), manager->GetRootParticle());
  EXPECT_EQ(light->Range(), 100000.0f);
  EXPECT_EQ(light->Ambient(), (Vak::Colour{0.1f, 0.1f, 0.1f, 1.0f}));
  EXPECT_EQ(light->Diffuse(), (Vak::Colour{0.7f, 0.7f, 0.7f, 1.0f}));
  EXPECT_EQ(light->Specular(), (Vak::Colour{0.6f, 0.6f, 0.6f, 1.0f}));
  EXPECT_EQ(kernel.GetDisplay().FogDensity(), 1e-18f);
  EXPECT_EQ(kernel.GetDisplay().FogMode(), 3);
}

} // namespace
