// Vak::File::Find over a plain folder of 100,000 files against a bare
// readdir(3) loop, and a readdir loop that also stats each entry (what Find
// has to report: size and times).
#include <benchmark/benchmark.h>

#include "bench/BenchScratch.h"
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "Vak/Bexlorn/File.h"

namespace {

constexpr int kFiles = 100000;

const std::string& Folder() {
  static const std::string path = [] {
    std::string p = bench::ScratchPath("find");
    std::filesystem::create_directories(p);
    for (int i = 0; i < kFiles; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "/f%06d.dat", i);
      int fd = ::open((p + name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd >= 0) ::close(fd);
    }
    return p;
  }();
  return path;
}

void BM_Find_Vak(benchmark::State& state) {
  const std::string pattern = Folder() + "/*.*";
  for (auto _ : state) {
    Vak::File::Find find;
    int n = 0;
    for (bool more = find.Open(pattern.c_str()); more; more = find.Next()) ++n;
    if (n != kFiles) state.SkipWithError("wrong count");
    benchmark::DoNotOptimize(n);
  }
  state.SetItemsProcessed(state.iterations() * kFiles);
}

void BM_Readdir(benchmark::State& state) {
  for (auto _ : state) {
    DIR* dir = ::opendir(Folder().c_str());
    int n = 0;
    while (dirent* e = ::readdir(dir))
      if (e->d_name[0] != '.') ++n;
    ::closedir(dir);
    if (n != kFiles) state.SkipWithError("wrong count");
  }
  state.SetItemsProcessed(state.iterations() * kFiles);
}

void BM_ReaddirStat(benchmark::State& state) {
  for (auto _ : state) {
    DIR* dir = ::opendir(Folder().c_str());
    int n = 0;
    struct stat st;
    while (dirent* e = ::readdir(dir))
      if (e->d_name[0] != '.' && ::fstatat(::dirfd(dir), e->d_name, &st, 0) == 0) ++n;
    ::closedir(dir);
    if (n != kFiles) state.SkipWithError("wrong count");
  }
  state.SetItemsProcessed(state.iterations() * kFiles);
}

BENCHMARK(BM_Find_Vak)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Readdir)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReaddirStat)->Unit(benchmark::kMillisecond);

} // namespace
