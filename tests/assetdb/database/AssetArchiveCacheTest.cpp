#include "assetdb/AssetArchiveCache.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Vak/Bexlorn/File.h"
#include "assetdb/VADRecordConfig.h"
#include "assets3d/VelmarResourceDatabaseServices.h"
#include "tests/Vak/Bexlorn/ArchiveBuilder.h"
#include "tests/assetdb/database/IndexFixture.h"

namespace {

using Vak::PString;

// The real package databases; every entry is purged afterwards.
class AssetArchiveCacheTest : public IndexFixture {
protected:
  void TearDown() override {
    for (Vak::ResourceDatabase* database : held_) AssetArchiveCache::Release(database);
    AssetArchiveCache::Purge();
    IndexFixture::TearDown();
  }
  Vak::ResourceDatabase* Acquire(const std::string& name) {
    Vak::ResourceDatabase* database = AssetArchiveCache::Acquire(PString(name.c_str()), Root("").c_str());
    if (database) held_.push_back(database);
    return database;
  }
  void Release(Vak::ResourceDatabase* database) {
    AssetArchiveCache::Release(database);
    held_.erase(std::find(held_.begin(), held_.end(), database));
  }

  VelmarResourceDatabaseServices services_;
  std::vector<Vak::ResourceDatabase*> held_;
};

TEST_F(AssetArchiveCacheTest, OneDatabasePerNameWithAUseCount) {
  Vak::test::ArchiveBuilder archive;
  archive.AddFile("asset/config.txt", "name packed\n");
  archive.AddIndex();
  archive.WriteTo(Root("base.va"));
  root_.WriteFile("cachefolder/asset/config.txt", "name loose\n");

  Vak::ResourceDatabase* base = Acquire("base");
  ASSERT_NE(base, nullptr);
  EXPECT_TRUE(static_cast<VelmarResourceDatabase*>(base)->IsArchive());
  EXPECT_EQ(Acquire("base"), base);
  EXPECT_EQ(AssetArchiveCache::UseCount(PString("base")), 2);
  Vak::ResourceDatabase* folder = Acquire("cachefolder");
  ASSERT_NE(folder, nullptr);
  EXPECT_FALSE(static_cast<VelmarResourceDatabase*>(folder)->IsArchive());
  EXPECT_EQ(AssetArchiveCache::Acquire(PString(), Root("").c_str()), nullptr);

  // Paths through the substitutes reach the archive and the folder.
  ACSChunkPtr config;
  ASSERT_TRUE(FindConfig("asset", PString("base"), config));
  EXPECT_EQ(config.GetChildString(PString("name")), PString("packed"));
  ASSERT_TRUE(FindConfig("asset", PString("cachefolder"), config));
  EXPECT_EQ(config.GetChildString(PString("name")), PString("loose"));
  EXPECT_EQ(AssetArchiveCache::UseCount(PString("base")), 2) << "FindConfig gave its use back";

  Release(base);
  Release(base);
  EXPECT_EQ(AssetArchiveCache::UseCount(PString("base")), 0);
  EXPECT_TRUE(Vak::File::Exists("base:asset/config.txt").Ok()) << "released, still cached";
  AssetArchiveCache::Purge();
  EXPECT_EQ(AssetArchiveCache::UseCount(PString("base")), -1);
  EXPECT_FALSE(Vak::File::Exists("base:asset/config.txt").Ok()) << "purged: unmounted";
  EXPECT_EQ(AssetArchiveCache::UseCount(PString("cachefolder")), 1);
}

TEST_F(AssetArchiveCacheTest, The257thNameWaitsForARelease) {
  std::vector<Vak::ResourceDatabase*> databases;
  for (unsigned i = 0; i < AssetArchiveCache::kMaxEntries; ++i) {
    databases.push_back(Acquire("pkg" + std::to_string(i)));
    ASSERT_NE(databases.back(), nullptr) << i;
  }
  EXPECT_EQ(AssetArchiveCache::Count(), 256u);
  EXPECT_EQ(Acquire("one-too-many"), nullptr);
  EXPECT_EQ(Acquire("pkg17"), databases[17]) << "a cached name still answers";
  Release(databases[17]);
  EXPECT_EQ(Acquire("one-too-many"), nullptr) << "pkg17 still has a use";
  Release(databases[17]);
  Release(databases[200]);
  ASSERT_NE(Acquire("one-too-many"), nullptr) << "the purge made room";
  EXPECT_EQ(AssetArchiveCache::UseCount(PString("pkg17")), -1);
  EXPECT_EQ(AssetArchiveCache::UseCount(PString("pkg200")), -1);
  EXPECT_EQ(AssetArchiveCache::Count(), 255u);
}

TEST(AssetArchiveCacheNoFactoryTest, NothingOpensWithoutAFactory) {
  EXPECT_EQ(AssetArchiveCache::Acquire(PString("base"), "/nowhere"), nullptr);
  EXPECT_EQ(AssetArchiveCache::UseCount(PString("base")), -1);
}

} // namespace
