#include "engine/dorvix/TextureResource.h"

#include <algorithm>
#include <charconv>

#include "Vak/Bexlorn/CodePage.h"
#include "Vak/Bexlorn/File.h"
#include "engine/kernelx/ResourceFile.h"

namespace Vak {

namespace {

std::string Lowered(const std::string& text) {
  const std::string out = CodePage::AsciiLowered(text);
  const std::size_t first = out.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return out.substr(first, out.find_last_not_of(" \t") - first + 1);
}

// A value of a fixed set of words; false when the word is not one of them.
template <class T> bool Pick(const std::string& value, std::initializer_list<std::pair<const char*, T>> words, T& out) {
  for (const auto& [word, code] : words) {
    if (value == word) {
      out = code;
      return true;
    }
  }
  return false;
}

bool Number(const std::string& value, uint32_t& out) {
  if (value.empty()) return false;
  const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), out);
  return error == std::errc() && end == value.data() + value.size();
}

bool PickFilter(const std::string& value, uint8_t& out) {
  return Pick<uint8_t>(value,
                       {{"none", TextureResource::kFilterNone},
                        {"point", TextureResource::kFilterPoint},
                        {"linear", TextureResource::kFilterLinear},
                        {"anisotropic", TextureResource::kFilterAnisotropic}},
                       out);
}

} // namespace

TextureResource::TextureResource(const PString& name, const ResourceDatabase* database) : Resource(name, database) {}

TextureResource::~TextureResource() = default;

void TextureResource::GetSize(uint32_t& width, uint32_t& height) {
  if (slices_.empty()) {
    width = height = 0;
    return;
  }
  width = slices_.front()->GetWidth();
  height = slices_.front()->GetHeight();
}

int TextureResource::GetCompression() { return alphaClass_ == 0 ? 3 : 1; }

uint32_t TextureResource::MipCountForSize(uint32_t width, uint32_t height) {
  uint32_t side = std::max(width, height);
  uint32_t count = 1;
  while (side > 1) {
    side >>= 1;
    ++count;
  }
  return count;
}

uint32_t TextureResource::GetMipCount() {
  if (!useMipMaps_) return 1;
  uint32_t width, height;
  TextureResource::GetSize(width, height);
  const uint32_t full = MipCountForSize(width, height);
  return mipLimit_ == 0 ? full : std::min(full, mipLimit_);
}

int8_t TextureResource::AlphaClassOf(const Bitmap& image) {
  if (image.GetFormat() == Bitmap::kFormatXRGB) return 0;
  int8_t alphaClass = 0;
  const uint8_t* data = image.GetData();
  for (std::size_t i = 3; i < image.GetDataSize(); i += 4) {
    if (data[i] == 255) continue;
    if (data[i] != 0) return 1;
    alphaClass = 2;
  }
  return alphaClass;
}

void TextureResource::SetImages(std::vector<std::unique_ptr<Bitmap>> slices) {
  slices_ = std::move(slices);
  if (alphaFixed_) return;
  alphaClass_ = slices_.empty() ? -1 : 0;
  // One-bit alpha lies between none and full.
  auto rank = [](int8_t c) { return c == 1 ? 2 : c == 2 ? 1 : 0; };
  for (const auto& slice : slices_) {
    const int8_t c = AlphaClassOf(*slice);
    if (rank(c) > rank(alphaClass_)) alphaClass_ = c;
  }
}

Bitmap* TextureResource::GetLevelImage(uint32_t slice) {
  return slice < slices_.size() ? slices_[slice].get() : nullptr;
}

std::unique_ptr<Bitmap> TextureResource::GetCompressedImage(uint32_t level, uint32_t slice) {
  Bitmap* image = GetLevelImage(slice);
  if (image == nullptr || level >= GetMipCount()) return nullptr;
  const uint32_t width = std::max(1u, image->GetWidth() >> level);
  const uint32_t height = std::max(1u, image->GetHeight() >> level);
  return image->Scale(width, height);
}

bool TextureResource::Unload() {
  slices_.clear();
  if (!alphaFixed_) alphaClass_ = -1;
  return true;
}

bool TextureResource::LockMips() {
  mipLocks_.fetch_add(1);
  return true;
}

void TextureResource::UnlockMips() {
  int32_t count = mipLocks_.load();
  while (count > 0 && !mipLocks_.compare_exchange_weak(count, count - 1)) {
  }
}

