#pragma once
// Small engine archives for the converter tests, written through the
// kernel's own archive layer.
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "Vak/Bexlorn/File.h"
#include "platform/os/FileSystem.h"
#include "tools/PatchFiles.h"

namespace patchtest {

using Files = std::vector<std::pair<std::string, std::string>>;

// Writes a new archive at `path` holding `files` (none: an empty archive).
inline void MakeArchive(const std::string& path, const Files& files) {
  static int made = 0;
  const Vak::PString name(("patchtest-" + std::to_string(made++)).c_str());
  const std::size_t cut = path.rfind('/');
  if (cut != std::string::npos) platform::MakeFolderPath(path.substr(0, cut).c_str());
  ASSERT_TRUE(Vak::File::Subst(name, path.c_str(), true));
  for (const auto& [file, content] : files)
    EXPECT_TRUE(WriteBufferToArchive(name, file.c_str(), reinterpret_cast<const uint8_t*>(content.data()),
                                     content.size()))
        << file;
  Vak::File::Subst(name, nullptr, false);
}

// The content of `path` inside a mounted substitute; false when it does not open.
inline bool ReadFrom(const Vak::PString& substitute, const char* path, std::string& out) {
  Vak::File file;
  if (!file.Open(substitute, path, Vak::File::kRead).Ok()) return false;
  FileBytes bytes;
  if (!ReadWholeFile(file, bytes)) return false;
  out.assign(bytes.data(), bytes.data() + bytes.size());
  return true;
}

} // namespace patchtest
