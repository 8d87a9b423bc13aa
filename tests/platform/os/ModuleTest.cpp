#include "platform/os/Module.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace platform {
namespace {

TEST(ModuleTest, RunningProgramExposesLinkedSymbols) {
  for (const char* self : {static_cast<const char*>(nullptr), "*"}) {
    Module m;
    ASSERT_TRUE(m.Load(self)) << m.LastError();
    EXPECT_TRUE(m.LastError().empty());
    void* address = m.Symbol("getenv");
    EXPECT_EQ(address, reinterpret_cast<void*>(&::getenv));
    EXPECT_EQ(m.Symbol("no_such_symbol_here_at_all"), nullptr);
    EXPECT_FALSE(m.LastError().empty());
  }
}

TEST(ModuleTest, SharedObjectByPathAndFailures) {
  Module m;
  EXPECT_EQ(m.Symbol("getenv"), nullptr);  // nothing loaded
  EXPECT_FALSE(m.Load("/no/such/module.so"));
  EXPECT_FALSE(m.IsLoaded());
  EXPECT_NE(m.LastError().find("module.so"), std::string::npos) << m.LastError();

  ASSERT_TRUE(m.Load("libm.so.6")) << m.LastError();
  using Cos = double (*)(double);
  auto cosine = reinterpret_cast<Cos>(m.Symbol("cos"));
  ASSERT_NE(cosine, nullptr);
  EXPECT_EQ(cosine(0.0), 1.0);

  Module moved(std::move(m));
  EXPECT_FALSE(m.IsLoaded());
  EXPECT_TRUE(moved.IsLoaded());
  moved.Free();
  EXPECT_FALSE(moved.IsLoaded());
}

} // namespace
} // namespace platform
