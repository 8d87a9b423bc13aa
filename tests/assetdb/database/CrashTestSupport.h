#pragma once
// For the crash tests: the database as a program starting after a kill
// finds it, and its close.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "assetdb/VADAssetIndex.h"
#include "assetdb/VADDatabase.h"
#include "assetdb/VADFolderScan.h"
#include "assetdb/VADLock.h"
#include "content/AppGlobals.h"

namespace crashtest {

// Loaded (or rebuilt from the folders), then its local folders scanned.
inline void Reopen(const std::string& root) {
  SetDatabaseRootPath(root.c_str());
  VADStartBlock block;
  VADStartParams(block);
  std::strncpy(block.root, root.c_str(), sizeof block.root - 1);
  ASSERT_TRUE(VADInit(block));
  {
    VADLock lock;
    lock.Acquire(true);
  }
  ScanLocalFolders(nullptr);
}

inline void Close() {
  EXPECT_TRUE(VADShutdown());
  gVadAssetIndex.Clear();
  gVadAssetIndex.ClearDirtyFlags();
}

} // namespace crashtest
