// Chunk files: loading and walking a binary file of 100,000 containers,
// against reading the same bytes with read(2); looking up, editing and
// writing one container of many children after an edit (the time per child
// stays flat from 10,000 to 100,000 children); and parsing 10,000 small
// config.txt texts.
#include <benchmark/benchmark.h>

#include "bench/BenchScratch.h"
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "content/ACSFile.h"
#include "content/DynamicBuffer.h"
#include "content/TStream.h"
#include "content/TextChunkFile.h"

namespace {

constexpr int kContainers = 100000;
constexpr int kConfigs = 10000;

const std::string& BinaryPath() {
  static const std::string path = [] {
    std::string p = bench::ScratchPath("chunk.cdp");
    ACSChunkPtr root;
    for (int i = 0; i < kContainers; ++i) {
      ACSChunkPtr asset;
      asset.SetChildKUID("kuid", KUID(523, i, 0));
      asset.SetChildString("username", ("Asset number " + std::to_string(i)).c_str());
      asset.SetChildInt("category-class", i % 17);
      asset.SetChildFloat("scale", 0.5f + static_cast<float>(i % 5));
      root.SetChild(("asset" + std::to_string(i)).c_str(), asset);
    }
    TFile out;
    out.Open(p.c_str(), Vak::File::kWrite | Vak::File::kCreate);
    WriteChunkFileBinary(root, out);
    out.Close();
    return p;
  }();
  return path;
}

void BM_BinaryLoadAndWalk(benchmark::State& state) {
  const std::string& path = BinaryPath();
  const Vak::PString category("category-class");
  for (auto _ : state) {
    TFile in;
    in.Open(path.c_str(), Vak::File::kRead);
    MPHandle handle(new TDBBinaryFile);
    auto* file = static_cast<TDBBinaryFile*>(handle.Get());
    file->Read(in);
    const ACSChunkPtr root = file->GetRoot();
    int64_t sum = 0;
    const int count = root.GetChildCount();
    for (int i = 0; i < count; ++i) {
      const ACSChunkPtr asset = root->FindChild(root.GetChildName(i));
      sum += asset.GetChildInt(category, 0);
    }
    if (count != kContainers) state.SkipWithError("wrong count");
    benchmark::DoNotOptimize(sum);
  }
}
BENCHMARK(BM_BinaryLoadAndWalk)->Unit(benchmark::kMillisecond);

void BM_BinaryLoadOnly(benchmark::State& state) {
  const std::string& path = BinaryPath();
  for (auto _ : state) {
    TFile in;
    in.Open(path.c_str(), Vak::File::kRead);
    MPHandle handle(new TDBBinaryFile);
    auto* file = static_cast<TDBBinaryFile*>(handle.Get());
    file->Read(in);
    benchmark::DoNotOptimize(file->GetRoot());
  }
}
BENCHMARK(BM_BinaryLoadOnly)->Unit(benchmark::kMillisecond);

void BM_BinaryReadSyscall(benchmark::State& state) {
  const std::string& path = BinaryPath();
  for (auto _ : state) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    const off_t size = ::lseek(fd, 0, SEEK_END);
    ::lseek(fd, 0, SEEK_SET);
    std::unique_ptr<uint8_t[]> bytes(new uint8_t[static_cast<size_t>(size)]);
    for (off_t got = 0; got < size;) {
      const ssize_t n = ::read(fd, bytes.get() + got, static_cast<size_t>(size - got));
      if (n <= 0) break;
      got += n;
    }
    ::close(fd);
    benchmark::DoNotOptimize(bytes.get());
  }
}
BENCHMARK(BM_BinaryReadSyscall)->Unit(benchmark::kMillisecond);

// A file whose root holds `children` int values named c0, c1, ...
struct WideFile {
  std::vector<uint8_t> bytes;
  std::vector<Vak::PString> names;
};

const WideFile& Wide(int children) {
  static std::map<int, WideFile> files;
  WideFile& file = files[children];
  if (!file.bytes.empty()) return file;
  ACSChunkPtr root;
  for (int i = 0; i < children; ++i) {
    file.names.emplace_back(("c" + std::to_string(i)).c_str());
    root.SetChildInt(file.names.back(), i);
  }
  TBuffer stream;
  WriteChunkFileBinary(root, stream);
  file.bytes.assign(stream.GetBuffer().Data(), stream.GetBuffer().Data() + stream.GetBuffer().Size());
  return file;
}

// The root of a fresh load of the file; the nodes keep the file object.
ACSChunkPtr LoadWide(const WideFile& file) {
  TBuffer stream;
  stream.GetBuffer().Write(file.bytes.data(), static_cast<uint32_t>(file.bytes.size()));
  stream.GetBuffer().SetPosition(0);
  MPHandle handle(new TDBBinaryFile);
  auto* binary = static_cast<TDBBinaryFile*>(handle.Get());
  binary->Read(stream);
  return binary->GetRoot();
}

// A fresh load of the file with its first child set anew.
ACSChunkPtr LoadEdited(const WideFile& file) {
  ACSChunkPtr root = LoadWide(file);
  root.SetChildInt(file.names[0], -1);
  return root;
}

