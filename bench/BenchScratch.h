#pragma once
// Scratch files and folders of a benchmark program: in the temporary folder,
// named after the process, removed with everything below them at exit.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace bench {

namespace detail {
// Never destroyed: the exit routine reads it after static destructors ran.
inline std::vector<std::string>& Made() {
  static auto* made = new std::vector<std::string>;
  return *made;
}
inline void RemoveMade() {
  std::error_code ignored;
  for (const std::string& path : Made()) std::filesystem::remove_all(path, ignored);
}
}  // namespace detail

// "<TMPDIR or /tmp>/vak-bench-<pid>-<name>", removed at exit.
inline std::string ScratchPath(const std::string& name) {
  static const bool registered = std::atexit(detail::RemoveMade) == 0;
  (void)registered;
  const char* tmp = std::getenv("TMPDIR");
  std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/vak-bench-" + std::to_string(getpid()) + "-" + name;
  detail::Made().push_back(path);
  return path;
}

}  // namespace bench
