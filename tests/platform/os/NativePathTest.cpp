#include "platform/os/NativePath.h"

#include "platform/os/File.h"
#include "platform/os/FileSystem.h"

#include "PrintError.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace {

using platform::Error;
using platform::ResolvePath;
namespace fs = std::filesystem;

TEST(NativePath, ResolvesComponentsWithoutRegardToCase) {
  platform::test::TempFolder dir;
  dir.WriteFile("Data/Meshes/Train.IM", "t");
  dir.WriteFile("\xC9t\xE9/Caf\xC9.txt", "c");  // Windows-1252 letters in both cases
  dir.WriteFile("\xD7/x", "");                    // the multiplication sign is no letter
  const std::string root = dir.Path().string();
  struct Case {
    const char* given;
    const char* expected;
  };
  const Case cases[] = {
      {"/Data/Meshes/Train.IM", "/Data/Meshes/Train.IM"},
      {"\\data\\meshes\\train.im", "/Data/Meshes/Train.IM"},
      {"/DATA/mEsHeS/", "/Data/Meshes/"},
      {"/data//meshes", "/Data//Meshes"},
      {"/data/./MESHES/../meshes/TRAIN.im", "/Data/./Meshes/../Meshes/Train.IM"},
      {"/data/meshes/New.txt", "/Data/Meshes/New.txt"},
      {"/data/NewDir/sub/train.im", "/Data/NewDir/sub/train.im"},
      {"/\xE9T\xC9/caf\xE9.TXT", "/\xC9t\xE9/Caf\xC9.txt"},
      {"/\xF7/x", "/\xF7/x"},
      {"/Data/Meshes/Train.IMX", "/Data/Meshes/Train.IMX"},
      // The folder exists as written; only the last component differs.
      {"/Data/Meshes/TRAIN.im", "/Data/Meshes/Train.IM"},
      {"/Data/Meshes/../Meshes/train.im", "/Data/Meshes/../Meshes/Train.IM"},
      {"/Data//Meshes/train.IM", "/Data//Meshes/Train.IM"},
      {"/Data/Meshes/Train.IM/", "/Data/Meshes/Train.IM/"},
      {"/Data/meshes/..", "/Data/Meshes/.."},
      {"/Data/Meshes/Train.IM/x", "/Data/Meshes/Train.IM/x"},
      {"/\xC9t\xE9/CAF\xE9.txt", "/\xC9t\xE9/Caf\xC9.txt"},
  };
  // Kept listings give the same answers, asked once and again.
  for (const int kept : {0, 1}) {
    std::optional<platform::ListingCacheScope> scope;
    if (kept) scope.emplace();
    for (int pass = 0; pass <= kept; ++pass) {
      for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.given) + (kept ? " kept" : ""));
        EXPECT_EQ(ResolvePath((root + c.given).c_str()), root + c.expected);
      }
    }
  }
}

TEST(NativePath, SeveralMatchesPreferExactThenByteOrder) {
  platform::test::TempFolder dir;
  for (const char* name : {"dup", "Dup", "DUP"}) fs::create_directory(dir.Path() / name);
  const std::string root = dir.Path().string() + "/";
  for (const int kept : {0, 1}) {
    SCOPED_TRACE(kept);
    std::optional<platform::ListingCacheScope> scope;
    if (kept) scope.emplace();
    EXPECT_EQ(ResolvePath((root + "Dup").c_str()), root + "Dup");
    EXPECT_EQ(ResolvePath((root + "dup").c_str()), root + "dup");
    EXPECT_EQ(ResolvePath((root + "dUp").c_str()), root + "DUP");
    EXPECT_EQ(ResolvePath((root + "dUp/x").c_str()), root + "DUP/x");
  }
}