// Load, edit one child, then look up every child by name.
void BM_BinaryEditedFindChild(benchmark::State& state) {
  const WideFile& file = Wide(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    const ACSChunkPtr root = LoadEdited(file);
    int64_t sum = 0;
    for (const Vak::PString& name : file.names) sum += root.GetChildInt(name, 0);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_BinaryEditedFindChild)->Arg(10000)->Arg(30000)->Arg(100000)->Unit(benchmark::kMillisecond);

// Written whole: the file's size.
uint32_t WriteWide(const ACSChunkPtr& root) {
  TBuffer out;
  WriteChunkFileBinary(root, out);
  return out.GetBuffer().Size();
}

// Load, edit one child, then write the whole file.
void BM_BinaryEditedWrite(benchmark::State& state) {
  const WideFile& file = Wide(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(WriteWide(LoadEdited(file)));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_BinaryEditedWrite)->Arg(10000)->Arg(30000)->Arg(100000)->Unit(benchmark::kMillisecond);

// Load, set every child anew twice (the first time each record is masked
// and the child added to the overlay, the second time the added child is
// replaced in its place), then write.
void BM_BinaryEditEveryChild(benchmark::State& state) {
  const WideFile& file = Wide(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    ACSChunkPtr root = LoadWide(file);
    int value = 0;
    for (int pass = 0; pass < 2; ++pass)
      for (const Vak::PString& name : file.names) root.SetChildInt(name, ++value);
    benchmark::DoNotOptimize(WriteWide(root));
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_BinaryEditEveryChild)->Arg(10000)->Arg(30000)->Arg(100000)->Unit(benchmark::kMillisecond);

const std::vector<std::string>& Configs() {
  static const std::vector<std::string> configs = [] {
    std::vector<std::string> out;
    for (int i = 0; i < kConfigs; ++i) {
      std::string text = "\xEF\xBB\xBF\r\n";
      text += "kuid                                    <kuid:523:" + std::to_string(i) + ">\r\n";
      text += "username                                \"Box car " + std::to_string(i) + "\"\r\n";
      text += "kind                                    \"traincar\"\r\n";
      text += "category-class                          \"BR\"\r\n";
      text += "build-version                           4.6\r\n";
      text += "pos                                     1.5,-2,0.25\r\n";
      text += "\r\nmesh-table\r\n{\r\n  default\r\n  {\r\n";
      text += "    mesh                                \"body/lod0.im\"\r\n";
      text += "    auto-create                         1\r\n  }\r\n}\r\n";
      text += "\r\nkuid-table\r\n{\r\n  0                                     <kuid2:523:" + std::to_string(i + 1) +
              ":2>\r\n}\r\n";
      out.push_back(std::move(text));
    }
    return out;
  }();
  return configs;
}

void BM_ParseConfigs(benchmark::State& state) {
  const std::vector<std::string>& configs = Configs();
  int64_t bytes = 0;
  for (auto _ : state) {
    int children = 0;
    for (const std::string& text : configs) {
      DynamicBuffer buffer(static_cast<uint32_t>(text.size()));
      buffer.Write(text.data(), static_cast<uint32_t>(text.size()));
      buffer.SetPosition(0);
      TBuffer stream(&buffer);
      ACSChunkPtr root;
      ReadChunkFileText(root, stream, false);
      children += root.GetChildCount();
      bytes += static_cast<int64_t>(text.size());
    }
    benchmark::DoNotOptimize(children);
  }
  state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_ParseConfigs)->Unit(benchmark::kMillisecond);

// The same texts as files "config.txt", one folder each.
const std::vector<std::string>& ConfigFiles() {
  static const std::vector<std::string> paths = [] {
    const std::string root = bench::ScratchPath("configs");
    ::mkdir(root.c_str(), 0700);
    std::vector<std::string> out;
    const std::vector<std::string>& texts = Configs();
    for (int i = 0; i < kConfigs; ++i) {
      const std::string folder = root + "/" + std::to_string(i);
      ::mkdir(folder.c_str(), 0700);
      out.push_back(folder + "/config.txt");
      if (FILE* f = std::fopen(out.back().c_str(), "wb")) {
        std::fwrite(texts[i].data(), 1, texts[i].size(), f);
        std::fclose(f);
      }
    }
    return out;
  }();
  return paths;
}

void BM_ParseConfigFiles(benchmark::State& state) {
  const std::vector<std::string>& paths = ConfigFiles();
  for (auto _ : state) {
    int children = 0;
    for (const std::string& path : paths) {
      TFile stream;
      stream.Open(path.c_str(), Vak::File::kRead);
      ACSChunkPtr root;
      ReadChunkFileText(root, stream, false);
      children += root.GetChildCount();
    }
    if (children != kConfigs * 8) state.SkipWithError("wrong count");
  }
}
BENCHMARK(BM_ParseConfigFiles)->Unit(benchmark::kMillisecond);

void BM_ReadConfigFilesSyscall(benchmark::State& state) {
  const std::vector<std::string>& paths = ConfigFiles();
  char buffer[4096];
  for (auto _ : state) {
    int64_t total = 0;
    for (const std::string& path : paths) {
      const int fd = ::open(path.c_str(), O_RDONLY);
      for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) total += n;
      ::close(fd);
    }
    benchmark::DoNotOptimize(total);
  }
}
BENCHMARK(BM_ReadConfigFilesSyscall)->Unit(benchmark::kMillisecond);

}  // namespace
