// Vak::File::Read against read(2) on one large file (in the page cache), in
// requests of 4 KB, 64 KB and 1 MB.
#include <benchmark/benchmark.h>

#include "bench/BenchScratch.h"
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Vak/Bexlorn/File.h"

namespace {

constexpr size_t kFileBytes = 256u << 20;

const std::string& LargeFile() {
  static const std::string path = [] {
    std::string p = bench::ScratchPath("file");
    std::vector<char> chunk(1u << 20);
    for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<char>(i * 131 + (i >> 9));
    FILE* out = std::fopen(p.c_str(), "wb");
    for (size_t done = 0; out && done < kFileBytes; done += chunk.size()) std::fwrite(chunk.data(), 1, chunk.size(), out);
    if (out) std::fclose(out);
    return p;
  }();
  return path;
}

void BM_FileRead_Vak(benchmark::State& state) {
  const size_t request = static_cast<size_t>(state.range(0));
  std::vector<char> buffer(request);
  for (auto _ : state) {
    Vak::File file;
    if (!file.Open(LargeFile().c_str(), Vak::File::kRead).Ok()) {
      state.SkipWithError("open failed");
      break;
    }
    size_t total = 0;
    for (unsigned long n; (n = file.Read(buffer.data(), request, 1)) > 0;) total += n;
    file.Close();
    if (total != kFileBytes) state.SkipWithError("short read");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileBytes));
}

void BM_FileRead_Posix(benchmark::State& state) {
  const size_t request = static_cast<size_t>(state.range(0));
  std::vector<char> buffer(request);
  for (auto _ : state) {
    int fd = ::open(LargeFile().c_str(), O_RDONLY);
    size_t total = 0;
    for (ssize_t n; (n = ::read(fd, buffer.data(), request)) > 0;) total += static_cast<size_t>(n);
    ::close(fd);
    if (total != kFileBytes) state.SkipWithError("short read");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileBytes));
}

BENCHMARK(BM_FileRead_Vak)->Arg(4 << 10)->Arg(64 << 10)->Arg(1 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FileRead_Posix)->Arg(4 << 10)->Arg(64 << 10)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

}  // namespace
