#pragma once
// What every bitmap loader owes its caller: a refusal leaves nothing behind,
// an image is whole 32-bit pixels that can be resampled.
#include <cstddef>

#include "engine/kernelx/Bitmap.h"

namespace fuzz {

inline void CheckLoaded(const Vak::Bitmap& bitmap, bool loaded) {
  if (!loaded) {
    if (!bitmap.IsEmpty() || bitmap.GetWidth() != 0) __builtin_trap();
    return;
  }
  if (bitmap.GetDataSize() != static_cast<size_t>(bitmap.GetWidth()) * bitmap.GetHeight() * 4) __builtin_trap();
  if (bitmap.GetFormat() != Vak::Bitmap::kFormatARGB && bitmap.GetFormat() != Vak::Bitmap::kFormatXRGB) __builtin_trap();
  const auto scaled = bitmap.Scale(3, 2);
  if (!scaled || scaled->GetDataSize() != 3 * 2 * 4) __builtin_trap();
}

} // namespace fuzz
