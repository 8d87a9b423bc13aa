#include "Vak/Bexlorn/OS.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "Vak/Bexlorn/Exception.h"
#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/Log.h"
#include "Vak/Bexlorn/Options.h"
#include "Vak/Bexlorn/Rand.h"
#include "Vak/Bexlorn/Time.h"
#include "platform/os/Thread.h"
#include "tests/platform/os/TempFolder.h"

namespace {

using Vak::KernelRegistry;
using Vak::OS;
using Vak::PString;
using Vak::PredefinedStrings;
using Vak::Task;
using Vak::TaskManager;

// Whether the kernel statics had run when this file's ordinary static
// initialisers ran: they intern "/", so its node is in the cache already.
bool SlashInterned() {
  Vak::PStringCache* cache = PString::cache();
  const unsigned bucket = Vak::PStringCache::Bucket(reinterpret_cast<const unsigned char*>("/"), 1);
  cache->Lock();
  bool found = false;
  for (Vak::PStringCache::Node* n = cache->ChainHead(bucket); n; n = n->next) {
    if (std::strcmp(n->text, "/") == 0 && n->count > 0) found = true;
  }
  cache->Unlock();
  return found;
}
const bool gStaticsRanFirst = SlashInterned();

TEST(KernelStaticsTest, RunBeforeOrdinaryStaticInitialisers) {
  EXPECT_TRUE(gStaticsRanFirst);
  EXPECT_STREQ(Vak::Kernel::Slash().c_str(), "/");
  EXPECT_EQ(Vak::Kernel::Slash(), PString("/"));
  EXPECT_FALSE(Vak::Kernel::IsShutDown());
  Vak::Rand& rand = Vak::Kernel::GlobalRand();
  const int position = rand.Position();
  rand.NextInt();
  EXPECT_EQ(rand.Position(), (position + 1) % Vak::Rand::kSize);
}

std::vector<int> gRan;
template <int N>
void Record() {
  gRan.push_back(N);
}
Vak::Kernel::ExitTable* gTable = nullptr;
void RegisterMore() {
  gRan.push_back(9);
  gTable->Add(&Record<10>);
}

TEST(ExitTableTest, RunsLastRegisteredFirstAndEmpties) {
  Vak::Kernel::ExitTable table;
  gTable = &table;
  gRan.clear();
  EXPECT_FALSE(table.Add(nullptr));
  EXPECT_TRUE(table.Add(&Record<1>));
  EXPECT_TRUE(table.Add(&RegisterMore));
  EXPECT_TRUE(table.Add(&Record<2>));
  EXPECT_TRUE(table.Add(&Record<3>));
  EXPECT_EQ(table.Count(), 4u);
  table.Run();
  // A routine registered while the table runs runs next.
  EXPECT_EQ(gRan, (std::vector<int>{3, 2, 9, 10, 1}));
  EXPECT_EQ(table.Count(), 0u);
  gRan.clear();
  table.Run();
  EXPECT_TRUE(gRan.empty());
}

TEST(ExitTableTest, Holds1024Routines) {
  Vak::Kernel::ExitTable table;
  gRan.clear();
  for (unsigned i = 0; i < Vak::Kernel::ExitTable::kCapacity; ++i) ASSERT_TRUE(table.Add(i == 0 ? &Record<1> : &Record<0>));
  EXPECT_FALSE(table.Add(&Record<2>));
  EXPECT_EQ(table.Count(), 1024u);
  table.Run();
  ASSERT_EQ(gRan.size(), 1024u);
  EXPECT_EQ(gRan.back(), 1);  // the first registered runs last
  EXPECT_EQ(std::count(gRan.begin(), gRan.end(), 2), 0);
}

TEST(OSObjectTest, RecordsItsFieldsAndOwnsAnEmptyStore) {
  const char* line = "-render=OpenGL -hidewindow";
  int instance = 0, window = 0;
  OS os("Tool", line, &instance, &window);
  EXPECT_EQ(os.GetOptionLine(), line);  // kept as given, not parsed
  ASSERT_NE(os.GetOptions(), nullptr);
  EXPECT_EQ(os.GetOptions()->Count(), 0u);
  EXPECT_STREQ(os.GetAppName(), "Tool");
  EXPECT_EQ(os.GetInstance(), &instance);
  EXPECT_EQ(os.GetWindow(), &window);

  OS unnamed("", nullptr, nullptr, nullptr);
  EXPECT_STREQ(unnamed.GetAppName(), "");
  EXPECT_EQ(unnamed.GetOptionLine(), nullptr);
}

class TestTask : public Task {
public:
  TestTask(const char* name, float priority = 1.0f, bool flag = false) : Task(PString(name), priority, flag) {}
};

class OSInitTest : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(OS::Init()); }
  void TearDown() override { OS::Shutdown(); }

  static Task* Named(const char* name) {
    for (Task* t : TaskManager::Current()->Tasks()) {
      if (t->GetName() == PString(name)) return t;
    }
    return nullptr;
  }
};

