// What the material plug-ins check, gather, register and make.
#include "assets3d/materials/VelmarGlossRustMaterial.h"
#include "assets3d/materials/VelmarMaterialPlugins.h"
#include "engine/dorvix/RenderingCache.h"
#include "tests/assets3d/materials/MaterialTestSupport.h"

namespace {

using namespace materials_test;

struct SupportCase {
  const char* what;
  std::vector<int> capabilities;
  int stages;
  bool supported[4];         // tbumptex, tbumpgloss, tbumpenv, tglossrust
  const char* fallback[4];   // when not supported
};

TEST(MaterialPlugins, IsSupportedNamesFallBacks) {
  const SupportCase cases[] = {
      {"everything", {1, 14, 18}, 4, {true, true, true, true}, {}},
      {"no capability 18", {1, 14}, 4, {false, false, false, true}, {"onetex", "tglossrust", "tonetexnoalpha", ""}},
      {"no capability 14", {1, 18}, 4, {false, false, false, true}, {"onetex", "tglossrust", "tonetexnoalpha", ""}},
      {"no capability 1", {14, 18}, 1, {true, true, true, false}, {"", "", "", "onetex"}},
  };
  Vak::MaterialPlugin* plugins[4] = {new Vak::VelmarBumpMaterialPlugin(), new Vak::VelmarBumpGlossMaterialPlugin(),
                                     new Vak::VelmarBumpEnvMaterialPlugin(),
                                     new Vak::VelmarGlossRustMaterialPlugin()};
  for (const SupportCase& c : cases) {
    SCOPED_TRACE(c.what);
    Vak::Display display;
    for (int capability : c.capabilities) display.SetCapability(capability, true);
    display.SetNumTextureStages(c.stages);
    for (int i = 0; i < 4; ++i) {
      SCOPED_TRACE(plugins[i]->GetName().c_str());
      Vak::PString fallback;
      EXPECT_EQ(plugins[i]->IsSupported(display, fallback), c.supported[i]);
      if (!c.supported[i]) {
        EXPECT_STREQ(fallback.c_str(), c.fallback[i]);
      }
    }
  }
  for (Vak::MaterialPlugin* plugin : plugins) plugin->ReleaseReference();
}

TEST(MaterialPlugins, SecondMaterialReusesCachesAndPrograms) {
  Kernel k;
  auto* plugin = new Vak::VelmarBumpGlossMaterialPlugin();
  Vak::Material* first = plugin->CreateMaterial(&k.kernel.GetMaterialManager(), &k.kernel);
  ASSERT_NE(first, nullptr);
  const unsigned vertexTexts = Vak::VertexProgramManager::Registered().Registrations();
  const unsigned pixelTexts = Vak::TextureCombinerManager::Registered().Registrations();
  const Vak::BumpPrograms programs = plugin->GetPrograms();
  EXPECT_EQ(k.kernel.GetRenderingCacheManager().Count(), 3u);

  Vak::Material* second = plugin->CreateMaterial(&k.kernel.GetMaterialManager(), &k.kernel);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(Vak::VertexProgramManager::Registered().Registrations(), vertexTexts);
  EXPECT_EQ(Vak::TextureCombinerManager::Registered().Registrations(), pixelTexts);
  EXPECT_EQ(k.kernel.GetRenderingCacheManager().Count(), 3u);
  EXPECT_EQ(plugin->GetPrograms().parallelVertex, programs.parallelVertex);
  EXPECT_EQ(plugin->GetPrograms().spotPixel, programs.spotPixel);
  const auto& a = static_cast<const Vak::VelmarBumpGlossMaterial&>(*first);
  const auto& b = static_cast<const Vak::VelmarBumpGlossMaterial&>(*second);
  EXPECT_EQ(a.GetPrograms().parallelVertex, b.GetPrograms().parallelVertex);
  EXPECT_EQ(a.GetAlphaBlendCache(), b.GetAlphaBlendCache());
  first->ReleaseReference();
  second->ReleaseReference();
  plugin->ReleaseReference();
}

TEST(MaterialPlugins, CachesFoundInTheKernelAreShared) {
  Kernel k;
  auto* blend = new Vak::AlphaBlendCache(1);
  k.kernel.GetRenderingCacheManager().AddCache(blend);
  auto* plugin = new Vak::VelmarBumpMaterialPlugin();
  Vak::Material* material = plugin->CreateMaterial(&k.kernel.GetMaterialManager(), &k.kernel);
  ASSERT_NE(material, nullptr);
  EXPECT_EQ(plugin->GetAlphaBlendCache(), blend);
  EXPECT_EQ(k.kernel.GetRenderingCacheManager().Count(), 3u);
  material->ReleaseReference();
  plugin->ReleaseReference();
  blend->ReleaseReference();
}

TEST(MaterialPlugins, FailedProgramGivesNoMaterialAndKeepsNoPrograms) {
  Kernel k;
  k.display().GetTextureCombinerManager()->SetFailing("VelmarBumpEnvMat_SpotLight");
  auto* plugin = new Vak::VelmarBumpEnvMaterialPlugin();
  EXPECT_EQ(plugin->CreateMaterial(&k.kernel.GetMaterialManager(), &k.kernel), nullptr);
  EXPECT_EQ(plugin->GetPrograms().parallelVertex, nullptr);
  EXPECT_EQ(plugin->GetPrograms().parallelPixel, nullptr);
  k.display().GetTextureCombinerManager()->SetFailing("");
  Vak::Material* material = plugin->CreateMaterial(&k.kernel.GetMaterialManager(), &k.kernel);
  EXPECT_NE(material, nullptr);
  if (material) material->ReleaseReference();
  plugin->ReleaseReference();
}

TEST(MaterialPlugins, FailingThirdGlossRustSettingReleasesTheFirstTwo) {
  Kernel k;
  auto* plugin = new Vak::VelmarGlossRustMaterialPlugin();
  // The one-texture base makes its own setting first.
  k.display().FailStageSettingAfter(3);
  EXPECT_EQ(plugin->CreateMaterial(&k.kernel.GetMaterialManager(), &k.kernel), nullptr);
  EXPECT_EQ(plugin->GetSettingCount(), 0u);
  EXPECT_EQ(k.display().LiveStageSettings(), 1);
  ExpectCalls(Named(k.display().GetCalls(), "ReleaseTextureStageSetting"),
              {{"ReleaseTextureStageSetting", {3}}, {"ReleaseTextureStageSetting", {2}}});
  plugin->ReleaseReference();
}

// Colour set then alpha set: first, second, mode, function, then each TexArg.
std::vector<double> Setting(int stage, std::vector<double> colour, std::vector<double> alpha) {
  std::vector<double> args{double(stage)};
  args.insert(args.end(), colour.begin(), colour.end());
  args.insert(args.end(), alpha.begin(), alpha.end());
  return args;
}

TEST(MaterialPlugins, GlossRustSettingsFollowThePresets) {
  const std::vector<double> g1{0, 2, 0, 1, 0, 0, 0, 0, 0, 2, 0, 3, 3, 0, 3, 3};
  const std::vector<double> g2{0, 1, 1, 0, 0, 1, 0, 0, 3, 3, 0, 3, 3, 0, 3, 3};
  const std::vector<double> g3{1, 1, 0, 7, 0, 0, 2, 0, 0, 0, 0, 0, 3, 0, 3, 3};
  const std::vector<double> g4{1, 1, 1, 0, 0, 1, 1, 0, 3, 3, 0, 3, 3, 0, 3, 3};
  const std::vector<double> g6{0, 1, 1, 1, 1, 1, 2, 0, 1, 3, 0, 3, 3, 0, 3, 3};
  const std::vector<double> g7{1, 1, 0, 7, 0, 0, 3, 0, 0, 0, 0, 1, 0, 0, 3, 3};
  Kernel k;
  auto* plugin = new Vak::VelmarGlossRustMaterialPlugin();
  Vak::Material* material = plugin->CreateMaterial(&k.kernel.GetMaterialManager(), &k.kernel);
  ASSERT_NE(material, nullptr);
  EXPECT_EQ(plugin->GetSettingCount(), 4u);
  Calls made = Named(k.display().GetCalls(), "CreateTextureStageSetting");
  ASSERT_EQ(made.size(), 5u);
  made.erase(made.begin());  // the one-texture base's own
  ExpectCalls(made, {{"CreateTextureStageSetting", Setting(0, g1, g2)},
                     {"CreateTextureStageSetting", Setting(1, g3, g4)},
                     {"CreateTextureStageSetting", Setting(0, g1, g6)},
                     {"CreateTextureStageSetting", Setting(1, g7, g4)}});
  material->ReleaseReference();
  plugin->ReleaseReference();
}

TEST(MaterialPlugins, PresetTable) {
  struct PresetCase {
    const char* name;
    const char* same;  // a preset sharing its values
  };
  for (const PresetCase& c : {PresetCase{"G5", "G1"}, {"N1", "G1"}, {"N2", "G2"}, {"G8", "G4"}}) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Vak::TextureArgsPreset(c.name), Vak::TextureArgsPreset(c.same));
  }
  const Vak::TextureArgs& m4 = Vak::TextureArgsPreset("M4");
  EXPECT_EQ(m4, (Vak::TextureArgs(1, 1, Vak::ModeType(1), Vak::DTexFuncType(1), {0, 1, 0}, {0, 1, 2}, {0, 3, 3},
                                  {0, 3, 3})));
}

} // namespace
