#include "engine/dorvix/AsciiTextureResource.h"

#include <cstring>
#include <utility>

#include "Vak/Bexlorn/CodePage.h"
#include "engine/kernelx/WholeFile.h"

namespace Vak {

namespace {

std::string Trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return "";
  return std::string(text.substr(first, text.find_last_not_of(" \t") - first + 1));
}

// The folder part of a path with its separator (or substitute colon).
std::string FolderOf(const char* path) {
  const std::string text(path);
  const std::size_t cut = text.find_last_of("/\\:");
  return cut == std::string::npos ? "" : text.substr(0, cut + 1);
}

} // namespace

bool TextureDescription::Parse(const char* text, std::size_t size) {
  slices.clear();
  settings.clear();
  const std::string_view all(text ? text : "", text ? size : 0);
  std::size_t pos = 0;
  while (pos < all.size()) {
    std::size_t end = all.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = all.size();
    const std::string line = Trimmed(all.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) return false;
    const std::string key = Trimmed(std::string_view(line).substr(0, equals));
    const std::string value = Trimmed(std::string_view(line).substr(equals + 1));
    if (key.empty()) return false;
    if (CodePage::CompareIgnoreCase(key.c_str(), "Primary") == 0) {
      slices.push_back({value, ""});
    } else if (CodePage::CompareIgnoreCase(key.c_str(), "Alpha") == 0) {
      if (slices.empty()) return false;
      slices.back().alpha = value;
    } else {
      settings.push_back({key, value});
    }
  }
  return true;
}

AsciiTextureResource::AsciiTextureResource(const PString& name, const ResourceDatabase* database)
    : TextureResource(name, database) {}

std::unique_ptr<Bitmap> AsciiTextureResource::Combine(Bitmap&& primary, const Bitmap* alpha) {
  if (primary.GetFormat() != Bitmap::kFormatARGB && primary.GetFormat() != Bitmap::kFormatXRGB) return nullptr;
  // Without an alpha image the primary is the texture as it stands.
  if (alpha == nullptr) return std::make_unique<Bitmap>(std::move(primary));
  if (alpha->GetWidth() != primary.GetWidth() || alpha->GetHeight() != primary.GetHeight() ||
      alpha->GetDataSize() != primary.GetDataSize())
    return nullptr;
  auto combined = std::make_unique<Bitmap>(primary.GetWidth(), primary.GetHeight(), Bitmap::kFormatARGB);
  std::memcpy(combined->GetData(), primary.GetData(), primary.GetDataSize());
  const uint8_t* grey = alpha->GetData();
  uint8_t* out = combined->GetData();
  for (std::size_t i = 0; i < combined->GetDataSize(); i += 4)
    out[i + 3] = static_cast<uint8_t>((grey[i] + grey[i + 1] + grey[i + 2] + 1) / 3);
  return combined;
}

Resource::Result AsciiTextureResource::LoadTxt(const char* file) {
  std::string text;
  TextureDescription description;
  if (file == nullptr || !ReadWholeFile(file, text) || !description.Parse(text.data(), text.size()))
    return RES_FAILED_TO_LOAD;
  if (!LoadTextureOptions(description.settings)) return RES_FAILED_TO_LOAD;
  const std::string folder = FolderOf(file);
  std::vector<std::unique_ptr<Bitmap>> slices;
  for (const TextureDescription::Slice& slice : description.slices) {
    Bitmap primary, alpha;
    if (slice.primary.empty() || !primary.Load((folder + slice.primary).c_str())) return RES_FAILED_TO_LOAD;
    if (!slice.alpha.empty() && !alpha.Load((folder + slice.alpha).c_str())) return RES_FAILED_TO_LOAD;
    std::unique_ptr<Bitmap> combined = Combine(std::move(primary), slice.alpha.empty() ? nullptr : &alpha);
    if (!combined) return RES_FAILED_TO_LOAD;
    if (!slices.empty() && (combined->GetWidth() != slices.front()->GetWidth() ||
                            combined->GetHeight() != slices.front()->GetHeight()))
      return RES_FAILED_TO_LOAD;
    slices.push_back(std::move(combined));
  }
  SetImages(std::move(slices));
  return RES_OK;
}

} // namespace Vak
