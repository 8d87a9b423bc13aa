#include "engine/kernelx/WholeFile.h"

#include <algorithm>
#include <cstdint>

#include "Vak/Bexlorn/File.h"

namespace Vak {

bool ReadWholeFile(const char* path, std::string& bytes) {
  bytes.clear();
  File file;
  if (path == nullptr || !file.Open(path, File::kRead).Ok()) return false;
  // A packed file declares its unpacked size in a header that may be
  // damaged, so the buffer grows with what is read, never ahead of it.
  const uint32_t declared = file.Size();
  constexpr std::size_t kBlock = 65536;
  // Reserving only takes address space, so a lying header costs nothing
  // until bytes arrive; the cap keeps even that bounded.
  constexpr std::size_t kReserveCap = std::size_t{256} << 20;
  bool whole = true;
  try {
    bytes.reserve(std::min<std::size_t>(std::size_t{declared} + 1, kReserveCap));
    for (;;) {
      const std::size_t at = bytes.size();
      bytes.resize(at + kBlock);
      const unsigned long got = file.Read(bytes.data() + at, kBlock, 1);
      bytes.resize(at + got);
      if (got < kBlock) break;
      if (bytes.size() > declared) {
        whole = false;
        break;
      }
    }
  } catch (...) {
    whole = false;
  }
  whole = whole && !file.ReadFailed() && bytes.size() == declared;
  file.Close();
  if (whole) return true;
  bytes.clear();
  return false;
}

} // namespace Vak
