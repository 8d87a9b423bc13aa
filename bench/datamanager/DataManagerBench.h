#pragma once
// What the data-manager benches share: a scratch copy of the shipped data
// folder, and configs parsed from their text.
#include <filesystem>
#include <string>

#include "bench/BenchScratch.h"
#include "content/ACSChunkPtr.h"
#include "content/DynamicBuffer.h"
#include "content/TStream.h"
#include "content/TextChunkFile.h"

namespace bench {

// The source tree's data/RUZData copied to a scratch folder of that name.
inline std::string ShippedDataCopy(const std::string& name) {
  const std::string path = ScratchPath(name);
  std::filesystem::copy(std::filesystem::path(VELMAR_SOURCE_ROOT) / "data" / "RUZData", path,
                        std::filesystem::copy_options::recursive);
  return path;
}

inline ACSChunkPtr ParseConfigText(const std::string& text) {
  TBuffer in;
  in.GetBuffer().Write(text.data(), static_cast<uint32_t>(text.size()));
  in.GetBuffer().SetPosition(0);
  ACSChunkPtr config;
  ReadChunkFileText(config, in, false);
  return config;
}

}  // namespace bench
