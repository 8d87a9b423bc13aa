#include "platform/os/Program.h"

#include <cstdlib>

#include <malloc.h>
#include <unistd.h>
#include <vector>

namespace platform {

std::string ProgramPath() {
  std::vector<char> buffer(256);
  for (;;) {
    ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) < buffer.size()) return std::string(buffer.data(), static_cast<std::size_t>(n));
    buffer.resize(buffer.size() * 2);  // may have been cut; try again larger
  }
}

std::string ProgramFolder() {
  std::string path = ProgramPath();
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

bool GetEnvironment(const char* name, std::string& value) {
  const char* text = name != nullptr ? std::getenv(name) : nullptr;
  if (text == nullptr) return false;
  value = text;
  return true;
}

void KeepFreedBlocks() {
  // The largest values the C library's own adjustment reaches after freeing
  // big blocks (32 MB from the heap; trimmed beyond twice that), fixed from
  // the start instead of a block size at a time.
#ifdef M_MMAP_THRESHOLD
  ::mallopt(M_MMAP_THRESHOLD, 32 << 20);
  ::mallopt(M_TRIM_THRESHOLD, 64 << 20);
#endif
}

} // namespace platform
