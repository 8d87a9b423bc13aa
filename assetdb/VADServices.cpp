#include "assetdb/VADServices.h"

#include "platform/os/FileSystem.h"

bool VADPlatformFreeSpace(const char* path, uint64_t& bytes) {
  return platform::FreeDiskSpace(path, bytes) == platform::Error::None;
}

VADServices& GetVADServices() {
  static VADServices services;
  return services;
}