// With listings kept, every change made through the layer shows at once in
// the folder's kept listing, and a folder changed from outside is listed
// again.
TEST(NativePath, KeptListingsFollowChanges) {
  platform::test::TempFolder dir;
  dir.WriteFile("Folder/Old.txt", "o");
  dir.WriteFile("Folder/Gone/Inner", "i");
  const std::string root = dir.Path().string() + "/Folder/";
  auto at = [&](const char* name) { return ResolvePath((root + name).c_str()); };
  auto write = [&](const char* name) {
    platform::File file;
    ASSERT_EQ(file.Open((root + name).c_str(), platform::File::Access::Write,
                        platform::File::Disposition::CreateAlways),
              Error::None);
  };
  platform::ListingCacheScope scope;
  ASSERT_EQ(at("OLD.TXT"), root + "Old.txt");  // the folder's listing is kept from here on

  struct Step {
    const char* what;
    std::function<void()> change;
    const char* asked;
    const char* expected;
  };
  const Step steps[] = {
      {"folder made", [&] { ASSERT_EQ(platform::MakeFolder((root + "NewDir").c_str()), Error::None); }, "newdir",
       "NewDir"},
      {"file made", [&] { write("New.txt"); }, "NEW.TXT", "New.txt"},
      // A folder the layer made is kept as empty; what is made in it next
      // joins its listing.
      {"file made in a folder just made",
       [&] {
         ASSERT_EQ(platform::MakeFolder((root + "Made").c_str()), Error::None);
         write("Made/Inner.txt");
       },
       "MADE/inner.TXT", "Made/Inner.txt"},
      {"renamed away", [&] { ASSERT_EQ(platform::Rename((root + "New.txt").c_str(), (root + "Moved.txt").c_str()),
                                       Error::None); },
       "new.TXT", "new.TXT"},
      {"renamed to", [] {}, "moved.txt", "Moved.txt"},
      {"file deleted", [&] { ASSERT_EQ(platform::DeleteFile((root + "Moved.txt").c_str()), Error::None); },
       "MOVED.txt", "MOVED.txt"},
      {"tree deleted", [&] { ASSERT_EQ(platform::DeleteTree((root + "NewDir").c_str()), Error::None); }, "newDIR",
       "newDIR"},
      {"path made", [&] { ASSERT_EQ(platform::MakeFolderPath((root + "Deep/Er").c_str()), Error::None); },
       "deep/er", "Deep/Er"},
      {"folder removed", [&] { ASSERT_EQ(platform::RemoveFolder((root + "Deep/Er").c_str()), Error::None); },
       "DEEP/ER", "Deep/ER"},
      {"made from outside", [&] { fs::create_directory(dir.Path() / "Folder/Outside"); }, "OUTSIDE", "Outside"},
      // A folder made where one was deleted (perhaps with its inode) starts
      // empty.
      {"deleted, then made anew",
       [&] {
         ASSERT_EQ(at("gone/INNER"), root + "Gone/Inner");
         ASSERT_EQ(platform::DeleteTree((root + "Gone").c_str()), Error::None);
         ASSERT_EQ(platform::MakeFolder((root + "Fresh").c_str()), Error::None);
       },
       "fresh/inner", "Fresh/inner"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    step.change();
    EXPECT_EQ(at(step.asked), root + step.expected);
  }
}

// Entries the layer made in a folder it made are answered from the kept
// listing; the answers are those the disk gives once nothing is kept.
TEST(NativePath, KeptListingAnswersAsTheDisk) {
  platform::test::TempFolder dir;
  const std::string root = dir.Path().string() + "/";
  auto make = [&](const std::string& name) {
    platform::File file;
    ASSERT_EQ(file.Open((root + name).c_str(), platform::File::Access::Write, platform::File::Disposition::CreateNew),
              Error::None);
  };
  const char* asked[] = {"Made/Dup", "Made/dup", "Made/DUP", "Made/dUp/x", "Made/new", "Made/other", "Made/OTHER",
                         "Else/moved", "Made/Gone", "made/inner/FILE", "Made/Inner/File"};
  std::vector<std::string> kept;
  {
    platform::ListingCacheScope scope;
    ASSERT_EQ(platform::MakeFolder((root + "Made").c_str()), Error::None);
    ASSERT_EQ(platform::MakeFolder((root + "Else").c_str()), Error::None);
    ASSERT_EQ(platform::MakeFolder((root + "Made/Inner").c_str()), Error::None);
    // Names that differ in case only come from outside: the layer would
    // open the first for the second.
    dir.WriteFile("Made/dup", "");
    dir.WriteFile("Made/Dup", "");
    for (const char* name : {"Made/Other", "Made/Gone", "Made/Inner/File"}) make(name);
    // A change of case in one folder, a move to another.
    ASSERT_EQ(platform::Rename((root + "Made/Other").c_str(), (root + "Made/OTHER").c_str()), Error::None);
    ASSERT_EQ(platform::Rename((root + "Made/Gone").c_str(), (root + "Else/Moved").c_str()), Error::None);
    for (const char* name : asked) kept.push_back(ResolvePath((root + name).c_str()));
  }
  for (std::size_t i = 0; i < std::size(asked); ++i) {
    SCOPED_TRACE(asked[i]);
    EXPECT_EQ(kept[i], ResolvePath((root + asked[i]).c_str()));
  }
  EXPECT_EQ(kept[2], root + "Made/Dup");
  EXPECT_EQ(kept[5], root + "Made/OTHER");
  EXPECT_EQ(kept[7], root + "Else/Moved");
  EXPECT_EQ(kept[8], root + "Made/Gone");
}

TEST(NativePath, RelativePathsAndDegenerateInput) {
  platform::test::TempFolder dir;
  dir.WriteFile("Sub/File.txt", "");
  fs::path before = fs::current_path();
  fs::current_path(dir.Path());
  std::string relative = ResolvePath("sub\\file.TXT");
  std::string dotted = ResolvePath(".\\SUB");
  std::string inFolder = ResolvePath("Sub\\FILE.txt");
  fs::current_path(before);
  EXPECT_EQ(relative, "Sub/File.txt");
  EXPECT_EQ(dotted, "./Sub");
  EXPECT_EQ(inFolder, "Sub/File.txt");
  EXPECT_EQ(ResolvePath(nullptr), "");
  EXPECT_EQ(ResolvePath(""), "");
  EXPECT_EQ(ResolvePath("\\"), "/");
}

TEST(NativePath, ExistsAsWrittenFoldsNoCase) {
  platform::test::TempFolder dir;
  dir.WriteFile("Up/Pkg.cdp", "");
  const std::string root = dir.Path().string();
  struct Case {
    std::string given;
    bool exists;
  };
  const Case cases[] = {
      {root + "/Up/Pkg.cdp", true}, {root + "\\Up\\Pkg.cdp", true}, {root + "/Up", true},
      {root + "/up/pkg.cdp", false}, {root + "/Up/PKG.cdp", false}, {root + "/Up/Other.cdp", false},
      {"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(platform::ExistsAsWritten(c.given.c_str()), c.exists) << c.given;
  EXPECT_FALSE(platform::ExistsAsWritten(nullptr));
}

TEST(NativePath, OperationsFindAndCreateThroughMixedCase) {
  platform::test::TempFolder dir;
  dir.WriteFile("Assets/\xC9T\xC9/Config.TXT", "kind");
  const std::string root = dir.Path().string();

  platform::FileInfo info;
  ASSERT_EQ(platform::Stat((root + "\\assets\\\xE9t\xE9\\config.txt").c_str(), info), Error::None);
  EXPECT_EQ(info.size, 4u);

  // New entries keep the name as given, inside the folders that exist.
  platform::File file;
  ASSERT_EQ(file.Open((root + "\\ASSETS\\\xE9t\xE9\\New.Txt").c_str(), platform::File::Access::Write,
                      platform::File::Disposition::CreateNew),
            Error::None);
  file.Close();
  ASSERT_EQ(platform::MakeFolderPath((root + "/assets/\xE9T\xE9/Deep/Er").c_str()), Error::None);
  EXPECT_TRUE(dir.Has("Assets/\xC9T\xC9/New.Txt"));
  EXPECT_TRUE(fs::is_directory(dir.Path() / "Assets/\xC9T\xC9/Deep/Er"));
  std::size_t entries = 0;
  for (auto it = fs::recursive_directory_iterator(dir.Path()); it != fs::recursive_directory_iterator(); ++it) {
    ++entries;
  }
  EXPECT_EQ(entries, 6u);  // Assets, ÉTÉ, Config.TXT, New.Txt, Deep, Er: nothing made twice
}

} // namespace
