#include "assets3d/materials/VelmarMaterialPlugins.h"

#include <cstring>
#include <new>

#include "assets3d/materials/VelmarGlossRustMaterial.h"
#include "assets3d/materials/VelmarGroundBaseMaterial.h"
#include "assets3d/materials/VelmarMultiPFXMaterial.h"
#include "assets3d/materials/VelmarNoFogMaterial.h"
#include "engine/dorvix/RenderingCache.h"
#include "engine/dorvix/RenderKernel.h"
#include "engine/dorvix/VertexProgram.h"

namespace Vak {

namespace {

constexpr int kCapabilityStageBlend = 1;
constexpr int kCapabilityPixelPrograms = 14;
constexpr int kCapabilityVertexPrograms = 18;

struct Preset {
  const char* names[3];
  TextureArgs args;
};
constexpr TexArg kNone{0, 3, 3};
const Preset kPresets[] = {
    {{"G1", "G5", "N1"}, {0, 2, ModeType(0), DTexFuncType(1), {0, 0, 0}, {0, 0, 2}, kNone, kNone}},
    {{"G2", "N2"}, {0, 1, ModeType(1), DTexFuncType(0), {0, 1, 0}, kNone, kNone, kNone}},
    {{"G3"}, {1, 1, ModeType(0), DTexFuncType(7), {0, 0, 2}, {0, 0, 0}, {0, 0, 3}, kNone}},
    {{"G4", "G8"}, {1, 1, ModeType(1), DTexFuncType(0), {0, 1, 1}, kNone, kNone, kNone}},
    {{"G6"}, {0, 1, ModeType(1), DTexFuncType(1), {1, 1, 2}, {0, 1, 3}, kNone, kNone}},
    {{"G7"}, {1, 1, ModeType(0), DTexFuncType(7), {0, 0, 3}, {0, 0, 0}, {0, 1, 0}, kNone}},
    {{"M1"}, {0, 2, ModeType(0), DTexFuncType(1), {0, 0, 2}, {0, 0, 0}, kNone, kNone}},
    {{"M2"}, {0, 1, ModeType(1), DTexFuncType(1), {0, 1, 2}, {0, 1, 0}, kNone, kNone}},
    {{"M3"}, {1, 1, ModeType(0), DTexFuncType(0), {0, 0, 0}, kNone, kNone, kNone}},
    {{"M4"}, {1, 1, ModeType(1), DTexFuncType(1), {0, 1, 0}, {0, 1, 2}, kNone, kNone}},
};

// The body every switch set of the library shares; the header names the
// programs and their switches.
constexpr const char* kVertexLibrary = R"(version 2.0
vertextype "PNTA" position normal texcoord tangent
program "VelmarBump_ParallelLight" ParallelLight OneTex Fog
program "VelmarBump_SpotLight" SpotLight OneTex Fog
program "VelmarBumpGloss_ParallelLight" ParallelLight OneTex Fog SphereMap
program "VelmarBumpGloss_SpotLight" SpotLight OneTex Fog SphereMap
program "VelmarBumpEnv_ParallelLight" ParallelLight OneTex Fog cubeMap
program "VelmarBumpEnv_SpotLight" SpotLight OneTex Fog cubeMap
state mvp modelview texture1
attrib tangent 4
local 4 lightColor
local 5 lightPos
local 6 invLightRadius
local 7 lightDir
local 8 lightAmb
local 9 basisX
local 10 basisY
local 11 basisZ
local 12 globalAmb
local 13 viewPos
body
  binormal = cross(normal, tangent)
  basis = (tangent, binormal, normal)
#if ParallelLight
  toLight = lightDir
#endif
#if SpotLight
  toLight = normalize(lightPos - position)
  falloff = saturate((dot(-toLight, lightDir) - invLightRadius.x) * invLightRadius.y)
#endif
  halfAngle = normalize(toLight + normalize(viewPos - position))
  out.position = mvp * position
  out.color0 = basis * toLight * 0.5 + 0.5
  out.color1 = falloff
  out.texcoord0 = texcoord
  out.texcoord1 = texcoord
  out.texcoord2 = basis * halfAngle
#if SphereMap
  out.texcoord3 = spheremap(modelview * normal)
#endif
#if cubeMap
  out.texcoord3 = texture1 * reflect(modelview * position, modelview * normal)
#endif
  out.fog = (modelview * position).z
)";

constexpr const char* kBumpParallel = R"(version 1.1
const 0 LightDiff 0 0 0 1
const 1 LightAmb 0 0 0 1 ; alpha must be 1
const 2 Specular 0.9 0.9 0.9 0.75
tex t0 ; base
tex t1 ; bump: normal, gloss in alpha
dp3_sat r0, t1_bx2, v0_bx2
mad r0, r0, c0, c1
mul_x2 r0, r0, t0
mul r1, t1.a, c2
add r0.rgb, r0, r1
+mov r0.a, c0.a
)";

