#pragma once
// A one-texture material drawn without fog, with culling and blending set
// by its flags.
#include "engine/elthrac/OneTextureMaterial.h"

namespace Vak {

class TextureStageSetting;

class VelmarNoFogMaterial : public OneTextureMaterial {
public:
  static constexpr const char* kTypeName = "nofogtex";
  // Takes a reference on the stage-0 setting (null: none).
  VelmarNoFogMaterial(const PString& type, MaterialManager* manager, RenderingCache* mask, RenderingCache* chunks,
                      TextureStageSetting* setting);
  ~VelmarNoFogMaterial() override;

  Material* Duplicate() const override;
  bool Equals(const Material& other) const override { return OneTextureMaterial::Equals(other); }
  void SetDisplayState(Display& display) override;
  void ClearDisplayState(Display& display) override;
  // First flag: draw both faces. Second flag: leave blending alone.
  bool GetFirstFlag() const { return first_; }
  void SetFirstFlag(bool on) { first_ = on; }
  bool GetSecondFlag() const { return second_; }
  void SetSecondFlag(bool on) { second_ = on; }
  void SetBlendFunction(int source, int destination) {
    source_ = source;
    destination_ = destination;
  }

private:
  TextureStageSetting* setting_;
  bool first_ = false;
  bool second_ = false;
  int source_ = 5;
  int destination_ = 6;
  int savedFog_ = 0;
  bool savedBlend_ = false;
  int savedSource_ = 0;
  int savedDestination_ = 0;
};

} // namespace Vak
