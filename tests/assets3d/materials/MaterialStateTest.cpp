// Display states, texture slots and comparisons of the one-pass, ground,
// no-fog and gloss-rust materials, and the rest of the family.
#include "assets3d/materials/VelmarGlossRustMaterial.h"
#include "assets3d/materials/VelmarGroundBaseMaterial.h"
#include "assets3d/materials/VelmarMaterialPlugins.h"
#include "assets3d/materials/VelmarMultiPFXMaterial.h"
#include "assets3d/materials/VelmarNoFogMaterial.h"
#include "tests/assets3d/materials/MaterialTestSupport.h"

namespace {

using namespace materials_test;

// Every plug-in once, and a material of each made for one kernel.
struct Family {
  Family() {
    plugins = {new Vak::VelmarBumpMaterialPlugin(),          new Vak::VelmarBumpEnvMaterialPlugin(),
               new Vak::VelmarBumpGlossMaterialPlugin(),     new Vak::VelmarGlossRustMaterialPlugin(),
               new Vak::VelmarOneTexNoAlphaMaterialPlugin(), new Vak::VelmarMultiPFXMaterialPlugin(),
               new Vak::VelmarNoFogMaterialPlugin()};
  }
  ~Family() {
    for (Vak::Material* material : made) material->ReleaseReference();
    for (Vak::MaterialPlugin* plugin : plugins) plugin->ReleaseReference();
  }
  Vak::Material* Make(Kernel& k, const char* type) {
    for (Vak::MaterialPlugin* plugin : plugins)
      if (std::string(plugin->GetName().c_str()) == type) {
        Vak::Material* material = plugin->CreateMaterial(&k.kernel.GetMaterialManager(), &k.kernel);
        if (material) made.push_back(material);
        return material;
      }
    return nullptr;
  }
  std::vector<Vak::MaterialPlugin*> plugins;
  std::vector<Vak::Material*> made;
};

TEST(GroundBaseMaterial, SetsAndRestoresAlphaTestAndDepthWrite) {
  Kernel k;
  Vak::VelmarGroundBaseMaterial ground("groundbase", nullptr, nullptr, nullptr, nullptr);
  k.display().SetAlphaTestMode(true);
  k.display().ClearCalls();
  ground.SetDisplayState(k.display());
  ground.ClearDisplayState(k.display());
  ExpectCalls(k.display().GetCalls(), {{"ClearStageTexture", {0}},
                                       {"SetAlphaTestMode", {0}},
                                       {"SetDepthWriteMode", {1}},
                                       {"ClearStageTexture", {0}},
                                       {"SetAlphaTestMode", {1}},
                                       {"SetDepthWriteMode", {1}}});

  Family family;
  Vak::Material* noAlpha = family.Make(k, "tonetexnoalpha");
  ASSERT_NE(noAlpha, nullptr);
  static_cast<Vak::VelmarGroundBaseMaterial*>(noAlpha)->SetDepthWrite(false);
  k.display().SetAlphaTestMode(false);
  k.display().ClearCalls();
  noAlpha->Bind(k.display(), &k.view, 0);
  noAlpha->Unbind(k.display(), &k.view, 0);
  noAlpha->Bind(k.display(), &k.view, 1);  // not the first pass: nothing
  ExpectCalls(k.display().GetCalls(), {{"ClearStageTexture", {0}},
                                       {"SetAlphaTestMode", {0}},
                                       {"SetDepthWriteMode", {0}},
                                       {"SetColorMaterialMode", {5}},
                                       {"ClearStageTexture", {0}},
                                       {"SetAlphaTestMode", {0}},
                                       {"SetDepthWriteMode", {1}},
                                       {"SetColorMaterialMode", {0}}});
}

struct NoFogCase {
  const char* what;
  bool first, second;
  Calls expected;
};

TEST(NoFogMaterial, SwitchesFogOffAndCullsAndBlendsByFlags) {
  const NoFogCase cases[] = {
      {"flags clear",
       false,
       false,
       {{"SetFogMode", {0}},
        {"SetCullMode", {1}},
        {"ClearStageTexture", {0}},
        {"SetAlphaBlendFunction", {5, 6}},
        {"SetAlphaBlendMode", {1}},
        {"ApplyTextureStageSetting", {1, 0}},
        {"SetFogMode", {2}},
        {"SetCullMode", {1}},
        {"SetAlphaBlendMode", {0}},
        {"SetAlphaBlendFunction", {3, 4}},
        {"ClearTextureStageSetting", {1, 0}}}},
      {"both faces, blending left alone",
       true,
       true,
       {{"SetFogMode", {0}},
        {"SetCullMode", {0}},
        {"ClearStageTexture", {0}},
        {"ApplyTextureStageSetting", {1, 0}},
        {"SetFogMode", {2}},
        {"SetCullMode", {1}},
        {"ClearTextureStageSetting", {1, 0}}}},
  };
  for (const NoFogCase& c : cases) {
    SCOPED_TRACE(c.what);
    Kernel k;
    Family family;
    auto* noFog = static_cast<Vak::VelmarNoFogMaterial*>(family.Make(k, "nofogtex"));
    ASSERT_NE(noFog, nullptr);
    EXPECT_EQ(noFog->GetAlphaBlendCache(), nullptr);
    noFog->SetFirstFlag(c.first);
    noFog->SetSecondFlag(c.second);
    k.display().SetFog(0.5f, 2);
    k.display().SetAlphaBlendFunction(3, 4);
    k.display().ClearCalls();
    noFog->SetDisplayState(k.display());
    noFog->ClearDisplayState(k.display());
    ExpectCalls(k.display().GetCalls(), c.expected);
  }
}

struct GlossRustCase {
  float rustAge;
  bool glossPath;
  double specular;  // while drawn
  double alpha;     // stage constant alpha
};

TEST(GlossRustMaterial, RustAgeChoosesGlossOrRust) {
  const GlossRustCase cases[] = {
      {0, true, 0.8, 1}, {0.5f, false, 0.8, 0}, {0.75f, false, 0.6, 0.5}, {1, false, 0.4, 1}};
  for (const GlossRustCase& c : cases) {
    SCOPED_TRACE(c.rustAge);
    Kernel k;
    Family family;
    Vak::Material* rust = family.Make(k, "tglossrust");
    ASSERT_NE(rust, nullptr);
    auto* reflection = new Vak::Texture("chrome.texture");
    ASSERT_EQ(rust->SetTexture(Vak::ReflectiveMaterial::kReflectionSlot, reflection, 1), 0);
    reflection->ReleaseReference();
    Vak::DisplayMaterial look = rust->GetDisplayMaterialProperties();
    look.specular = {0.8f, 0.8f, 0.8f, 1};
    look.diffuse = {0.5f, 1, 1, 1};
    rust->SetDisplayMaterialProperties(look);
    Vak::Light parallel;
    parallel.kind = Vak::Light::kParallel;
    parallel.ambient = {0.2f, 0.2f, 0.2f, 0};
    Vak::LightList lights{&parallel};
    Vak::GeometryChunk* chunk = rust->CreateGeometryChunk(3, 0, 3, 1, 0, Vak::StandardChunkHint());
    ASSERT_TRUE(chunk->SetChunkProperty(Vak::VelmarBumpGlossMaterial::RustAge(), c.rustAge));
    k.display().ClearCalls();
    rust->RenderChunk(k.display(), &k.view, *chunk, lights, Vak::Matrix4());
    const Calls& calls = k.display().GetCalls();
    const double s = c.specular;
    ExpectCalls(Named(calls, "SetLightingState"), {{"SetLightingState", {1, 1, s, s, s, 1}}});
    if (c.glossPath) {
      ExpectCalls(Named(calls, "ApplyTextureStageSetting"),
                  {{"ApplyTextureStageSetting", {2, 0}}, {"ApplyTextureStageSetting", {3, 1}}});
      ExpectCalls(Named(calls, "SetStageConstantColor"),
                  {{"SetStageConstantColor", {0, 1, 1, 1, 1}}, {"SetStageConstantColor", {1, 1, 1, 1, 1}}});
      ExpectCalls(Named(calls, "SetSphericalTexureCoordinates"), {{"SetSphericalTexureCoordinates", {}}});
    } else {
      ExpectCalls(Named(calls, "ApplyTextureStageSetting"),
                  {{"ApplyTextureStageSetting", {4, 0}}, {"ApplyTextureStageSetting", {5, 1}}});
      ExpectCalls(Named(calls, "SetStageConstantColor"), {{"SetStageConstantColor", {0, 0.1, 0.2, 0.2, c.alpha}},
                                                          {"SetStageConstantColor", {1, 0.1, 0.2, 0.2, c.alpha}}});
    }
    EXPECT_EQ(Named(calls, "RenderGeometry").size(), 1u);
    EXPECT_EQ(rust->GetDisplayMaterialProperties().specular, look.specular);
    EXPECT_EQ(rust->GetDisplayMaterialProperties().ambient, look.ambient);
    chunk->ReleaseReference();
  }
}

struct SlotCase {
  const char* type;
  unsigned slot;
};

TEST(MaterialFamily, SetTextureWithNullKeepsTheOldOne) {
  const SlotCase cases[] = {{"tbumptex", 8}, {"tbumpenv", 9}, {"tbumpenv", 8}, {"tbumpgloss", 9}, {"tmpfx", 12},
                            {"tglossrust", 1}, {"nofogtex", 0}};
  for (const SlotCase& c : cases) {
    SCOPED_TRACE(std::string(c.type) + " slot " + std::to_string(c.slot));
    Kernel k;
    Family family;
    Vak::Material* material = family.Make(k, c.type);
    ASSERT_NE(material, nullptr);
    auto* texture = new Vak::Texture("old.texture");
    ASSERT_EQ(material->SetTexture(c.slot, texture, 0.5f), 0);
    EXPECT_STREQ(material->GetTextureDefinition(c.slot).c_str(), "old.texture");
    EXPECT_EQ(material->SetTexture(c.slot, nullptr, 0.25f), 3);
    EXPECT_EQ(material->GetTexture(c.slot), texture);
    if (auto* env = dynamic_cast<Vak::VelmarBumpEnvMaterial*>(material); env && c.slot == 9) {
      EXPECT_EQ(env->GetStrength(), 0.5f);
    }
    EXPECT_EQ(material->DuplicateTexture(c.slot), 0);
    EXPECT_NE(material->GetTexture(c.slot), texture);
    EXPECT_EQ(material->GetTexture(c.slot)->GetName(), texture->GetName());
    texture->ReleaseReference();
  }
}

// Knows only the textures it was given.
class KnownTextures : public Vak::TextureCollection {
public:
  Vak::Texture* Find(const Vak::PString& name, Vak::ResourceDatabase*) override {
    if (std::string(name.c_str()) != "known.texture") return nullptr;
    return new Vak::Texture(name);
  }
};

TEST(MaterialFamily, SetTextureByNameLooksUpTheManagersTextures) {
  const SlotCase cases[] = {{"tbumptex", 8}, {"tbumpenv", 9}, {"tbumpgloss", 9}, {"tmpfx", 12}};
  for (const SlotCase& c : cases) {
    SCOPED_TRACE(std::string(c.type) + " slot " + std::to_string(c.slot));
    Kernel k;
    KnownTextures textures;
    k.kernel.SetTextureCollection(&textures);
    Family family;
    Vak::Material* material = family.Make(k, c.type);
    ASSERT_NE(material, nullptr);
    Vak::Texture* before = material->GetTexture(c.slot);
    material->SetAlphaHint(0);
    EXPECT_EQ(material->SetTexture(c.slot, nullptr, Vak::PString("unknown.texture"), 1.0f), 3);
    EXPECT_EQ(material->GetTexture(c.slot), before);
    EXPECT_EQ(material->GetAlphaHint(), 0);
    EXPECT_EQ(material->SetTexture(c.slot, nullptr, Vak::PString("known.texture"), 0.5f), 0);
    ASSERT_NE(material->GetTexture(c.slot), nullptr);
    EXPECT_STREQ(material->GetTexture(c.slot)->GetName().c_str(), "known.texture");
    EXPECT_STREQ(material->GetTextureDefinition(c.slot).c_str(), "known.texture");
    EXPECT_EQ(material->GetAlphaHint(), -1);
    k.kernel.SetTextureCollection(nullptr);
  }
}

// Changes one setting of a material that compares it.
using Change = void (*)(Vak::Material&);

struct EqualsCase {
  const char* what;
  const char* first;
  const char* second;
  Change change;  // applied to the second; null for none
  bool equal;
};

void OtherTexture(Vak::Material& m, unsigned slot, float strength) {
  auto* texture = new Vak::Texture("other.texture");
  m.SetTexture(slot, texture, strength);
  texture->ReleaseReference();
}

TEST(MaterialFamily, Equals) {
  const EqualsCase cases[] = {
      {"bump alike", "tbumptex", "tbumptex", nullptr, true},
      {"bump, other bump map", "tbumptex", "tbumptex", [](Vak::Material& m) { OtherTexture(m, 8, 1); }, false},
      {"bump and environment", "tbumptex", "tbumpenv", nullptr, false},
      {"environment alike", "tbumpenv", "tbumpenv", nullptr, true},
      {"environment, other strength", "tbumpenv", "tbumpenv",
       [](Vak::Material& m) {
         Vak::Texture* same = m.GetTexture(9);
         m.SetTexture(9, same, 0.5f);
       },
       false},
      {"gloss, other gloss map", "tbumpgloss", "tbumpgloss", [](Vak::Material& m) { OtherTexture(m, 9, 1); }, false},
      {"gloss alike", "tbumpgloss", "tbumpgloss", nullptr, true},
      {"no-alpha, alpha test", "tonetexnoalpha", "tonetexnoalpha",
       [](Vak::Material& m) { static_cast<Vak::VelmarGroundBaseMaterial&>(m).SetAlphaTest(true); }, false},
      {"no-alpha, depth write", "tonetexnoalpha", "tonetexnoalpha",
       [](Vak::Material& m) { static_cast<Vak::VelmarGroundBaseMaterial&>(m).SetDepthWrite(false); }, false},
      {"no-alpha alike", "tonetexnoalpha", "tonetexnoalpha", nullptr, true},
      {"multi-effect, other second texture", "tmpfx", "tmpfx", [](Vak::Material& m) { OtherTexture(m, 12, 1); },
       false},
      {"gloss-rust alike", "tglossrust", "tglossrust", nullptr, true},
      {"gloss-rust, cube map flag", "tglossrust", "tglossrust",
       [](Vak::Material& m) { static_cast<Vak::ReflectiveMaterial&>(m).SetSecondFlag(true); }, false},
      {"no-fog alike", "nofogtex", "nofogtex", nullptr, true},
      {"no-fog and no-alpha", "nofogtex", "tonetexnoalpha", nullptr, false},
  };
  for (const EqualsCase& c : cases) {
    SCOPED_TRACE(c.what);
    Kernel k;
    Family family;
    Vak::Material* a = family.Make(k, c.first);
    Vak::Material* b = family.Make(k, c.second);
    ASSERT_TRUE(a && b);
    if (c.change) c.change(*b);
    EXPECT_EQ(a->Equals(*b), c.equal);
    EXPECT_EQ(b->Equals(*a), c.equal);
  }
}

struct ChunkCase {
  const char* type;
  int vertexUsage;
  int indexUsage;
  uint32_t flags;
  Vak::GeometryChunk::Template layout;
  std::vector<std::string> setup;
  bool rustAge;
};

TEST(MaterialFamily, ChunkCreation) {
  using G = Vak::GeometryChunk;
  const std::string dynamic = "SetVertexDataDynamic(0,-2,true)";
  const std::string shared = "SetVertexDataShared(0,0,false)";
  const std::string reflected = "SetVertexDataShared(0,-3,false)";
  const ChunkCase cases[] = {
      {"tbumptex", 2, 2, 0, G::kPNTA, {dynamic, shared}, false},
      {"tbumptex", 2, 1, 0, G::kPNTA, {dynamic, shared, "SetIndexDataDynamic"}, false},
      {"tbumpenv", 2, 2, 0, G::kPNTA, {dynamic, shared, reflected}, false},
      {"tbumpenv", 2, 2, 0x1000, G::kPNTA, {dynamic, shared}, false},
      {"tbumpgloss", 2, 2, 0, G::kPNTA, {dynamic, shared, reflected}, true},
      {"tglossrust", 2, 2, 0, G::kPlainTemplate, {reflected}, true},
      {"tglossrust", 2, 2, 0x1000, G::kPlainTemplate, {}, true},
      {"tonetexnoalpha", 2, 2, 0, G::kPNT, {dynamic, shared}, false},
      {"tonetexnoalpha", 2, 2, Vak::StandardChunkHint::kSoftwareLighting, G::kPCT, {shared}, false},
      {"tonetexnoalpha", 1, 1, Vak::StandardChunkHint::kSoftwareLighting, G::kPCT,
       {dynamic, shared, "SetIndexDataDynamic"}, false},
  };
  for (const ChunkCase& c : cases) {
    SCOPED_TRACE(std::string(c.type) + " flags " + std::to_string(c.flags) + " usage " + std::to_string(c.vertexUsage) +
                 "/" + std::to_string(c.indexUsage));
    Kernel k;
    Family family;
    Vak::Material* material = family.Make(k, c.type);
    ASSERT_NE(material, nullptr);
    Vak::StandardChunkHint hint(c.vertexUsage, c.flags);
    hint.indexUsage = c.indexUsage;
    Vak::GeometryChunk* chunk = material->CreateGeometryChunk(4, 0, 6, 2, 0, hint);
    ASSERT_NE(chunk, nullptr);
    EXPECT_EQ(chunk->GetTemplate(), c.layout);
    EXPECT_EQ(chunk->GetSetupCalls(), c.setup);
    float rust = -1;
    EXPECT_EQ(chunk->GetChunkProperty(Vak::VelmarBumpGlossMaterial::RustAge(), rust), c.rustAge);
    if (c.rustAge) {
      EXPECT_EQ(rust, 0.0f);
    }
    chunk->ReleaseReference();
  }
}

TEST(MultiPFXMaterial, SecondTextureOnStageOneAndItsOwnLayout) {
  Kernel k;
  Family family;
  Vak::Material* multi = family.Make(k, "tmpfx");
  ASSERT_NE(multi, nullptr);
  EXPECT_FALSE(multi->IsLoaded());  // no second texture yet
  OtherTexture(*multi, 12, 1);
  EXPECT_TRUE(multi->IsLoaded());
  Vak::StandardChunkHint hint(1);
  Vak::GeometryChunk* chunk = multi->CreateGeometryChunk(3, 0, 3, 1, 0, hint);
  EXPECT_EQ(chunk->GetSetupCalls(), (std::vector<std::string>{"SetVertexDataDynamic(0,-2,true)",
                                                               "SetVertexDataShared(0,0,false)",
                                                               "SetIndexDataDynamic", "SetVertexType(99,0,false)"}));
  k.display().ClearCalls();
  Vak::LightList lights;
  multi->RenderChunk(k.display(), &k.view, *chunk, lights, Vak::Matrix4());
  const Calls& calls = k.display().GetCalls();
  ExpectCalls(Named(calls, "ApplyTextureStageSetting"),
              {{"ApplyTextureStageSetting", {1, 0}}, {"ApplyTextureStageSetting", {2, 1}}});
  ExpectCalls(Named(calls, "SetStageTexture"), {{"SetStageTexture", {1}}});
  ExpectCalls(Named(calls, "RegisterVertexType"), {{"RegisterVertexType", {99}}});
  chunk->ReleaseReference();
}

} // namespace