constexpr const char* kEnvSpot = R"(version 1.1
const 0 LightDiff 0 0 0 1
const 1 LightAmb 0 0 0 1 ; alpha must be 1
const 2 Specular 0.9 0.9 0.9 0.75
tex t0 ; base
tex t1 ; bump: normal, gloss in alpha
tex t2 ; half angle
dp3_sat r1, t1_bx2, t2_bx2
mul r1, r1, t1.a
dp3_sat r0, t1_bx2, v0_bx2
add r0, c0, c1
mul_x2 r0, r0, t0
mad r1, r1, r1, -c2.a
lrp r1, v1.a, r1, v1
add r0.rgb, r0, r1
+mov r0.a, c0.a
)";

constexpr const char* kGloss = R"(version 1.1
const 0 LightDiff 0 0 0 1
const 1 LightAmb 0 0 0 1
const 2 Lerp 0 0 1 1
const 3 Specular 0.9 0.9 0.9 0.75
tex t0 ; base
tex t1 ; bump: normal, gloss in alpha
tex t3 ; gloss map
dp3_sat r0, t1_bx2, v0_bx2
mad r0, r0, c0, c1
mul_x2 r0, r0, t0
mul r1, t3, c3
lrp r0.rgb, c2, r1, r0
+mov r0.a, c0.a
)";

constexpr const char* kRust = R"(version 1.1
const 0 LightDiff 0 0 0 1
const 1 LightAmb 0 0 0 1
const 2 RustColor 0 0 1 1
const 3 Specular 0.9 0.9 0.9 0.75
tex t0 ; base
tex t1 ; bump: normal, gloss in alpha
dp3_sat r0, t1_bx2, v0_bx2
mad r0, r0, c0, c1
mul_x2 r0, r0, t0
lrp r0.rgb, c2.a, c2, r0
+mov r0.a, c0.a
)";

struct PixelProgram {
  const char* name;
  const char* text;
};
const PixelProgram kPixelPrograms[] = {
    {"VelmarBumpMat_ParallelLight", kBumpParallel},   {"VelmarBumpEnvMat_ParallelLight", kBumpParallel},
    {"VelmarBumpEnvMat_SpotLight", kEnvSpot},          {"VelmarBumpGlossMat_ParallelLight", kGloss},
    {"VelmarBumpGlossMat_SpotLight", kGloss},          {"VelmarBumpRustMat_ParallelLight", kRust},
};

void Take(RenderingCache*& cache) {
  if (cache) cache->ReleaseReference();
  cache = nullptr;
}

} // namespace

const char* const kVelmarBumpVertexLibrary = kVertexLibrary;

const char* BuiltInPixelProgram(const char* name) {
  for (const PixelProgram& program : kPixelPrograms)
    if (std::strcmp(program.name, name) == 0) return program.text;
  return nullptr;
}

const TextureArgs& TextureArgsPreset(const char* name) {
  for (const Preset& preset : kPresets)
    for (const char* n : preset.names)
      if (n && std::strcmp(n, name) == 0) return preset.args;
  return kPresets[0].args;
}

// ------------------------------------------------------------ bump base

VelmarBumpMaterialPluginBase::~VelmarBumpMaterialPluginBase() {
  ReleasePrograms();
  Take(chunks_);
  Take(mask_);
  Take(blend_);
}

bool VelmarBumpMaterialPluginBase::IsSupported(Display& display, PString& fallback) {
  if (display.SupportsCapability(kCapabilityVertexPrograms) && display.SupportsCapability(kCapabilityPixelPrograms))
    return true;
  fallback = Fallback();
  return false;
}

bool VelmarBumpMaterialPluginBase::GatherCaches(RenderKernel* kernel) {
  if (blend_) return true;
  if (!kernel) return false;
  RenderingCacheManager& caches = kernel->GetRenderingCacheManager();
  blend_ = GatherCache<AlphaBlendCache>(caches, AlphaBlendCache::AlphaBlendCacheID());
  mask_ = GatherCache<AlphaMaskCache>(caches, AlphaMaskCache::AlphaMaskCacheID());
  chunks_ = GatherCache<MaterialChunkCache>(caches, MaterialChunkCache::MaterialChunkCacheID());
  return true;
}

