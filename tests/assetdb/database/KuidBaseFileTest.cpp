// The user's KUID base: the settings file, the user id and the KUIDs handed
// out.
#include "assetdb/KuidBaseFile.h"

#include <gtest/gtest.h>

#include <string>

#include "assetdb/VADAssetIndex.h"
#include "tests/assetdb/database/IndexFixture.h"

namespace {

class KuidBaseFileTest : public IndexFixture {
protected:
  void SetUp() override {
    IndexFixture::SetUp();
    KuidBaseFile::Reset();
    root_.WriteFile("settings/.keep", "");
  }
  void TearDown() override {
    KuidBaseFile::Reset();
    IndexFixture::TearDown();
  }
  void Start() { KuidBaseFile::Init(root_.Path().c_str()); }
  // A new run of the program: the state goes, the file stays.
  void Restart() {
    KuidBaseFile::Reset();
    Start();
  }
  std::string StoredBase() {
    ACSChunkPtr tree;
    tree.Load(nullptr, Root("settings/kuid.txt").c_str());
    return tree.GetChildKUID("base-kuid", KUID::Null()).ToConfigText().c_str();
  }
};

TEST_F(KuidBaseFileTest, AnonymousUserStartsAtContent1000) {
  Start();
  EXPECT_EQ(KuidBaseFile::GetUserId(), -1);
  EXPECT_EQ(StoredBase(), "<kuid:-2:1000>");
  EXPECT_EQ(VADGenerateKuid(), KUID(-2, 1001, 127));
  EXPECT_EQ(StoredBase(), "<kuid:-2:1001>");
  EXPECT_EQ(VADGenerateKuid(), KUID(-2, 1002, 127));
  EXPECT_EQ(StoredBase(), "<kuid:-2:1002>");
}

TEST_F(KuidBaseFileTest, StoredBaseGivesTheUserAndTheNextKuid) {
  root_.WriteFile("settings/kuid.txt", "base-kuid                              <kuid2:123:500:1>\n");
  Start();
  EXPECT_EQ(KuidBaseFile::GetUserId(), 123);
  EXPECT_EQ(VADGenerateKuid(), KUID(123, 501, 0));
}

TEST_F(KuidBaseFileTest, KuidsInUseOrObsoleteAreSkipped) {
  root_.WriteFile("settings/kuid.txt", "base-kuid <kuid:77:10>\n");
  Start();
  VADAssetInfo record;
  record.kuid = KUID(77, 11, 0);
  gVadAssetIndex.Insert(record);
  gVadAssetIndex.TableB().Insert(KUID(77, 12, 0), KUID(77, 40, 0));
  EXPECT_EQ(VADGenerateKuid(), KUID(77, 13, 0));
  EXPECT_EQ(StoredBase(), "<kuid:77:13>");
}

TEST_F(KuidBaseFileTest, NullBaseChangesNothing) {
  root_.WriteFile("settings/kuid.txt", "base-kuid <kuid:5:6>\n");
  Start();
  EXPECT_FALSE(KuidBaseFile::SetBase(KUID::Null()));
  EXPECT_EQ(root_.ReadFile("settings/kuid.txt"), "base-kuid <kuid:5:6>\n");
  EXPECT_EQ(KuidBaseFile::Base(), KUID(5, 6, 0));
}

// The generator once saved under "Settings" while the base was read from
// "settings": where both folders exist, every run handed out the same KUIDs.
TEST_F(KuidBaseFileTest, NextRunContinuesAfterTheLastKuidHandedOut) {
  root_.WriteFile("Settings/.keep", "");
  root_.WriteFile("settings/kuid.txt", "base-kuid <kuid:9:100>\n");
  Start();
  EXPECT_EQ(VADGenerateKuid(), KUID(9, 101, 0));
  Restart();
  EXPECT_EQ(VADGenerateKuid(), KUID(9, 102, 0));
  EXPECT_FALSE(root_.Has("Settings/kuid.txt"));
}

} // namespace
