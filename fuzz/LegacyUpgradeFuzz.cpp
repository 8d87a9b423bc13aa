// Reads arbitrary bytes as a text config and runs the legacy upgrade on it
// against the kind schema the program ships, with meshes that carry track and
// name points: nothing may crash, leak or loop without end.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "content/AppGlobals.h"
#include "datamanager/DataManager.h"
#include "datamanager/ErrorHandler.h"
#include "datamanager/LegacyUpgrade.h"
#include "datamanager/MeshSource.h"
#include "fuzz/NameSweep.h"
#include "fuzz/ConfigFuzz.h"
#include "engine/dorvix/RenderKernel.h"

namespace {

// Every mesh loads, with the points turntables, crossings and scenery look for.
class PointMeshes : public RUZLib::MeshSource {
public:
  class Model : public RUZLib::MeshModel {
  public:
    bool IsExpectedInstance() const override { return true; }
    int GetPrimitiveCount() const override { return 1; }
    int GetLevelCount() const override { return 1; }
    void SetLevel(int) override {}
    std::vector<RUZLib::MeshTextureEntry> GetTextures() const override { return {}; }
    std::vector<Vak::PString> GetUnresolvedNames() const override { return {}; }
    std::vector<std::vector<Vak::PString>> GetMaterialTextureNames() const override { return {}; }
    std::vector<RUZLib::MeshAttachment> GetAttachments() const override {
      std::vector<RUZLib::MeshAttachment> list;
      for (const char* name : {"a.otrack0a", "a.otrack0b", "a.itrack0a", "a.itrack0b", "a.road0a", "a.road0b",
                               "a.track0a", "a.track0b", "a.name0", "a.name1"})
        list.push_back({Vak::PString(name), 0, 0, 0});
      return list;
    }
    void ApplyLight(Vak::ParallelLight*) override {}
    int AddAnimation(const Vak::PString&) override { return kAdded; }
    uint32_t GetAnimationValue(const Vak::PString&) override { return 0; }
  };
  Result Load(const Vak::PString&, Vak::ResourceDatabase*, Vak::RenderKernel*, bool) override {
    Result result;
    result.kind = Kind::kGeometry;
    result.model = std::make_unique<Model>();
    return result;
  }
};

bool Start() {
  static PointMeshes meshes;
  fuzz::StartDataManager();
  // Loaded meshes check their textures through the render kernel.
  static Vak::RenderKernel kernel(nullptr, 8.0f);
  kernel.Init(nullptr, 0);
  RUZLib::DataManager::Instance()->SetupScene(&kernel);
  RUZLib::DataManager::SetMeshSource(&meshes);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool started = Start();
  (void)started;
  const fuzz::NameSweep sweep;
  ACSChunkPtr config = fuzz::ReadTextConfig(data, size);
  if (config.IsNull()) return 0;
  RUZLib::UpgradeLegacyConfig(config);
  RUZLib::ErrorHandler::Instance()->Clear();
  return 0;
}
