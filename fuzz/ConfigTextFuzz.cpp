// Config texts through the parser: a result among 0 to 4, no read past the
// bytes, and what it reads holds only what the syntax allows.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "engine/kernelx/ConfigParser.h"

namespace {

void Check(const Vak::ConfigData& data, unsigned depth) {
  if (depth > Vak::ConfigParser::kMaxDepth) std::abort();
  for (unsigned i = 0; i < data.GetCount(); ++i) {
    const Vak::ConfigEntry& entry = data.GetEntry(i);
    if (entry.key.Size() == 0 || data.Find(entry.key) == nullptr) std::abort();
    for (const Vak::ConfigValue& value : entry.values) {
      float number;
      if (!value.quoted && !Vak::ConfigData::ToFloat(value, number)) std::abort();
    }
    if (entry.group) Check(*entry.group, depth + 1);
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Vak::ConfigParser parser;
  const int result = parser.ParseText(reinterpret_cast<const char*>(data), size);
  if (result < 0 || result > 4) std::abort();
  if (result != 0 && parser.GetData()) std::abort();
  if (parser.GetData()) Check(*parser.GetData(), 0);
  return 0;
}