TEST_F(OSInitTest, AssignsThePredefinedStringsAndShutdownReleasesThem) {
  for (unsigned i = 0; i < PredefinedStrings::kCount; ++i) {
    EXPECT_FALSE(PredefinedStrings::Get(i).IsNull()) << i;
    EXPECT_STREQ(PredefinedStrings::Get(i).c_str(), PredefinedStrings::kTexts[i]) << i;
    EXPECT_EQ(PredefinedStrings::Get(i), PString(PredefinedStrings::kTexts[i])) << i;
  }
  OS::Shutdown();
  for (unsigned i = 0; i < PredefinedStrings::kCount; ++i) EXPECT_TRUE(PredefinedStrings::Get(i).IsNull()) << i;
  ASSERT_TRUE(OS::Init());  // for TearDown
}

TEST_F(OSInitTest, MakesTheTaskMachineryAndShutdownRemovesIt) {
  TaskManager* manager = TaskManager::Current();
  ASSERT_NE(manager, nullptr);
  Task* log = Named("Log");
  ASSERT_NE(log, nullptr);
  EXPECT_NE(dynamic_cast<Vak::LogTask*>(log), nullptr);
  EXPECT_EQ(log->Priority(), 0.0f);
  EXPECT_EQ(log->Flags(), 0u);
  EXPECT_EQ(manager->Tasks(), (std::vector<Task*>{log}));
  EXPECT_EQ(manager->Awaiting(), (std::vector<Task*>{log}));
  EXPECT_EQ(manager->ActiveCount(), 0u);
  ASSERT_NE(KernelRegistry::Get(), nullptr);
  EXPECT_TRUE(KernelRegistry::Get()->live);
  for (const auto& list : KernelRegistry::Get()->lists) EXPECT_TRUE(list.empty());

  // A second Init keeps what it finds.
  ASSERT_TRUE(OS::Init());
  EXPECT_EQ(TaskManager::Current(), manager);
  EXPECT_EQ(manager->Tasks().size(), 1u);

  OS::Shutdown();
  EXPECT_EQ(TaskManager::Current(), nullptr);
  EXPECT_EQ(KernelRegistry::Get(), nullptr);
  // Building a task now is the caller's error.
  EXPECT_THROW(TestTask("Late"), Vak::Exception);
  ASSERT_TRUE(OS::Init());
}

TEST_F(OSInitTest, RecordsTheMainThreadAgain) {
  EXPECT_EQ(Vak::Kernel::MainThreadId(), platform::CurrentThreadId());
  OS::Shutdown();
  uint32_t other = 0;
  std::thread([&] {
    other = platform::CurrentThreadId();
    OS::Init();
  }).join();
  EXPECT_EQ(Vak::Kernel::MainThreadId(), other);
  OS::Shutdown();
  ASSERT_TRUE(OS::Init());
  EXPECT_EQ(Vak::Kernel::MainThreadId(), platform::CurrentThreadId());
}

