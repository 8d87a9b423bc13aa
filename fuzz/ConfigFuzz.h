#pragma once
// What the config targets share: the input read as a text chunk file, and
// the data manager started on the data folder the program ships.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "Vak/Bexlorn/File.h"
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

// "data/RUZData" beside this folder. The source name the compiler gives is
// relative to the build folder, while scripts/fuzz runs the targets from the
// source root, where the folder is "data/RUZData".
inline std::string ShippedDataFolder() {
  std::string path = __FILE__;
  path.resize(path.find_last_of('/') + 1);
  path += "../data/RUZData";
  return Vak::File::Exists(path.c_str()) == Vak::File::RES_OK ? path : "data/RUZData";
}

// On the main thread, with the error handler; a data manager that does not
// start ends the run.
inline void StartDataManager() {
  SetMainThread();
  RUZLib::ErrorHandler::Create();
  if (!RUZLib::DataManager::Startup(ShippedDataFolder().c_str())) std::abort();
}

}  // namespace fuzz
