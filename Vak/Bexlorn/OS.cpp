#include "Vak/Bexlorn/OS.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>

#include "Vak/Bexlorn/Alloc.h"
#include "Vak/Bexlorn/Exception.h"
#include "Vak/Bexlorn/FileSubst.h"
#include "Vak/Bexlorn/Log.h"
#include "Vak/Bexlorn/Options.h"
#include "Vak/Bexlorn/Rand.h"
#include "Vak/Bexlorn/Time.h"
#include "platform/os/Thread.h"

namespace Vak {

// --- Kernel statics ----------------------------------------------------------

namespace {

std::atomic<uint32_t> gMainThread{0};
std::atomic<bool> gShutDown{false};
// Heap objects that are never deleted: exit-time code in any order may still
// reach them.
Rand* gRand = nullptr;
PString* gSlash = nullptr;
std::atomic<TaskManager*> gTaskManager{nullptr};
LogTask* gLogTask = nullptr;
KernelRegistry* gRegistry = nullptr;

Kernel::ExitTable& Table() {
  static Kernel::ExitTable* table = new Kernel::ExitTable;
  return *table;
}

void RunTableAtExit() { Table().Run(); }

// Registered first, so it runs last. The interned-string cache outlives it on
// purpose (strings held by statics are released in an order no one controls).
void FinalRoutine() {
  gShutDown = true;
  Log::Shutdown();
}

void ReleaseSlash() { *gSlash = PString(); }

void StartUp() {
  // 1. The ANSI code page is a fixed table here, so there is no locale to
  // set. Main thread, interned-string cache, the final routine.
  gMainThread = platform::CurrentThreadId();
  PString::cache();
  Table().Add(&FinalRoutine);
  // 2. Allocator.
  Alloc::Init();
  // 3. Clock: the counter's frequency is read on first use.
  Time::GetSeconds();
  // 4. The substitution list with its lock; the process-wide "/".
  FileSubstList::Get();
  gSlash = new PString("/");
  Table().Add(&ReleaseSlash);
  // 5.
  Log::GetClient("ExceptionHandler");
  // 6. The predefined interned strings release themselves at exit (their
  // array's destructor, which runs before this table); a routine here too
  // would release them twice.
  // 7.
  gRand = new Rand;
  // Registered last so the table runs before the destructors of everything
  // built above.
  std::atexit(&RunTableAtExit);
}

// Ahead of every ordinary static initialiser of the program.
struct StaticStartUp {
  StaticStartUp() { Kernel::InitStatics(); }
};
__attribute__((init_priority(101))) StaticStartUp gStaticStartUp;

} // namespace

namespace Kernel {

bool ExitTable::Add(ExitRoutine routine) {
  std::lock_guard<std::mutex> hold(mutex_);
  if (!routine || count_ == kCapacity) return false;
  routines_[count_++] = routine;
  return true;
}

void ExitTable::Run() {
  for (;;) {
    ExitRoutine routine;
    {
      std::lock_guard<std::mutex> hold(mutex_);
      if (count_ == 0) return;
      routine = routines_[--count_];
    }
    routine();
  }
}

unsigned ExitTable::Count() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return count_;
}

void InitStatics() {
  static const bool done = (StartUp(), true);
  (void)done;
}

ExitTable& ExitRoutines() {
  InitStatics();
  return Table();
}

uint32_t MainThreadId() {
  InitStatics();
  return gMainThread;
}

bool IsShutDown() { return gShutDown; }

Rand& GlobalRand() {
  InitStatics();
  return *gRand;
}

const PString& Slash() {
  InitStatics();
  return *gSlash;
}

} // namespace Kernel

// --- Task manager --------------------------------------------------------------

namespace {

void Erase(std::vector<Task*>& list, Task* task) {
  list.erase(std::remove(list.begin(), list.end(), task), list.end());
}

} // namespace

TaskManager* TaskManager::Current() { return gTaskManager; }

void TaskManager::SetCurrent(TaskManager* manager) { gTaskManager = manager; }

TaskManager::~TaskManager() { Clear(); }

