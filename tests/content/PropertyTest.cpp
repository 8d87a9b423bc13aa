#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "content/ReferenceCountMP.h"
#include "content/VelmarProperty.h"

namespace {

// Counts live objects so tests see exactly when the last release deletes.
class Counted : public ReferenceCountMP {
public:
  explicit Counted(std::atomic<int>& live) : live_(live) { ++live_; }
  ~Counted() override { --live_; }

private:
  std::atomic<int>& live_;
};

TEST(MPHandleTest, CountsFollowCopiesAndTheLastReleaseDeletes) {
  std::atomic<int> live{0};
  Counted* object = new Counted(live);
  {
    MPHandle a(object);
    EXPECT_EQ(object->ReferenceCountValue(), 1);
    {
      MPHandle b(a);
      MPHandle c;
      c = b;
      EXPECT_EQ(object->ReferenceCountValue(), 3);
      EXPECT_EQ(c.Get(), object);
    }
    EXPECT_EQ(object->ReferenceCountValue(), 1);
    EXPECT_EQ(live, 1);
  }
  EXPECT_EQ(live, 0);

  MPHandle empty;
  MPHandle copy(empty);
  EXPECT_FALSE(copy);
  copy = empty;
  copy.Reset();
  EXPECT_FALSE(copy);
}

TEST(MPHandleTest, SelfAssignmentKeepsTheObjectAndItsCount) {
  std::atomic<int> live{0};
  MPHandle a(new Counted(live));
  MPHandle& alias = a;
  a = alias;
  EXPECT_EQ(live, 1);
  ASSERT_TRUE(a);
  EXPECT_EQ(a->ReferenceCountValue(), 1);

  a = std::move(alias);
  EXPECT_EQ(live, 1);
  EXPECT_EQ(a->ReferenceCountValue(), 1);
}

TEST(MPHandleTest, AssigningReleasesTheOldObject) {
  std::atomic<int> live{0};
  MPHandle a(new Counted(live));
  MPHandle b(new Counted(live));
  EXPECT_EQ(live, 2);
  a = b;
  EXPECT_EQ(live, 1);
  EXPECT_EQ(a, b);
  EXPECT_EQ(a->ReferenceCountValue(), 2);
  MPHandle moved(std::move(a));
  EXPECT_FALSE(a);
  EXPECT_EQ(moved->ReferenceCountValue(), 2);
  moved = MPHandle();
  b.Reset();
  EXPECT_EQ(live, 0);
}

TEST(MPHandleTest, ThreadsCopyingAndReleasingHandles) {
  std::atomic<int> live{0};
  MPHandle shared(new Counted(live));
  ReferenceCountMP* object = shared.Get();
  constexpr int kThreads = 8;
  constexpr int kRounds = 20000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&shared] {
      for (int i = 0; i < kRounds; ++i) {
        MPHandle copy(shared);
        MPHandle other;
        other = copy;
        copy = other;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(object->ReferenceCountValue(), 1);
  EXPECT_EQ(live, 1);

  // The last reference may be dropped on any thread.
  std::vector<MPHandle> handles(kThreads, shared);
  shared.Reset();
  threads.clear();
  for (MPHandle& handle : handles) threads.emplace_back([&handle] { handle.Reset(); });
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(live, 0);
}

TEST(VelmarPropertyTest, AssetIdStartsWithOneReferenceAndKeepsItsFields) {
  auto* property = new VelmarPropertyAssetID(Vak::PString("asset"), 100, 200, 3);
  EXPECT_EQ(property->ReferenceCountValue(), 1);
  EXPECT_EQ(property->GetName(), Vak::PString("asset"));
  EXPECT_EQ(property->GetKUID(), KUID(100, 200, 3));
  // Stored unchanged, even when it is no valid KUID.
  auto* odd = new VelmarPropertyAssetID(Vak::PString("odd"), 5, 6, 300);
  EXPECT_EQ(odd->GetKUID(), KUID(5, 6, 300));
  EXPECT_TRUE(odd->ReleaseReference());

  EXPECT_EQ(property->AddReference(), property);
  EXPECT_EQ(property->ReferenceCountValue(), 2);
  EXPECT_FALSE(property->ReleaseReference());
  EXPECT_TRUE(property->ReleaseReference());
}

TEST(VelmarPropertyTest, ValueTextRoundTrips) {
  struct Case {
    const char* text;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {"<kuid2:100:200:3>", "<kuid2:100:200:3>"},
      {"<kuid:100:200>", "<kuid:100:200>"},
      {"100:200", "<kuid:100:200>"},  // the lenient parser takes the bare form
      {"<100:200>", "<kuid:100:200>"},
      {"<KUID2:5:6:127>", "<kuid2:5:6:127>"},
      {"<kuid:-5:6>", "<kuid:-5:6>"},
      {"not a kuid", "<NULL>"},
      {"", "<NULL>"},
      {"<kuid2:100:200:300>", "<NULL>"},
      {"<NULL>", "<NULL>"},
  };
  auto* property = new VelmarPropertyAssetID(Vak::PString("asset"), 1, 2, 0);
  VelmarPropertyPtr ptr;
  ptr.Attach(property);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    ptr->SetValueText(c.text);
    Vak::PString out;
    ptr.GetValueText(out);
    EXPECT_STREQ(out.c_str(), c.expected);
  }
  ptr->SetValueText(nullptr);
  EXPECT_TRUE(property->GetKUID().IsNull());
}

TEST(VelmarPropertyTest, PointerReferences) {
  auto* property = new VelmarPropertyAssetID(Vak::PString("asset"), 1, 2, 0);
  {
    VelmarPropertyPtr a(property);  // takes its own reference
    EXPECT_EQ(property->ReferenceCountValue(), 2);
    VelmarPropertyPtr b(a);
    VelmarPropertyPtr c;
    c = b;
    VelmarPropertyPtr& alias = c;
    c = alias;
    EXPECT_EQ(property->ReferenceCountValue(), 4);
    VelmarPropertyPtr d(std::move(c));
    EXPECT_FALSE(c);
    EXPECT_EQ(property->ReferenceCountValue(), 4);
    VelmarProperty* raw = d.Detach();  // no release
    EXPECT_EQ(property->ReferenceCountValue(), 4);
    d.Attach(raw);                     // no new reference
    EXPECT_EQ(property->ReferenceCountValue(), 4);
    // Attaching what is already held drops the extra reference.
    d.Attach(property->AddReference());
    EXPECT_EQ(property->ReferenceCountValue(), 4);
    EXPECT_FALSE(d.Release());
    EXPECT_FALSE(d);
  }
  EXPECT_EQ(property->ReferenceCountValue(), 1);
  VelmarPropertyPtr last;
  last.Attach(property);
  EXPECT_TRUE(last.Release()) << "the creator's reference was the last one";
  EXPECT_FALSE(last.Release());
}

TEST(VelmarPropertyTest, NullPointerGivesTheEmptyText) {
  VelmarPropertyPtr null(nullptr);
  EXPECT_FALSE(null);
  Vak::PString out("previous");
  null.GetValueText(out);
  EXPECT_TRUE(out.IsNull());
  EXPECT_EQ(out.Length(), 0u);
  EXPECT_FALSE(null.Release());
}

TEST(VelmarPropertyTest, ThreadsSharingAProperty) {
  auto* property = new VelmarPropertyAssetID(Vak::PString("asset"), 1, 2, 0);
  VelmarPropertyPtr shared;
  shared.Attach(property);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&shared] {
      for (int i = 0; i < 10000; ++i) {
        VelmarPropertyPtr copy(shared);
        VelmarPropertyPtr other;
        other = copy;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(property->ReferenceCountValue(), 1);
}

} // namespace
