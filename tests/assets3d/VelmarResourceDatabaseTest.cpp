#include "assets3d/VelmarResourceDatabase.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/FileSubst.h"
#include "tests/Vak/Bexlorn/ArchiveBuilder.h"
#include "tests/platform/os/TempFolder.h"

namespace {

using platform::test::TempFolder;
using Vak::PString;

std::string Read(const std::string& name) {
  Vak::File file;
  if (!file.Open(name.c_str(), Vak::File::kRead).Ok()) return "<not opened>";
  std::string out;
  char buffer[256];
  for (unsigned long n; (n = file.Read(buffer, sizeof buffer, 1)) > 0;) out.append(buffer, n);
  return out;
}

bool Resolves(const char* name) { return Vak::File::Exists(name).Ok(); }

class VelmarResourceDatabaseTest : public ::testing::Test {
protected:
  void TearDown() override { Vak::FileSubstList::Get().Remove(PString("pkg1"), false); }
  // The same file in "pkg1.va" and in the folder "pkg1", told apart by its
  // content.
  void MakePackage(const char* file) const {
    Vak::test::ArchiveBuilder archive;
    archive.AddFile(file, "in the archive");
    archive.AddIndex();
    archive.WriteTo(root_ / "pkg1.va");
    root_.WriteFile(std::string("pkg1/") + file, "in the folder");
  }
  TempFolder root_;
};

// Both kinds mount under the database's name and unmount when it goes.
TEST_F(VelmarResourceDatabaseTest, MountsUnderItsNameUntilDeleted) {
  MakePackage("meshes/a.txt");

  struct Case {
    bool archive;
    const char* expected;
  };
  for (const Case& c : {Case{true, "in the archive"}, Case{false, "in the folder"}}) {
    SCOPED_TRACE(c.archive ? "archive" : "folder");
    auto database = std::make_unique<VelmarResourceDatabase>(c.archive, PString("pkg1"), root_.Path().c_str());
    EXPECT_EQ(database->GetName(), PString("pkg1"));
    EXPECT_EQ(database->SubstituteName(), PString("pkg1"));
    EXPECT_TRUE(Resolves("pkg1:meshes/a.txt"));
    EXPECT_EQ(Read("pkg1:meshes/a.txt"), c.expected);
    database.reset();
    EXPECT_FALSE(Vak::FileSubstList::Get().Listed(PString("pkg1")));
    EXPECT_FALSE(Resolves("pkg1:meshes/a.txt"));
  }
}

// The folder is mounted writable, the archive read-only.
TEST_F(VelmarResourceDatabaseTest, OnlyTheFolderTakesWrites) {
  MakePackage("a.txt");
  for (bool isArchive : {true, false}) {
    SCOPED_TRACE(isArchive ? "archive" : "folder");
    VelmarResourceDatabase database(isArchive, PString("pkg1"), root_.Path().c_str());
    Vak::File file;
    const bool opened = file.Open("pkg1:new.txt", Vak::File::kWrite | Vak::File::kCreate).Ok();
    if (opened) {
      file.Write("n", 1, 1);
      file.Close();
    }
    EXPECT_EQ(opened, !isArchive);
  }
  EXPECT_TRUE(root_.Has("pkg1/new.txt"));
}

class RecordingPool : public ResourceDatabasePool {
public:
  Vak::ResourceDatabase* Acquire(const PString& name) override {
    acquired.push_back(name);
    return answer;
  }
  void Release(Vak::ResourceDatabase* database) override { released.push_back(database); }

  Vak::ResourceDatabase* answer = nullptr;
  std::vector<PString> acquired;
  std::vector<Vak::ResourceDatabase*> released;
};

TEST(ResourceDatabasePoolTest, OpenAndReleaseGoThroughThePool) {
  RecordingPool pool;
  SetResourceDatabasePool(&pool);
  TempFolder root;
  root.WriteFile("pkg2/x.txt", "x");
  VelmarResourceDatabase database(false, PString("pkg2"), root.Path().c_str());
  pool.answer = &database;

  EXPECT_EQ(OpenResourceDatabase(""), nullptr);
  EXPECT_EQ(OpenResourceDatabase(nullptr), nullptr);
  EXPECT_TRUE(pool.acquired.empty()) << "an empty name never reaches the cache";

  EXPECT_EQ(OpenResourceDatabase("pkg2"), &database);
  ASSERT_EQ(pool.acquired.size(), 1u);
  EXPECT_EQ(pool.acquired[0], PString("pkg2")) << "the name is interned";
  ReleaseResourceDatabase(&database);
  EXPECT_EQ(pool.released, std::vector<Vak::ResourceDatabase*>{&database});

  SetResourceDatabasePool(nullptr);
  EXPECT_EQ(OpenResourceDatabase("pkg2"), nullptr);
}

} // namespace
