// A "plugins.ini" of arbitrary text configures a fresh plug-in system for each
// input; look-ups by identifier and by group and name then run against it.
// The library "*" is this program, whose `VakGetPlugins` registers a plug-in
// for each value of the text that reads as name:library:id[:group], so the
// look-ups also find registered plug-ins and unload them again. A look-up
// gives a plug-in exactly when it succeeds, and the system, once released,
// leaves nothing behind.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Vak/Bexlorn/PString.h"
#include "Vak/plugins/PluginSystem.h"
#include "Vak/plugins/PluginType.h"
#include "Vak/plugins/UId.h"
#include "fuzz/FuzzInputFile.h"
#include "fuzz/NameSweep.h"

namespace {

// The values of the text (split at white space, ',' and '='), each split at
// ':'; a bounded number of them.
using Value = std::vector<std::string>;
std::vector<Value> gValues;

std::vector<Value> ValuesOf(const std::string& text) {
  std::vector<Value> values;
  size_t start = 0;
  while (start < text.size() && values.size() < 32) {
    const size_t end = text.find_first_of(" \t\r\n\v\f,=", start);
    const std::string word = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!word.empty()) {
      Value parts;
      for (size_t from = 0;;) {
        const size_t colon = word.find(':', from);
        parts.push_back(word.substr(from, colon == std::string::npos ? std::string::npos : colon - from));
        if (colon == std::string::npos) break;
        from = colon + 1;
      }
      values.push_back(std::move(parts));
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return values;
}

void Check(Vak::PluginSystem::Result result, Vak::PluginType* plugin) {
  if (result.Ok() != (plugin != nullptr)) __builtin_trap();
  if (plugin) {
    if (!plugin->GetLibrary()) __builtin_trap();
    plugin->ReleaseReference();
  }
}

}  // namespace

// Plug-ins are built registered with the running system, which owns them.
extern "C" __attribute__((visibility("default"))) void VakGetPlugins() {
  for (const Value& v : gValues)
    if (v.size() >= 3) new Vak::PluginType(Vak::PString(v[0].c_str()), Vak::UId(v[2].c_str()), Vak::UId(v.size() > 3 ? v[3].c_str() : ""));
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fuzz::NameSweep sweep;
  static const fuzz::InputFile ini("plugins.ini");
  static const bool placed = (Vak::PluginSystem::SetFolders(fuzz::ScratchFolder::Get().Path().c_str(),
                                                            fuzz::ScratchFolder::Get().Path().c_str()),
                              true);
  (void)placed;
  if (!ini.Write(data, size)) return 0;
  gValues = ValuesOf(std::string(reinterpret_cast<const char*>(data), size));

  Vak::PluginSystem* system = Vak::PluginSystem::Get();
  for (const Value& v : gValues) {
    for (const std::string& part : v) {
      Vak::PluginType* plugin = nullptr;
      Check(system->CreatePlugin(Vak::UId(part.c_str()), plugin), plugin);
    }
    Vak::PluginType* plugin = nullptr;
    Check(system->Find(Vak::UId(v.back().c_str()), Vak::PString(v.front().c_str()), plugin), plugin);
  }
  system->Release();
  gValues.clear();
  return 0;
}
