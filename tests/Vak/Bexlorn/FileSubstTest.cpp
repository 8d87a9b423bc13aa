#include "Vak/Bexlorn/FileSubst.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Vak/Bexlorn/Exception.h"
#include "tests/Vak/Bexlorn/FakeFileSub.h"
#include "tests/platform/os/TempFolder.h"

namespace {

using Vak::File;
using Vak::FileSub;
using Vak::FileSubPath;
using Vak::FileSubstList;
using Vak::PString;
using Vak::test::FakeLayer;
using platform::test::TempFolder;

std::string ReadAll(File& f) {
  std::string out;
  char buf[4096];
  for (unsigned long n; (n = f.Read(buf, sizeof buf, 1)) > 0;) out.append(buf, n);
  return out;
}

std::string ReadVia(const std::string& name) {
  File f;
  if (!f.Open(name.c_str(), File::kRead).Ok()) return "<not opened>";
  return ReadAll(f);
}

class SubstListTest : public ::testing::Test {
protected:
  void TearDown() override {
    for (const char* name : {"data", "ro", "other", "sx"}) FileSubstList::Get().Remove(PString(name), false);
    File::SetSubstRouter(nullptr);
  }

  // A folder inside the temporary folder, as a layer path ending in '/'.
  std::string Folder(const std::string& relative, bool make = true) {
    if (make) std::filesystem::create_directories(dir_.Path() / relative);
    return dir_ / relative + "/";
  }
  FakeLayer* AddFake(const char* substitute, FakeLayer::Options options) {
    auto layer = std::make_unique<FakeLayer>(options, dir_ / ("backing-" + options.label), log_);
    FakeLayer* raw = layer.get();
    EXPECT_TRUE(FileSubstList::Get().Add(PString(substitute), std::move(layer)));
    return raw;
  }
  std::vector<std::string> LogOf(const std::string& label) const {
    std::vector<std::string> out;
    for (const auto& line : log_)
      if (line.compare(0, label.size() + 1, label + " ") == 0) out.push_back(line);
    return out;
  }

