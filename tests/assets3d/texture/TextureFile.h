#pragma once
// Reads back a written texture file, wraps one level in a DDS header and
// decodes it with ImageMagick.
#include <cstdint>
#include <string>
#include <vector>

#include "Vak/Bexlorn/ByteOrder.h"
#include "engine/dorvix/TextureResource.h"
#include "engine/kernelx/ResourceFile.h"
#include "tests/engine/kernelx/ImageFiles.h"
#include "tests/platform/os/TempFolder.h"

namespace texturetest {

inline uint32_t Log2(uint32_t side) {
  uint32_t n = 0;
  while (side > 1) side >>= 1, ++n;
  return n;
}

struct Level {
  uint32_t slice = 0, level = 0, width = 0, height = 0;
  std::string bytes;
};

struct TextureFile {
  bool ok = false;
  uint32_t width = 0, height = 0, depth = 0, mipCount = 0, code = 0, flags = 0;
  int32_t alphaClass = 0;
  std::vector<Level> levels;
};

inline TextureFile ReadTextureFile(const std::string& bytes) {
  TextureFile out;
  const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
  uint32_t type = 0;
  std::size_t end = 0;
  std::vector<Vak::ResourceChunk> chunks;
  if (!Vak::ReadResourceFileHeader(data, bytes.size(), type, end) || type != Vak::TextureResource::kFileType ||
      !Vak::ReadResourceChunks(data, 12, end, chunks) || chunks.empty() ||
      chunks[0].tag != Vak::TextureResource::kHeaderTag || chunks[0].end - chunks[0].payload != 44)
    return out;
  const uint8_t* h = data + chunks[0].payload;
  out.width = Vak::GetLE32(h);
  out.height = Vak::GetLE32(h + 4);
  out.depth = Vak::GetLE32(h + 8);
  out.mipCount = Vak::GetLE32(h + 12);
  out.code = Vak::GetLE32(h + 16);
  out.alphaClass = static_cast<int32_t>(Vak::GetLE32(h + 20));
  out.flags = Vak::GetLE32(h + 24);
  for (std::size_t i = 1; i < chunks.size(); ++i) {
    const uint8_t* p = data + chunks[i].payload;
    if (chunks[i].tag != Vak::TextureResource::kDataTag || chunks[i].end - chunks[i].payload < 20) return out;
    Level level{Vak::GetLE32(p), Vak::GetLE32(p + 4), Vak::GetLE32(p + 8), Vak::GetLE32(p + 12), ""};
    const uint32_t size = Vak::GetLE32(p + 16);
    if (size != chunks[i].end - chunks[i].payload - 20) return out;
    level.bytes.assign(bytes, chunks[i].payload + 20, size);
    out.levels.push_back(level);
  }
  out.ok = true;
  return out;
}

// A DDS file of one level in the texture's format code.
inline std::string Dds(const Level& level, uint32_t code) {
  const bool blocks = code >= 10;
  std::string out = "DDS ";
  Vak::AppendLE32(out, 124);
  Vak::AppendLE32(out, 0x1007u | (blocks ? 0x80000u : 0x8u));
  Vak::AppendLE32(out, level.height);
  Vak::AppendLE32(out, level.width);
  Vak::AppendLE32(out, blocks ? static_cast<uint32_t>(level.bytes.size()) : level.width * 4);
  Vak::AppendLE32(out, 0);
  Vak::AppendLE32(out, 0);
  for (int i = 0; i < 11; ++i) Vak::AppendLE32(out, 0);
  Vak::AppendLE32(out, 32);
  Vak::AppendLE32(out, blocks ? 0x4u : 0x41u);
  out += code == 10 ? "DXT1" : code == 11 ? "DXT3" : code == 12 ? "DXT5" : std::string(4, '\0');
  Vak::AppendLE32(out, blocks ? 0 : 32);
  for (uint32_t mask : {0x00FF0000u, 0x0000FF00u, 0x000000FFu, 0xFF000000u}) Vak::AppendLE32(out, blocks ? 0 : mask);
  Vak::AppendLE32(out, 0x1000);
  for (int i = 0; i < 4; ++i) Vak::AppendLE32(out, 0);
  return out + level.bytes;
}

// The pixels ImageMagick decodes from a DDS file of the folder, as
// 0xAARRGGBB; empty when it fails.
inline std::vector<uint32_t> Decode(const platform::test::TempFolder& folder, const std::string& ddsName) {
  std::vector<uint32_t> pixels;
  if (!imagefiles::Convert({folder / ddsName, "-depth", "8", "rgba:" + (folder / "decoded.raw")})) return pixels;
  const std::string raw = folder.ReadFile("decoded.raw");
  for (std::size_t i = 0; i + 4 <= raw.size(); i += 4) {
    const auto* p = reinterpret_cast<const uint8_t*>(raw.data() + i);
    pixels.push_back(uint32_t{p[3]} << 24 | uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2]);
  }
  return pixels;
}

} // namespace texturetest
