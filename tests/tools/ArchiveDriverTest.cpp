// The archive tool as a program: the driver runs one command line in a
// process of its own, as the converter's end-to-end tests run it.
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/os/Process.h"
#include "platform/os/Waitable.h"
#include "tests/tools/ToolTestSupport.h"

namespace {

using tooltest::ListTree;
using tooltest::ReadBytes;
using tooltest::TempFolder;
using tooltest::WriteBytes;

// Runs a shell command line in `folder`; the exit code.
int Shell(const std::string& folder, const std::string& script) {
  platform::Process process;
  if (process.Start({"/bin/sh", "-c", "cd '" + folder + "' && " + script}) != platform::Error::None) return -1;
  process.Wait(platform::kInfinite);
  return process.ExitCode();
}

const std::string kDriver = VARCHIVE_DRIVER;

std::string Pattern(std::size_t n, unsigned seed) {
  std::string out;
  for (std::size_t i = 0; i < n; ++i) out += static_cast<char>((i * seed + i / 13) & 0xFF);
  return out;
}

TEST(ArchiveDriver, PacksListsAndUnpacksAFolderTree) {
  TempFolder folder;
  const std::vector<std::pair<std::string, std::string>> files = {
      {"src/Readme.TXT", "read me\n"},
      {"src/Nested/Deeper/data.bin", Pattern(70000, 7)},
      {"src/Nested/empty.dat", ""},
      {"src/nested2/readme.txt", "another read me\n"},
      {"src/Mixed/CASE.txt", Pattern(1025, 3)},
      {"src/Mixed/Other.Txt", Pattern(1024, 5)},
  };
  for (const auto& [name, content] : files) ASSERT_TRUE(WriteBytes(folder / name, content));

  ASSERT_EQ(0, Shell(folder / "src", "'" + kDriver + "' -r -k -c a ../tree.va '*' > ../add.txt"))
      << ReadBytes(folder / "add.txt");
  EXPECT_NE(std::string::npos, ReadBytes(folder / "add.txt").find("\nProcessed 6 files.\n"));

  ASSERT_EQ(0, Shell(folder.Path(), "'" + kDriver + "' -r l tree.va > list.txt"));
  const std::string list = ReadBytes(folder / "list.txt");
  for (const char* line : {" .. ./Readme.TXT\n", " .. Nested/Deeper/data.bin\n", " .. nested2/readme.txt\n",
                           " .. Mixed/CASE.txt\n", " .. Mixed/Other.Txt\n"})
    EXPECT_NE(std::string::npos, list.find(line)) << line << "\n" << list;
  EXPECT_NE(std::string::npos, list.find("    0k/    0k   0% 00000000 .. Nested/empty.dat\n")) << list;
  EXPECT_NE(std::string::npos, list.find("    1k/    1k 100% ")) << list;  // 1024 bytes stay plain
  EXPECT_NE(std::string::npos, list.find("\nProcessed 6 files.\n")) << list;

  platform::MakeFolder((folder / "out").c_str());
  ASSERT_EQ(0, Shell(folder / "out", "'" + kDriver + "' -r -k e ../tree.va > ../extract.txt"))
      << ReadBytes(folder / "extract.txt");
  EXPECT_EQ(0, Shell(folder.Path(), "diff -r src out"));
}

TEST(ArchiveDriver, FailsAndPrintsTheUsageOnceForBadLines) {
  TempFolder folder;
  ASSERT_TRUE(WriteBytes(folder / "bad.txt", "l\ne\n"));
  EXPECT_EQ(1, Shell(folder.Path(), "'" + kDriver + "' @bad.txt > out.txt"));
  const std::string printed = ReadBytes(folder / "out.txt");
  const std::size_t first = printed.find("Usage:");
  ASSERT_NE(std::string::npos, first) << printed;
  EXPECT_EQ(std::string::npos, printed.find("Usage:", first + 1)) << printed;

  EXPECT_EQ(1, Shell(folder.Path(), "'" + kDriver + "' > none.txt"));
  EXPECT_NE(std::string::npos, ReadBytes(folder / "none.txt").find("Usage:"));

  ASSERT_TRUE(WriteBytes(folder / "a.txt", "a"));
  ASSERT_EQ(0, Shell(folder.Path(), "'" + kDriver + "' a new.va a.txt > a.out"));
  EXPECT_EQ(1, Shell(folder.Path(), "'" + kDriver + "' x new.va > x.txt"));
  EXPECT_EQ("VArchive::Execute(): No command specified.\n"
            "Tool::ProcessCommandLine(): Command execution failed:\n\"x new.va\"\n\n",
            ReadBytes(folder / "x.txt"));
}

} // namespace