bool VelmarBumpMaterialPluginBase::SetUpPrograms(RenderKernel* kernel) {
  if (programs_.parallelVertex && programs_.parallelPixel && programs_.spotVertex && programs_.spotPixel)
    return true;
  const ProgramNames names = Names();
  VertexProgramManager::RegisterBuiltInPrograms("VelmarBumpMaterial_Vtx", kVertexLibrary);
  for (unsigned i = 0; i < names.count; ++i)
    if (const char* text = BuiltInPixelProgram(names.pixel[i])) TextureCombinerManager::RegisterBuiltInPrograms(names.pixel[i], text);
  if (!kernel) return false;
  Display& display = kernel->GetDisplay();
  VertexProgramManager* vertexManager = display.GetVertexProgramManager();
  TextureCombinerManager* pixelManager = display.GetTextureCombinerManager();
  if (!vertexManager || !pixelManager) return false;
  VertexProgram** vertex[4] = {&programs_.parallelVertex, &programs_.spotVertex, &second_.parallelVertex,
                               &second_.spotVertex};
  TextureCombiner** pixel[4] = {&programs_.parallelPixel, &programs_.spotPixel, &second_.parallelPixel,
                                &second_.spotPixel};
  ProgramResult result;
  for (unsigned i = 0; i < names.count; ++i)
    if (vertexManager->Create(result, kernel, *vertex[i], "VelmarBumpMaterial_Vtx", names.vertex[i], 99, 0, nullptr,
                              nullptr) != 0)
      return false;
  for (unsigned i = 0; i < names.count; ++i)
    if (pixelManager->Create(result, kernel, *pixel[i], names.pixel[i], nullptr) != 0) return false;
  return true;
}

void VelmarBumpMaterialPluginBase::ReleasePrograms() {
  for (BumpPrograms* set : {&programs_, &second_}) {
    for (VertexProgram** p : {&set->parallelVertex, &set->spotVertex})
      if (*p) (*p)->ReleaseReference(), *p = nullptr;
    for (TextureCombiner** p : {&set->parallelPixel, &set->spotPixel})
      if (*p) (*p)->ReleaseReference(), *p = nullptr;
  }
}

Material* VelmarBumpMaterialPluginBase::CreateMaterial(MaterialManager* manager, RenderKernel* kernel) {
  if (!GatherCaches(kernel)) return nullptr;
  if (!SetUpPrograms(kernel)) {
    ReleasePrograms();
    return nullptr;
  }
  Material* material = Build(manager, kernel);
  if (material) material->Assign(this);
  return material;
}

// ------------------------------------------------------------- plug-ins

VelmarBumpMaterialPlugin::VelmarBumpMaterialPlugin()
    : VelmarBumpMaterialPluginBase("tbumptex", UId("E34011F3-C721-48ba-B3C0-19621E408CBD")) {}

const char* VelmarBumpMaterialPlugin::Fallback() const { return OneTextureMaterial::UNDECORATED_TYPE; }

VelmarBumpMaterialPluginBase::ProgramNames VelmarBumpMaterialPlugin::Names() const {
  return {{"VelmarBump_ParallelLight", "VelmarBump_SpotLight"},
          {"VelmarBumpMat_ParallelLight", "VelmarBumpMat_ParallelLight"},
          2};
}

Material* VelmarBumpMaterialPlugin::Build(MaterialManager* manager, RenderKernel* kernel) {
  return new (std::nothrow) VelmarBumpMaterial(GetName(), manager, kernel, blend_, mask_, chunks_, programs_);
}

VelmarBumpEnvMaterialPlugin::VelmarBumpEnvMaterialPlugin()
    : VelmarBumpMaterialPluginBase("tbumpenv", UId("0ECEE41C-76E7-47fd-ADBB-0E938E809C03")) {}

VelmarBumpMaterialPluginBase::ProgramNames VelmarBumpEnvMaterialPlugin::Names() const {
  return {{"VelmarBumpEnv_ParallelLight", "VelmarBumpEnv_SpotLight"},
          {"VelmarBumpEnvMat_ParallelLight", "VelmarBumpEnvMat_SpotLight"},
          2};
}