  TempFolder dir_;
  std::vector<std::string> log_;
};

// Bottom to top: a read-only archive-like layer, a writable folder, and a
// writable layer that is not readable.
TEST_F(SubstListTest, RoutesReadsAndWritesThroughTheStack) {
  FakeLayer* arch = AddFake("data", {"arch", true, true, FileSub::kArchive});
  arch->Put("x.txt", "arch-x");
  arch->Put("a.txt", "arch-a");
  dir_.WriteFile("f/x.txt", "folder-x");
  ASSERT_TRUE(File::Subst(PString("data"), Folder("f").c_str(), true));
  FakeLayer* ghost = AddFake("data", {"ghost", false, false, FileSub::kArchive});

  EXPECT_EQ(ReadVia("data:x.txt"), "folder-x");  // the folder, added after the archive, answers first
  EXPECT_EQ(ReadVia("data:a.txt"), "arch-a");    // the first readable layer that has it
  File f;
  EXPECT_EQ(f.Open("data:none.txt", File::kRead), File::RES_FILENOTFOUND);
  EXPECT_EQ(f.Open("data:a.txt", 0x11), File::RES_READONLY);  // read-write takes the read route
  EXPECT_FALSE(f.IsOpen());

  ASSERT_TRUE(f.Open("data:new.txt", 0x101).Ok());
  EXPECT_EQ(f.Write("new", 3, 1), 3u);
  EXPECT_EQ(FileSubstList::Get().OpenFiles(PString("data")), 1u);
  f.Close();
  EXPECT_EQ(FileSubstList::Get().OpenFiles(PString("data")), 0u);
  EXPECT_EQ(dir_.ReadFile("f/new.txt"), "new");

  // The unreadable layer is asked for writes only; the read-only one never.
  EXPECT_EQ(LogOf("ghost"), std::vector<std::string>{"ghost OpenWrite new.txt"});
  for (const auto& line : LogOf("arch")) EXPECT_EQ(line.find("OpenWrite"), std::string::npos) << line;
  (void)ghost;
}

TEST_F(SubstListTest, ReadOnlySubstituteRefusesWrites) {
  dir_.WriteFile("r/x.txt", "keep");
  ASSERT_TRUE(File::Subst(PString("ro"), Folder("r").c_str(), false));
  File f;
  EXPECT_EQ(f.Open("ro:x.txt", 0x101), File::RES_FILENOTFOUND);
  EXPECT_EQ(f.Open("ro:x.txt", 0x301), File::RES_FILEALREADYEXISTS);
  EXPECT_EQ(f.Open("ro:x.txt", 0x11), File::RES_READONLY);
  EXPECT_EQ(dir_.ReadFile("r/x.txt"), "keep");
  EXPECT_EQ(ReadVia("ro:x.txt"), "keep");
  EXPECT_FALSE(File::Unlink("ro:x.txt"));
  EXPECT_FALSE(File::Md("ro:sub"));
  EXPECT_TRUE(dir_.Has("r/x.txt"));
}

TEST_F(SubstListTest, WriteIntoMissingFoldersMakesThem) {
  const std::string root = Folder("w", false);
  ASSERT_TRUE(File::Subst(PString("data"), root.c_str(), true));
  File f;
  // The folder does not exist yet: not readable, so nothing reads from it.
  EXPECT_EQ(File::Exists("data:a/b/c.txt"), File::RES_FILENOTFOUND);
  ASSERT_TRUE(f.Open("data:a\\b/c.txt", 0x101).Ok());
  f.Write("abc", 3, 1);
  f.Close();
  EXPECT_EQ(dir_.ReadFile("w/a/b/c.txt"), "abc");
  EXPECT_EQ(ReadVia("data:a/b/c.txt"), "abc");
}

TEST_F(SubstListTest, ResolveNamesOnlySubstitutes) {
  ASSERT_TRUE(File::Subst(PString("data"), Folder("d").c_str(), true));
  struct Case {
    const char* path;
    const char* substitute;  // null: none
  } cases[] = {
      {"data:x", "data"}, {"data:/x/y.txt", "data"}, {"C:\\x", nullptr}, {"C:/x", nullptr},
      {"/abs:x", nullptr}, {"\\abs:x", nullptr},      {"other:x", nullptr}, {"x.txt", nullptr},
      {":x", nullptr},    {"", nullptr},
  };
  for (const Case& c : cases) {
    const FileSubstList::Substitute* s = FileSubstList::Resolve(c.path);
    if (!c.substitute) {
      EXPECT_EQ(s, nullptr) << c.path;
    } else {
      ASSERT_NE(s, nullptr) << c.path;
      EXPECT_STREQ(s->name.c_str(), c.substitute);
    }
  }
  EXPECT_EQ(FileSubstList::Resolve(nullptr), nullptr);
}

TEST_F(SubstListTest, RemovingTellsEveryLayerAndDestroysOnlyItsOwn) {
  AddFake("data", {"d1", true, true, FileSub::kArchive});
  AddFake("data", {"d2", true, true, FileSub::kArchive});
  AddFake("other", {"o1", true, true, FileSub::kArchive});
  const unsigned before = FileSubstList::Get().Count();

  ASSERT_TRUE(File::Subst(PString("data"), nullptr, false));
  const std::vector<std::string> d = {"d2 SubstClosing data", "d2 destroyed"};
  const std::vector<std::string> d1 = {"d1 SubstClosing data", "d1 destroyed"};
  EXPECT_EQ(LogOf("d2"), d);
  EXPECT_EQ(LogOf("d1"), d1);
  EXPECT_EQ(LogOf("o1"), std::vector<std::string>{"o1 SubstClosing data"});
  // The top layer goes first.
  auto at = [&](const std::string& line) { return std::find(log_.begin(), log_.end(), line) - log_.begin(); };
  EXPECT_LT(at("d2 destroyed"), at("d1 destroyed"));
  EXPECT_EQ(FileSubstList::Get().Count(), before - 1);
  EXPECT_EQ(FileSubstList::Resolve("data:x"), nullptr);
  EXPECT_NE(FileSubstList::Resolve("other:x"), nullptr);

  // Gone: the name is a plain path again, and removing it again is a fault.
  EXPECT_EQ(File::Exists("data:x"), File::RES_FILENOTFOUND);
  EXPECT_TRUE(File::Subst(PString("data"), nullptr, false));  // nothing to do
  try {
    FileSubstList::Get().Remove(PString("data"));
    FAIL() << "no exception";
  } catch (const Vak::FileEx& ex) {
    EXPECT_STREQ(ex.Reason(), "Subst(data) Closing non-existant subst?");
  }
  EXPECT_THROW(FileSubstList::Get().Remove(PString("")), Vak::FileEx);
  EXPECT_FALSE(FileSubstList::Get().Add(PString(""), std::make_unique<FileSubPath>(Folder("e").c_str(), true)));
  EXPECT_FALSE(FileSubstList::Get().Add(PString("data"), nullptr));
}

TEST_F(SubstListTest, FileOpenWhenRemovedStaysUsable) {
  dir_.WriteFile("k/x.txt", "still here");
  ASSERT_TRUE(File::Subst(PString("data"), Folder("k").c_str(), false));
  File f;
  ASSERT_TRUE(f.Open("data:x.txt", File::kRead).Ok());
  ASSERT_TRUE(File::Subst(PString("data"), nullptr, false));
  EXPECT_EQ(ReadAll(f), "still here");
  EXPECT_EQ(f.Close(), 0);
}

TEST_F(SubstListTest, StaticOperationsRouteThroughLayers) {
  // Bottom to top: read-only folder r, writable folders w1 and w2, and a
  // fake on top that is read-only.
  for (const char* sub : {"r", "w1", "w2"}) dir_.WriteFile(std::string(sub) + "/d.txt", sub);
  dir_.WriteFile("w1/only1.txt", "1");
  ASSERT_TRUE(File::Subst(PString("data"), Folder("r").c_str(), false));
  ASSERT_TRUE(File::Subst(PString("data"), Folder("w1").c_str(), true));
  ASSERT_TRUE(File::Subst(PString("data"), Folder("w2").c_str(), true));
  FakeLayer* top = AddFake("data", {"top", true, true, FileSub::kArchive});
  top->Put("t.txt", "t", 1234);

  PString substitute("other");
  EXPECT_EQ(File::Exists("data:only1.txt"), File::RES_OK);
  EXPECT_EQ(File::Exists("data:\\t.txt"), File::RES_OK);
  EXPECT_EQ(File::Exists("data:nothing"), File::RES_FILENOTFOUND);
  EXPECT_EQ(File::Exists(substitute = PString("data"), "t.txt"), File::RES_OK);
  EXPECT_EQ(LogOf("top").back(), "top Exists data:t.txt");  // the layer hears the substitute's own name

  uint32_t time = 0;
  EXPECT_TRUE(File::GetFileTime("data:t.txt", time));
  EXPECT_EQ(time, 1234u);
  std::filesystem::last_write_time(dir_.Path() / "w1/only1.txt",
                                   std::filesystem::file_time_type::clock::now() - std::chrono::hours(24 * 400));
  uint32_t plain = 0;
  ASSERT_TRUE(File::GetFileTime((dir_ / "w1/only1.txt").c_str(), plain));
  EXPECT_TRUE(File::GetFileTime("data:only1.txt", time));
  EXPECT_EQ(time, plain);
  EXPECT_FALSE(File::GetFileTime("data:nothing", time));

  // Deletion reaches every writable layer; the read-only ones keep theirs.
  EXPECT_TRUE(File::Unlink("data:d.txt"));
  EXPECT_FALSE(dir_.Has("w1/d.txt"));
  EXPECT_FALSE(dir_.Has("w2/d.txt"));
  EXPECT_EQ(dir_.ReadFile("r/d.txt"), "r");
  EXPECT_FALSE(File::Unlink("data:d.txt"));
  for (const auto& line : LogOf("top")) EXPECT_EQ(line.find("Unlink"), std::string::npos) << line;

  // Rename: the first writable layer that has the file; the new name stays inside.
  EXPECT_TRUE(File::Rename("data:only1.txt", "elsewhere:/renamed.txt"));
  EXPECT_EQ(dir_.ReadFile("w1/renamed.txt"), "1");
  EXPECT_FALSE(File::Rename("data:only1.txt", "data:again.txt"));

  // Md: the top writable layer.
  EXPECT_TRUE(File::Md("data:m/n"));
  EXPECT_TRUE(std::filesystem::is_directory(dir_.Path() / "w2/m/n"));
  EXPECT_FALSE(dir_.Has("w1/m"));
}

TEST_F(SubstListTest, FolderLayerPacksBesideTheFile) {
  ASSERT_TRUE(File::Subst(PString("data"), Folder("c").c_str(), true));
  std::string content;
  while (content.size() < 40000) content += "packed through the folder layer " + std::to_string(content.size()) + "\n";
  File f;
  ASSERT_TRUE(f.Open("data:c.bin", 0x102).Ok());
  ASSERT_EQ(f.Write(content.data(), content.size(), 1), content.size());
  EXPECT_EQ(f.Close(), 0);
  const std::string stored = dir_.ReadFile("c/c.bin");
  ASSERT_GE(stored.size(), 12u);
  EXPECT_EQ(stored.substr(0, 4), "CFIL");
  EXPECT_LT(stored.size(), content.size());
  EXPECT_EQ(ReadVia("data:c.bin"), content);
  // Nothing left over beside it.
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir_.Path() / "c")) names.push_back(e.path().filename());
  EXPECT_EQ(names, std::vector<std::string>{"c.bin"});
}

