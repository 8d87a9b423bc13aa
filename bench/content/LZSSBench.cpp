// LZSS against zlib on the same 16 MB of mixed content data, as packaged
// assets hold them: config-like text, runs of binary floats, and data that is
// already compressed (textures and sounds).
//   arg: level (1, 6, 9 for both). "ratio" is coded size / input size.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "content/LZSSCompress.h"

namespace {

constexpr size_t kSize = 16 << 20;

const std::vector<uint8_t>& Input() {
  static const std::vector<uint8_t> data = [] {
    std::vector<uint8_t> d;
    d.reserve(kSize + 65536);
    std::mt19937 rng(5);
    static const char* const kKeys[] = {"kind", "username", "trackside", "mesh", "category-region-0",
                                        "light", "height", "description", "texture", "shadows"};
    while (d.size() < kSize) {
      // A config file of 2-6 KB.
      std::string text = "kuid <kuid:" + std::to_string(rng() % 600000) + ":" + std::to_string(rng() % 100000) + ">\r\n";
      const size_t textSize = 2048 + rng() % 4096;
      while (text.size() < textSize) {
        text += kKeys[rng() % std::size(kKeys)];
        text += rng() % 2 ? " \"" + std::to_string(rng() % 1000) + "\"\r\n" : " " + std::to_string((rng() % 10000) / 100.0) + "\r\n";
      }
      d.insert(d.end(), text.begin(), text.end());
      // Mesh data: 4-12 KB of floats along smooth curves with noise.
      const size_t floats = (4096 + rng() % 8192) / 4;
      const double phase = rng() % 1000;
      const size_t meshStart = d.size();
      for (size_t i = 0; i < floats; ++i) {
        const float f = static_cast<float>(std::sin((phase + i) * 0.01) * 50.0 + (rng() % 16) * 0.001);
        uint8_t b[4];
        std::memcpy(b, &f, 4);
        d.insert(d.end(), b, b + 4);
      }
      // Already compressed: the mesh data deflated, as a packed texture would be.
      std::vector<uint8_t> packed(compressBound(d.size() - meshStart));
      uLongf packedSize = packed.size();
      compress2(packed.data(), &packedSize, d.data() + meshStart, d.size() - meshStart, 9);
      d.insert(d.end(), packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(packedSize));
    }
    d.resize(kSize);
    return d;
  }();
  return data;
}

void LZSSCompress(benchmark::State& state) {
  const auto& in = Input();
  Vak::LZSSCompress lz;
  std::vector<uint8_t> out;
  for (auto _ : state) {
    lz.CompressBlock(in.data(), in.size(), static_cast<int>(state.range(0)), out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
  state.counters["ratio"] = static_cast<double>(out.size()) / in.size();
}

void LZSSDecompress(benchmark::State& state) {
  const auto& in = Input();
  Vak::LZSSCompress lz;
  std::vector<uint8_t> packed, out(in.size());
  lz.CompressBlock(in.data(), in.size(), static_cast<int>(state.range(0)), packed);
  for (auto _ : state) {
    size_t written = 0;
    if (!lz.DecompressBlock(packed.data(), packed.size(), out.data(), out.size(), &written) ||
        written != in.size()) {
      state.SkipWithError("decode failed");
      break;
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
  state.counters["ratio"] = static_cast<double>(packed.size()) / in.size();
}

void ZlibCompress(benchmark::State& state) {
  const auto& in = Input();
  std::vector<uint8_t> out(compressBound(in.size()));
  uLongf size = 0;
  for (auto _ : state) {
    size = out.size();
    compress2(out.data(), &size, in.data(), in.size(), static_cast<int>(state.range(0)));
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
  state.counters["ratio"] = static_cast<double>(size) / in.size();
}

void ZlibDecompress(benchmark::State& state) {
  const auto& in = Input();
  std::vector<uint8_t> packed(compressBound(in.size())), out(in.size());
  uLongf packedSize = packed.size();
  compress2(packed.data(), &packedSize, in.data(), in.size(), static_cast<int>(state.range(0)));
  for (auto _ : state) {
    uLongf size = out.size();
    if (uncompress(out.data(), &size, packed.data(), packedSize) != Z_OK) {
      state.SkipWithError("decode failed");
      break;
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
  state.counters["ratio"] = static_cast<double>(packedSize) / in.size();
}

BENCHMARK(LZSSCompress)->Arg(1)->Arg(6)->Arg(9)->Unit(benchmark::kMillisecond);
BENCHMARK(LZSSDecompress)->Arg(1)->Arg(6)->Arg(9)->Unit(benchmark::kMillisecond);
BENCHMARK(ZlibCompress)->Arg(1)->Arg(6)->Arg(9)->Unit(benchmark::kMillisecond);
BENCHMARK(ZlibDecompress)->Arg(1)->Arg(6)->Arg(9)->Unit(benchmark::kMillisecond);

} // namespace