Material* VelmarBumpEnvMaterialPlugin::Build(MaterialManager* manager, RenderKernel* kernel) {
  return new (std::nothrow) VelmarBumpEnvMaterial(GetName(), manager, kernel, blend_, mask_, chunks_, programs_);
}

VelmarBumpGlossMaterialPlugin::VelmarBumpGlossMaterialPlugin()
    : VelmarBumpMaterialPluginBase("tbumpgloss", UId("F7478888-C721-48AB-B3C0-19621E66554E")) {}

VelmarBumpMaterialPluginBase::ProgramNames VelmarBumpGlossMaterialPlugin::Names() const {
  return {{"VelmarBumpGloss_ParallelLight", "VelmarBumpGloss_SpotLight", "VelmarBump_ParallelLight",
           "VelmarBump_SpotLight"},
          {"VelmarBumpGlossMat_ParallelLight", "VelmarBumpGlossMat_SpotLight", "VelmarBumpRustMat_ParallelLight",
           "VelmarBumpRustMat_ParallelLight"},
          4};
}

Material* VelmarBumpGlossMaterialPlugin::Build(MaterialManager* manager, RenderKernel* kernel) {
  return new (std::nothrow)
      VelmarBumpGlossMaterial(GetName(), manager, kernel, blend_, mask_, chunks_, programs_, second_);
}

// ------------------------------------------------------------ gloss-rust

VelmarGlossRustMaterialPlugin::VelmarGlossRustMaterialPlugin()
    : OneTextureMaterialPlugin("tglossrust", UId("AFCA4E1B-811A-56EE-89E4-CAB13F9B6712")) {}

VelmarGlossRustMaterialPlugin::~VelmarGlossRustMaterialPlugin() {
  // The display may be gone by now: the settings are let go on their own.
  for (unsigned i = count_; i-- > 0;) settings_[i]->ReleaseReference();
}

bool VelmarGlossRustMaterialPlugin::IsSupported(Display& display, PString& fallback) {
  if (display.SupportsCapability(kCapabilityStageBlend)) return true;
  fallback = OneTextureMaterial::UNDECORATED_TYPE;
  return false;
}

void VelmarGlossRustMaterialPlugin::ReleaseSettings() {
  for (unsigned i = count_; i-- > 0;) {
    if (display_) display_->ReleaseTextureStageSetting(settings_[i]);
    settings_[i] = nullptr;
  }
  count_ = 0;
}

bool VelmarGlossRustMaterialPlugin::CreatePluginResources(RenderKernel* kernel) {
  if (!OneTextureMaterialPlugin::CreatePluginResources(kernel)) return false;
  if (count_ != 0) return true;
  display_ = &kernel->GetDisplay();
  static const struct {
    int stage;
    const char* colour;
    const char* alpha;
  } kSettings[4] = {{0, "G1", "G2"}, {1, "G3", "G4"}, {0, "G5", "G6"}, {1, "G7", "G8"}};
  for (const auto& setting : kSettings) {
    settings_[count_] = display_->CreateTextureStageSetting(setting.stage, TextureArgsPreset(setting.colour),
                                                            TextureArgsPreset(setting.alpha));
    if (!settings_[count_]) {
      ReleaseSettings();
      return false;
    }
    ++count_;
  }
  return true;
}

Material* VelmarGlossRustMaterialPlugin::CreateMaterial(MaterialManager* manager, RenderKernel* kernel) {
  if (!CreatePluginResources(kernel)) return nullptr;
  auto* material = new (std::nothrow) VelmarGlossRustMaterial(GetName(), manager, GetAlphaBlendCache(),
                                                              GetAlphaMaskCache(), GetMaterialChunkCache(),
                                                              settings_, count_);
  if (material) material->Assign(this);
  return material;
}

// -------------------------------------------------------------- no-alpha

VelmarOneTexNoAlphaMaterialPlugin::VelmarOneTexNoAlphaMaterialPlugin()
    : OneTextureMaterialPlugin("tonetexnoalpha", UId("4BB6C98F-6FDF-4cb9-9CE2-7E40B2A78626")) {}

VelmarOneTexNoAlphaMaterialPlugin::~VelmarOneTexNoAlphaMaterialPlugin() {
  if (setting_) setting_->ReleaseReference();
}

bool VelmarOneTexNoAlphaMaterialPlugin::CreatePluginResources(RenderKernel* kernel) {
  if (!OneTextureMaterialPlugin::CreatePluginResources(kernel)) return false;
  if (!setting_) {
    display_ = &kernel->GetDisplay();
    setting_ = display_->CreateTextureStageSetting(0, TextureArgsPreset("N1"), TextureArgsPreset("N2"));
  }
  return setting_ != nullptr;
}

