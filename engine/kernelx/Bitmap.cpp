#include "engine/kernelx/Bitmap.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "Vak/Bexlorn/ByteOrder.h"
#include "Vak/Bexlorn/File.h"
#include "engine/kernelx/WholeFile.h"

namespace Vak {

namespace {

constexpr std::size_t kTgaHeader = 18;
constexpr std::size_t kBmpFileHeader = 14;
constexpr std::size_t kBmpInfoHeader = 40;
constexpr std::size_t kBmpCoreHeader = 12;

// Types 1, 2, 3 (colour-mapped, true colour, grey) and their run-length forms
// 9, 10, 11. A run-length body is walked packet by packet.
bool TgaSize(const uint8_t* data, std::size_t size, uint32_t& width, uint32_t& height) {
  if (size < kTgaHeader) return false;
  const uint8_t mapType = data[1];
  const uint8_t type = data[2];
  const uint8_t mapBits = data[7];
  const uint8_t depth = data[16];
  const unsigned base = type & 7u;
  const bool rle = (type & 8u) != 0;
  // A colour map beside true-colour or grey pixels is skipped.
  if ((type & ~0xBu) != 0 || base == 0 || mapType > 1 || (base == 1 && mapType != 1)) return false;
  const bool depthOk = base == 1 ? (depth == 8 || depth == 16)
                       : base == 2 ? (depth == 15 || depth == 16 || depth == 24 || depth == 32)
                                   : (depth == 8 || depth == 16);
  if (!depthOk) return false;
  const uint32_t w = GetLE16(data + 12);
  const uint32_t h = GetLE16(data + 14);
  if (w == 0 || h == 0) return false;
  std::size_t pos = kTgaHeader + data[0];
  if (mapType == 1) pos += std::size_t{GetLE16(data + 5)} * ((mapBits + 7u) / 8u);
  if (pos > size) return false;
  const std::size_t bytesPerPixel = (depth + 7u) / 8u;
  const std::size_t pixels = std::size_t{w} * h;
  if (!rle) {
    if ((size - pos) / bytesPerPixel < pixels) return false;
  } else {
    for (std::size_t done = 0; done < pixels;) {
      if (pos >= size) return false;
      const uint8_t packet = data[pos++];
      const std::size_t count = (packet & 0x7Fu) + 1u;
      if (count > pixels - done) return false;
      const std::size_t bytes = (packet & 0x80u) ? bytesPerPixel : count * bytesPerPixel;
      if (size - pos < bytes) return false;
      pos += bytes;
      done += count;
    }
  }
  width = w;
  height = h;
  return true;
}

// The Windows headers (40 bytes and longer) and the OS/2 core header of
// 12; uncompressed and bit-field bodies must be whole, a run-length body as
// long as its declared size.
bool BmpSize(const uint8_t* data, std::size_t size, uint32_t& width, uint32_t& height) {
  if (size < kBmpFileHeader + kBmpCoreHeader || data[0] != 'B' || data[1] != 'M') return false;
  const uint32_t offset = GetLE32(data + 10);
  const uint8_t* info = data + kBmpFileHeader;
  const uint32_t infoSize = GetLE32(info);
  int64_t w = 0, h = 0;
  uint32_t planes = 0, bits = 0, compression = 0, imageSize = 0;
  if (infoSize == kBmpCoreHeader) {
    w = GetLE16(info + 4);
    h = GetLE16(info + 6);
    planes = GetLE16(info + 8);
    bits = GetLE16(info + 10);
  } else {
    if (infoSize < kBmpInfoHeader || size < kBmpFileHeader + kBmpInfoHeader) return false;
    w = static_cast<int32_t>(GetLE32(info + 4));
    h = static_cast<int32_t>(GetLE32(info + 8));
    planes = GetLE16(info + 12);
    bits = GetLE16(info + 14);
    compression = GetLE32(info + 16);
    imageSize = GetLE32(info + 20);
  }
  if (h < 0) h = -h;
  if (planes != 1 || w <= 0 || h == 0 || offset > size) return false;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return false;
  const std::size_t room = size - offset;
  if (compression == 1 || compression == 2) {
    if (bits != (compression == 1 ? 8u : 4u) || imageSize == 0 || imageSize > room) return false;
  } else if (compression == 0 || compression == 3) {
    if (compression == 3 && bits != 16 && bits != 32) return false;
    const uint64_t stride = (static_cast<uint64_t>(w) * bits + 31u) / 32u * 4u;
    if (room / stride < static_cast<uint64_t>(h)) return false;
  } else {
    return false;
  }
  width = static_cast<uint32_t>(w);
  height = static_cast<uint32_t>(h);
  return true;
}

// The chunks are walked to "IEND"; the header must come first and some
// image data must follow it.
bool PngSize(const uint8_t* data, std::size_t size, uint32_t& width, uint32_t& height) {
  static constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (size < 8 + 8 + 13 + 4 || std::memcmp(data, kSignature, 8) != 0) return false;
  if (GetBE32(data + 8) != 13 || std::memcmp(data + 12, "IHDR", 4) != 0) return false;
  const uint32_t w = GetBE32(data + 16);
  const uint32_t h = GetBE32(data + 20);
  if (w == 0 || h == 0 || w > 0x7FFFFFFFu || h > 0x7FFFFFFFu) return false;
  bool imageData = false;
  for (std::size_t pos = 8; pos < size;) {
    if (size - pos < 12) return false;
    const uint32_t length = GetBE32(data + pos);
    if (length > 0x7FFFFFFFu || size - pos - 12 < length) return false;
    const uint8_t* type = data + pos + 4;
    if (std::memcmp(type, "IDAT", 4) == 0) imageData = true;
    if (std::memcmp(type, "IEND", 4) == 0) {
      if (!imageData) return false;
      width = w;
      height = h;
      return true;
    }
    pos += 12 + std::size_t{length};
  }
  return false;
}

// Segments are walked to the first scan; its frame header gives the size,
// and the entropy-coded data after it must reach an end-of-image marker.
bool JpegSize(const uint8_t* data, std::size_t size, uint32_t& width, uint32_t& height) {
  if (size < 4 || data[0] != 0xFF || data[1] != 0xD8) return false;
  uint32_t w = 0, h = 0;
  std::size_t pos = 2;
  for (;;) {
    if (pos >= size || data[pos] != 0xFF) return false;
    while (pos < size && data[pos] == 0xFF) ++pos;
    if (pos >= size) return false;
    const uint8_t marker = data[pos++];
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;
    if (marker == 0xD8 || marker == 0xD9 || marker == 0x00) return false;
    if (size - pos < 2) return false;
    const std::size_t length = GetBE16(data + pos);
    if (length < 2 || size - pos < length) return false;
    const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (frame) {
      if (length < 8) return false;
      h = GetBE16(data + pos + 3);
      w = GetBE16(data + pos + 5);
      if (w == 0 || h == 0) return false;
    }
    pos += length;
    if (marker == 0xDA) break;
  }
  if (w == 0) return false;
  for (; pos + 1 < size; ++pos) {
    if (data[pos] == 0xFF && data[pos + 1] == 0xD9) {
      width = w;
      height = h;
      return true;
    }
  }
  return false;
}

} // namespace

Bitmap::Bitmap(uint32_t width, uint32_t height, Format format) {
  // A size no image can have leaves an empty image of the format.
  if (!Allocate(width, height, format)) format_ = format;
}

Bitmap::Bitmap(uint32_t width, uint32_t height, std::size_t size)
    : width_(width), height_(height), format_(kFormatCompressed), data_(size, 0) {}

void Bitmap::Reset() {
  width_ = height_ = 0;
  format_ = kFormatNone;
  data_.clear();
}

bool Bitmap::Allocate(uint32_t width, uint32_t height, Format format) {
  Reset();
  if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide) return false;
  width_ = width;
  height_ = height;
  format_ = format;
  data_.assign(std::size_t{width} * height * 4, 0);
  return true;
}