bool TextureResource::LoadTextureOptions(const OptionRecord& record) {
  for (const Option& option : record) {
    const std::string key = Lowered(option.key);
    const std::string value = Lowered(option.value);
    bool ok = true;
    if (key == "hint") {
      ok = Pick<uint8_t>(value, {{"none", 0}, {"normalmap", 1}}, normalMapHint_);
    } else if (key == "alphahint") {
      int8_t alphaClass = -1;
      ok = Pick<int8_t>(value, {{"auto", -1}, {"none", 0}, {"full", 1}, {"onebit", 2}}, alphaClass);
      if (ok) {
        alphaFixed_ = alphaClass >= 0;
        if (alphaFixed_) {
          alphaClass_ = alphaClass;
        } else {
          std::vector<std::unique_ptr<Bitmap>> slices = std::move(slices_);
          SetImages(std::move(slices));
        }
      }
    } else if (key == "anisotropy") {
      uint32_t anisotropy = 0;
      ok = Number(value, anisotropy) && anisotropy <= 16;
      if (ok) anisotropy_ = anisotropy;
    } else if (key == "automip") {
      ok = Pick<bool>(value,
                      {{"none", false}, {"off", false}, {"on", true}, {"auto", true}, {"box", true},
                       {"triangle", true}, {"kaiser", true}},
                      useMipMaps_);
    } else if (key == "magfilter") {
      ok = PickFilter(value, magFilter_);
    } else if (key == "minfilter") {
      ok = PickFilter(value, minFilter_);
    } else if (key == "mipfilter") {
      ok = PickFilter(value, mipFilter_);
    } else if (key == "tile") {
      ok = value == "st" || value == "ts" || value == "s" || value == "t" || value == "none";
      if (ok) {
        wrapS_ = value.find('s') != std::string::npos ? kRepeat : kClamp;
        wrapT_ = value.find('t') != std::string::npos ? kRepeat : kClamp;
      }
    } else if (key == "filecompression") {
      ok = Pick<uint8_t>(value,
                         {{"none", kFileNone}, {"dxt1", kFileDXT1}, {"dxt3", kFileDXT3}, {"dxt5", kFileDXT5},
                          {"auto", kFileAuto}},
                         fileCompression_);
    } else if (key == "modifymap") {
      ok = Pick<uint8_t>(value, {{"0", 0}, {"1", 1}}, modifyMap_);
    } else if (key == "miplevels") {
      uint32_t limit = 0;
      ok = Number(value, limit);
      if (ok) mipLimit_ = limit;
    }
    if (!ok) return false;
  }
  return true;
}

bool TextureResource::SaveLockedInternal(ResourceFileWriter& writer, Display*) {
  if (mipLocks_.load() <= 0) return false;
  uint32_t width, height;
  GetSize(width, height);
  const uint32_t depth = GetDepth();
  const uint32_t levels = GetMipCount();
  const uint32_t flags = (wrapS_ == kRepeat ? 1u : 0u) | (wrapT_ == kRepeat ? 2u : 0u) |
                         (normalMapHint_ ? 4u : 0u) | (useMipMaps_ ? 8u : 0u);
  bool ok = writer.BeginChunk(kHeaderTag, 1);
  for (uint32_t value : {width, height, depth, levels, static_cast<uint32_t>(GetCompression())}) ok = ok && writer.WriteU32(value);
  ok = ok && writer.WriteI32(alphaClass_) && writer.WriteU32(flags) && writer.WriteU32(anisotropy_) &&
       writer.WriteU32(magFilter_) && writer.WriteU32(minFilter_) && writer.WriteU32(mipFilter_) && writer.End();
  for (uint32_t slice = 0; ok && slice < depth; ++slice) {
    for (uint32_t level = 0; ok && level < levels; ++level) {
      const std::unique_ptr<Bitmap> image = GetCompressedImage(level, slice);
      if (!image) return false;
      ok = writer.BeginChunk(kDataTag, 1) && writer.WriteU32(slice) && writer.WriteU32(level) &&
           writer.WriteU32(image->GetWidth()) && writer.WriteU32(image->GetHeight()) &&
           writer.WriteU32(static_cast<uint32_t>(image->GetDataSize())) &&
           writer.Write(image->GetData(), image->GetDataSize()) && writer.End();
    }
  }
  return ok && !writer.Failed();
}

bool TextureResource::WriteFile(const char* path, Display* display) {
  File file;
  if (path == nullptr || !file.Open(path, File::kWrite | File::kCreate).Ok()) return false;
  ResourceFileWriter writer(file);
  bool ok = writer.BeginFile(kFileType) && SaveLockedInternal(writer, display);
  ok = writer.End() && ok;
  return file.Close() == 0 && ok;
}

bool TextureResource::Save(const char* path, Display* display) {
  LockMips();
  const bool ok = WriteFile(path, display);
  UnlockMips();
  return ok;
}

} // namespace Vak
