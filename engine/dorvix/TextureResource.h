#pragma once
// A texture resource: one or more image slices of one size, combined into
// 32-bit blue-green-red-alpha pixels, with the settings that say how the
// texture is stored and sampled. Derived kinds read the images (the text
// description of AsciiTextureResource); this class keeps the settings, the
// mip lock and writes the texture file:
//
//   resource file of type kFileType (engine/kernelx/ResourceFile.h)
//     "TXHD" v1: u32 width, u32 height, u32 depth, u32 mip count,
//                u32 format code, i32 alpha class, u32 flags,
//                u32 anisotropy, u32 mag, min and mip filter codes
//     "TXDT" v1, for each slice and each level in that order:
//                u32 slice, u32 level, u32 width, u32 height,
//                u32 byte count, the bytes
//
// Format codes: 1 uncompressed with alpha, 3 uncompressed without alpha,
// 10 DXT1, 11 DXT3, 12 DXT5. Flags: 1 S repeats, 2 T repeats, 4 normal map,
// 8 mip maps.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Vak/Cindrel/Resource.h"
#include "engine/kernelx/Bitmap.h"

namespace Vak {

class Display;
class File;
class ResourceFileWriter;

class TextureResource : public Resource {
public:
  static constexpr uint32_t kFileType = 0x46544D4D;
  static constexpr uint32_t kHeaderTag = 0x44485854;  // "TXHD"
  static constexpr uint32_t kDataTag = 0x54445854;    // "TXDT"

  enum Compression : uint8_t { kFileNone = 0, kFileDXT1 = 1, kFileDXT3 = 2, kFileDXT5 = 3, kFileAuto = 4 };
  enum Wrap : uint8_t { kClamp = 1, kRepeat = 2 };
  enum Filter : uint8_t { kFilterDefault = 0, kFilterNone, kFilterPoint, kFilterLinear, kFilterAnisotropic };

  // One key = value setting.
  struct Option {
    std::string key;
    std::string value;
  };
  using OptionRecord = std::vector<Option>;

  TextureResource(const PString& name, const ResourceDatabase* database);
  ~TextureResource() override;

  // The images' size (0 x 0 before loading).
  virtual void GetSize(uint32_t& width, uint32_t& height);
  // The format code the texture is written in; uncompressed here.
  virtual int GetCompression();
  // Mip levels written: the full chain of the size, or fewer when the
  // description limits them; 1 without mip maps.
  virtual uint32_t GetMipCount();
  // A new image of a level of a slice, owned by the caller; null past the
  // slices or the levels.
  virtual std::unique_ptr<Bitmap> GetCompressedImage(uint32_t level, uint32_t slice);
  // Writes the texture file (the mip lock taken around it); false when the
  // file cannot be opened or written.
  virtual bool Save(const char* path, Display* display);
  bool Unload() override;

  // Applies settings; keys ignore case, unknown keys are skipped. False at
  // the first value a known key does not accept (earlier ones stay applied).
  bool LoadTextureOptions(const OptionRecord& record);

  // The mip lock: the images stay as they are while it is held.
  bool LockMips();
  void UnlockMips();
  int32_t MipLockCount() const { return mipLocks_.load(); }

  // The chunks of the texture into an open container; the mip lock must be
  // held.
  bool SaveLockedInternal(ResourceFileWriter& writer, Display* display);

  // The level-0 image of a slice at the images' size; null past the slices.
  Bitmap* GetLevelImage(uint32_t slice);
  uint32_t GetDepth() const { return static_cast<uint32_t>(slices_.size()); }

  int8_t GetAlphaClass() const { return alphaClass_; }
  uint8_t GetFileCompression() const { return fileCompression_; }
  uint8_t GetNormalMapHint() const { return normalMapHint_; }
  uint8_t GetModifyMap() const { return modifyMap_; }
  uint8_t GetWrapS() const { return wrapS_; }
  uint8_t GetWrapT() const { return wrapT_; }
  bool UseMipMaps() const { return useMipMaps_; }
  uint32_t GetAnisotropy() const { return anisotropy_; }
  uint8_t GetMagFilter() const { return magFilter_; }
  uint8_t GetMinFilter() const { return minFilter_; }
  uint8_t GetMipFilter() const { return mipFilter_; }

  // Levels of a full chain down to 1 x 1 for the larger side.
  static uint32_t MipCountForSize(uint32_t width, uint32_t height);
  // The alpha class of pixels: 0 every alpha 255, 2 every alpha 0 or 255,
  // else 1.
  static int8_t AlphaClassOf(const Bitmap& image);

protected:
  // Makes the images the texture's slices (all of one size); the alpha
  // class follows the pixels unless a setting fixed it.
  void SetImages(std::vector<std::unique_ptr<Bitmap>> slices);
  void SetAlphaClass(int8_t alphaClass) { alphaClass_ = alphaClass; }
  // Opens `path`, writes the container around SaveLockedInternal, closes.
  bool WriteFile(const char* path, Display* display);

private:
  std::vector<std::unique_ptr<Bitmap>> slices_;
  std::atomic<int32_t> mipLocks_{0};
  int8_t alphaClass_ = -1;
  bool alphaFixed_ = false;
  uint8_t fileCompression_ = kFileAuto;
  uint8_t normalMapHint_ = 0;
  uint8_t modifyMap_ = 0;
  uint8_t wrapS_ = kRepeat;
  uint8_t wrapT_ = kRepeat;
  bool useMipMaps_ = true;
  uint32_t mipLimit_ = 0;  // 0: the full chain
  uint32_t anisotropy_ = 0;
  uint8_t magFilter_ = kFilterDefault;
  uint8_t minFilter_ = kFilterDefault;
  uint8_t mipFilter_ = kFilterDefault;
};

} // namespace Vak
