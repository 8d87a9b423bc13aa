#include "Vak/Cindrel/ResourceBin.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/Vak/Cindrel/FakeResources.h"

namespace fake {
namespace {

using Vak::PString;
using Vak::Resource;
using Vak::ResourceBinCache;

TEST(ResourceBinRandomTest, MultipliesModuloTwoToThe32MinusOneWithoutOverflow) {
  struct Case {
    uint32_t state, next;
  };
  const std::vector<Case> cases = {
      {1, 16807},
      {16807, 282475249},
      {0x80000000u, 2147492051u},         // 16807 x 2^31 = 8403 x 2^32 + 2^31
      {0xFFFFFFFEu, 0xFFFFFFFFu - 16807},  // -1 x 16807
      {255546, 4294961622u},               // the quotient of Schrage's method
  };
  for (const Case& c : cases) EXPECT_EQ(ResourceBinCache::NextRandom(c.state), c.next) << c.state;

  ResourceBinCache bin;
  bin.Seed(0);  // would stay 0 for ever
  for (int i = 0; i < 1000; ++i) {
    const float value = bin.Random(2.0f);
    ASSERT_GT(value, 0.0f);
    ASSERT_LT(value, 2.0f);
  }
}

TEST(ResourceBinOptionsTest, ReadsItsOptions) {
  struct Case {
    const char* options;
    float processTime, oldest;
    unsigned maxDeleted;
  };
  const std::vector<Case> cases = {
      {nullptr, 0.5f, 10.0f, 5},
      {"", 0.5f, 10.0f, 5},
      {"-ResourceBinProcessTime=1.5 -ResourceBinOldest=20 -ResourceBinMaxDeleted=7", 1.5f, 20.0f, 7},
      {"-ResourceBinProcessTime -ResourceBinOldest=x", 0.0f, 0.0f, 5},  // empty or not a number
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options ? c.options : "(none)");
    Vak::Options options;
    if (c.options) options.ProcessRaw(c.options);
    ResourceBinCache bin;
    bin.Init(c.options ? &options : nullptr);
    EXPECT_FLOAT_EQ(bin.ProcessTime(), c.processTime);
    EXPECT_FLOAT_EQ(bin.Oldest(), c.oldest);
    EXPECT_EQ(bin.MaxDeleted(), c.maxDeleted);
  }
}

class BinTest : public ResourceTest {
protected:
  ResourceBinCache& Cache() { return *dynamic_cast<ResourceBinCache*>(system_->GetBin()); }
  // A loaded, unused resource of the database.
  Resource* Loaded(const std::string& name) {
    folder_.WriteFile(name, "x");
    Resource* r = Meshes().Get(PString(name.c_str()));
    EXPECT_NE(r, nullptr);
    EXPECT_EQ(r->Lock(), Resource::RES_OK);
    r->Unlock();
    r->ReleaseReference();
    return r;
  }
  void Bin(Resource* r) {
    Vak::SingleLock lock(&Meshes().GetLock(), true);
    system_->GetBin()->Add(r);
  }
};

TEST_F(BinTest, CachedResourceExpiresAfterItsTime) {
  Start("-ResourceCaching=off");
  Cache().Process(100.0f);
  Resource* r = Loaded("tree.im");
  Bin(r);
  EXPECT_EQ(r->GetState(), Resource::kCached);
  const float expiry = r->GetPriority();
  EXPECT_GE(expiry, 110.0f);
  EXPECT_LT(expiry, 112.0f);
  Vak::ResourceSystem::Counters& counters = system_->GetCounters();
  EXPECT_EQ(counters.inBin, 1u);
  EXPECT_EQ(counters.binBytes, 1100u);

  Cache().Process(expiry - 1.0f - 100.0f - 0.05f);  // slack 1.0 s: not yet
  EXPECT_EQ(r->GetState(), Resource::kCached);
  Cache().Process(0.6f);
  // Evicted and, unused, destroyed with its table entry.
  EXPECT_EQ(Meshes().Count(), 0u);
  EXPECT_EQ(counters.inBin, 0u);
  EXPECT_EQ(counters.binBytes, 0u);
  EXPECT_EQ(counters.resources, 0u);
  EXPECT_EQ(counters.loadedBytes, 0u);
  // Asked again, the name is made and read anew.
  Resource* again = Meshes().Get(PString("tree.im"));
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->Lock(), Resource::RES_OK);
  again->Unlock();
  again->ReleaseReference();
}