TEST_F(SubstListTest, FailedPackingKeepsThePlainFile) {
  ASSERT_TRUE(File::Subst(PString("data"), Folder("c").c_str(), true));
  const std::string content(3 * File::kBufferSize, 'q');
  File f;
  ASSERT_TRUE(f.Open("data:c.bin", 0x102).Ok());
  ASSERT_EQ(f.Write(content.data(), content.size(), 1), content.size());
  // The file shrinks under the writer: packing cannot read what was written.
  std::filesystem::resize_file(dir_.Path() / "c/c.bin", 100);
  EXPECT_EQ(f.Close(), File::RES_UNKNOWN);
  EXPECT_EQ(dir_.ReadFile("c/c.bin"), std::string(100, 'q'));
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir_.Path() / "c")) names.push_back(e.path().filename());
  EXPECT_EQ(names, std::vector<std::string>{"c.bin"});
}

// An open through a layer that fails half-way hands the file back to the
// layer without packing it: the user's file stays as it was.
TEST_F(SubstListTest, FailedOpenThroughAFolderLeavesTheFile) {
  ASSERT_TRUE(File::Subst(PString("data"), Folder("c").c_str(), true));
  const std::string compressed = std::string("CFIL\x01\x01\0\0\x03\0\0\0\x03\x80", 14) + "abc";
  const std::string plain = "plain content";
  dir_.WriteFile("c/packed.bin", compressed);
  dir_.WriteFile("c/plain.bin", plain);
  struct Case {
    const char* name;
    unsigned long mode;
    File::Results result;
    std::string content;
  };
  const Case cases[] = {
      {"packed.bin", 0x12, File::RES_CANTWRITECOMPRESSED, compressed},
      {"packed.bin", 0x11, File::RES_CANTWRITECOMPRESSED, compressed},
      {"plain.bin", 0x202, File::RES_MODENOTSUPPORTED, plain},
  };
  const unsigned before = File::OpenFiles();
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.mode));
    File f;
    EXPECT_EQ(f.Open(("data:" + std::string(c.name)).c_str(), c.mode), c.result);
    EXPECT_FALSE(f.IsOpen());
    EXPECT_EQ(FileSubstList::Get().OpenFiles(PString("data")), 0u);
    EXPECT_EQ(File::OpenFiles(), before);
    EXPECT_EQ(dir_.ReadFile(std::string("c/") + c.name), c.content);
  }
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir_.Path() / "c")) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"packed.bin", "plain.bin"}));
}

