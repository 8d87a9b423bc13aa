// Reads arbitrary bytes as a file that may be in the compressed form: the
// reader must refuse damage without reading or writing out of bounds, and
// every read loop must end.
#include <cstddef>
#include <cstdint>
#include <string>

#include "Vak/Bexlorn/File.h"
#include "fuzz/FuzzInputFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const fuzz::InputFile input("cfil");
  if (!input.Write(data, size)) return 0;
  const std::string& path = input.Path();

  Vak::File file;
  if (!file.Open(path.c_str(), Vak::File::kRead).Ok()) return 0;
  const uint32_t claimed = file.Size();
  static uint8_t buffer[65536];
  uint64_t total = 0;
  for (unsigned long n; total < (4u << 20) && (n = file.Read(buffer, sizeof buffer, 1)) > 0;) total += n;
  // Seeks into the middle of blocks, then short reads.
  for (uint32_t pos : {0u, 1u, 16383u, 16385u, claimed / 2, claimed ? claimed - 1 : 0u}) {
    file.Seek(static_cast<long>(pos), Vak::File::kSeekBegin);
    file.Read(buffer, 7, 1);
  }
  file.Close();
  return 0;
}
