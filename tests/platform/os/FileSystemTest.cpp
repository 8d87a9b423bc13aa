#include "platform/os/FileSystem.h"

#include "PrintError.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

namespace {

using platform::Error;
namespace fs = std::filesystem;

TEST(FileSystem, StatFilesFoldersAndMissingPaths) {
  platform::test::TempFolder dir;
  dir.WriteFile("a.txt", "12345");
  fs::create_directory(dir.Path() / "Sub");

  platform::FileInfo info;
  ASSERT_EQ(platform::Stat((dir / "a.txt").c_str(), info), Error::None);
  EXPECT_FALSE(info.isFolder);
  EXPECT_EQ(info.size, 5u);
  ASSERT_EQ(platform::Stat((dir / "sub").c_str(), info), Error::None);
  EXPECT_TRUE(info.isFolder);
  EXPECT_EQ(info.size, 0u);

  EXPECT_EQ(platform::Stat((dir / "b.txt").c_str(), info), Error::NotFound);
  EXPECT_EQ(platform::Stat((dir / "none/b.txt").c_str(), info), Error::PathNotFound);
  EXPECT_EQ(platform::Stat((dir / "a.txt/b").c_str(), info), Error::PathNotFound);
  EXPECT_EQ(platform::Stat(nullptr, info), Error::InvalidArgument);
  EXPECT_TRUE(platform::Exists((dir / "A.TXT").c_str()));
  EXPECT_TRUE(platform::Exists(dir.Path().c_str()));
  EXPECT_FALSE(platform::Exists((dir / "b.txt").c_str()));
}

TEST(FileSystem, TimesAreNanosecondsSince1970) {
  platform::test::TempFolder dir;
  dir.WriteFile("t", "x");
  const struct timespec times[2] = {{1'000'000'000, 5}, {1'234'567'890, 123'456'789}};  // accessed, modified
  ASSERT_EQ(::utimensat(AT_FDCWD, (dir / "t").c_str(), times, 0), 0);
  platform::FileInfo info;
  ASSERT_EQ(platform::Stat((dir / "t").c_str(), info), Error::None);
  EXPECT_EQ(info.modified, 1'234'567'890'123'456'789);
  EXPECT_EQ(info.accessed, 1'000'000'000'000'000'005);
}

TEST(FileSystem, CreationTimeIsBirthOrModification) {
  platform::test::TempFolder dir;
  dir.WriteFile("t", "first");
  std::ofstream(dir.Path() / "t", std::ios::app) << "second";
  platform::FileInfo info;
  ASSERT_EQ(platform::Stat((dir / "t").c_str(), info), Error::None);
  EXPECT_GT(info.created, 0);
  EXPECT_LE(info.created, info.modified);
}

TEST(FileSystem, RenameReplacesTheTarget) {
  platform::test::TempFolder dir;
  dir.WriteFile("new.txt", "new");
  dir.WriteFile("Old.txt", "old");
  ASSERT_EQ(platform::Rename((dir / "new.txt").c_str(), (dir / "old.TXT").c_str()), Error::None);
  EXPECT_FALSE(dir.Has("new.txt"));
  EXPECT_EQ(dir.ReadFile("Old.txt"), "new");  // replaced, not a second file in another case
  EXPECT_FALSE(dir.Has("old.TXT"));

  // A folder moves with its content; back-slashes and case find both ends.
  dir.WriteFile("Src/inner.bin", "i");
  fs::create_directory(dir.Path() / "Dest");
  std::string from = dir.Path().string() + "\\src";
  std::string to = dir.Path().string() + "\\DEST\\Moved";
  ASSERT_EQ(platform::Rename(from.c_str(), to.c_str()), Error::None);
  EXPECT_EQ(dir.ReadFile("Dest/Moved/inner.bin"), "i");

  // Only the case changes.
  ASSERT_EQ(platform::Rename((dir / "Old.txt").c_str(), (dir / "OLD.txt").c_str()), Error::None);
  EXPECT_EQ(dir.ReadFile("OLD.txt"), "new");
  EXPECT_FALSE(dir.Has("Old.txt"));
}

TEST(FileSystem, RenameErrors) {
  platform::test::TempFolder dir;
  dir.WriteFile("a", "a");
  dir.WriteFile("full/x", "x");
  fs::create_directory(dir.Path() / "empty");
  EXPECT_EQ(platform::Rename((dir / "none").c_str(), (dir / "b").c_str()), Error::NotFound);
  EXPECT_EQ(platform::Rename((dir / "none/x").c_str(), (dir / "b").c_str()), Error::PathNotFound);
  EXPECT_EQ(platform::Rename((dir / "a").c_str(), (dir / "nodir/b").c_str()), Error::PathNotFound);
  EXPECT_EQ(platform::Rename((dir / "empty").c_str(), (dir / "full").c_str()), Error::NotEmpty);
  EXPECT_EQ(platform::Rename((dir / "a").c_str(), (dir / "empty").c_str()), Error::IsFolder);
  EXPECT_EQ(platform::Rename(nullptr, (dir / "b").c_str()), Error::InvalidArgument);
  EXPECT_EQ(dir.ReadFile("a"), "a");
}

TEST(FileSystem, DeleteFile) {
  platform::test::TempFolder dir;
  dir.WriteFile("Gone.txt", "x");
  fs::create_directory(dir.Path() / "folder");
  ASSERT_EQ(platform::DeleteFile((dir / "gone.TXT").c_str()), Error::None);
  EXPECT_FALSE(dir.Has("Gone.txt"));
  EXPECT_EQ(platform::DeleteFile((dir / "gone.txt").c_str()), Error::NotFound);
  EXPECT_EQ(platform::DeleteFile((dir / "none/x").c_str()), Error::PathNotFound);
  EXPECT_EQ(platform::DeleteFile((dir / "folder").c_str()), Error::IsFolder);
  EXPECT_TRUE(dir.Has("folder"));
}

TEST(FileSystem, MakeAndRemoveFolders) {
  platform::test::TempFolder dir;
  dir.WriteFile("file", "x");
  dir.WriteFile("Full/x", "x");
  struct Case {
    const char* label;
    Error (*op)(const char*);
    std::string path;
    Error expected;
  };
  const Case cases[] = {
      {"make", platform::MakeFolder, dir / "one", Error::None},
      {"make existing", platform::MakeFolder, dir / "ONE", Error::AlreadyExists},
      {"make over a file", platform::MakeFolder, dir / "file", Error::AlreadyExists},
      {"make without parent", platform::MakeFolder, dir / "a/b", Error::PathNotFound},
      {"path", platform::MakeFolderPath, dir / "p/q/r", Error::None},
      {"path again, other case, trailing separator", platform::MakeFolderPath, dir / "P\\Q\\R\\", Error::None},
      {"path below an existing one", platform::MakeFolderPath, dir / "P/q/S/t", Error::None},
      {"path over a file", platform::MakeFolderPath, dir / "file", Error::AlreadyExists},
      {"path through a file", platform::MakeFolderPath, dir / "file/x", Error::PathNotFound},
      {"remove", platform::RemoveFolder, dir / "One", Error::None},
      {"remove missing", platform::RemoveFolder, dir / "one", Error::NotFound},
      {"remove non-empty", platform::RemoveFolder, dir / "full", Error::NotEmpty},
      {"remove a file", platform::RemoveFolder, dir / "file", Error::NotFolder},
      {"remove below a file", platform::RemoveFolder, dir / "file/x", Error::PathNotFound},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(c.op(c.path.c_str()), c.expected);
  }
  EXPECT_FALSE(dir.Has("one"));
  EXPECT_TRUE(fs::is_directory(dir.Path() / "p/q/r"));
  EXPECT_TRUE(fs::is_directory(dir.Path() / "p/q/S/t"));
  EXPECT_FALSE(dir.Has("P"));
  EXPECT_EQ(dir.ReadFile("file"), "x");
  EXPECT_EQ(platform::MakeFolderPath(nullptr), Error::InvalidArgument);
}

TEST(FileSystem, MakeFolderPathFromRelativePath) {
  platform::test::TempFolder dir;
  fs::path before = fs::current_path();
  fs::current_path(dir.Path());
  Error made = platform::MakeFolderPath("rel\\deeper\\");
  fs::current_path(before);
  EXPECT_EQ(made, Error::None);
  EXPECT_TRUE(fs::is_directory(dir.Path() / "rel/deeper"));
}

TEST(FileSystem, ListFolder) {
  platform::test::TempFolder dir;
  dir.WriteFile("List/b.txt", "bb");
  dir.WriteFile("List/A.dat", "aaaa");
  dir.WriteFile("List/sub/inner", "not listed");
  dir.WriteFile("List/.hidden", "");
  fs::create_symlink("nowhere", dir.Path() / "List/dangling");
  std::vector<platform::FolderEntry> entries{{"stale", {}}};
  ASSERT_EQ(platform::ListFolder((dir / "list").c_str(), entries), Error::None);
  struct Expected {
    const char* name;
    bool isFolder;
    uint64_t size;
  };
  const Expected expected[] = {{".hidden", false, 0}, {"A.dat", false, 4}, {"b.txt", false, 2}, {"sub", true, 0}};
  ASSERT_EQ(entries.size(), std::size(expected));
  for (std::size_t i = 0; i < entries.size(); ++i) {
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(entries[i].name, expected[i].name);
    EXPECT_EQ(entries[i].info.isFolder, expected[i].isFolder);
    EXPECT_EQ(entries[i].info.size, expected[i].size);
    EXPECT_GT(entries[i].info.modified, 0);
    EXPECT_GT(entries[i].info.created, 0);
  }

  // A filter keeps only the names it accepts.
  ASSERT_EQ(platform::ListFolder((dir / "list").c_str(), entries,
                                 [](const char* name) { return std::string_view(name).ends_with(".txt"); }),
            Error::None);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, "b.txt");
  EXPECT_EQ(entries[0].info.size, 2u);

