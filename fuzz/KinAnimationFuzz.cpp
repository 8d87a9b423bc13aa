// The animation reader must refuse what it cannot read without reading past
// the bytes, and accept only files whose tracks fill them exactly. Input:
// the file's bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "engine/fyrmond/KinAnimation.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Vak::KinAnimation animation;
  const bool read = Vak::ParseKinAnimation(std::string_view(reinterpret_cast<const char*>(data), size), animation);
  if (!read) {
    if (animation.frames != 0 || !animation.bones.empty()) std::abort();
    return 0;
  }
  uint64_t expected = Vak::KinAnimation::kHeaderSize;
  for (const Vak::PString& bone : animation.bones)
    expected += 1 + bone.Length() + uint64_t{animation.frames} * Vak::KinAnimation::kKeySize;
  if (animation.frames == 0 || expected != size) std::abort();
  return 0;
}
