// The size reader must refuse what is no whole image without reading past
// the bytes, and agree with the loader on every TGA or BMP the loader takes.
// Input: the file's bytes.
#include <cstddef>
#include <cstdint>

#include "engine/kernelx/Bitmap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint32_t width = 1, height = 1;
  const bool read = Vak::Bitmap::ReadSizeFromMemory(data, size, width, height);
  if (read != (width != 0 && height != 0)) __builtin_trap();
  Vak::Bitmap bitmap;
  if (bitmap.LoadFromMemory(data, size) && (!read || bitmap.GetWidth() != width || bitmap.GetHeight() != height))
    __builtin_trap();
  return 0;
}
