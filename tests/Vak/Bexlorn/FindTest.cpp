#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "Vak/Bexlorn/Exception.h"
#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/FileSubst.h"
#include "platform/os/FileSystem.h"
#include "tests/Vak/Bexlorn/FakeFileSub.h"
#include "tests/platform/os/TempFolder.h"

namespace {

using Vak::File;
using Vak::FileSub;
using Vak::FileSubstList;
using Vak::PString;
using Vak::test::FakeLayer;
using platform::test::TempFolder;

struct Found {
  File::Entry entry;
  std::string path;  // GetNameAndPath
};

// Every match of the search, in the order given.
std::vector<Found> All(File::Find& find, bool opened) {
  std::vector<Found> out;
  for (bool more = opened; more; more = find.Next()) out.push_back({find, std::string(find.GetNameAndPath())});
  EXPECT_FALSE(find.Next());  // stays at the end
  return out;
}

std::vector<std::string> Names(const std::vector<Found>& found) {
  std::vector<std::string> names;
  for (const auto& f : found) names.push_back(f.entry.name);
  return names;
}

std::vector<std::string> Sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

class FindTest : public ::testing::Test {
protected:
  void TearDown() override {
    FileSubstList::Get().Remove(PString("data"), false);
    File::SetSubstRouter(nullptr);
  }
  std::string Folder(const std::string& relative) {
    std::filesystem::create_directories(dir_.Path() / relative);
    return dir_ / relative + "/";
  }

  TempFolder dir_;
  std::vector<std::string> log_;
};

TEST_F(FindTest, PlainFolderMatchesTheMask) {
  dir_.WriteFile("a.txt", "12345");
  dir_.WriteFile("b.dat", "1");
  dir_.WriteFile("C.TXT", "");
  dir_.WriteFile("readme", "");
  dir_.WriteFile("sub.d/inner.txt", "");
  const std::string root = dir_.Path().string();
  struct Case {
    std::string pattern;
    std::vector<std::string> names;
  } cases[] = {
      {root + "/*.txt", {"C.TXT", "a.txt"}},
      {root + "\\*.TxT", {"C.TXT", "a.txt"}},
      {root + "/*.*", {"C.TXT", "a.txt", "b.dat", "sub.d"}},
      {root + "/*", {"C.TXT", "a.txt", "b.dat", "readme", "sub.d"}},
      {root + "/*.doc;*.dat", {"b.dat"}},
      {root + "/sub.d/*.txt", {"inner.txt"}},
      {root + "/?.txt", {"C.TXT", "a.txt"}},
      {root + "/*.none", {}},
      {root + "/missing/*.*", {}},
      {root + "/s*/*.txt", {}},  // a wildcard in the folder part
      {root + "/su?.d/*.txt", {}},
  };
  for (const Case& c : cases) {
    File::Find find;
    EXPECT_EQ(Sorted(Names(All(find, find.Open(c.pattern.c_str())))), c.names) << c.pattern;
  }
}

// While a memo lives, a folder is listed once for every mask: a file made
// since shows only to searches outside it, or on another thread.
TEST_F(FindTest, AMemoServesTheListingItKeptUntilItEnds) {
  dir_.WriteFile("a.txt", "");
  dir_.WriteFile("b.dat", "");
  const std::string root = dir_.Path().string();
  auto names = [&](const std::string& mask, const char* separator = "/") {
    File::Find find;
    return Sorted(Names(All(find, find.Open((root + separator + mask).c_str()))));
  };
  using List = std::vector<std::string>;
  {
    File::ListingMemo memo;
    EXPECT_EQ(names("*.txt"), (List{"a.txt"}));
    dir_.WriteFile("c.txt", "");
    EXPECT_EQ(names("*.txt"), (List{"a.txt"})) << "kept";
    EXPECT_EQ(names("*"), (List{"a.txt", "b.dat"})) << "another mask from the same listing";
    EXPECT_EQ(names("*.dat"), (List{"b.dat"}));
    EXPECT_EQ(names("*.txt", "\\"), (List{"a.txt"})) << "the folder written another way";
    List elsewhere;
    std::thread([&] { elsewhere = names("*.txt"); }).join();
    EXPECT_EQ(elsewhere, (List{"a.txt", "c.txt"})) << "another thread has no memo";
    {
      File::ListingMemo inner;
      EXPECT_EQ(names("*.txt"), (List{"a.txt", "c.txt"})) << "an inner memo keeps its own";
    }
    EXPECT_EQ(names("*.txt"), (List{"a.txt"})) << "the outer one again";
  }
  EXPECT_EQ(names("*.txt"), (List{"a.txt", "c.txt"}));
}

TEST_F(FindTest, EntriesCarrySizeTimesAndFolderFlag) {
  dir_.WriteFile("f.bin", std::string(1234, 'x'));
  dir_.WriteFile("d.dir/x", "");
  namespace fs = std::filesystem;
  // A fixed modification time: 2009-02-13 23:31:30 UTC.
  const auto when = fs::file_time_type::clock::from_sys(std::chrono::sys_seconds(std::chrono::seconds(1234567890)));
  fs::last_write_time(dir_.Path() / "f.bin", when);

  File::Find find;
  std::map<std::string, File::Entry> by;
  for (const Found& f : All(find, find.Open((dir_ / "*.*").c_str()))) by[f.entry.name] = f.entry;
  ASSERT_EQ(by.size(), 2u);
  const File::Entry& file = by["f.bin"];
  EXPECT_EQ(file.size, 1234u);
  EXPECT_EQ(file.size2, 1234u);
  EXPECT_EQ(file.reserved, 0u);
  EXPECT_EQ(file.written, 1234567890u);
  EXPECT_EQ(file.attributes & File::Entry::kFolder, 0);
  EXPECT_EQ(file.reserved2, 0);
  // Creation: the birth time where the file system keeps one, else the
  // modification time.
  platform::FileInfo info;
  ASSERT_EQ(platform::Stat((dir_ / "f.bin").c_str(), info), platform::Error::None);
  EXPECT_EQ(file.created, static_cast<uint32_t>(info.created / 1000000000));
  EXPECT_EQ(file.accessed, static_cast<uint32_t>(info.accessed / 1000000000));
  if (info.created == info.modified) {
    EXPECT_EQ(file.created, file.written);
  }

  const File::Entry& folder = by["d.dir"];
  EXPECT_EQ(folder.attributes, File::Entry::kFolder);
  EXPECT_EQ(folder.size, 0u);
}

TEST_F(FindTest, PlainSearchInTheCurrentFolderAndNameAndPath) {
  dir_.WriteFile("m/x.txt", "");
  File::Path cwd;
  ASSERT_TRUE(File::GetCwd(cwd));
  ASSERT_TRUE(File::ChDir(dir_.Path().c_str()));
  {
    File::Find find;
    auto found = All(find, find.Open("m\\*.txt"));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].path, "m\\x.txt");
    File::Find here;
    EXPECT_EQ(Names(All(here, here.Open("*.*"))), std::vector<std::string>{});
    EXPECT_EQ(Names(All(here, here.Open("*"))), std::vector<std::string>{"m"});
  }
  ASSERT_TRUE(File::ChDir(cwd));
}

