#pragma once
// The plug-ins that make the bump materials and the gloss-rust stage
// settings, with the built-in program texts their materials draw with.
#include "assets3d/materials/VelmarBumpMaterial.h"
#include "engine/dorvix/TextureStage.h"
#include "engine/elthrac/MaterialPlugin.h"

namespace Vak {

// The texture-stage argument presets, by name ("G1".."G8", "M1".."M4",
// "N1", "N2"); the first preset for an unknown name.
const TextureArgs& TextureArgsPreset(const char* name);

// The built-in program texts, registered under their names.
extern const char* const kVelmarBumpVertexLibrary;  // "VelmarBumpMaterial_Vtx"
// Null for a name that is none of the pixel programs.
const char* BuiltInPixelProgram(const char* name);

// The bump plug-ins share their set-up; each names its programs.
class VelmarBumpMaterialPluginBase : public MaterialPlugin {
public:
  using MaterialPlugin::MaterialPlugin;
  ~VelmarBumpMaterialPluginBase() override;

  bool IsSupported(Display& display, PString& fallback) override;
  Material* CreateMaterial(MaterialManager* manager, RenderKernel* kernel) override;
  RenderingCache* GetAlphaBlendCache() const { return blend_; }
  const BumpPrograms& GetPrograms() const { return programs_; }

protected:
  // The programs, in creation order: vertex names, then pixel names.
  struct ProgramNames {
    const char* vertex[4];
    const char* pixel[4];
    unsigned count;  // 2 or 4 of each
  };
  virtual const char* Fallback() const = 0;
  virtual ProgramNames Names() const = 0;
  virtual Material* Build(MaterialManager* manager, RenderKernel* kernel) = 0;

  bool GatherCaches(RenderKernel* kernel);
  bool SetUpPrograms(RenderKernel* kernel);
  void ReleasePrograms();

  RenderingCache* blend_ = nullptr;
  RenderingCache* mask_ = nullptr;
  RenderingCache* chunks_ = nullptr;
  BumpPrograms programs_;
  BumpPrograms second_;  // the plain bump and rust programs of the gloss plug-in
};

class VelmarBumpMaterialPlugin : public VelmarBumpMaterialPluginBase {
public:
  VelmarBumpMaterialPlugin();

protected:
  const char* Fallback() const override;
  ProgramNames Names() const override;
  Material* Build(MaterialManager* manager, RenderKernel* kernel) override;
};

class VelmarBumpEnvMaterialPlugin : public VelmarBumpMaterialPluginBase {
public:
  VelmarBumpEnvMaterialPlugin();

protected:
  const char* Fallback() const override { return "tonetexnoalpha"; }
  ProgramNames Names() const override;
  Material* Build(MaterialManager* manager, RenderKernel* kernel) override;
};

class VelmarBumpGlossMaterialPlugin : public VelmarBumpMaterialPluginBase {
public:
  VelmarBumpGlossMaterialPlugin();

protected:
  const char* Fallback() const override { return "tglossrust"; }
  ProgramNames Names() const override;
  Material* Build(MaterialManager* manager, RenderKernel* kernel) override;
};

// Makes its four stage settings in CreatePluginResources.
class VelmarGlossRustMaterialPlugin : public OneTextureMaterialPlugin {
public:
  VelmarGlossRustMaterialPlugin();
  ~VelmarGlossRustMaterialPlugin() override;

  bool IsSupported(Display& display, PString& fallback) override;
  bool CreatePluginResources(RenderKernel* kernel) override;
  Material* CreateMaterial(MaterialManager* manager, RenderKernel* kernel) override;
  unsigned GetSettingCount() const { return count_; }
  TextureStageSetting* GetSetting(unsigned i) const { return i < count_ ? settings_[i] : nullptr; }

private:
  void ReleaseSettings();
  unsigned count_ = 0;
  TextureStageSetting* settings_[4] = {};
  Display* display_ = nullptr;
};

class VelmarOneTexNoAlphaMaterialPlugin : public OneTextureMaterialPlugin {
public:
  VelmarOneTexNoAlphaMaterialPlugin();
  ~VelmarOneTexNoAlphaMaterialPlugin() override;
  bool CreatePluginResources(RenderKernel* kernel) override;
  Material* CreateMaterial(MaterialManager* manager, RenderKernel* kernel) override;
  TextureStageSetting* GetSetting() const { return setting_; }

private:
  TextureStageSetting* setting_ = nullptr;
  Display* display_ = nullptr;
};

class VelmarMultiPFXMaterialPlugin : public MaterialPlugin {
public:
  VelmarMultiPFXMaterialPlugin();
  ~VelmarMultiPFXMaterialPlugin() override;
  bool IsSupported(Display& display, PString& fallback) override;
  Material* CreateMaterial(MaterialManager* manager, RenderKernel* kernel) override;
  TextureStageSetting* GetSetting(int stage) const { return settings_[stage]; }

private:
  bool GatherCaches(RenderKernel* kernel);

  RenderingCache* chunks_ = nullptr;
  RenderingCache* mask_ = nullptr;
  RenderingCache* blend_ = nullptr;
  TextureStageSetting* settings_[2] = {};
  Display* display_ = nullptr;
};

class VelmarNoFogMaterialPlugin : public OneTextureMaterialPlugin {
public:
  VelmarNoFogMaterialPlugin();
  Material* CreateMaterial(MaterialManager* manager, RenderKernel* kernel) override;
};

// Registers the material plug-ins with the running plug-in system (a second
// call registers a second set).
void RegisterMaterialPlugins();

} // namespace Vak
