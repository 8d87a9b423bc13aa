// A module without the plug-in entry.
#include "tests/Vak/plugins/modules/TestPlugin.h"

namespace {
struct UnloadNote {
  ~UnloadNote() { TestPluginNote("noentry:unload"); }
} unloadNote;
} // namespace

extern "C" void NotTheEntry() {}