// Bottom to top: an archive-like layer, a folder, a second folder, and a
// folder layer over a folder that does not exist.
TEST_F(FindTest, SubstituteListsEachNameOnceFromTheFirstLayer) {
  auto arch = std::make_unique<FakeLayer>(FakeLayer::Options{"arch", true, true, FileSub::kArchive},
                                          dir_ / "backing", log_);
  arch->Put("x.txt", "from the archive");
  arch->Put("arch.txt", "");
  arch->Put("meshes/m.txt", "");
  arch->Put("meshes/deeper/n.txt", "");
  FakeLayer* archive = arch.get();
  ASSERT_TRUE(FileSubstList::Get().Add(PString("data"), std::move(arch)));
  dir_.WriteFile("f1/x.txt", "from the folder");
  dir_.WriteFile("f1/ARCH.TXT", "");
  dir_.WriteFile("f1/one.txt", "");
  dir_.WriteFile("f1/meshes/m.txt", "");
  dir_.WriteFile("f1/meshes/f.txt", "");
  dir_.WriteFile("f1/s.d/deep.txt", "");
  dir_.WriteFile("f2/two.txt", "22");
  dir_.WriteFile("f2/One.txt", "");
  ASSERT_TRUE(File::Subst(PString("data"), Folder("f1").c_str(), false));
  ASSERT_TRUE(File::Subst(PString("data"), Folder("f2").c_str(), true));
  ASSERT_TRUE(File::Subst(PString("data"), (dir_ / "absent/").c_str(), true));

  {
    File::Find find;
    std::vector<Found> found = All(find, find.Open("data:*.*"));
    // Layer by layer from the one added first; names compare without case.
    EXPECT_EQ(Names(found), (std::vector<std::string>{"arch.txt", "x.txt", "one.txt", "s.d", "two.txt"}));
    for (const Found& f : found) {
      const std::string name = f.entry.name;
      if (name == "x.txt") {
        EXPECT_EQ(f.entry.size2, FakeLayer::kMarker);
      } else if (name == "s.d") {
        EXPECT_EQ(f.entry.attributes, File::Entry::kFolder);
      } else if (name == "two.txt") {
        EXPECT_EQ(f.entry.size, 2u);
      }
      EXPECT_EQ(f.path, f.entry.name);
    }
    EXPECT_EQ(archive->searchesOpen(), 0);
  }
  {
    File::Find find;
    std::vector<Found> found = All(find, find.Open("data:/meshes/*.*"));
    EXPECT_EQ(Names(found), (std::vector<std::string>{"m.txt", "f.txt"}));
    ASSERT_FALSE(found.empty());
    EXPECT_EQ(found[0].path, "meshes/m.txt");
    EXPECT_EQ(found[0].entry.size2, FakeLayer::kMarker);
  }
  {
    File::Find find;
    EXPECT_EQ(Names(All(find, find.Open("*.txt", PString("data")))),
              (std::vector<std::string>{"arch.txt", "x.txt", "one.txt", "two.txt"}));
    // An open search is ended by a new one.
    ASSERT_TRUE(find.Open("data:*.txt"));
    EXPECT_EQ(archive->searchesOpen(), 1);
    ASSERT_TRUE(find.Open("data:m*/*.txt") == false);
    EXPECT_EQ(archive->searchesOpen(), 0);
  }
  File::Find none;
  EXPECT_FALSE(none.Open("data:*.none"));
  EXPECT_FALSE(none.Open("data:nothing/*.*"));
}

