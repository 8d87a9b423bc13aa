#pragma once
// Targets whose reader takes a path: the input goes to a file in the
// temporary folder, one per process, removed when the object goes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace fuzz {

class InputFile {
public:
  // "<TMPDIR or /tmp>/<stem>-<pid><extension>"; Written() tells whether it
  // holds the input.
  InputFile(const char* stem, const char* extension, const uint8_t* data, size_t size)
      : path_(PathFor(stem, extension)) {
    if (FILE* out = std::fopen(path_.c_str(), "wb")) {
      written_ = std::fwrite(data, 1, size, out) == size;
      written_ = std::fclose(out) == 0 && written_;
    }
  }
  ~InputFile() { std::remove(path_.c_str()); }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  bool Written() const { return written_; }
  const std::string& Path() const { return path_; }

private:
  static std::string PathFor(const char* stem, const char* extension) {
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp && *tmp ? tmp : "/tmp") + "/" + stem + "-" + std::to_string(getpid()) + extension;
  }

  std::string path_;
  bool written_ = false;
};

}  // namespace fuzz
