#include "platform/os/Program.h"

#include <cstdlib>

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

} // namespace platform