  fs::create_directory(dir.Path() / "empty");
  ASSERT_EQ(platform::ListFolder((dir / "empty").c_str(), entries), Error::None);
  EXPECT_TRUE(entries.empty());
  EXPECT_EQ(platform::ListFolder((dir / "none").c_str(), entries), Error::NotFound);
  EXPECT_EQ(platform::ListFolder((dir / "List/b.txt").c_str(), entries), Error::NotFolder);
  EXPECT_TRUE(entries.empty());
}

} // namespace

namespace {

// A link is listed as a link and never as a folder, so that nothing walking
// a listing strays out of the tree through it.
TEST(FileSystem, ListFolderReportsLinksAsLinks) {
  platform::test::TempFolder dir;
  dir.WriteFile("target/inner.txt", "12345");
  dir.WriteFile("List/plain.txt", "1");
  fs::create_directory_symlink(dir.Path() / "target", dir.Path() / "List/to-folder");
  fs::create_symlink(dir.Path() / "target/inner.txt", dir.Path() / "List/to-file");
  std::vector<platform::FolderEntry> entries;
  ASSERT_EQ(platform::ListFolder((dir / "List").c_str(), entries), Error::None);
  struct Expected {
    const char* name;
    bool isLink;
    uint64_t size;
  };
  const Expected expected[] = {{"plain.txt", false, 1}, {"to-file", true, 5}, {"to-folder", true, 0}};
  ASSERT_EQ(entries.size(), std::size(expected));
  for (std::size_t i = 0; i < entries.size(); ++i) {
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(entries[i].name, expected[i].name);
    EXPECT_EQ(entries[i].info.isLink, expected[i].isLink);
    EXPECT_FALSE(entries[i].info.isFolder);
    EXPECT_EQ(entries[i].info.size, expected[i].size);
  }
}

TEST(FileSystem, DeleteTreeLeavesWhatLinksPointTo) {
  platform::test::TempFolder dir;
  dir.WriteFile("outside/keep.txt", "k");
  dir.WriteFile("Tree/a/b/c.txt", "c");
  dir.WriteFile("Tree/top.txt", "t");
  fs::create_directory_symlink(dir.Path() / "outside", dir.Path() / "Tree/a/to-outside");
  fs::create_symlink(dir.Path() / "outside/keep.txt", dir.Path() / "Tree/to-file");
  fs::create_symlink("nowhere", dir.Path() / "Tree/dangling");
  fs::create_directory_symlink(dir.Path() / "outside", dir.Path() / "link");

  EXPECT_EQ(platform::DeleteTree((dir / "link").c_str()), Error::NotFolder);
  EXPECT_EQ(platform::DeleteTree((dir / "outside/keep.txt").c_str()), Error::NotFolder);
  EXPECT_EQ(platform::DeleteTree((dir / "none").c_str()), Error::NotFound);
  EXPECT_EQ(platform::DeleteTree((dir / "tree\\").c_str()), Error::None);
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir.Path() / "Tree")));
  EXPECT_EQ(dir.ReadFile("outside/keep.txt"), "k");
  EXPECT_TRUE(fs::is_symlink(dir.Path() / "link"));
}

