#include "assetdb/GWSpecRegistry.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace {

// What happened to the fakes, in order, one letter per event and spec.
struct Journal {
  std::string events;
};

class FakeArchive : public GWSpecArchive {
public:
  explicit FakeArchive(Journal& journal) : journal_(journal) {}
  void Release() override { journal_.events += 'R'; }

private:
  Journal& journal_;
};

// `valid` answers the validity test; `faultyOnLoad` makes the load mark the
// spec faulty, as a spec whose files cannot be read would.
class FakeSpec : public GlimmerwerkSpec {
public:
  FakeSpec(const KUID& kuid, Journal& journal, bool valid, bool faultyOnLoad = false)
      : GlimmerwerkSpec(kuid), journal_(journal), valid_(valid), faultyOnLoad_(faultyOnLoad) {}
  ~FakeSpec() override { journal_.events += 'D'; }

  void Load() override {
    journal_.events += 'L';
    GlimmerwerkSpec::Load();
    if (faultyOnLoad_) SetState(GetState() | kStateFaulty);
  }
  bool IsValid() const override {
    journal_.events += 'V';
    return valid_;
  }
  void Activate() override { journal_.events += 'A'; }

private:
  Journal& journal_;
  bool valid_;
  bool faultyOnLoad_;
};

class FakeFactory : public GWSpecFactory {
public:
  FakeFactory(const char* name, Journal& journal) : GWSpecFactory(Vak::PString(name)), journal_(journal) {}
  ~FakeFactory() override { journal_.events += 'F'; }
  GlimmerwerkSpec* Create(const KUID& kuid) override { return new FakeSpec(kuid, journal_, true); }

private:
  Journal& journal_;
};

bool Holds(const std::vector<GlimmerwerkSpec*>& list, const GlimmerwerkSpec* spec) {
  for (const GlimmerwerkSpec* item : list) {
    if (item == spec) return true;
  }
  return false;
}

class GWSpecRegistryTest : public ::testing::Test {
protected:
  void SetUp() override { registry_ = GWSpecRegistry::Create(); }
  void TearDown() override { GWSpecRegistry::Destroy(); }

  // The registry owns what it takes; a refused spec stays the caller's.
  bool AddOrKeep(std::unique_ptr<FakeSpec>& spec) {
    const bool taken = registry_->Add(spec.get());
    if (taken) spec.release();
    return taken;
  }

  GWSpecRegistry* registry_ = nullptr;
  Journal journal_;
};