TEST_F(BinTest, EvictsAFractionOrTheMaximumPerPass) {
  struct Case {
    int cached;
    const char* options;
    float processTo;  // the bin's clock at the pass; expiries lie in [10, 12)
    int evicted;
  };
  const std::vector<Case> cases = {
      {200, "", 100.0f, 20},  // n = 20 > 5
      {30, "", 100.0f, 5},
      {30, "", 8.5f, 0},    // slack 1 s: none is close enough
      {200, "", 8.5f, 20},  // slack 4 s: the soonest 20 go early
      {30, "-ResourceBinMaxDeleted=0", 8.5f, 3},  // slack without limit
      {9, "-ResourceBinMaxDeleted=0", 100.0f, 0},  // n = 0
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.cached << " " << c.options << " " << c.processTo);
    Start(c.options);
    std::vector<FakeResource*> rs;
    for (int i = 0; i < c.cached; ++i) {
      rs.push_back(new FakeResource(PString(("c" + std::to_string(i) + ".im").c_str()), nullptr));
      rs.back()->ForceState(Resource::kReady);
      Cache().Add(rs.back());
    }
    Cache().Process(c.processTo);
    int evicted = 0;
    for (FakeResource* r : rs) evicted += r->GetState() == Resource::kDelete;
    EXPECT_EQ(evicted, c.evicted);
    EXPECT_EQ(Cache().Count(), static_cast<std::size_t>(c.cached - c.evicted));
    EXPECT_EQ(system_->GetCounters().inBin, static_cast<uint32_t>(c.cached - c.evicted));
    for (FakeResource* r : rs) {
      if (r->GetState() == Resource::kDelete) {
        EXPECT_FALSE(Cache().Holds(r));
      }
      EXPECT_EQ(r->GetReferenceCount(), 1u);  // only ours is left
      r->ReleaseHold();
    }
    EXPECT_EQ(Cache().Count(), 0u);
    EXPECT_EQ(system_->GetCounters().inBin, 0u);
    Stop();
  }
}

TEST_F(BinTest, GetAndLockTakeCachedResourcesBack) {
  Start("-ResourceCaching=off");
  Resource* r = Loaded("tree.im");
  Bin(r);
  ASSERT_EQ(r->GetState(), Resource::kCached);
  EXPECT_EQ(Meshes().Get(PString("tree.im")), r);
  EXPECT_EQ(r->GetState(), Resource::kReady);
  EXPECT_EQ(r->GetUseCount(), 1u);
  EXPECT_FALSE(Cache().Holds(r));
  EXPECT_EQ(system_->GetCounters().inBin, 0u);
  r->ReleaseReference();

  Bin(r);
  EXPECT_EQ(r->Lock(), Resource::RES_OK);  // without a Get
  EXPECT_EQ(r->GetState(), Resource::kReady);
  EXPECT_FALSE(Cache().Holds(r));
  EXPECT_EQ(AsFake(r)->loads, 1);  // never read again
  r->Unlock();
}

// The instant bin keeps nothing and leaves the totals alone.
TEST_F(BinTest, InstantBinNeverCaches) {
  Start("-ResourceCaching=off -ResourceInstantBin");
  Resource* r = Loaded("tree.im");
  Bin(r);
  int64_t excess = 1000000;
  Meshes().EvictUnused(excess);
  EXPECT_EQ(r->GetState(), Resource::kReady);
  Vak::ResourceSystem::Counters& counters = system_->GetCounters();
  EXPECT_EQ(counters.inBin, 0u);
  EXPECT_EQ(counters.binBytes, 0u);
  EXPECT_EQ(system_->InUse(), 1100);
  EXPECT_EQ(Meshes().Get(PString("tree.im")), r);
  EXPECT_EQ(AsFake(r)->loads, 1);
  r->ReleaseReference();
  system_->GetBin()->Remove(r);  // never added: nothing to take off
  EXPECT_EQ(counters.inBin, 0u);
  EXPECT_EQ(counters.binBytes, 0u);
}

} // namespace
} // namespace fake
