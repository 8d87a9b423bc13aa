#pragma once
// A substitution layer for tests: named contents in backing files of a
// folder, an entry search over them as an archive's, and a shared log of what
// it is asked.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "Vak/Bexlorn/FileSubst.h"
#include "Vak/Bexlorn/Wildcard.h"

namespace Vak::test {

// Log lines read "label Operation name".
class FakeLayer : public FileSub {
public:
  struct Options {
    std::string label;
    bool readable = true;
    bool readOnly = true;
    int kind = kArchive;
  };

  FakeLayer(Options options, std::string backing, std::vector<std::string>& log)
      : o_(std::move(options)), backing_(std::move(backing)), log_(log) {}
  ~FakeLayer() override { log_.push_back(o_.label + " destroyed"); }

  void Put(const std::string& name, const std::string& content, uint32_t time = 0) {
    files_[name] = {content, time};
    std::filesystem::create_directories(backing_);
    std::ofstream(Backing(name), std::ios::binary) << content;
  }
  bool Has(const std::string& name) const { return files_.count(name) != 0; }

  void SubstClosing(const PString& name) override { Note("SubstClosing", name.c_str()); }
  bool IsReadOnly() const override { return o_.readOnly; }
  bool IsReadable() const override { return o_.readable; }
  uint32_t GetVersion() const override { return 258; }
  bool IsType(int kind) const override { return kind == o_.kind; }
  bool OpenWrite(File&, const char* name, platform::File::Access, platform::File::Disposition) override {
    Note("OpenWrite", name);
    return false;
  }
  bool OpenRead(File& file, const char* name, platform::File::Access,
                platform::File::Disposition) override {
    Note("OpenRead", name);
    if (!Has(name)) return false;
    if (file.OwnHandle().Open(Backing(name).c_str(), platform::File::Access::Read,
                              platform::File::Disposition::OpenExisting) != platform::Error::None)
      return false;
    file.UseOwnHandle();
    Attach(file);
    return true;
  }
  bool CloseFile(File& file) override {
    const bool closed = file.OwnHandle().Close() == platform::Error::None;
    Detach(file);
    return closed;
  }
  bool Exists(PString& substitute, const char* name) override {
    Note("Exists", (std::string(substitute.c_str()) + ":" + name).c_str());
    return Has(name);
  }
  bool Unlink(const char* name) override {
    Note("Unlink", name);
    return files_.erase(name) != 0;
  }
  bool Rename(const char* from, const char* to) override {
    Note("Rename", from);
    if (!Has(from)) return false;
    files_[to] = files_[from];
    files_.erase(from);
    return true;
  }
  bool Md(const char* path) override {
    Note("Md", path);
    return false;
  }
  bool GetFileTime(uint32_t& time, const char* name) override {
    Note("GetFileTime", name);
    if (!Has(name)) return false;
    time = files_[name].time;
    return true;
  }

  void AddToSearch(SearchList& list) override { list.push_back(this); }
  // Entry search over the names; size2 tells the layer apart.
  long FindStart() override { return o_.kind == kArchive ? 0 : -1; }
  bool FindNext(long handle, const char* pattern, File::Entry& entry) override {
    auto it = files_.begin();
    std::advance(it, std::min<std::size_t>(static_cast<std::size_t>(cursor_[handle]), files_.size()));
    for (; it != files_.end(); ++it) {
      ++cursor_[handle];
      if (!Vak::MatchWildcard(it->first.c_str(), pattern, nullptr)) continue;
      std::memset(&entry, 0, sizeof entry);
      std::strcpy(entry.name, it->first.c_str());
      entry.size = static_cast<uint32_t>(it->second.content.size());
      entry.size2 = kMarker;
      return true;
    }
    return false;
  }
  void FindEnd(long handle) override { cursor_.erase(handle); }

  static constexpr uint32_t kMarker = 0xA5C4;
  int searchesOpen() const { return static_cast<int>(cursor_.size()); }

private:
  struct Content {
    std::string content;
    uint32_t time;
  };
  void Note(const char* what, const char* name) { log_.push_back(o_.label + " " + what + " " + name); }
  std::string Backing(const std::string& name) const {
    std::string flat = name;
    for (char& c : flat)
      if (c == '/' || c == '\\') c = '_';
    return backing_ + "/" + flat;
  }

  Options o_;
  std::string backing_;
  std::vector<std::string>& log_;
  std::map<std::string, Content> files_;
  std::map<long, long> cursor_;
};

} // namespace Vak::test
