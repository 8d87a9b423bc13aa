#pragma once
// Image files for tests, written byte by byte from 0xAARRGGBB pixels held
// top row first, and a runner for ImageMagick's converter.
#include <cstdint>
#include <string>
#include <vector>

#include "Vak/Bexlorn/ByteOrder.h"
#include "platform/os/Process.h"
#include "platform/os/Waitable.h"

namespace imagefiles {

struct Image {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint32_t> pixels;  // 0xAARRGGBB, top row first
  uint32_t At(uint32_t x, uint32_t y) const { return pixels[y * width + x]; }
};

// Smooth ramps in red and green, a hard-edged blue checker of 4-pixel cells
// on the 4 x 4 block grid, alpha by `alphaKind`: 0 opaque,
// 1 a ramp, 2 one bit (a checker of 0 and 255). Pixel (0, 0) is all zero
// when `zeroCorner`.
inline Image Pattern(uint32_t width, uint32_t height, int alphaKind, bool zeroCorner = false) {
  Image image{width, height, std::vector<uint32_t>(std::size_t{width} * height)};
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      const uint32_t r = width > 1 ? x * 255 / (width - 1) : 128;
      const uint32_t g = height > 1 ? y * 255 / (height - 1) : 128;
      const uint32_t b = ((x / 4 + y / 4) % 2) ? 230 : 20;
      uint32_t a = 255;
      if (alphaKind == 1) a = (x * 7 + y * 13) % 256;
      if (alphaKind == 2) a = ((x / 2 + y / 2) % 2) ? 255 : 0;
      image.pixels[std::size_t{y} * width + x] = a << 24 | r << 16 | g << 8 | b;
    }
  }
  if (zeroCorner && !image.pixels.empty()) image.pixels[0] = 0;
  return image;
}

inline void Put8(std::string& out, uint32_t v) { out += static_cast<char>(v & 0xFF); }

// Type 2 or 10 (rle), 24 or 32 bits, rows bottom-up unless `topDown`;
// `mirrored` stores each row right to left.
inline std::string Tga(const Image& image, int bits, bool rle, bool topDown = false, bool mirrored = false) {
  std::string out;
  Put8(out, 0);
  Put8(out, 0);
  Put8(out, rle ? 10 : 2);
  out.append(5, '\0');
  Vak::AppendLE16(out, 0);
  Vak::AppendLE16(out, 0);
  Vak::AppendLE16(out, static_cast<uint16_t>(image.width));
  Vak::AppendLE16(out, static_cast<uint16_t>(image.height));
  Put8(out, static_cast<uint32_t>(bits));
  Put8(out, (bits == 32 ? 8u : 0u) | (topDown ? 0x20u : 0u) | (mirrored ? 0x10u : 0u));
  std::vector<uint32_t> order;
  for (uint32_t row = 0; row < image.height; ++row) {
    const uint32_t y = topDown ? row : image.height - 1 - row;
    for (uint32_t column = 0; column < image.width; ++column)
      order.push_back(image.At(mirrored ? image.width - 1 - column : column, y));
  }
  auto pixel = [&](uint32_t p) {
    for (int k = 0; k < bits / 8; ++k) Put8(out, p >> (8 * k));
  };
  if (!rle) {
    for (uint32_t p : order) pixel(p);
    return out;
  }
  // Runs of equal pixels as run packets, the rest as raw packets.
  std::size_t i = 0;
  while (i < order.size()) {
    std::size_t run = 1;
    while (i + run < order.size() && run < 128 && order[i + run] == order[i]) ++run;
    if (run > 1) {
      Put8(out, 0x80u | static_cast<uint32_t>(run - 1));
      pixel(order[i]);
      i += run;
      continue;
    }
    std::size_t raw = 1;
    while (i + raw < order.size() && raw < 128 && (i + raw + 1 >= order.size() || order[i + raw] != order[i + raw + 1]))
      ++raw;
    Put8(out, static_cast<uint32_t>(raw - 1));
    for (std::size_t k = 0; k < raw; ++k) pixel(order[i + k]);
    i += raw;
  }
  return out;
}

// BI_RGB, or for 32 bits with `bitfields` BI_BITFIELDS in the plain order.
inline std::string Bmp(const Image& image, int bits, bool topDown = false, bool bitfields = false) {
  const uint32_t stride = (image.width * static_cast<uint32_t>(bits) / 8 + 3) & ~3u;
  const uint32_t offset = 14 + 40 + (bitfields ? 12 : 0);
  std::string out = "BM";
  Vak::AppendLE32(out, offset + stride * image.height);
  Vak::AppendLE32(out, 0);
  Vak::AppendLE32(out, offset);
  Vak::AppendLE32(out, 40);
  Vak::AppendLE32(out, image.width);
  Vak::AppendLE32(out, topDown ? static_cast<uint32_t>(-static_cast<int32_t>(image.height)) : image.height);
  Vak::AppendLE16(out, 1);
  Vak::AppendLE16(out, static_cast<uint16_t>(bits));
  Vak::AppendLE32(out, bitfields ? 3 : 0);
  Vak::AppendLE32(out, stride * image.height);
  for (int i = 0; i < 4; ++i) Vak::AppendLE32(out, 0);
  if (bitfields) {
    Vak::AppendLE32(out, 0x00FF0000u);
    Vak::AppendLE32(out, 0x0000FF00u);
    Vak::AppendLE32(out, 0x000000FFu);
  }
  for (uint32_t row = 0; row < image.height; ++row) {
    const uint32_t y = topDown ? row : image.height - 1 - row;
    std::string line;
    for (uint32_t x = 0; x < image.width; ++x)
      for (int k = 0; k < bits / 8; ++k) Put8(line, image.At(x, y) >> (8 * k));
    line.resize(stride, '\0');
    out += line;
  }
  return out;
}

// Runs ImageMagick's converter with the arguments; true on exit code 0.
inline bool Convert(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "/usr/bin/convert-im6.q16");
  platform::Process converter;
  return converter.Start(arguments) == platform::Error::None && converter.Wait(platform::kInfinite) &&
         converter.ExitCode() == 0;
}

} // namespace imagefiles