// A search holds the layers it has still to walk: removing the substitute
// meanwhile leaves them to the search, and they go when it is done.
TEST_F(FindTest, RemovingTheSubstituteDuringASearchKeepsItsLayers) {
  const auto destroyed = [this] { return std::count_if(log_.begin(), log_.end(), [](const std::string& line) {
                                    return line.ends_with(" destroyed");
                                  }); };
  for (const bool closeEarly : {false, true}) {
    SCOPED_TRACE(closeEarly ? "closed before the end" : "walked to the end");
    log_.clear();
    auto first = std::make_unique<FakeLayer>(FakeLayer::Options{"first"}, dir_ / "b1", log_);
    auto second = std::make_unique<FakeLayer>(FakeLayer::Options{"second"}, dir_ / "b2", log_);
    first->Put("a.txt", "");
    second->Put("b.txt", "");
    ASSERT_TRUE(FileSubstList::Get().Add(PString("data"), std::move(first)));
    ASSERT_TRUE(FileSubstList::Get().Add(PString("data"), std::move(second)));
    ASSERT_TRUE(File::Subst(PString("data"), Folder("f").c_str(), false));
    dir_.WriteFile("f/c.txt", "");

    File::Find find;
    ASSERT_TRUE(find.Open("data:*.txt"));
    EXPECT_STREQ(find.name, "a.txt");
    FileSubstList::Get().Remove(PString("data"));
    EXPECT_EQ(destroyed(), 0);
    if (!closeEarly) {
      ASSERT_TRUE(find.Next());
      EXPECT_STREQ(find.name, "b.txt");
      ASSERT_TRUE(find.Next());
      EXPECT_STREQ(find.name, "c.txt");
      EXPECT_FALSE(find.Next());
    }
    find.Close();
    EXPECT_EQ(destroyed(), 2);
  }
}

TEST_F(FindTest, UnknownSubstitutes) {
  File::Find find;
  try {
    find.Open("*.*", PString("nosuch"));
    FAIL() << "no exception";
  } catch (const Vak::FileEx& ex) {
    EXPECT_STREQ(ex.Reason(), "Open() Subst not found");
    EXPECT_STREQ(ex.File(), "Vak/Bexlorn/FileFind");
  }
  // A prefix that names no substitute is searched as a plain folder.
  EXPECT_FALSE(find.Open("nosuch:*.*"));
  File::Find empty;
  EXPECT_FALSE(empty.Next());
  EXPECT_FALSE(empty.Open(nullptr));
  EXPECT_FALSE(empty.Open(std::string(300, 'a').c_str()));
}

} // namespace
