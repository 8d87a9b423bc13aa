#pragma once
// Scratch files and folders of a benchmark program: in the temporary folder,
// named after the process, removed with everything below them at exit.
#include <unistd.h>

#include <chrono>
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

// Wall-clock seconds that `f` takes.
template <typename F>
double Seconds(F&& f) {
  const auto start = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Runs a shell command a bench compares against; a failure ends the bench.
inline void Run(const std::string& command) {
  if (std::system(command.c_str()) != 0) std::abort();
}

}  // namespace bench
