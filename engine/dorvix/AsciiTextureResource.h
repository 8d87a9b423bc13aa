#pragma once
// A texture read from a text description ("x.texture.txt"): one line per
// item, "Key=Value", keys without regard to case, blank lines and lines
// starting with ';' or '#' skipped, white space around keys and values
// dropped.
//
//   Primary=<image>   starts a slice: a TGA or BMP file beside the description
//   Alpha=<image>     the grey levels of this image become the alpha of the
//                     current slice (same size as its primary)
//   any other key     a texture setting (TextureResource::LoadTextureOptions)
//
// Every slice must have the size of the first.
#include <cstddef>
#include <string>
#include <vector>

#include "engine/dorvix/TextureResource.h"

namespace Vak {

struct TextureDescription {
  struct Slice {
    std::string primary;
    std::string alpha;
  };
  std::vector<Slice> slices;
  TextureResource::OptionRecord settings;

  // False for a line that is not an item, an empty key, or an Alpha line
  // before any Primary line.
  bool Parse(const char* text, std::size_t size);
};

class AsciiTextureResource : public TextureResource {
public:
  AsciiTextureResource(const PString& name, const ResourceDatabase* database);

  // Reads the description and its images; RES_FAILED_TO_LOAD when the file,
  // a line, a setting or an image is bad.
  Result LoadTxt(const char* file) override;

  // The primary image with the alpha image's grey levels as alpha; null when
  // the sizes differ.
  static std::unique_ptr<Bitmap> Combine(Bitmap&& primary, const Bitmap* alpha);
};

} // namespace Vak
