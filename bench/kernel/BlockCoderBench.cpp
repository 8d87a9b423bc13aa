// Byte-pair block coder against zlib on the same 16 MB of mixed content:
// config-like text lines and mesh-like float data. The coder runs block by
// block as a compressed file is written and read; zlib takes the whole buffer.
// The "ratio" counter is packed size / content size.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "Vak/Bexlorn/BlockCoder.h"

namespace {

using Vak::BlockCoder;
constexpr size_t kContentBytes = 16u << 20;

const std::vector<uint8_t>& Content() {
  static const std::vector<uint8_t> content = [] {
    std::mt19937 rng(12345);
    std::vector<uint8_t> b;
    b.reserve(kContentBytes + 4096);
    static const char* const kKeys[] = {"kind", "username", "category-class", "trackside", "mesh",
                                        "texture", "author", "license", "light", "description"};
    static const char* const kWords[] = {"scenery", "platform", "station", "\"Wooden fence\"", "0.25",
                                         "\"body.im\"", "mojo", "\"track/ballast.texture\"", "1", "DE;FR"};
    while (b.size() < kContentBytes) {
      if (rng() % 2) {  // a config chunk
        for (int line = 0; line < 40; ++line) {
          std::string s = std::string(static_cast<size_t>(rng() % 3) * 2, ' ') + kKeys[rng() % 10] + ' ' +
                          kWords[rng() % 10];
          if (rng() % 4 == 0) s += " <kuid2:" + std::to_string(rng() % 500000) + ":" + std::to_string(rng() % 9000) + ":1>";
          s += "\r\n";
          b.insert(b.end(), s.begin(), s.end());
        }
      } else {  // a vertex buffer: position, normal, uv as floats
        float base[3] = {static_cast<float>(rng() % 200), static_cast<float>(rng() % 50), static_cast<float>(rng() % 200)};
        for (int v = 0; v < 256; ++v) {
          float vertex[8];
          for (int k = 0; k < 3; ++k) vertex[k] = base[k] + static_cast<float>(rng() % 1000) * 0.01f;
          vertex[3] = 0.0f, vertex[4] = 1.0f, vertex[5] = 0.0f;
          vertex[6] = static_cast<float>(rng() % 64) / 64.0f;
          vertex[7] = static_cast<float>(rng() % 64) / 64.0f;
          uint8_t raw[sizeof vertex];
          std::memcpy(raw, vertex, sizeof vertex);
          b.insert(b.end(), raw, raw + sizeof raw);
        }
      }
    }
    b.resize(kContentBytes);
    return b;
  }();
  return content;
}

struct Packed {
  std::vector<uint8_t> bytes;      // blocks back to back
  std::vector<unsigned> lengths;   // payload length per block; == content length when stored
};

Packed PackAll(const std::vector<uint8_t>& content) {
  Packed p;
  p.bytes.resize(content.size());
  size_t at = 0;
  for (size_t pos = 0; pos < content.size(); pos += BlockCoder::kBlockBytes) {
    const unsigned n = static_cast<unsigned>(std::min<size_t>(BlockCoder::kBlockBytes, content.size() - pos));
    const unsigned coded = BlockCoder::Code(p.bytes.data() + at, content.data() + pos, n);
    p.lengths.push_back(coded);
    at += coded;
  }
  p.bytes.resize(at);
  return p;
}

void BM_BlockCoderPack(benchmark::State& state) {
  const auto& content = Content();
  size_t packed = 0;
  for (auto _ : state) {
    Packed p = PackAll(content);
    packed = p.bytes.size();
    benchmark::DoNotOptimize(p.bytes.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * content.size()));
  state.counters["ratio"] = static_cast<double>(packed) / static_cast<double>(content.size());
}
BENCHMARK(BM_BlockCoderPack)->Unit(benchmark::kMillisecond);

void BM_BlockCoderExpand(benchmark::State& state) {
  const auto& content = Content();
  const Packed p = PackAll(content);
  std::vector<uint8_t> out(content.size());
  for (auto _ : state) {
    size_t in = 0, pos = 0;
    for (unsigned len : p.lengths) {
      const unsigned n = static_cast<unsigned>(std::min<size_t>(BlockCoder::kBlockBytes, content.size() - pos));
      if (len == n) {
        std::memcpy(out.data() + pos, p.bytes.data() + in, n);  // stored block
      } else if (BlockCoder::Expand(out.data() + pos, BlockCoder::kBlockBytes, p.bytes.data() + in, len) != n) {
        state.SkipWithError("expand mismatch");
        return;
      }
      in += len;
      pos += n;
    }
    benchmark::DoNotOptimize(out.data());
  }
  if (out != content) state.SkipWithError("round trip mismatch");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * content.size()));
}
BENCHMARK(BM_BlockCoderExpand)->Unit(benchmark::kMillisecond);

void BM_ZlibCompress(benchmark::State& state) {
  const auto& content = Content();
  std::vector<uint8_t> out(compressBound(content.size()));
  uLongf packed = 0;
  for (auto _ : state) {
    packed = out.size();
    if (compress2(out.data(), &packed, content.data(), content.size(), static_cast<int>(state.range(0))) != Z_OK) {
      state.SkipWithError("compress2 failed");
      return;
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * content.size()));
  state.counters["ratio"] = static_cast<double>(packed) / static_cast<double>(content.size());
}
BENCHMARK(BM_ZlibCompress)->Arg(1)->Arg(6)->Unit(benchmark::kMillisecond);

void BM_ZlibUncompress(benchmark::State& state) {
  const auto& content = Content();
  std::vector<uint8_t> packed(compressBound(content.size()));
  uLongf packedSize = packed.size();
  compress2(packed.data(), &packedSize, content.data(), content.size(), static_cast<int>(state.range(0)));
  std::vector<uint8_t> out(content.size());
  for (auto _ : state) {
    uLongf n = out.size();
    if (uncompress(out.data(), &n, packed.data(), packedSize) != Z_OK || n != content.size()) {
      state.SkipWithError("uncompress failed");
      return;
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * content.size()));
}
BENCHMARK(BM_ZlibUncompress)->Arg(1)->Arg(6)->Unit(benchmark::kMillisecond);

} // namespace
