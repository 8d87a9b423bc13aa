#pragma once
// A texture description that compresses instead of displaying: its images go
// through nvtt into the blocks of the chosen format, and Save writes those.
// The caller attaches an option set before loading; its keys steer the
// format ("Compression", "forceOptions"), clamp the size ("MaxTextureSize")
// and add texture settings (the eight keys of kSettingKeys).
#include <cstdint>
#include <memory>
#include <vector>

#include "assets3d/TextureCompress.h"
#include "engine/dorvix/AsciiTextureResource.h"

namespace Vak {
class Options;
}

class CompressAsciiResource : public Vak::AsciiTextureResource {
public:
  // A format choice: code and whether it keeps alpha.
  struct Slot {
    int code = 1;
    bool alpha = true;
    bool operator==(const Slot&) const = default;
  };
  // Slot 0 serves textures without alpha, 1 one-bit alpha, 2 full alpha.
  using Slots = Slot[3];

  static constexpr const char* kSettingKeys[] = {"Hint",      "AlphaHint", "Anisotropy", "AutoMip",
                                                 "MagFilter", "MinFilter", "MipFilter",  "Tile"};
  static constexpr uint32_t kUnlimited = 4294967295u;

  CompressAsciiResource(const Vak::PString& name, const Vak::ResourceDatabase* database);
  ~CompressAsciiResource() override;

  // Not owned; attach before loading.
  void SetOptions(Vak::Options* options) { options_ = options; }

  Result LoadTxt(const char* file) override;
  // The images' size clamped by the maximum width and height.
  void GetSize(uint32_t& width, uint32_t& height) override;
  bool Save(const char* path, Vak::Display* display) override;
  int GetCompression() override { return ChooseCompression(); }
  uint32_t GetMipCount() override;
  std::unique_ptr<Vak::Bitmap> GetCompressedImage(uint32_t level, uint32_t slice) override;

  // The format code for the texture as loaded; sets the alpha flag.
  virtual int ChooseCompression();
  // Takes the mip lock and compresses (CUDA allowed); on failure the lock is
  // given back.
  virtual bool LockCompressed();
  // Gives back the mip lock and drops the compressed images.
  virtual void UnlockCompressed();

  bool CompressMips(bool cudaAllowed);
  // Compresses and writes the file; the caller holds the mip lock.
  bool CompressAndSave(const char* path, bool cudaAllowed);

  // The "Compression" option's words into the three slots.
  static void ParseCompression(Vak::Options& options, Slots& slots);

  bool AlphaFlag() const { return alpha_; }
  bool ForceOptions() const { return forceOptions_; }
  // Read for the record; nothing depends on it.
  bool BumpMap() const { return bumpMap_; }
  uint32_t MaxWidth() const { return maxWidth_; }
  uint32_t MaxHeight() const { return maxHeight_; }
  std::size_t CompressedCount() const { return compressed_.size(); }
  const TextureCompress* Compressed(std::size_t slice) const {
    return slice < compressed_.size() ? compressed_[slice].get() : nullptr;
  }

private:
  bool ApplyOptions();

  std::vector<std::unique_ptr<TextureCompress>> compressed_;
  Vak::Options* options_ = nullptr;
  bool forceOptions_ = false;
  bool alpha_ = false;
  bool bumpMap_ = false;
  uint32_t maxWidth_ = kUnlimited;
  uint32_t maxHeight_ = kUnlimited;
};