TEST(GWSpecRegistryBucket, XorOfUnsignedWordsModuloTableSize) {
  struct Case {
    KUID kuid;
    unsigned expected;
  };
  const Case cases[] = {
      {KUID(0, 0, 0), 0},
      {KUID(1, 2, 3), 66},
      // A negative user id is a large unsigned word, never a negative index.
      {KUID(-3, 10, 127), 1986},
      {KUID::Null(), 96},
      // The content id's top bits are shifted out of the 32-bit word.
      {KUID(5, 0x08000000, 1), 4},
      {KUID(4093, 0, 0), 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(GWSpecRegistry::BucketOf(c.kuid), c.expected) << c.kuid.ToConfigText().c_str();
  }
}

TEST_F(GWSpecRegistryTest, SpecLandsInItsBucket) {
  const KUID kuid(-3, 10, 127);
  auto* spec = new FakeSpec(kuid, journal_, true);
  ASSERT_TRUE(registry_->Add(spec));
  EXPECT_EQ(registry_->Table().BucketCount(), GWSpecRegistry::kBucketCount);
  EXPECT_EQ(registry_->Table().BucketAt(1986).Count(), 1u);
  EXPECT_EQ(GWSpecRegistry::Find(kuid), spec);
}

TEST_F(GWSpecRegistryTest, StartsEmptyAndEveryLookupMisses) {
  EXPECT_EQ(GWSpecRegistry::Instance(), registry_);
  EXPECT_EQ(GWSpecRegistry::Create(), registry_);
  EXPECT_TRUE(registry_->ActiveSpecs().empty());
  EXPECT_TRUE(registry_->InvalidSpecs().empty());
  EXPECT_TRUE(registry_->Factories().empty());
  const KUID kuid(12, 34, 0);
  EXPECT_EQ(GWSpecRegistry::Find(kuid), nullptr);
  EXPECT_EQ(GWSpecRegistry::Get(kuid), nullptr);
  GWSpecRegistry::Refresh(kuid);
  EXPECT_EQ(GWSpecRegistry::GetChunkHandle(nullptr).Get(), nullptr);
}

TEST(GWSpecRegistryAbsent, CallsAreHarmlessWithoutARegistry) {
  ASSERT_EQ(GWSpecRegistry::Instance(), nullptr);
  EXPECT_EQ(GWSpecRegistry::Find(KUID(1, 2, 3)), nullptr);
  EXPECT_EQ(GWSpecRegistry::Get(KUID(1, 2, 3)), nullptr);
  GWSpecRegistry::Refresh(KUID(1, 2, 3));
  GWSpecRegistry::Destroy();
  Journal journal;
  { FakeFactory factory("loose", journal); }
  EXPECT_EQ(journal.events, "F");
}

TEST_F(GWSpecRegistryTest, NullKuidIsNeverHeldNorFound) {
  auto spec = std::make_unique<FakeSpec>(KUID::Null(), journal_, true);
  EXPECT_FALSE(AddOrKeep(spec));
  EXPECT_EQ(GWSpecRegistry::Find(KUID::Null()), nullptr);
  EXPECT_TRUE(registry_->ActiveSpecs().empty());
}

TEST_F(GWSpecRegistryTest, SecondSpecOfAKuidIsRefused) {
  const KUID kuid(7, 8, 9);
  auto* first = new FakeSpec(kuid, journal_, true);
  ASSERT_TRUE(registry_->Add(first));
  auto second = std::make_unique<FakeSpec>(kuid, journal_, true);
  EXPECT_FALSE(AddOrKeep(second));
  EXPECT_EQ(GWSpecRegistry::Find(kuid), first);
  EXPECT_EQ(registry_->ActiveSpecs().size(), 1u);
}

// The state before the load, what the spec answers, and what follows.
struct LoadCase {
  const char* name;
  uint8_t stateBefore;
  bool valid;
  bool faultyOnLoad;
  const char* events;   // of the first Get
  uint8_t stateAfter;
  bool usable;          // Get returns it, it stays in the table and active
};

const LoadCase kLoadCases[] = {
    {"valid", 0, true, false, "LVA", GlimmerwerkSpec::kStateValid, true},
    {"invalid", 0, false, false, "LV", 0, false},
    {"stale valid bit", GlimmerwerkSpec::kStateValid, false, false, "LV", 0, false},
    {"faulty before", GlimmerwerkSpec::kStateFaulty, true, false, "L", GlimmerwerkSpec::kStateFaulty, false},
    {"faulty and valid", GlimmerwerkSpec::kStateFaulty | GlimmerwerkSpec::kStateValid, true, false, "L",
     GlimmerwerkSpec::kStateFaulty, false},
    {"faulty from its load", 0, true, true, "L", GlimmerwerkSpec::kStateFaulty, false},
};

TEST_F(GWSpecRegistryTest, GetLoadsOnceAndKeepsOnlyUsableSpecs) {
  for (const LoadCase& c : kLoadCases) {
    SCOPED_TRACE(c.name);
    const KUID kuid(100, 200, 1);
    auto* spec = new FakeSpec(kuid, journal_, c.valid, c.faultyOnLoad);
    spec->SetState(c.stateBefore);
    ASSERT_TRUE(registry_->Add(spec));
    journal_.events.clear();

    EXPECT_EQ(GWSpecRegistry::Get(kuid), c.usable ? spec : nullptr);
    EXPECT_EQ(journal_.events, c.events);
    EXPECT_EQ(spec->GetState(), c.stateAfter);
    EXPECT_TRUE(spec->IsLoaded());
    EXPECT_TRUE(spec->IsDirty());
    EXPECT_EQ(GWSpecRegistry::Find(kuid), c.usable ? spec : nullptr);
    EXPECT_EQ(Holds(registry_->ActiveSpecs(), spec), c.usable);
    EXPECT_EQ(Holds(registry_->InvalidSpecs(), spec), !c.usable);

    // A second Get neither reloads nor moves anything.
    journal_.events.clear();
    EXPECT_EQ(GWSpecRegistry::Get(kuid), c.usable ? spec : nullptr);
    EXPECT_EQ(journal_.events, "");
    EXPECT_EQ(registry_->ActiveSpecs().size() + registry_->InvalidSpecs().size(), 1u);

    registry_->Delete(spec);
    EXPECT_TRUE(registry_->ActiveSpecs().empty());
    EXPECT_TRUE(registry_->InvalidSpecs().empty());
    EXPECT_EQ(registry_->Table().Count(), 0u);
  }
}

TEST_F(GWSpecRegistryTest, RefreshDeletesOnlyUsableSpecs) {
  for (const LoadCase& c : kLoadCases) {
    SCOPED_TRACE(c.name);
    const KUID kuid(-5, 6, 127);
    auto* spec = new FakeSpec(kuid, journal_, c.valid, c.faultyOnLoad);
    spec->SetState(c.stateBefore);
    ASSERT_TRUE(registry_->Add(spec));
    journal_.events.clear();

    GWSpecRegistry::Refresh(kuid);
    EXPECT_EQ(journal_.events, std::string(c.events) + (c.usable ? "D" : ""));
    EXPECT_EQ(GWSpecRegistry::Find(kuid), nullptr);
    EXPECT_TRUE(registry_->ActiveSpecs().empty());
    if (!c.usable) {
      EXPECT_EQ(spec->GetState(), c.stateAfter);
      EXPECT_TRUE(Holds(registry_->InvalidSpecs(), spec));
      registry_->Delete(spec);
    }
    EXPECT_TRUE(registry_->InvalidSpecs().empty());
  }
}

TEST_F(GWSpecRegistryTest, RefreshOfALoadedSpecDeletesWithoutReloading) {
  const KUID kuid(1, 1, 1);
  auto* spec = new FakeSpec(kuid, journal_, true);
  ASSERT_TRUE(registry_->Add(spec));
  ASSERT_EQ(GWSpecRegistry::Get(kuid), spec);
  journal_.events.clear();
  GWSpecRegistry::Refresh(kuid);
  EXPECT_EQ(journal_.events, "D");
  EXPECT_EQ(GWSpecRegistry::Find(kuid), nullptr);
}

TEST_F(GWSpecRegistryTest, DeleteGivesBackArchiveTextsAndConfig) {
  ACSChunkPtr config;
  config.MakeContainer();
  const int32_t before = config->ReferenceCountValue();
  Vak::PString text("spec registry text");

  auto* spec = new FakeSpec(KUID(3, 4, 5), journal_, true);
  FakeArchive archive(journal_);
  spec->SetArchive(&archive);
  spec->SetConfig(config);
  for (int i = 0; i < GlimmerwerkSpec::kTextCount; ++i) spec->SetText(i, text);
  ASSERT_TRUE(registry_->Add(spec));
  EXPECT_EQ(config->ReferenceCountValue(), before + 1);

  {
    ACSChunkPtr handle = GWSpecRegistry::GetChunkHandle(spec);
    EXPECT_EQ(handle.Get(), config.Get());
    EXPECT_EQ(config->ReferenceCountValue(), before + 2);
  }
  EXPECT_EQ(config->ReferenceCountValue(), before + 1);

  registry_->Delete(spec);
  EXPECT_EQ(journal_.events, "RD");
  EXPECT_EQ(config->ReferenceCountValue(), before);
  EXPECT_EQ(registry_->Table().Count(), 0u);
  EXPECT_TRUE(registry_->ActiveSpecs().empty());
}

TEST_F(GWSpecRegistryTest, FactoriesJoinAndLeaveTheList) {
  auto* kept = new FakeFactory("kept", journal_);
  auto* dropped = new FakeFactory("dropped", journal_);
  ASSERT_EQ(registry_->Factories().size(), 2u);
  EXPECT_EQ(registry_->Factories()[0], kept);
  EXPECT_EQ(registry_->Factories()[0]->GetName(), Vak::PString("kept"));
  delete dropped;
  ASSERT_EQ(registry_->Factories().size(), 1u);
  EXPECT_EQ(registry_->Factories()[0], kept);

  GlimmerwerkSpec* made = kept->Create(KUID(9, 9, 9));
  EXPECT_TRUE(registry_->Add(made));
  EXPECT_EQ(GWSpecRegistry::Get(KUID(9, 9, 9)), made);
}

TEST(GWSpecRegistryShutdown, DestroyDeletesEverySpecAndFactory) {
  Journal journal;
  GWSpecRegistry* registry = GWSpecRegistry::Create();
  FakeArchive archive(journal);
  auto* active = new FakeSpec(KUID(1, 2, 0), journal, true);
  auto* invalid = new FakeSpec(KUID(-1, 2, 127), journal, false);
  active->SetArchive(&archive);
  ASSERT_TRUE(registry->Add(active));
  ASSERT_TRUE(registry->Add(invalid));
  ASSERT_EQ(GWSpecRegistry::Get(KUID(-1, 2, 127)), nullptr);
  ASSERT_EQ(registry->InvalidSpecs().size(), 1u);
  new FakeFactory("owned", journal);
  journal.events.clear();

  GWSpecRegistry::Destroy();
  EXPECT_EQ(GWSpecRegistry::Instance(), nullptr);
  EXPECT_EQ(journal.events, "RDDF");
  GWSpecRegistry::Destroy();

  // A fresh registry starts empty.
  registry = GWSpecRegistry::Create();
  EXPECT_TRUE(registry->ActiveSpecs().empty());
  EXPECT_TRUE(registry->Factories().empty());
  EXPECT_EQ(GWSpecRegistry::Find(KUID(1, 2, 0)), nullptr);
  GWSpecRegistry::Destroy();
}

} // namespace
