#include "assets3d/TextureCompress.h"

#include <cstring>
#include <mutex>

namespace {

std::mutex gErrorLock;

Vak::PString& ErrorText() {
  static Vak::PString text;
  return text;
}

} // namespace

TextureCompress::~TextureCompress() = default;

Vak::PString TextureCompress::LastError() {
  std::lock_guard<std::mutex> lock(gErrorLock);
  return ErrorText();
}

void OurErrorHandler::error(nvtt::Error e) {
  std::lock_guard<std::mutex> lock(gErrorLock);
  ErrorText() = nvtt::errorString(e);
}

void OurErrorHandler::Clear() {
  std::lock_guard<std::mutex> lock(gErrorLock);
  ErrorText() = Vak::PString();
}

void OurOutputHandler::Finish() {
  if (current_) target_.Append(std::move(current_));
}

void OurOutputHandler::beginImage(int size, int width, int height, int, int, int) {
  Finish();
  size_ = size > 0 ? static_cast<std::size_t>(size) : 0;
  current_ = std::make_unique<Vak::Bitmap>(static_cast<uint32_t>(width > 0 ? width : 0),
                                           static_cast<uint32_t>(height > 0 ? height : 0), size_);
  offset_ = 0;
}

bool OurOutputHandler::writeData(const void* data, int size) {
  if (!current_ || size < 0 || static_cast<std::size_t>(size) > size_ - offset_) return false;
  std::memcpy(current_->GetData() + offset_, data, static_cast<std::size_t>(size));
  offset_ += static_cast<std::size_t>(size);
  return true;
}

bool TextureCompress::Run(const Vak::Bitmap& source, int code, bool alpha, bool wrap, bool normalMap, bool mipMaps,
                          bool cudaAllowed) {
  nvtt::Format format;
  switch (code) {
  case 1:
  case 3: format = nvtt::Format_RGBA; break;
  case 10: format = alpha ? nvtt::Format_DXT1a : nvtt::Format_DXT1; break;
  case 11: format = nvtt::Format_DXT3; break;
  case 12: format = nvtt::Format_DXT5; break;
  default: return false;
  }
  if (source.GetFormat() != Vak::Bitmap::kFormatARGB && source.GetFormat() != Vak::Bitmap::kFormatXRGB) return false;
  // Only an image whose alpha is forced needs a copy of its own.
  std::unique_ptr<Vak::Bitmap> opaque;
  if (source.GetFormat() == Vak::Bitmap::kFormatXRGB || code == 3) {
    opaque = std::make_unique<Vak::Bitmap>(source);
    uint8_t* pixels = opaque->GetData();
    for (std::size_t i = 0; i < opaque->GetDataSize(); i += 4)
      if (pixels[i] | pixels[i + 1] | pixels[i + 2] | pixels[i + 3]) pixels[i + 3] = 255;
  }
  const Vak::Bitmap& image = opaque ? *opaque : source;
  const int width = static_cast<int>(image.GetWidth());
  const int height = static_cast<int>(image.GetHeight());

  nvtt::InputOptions input;
  input.setMipmapGeneration(mipMaps, -1);
  if (normalMap) input.setNormalMap(true);
  input.setWrapMode(wrap ? nvtt::WrapMode_Repeat : nvtt::WrapMode_Clamp);
  input.setTextureLayout(nvtt::TextureType_2D, width, height, 1);
  input.setMipmapData(image.GetData(), width, height, 1, 0, 0);

  nvtt::Compressor compressor;
  compressor.enableCudaAcceleration(cudaAllowed);
  nvtt::CompressionOptions compression;
  compression.setFormat(format);
  compression.setQuality(nvtt::Quality_Highest);
  OurOutputHandler output(*this);
  OurErrorHandler errors;
  nvtt::OutputOptions outputOptions;
  outputOptions.setOutputHandler(&output);
  outputOptions.setErrorHandler(&errors);
  outputOptions.setOutputHeader(false);
  OurErrorHandler::Clear();
  if (!compressor.process(input, compression, outputOptions)) return false;
  output.Finish();
  return true;
}
