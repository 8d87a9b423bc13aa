#include "platform/os/Program.h"

#include "platform/os/FileSystem.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Program, PathIsAbsoluteAndNamesThisExecutable) {
  const std::string path = platform::ProgramPath();
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path.front(), '/');
  EXPECT_EQ(path.substr(path.rfind('/') + 1), "os_tests");
  platform::FileInfo info;
  ASSERT_EQ(platform::Stat(path.c_str(), info), platform::Error::None);
  EXPECT_FALSE(info.isFolder);

  const std::string folder = platform::ProgramFolder();
  EXPECT_EQ(folder + "/os_tests", path);
  ASSERT_EQ(platform::Stat(folder.c_str(), info), platform::Error::None);
  EXPECT_TRUE(info.isFolder);
}

} // namespace
