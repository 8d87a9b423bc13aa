#include "platform/kernelx/WholeFile.h"

#include "Vak/Bexlorn/File.h"

namespace Vak {

bool ReadWholeFile(const char* path, std::string& bytes) {
  bytes.clear();
  File file;
  if (path == nullptr || !file.Open(path, File::kRead).Ok()) return false;
  try {
    bytes.resize(file.Size());
  } catch (...) {
    bytes.clear();
    return false;
  }
  const unsigned long got = bytes.empty() ? 0 : file.Read(bytes.data(), bytes.size(), 1);
  file.Close();
  if (got == bytes.size()) return true;
  bytes.clear();
  return false;
}

} // namespace Vak