uint32_t Bitmap::GetPixel(uint32_t x, uint32_t y) const {
  return GetLE32(&data_[(std::size_t{y} * width_ + x) * 4]);
}

void Bitmap::SetPixel(uint32_t x, uint32_t y, uint32_t argb) { PutLE32(&data_[(std::size_t{y} * width_ + x) * 4], argb); }

bool Bitmap::LoadPlainTGA(const char* path, bool& loaded) {
  loaded = false;
  File file;
  if (path == nullptr || !file.Open(path, File::kRead).Ok()) return false;
  const uint32_t size = file.Size();
  uint8_t header[kTgaHeader];
  if (size < kTgaHeader || file.Read(header, kTgaHeader, 1) != 1) return false;
  const uint8_t mapType = header[1];
  const uint32_t width = GetLE16(header + 12);
  const uint32_t height = GetLE16(header + 14);
  // Rows from the bottom or the top, columns not mirrored: what LoadTGA
  // copies row by row without a change.
  if (mapType > 1 || header[2] != 2 || header[16] != 32 || (header[17] & 0x10u) != 0) return false;
  std::size_t pos = kTgaHeader + header[0];
  if (mapType == 1) pos += std::size_t{GetLE16(header + 5)} * ((header[7] + 7u) / 8u);
  const std::size_t pixels = std::size_t{width} * height;
  if (pos > size || (size - pos) / 4 < pixels || width == 0 || height == 0 || width > kMaxSide || height > kMaxSide)
    return false;
  const std::size_t rowBytes = std::size_t{width} * 4;
  const std::size_t pixelBytes = pixels * 4;
  const std::size_t tail = size - pos - pixelBytes;
  width_ = width;
  height_ = height;
  format_ = kFormatARGB;
  data_.resize(pixelBytes);
  // The rest of the file must read as ReadWholeFile would read it: every
  // declared byte, and nothing more.
  std::vector<uint8_t> skipped(std::max(pos - kTgaHeader, tail) + 1);
  bool whole = file.Read(skipped.data(), 1, pos - kTgaHeader) == pos - kTgaHeader &&
               file.Read(data_.data(), 1, pixelBytes) == pixelBytes && file.Read(skipped.data(), 1, tail) == tail &&
               file.Read(skipped.data(), 1, 1) == 0 && !file.ReadFailed();
  file.Close();
  if (!whole) {
    Reset();
    return true;
  }
  if ((header[17] & 0x20u) == 0) {
    for (uint32_t top = 0, bottom = height - 1; top < bottom; ++top, --bottom)
      std::swap_ranges(&data_[top * rowBytes], &data_[top * rowBytes] + rowBytes, &data_[bottom * rowBytes]);
  }
  loaded = true;
  return true;
}

