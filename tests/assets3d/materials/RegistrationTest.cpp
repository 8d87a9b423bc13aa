// The material plug-ins registered with the plug-in system, and the
// material manager making materials through them.
#include <typeinfo>

#include "Vak/plugins/PluginSystem.h"
#include "assets3d/materials/VelmarGlossRustMaterial.h"
#include "assets3d/materials/VelmarGroundBaseMaterial.h"
#include "assets3d/materials/VelmarMaterialPlugins.h"
#include "tests/assets3d/materials/MaterialTestSupport.h"
#include "tests/platform/os/TempFolder.h"

extern "C" __attribute__((visibility("default"))) void VakGetPlugins() { Vak::RegisterMaterialPlugins(); }

namespace {

using namespace materials_test;
using Vak::PluginSystem;

struct Registered {
  const char* name;
  const char* id;
};

const Registered kPlugins[] = {
      {"tbumpgloss", "F7478888-C721-48AB-B3C0-19621E66554E"},
      {"tbumptex", "E34011F3-C721-48ba-B3C0-19621E408CBD"},
      {"tbumpenv", "0ECEE41C-76E7-47fd-ADBB-0E938E809C03"},
      {"tonetexnoalpha", "4BB6C98F-6FDF-4cb9-9CE2-7E40B2A78626"},
      {"tglossrust", "AFCA4E1B-811A-56EE-89E4-CAB13F9B6712"},
      {"tmpfx", "643AFE90-426A-46EE-C19F-FFA0A471ABD7"},
      {"nofogtex", "AB84944B-00A6-4a18-8BAF-4664E98075AA"},
};

// This program as the library of the material plug-ins, as an installation
// configures it.
class MaterialRegistration : public ::testing::Test {
protected:
  void SetUp() override {
    const std::string group = Vak::MaterialManager::PluginGroup().ToText();
    std::string ini = "+PluginGroup=Materials:" + group + "\n";
    for (const Registered& r : kPlugins) ini += std::string("+Plugin=") + r.name + ":*:" + r.id + ":" + group + "\n";
    folder_.WriteFile("plugins.ini", ini);
    PluginSystem::SetFolders(folder_.Path().c_str(), folder_.Path().c_str());
  }
  void TearDown() override { PluginSystem::SetFolders(nullptr, nullptr); }

  platform::test::TempFolder folder_;
};

TEST_F(MaterialRegistration, SevenPluginsEachCallAndNoGroundBase) {
  const int before = Vak::MaterialPlugin::Live();
  {
    PluginSystem::Holder holder = PluginSystem::Acquire();
    for (const Registered& r : kPlugins) {
      SCOPED_TRACE(r.name);
      Vak::PluginType* plugin = nullptr;
      ASSERT_TRUE(PluginSystem::FindPlugin(Vak::MaterialManager::PluginGroup(), r.name, plugin).Ok());
      EXPECT_EQ(plugin->GetId(), Vak::UId(r.id));
      EXPECT_NE(dynamic_cast<Vak::MaterialPlugin*>(plugin), nullptr);
      plugin->ReleaseReference();
    }
    EXPECT_EQ(Vak::MaterialPlugin::Live(), before + 7) << "the module's load made one set";
    Vak::PluginType* ground = nullptr;
    EXPECT_FALSE(PluginSystem::FindPlugin(Vak::MaterialManager::PluginGroup(), "groundbase", ground).Ok());
    EXPECT_EQ(ground, nullptr);
    VakGetPlugins();
    EXPECT_EQ(Vak::MaterialPlugin::Live(), before + 14);
  }
  EXPECT_EQ(Vak::MaterialPlugin::Live(), before) << "the plug-in system owns what registered";
}

struct LoadCase {
  const char* name;
  bool pixelPrograms;   // capabilities 14 and 18
  const char* made;     // the class made, or null for the engine's own
};

TEST_F(MaterialRegistration, ManagerMakesMaterialsThroughPlugins) {
  const LoadCase cases[] = {
      {"VelmarDummyLoad.m.tbumptex", true, typeid(Vak::VelmarBumpMaterial).name()},
      {"VelmarDummyLoad.m.tbumpgloss", true, typeid(Vak::VelmarBumpGlossMaterial).name()},
      {"VelmarDummyLoad.m.tbumpgloss", false, typeid(Vak::VelmarGlossRustMaterial).name()},
      {"VelmarDummyLoad.m.tbumpenv", false, typeid(Vak::VelmarOneTexNoAlphaMaterial).name()},
      {"VelmarDummyLoad.m.tbumptex", false, nullptr},
      {"o*f*m.tonetexnoalpha", false, typeid(Vak::VelmarOneTexNoAlphaMaterial).name()},
      {"VelmarDummyLoad.m.tbumpcoltex", true, nullptr},
      {"VelmarDummyLoad.m.notex", true, nullptr},
      {"VelmarDummyLoad.m.gloss", true, nullptr},
  };
  // The plug-ins keep what they made for the display: it outlives them.
  Kernel k;
  PluginSystem::Holder holder = PluginSystem::Acquire();
  for (const LoadCase& c : cases) {
    SCOPED_TRACE(std::string(c.name) + (c.pixelPrograms ? "" : " without programs"));
    k.display().SetCapability(14, c.pixelPrograms);
    k.display().SetCapability(18, c.pixelPrograms);
    Vak::Material* material = nullptr;
    ASSERT_EQ(k.kernel.GetMaterialManager().Load(c.name, material), Vak::MaterialManager::kOk);
    ASSERT_NE(material, nullptr);
    if (c.made) {
      EXPECT_STREQ(typeid(*material).name(), c.made);
    } else {
      EXPECT_EQ(typeid(*material), typeid(Vak::Material));
      EXPECT_STREQ(material->GetName().c_str(), c.name);
    }
    material->ReleaseReference();
  }
}

TEST_F(MaterialRegistration, TypeOfName) {
  const std::pair<const char*, const char*> cases[] = {
      {"VelmarDummyLoad.m.tbumptex", "tbumptex"}, {"o*f*m.tmpfx", "tmpfx"}, {"m.notex", "notex"},
      {"o*f*brick", "brick"}, {"o*f*farm.more", "farm.more"}, {"o*f*helm.x", "helm.x"}};
  for (const auto& [name, type] : cases) EXPECT_STREQ(Vak::MaterialManager::TypeOfName(name).c_str(), type) << name;
}

} // namespace