Material* VelmarOneTexNoAlphaMaterialPlugin::CreateMaterial(MaterialManager* manager, RenderKernel* kernel) {
  if (!CreatePluginResources(kernel)) return nullptr;
  auto* material = new (std::nothrow)
      VelmarOneTexNoAlphaMaterial(GetName(), manager, GetAlphaBlendCache(), GetMaterialChunkCache(), setting_);
  if (material) material->Assign(this);
  return material;
}

// ---------------------------------------------------------- multi-effect

VelmarMultiPFXMaterialPlugin::VelmarMultiPFXMaterialPlugin()
    : MaterialPlugin("tmpfx", UId("643AFE90-426A-46EE-C19F-FFA0A471ABD7")) {}

VelmarMultiPFXMaterialPlugin::~VelmarMultiPFXMaterialPlugin() {
  for (int i = 1; i >= 0; --i)
    if (settings_[i]) settings_[i]->ReleaseReference();
  Take(blend_);
  Take(mask_);
  Take(chunks_);
}

bool VelmarMultiPFXMaterialPlugin::IsSupported(Display& display, PString& fallback) {
  if (display.GetNumTextureStages() > 1) return true;
  fallback = OneTextureMaterial::UNDECORATED_TYPE;
  return false;
}

bool VelmarMultiPFXMaterialPlugin::GatherCaches(RenderKernel* kernel) {
  // Without a kernel it goes on with nothing gathered.
  if (!kernel || chunks_) return true;
  RenderingCacheManager& caches = kernel->GetRenderingCacheManager();
  chunks_ = GatherCache<MaterialChunkCache>(caches, MaterialChunkCache::MaterialChunkCacheID());
  mask_ = GatherCache<AlphaMaskCache>(caches, AlphaMaskCache::AlphaMaskCacheID());
  blend_ = GatherCache<AlphaBlendCache>(caches, AlphaBlendCache::AlphaBlendCacheID());
  display_ = &kernel->GetDisplay();
  settings_[0] = display_->CreateTextureStageSetting(0, TextureArgsPreset("M1"), TextureArgsPreset("M2"));
  if (settings_[0]) {
    settings_[1] = display_->CreateTextureStageSetting(1, TextureArgsPreset("M3"), TextureArgsPreset("M4"));
    if (!settings_[1]) {
      display_->ReleaseTextureStageSetting(settings_[0]);
      settings_[0] = nullptr;
    }
  }
  return true;
}

Material* VelmarMultiPFXMaterialPlugin::CreateMaterial(MaterialManager* manager, RenderKernel* kernel) {
  if (!GatherCaches(kernel)) return nullptr;
  auto* material = new (std::nothrow)
      VelmarMultiPFXMaterial(GetName(), manager, blend_, mask_, chunks_, settings_[0], settings_[1]);
  if (material) material->Assign(this);
  return material;
}

// ---------------------------------------------------------------- no-fog

VelmarNoFogMaterialPlugin::VelmarNoFogMaterialPlugin()
    : OneTextureMaterialPlugin("nofogtex", UId("AB84944B-00A6-4a18-8BAF-4664E98075AA")) {}

Material* VelmarNoFogMaterialPlugin::CreateMaterial(MaterialManager* manager, RenderKernel* kernel) {
  if (!CreatePluginResources(kernel)) return nullptr;
  auto* material = new (std::nothrow)
      VelmarNoFogMaterial(GetName(), manager, GetAlphaMaskCache(), GetMaterialChunkCache(), GetBaseSetting());
  if (material) material->Assign(this);
  return material;
}

// ---------------------------------------------------------- registration

void RegisterMaterialPlugins() {
  // Each registers itself; the plug-in system keeps the reference. The
  // ground base has a name but no plug-in: it is only a base class.
  new (std::nothrow) VelmarBumpGlossMaterialPlugin();
  new (std::nothrow) VelmarBumpMaterialPlugin();
  new (std::nothrow) VelmarBumpEnvMaterialPlugin();
  new (std::nothrow) VelmarOneTexNoAlphaMaterialPlugin();
  new (std::nothrow) VelmarGlossRustMaterialPlugin();
  new (std::nothrow) VelmarMultiPFXMaterialPlugin();
  new (std::nothrow) VelmarNoFogMaterialPlugin();
}

} // namespace Vak
