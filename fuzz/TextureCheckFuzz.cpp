// Texture descriptions through the texture check of an asset folder: the
// input is split at its first zero byte into the description and the bytes
// of the image it may name ("a.tga"). Nothing may crash, and the check's
// result must agree with what it recorded.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "datamanager/Container.h"
#include "datamanager/DataManager.h"
#include "datamanager/ErrorHandler.h"
#include "fuzz/ConfigFuzz.h"
#include "fuzz/FuzzInputFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool started = (fuzz::StartDataManager(), true);
  (void)started;
  static const bool folder = platform::MakeFolder((fuzz::ScratchFolder::Get().Path() + "/texture").c_str()) ==
                             platform::Error::None;
  if (!folder) std::abort();
  static const fuzz::InputFile description("texture/a.texture.txt");
  static const fuzz::InputFile image("texture/a.tga");
  const uint8_t* zero = static_cast<const uint8_t*>(std::memchr(data, 0, size));
  const size_t split = zero ? static_cast<size_t>(zero - data) : size;
  if (!description.Write(data, split)) return 0;
  if (!image.Write(zero ? zero + 1 : data, zero ? size - split - 1 : 0)) return 0;
  RUZLib::ErrorHandler* handler = RUZLib::ErrorHandler::Instance();
  handler->Clear();
  RUZLib::Container container;
  const bool passed = container.CheckTextureFiles((fuzz::ScratchFolder::Get().Path() + "/texture").c_str());
  if (passed != handler->GetMessages().empty()) __builtin_trap();
  return 0;
}
