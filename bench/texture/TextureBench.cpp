// A 2048 x 2048 RGBA image compressed to DXT1 and to DXT5 without mip maps:
// through CompressAsciiResource (description and TGA read, nvtt at its
// highest quality, texture file written) against nvcompress on the same TGA
// (its default quality, no CUDA), each timed as a whole in this one run. The
// ratios and output sizes are printed at the end.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "Vak/Bexlorn/ByteOrder.h"
#include "Vak/Bexlorn/Options.h"
#include "assets3d/CompressAsciiResource.h"
#include "bench/BenchScratch.h"
#include "platform/os/Process.h"
#include "platform/os/Waitable.h"

namespace {

constexpr uint32_t kSide = 2048;

// Ramps, a block-misaligned checker and an alpha ramp, as a 32-bit TGA with
// its description beside it.
struct Fixture {
  std::filesystem::path folder;
  Fixture() {
    folder = bench::ScratchPath("texture");
    std::filesystem::create_directories(folder);
    std::string tga(18, '\0');
    tga[2] = 2;
    Vak::PutLE16(reinterpret_cast<uint8_t*>(&tga[12]), kSide);
    Vak::PutLE16(reinterpret_cast<uint8_t*>(&tga[14]), kSide);
    tga[16] = 32;
    tga[17] = 8;
    tga.reserve(18 + std::size_t{kSide} * kSide * 4);
    for (uint32_t y = 0; y < kSide; ++y) {
      for (uint32_t x = 0; x < kSide; ++x) {
        tga += static_cast<char>((((x + 3) / 6 + y / 5) % 2) ? 220 : 30);
        tga += static_cast<char>(y * 255 / (kSide - 1));
        tga += static_cast<char>(x * 255 / (kSide - 1));
        tga += static_cast<char>((x + y) * 255 / (2 * kSide - 2));
      }
    }
    std::ofstream(folder / "image.tga", std::ios::binary) << tga;
    std::ofstream(folder / "image.texture.txt", std::ios::binary) << "Primary=image.tga\n";
  }
};

Fixture& Files() {
  static Fixture fixture;
  return fixture;
}

struct Result {
  double seconds = 0;
  uintmax_t bytes = 0;
};
Result gOurs[2], gTheirs[2];  // DXT1, DXT5

void Ours(benchmark::State& state, int format) {
  const std::string output = (Files().folder / (format ? "ours5.texture" : "ours1.texture")).string();
  const std::string description = (Files().folder / "image.texture.txt").string();
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    Vak::Options options;
    options.ProcessRaw(format ? "-forceOptions -Compression=dxt5,dxt5,dxt5 -AutoMip=none"
                              : "-forceOptions -Compression=dxt1,dxt1,dxt1 -AutoMip=none");
    CompressAsciiResource texture(Vak::PString("image.texture"), nullptr);
    texture.SetOptions(&options);
    bool ok = texture.LoadTxt(description.c_str()).Ok() && texture.LockMips();
    ok = ok && texture.CompressAndSave(output.c_str(), true);
    texture.UnlockCompressed();
    gOurs[format].seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!ok) state.SkipWithError("conversion failed");
  }
  gOurs[format].bytes = std::filesystem::file_size(output);
}

void Theirs(benchmark::State& state, int format) {
  const std::string output = (Files().folder / (format ? "theirs5.dds" : "theirs1.dds")).string();
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    platform::Process nvcompress;
    const bool ok = nvcompress.Start({"/usr/bin/nvcompress", format ? "-bc3" : "-bc1", "-nomips", "-nocuda",
                                      (Files().folder / "image.tga").string(), output}) == platform::Error::None &&
                    nvcompress.Wait(platform::kInfinite) && nvcompress.ExitCode() == 0;
    gTheirs[format].seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!ok) state.SkipWithError("nvcompress failed (is libnvtt-bin installed?)");
  }
  gTheirs[format].bytes = std::filesystem::file_size(output);
}

void BM_OursDXT1(benchmark::State& state) { Ours(state, 0); }
void BM_NvcompressDXT1(benchmark::State& state) { Theirs(state, 0); }
void BM_OursDXT5(benchmark::State& state) { Ours(state, 1); }
void BM_NvcompressDXT5(benchmark::State& state) { Theirs(state, 1); }

void BM_TextureRatio(benchmark::State& state) {
  for (auto _ : state) benchmark::ClobberMemory();
  const char* names[2] = {"DXT1", "DXT5"};
  for (int i = 0; i < 2; ++i) {
    const double ratio = gTheirs[i].seconds > 0 ? gOurs[i].seconds / gTheirs[i].seconds : 0.0;
    state.counters[std::string(names[i]) + "_ours_over_nvcompress"] = ratio;
    std::printf("TextureBench %s: ours %.3f s (%ju bytes, highest quality), nvcompress %.3f s (%ju bytes, its "
                "default quality), ratio %.2f\n",
                names[i], gOurs[i].seconds, gOurs[i].bytes, gTheirs[i].seconds, gTheirs[i].bytes, ratio);
  }
}

} // namespace

BENCHMARK(BM_OursDXT1)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NvcompressDXT1)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OursDXT5)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NvcompressDXT5)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TextureRatio)->Iterations(1);
