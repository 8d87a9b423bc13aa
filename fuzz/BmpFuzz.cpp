// The BMP loader must refuse what it cannot read without reading past the
// bytes, and hand out only whole 32-bit images. Input: the file's bytes.
#include <cstddef>
#include <cstdint>

#include "fuzz/BitmapFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Vak::Bitmap bitmap;
  const bool loaded = bitmap.LoadBMP(data, size);
  fuzz::CheckLoaded(bitmap, loaded);
  return 0;
}
