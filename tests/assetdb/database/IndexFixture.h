#pragma once
// A database root in a fresh temporary folder, and the global index emptied
// before and after each test.
#include <gtest/gtest.h>

#include <string>

#include "Vak/Bexlorn/File.h"
#include "assetdb/VADAssetIndex.h"
#include "assetdb/VADRecordConfig.h"
#include "content/AppGlobals.h"
#include "tests/platform/os/TempFolder.h"

class IndexFixture : public ::testing::Test {
protected:
  void SetUp() override {
    saved_ = GetDatabaseRootPath();
    ASSERT_TRUE(SetDatabaseRootPath(root_.Path().c_str()));
    gVadAssetIndex.Clear();
    gVadAssetIndex.ClearDirtyFlags();
  }
  void TearDown() override {
    gVadAssetIndex.Clear();
    gVadAssetIndex.ClearDirtyFlags();
    SetDatabaseRootPath(saved_);
  }

  // A "config.txt" in the folder (relative to the root) holding `lines`.
  void WriteConfig(const std::string& folder, const std::string& lines) const {
    root_.WriteFile(folder + "/config.txt", lines);
  }
  // A record with a local folder "local/<name>" and that config.
  static VADAssetInfo LocalRecord(const KUID& kuid, const std::string& name) {
    VADAssetInfo record;
    record.kuid = kuid;
    record.name = name.c_str();
    record.localPath = ("local\\" + name).c_str();
    return record;
  }
  std::string Root(const std::string& relative) const { return root_ / relative; }

  platform::test::TempFolder root_;
  Vak::File::Path saved_;
};
