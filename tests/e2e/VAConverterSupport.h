#pragma once
// VAConverter on a fresh installation: archives made from and unpacked into
// folders by the archive driver, digests by md5sum.
#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/E2ESupport.h"

namespace e2e {

class ConverterInstallation : public Installation {
public:
  std::string Converter() const { return Root() + "/bin/VAConverter"; }
  // Where the converter finds its diff program: two folders above its own.
  std::string DiffProgram() const { return Root() + "/../tools/VelmarPatch/bin/vdiffl-w32.exe"; }
  std::string PatchProgram() const { return Root() + "/bin/vpatchl-w32.exe"; }

  Result Convert(const std::vector<std::string>& arguments) const {
    std::vector<std::string> argv{Converter()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return RunProgram(argv, Scratch(""));
  }
  // A shell command run in `folder`.
  Result Shell(const std::string& folder, const std::string& command) const {
    return RunProgram({"/bin/sh", "-c", "cd \"$1\" && " + command, "sh", folder}, Scratch(""));
  }
  // Packs every file under `folder` into `archive`.
  bool Pack(const std::string& folder, const std::string& archive) const {
    std::filesystem::create_directories(folder);
    std::filesystem::create_directories(std::filesystem::path(archive).parent_path());
    return Shell(folder, "\"" + std::string(E2E_ARCHIVE_DRIVER) + "\" -r -k -c a \"" + archive + "\" '*'").code == 0;
  }
  bool Unpack(const std::string& archive, const std::string& folder) const {
    std::filesystem::create_directories(folder);
    return Shell(folder, "\"" + std::string(E2E_ARCHIVE_DRIVER) + "\" -r -k e \"" + archive + "\"").code == 0;
  }
  // "digest  ./path" of every file under `folder`, in byte order of paths.
  std::string TreeSums(const std::string& folder) const {
    return Shell(folder, "find . -type f | LC_ALL=C sort | while IFS= read -r f; do md5sum \"$f\"; done").out;
  }
  std::string Sum(const std::string& file) const {
    return Shell(Scratch(""), "md5sum < \"" + file + "\"").out;
  }
};

inline std::vector<std::string> SortedLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  return lines;
}

// Every path under `folder`, relative, sorted.
inline std::vector<std::string> Listing(const std::string& folder) {
  std::vector<std::string> out;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
    out.push_back(std::filesystem::relative(entry.path(), folder).string());
  std::sort(out.begin(), out.end());
  return out;
}

} // namespace e2e
