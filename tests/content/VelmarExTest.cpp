#include <gtest/gtest.h>

#include "LogCapture.h"

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "Vak/Bexlorn/Log.h"
#include "Vak/Bexlorn/Sync.h"
#include "content/AppGlobals.h"
#include "content/VelmarEx.h"

namespace {

using content::test::LogCapture;

TEST(VelmarExTest, LogThrowWritesTheLineAndThrowsWithTheSameText) {
  LogCapture log;
  try {
    VelmarLogThrow("Bad %s", "x");
    FAIL() << "VelmarLogThrow returned";
  } catch (const VelmarEx& e) {
    EXPECT_STREQ(e.Reason(), "Bad x");
    EXPECT_EQ(e.Line(), 53);
    EXPECT_STREQ(e.File(), ".\\VelmarLog");
    EXPECT_STREQ(e.ClassName(), "Velmar Error");
    EXPECT_FALSE(e.IsHardwareException());
  }
  const std::string text = log.Text();
  EXPECT_NE(text.find("Bad x"), std::string::npos) << text;
  EXPECT_NE(text.find("Velmar"), std::string::npos) << "the line goes through the client \"Velmar\": " << text;
}

TEST(VelmarExTest, CaughtAsAnEngineException) {
  LogCapture log;
  try {
    VelmarLogThrow("code %d", 7);
  } catch (const Vak::Exception& e) {
    EXPECT_STREQ(e.ClassName(), "Velmar Error");
    EXPECT_STREQ(e.Reason(), "code 7");
  }
}

TEST(VelmarExTest, LogErrorWritesWithoutThrowing) {
  LogCapture log;
  EXPECT_NO_THROW(VelmarLogError("missing %s in %d", "file", 3));
  EXPECT_NE(log.Text().find("missing file in 3"), std::string::npos) << log.Text();

  // A message longer than the exception's reason area reaches the log whole.
  const std::string longText(600, 'a');
  try {
    VelmarLogThrow("%s", longText.c_str());
  } catch (const VelmarEx& e) {
    EXPECT_EQ(std::string(e.Reason()), longText.substr(0, Vak::Exception::kReasonSize - 1));
  }
  EXPECT_NE(log.Text().find(longText), std::string::npos);
}

TEST(VelmarExTest, CopiesAnEngineException) {
  Vak::Exception engine("src.cpp", 12, "why");
  VelmarEx e(engine);
  EXPECT_STREQ(e.Reason(), "why");
  EXPECT_EQ(e.Line(), 12);
  EXPECT_STREQ(e.File(), "src.cpp");
  EXPECT_STREQ(e.Description(), engine.Description());
  EXPECT_STREQ(e.ClassName(), "Velmar Error");
}

TEST(AppGlobalsTest, MainThreadIsTheOneThatSetItLast) {
  SetMainThread();
  EXPECT_TRUE(IsMainThread());
  const uint32_t mainId = GetMainThreadId();
  bool workerIsMain = true;
  std::thread([&] { workerIsMain = IsMainThread(); }).join();
  EXPECT_FALSE(workerIsMain);

  uint32_t workerId = 0;
  std::thread([&] {
    SetProgramName("VelmarUtil");
    workerId = GetMainThreadId();
  }).join();
  EXPECT_NE(workerId, mainId);
  EXPECT_FALSE(IsMainThread());
  SetMainThread();
  EXPECT_TRUE(IsMainThread());
  EXPECT_EQ(GetMainThreadId(), mainId);
}

TEST(AppGlobalsTest, BuildNumberUnderTheLock) {
  const uint32_t saved = GetBuildNumber();
  SetBuildNumber(38841);
  EXPECT_EQ(GetBuildNumber(), 38841u);
  // The reader's raise-to-the-larger step holds the lock across read and write.
  std::vector<std::thread> threads;
  for (uint32_t t = 1; t <= 8; ++t) {
    threads.emplace_back([t] {
      for (uint32_t i = 0; i < 1000; ++i) {
        Vak::SingleLock guard(&AppGlobalsLock(), true);
        const uint32_t candidate = 40000 + t * 1000 + i;
        if (candidate > GetBuildNumber()) SetBuildNumber(candidate);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(GetBuildNumber(), 40000u + 8 * 1000 + 999);
  SetBuildNumber(saved);
}

TEST(AppGlobalsTest, StartupEventStaysSignalled) {
  SignalStartupEvent();
  EXPECT_TRUE(IsStartupSignalled());
  EXPECT_TRUE(StartupEvent().Lock(0));
  EXPECT_TRUE(StartupEvent().Lock(0)) << "manual reset: every waiter sees it";
}

TEST(AppGlobalsTest, SharedEmptyStringsAndGenerator) {
  EXPECT_TRUE(EmptyPString().IsNull());
  EXPECT_EQ(&EmptyPString(), &EmptyPString());
  EXPECT_EQ(EmptyString().Size(), 0u);
  for (int i = 0; i < 1000; ++i) {
    const int v = SharedRandNextInt(0, 35);
    ASSERT_GE(v, 0);
    ASSERT_LE(v, 35);
  }
}

TEST(AppGlobalsTest, DatabaseRootPathDropsItsTrailingSeparator) {
  const Vak::File::Path saved = GetDatabaseRootPath();
  EXPECT_TRUE(SetDatabaseRootPath("/data/velmar/"));
  EXPECT_STREQ(GetDatabaseRootPath(), "/data/velmar");
  EXPECT_TRUE(SetDatabaseRootPath("C:\\velmar\\"));
  EXPECT_STREQ(GetDatabaseRootPath(), "C:\\velmar");
  EXPECT_TRUE(SetDatabaseRootPath("/"));
  EXPECT_STREQ(GetDatabaseRootPath(), "/");
  EXPECT_FALSE(SetDatabaseRootPath(std::string(300, 'a').c_str()));
  EXPECT_STREQ(GetDatabaseRootPath(), "/");
  SetDatabaseRootPath(saved);
}

TEST(AppGlobalsTest, InDatabaseRootJoinsUnderTheRootOrGivesNothing) {
  const Vak::File::Path saved = GetDatabaseRootPath();
  struct Case {
    const char* root;
    const char* relative;
    const char* expected;
  };
  const std::string deep = "/" + std::string(250, 'r');
  const std::vector<Case> cases = {
      {"/data/velmar", "assets.tdx", "/data/velmar/assets.tdx"},
      {"/data/velmar/", "cache/assets.bku", "/data/velmar/cache/assets.bku"},
      {"/data/velmar", "", "/data/velmar/"},  // the root as a folder
      {"/data/velmar", "scripts/", "/data/velmar/scripts/"},
      {"/data/velmar", "\\local", "/data/velmar/local"},
      {"/", "local", "/local"},
      {"", "local", ""},  // no root: nothing, never a path in the current folder
      {deep.c_str(), "a-name-too-long-for-the-field", ""},
  };
  for (const Case& c : cases) {
    SetDatabaseRootPath(c.root);
    EXPECT_STREQ(InDatabaseRoot(c.relative), c.expected) << "'" << c.root << "' + '" << c.relative << "'";
  }
  SetDatabaseRootPath(saved);
}

} // namespace
