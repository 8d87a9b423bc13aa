#pragma once
// For the crash tests: the database as a program starting after a kill
// finds it, and its close.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "assetdb/VADAssetIndex.h"
#include "assetdb/VADDatabase.h"
#include "assetdb/VADDataFolders.h"
#include "assetdb/VADLock.h"
#include "content/AppGlobals.h"

namespace crashtest {

// Opened as VelmarUtil opens it: its data folders prepared, the database
// started, and the first index lock (which loads, restores or rebuilds).
// Nothing more: a reopen that mended more than the program hides what a
// kill left.
inline void Reopen(const std::string& root) {
  VADPrepareDataFolders(root.c_str());
  VADStartBlock block;
  VADStartParams(block);
  std::strncpy(block.root, root.c_str(), sizeof block.root - 1);
  ASSERT_TRUE(VADInit(block));
  {
    VADLock lock;
    lock.Acquire(true);
  }
}

inline void Close() {
  EXPECT_TRUE(VADShutdown());
  VADUnmountDataFolders();
  gVadAssetIndex.Clear();
  gVadAssetIndex.ClearDirtyFlags();
}

} // namespace crashtest