bool Bitmap::Load(const char* path) {
  Reset();
  bool loaded = false;
  if (LoadPlainTGA(path, loaded)) return loaded;
  std::string bytes;
  if (!ReadWholeFile(path, bytes)) return false;
  return LoadFromMemory(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

bool Bitmap::ReadSize(const char* path, uint32_t& width, uint32_t& height) {
  std::string bytes;
  return ReadWholeFile(path, bytes) &&
         ReadSizeFromMemory(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), width, height);
}

bool Bitmap::ReadSizeFromMemory(const uint8_t* data, std::size_t size, uint32_t& width, uint32_t& height) {
  width = height = 0;
  if (data == nullptr || size < 2) return false;
  if (data[0] == 'B' && data[1] == 'M') return BmpSize(data, size, width, height);
  if (data[0] == 0x89 && data[1] == 'P') return PngSize(data, size, width, height);
  if (data[0] == 0xFF && data[1] == 0xD8) return JpegSize(data, size, width, height);
  return TgaSize(data, size, width, height);
}

bool Bitmap::LoadFromMemory(const uint8_t* data, std::size_t size) {
  if (data != nullptr && size >= 2 && data[0] == 'B' && data[1] == 'M') return LoadBMP(data, size);
  return LoadTGA(data, size);
}

// Image types 2 (true colour) and 10 (run-length true colour); a colour map,
// when present, is skipped. Rows run bottom-up unless bit 5 of the
// descriptor says top-down; bit 4 mirrors the columns.
bool Bitmap::LoadTGA(const uint8_t* data, std::size_t size) {
  Reset();
  if (data == nullptr || size < kTgaHeader) return false;
  const uint8_t idLength = data[0];
  const uint8_t mapType = data[1];
  const uint8_t type = data[2];
  const uint16_t mapLength = GetLE16(data + 5);
  const uint8_t mapBits = data[7];
  const uint32_t width = GetLE16(data + 12);
  const uint32_t height = GetLE16(data + 14);
  const uint8_t depth = data[16];
  const uint8_t descriptor = data[17];
  if (mapType > 1 || (type != 2 && type != 10) || (depth != 24 && depth != 32)) return false;
  std::size_t pos = kTgaHeader + idLength;
  if (mapType == 1) pos += std::size_t{mapLength} * ((mapBits + 7u) / 8u);
  if (pos > size) return false;
  const unsigned bytesPerPixel = depth / 8u;
  const std::size_t pixels = std::size_t{width} * height;
  // What the rest of the file can hold at most, before anything is
  // allocated: a run packet gives 128 pixels from 1 + bytesPerPixel bytes.
  const std::size_t room = size - pos;
  if (type == 2 ? room / bytesPerPixel < pixels : room / (1u + bytesPerPixel) < (pixels + 127u) / 128u) return false;
  if (!Allocate(width, height, depth == 32 ? kFormatARGB : kFormatXRGB)) return false;

  // bytesPerPixel per pixel, file order: the file's own bytes when they are
  // stored plain, else the runs unpacked.
  const uint8_t* pixelBytes = data + pos;
  std::vector<uint8_t> source;
  if (type == 2) {
    if (size - pos < pixels * bytesPerPixel) return Reset(), false;
  } else {
    source.reserve(pixels * bytesPerPixel);
    while (source.size() < pixels * bytesPerPixel) {
      if (pos >= size) return Reset(), false;
      const uint8_t packet = data[pos++];
      const std::size_t count = (packet & 0x7Fu) + 1u;
      if (count * bytesPerPixel > pixels * bytesPerPixel - source.size()) return Reset(), false;
      if (packet & 0x80u) {
        if (size - pos < bytesPerPixel) return Reset(), false;
        for (std::size_t i = 0; i < count; ++i) source.insert(source.end(), data + pos, data + pos + bytesPerPixel);
        pos += bytesPerPixel;
      } else {
        if (size - pos < count * bytesPerPixel) return Reset(), false;
        source.insert(source.end(), data + pos, data + pos + count * bytesPerPixel);
        pos += count * bytesPerPixel;
      }
    }
    pixelBytes = source.data();
  }
  const bool topDown = (descriptor & 0x20u) != 0;
  const bool mirrored = (descriptor & 0x10u) != 0;
  for (uint32_t row = 0; row < height; ++row) {
    const uint32_t y = topDown ? row : height - 1 - row;
    if (bytesPerPixel == 4 && !mirrored) {
      std::memcpy(&data_[std::size_t{y} * width * 4], pixelBytes + std::size_t{row} * width * 4, std::size_t{width} * 4);
      continue;
    }
    for (uint32_t column = 0; column < width; ++column) {
      const uint32_t x = mirrored ? width - 1 - column : column;
      const uint8_t* p = pixelBytes + (std::size_t{row} * width + column) * bytesPerPixel;
      uint8_t* q = &data_[(std::size_t{y} * width + x) * 4];
      q[0] = p[0];
      q[1] = p[1];
      q[2] = p[2];
      q[3] = bytesPerPixel == 4 ? p[3] : 255;
    }
  }
  return true;
}

// Uncompressed BMPs of 24 and 32 bits (bit fields only in the plain
// blue-green-red-alpha order). A 32-bit file whose alpha bytes are all 0
// wrote no alpha at all and loads opaque.
bool Bitmap::LoadBMP(const uint8_t* data, std::size_t size) {
  Reset();
  if (data == nullptr || size < kBmpFileHeader + kBmpInfoHeader || data[0] != 'B' || data[1] != 'M') return false;
  const uint32_t offset = GetLE32(data + 10);
  const uint8_t* info = data + kBmpFileHeader;
  const uint32_t infoSize = GetLE32(info);
  const int32_t width = static_cast<int32_t>(GetLE32(info + 4));
  const int32_t rawHeight = static_cast<int32_t>(GetLE32(info + 8));
  const uint16_t planes = GetLE16(info + 12);
  const uint16_t bits = GetLE16(info + 14);
  const uint32_t compression = GetLE32(info + 16);
  if (infoSize < kBmpInfoHeader || planes != 1 || (bits != 24 && bits != 32)) return false;
  if (compression == 3) {
    if (bits != 32 || size < kBmpFileHeader + kBmpInfoHeader + 12) return false;
    const uint8_t* masks = info + kBmpInfoHeader;
    if (GetLE32(masks) != 0x00FF0000u || GetLE32(masks + 4) != 0x0000FF00u || GetLE32(masks + 8) != 0x000000FFu)
      return false;
  } else if (compression != 0) {
    return false;
  }
  if (width <= 0 || rawHeight == 0 || rawHeight == INT32_MIN) return false;
  const bool topDown = rawHeight < 0;
  const uint32_t height = static_cast<uint32_t>(topDown ? -rawHeight : rawHeight);
  const unsigned bytesPerPixel = bits / 8u;
  const std::size_t stride = (static_cast<std::size_t>(width) * bytesPerPixel + 3u) & ~std::size_t{3};
  if (offset > size || (size - offset) / stride < height) return false;
  if (!Allocate(static_cast<uint32_t>(width), height, bits == 32 ? kFormatARGB : kFormatXRGB)) return false;
  bool anyAlpha = false;
  for (uint32_t row = 0; row < height; ++row) {
    const uint32_t y = topDown ? row : height - 1 - row;
    const uint8_t* p = data + offset + std::size_t{row} * stride;
    for (uint32_t x = 0; x < width_; ++x, p += bytesPerPixel) {
      uint8_t* q = &data_[(std::size_t{y} * width_ + x) * 4];
      q[0] = p[0];
      q[1] = p[1];
      q[2] = p[2];
      q[3] = bytesPerPixel == 4 ? p[3] : 255;
      anyAlpha = anyAlpha || (bytesPerPixel == 4 && p[3] != 0);
    }
  }
  if (bits == 32 && !anyAlpha) {
    format_ = kFormatXRGB;
    for (std::size_t i = 3; i < data_.size(); i += 4) data_[i] = 255;
  }
  return true;
}

std::unique_ptr<Bitmap> Bitmap::Scale(uint32_t width, uint32_t height) const {
  if ((format_ != kFormatARGB && format_ != kFormatXRGB) || data_.empty() || width == 0 || height == 0 ||
      width > kMaxSide || height > kMaxSide)
    return nullptr;
  auto scaled = std::make_unique<Bitmap>(width, height, format_);
  // Sample centres map onto source centres.
  const double sx = static_cast<double>(width_) / width;
  const double sy = static_cast<double>(height_) / height;
  for (uint32_t y = 0; y < height; ++y) {
    const double fy = std::clamp((y + 0.5) * sy - 0.5, 0.0, static_cast<double>(height_ - 1));
    const uint32_t y0 = static_cast<uint32_t>(fy);
    const uint32_t y1 = std::min(y0 + 1, height_ - 1);
    const double wy = fy - y0;
    for (uint32_t x = 0; x < width; ++x) {
      const double fx = std::clamp((x + 0.5) * sx - 0.5, 0.0, static_cast<double>(width_ - 1));
      const uint32_t x0 = static_cast<uint32_t>(fx);
      const uint32_t x1 = std::min(x0 + 1, width_ - 1);
      const double wx = fx - x0;
      const uint8_t* a = &data_[(std::size_t{y0} * width_ + x0) * 4];
      const uint8_t* b = &data_[(std::size_t{y0} * width_ + x1) * 4];
      const uint8_t* c = &data_[(std::size_t{y1} * width_ + x0) * 4];
      const uint8_t* d = &data_[(std::size_t{y1} * width_ + x1) * 4];
      uint8_t* q = &scaled->data_[(std::size_t{y} * width + x) * 4];
      for (int k = 0; k < 4; ++k) {
        const double top = a[k] + (b[k] - a[k]) * wx;
        const double bottom = c[k] + (d[k] - c[k]) * wx;
        q[k] = static_cast<uint8_t>(std::lround(top + (bottom - top) * wy));
      }
    }
  }
  return scaled;
}

} // namespace Vak
