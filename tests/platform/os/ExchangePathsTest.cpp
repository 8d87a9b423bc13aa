#include "platform/os/ExchangePaths.h"

#include <gtest/gtest.h>

#include "tests/platform/os/TempFolder.h"

namespace {

TEST(ExchangePaths, SwapsFoldersAndFiles) {
  platform::test::TempFolder folder;
  folder.WriteFile("old/a.txt", "old");
  folder.WriteFile("new/a.txt", "new");
  folder.WriteFile("new/b.txt", "only new");
  folder.WriteFile("one", "1");
  folder.WriteFile("two", "2");
  bool supported = false;
  const platform::Error result = platform::ExchangePaths((folder / "new").c_str(), (folder / "old").c_str(), supported);
  if (!supported) GTEST_SKIP() << "no exchange on this file system";
  ASSERT_EQ(result, platform::Error::None);
  EXPECT_EQ(folder.ReadFile("old/a.txt"), "new");
  EXPECT_EQ(folder.ReadFile("old/b.txt"), "only new");
  EXPECT_EQ(folder.ReadFile("new/a.txt"), "old");
  EXPECT_FALSE(folder.Has("new/b.txt"));

  ASSERT_EQ(platform::ExchangePaths((folder / "one").c_str(), (folder / "two").c_str(), supported),
            platform::Error::None);
  EXPECT_EQ(folder.ReadFile("one"), "2");
  EXPECT_EQ(folder.ReadFile("two"), "1");
}

TEST(ExchangePaths, MissingSideChangesNothing) {
  platform::test::TempFolder folder;
  folder.WriteFile("here/a.txt", "kept");
  bool supported = false;
  const platform::Error result =
      platform::ExchangePaths((folder / "here").c_str(), (folder / "missing").c_str(), supported);
  if (!supported) GTEST_SKIP() << "no exchange on this file system";
  EXPECT_EQ(result, platform::Error::NotFound);
  EXPECT_EQ(folder.ReadFile("here/a.txt"), "kept");
  EXPECT_FALSE(folder.Has("missing"));
  EXPECT_EQ(platform::ExchangePaths(nullptr, (folder / "here").c_str(), supported),
            platform::Error::InvalidArgument);
}

} // namespace
