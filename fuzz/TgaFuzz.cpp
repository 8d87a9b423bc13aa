// The TGA loader must refuse what it cannot read without reading past the
// bytes, and hand out only whole 32-bit images. Input: the file's bytes.
#include <cstddef>
#include <cstdint>

#include "platform/kernelx/Bitmap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Vak::Bitmap bitmap;
  if (!bitmap.LoadTGA(data, size)) {
    if (!bitmap.IsEmpty() || bitmap.GetWidth() != 0) __builtin_trap();
    return 0;
  }
  if (bitmap.GetDataSize() != static_cast<size_t>(bitmap.GetWidth()) * bitmap.GetHeight() * 4) __builtin_trap();
  if (bitmap.GetFormat() != Vak::Bitmap::kFormatARGB && bitmap.GetFormat() != Vak::Bitmap::kFormatXRGB) __builtin_trap();
  const auto scaled = bitmap.Scale(3, 2);
  if (!scaled || scaled->GetDataSize() != 3 * 2 * 4) __builtin_trap();
  return 0;
}
