// A plug-in module: registers its plug-ins when asked and reports its
// loading and unloading. Built as modules "a", "b" and "c" (TEST_MODULE_TAG).
#include "tests/Vak/plugins/modules/TestPlugin.h"

#include <string>

#define TAG TEST_MODULE_TAG

namespace {

class ModuleType : public TestPluginType {
public:
  using TestPluginType::TestPluginType;
  ~ModuleType() override;
  const char* Origin() const override;
};

ModuleType::~ModuleType() { TestPluginNote(TAG ":destroy"); }
const char* ModuleType::Origin() const { return TAG; }

// Its destructor runs when the module leaves the process.
struct UnloadNote {
  ~UnloadNote() { TestPluginNote(TAG ":unload"); }
} unloadNote;

} // namespace

extern "C" void VakGetPlugins() {
  using Vak::UId;
  TestPluginNote(TAG ":load");
  const std::string tag = TAG;
  if (tag == "a") {
    new ModuleType("alpha", UId(test_ids::kAlpha), UId(test_ids::kGroup));
    new ModuleType("alpha", UId(test_ids::kAlphaOther), UId(test_ids::kOtherGroup));
  } else if (tag == "b") {
    new ModuleType("gamma", UId(test_ids::kGamma), UId(test_ids::kGroup));
  } else {
    new ModuleType("delta", UId(test_ids::kDelta), UId(test_ids::kGroup));
  }
}
