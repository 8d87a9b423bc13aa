#pragma once
// Animation files (".kin") made by the tests: every track gets the same
// keys, since only the layout is read.
#include <cstdint>
#include <string>
#include <vector>

#include "Vak/Bexlorn/ByteOrder.h"
#include "engine/fyrmond/KinAnimation.h"

namespace kinfiles {

inline std::string Kin(uint32_t frames, const std::vector<std::string>& bones) {
  std::string out(Vak::KinAnimation::kMagic, 4);
  Vak::AppendLE32(out, Vak::KinAnimation::kVersion);
  Vak::AppendLE32(out, frames);
  Vak::AppendLE32(out, static_cast<uint32_t>(bones.size()));
  for (const std::string& bone : bones) {
    out += static_cast<char>(bone.size());
    out += bone;
    out.append(std::size_t{frames} * Vak::KinAnimation::kKeySize, '\0');
  }
  return out;
}

} // namespace kinfiles