TEST_F(OSInitTest, TasksRegisterAndLeaveWithTheActiveCountRule) {
  TaskManager* manager = TaskManager::Current();
  Task* log = Named("Log");
  manager->ClearOrderChanged();

  auto* a = new TestTask("A", 2.5f, true);
  auto* b = new TestTask("B");
  auto* c = new TestTask("C");
  EXPECT_TRUE(manager->OrderChanged());
  EXPECT_EQ(a->Flags(), Task::kFlagGiven);
  EXPECT_EQ(a->Priority(), 2.5f);
  EXPECT_STREQ(a->GetName().c_str(), "A");
  EXPECT_EQ(a->Manager(), manager);
  EXPECT_EQ(manager->Tasks(), (std::vector<Task*>{log, a, b, c}));
  EXPECT_EQ(manager->Awaiting(), (std::vector<Task*>{log, a, b, c}));

  EXPECT_TRUE(manager->Activate(*b));
  EXPECT_FALSE(manager->Activate(*b));  // already active
  EXPECT_TRUE(manager->Activate(*c));
  EXPECT_EQ(manager->ActiveCount(), 2u);
  EXPECT_EQ(manager->Active(), (std::vector<Task*>{b, c}));
  EXPECT_EQ(manager->Awaiting(), (std::vector<Task*>{log, a}));
  EXPECT_EQ(b->Flags(), Task::kFlagActive);

  delete a;  // not active: the count stays
  EXPECT_EQ(manager->ActiveCount(), 2u);
  EXPECT_EQ(manager->Tasks(), (std::vector<Task*>{log, b, c}));
  EXPECT_EQ(manager->Awaiting(), (std::vector<Task*>{log}));
  delete b;  // active: every list and the count
  EXPECT_EQ(manager->ActiveCount(), 1u);
  EXPECT_EQ(manager->Active(), (std::vector<Task*>{c}));
  EXPECT_EQ(manager->Tasks(), (std::vector<Task*>{log, c}));

  // A task that outlives the manager is detached and still deletes cleanly.
  OS::Shutdown();
  EXPECT_EQ(c->Manager(), nullptr);
  EXPECT_EQ(c->Flags() & Task::kFlagActive, 0u);
  delete c;
  ASSERT_TRUE(OS::Init());
}

int64_t FixedCounter() { return 5000; }

TEST_F(OSInitTest, TaskBaseSlots) {
  Vak::Time::SetClockSource(&FixedCounter, 1000);
  TestTask task("Base", 1.0f, false);
  Vak::Time::SetClockSource(nullptr, 0);
  EXPECT_EQ(task.StartTime(), 4.0);  // five seconds less one
  EXPECT_EQ(task.Step(0.5f), 0);
  task.Done();
  EXPECT_EQ(task.Flags() & Task::kFlagInitialised, 0u);
  EXPECT_TRUE(task.Init(nullptr));
  EXPECT_EQ(task.Flags(), Task::kFlagInitialised);
}

TEST_F(OSInitTest, LogTaskInitOpensTheLogFromTheOptions) {
  platform::test::TempFolder temp;
  Vak::File::Path saved;
  ASSERT_TRUE(Vak::File::GetCwd(saved));
  ASSERT_TRUE(Vak::File::ChDir(temp.Path().string().c_str()));
  const bool wasOpen = Vak::Log::IsInitialised();
  if (wasOpen) Vak::Log::Shutdown();

  OS os("", nullptr, nullptr, nullptr);
  os.GetOptions()->ProcessRaw("-LogFile=opts-test.txt");
  Task* log = Named("Log");
  ASSERT_NE(log, nullptr);
  EXPECT_TRUE(log->Init(&os));
  EXPECT_EQ(log->Flags() & Task::kFlagInitialised, Task::kFlagInitialised);
  EXPECT_TRUE(Vak::Log::IsInitialised());
  EXPECT_TRUE(temp.Has("opts-test.txt"));
  Vak::Log::Shutdown();
  EXPECT_TRUE(Vak::File::ChDir(saved));
}

} // namespace
