#include "Vak/Cindrel/Profile.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/Vak/Cindrel/FakeResources.h"

namespace fake {
namespace {

using Vak::ProfileRecord;
using Vak::ProfileScope;

ProfileRecord* Registered(const char* name) {
  for (unsigned i = 0; i < ProfileScope::RecordCount(); ++i)
    if (std::string(ProfileScope::Record(i)->name) == name) return ProfileScope::Record(i);
  return nullptr;
}

// A scope keeps its own time: what nested scopes spent is taken off it.
TEST_F(ResourceTest, ProfileScopesCountTheirOwnTime) {
  static ProfileRecord outer("test outer", __FILE__, 2);
  static ProfileRecord inner("test inner", __FILE__, 2);
  static ProfileRecord other("test other category", __FILE__, 4);
  // The records live for the process: measure what this run adds.
  const uint32_t outerCalls = outer.calls, innerCalls = inner.calls;
  const uint64_t outerTicks = outer.ticks, innerTicks = inner.ticks;
  const bool registered = outer.index >= 0;
  ProfileScope::SetMask(0);
  { ProfileScope scope(outer); }
  EXPECT_EQ(outer.calls, outerCalls);
  EXPECT_EQ(outer.index >= 0, registered);

  ProfileScope::SetMask(2);
  {
    ProfileScope a(outer);
    EXPECT_EQ(ProfileScope::Depth(), 1);
    AdvanceClockMs(1);
    {
      ProfileScope b(inner);
      EXPECT_EQ(ProfileScope::Depth(), 2);
      AdvanceClockMs(2);
      ProfileScope c(other);  // not measured: no depth, no time
      EXPECT_EQ(ProfileScope::Depth(), 2);
    }
    AdvanceClockMs(3);
  }
  EXPECT_EQ(ProfileScope::Depth(), 0);
  EXPECT_EQ(outer.calls - outerCalls, 1u);
  EXPECT_EQ(inner.calls - innerCalls, 1u);
  EXPECT_EQ(other.calls, 0u);
  EXPECT_NEAR(static_cast<double>(outer.ticks - outerTicks), 4000.0, 2.0);
  EXPECT_NEAR(static_cast<double>(inner.ticks - innerTicks), 2000.0, 2.0);
  ASSERT_GE(outer.index, 0);
  EXPECT_EQ(ProfileScope::Record(static_cast<unsigned>(outer.index.load())), &outer);
  EXPECT_EQ(Registered("test other category"), nullptr);

  ProfileScope::SetMask(Vak::ResourceSystem::kProfileCategory);
  Start(nullptr);
  system_->Update(0.0f);
  system_->Update(0.0f);
  ProfileRecord* update = Registered("ResourceSystem::Update");
  ASSERT_NE(update, nullptr);
  EXPECT_GE(update->calls, 2u);
  ProfileScope::SetMask(0);
}

} // namespace
} // namespace fake
