#pragma once
// One nvtt run over one image: the compressed levels it produced, and the
// handlers nvtt reports through.
#include <cstdint>
#include <memory>
#include <vector>

#include <nvtt/nvtt.h>

#include "Vak/Bexlorn/PString.h"
#include "engine/kernelx/Bitmap.h"

class TextureCompress {
public:
  virtual ~TextureCompress();

  // Compresses `source` (32-bit pixels; left as it is) into format `code`
  // (1, 3, 10, 11, 12; see TextureResource.h), one image per generated mip
  // level. False for another code or pixel format, or when nvtt fails (its
  // error text is then in LastError).
  bool Run(const Vak::Bitmap& source, int code, bool alpha, bool wrap, bool normalMap, bool mipMaps,
           bool cudaAllowed);

  void Append(std::unique_ptr<Vak::Bitmap> image) { images_.push_back(std::move(image)); }
  std::size_t Count() const { return images_.size(); }
  const Vak::Bitmap* Image(std::size_t index) const { return index < images_.size() ? images_[index].get() : nullptr; }

  // The text of the last nvtt error of the process; empty after a run
  // without one.
  static Vak::PString LastError();

private:
  std::vector<std::unique_ptr<Vak::Bitmap>> images_;
};

// Collects nvtt's output into compressed bitmaps of a TextureCompress.
class OurOutputHandler : public nvtt::OutputHandler {
public:
  explicit OurOutputHandler(TextureCompress& target) : target_(target) {}
  // Hands the image in progress to the target.
  void Finish();
  void beginImage(int size, int width, int height, int depth, int face, int miplevel) override;
  // False (nvtt stops) past the end of the image's buffer.
  bool writeData(const void* data, int size) override;

private:
  std::unique_ptr<Vak::Bitmap> current_;
  TextureCompress& target_;
  std::size_t size_ = 0;
  std::size_t offset_ = 0;
};

class OurErrorHandler : public nvtt::ErrorHandler {
public:
  void error(nvtt::Error e) override;
  static void Clear();
};
