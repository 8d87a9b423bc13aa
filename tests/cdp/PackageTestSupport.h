#pragma once
// Fixtures for the package tests: a temporary folder that goes with the
// test, small files in it, and the lines of a results log.
#include <atomic>
#include <string>
#include <vector>

#include "content/ResultsLog.h"
#include "platform/os/File.h"
#include "platform/os/FileSystem.h"
#include "platform/os/Thread.h"

namespace cdptest {

class TempFolder {
public:
  TempFolder() {
    static std::atomic<int> counter{0};
    path_ = platform::TemporaryFolder() + "/cdp-test-" + std::to_string(platform::CurrentProcessId()) + "-" +
            std::to_string(counter++);
    platform::DeleteTree(path_.c_str());
    platform::MakeFolderPath(path_.c_str());
  }
  ~TempFolder() { platform::DeleteTree(path_.c_str()); }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
  std::string path_;
};

inline bool WriteBytes(const std::string& path, const std::string& bytes) {
  const std::size_t cut = path.rfind('/');
  if (cut != std::string::npos) platform::MakeFolderPath(path.substr(0, cut).c_str());
  platform::File file;
  if (file.Open(path.c_str(), platform::File::Access::Write, platform::File::Disposition::CreateAlways) !=
      platform::Error::None)
    return false;
  return bytes.empty() || file.Write(bytes.data(), bytes.size()) == platform::Error::None;
}

inline std::string ReadBytes(const std::string& path) {
  platform::File file;
  if (file.Open(path.c_str(), platform::File::Access::Read, platform::File::Disposition::OpenExisting) !=
      platform::Error::None)
    return "<missing>";
  std::string bytes(static_cast<std::size_t>(file.Size()), '\0');
  std::size_t read = 0;
  file.Read(bytes.data(), bytes.size(), read);
  bytes.resize(read);
  return bytes;
}

// Every entry below `folder`, relative to it, folders with a trailing '/'.
inline void ListTree(const std::string& folder, std::vector<std::string>& out, const std::string& prefix = "") {
  std::vector<platform::FolderEntry> entries;
  platform::ListFolder(folder.c_str(), entries);
  for (const platform::FolderEntry& entry : entries) {
    if (entry.info.isFolder) {
      out.push_back(prefix + entry.name + "/");
      ListTree(folder + "/" + entry.name, out, prefix + entry.name + "/");
    } else {
      out.push_back(prefix + entry.name);
    }
  }
}

inline std::vector<std::string> ListTree(const std::string& folder) {
  std::vector<std::string> out;
  ListTree(folder, out);
  return out;
}

// "severity text" for each line of the log.
inline std::vector<std::string> Lines(const ResultsLog& log) {
  std::vector<std::string> out;
  log.Lock();
  for (auto it = log.GetLines().Begin(); !it.IsEnd(); it.Next())
    out.push_back(std::to_string(it->severity) + " " + static_cast<const char*>(it->text));
  log.Unlock();
  return out;
}

} // namespace cdptest
