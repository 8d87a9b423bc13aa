#include "engine/fyrmond/KinAnimation.h"

#include <algorithm>
#include <cstring>

#include "Vak/Bexlorn/ByteOrder.h"

namespace Vak {

namespace {

bool Parse(std::string_view bytes, KinAnimation& animation) {
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
  std::size_t left = bytes.size();
  if (left < KinAnimation::kHeaderSize || std::memcmp(p, KinAnimation::kMagic, 4) != 0) return false;
  if (GetLE32(p + 4) != KinAnimation::kVersion) return false;
  animation.frames = GetLE32(p + 8);
  const uint32_t tracks = GetLE32(p + 12);
  if (animation.frames == 0) return false;
  p += KinAnimation::kHeaderSize;
  left -= KinAnimation::kHeaderSize;
  // 64-bit, so that no count can wrap the key block's size.
  const uint64_t keys = uint64_t{animation.frames} * KinAnimation::kKeySize;
  // Every track takes at least its length byte, one name byte and its keys.
  if (tracks > left / (2 + keys)) return false;
  for (uint32_t t = 0; t < tracks; ++t) {
    if (left < 1) return false;
    const std::size_t length = p[0];
    if (length == 0 || left - 1 < length) return false;
    const std::string_view name(reinterpret_cast<const char*>(p + 1), length);
    if (name.find('\0') != std::string_view::npos) return false;
    PString bone(std::string(name).c_str());
    // A bone moved by two tracks has no one pose.
    if (std::find(animation.bones.begin(), animation.bones.end(), bone) != animation.bones.end()) return false;
    animation.bones.push_back(bone);
    p += 1 + length;
    left -= 1 + length;
    if (left < keys) return false;
    p += keys;
    left -= keys;
  }
  return left == 0;
}

} // namespace

bool ParseKinAnimation(std::string_view bytes, KinAnimation& animation) {
  animation = {};
  if (Parse(bytes, animation)) return true;
  animation = {};
  return false;
}

} // namespace Vak
