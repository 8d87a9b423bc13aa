#pragma once
// The whole database over a folder of its own per test, with the archives'
// resource databases and a network double: for what must go through the
// index lock, the load cycle and the index file.
#include <gtest/gtest.h>

#include <cstring>

#include "assetdb/AssetArchiveCache.h"
#include "assetdb/KuidBaseFile.h"
#include "assetdb/VADAssetIndex.h"
#include "assetdb/VADDatabase.h"
#include "assetdb/VADLock.h"
#include "assets3d/VelmarResourceDatabaseServices.h"
#include "content/AppGlobals.h"
#include "tests/assetdb/database/IPCTestSupport.h"
#include "tests/assetdb/database/IndexFileSupport.h"

class OpenDatabaseFixture : public ::testing::Test {
protected:
  void SetUp() override {
    savedRoot_ = GetDatabaseRootPath();
    KuidBaseFile::Reset();
    gVadAssetIndex.Clear();
    gVadAssetIndex.ClearDirtyFlags();
  }
  void TearDown() override {
    VADShutdown();
    AssetArchiveCache::Purge();
    gVadAssetIndex.Clear();
    gVadAssetIndex.ClearDirtyFlags();
    SetDatabaseRootPath(savedRoot_);
    KuidBaseFile::Reset();
  }
  // Opens the database on the folder and takes the first lock, which loads
  // the index (or rebuilds it from the folders).
  void Open() {
    VADStartBlock block;
    VADStartParams(block);
    std::strncpy(block.root, db_.Root().c_str(), sizeof block.root - 1);
    ASSERT_TRUE(VADInit(block));
    VADLock lock;
    lock.Acquire(true);
    ASSERT_TRUE(lock.IsHeld());
  }

  ipctest::Database db_;
  VelmarResourceDatabaseServices services_;
  indexfile::FakeNetwork network_;
  indexfile::NetworkScope scope_{&network_};
  Vak::File::Path savedRoot_;
};