TEST_F(SubstListTest, FolderLayerQueries) {
  const std::string root = Folder("q");
  dir_.WriteFile("q/x.txt", "x");
  FileSubPath layer(root.c_str(), true);
  EXPECT_TRUE(layer.IsType(FileSub::kFolder));
  EXPECT_FALSE(layer.IsType(FileSub::kArchive));
  EXPECT_EQ(layer.GetVersion(), 258u);
  EXPECT_TRUE(layer.IsReadable());
  EXPECT_FALSE(layer.IsReadOnly());
  EXPECT_TRUE(layer.IsPath(root.c_str()));
  std::string other = root;
  other.back() = '\\';
  EXPECT_FALSE(layer.IsPath(other.c_str()));

  File::Path path("x.txt");
  EXPECT_TRUE(layer.GetRealPath(path));
  EXPECT_EQ(std::string(path), root + "x.txt");
  path = "y.txt";
  EXPECT_FALSE(layer.GetRealPath(path));
  EXPECT_STREQ(path, "y.txt");
  File::Path as;
  EXPECT_TRUE(layer.ExistsAs("x.txt", as));
  EXPECT_STREQ(as, "x.txt");

  namespace fs = std::filesystem;
  layer.SetReadOnly("x.txt", true);
  EXPECT_EQ(fs::status(dir_.Path() / "q/x.txt").permissions() & fs::perms::owner_write, fs::perms::none);
  layer.SetReadOnly("x.txt", false);
  EXPECT_NE(fs::status(dir_.Path() / "q/x.txt").permissions() & fs::perms::owner_write, fs::perms::none);

  FileSubPath missing(Folder("nothere", false).c_str(), false);
  EXPECT_FALSE(missing.IsReadable());
  EXPECT_TRUE(missing.IsReadOnly());
}

