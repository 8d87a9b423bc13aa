#include "assets3d/CompressAsciiResource.h"

#include <algorithm>
#include <string>

#include "Vak/Bexlorn/CodePage.h"
#include "Vak/Bexlorn/Options.h"
#include "engine/kernelx/ResourceFile.h"

using Vak::Bitmap;

CompressAsciiResource::CompressAsciiResource(const Vak::PString& name, const Vak::ResourceDatabase* database)
    : AsciiTextureResource(name, database) {}

CompressAsciiResource::~CompressAsciiResource() = default;

bool CompressAsciiResource::ApplyOptions() {
  OptionRecord record;
  for (const char* key : kSettingKeys) {
    if (const char* value = options_->GetString(key)) record.push_back({key, value});
  }
  return LoadTextureOptions(record);
}

Vak::Resource::Result CompressAsciiResource::LoadTxt(const char* file) {
  if (options_ == nullptr) return RES_FAILED_TO_LOAD;
  forceOptions_ = options_->Find("forceOptions") != nullptr;
  bumpMap_ = options_->Find("BumpMap") != nullptr;
  options_->SetSeparators("MaxTextureSize", ",");
  unsigned value = 0;
  if (options_->GetNext("MaxTextureSize", value)) {
    maxWidth_ = value;
    if (options_->GetNext("MaxTextureSize", value)) maxHeight_ = value;
  }
  // The side loaded last wins.
  if (forceOptions_) {
    if (!AsciiTextureResource::LoadTxt(file).Ok()) return RES_FAILED_TO_LOAD;
    return ApplyOptions() ? RES_OK : RES_FAILED_TO_LOAD;
  }
  if (!ApplyOptions()) return RES_FAILED_TO_LOAD;
  return AsciiTextureResource::LoadTxt(file).Ok() ? RES_OK : RES_FAILED_TO_LOAD;
}

void CompressAsciiResource::GetSize(uint32_t& width, uint32_t& height) {
  TextureResource::GetSize(width, height);
  if (width > maxWidth_) {
    height = std::max(1u, static_cast<uint32_t>(static_cast<double>(height) / width * maxWidth_));
    width = maxWidth_;
  }
  if (height > maxHeight_) {
    width = std::max(1u, static_cast<uint32_t>(static_cast<double>(width) / height * maxHeight_));
    height = maxHeight_;
  }
}

uint32_t CompressAsciiResource::GetMipCount() {
  uint32_t width, height;
  GetSize(width, height);
  return std::min(MipCountForSize(width, height), TextureResource::GetMipCount());
}

void CompressAsciiResource::ParseCompression(Vak::Options& options, Slots& slots) {
  for (Slot& slot : slots) slot = Slot{};
  options.SetSeparators("Compression", ",");
  Vak::String item;
  for (int i = 0; i < 3 && options.GetNext("Compression", item); ++i) {
    const std::string word = Vak::CodePage::AsciiLowered(static_cast<const char*>(item));
    if (word == "auto" && i == 0) {
      slots[0] = {10, false};
      slots[1] = {10, true};
      slots[2] = {12, true};
      return;
    }
    if (word == "dxt1") slots[i] = {10, false};
    else if (word == "dxt1a") slots[i] = {10, true};
    else if (word == "dxt3") slots[i] = {11, true};
    else if (word == "dxt5") slots[i] = {12, true};
    else if (word == "none") slots[i] = {1, true};
  }
}

