#pragma once
// An animation file (".kin", docs/formats/kin-animation.md): the number of
// frames and the names of the bones it moves. The keys themselves are only
// checked for their length, since nothing here plays an animation.
#include <cstdint>
#include <string_view>
#include <vector>

#include "Vak/Bexlorn/PString.h"

namespace Vak {

struct KinAnimation {
  static constexpr char kMagic[4] = {'K', 'I', 'N', 'A'};
  static constexpr uint32_t kVersion = 1;
  static constexpr std::size_t kHeaderSize = 16;
  static constexpr std::size_t kKeySize = 28;  // position x, y, z and rotation x, y, z, w

  uint32_t frames = 0;
  std::vector<PString> bones;  // one per track, in file order
};

// False, with `animation` emptied, on anything but a whole, well-formed file.
bool ParseKinAnimation(std::string_view bytes, KinAnimation& animation);

} // namespace Vak
