#pragma once
// Targets whose reader takes a path. Each process keeps its files in one
// folder of its own, in memory (/dev/shm) where the system has it, else in the
// temporary folder, so an input costs no disk work; an input file is one file
// rewritten for every input, never a new one. The folder goes with the
// process, and folders left by processes that died are removed at start.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/os/File.h"
#include "platform/os/FileSystem.h"
#include "platform/os/Thread.h"

namespace fuzz {

class ScratchFolder {
public:
  static ScratchFolder& Get() {
    static ScratchFolder folder;
    return folder;
  }

  // Without a trailing separator.
  const std::string& Path() const { return path_; }
  std::string FileNamed(const char* name) const { return path_ + "/" + name; }

  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

private:
  static constexpr const char* kPrefix = "vakfuzz-";

  ScratchFolder() {
    platform::FileInfo info;
    const bool memory = platform::Stat("/dev/shm", info) == platform::Error::None && info.isFolder;
    const std::string parent = memory ? "/dev/shm" : platform::TemporaryFolder();
    RemoveStale(parent);
    path_ = parent + "/" + kPrefix + std::to_string(platform::CurrentProcessId());
    platform::MakeFolder(path_.c_str());
  }
  ~ScratchFolder() { RemoveTree(path_); }

  static void RemoveTree(const std::string& folder) {
    std::vector<platform::FolderEntry> entries;
    platform::ListFolder(folder.c_str(), entries);
    for (const platform::FolderEntry& entry : entries) {
      const std::string path = folder + "/" + entry.name;
      if (entry.info.isFolder) RemoveTree(path);
      else platform::DeleteFile(path.c_str());
    }
    platform::RemoveFolder(folder.c_str());
  }

  // A crashed run never reaches the destructor.
  static void RemoveStale(const std::string& parent) {
    const std::string prefix = kPrefix;
    std::vector<platform::FolderEntry> entries;
    platform::ListFolder(parent.c_str(), entries, [&](const char* name) { return prefix.compare(0, prefix.size(), name, prefix.size()) == 0; });
    for (const platform::FolderEntry& entry : entries) {
      const std::string digits = entry.name.substr(prefix.size());
      if (!entry.info.isFolder || digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) continue;
      const unsigned long pid = std::strtoul(digits.c_str(), nullptr, 10);
      if (!platform::IsProcessAlive(static_cast<uint32_t>(pid))) RemoveTree(parent + "/" + entry.name);
    }
  }

  std::string path_;
};

class InputFile {
public:
  explicit InputFile(const char* name) : path_(ScratchFolder::Get().FileNamed(name)) {}

  // Replaces the file's content with the input; false when it could not be written.
  bool Write(const uint8_t* data, size_t size) const {
    platform::File out;
    if (out.Open(path_.c_str(), platform::File::Access::Write, platform::File::Disposition::CreateAlways) !=
        platform::Error::None)
      return false;
    const bool written = size == 0 || out.Write(data, size) == platform::Error::None;
    return out.Close() == platform::Error::None && written;
  }

  const std::string& Path() const { return path_; }

private:
  std::string path_;
};

}  // namespace fuzz
