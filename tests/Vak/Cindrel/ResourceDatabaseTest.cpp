#include "Vak/Cindrel/ResourceDatabase.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "Vak/Bexlorn/File.h"
#include "Vak/Cindrel/ResourceLoader.h"
#include "tests/Vak/Cindrel/FakeResources.h"

namespace fake {
namespace {

using Vak::PString;
using Vak::Resource;
using Vak::ResourceDatabase;

TEST_F(ResourceTest, AlternativesAndMissingNames) {
  Start("-ResourceCaching=off");
  folder_.WriteFile("b.im", "x");
  TestDatabase& db = Meshes();

  Resource* b = db.Get(PString("a.im;b.im"));
  ASSERT_NE(b, nullptr);
  EXPECT_STREQ(b->GetName().c_str(), "b.im");
  EXPECT_EQ(db.Get(PString(";b.im")), b);  // an empty alternative finds nothing
  EXPECT_EQ(db.Get(PString("")), nullptr);

  // A missing name is looked for once and then remembered.
  const int asked = Ctl().onTheFly;
  EXPECT_EQ(db.Get(PString("a.im")), nullptr);
  EXPECT_EQ(Ctl().onTheFly - asked, 1);
  EXPECT_EQ(db.Get(PString("a.im")), nullptr);
  EXPECT_EQ(db.Get(PString("a.im;a.im")), nullptr);
  EXPECT_FALSE(db.Exists(PString("a.im")));
  EXPECT_EQ(Ctl().onTheFly - asked, 1);
  EXPECT_EQ(db.Misses(), 1u);

  // Alternatives found nowhere are remembered each under its own name.
  EXPECT_EQ(db.Get(PString("c.im;d.im")), nullptr);
  EXPECT_EQ(Ctl().onTheFly - asked, 3);
  EXPECT_EQ(db.Get(PString("d.im")), nullptr);
  EXPECT_EQ(db.Get(PString("c.im;b.im")), b);
  EXPECT_EQ(Ctl().onTheFly - asked, 3);

  // Flag 4: not remembered, so asked again.
  EXPECT_EQ(db.Get(PString("e.im"), ResourceDatabase::kNoRemember), nullptr);
  EXPECT_EQ(db.Get(PString("e.im"), ResourceDatabase::kNoRemember), nullptr);
  EXPECT_EQ(Ctl().onTheFly - asked, 5);

  // Exists never enters a missing name, and gives back the use it took.
  const unsigned count = db.Count();
  EXPECT_FALSE(db.Exists(PString("f.im")));
  EXPECT_EQ(db.Count(), count);
  const uint32_t uses = b->GetUseCount();
  EXPECT_TRUE(db.Exists(PString("b.im")));
  EXPECT_TRUE(db.Exists(PString("zz.im;b.im")));
  EXPECT_EQ(b->GetUseCount(), uses);
}

TEST_F(ResourceTest, FileNamesAndFileForms) {
  Start("-ResourceCaching=off");
  TestDatabase unnamed("");
  EXPECT_STREQ(unnamed.GetFileName(PString("tree.im")).c_str(), "tree.im");
  TestDatabase& db = Meshes();
  EXPECT_STREQ(db.GetFileName(PString("tree.im")).c_str(), "meshes:tree.im");

  struct Case {
    const char* file;  // written
    const char* name;  // asked for
    const char* read;  // the file the read gets
    bool text;
  };
  folder_.WriteFile("sub/inner.im", "x");
  db.AddFolder("sub");
  const std::vector<Case> cases = {
      {"Tree.IM", "Tree.IM", "meshes:Tree.IM", false},
      {"x.lm.txt", "x.lm", "meshes:x.lm.txt", true},
      {"sub/inner.im", "inner.im", "meshes:sub\\inner.im", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    folder_.WriteFile(c.file, "x");
    Resource* r = db.Get(PString(c.name));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->IsTextForm(), c.text);
    EXPECT_EQ(r->GetOwnerName(), PString("meshes"));
    ASSERT_EQ(r->Lock(), Resource::RES_OK);
    EXPECT_EQ(AsFake(r)->lastFile, c.read);
    r->Unlock();
    r->ReleaseReference();
  }
}

TEST_F(ResourceTest, GetQueuesIdleResourcesUnlessAskedNotTo) {
  Start(nullptr);
  TestDatabase& db = Meshes();
  Resource* r = db.Get(PString("flyidle.im"), ResourceDatabase::kNoQueue);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->GetState(), Resource::kIdle);
  EXPECT_EQ(system_->GetLoader()->Count(), 0u);
  EXPECT_EQ(r->GetUseCount(), 1u);
  EXPECT_EQ(r->GetLastDatabase(), &db);
  EXPECT_EQ(db.Get(PString("flyidle.im")), r);
  EXPECT_EQ(r->GetUseCount(), 2u);
  ASSERT_TRUE(WaitFor([&] { return r->GetState() == Resource::kRead; }));
  system_->Update(0.0f);
  EXPECT_EQ(r->GetState(), Resource::kReady);
  r->ReleaseReference();
  r->ReleaseReference();
}

TEST_F(ResourceTest, SearchHandleEnumeratesTheSubstitute) {
  Start(nullptr);
  for (const char* file : {"a.im", "b.im", "c.lm"}) folder_.WriteFile(file, "x");
  TestDatabase& db = Meshes();
  std::unique_ptr<ResourceDatabase::SearchHandle> handle(db.GetSearchHandle());
  EXPECT_EQ(handle->GetEntry(), nullptr);
  ASSERT_TRUE(handle->Open("*.im", &db));
  std::set<std::string> names;
  do {
    ASSERT_NE(handle->GetEntry(), nullptr);
    names.insert(handle->GetEntry()->name);
  } while (handle->Next());
  EXPECT_EQ(names, (std::set<std::string>{"a.im", "b.im"}));
  EXPECT_EQ(handle->GetEntry(), nullptr);
  handle->Close();

  TestDatabase unlisted("nosuchsubstitute");
  EXPECT_FALSE(handle->Open("*.im", &unlisted));
  EXPECT_EQ(handle->GetEntry(), nullptr);
}

// A name another database serves is entered here as a redirect; the
// redirect goes when that database goes.
TEST_F(ResourceTest, FallbackResourcesAreRedirected) {
  Start("-ResourceCaching=off");
  folder_.WriteFile("tree.im", "x");
  platform::test::TempFolder other;
  ASSERT_TRUE(Vak::File::Subst(PString("scenery"), (other.Path().string() + "/").c_str(), false));
  auto meshes = std::make_unique<TestDatabase>("meshes");
  ASSERT_TRUE(Vak::File::Subst(PString("meshes"), (folder_.Path().string() + "/").c_str(), false));
  auto scenery = std::make_unique<TestDatabase>("scenery");
  scenery->AddFallback(meshes.get());

  Resource* tree = scenery->Get(PString("tree.im"));
  ASSERT_NE(tree, nullptr);
  EXPECT_EQ(tree->GetDatabase(), meshes.get());
  EXPECT_EQ(tree->GetLastDatabase(), scenery.get());
  EXPECT_EQ(scenery->Count(), 1u);
  EXPECT_EQ(tree->DependentCount(), 1u);
  EXPECT_EQ(scenery->Get(PString("tree.im")), tree);  // through the redirect
  EXPECT_EQ(scenery->Count(), 1u);
  EXPECT_EQ(tree->GetUseCount(), 2u);
  EXPECT_TRUE(scenery->Exists(PString("tree.im")));
  ASSERT_EQ(tree->Lock(), Resource::RES_OK);
  tree->Unlock();

  meshes.reset();
  EXPECT_EQ(scenery->Count(), 0u);
  EXPECT_EQ(scenery->Get(PString("tree.im")), nullptr);
}

// Eviction hands unused resources to the bin, the most recently used first,
// at most five per call, while the excess lasts.
TEST_F(ResourceTest, EvictUnusedStopsWithTheExcess) {
  Start("-ResourceCaching=off -ResourceMemory=1000");
  TestDatabase& db = Meshes();
  std::vector<Resource*> rs;
  for (int i = 0; i < 7; ++i) {
    const std::string name = "r" + std::to_string(i) + ".im";
    folder_.WriteFile(name, "x");
    Resource* r = db.Get(PString(name.c_str()));
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(r->Lock(), Resource::RES_OK);
    r->Unlock();
    r->ReleaseReference();
    system_->Update(1.0f);  // a later last use for each
    rs.push_back(r);
  }
  int64_t excess = 3 * 1100 - 1;
  db.EvictUnused(excess);
  EXPECT_LE(excess, 0);
  for (int i = 0; i < 7; ++i) EXPECT_EQ(rs[i]->GetState(), i >= 4 ? Resource::kCached : Resource::kReady) << i;
  excess = 1000000;
  db.EvictUnused(excess);
  EXPECT_EQ(excess, 1000000 - 4 * 1100);
  for (Resource* r : rs) EXPECT_EQ(r->GetState(), Resource::kCached);
}

} // namespace
} // namespace fake
