// TStream typed reads (uint32, float and string records) from a 100 MB file,
// against fread of the same values.
#include <benchmark/benchmark.h>

#include "bench/BenchScratch.h"
#include <unistd.h>

#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "content/TStream.h"

namespace {

constexpr size_t kFileBytes = 100u << 20;

struct Sample {
  std::string path;
  size_t records = 0;
};

// Records of {uint32, float, string of 0..31 bytes} up to the file size.
const Sample& Records() {
  static const Sample sample = [] {
    Sample s;
    s.path = bench::ScratchPath("stream");
    FILE* out = std::fopen(s.path.c_str(), "wb");
    const char text[] = "abcdefghijklmnopqrstuvwxyz012345";
    for (size_t bytes = 0; out && bytes < kFileBytes; ++s.records) {
      const uint32_t value = static_cast<uint32_t>(s.records * 2654435761u);
      const float f = static_cast<float>(s.records) * 0.5f;
      const uint32_t length = static_cast<uint32_t>(s.records % 32);
      std::fwrite(&value, 4, 1, out);
      std::fwrite(&f, 4, 1, out);
      std::fwrite(&length, 4, 1, out);
      std::fwrite(text, 1, length, out);
      bytes += 12 + length;
    }
    if (out) std::fclose(out);
    return s;
  }();
  return sample;
}

void BM_TypedRead_TStream(benchmark::State& state) {
  const Sample& sample = Records();
  for (auto _ : state) {
    TFile stream;
    if (!stream.Open(sample.path.c_str(), Vak::File::kRead)) {
      state.SkipWithError("open failed");
      break;
    }
    uint64_t sum = 0;
    Vak::String text;
    for (size_t i = 0; i < sample.records; ++i) {
      sum += stream.ReadInt();
      sum += static_cast<uint64_t>(std::bit_cast<float>(stream.ReadInt()));
      stream.ReadString(text);
      sum += text.Size();
    }
    if (stream.GetError()) state.SkipWithError("short read");
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileBytes));
}

void BM_TypedRead_Fread(benchmark::State& state) {
  const Sample& sample = Records();
  for (auto _ : state) {
    FILE* in = std::fopen(sample.path.c_str(), "rb");
    if (!in) {
      state.SkipWithError("open failed");
      break;
    }
    uint64_t sum = 0;
    Vak::String text;
    char bytes[0x10000];
    bool ok = true;
    for (size_t i = 0; i < sample.records && ok; ++i) {
      uint32_t value = 0, length = 0;
      float f = 0;
      ok = std::fread(&value, 4, 1, in) == 1 && std::fread(&f, 4, 1, in) == 1 && std::fread(&length, 4, 1, in) == 1 &&
           length < sizeof bytes && std::fread(bytes, 1, length, in) == length;
      if (!ok) break;
      bytes[length] = 0;
      text = Vak::String(bytes, length);
      sum += value + static_cast<uint64_t>(f) + text.Size();
    }
    std::fclose(in);
    if (!ok) state.SkipWithError("short read");
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileBytes));
}

BENCHMARK(BM_TypedRead_TStream)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TypedRead_Fread)->Unit(benchmark::kMillisecond);

} // namespace
