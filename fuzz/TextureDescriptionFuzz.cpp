// The texture description reader and the settings it hands on must take any
// text. Input: the description's bytes.
#include <cstddef>
#include <cstdint>

#include "engine/dorvix/AsciiTextureResource.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Vak::TextureDescription description;
  if (!description.Parse(reinterpret_cast<const char*>(data), size)) return 0;
  for (const auto& option : description.settings)
    if (option.key.empty()) __builtin_trap();
  Vak::AsciiTextureResource texture(Vak::PString("fuzz.texture"), nullptr);
  texture.LoadTextureOptions(description.settings);
  for (uint8_t wrap : {texture.GetWrapS(), texture.GetWrapT()})
    if (wrap != Vak::TextureResource::kClamp && wrap != Vak::TextureResource::kRepeat) __builtin_trap();
  return 0;
}