TEST(FileSubDefaultsTest, BaseLayerHoldsNothing) {
  FileSub layer;
  File file;
  PString name("data");
  File::Path path("p");
  uint32_t time = 7;
  FileSub::SearchList list;
  EXPECT_TRUE(layer.IsReadOnly());
  EXPECT_FALSE(layer.IsReadable());
  EXPECT_EQ(layer.GetVersion(), 0u);
  EXPECT_FALSE(layer.IsType(FileSub::kArchive));
  EXPECT_FALSE(layer.IsType(FileSub::kFolder));
  EXPECT_FALSE(layer.OpenRead(file, "x", platform::File::Access::Read, platform::File::Disposition::OpenExisting));
  EXPECT_FALSE(layer.Exists(name, "x"));
  EXPECT_FALSE(layer.Unlink("x"));
  EXPECT_TRUE(layer.Md("x"));
  EXPECT_FALSE(layer.GetRealPath(path));
  EXPECT_FALSE(layer.GetFileTime(time, "x"));
  EXPECT_EQ(time, 7u);
  layer.AddToSearch(list);
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(layer.FindStart(), -1);
  try {
    layer.CloseFile(file);
    FAIL() << "no exception";
  } catch (const Vak::FileEx& ex) {
    EXPECT_STREQ(ex.Reason(), "CloseFile() Logic Error");
    EXPECT_STREQ(ex.File(), "Vak/Bexlorn/FileSub");
  }
}

} // namespace
