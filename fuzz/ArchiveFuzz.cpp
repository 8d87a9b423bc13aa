// Reads arbitrary bytes as an engine archive: mounted read-only it is listed
// folder by folder and every entry is opened and read (bounded); mounted
// writable it takes a store and a delete and writes its index, and is read
// again. Damage must be refused without reading or writing out of bounds, and
// every walk must end.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/FileSubst.h"
#include "fuzz/FuzzInputFile.h"
#include "fuzz/NameSweep.h"

namespace {

constexpr unsigned kMaxEntries = 256;
constexpr uint64_t kMaxBytes = 1u << 20;

// Every file under `folder` ("" or "a/b/"), through the folders the search
// yields; at most kMaxEntries names.
void Collect(const std::string& folder, std::vector<std::string>& files, unsigned& budget, int depth) {
  std::vector<std::string> folders;
  Vak::File::Find find;
  for (bool more = find.Open(("fz:" + folder + "*").c_str()); more && budget > 0; more = find.Next(), --budget) {
    const std::string name = folder + find.name;
    if (find.attributes == 0x11) folders.push_back(name + "/");
    else files.push_back(name);
  }
  find.Close();
  if (depth < 8)
    for (const std::string& f : folders) Collect(f, files, budget, depth + 1);
}

void ReadAll(const std::vector<std::string>& files) {
  static uint8_t buffer[65536];
  uint64_t total = 0;
  for (const std::string& name : files) {
    const std::string full = "fz:" + name;
    Vak::File::Exists(full.c_str());
    uint32_t time = 0;
    Vak::File::GetFileTime(full.c_str(), time);
    for (unsigned long mode : {Vak::File::kRead, Vak::File::kReadStored}) {
      Vak::File file;
      if (!file.Open(full.c_str(), mode).Ok()) continue;
      const uint32_t size = file.Size();
      for (unsigned long n; total < kMaxBytes && (n = file.Read(buffer, sizeof buffer, 1)) > 0;) total += n;
      file.Seek(static_cast<long>(size / 2), Vak::File::kSeekBegin);
      file.Read(buffer, 7, 1);
      file.Close();
    }
  }
}

void Pass(const std::string& path, bool writable) {
  const Vak::PString name("fz");
  Vak::File::Subst(name, path.c_str(), writable);
  std::vector<std::string> files;
  unsigned budget = kMaxEntries;
  Collect("", files, budget, 0);
  ReadAll(files);
  if (writable) {
    if (Vak::File out; out.Open("fz:fuzz/new.txt", Vak::File::kWriteCompressed | Vak::File::kCreate).Ok()) {
      out.Write("stored by the fuzzer", 20, 1);
      out.Close();
    }
    if (!files.empty()) Vak::File::Unlink(("fz:" + files.front()).c_str());
    Vak::File::Exists("fz:fuzz");
  }
  Vak::File::Subst(name, nullptr, false);
}

// The current folder moved for a while; back when the object goes.
class InFolder {
public:
  explicit InFolder(const std::string& folder) {
    moved_ = Vak::File::GetCwd(previous_) && Vak::File::ChDir(folder.c_str());
  }
  ~InFolder() {
    if (moved_) Vak::File::ChDir(previous_);
  }
  InFolder(const InFolder&) = delete;
  InFolder& operator=(const InFolder&) = delete;

private:
  Vak::File::Path previous_;
  bool moved_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fuzz::NameSweep sweep;
  static const fuzz::InputFile input("archive.va");
  if (!input.Write(data, size)) return 0;
  Pass(input.Path(), false);
  {
    // Stores stage their files in the current folder: keep those in memory
    // as well. Crash files of this span land there unless the fuzzer was
    // given an absolute artifact prefix (scripts/fuzz gives one).
    const InFolder scratch(fuzz::ScratchFolder::Get().Path());
    Pass(input.Path(), true);
  }
  Pass(input.Path(), false);
  return 0;
}