TEST(FileSystem, ReadOnlyAndCurrentFolder) {
  platform::test::TempFolder dir;
  dir.WriteFile("Sub/x.txt", "x");
  fs::permissions(dir.Path() / "Sub/x.txt", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  ASSERT_EQ(platform::SetReadOnly((dir / "sub/X.TXT").c_str(), true), Error::None);
  EXPECT_EQ(fs::status(dir.Path() / "Sub/x.txt").permissions(), fs::perms::owner_read | fs::perms::group_read);
  ASSERT_EQ(platform::SetReadOnly((dir / "Sub/x.txt").c_str(), false), Error::None);
  EXPECT_EQ(fs::status(dir.Path() / "Sub/x.txt").permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(platform::SetReadOnly((dir / "none").c_str(), true), Error::NotFound);

  std::string before;
  ASSERT_EQ(platform::CurrentFolder(before), Error::None);
  EXPECT_EQ(platform::ChangeFolder((dir / "SUB").c_str()), Error::None);
  std::string now;
  EXPECT_EQ(platform::CurrentFolder(now), Error::None);
  EXPECT_EQ(fs::path(now), fs::canonical(dir.Path() / "Sub"));
  EXPECT_EQ(platform::ChangeFolder((dir / "none").c_str()), Error::NotFound);
  ASSERT_EQ(platform::ChangeFolder(before.c_str()), Error::None);
}

} // namespace

TEST(FileSystem, FreeDiskSpaceOfAFolderAndOfNothing) {
  platform::test::TempFolder dir;
  uint64_t bytes = 0;
  ASSERT_EQ(platform::FreeDiskSpace(dir.Path().c_str(), bytes), Error::None);
  EXPECT_GT(bytes, 0u);
  EXPECT_NE(platform::FreeDiskSpace((dir / "missing/deeper").c_str(), bytes), Error::None);
  EXPECT_EQ(bytes, 0u);
}