int CompressAsciiResource::ChooseCompression() {
  alpha_ = true;
  if (options_ == nullptr || GetAlphaClass() == -1) return 1;
  Slot choice{1, false};
  if (options_->Find("Compression") != nullptr) {
    // A normal map keeps its second channel pair in alpha: one bit is not
    // enough there.
    if (GetNormalMapHint() != 0 && GetAlphaClass() == 2) SetAlphaClass(1);
    Slots slots;
    ParseCompression(*options_, slots);
    switch (GetAlphaClass()) {
    case 0: choice = slots[0]; break;
    case 1: choice = slots[2]; break;
    case 2: choice = slots[1]; break;
    default: choice = Slot{1, false}; break;
    }
    alpha_ = choice.alpha;
  }
  uint32_t width, height;
  GetSize(width, height);
  int code = choice.code;
  unsigned setting = GetFileCompression();
  if (std::max(width, height) <= 64) setting = 0;
  if (setting <= 3) {
    switch (setting) {
    case 1: code = 10, alpha_ = false; break;
    case 2: code = 11, alpha_ = true; break;
    case 3: code = 12, alpha_ = true; break;
    default:
      if (GetAlphaClass() != 0) code = 1, alpha_ = true;
      else code = 3, alpha_ = false;
      break;
    }
  }
  if (forceOptions_) {
    code = choice.code;
    alpha_ = choice.alpha;
  }
  // Block formats need whole 4 x 4 blocks.
  if (width % 4 != 0 || height % 4 != 0) code = alpha_ ? 1 : 3;
  return code;
}

bool CompressAsciiResource::CompressMips(bool cudaAllowed) {
  compressed_.clear();
  uint32_t width, height;
  GetSize(width, height);
  uint32_t sourceWidth, sourceHeight;
  TextureResource::GetSize(sourceWidth, sourceHeight);
  for (uint32_t slice = 0; slice < GetDepth(); ++slice) {
    const Bitmap* level = GetLevelImage(slice);
    if (level == nullptr) return false;
    // The green flip must not reach the loaded image: it works on a copy,
    // which a scaled image already is.
    const bool flipGreen = GetModifyMap() == 1 && level->GetFormat() != Bitmap::kFormatXRGB;
    std::unique_ptr<Bitmap> changed;
    if (width != sourceWidth || height != sourceHeight) {
      changed = level->Scale(width, height);
      if (!changed) return false;
    } else if (flipGreen) {
      changed = std::make_unique<Bitmap>(*level);
    }
    const Bitmap* image = changed ? changed.get() : level;
    if (flipGreen) {
      uint8_t* pixels = changed->GetData();
      for (std::size_t i = 0; i < changed->GetDataSize(); i += 4)
        if (pixels[i] | pixels[i + 1] | pixels[i + 2] | pixels[i + 3]) pixels[i + 1] = static_cast<uint8_t>(255 - pixels[i + 1]);
    }
    const bool wrap = GetWrapS() == kRepeat || GetWrapT() == kRepeat;
    const bool normalMap = GetNormalMapHint() != 0;
    const int code = ChooseCompression();
    auto run = std::make_unique<TextureCompress>();
    if (!run->Run(*image, code, alpha_, wrap, normalMap, UseMipMaps(), cudaAllowed)) return false;
    compressed_.push_back(std::move(run));
  }
  return true;
}

bool CompressAsciiResource::LockCompressed() {
  LockMips();
  if (CompressMips(true)) return true;
  UnlockMips();
  return false;
}

void CompressAsciiResource::UnlockCompressed() {
  UnlockMips();
  compressed_.clear();
}

std::unique_ptr<Bitmap> CompressAsciiResource::GetCompressedImage(uint32_t level, uint32_t slice) {
  const TextureCompress* run = Compressed(slice);
  const Bitmap* image = run ? run->Image(level) : nullptr;
  if (image == nullptr) return nullptr;
  return std::make_unique<Bitmap>(*image);
}

bool CompressAsciiResource::CompressAndSave(const char* path, bool cudaAllowed) {
  if (!CompressMips(cudaAllowed)) return false;
  return WriteFile(path, nullptr);
}

bool CompressAsciiResource::Save(const char* path, Vak::Display* display) {
  if (!LockCompressed()) return false;
  const bool ok = WriteFile(path, display);
  UnlockCompressed();
  return ok;
}
