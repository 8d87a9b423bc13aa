#pragma once
// What the config targets share: the input read as a text chunk file, and
// the data manager started on the data folder the program ships.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "content/ACSChunkPtr.h"
#include "content/AppGlobals.h"
#include "content/DynamicBuffer.h"
#include "content/TStream.h"
#include "content/TextChunkFile.h"
#include "datamanager/DataManager.h"
#include "datamanager/ErrorHandler.h"

namespace fuzz {

// Null when the bytes hold no tree.
inline ACSChunkPtr ReadTextConfig(const uint8_t* data, size_t size) {
  TBuffer in;
  if (size) in.GetBuffer().Write(data, static_cast<uint32_t>(size));
  in.GetBuffer().SetPosition(0);
  ACSChunkPtr config;
  ReadChunkFileText(config, in, false);
  return config;
}

// The source tree's shipped data folder; __FILE__ can be relative under a
// compiler cache.
inline std::string ShippedDataFolder() { return std::string(VELMAR_SOURCE_ROOT) + "/data/RUZData"; }

// On the main thread, with the error handler; a data manager that does not
// start ends the run.
inline void StartDataManager() {
  SetMainThread();
  RUZLib::ErrorHandler::Create();
  if (!RUZLib::DataManager::Startup(ShippedDataFolder().c_str())) std::abort();
}

}  // namespace fuzz
