#pragma once
// An image in memory: 32-bit pixels (blue, green, red, alpha in memory
// order) or, for compressed textures, an opaque byte buffer with the
// dimensions it stands for. Loads uncompressed and run-length TGA files and
// BMP files of 24 and 32 bits; tells the size of TGA, BMP, JPEG and PNG files
// of any layout without decoding them.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace Vak {

class Bitmap {
public:
  enum Format : int32_t {
    kFormatNone = 0,
    kFormatARGB = 2,        // 32 bits, alpha meaningful
    kFormatXRGB = 3,        // 32 bits, alpha byte 255 and ignored
    kFormatCompressed = 5,  // opaque bytes (blocks of a texture format)
  };

  Bitmap() = default;
  // A 32-bit image of zero pixels (empty, of that format, for a zero size).
  Bitmap(uint32_t width, uint32_t height, Format format);
  // A compressed image of `size` bytes, zero-filled.
  Bitmap(uint32_t width, uint32_t height, std::size_t size);

  // Replaces the image by a file's (through the file substitutes); false,
  // and empty, when it cannot be read or is not a supported TGA or BMP.
  bool Load(const char* path);
  // The same from bytes in memory.
  bool LoadFromMemory(const uint8_t* data, std::size_t size);
  bool LoadTGA(const uint8_t* data, std::size_t size);
  bool LoadBMP(const uint8_t* data, std::size_t size);

  // The width and height a TGA, BMP, JPEG or PNG file declares, without its
  // pixels. False for bytes that are no such image, or that end before the
  // pixel data the header declares (for JPEG and PNG: before the end
  // marker).
  static bool ReadSize(const char* path, uint32_t& width, uint32_t& height);
  static bool ReadSizeFromMemory(const uint8_t* data, std::size_t size, uint32_t& width, uint32_t& height);

  // A new 32-bit image resampled to the size (bilinear, edges clamped);
  // null for a compressed or empty image or a zero size.
  std::unique_ptr<Bitmap> Scale(uint32_t width, uint32_t height) const;

  uint32_t GetWidth() const { return width_; }
  uint32_t GetHeight() const { return height_; }
  Format GetFormat() const { return format_; }
  uint8_t* GetData() { return data_.data(); }
  const uint8_t* GetData() const { return data_.data(); }
  std::size_t GetDataSize() const { return data_.size(); }
  bool IsEmpty() const { return data_.empty(); }

  // The pixel at (x, y) as 0xAARRGGBB; 32-bit images only.
  uint32_t GetPixel(uint32_t x, uint32_t y) const;
  void SetPixel(uint32_t x, uint32_t y, uint32_t argb);

  // Largest image side a loader accepts; keeps a corrupt header from asking
  // for gigabytes.
  static constexpr uint32_t kMaxSide = 16384;

private:
  // Leaves bytes that are not given a value uninitialised, so that a load
  // that overwrites every pixel does not zero them first.
  template <typename T>
  struct Uninitialised : std::allocator<T> {
    template <typename U>
    struct rebind {
      using other = Uninitialised<U>;
    };
    Uninitialised() = default;
    template <typename U>
    Uninitialised(const Uninitialised<U>&) noexcept {}
    template <typename U>
    void construct(U* p) noexcept {
      ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args) {
      ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
  };

  void Reset();
  bool Allocate(uint32_t width, uint32_t height, Format format);
  // A plain 32-bit TGA read from `path` straight into the pixels; false
  // (nothing read) for any other file, which Load then reads whole.
  bool LoadPlainTGA(const char* path, bool& loaded);

  uint32_t width_ = 0;
  uint32_t height_ = 0;
  Format format_ = kFormatNone;
  std::vector<uint8_t, Uninitialised<uint8_t>> data_;
};

} // namespace Vak