void TaskManager::Register(Task& task) {
  std::lock_guard<std::mutex> hold(mutex_);
  tasks_.push_back(&task);
  awaiting_.push_back(&task);
  orderChanged_ = true;
  task.manager_ = this;
}

void TaskManager::Unregister(Task& task) {
  std::lock_guard<std::mutex> hold(mutex_);
  Erase(tasks_, &task);
  Erase(awaiting_, &task);
  if (task.flags_ & Task::kFlagActive) {
    Erase(active_, &task);
    --activeCount_;
    task.flags_ &= ~Task::kFlagActive;
  }
  task.manager_ = nullptr;
}

bool TaskManager::Activate(Task& task) {
  std::lock_guard<std::mutex> hold(mutex_);
  auto it = std::find(awaiting_.begin(), awaiting_.end(), &task);
  if (task.manager_ != this || it == awaiting_.end()) return false;
  awaiting_.erase(it);
  active_.push_back(&task);
  ++activeCount_;
  task.flags_ |= Task::kFlagActive;
  return true;
}

void TaskManager::Clear() {
  std::lock_guard<std::mutex> hold(mutex_);
  for (Task* task : tasks_) {
    task->manager_ = nullptr;
    task->flags_ &= ~Task::kFlagActive;
  }
  tasks_.clear();
  awaiting_.clear();
  active_.clear();
  activeCount_ = 0;
}

std::vector<Task*> TaskManager::Tasks() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return tasks_;
}

std::vector<Task*> TaskManager::Awaiting() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return awaiting_;
}

std::vector<Task*> TaskManager::Active() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return active_;
}

unsigned TaskManager::ActiveCount() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return activeCount_;
}

bool TaskManager::OrderChanged() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return orderChanged_;
}

void TaskManager::ClearOrderChanged() {
  std::lock_guard<std::mutex> hold(mutex_);
  orderChanged_ = false;
}

// --- Tasks ---------------------------------------------------------------------

Task::Task(const PString& name, float priority, bool flag)
    : name_(name), startTime_(Time::GetSeconds() - 1.0), priority_(priority), flags_(flag ? kFlagGiven : 0) {
  TaskManager* manager = TaskManager::Current();
  if (!manager) throw Exception(__FILE__, __LINE__, "Task::Task> no task manager; OS::Init must run first");
  manager->Register(*this);
}

Task::~Task() {
  if (manager_) manager_->Unregister(*this);
}

PString Task::GetName() const { return name_; }

bool Task::Init(OS*) {
  SetInitialised();
  return true;
}

void Task::Done() {}

int Task::Step(float) { return 0; }

LogTask::LogTask() : Task(PString("Log"), 0.0f, false) {}

bool LogTask::Init(OS* os) {
  Log::Init(os ? os->GetOptions() : nullptr);
  SetInitialised();
  return true;
}

// --- OS ------------------------------------------------------------------------

namespace {
std::atomic<OS*> gCurrentOS{nullptr};
}

OS::OS(const char* appName, const char* optionLine, void* instance, HWND window)
    : instance_(instance), optionLine_(optionLine), options_(new Options), window_(window), appName_(appName) {
  gCurrentOS = this;
}

OS::~OS() {
  OS* self = this;
  gCurrentOS.compare_exchange_strong(self, nullptr);
  delete options_;
}

OS* OS::Current() { return gCurrentOS; }

bool OS::Init() {
  Kernel::InitStatics();
  gMainThread = platform::CurrentThreadId();
  PString::cache();
  PredefinedStrings::Assign();
  // A second Init keeps the machinery it finds rather than orphaning it.
  if (!TaskManager::Current()) {
    TaskManager::SetCurrent(new TaskManager);
    gLogTask = new LogTask;
  }
  if (!gRegistry) gRegistry = new KernelRegistry;
  return true;
}

void OS::Shutdown() {
  delete gRegistry;
  gRegistry = nullptr;
  delete gLogTask;
  gLogTask = nullptr;
  TaskManager* manager = TaskManager::Current();
  TaskManager::SetCurrent(nullptr);
  delete manager;  // empties its lists first
  PredefinedStrings::Release();
}

KernelRegistry* KernelRegistry::Get() { return gRegistry; }

} // namespace Vak
