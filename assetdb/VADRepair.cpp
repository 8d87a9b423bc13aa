#include "assetdb/VADRepair.h"

#include "assetdb/VADDatabase.h"
#include "assetdb/VADFolderScan.h"
#include "assetdb/VADLock.h"

bool VADSetSetting(const char* section, const char* key, const char* value, uint32_t lockFlags) {
  VADLock lock;
  if (!lock.Acquire(true, lockFlags).IsHeld()) return false;
  SetSettingValue(section, key, value);
  return true;
}

bool VADIsIndexReady() {
  if (!VADIsDatabaseOpen()) return false;
  if (VADIsIndexLoaded()) return true;
  VADLock lock;
  return lock.Acquire(false).IsHeld();
}

Vak::PString VADTryLocked(const char* section, const char* key) {
  if (!VADIsIndexReady()) return {};
  VADLock lock;
  if (!lock.Acquire(false).IsHeld()) return {};
  return GetSettingValue(section, key);
}
