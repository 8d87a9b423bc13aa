#pragma once
// Kernel start-up and shutdown, the application object and the kernel's tasks.
//
// Start-up order. Kernel::InitStatics runs the kernel's static preparation
// once, in a fixed order, whatever order the linker gives the translation
// units: it runs from an initialiser of priority 101 in OS.cpp (before every
// ordinary static initialiser of the program, in any translation unit) and
// again, as a no-op, from every entry point that needs it (OS::Init,
// Kernel::ExitRoutines, ...), guarded by a function-local static. Services that
// static initialisers of other files may use before it (strings, interned
// strings, the allocator, the clock, log clients) set themselves up on first
// use, so they are safe either way.
//
// Shutdown order. The kernel exit table runs once at process exit, last
// registered first; the kernel's final routine, registered first, runs last.
#include <cstdint>
#include <mutex>
#include <vector>

#include "Vak/Bexlorn/PString.h"
#include "Vak/Bexlorn/String.h"

namespace Vak {

class Options;
class Rand;

// Window handle of the application object (no windows here: kept, not used).
using HWND = void*;

namespace Kernel {

using ExitRoutine = void (*)();

// Up to 1024 routines run last registered first.
class ExitTable {
public:
  static constexpr unsigned kCapacity = 1024;

  ExitTable() = default;
  ExitTable(const ExitTable&) = delete;
  ExitTable& operator=(const ExitTable&) = delete;

  // False (nothing kept) for null or when the table is full.
  bool Add(ExitRoutine routine);
  // Runs the routines, last registered first, and empties the table; a
  // routine that registers another has it run in turn.
  void Run();
  unsigned Count() const;

private:
  mutable std::mutex mutex_;
  ExitRoutine routines_[kCapacity] = {};
  unsigned count_ = 0;
};

// The kernel's static preparation (see the top of this file); safe to call
// any number of times from any thread.
void InitStatics();
// The kernel exit table, which the process runs at exit.
ExitTable& ExitRoutines();
// The thread that prepared the kernel, or last ran OS::Init.
uint32_t MainThreadId();
// Set by the kernel's final exit routine.
bool IsShutDown();
// The global random generator (lives until the process ends).
Rand& GlobalRand();
// The process-wide interned string "/" (null once the exit table has run).
const PString& Slash();

} // namespace Kernel

class Task;

// Keeps the kernel's tasks: every task, the tasks awaiting their start, and
// the active ones. Running them is the caller's business.
class TaskManager {
public:
  // The current manager (made by OS::Init), or null.
  static TaskManager* Current();

  TaskManager() = default;
  // Detaches the tasks still registered; they live on without a manager.
  ~TaskManager();
  TaskManager(const TaskManager&) = delete;
  TaskManager& operator=(const TaskManager&) = delete;

  // Moves a registered task from the awaiting list to the active list.
  // False when it is not awaiting its start here.
  bool Activate(Task& task);

  std::vector<Task*> Tasks() const;
  std::vector<Task*> Awaiting() const;
  std::vector<Task*> Active() const;
  unsigned ActiveCount() const;
  bool OrderChanged() const;
  void ClearOrderChanged();

private:
  friend class Task;
  friend class OS;
  static void SetCurrent(TaskManager* manager);
  void Register(Task& task);
  void Unregister(Task& task);
  // Empties every list, detaching the tasks.
  void Clear();

  mutable std::mutex mutex_;
  std::vector<Task*> tasks_;
  std::vector<Task*> awaiting_;
  std::vector<Task*> active_;
  unsigned activeCount_ = 0;
  bool orderChanged_ = false;
};

class OS;

// Base of the kernel's tasks; it registers with the current task manager
// when built and leaves it when destroyed.
class Task {
public:
  static constexpr uint32_t kFlagGiven = 1;
  static constexpr uint32_t kFlagActive = 2;
  static constexpr uint32_t kFlagInitialised = 4;

  // Throws Vak::Exception when no task manager exists (OS::Init first).
  Task(const PString& name, float priority, bool flag);
  virtual ~Task();
  Task(const Task&) = delete;
  Task& operator=(const Task&) = delete;

  virtual PString GetName() const;
  // Sets the initialised flag and succeeds.
  virtual bool Init(OS* os);
  virtual void Done();
  // One step of dt seconds; the base does nothing and returns 0.
  virtual int Step(float dt);

  float Priority() const { return priority_; }
  // Time::GetSeconds at construction, less one second.
  double StartTime() const { return startTime_; }
  uint32_t Flags() const { return flags_; }
  TaskManager* Manager() const { return manager_; }

protected:
  void SetInitialised() { flags_ |= kFlagInitialised; }

private:
  friend class TaskManager;

  PString name_;
  double startTime_;
  float priority_;
  uint32_t flags_;
  TaskManager* manager_ = nullptr;
};

// Opens the log when started.
class LogTask : public Task {
public:
  LogTask();
  bool Init(OS* os) override;
};

// The application object: it owns the options store.
class OS {
public:
  // Keeps the option line as given; the store starts empty.
  OS(const char* appName, const char* optionLine, void* instance, HWND window);
  ~OS();
  OS(const OS&) = delete;
  OS& operator=(const OS&) = delete;

  // The application object most recently built and still alive, or null.
  static OS* Current();

  Options* GetOptions() const { return options_; }
  const char* GetOptionLine() const { return optionLine_; }
  const String& GetAppName() const { return appName_; }
  void* GetInstance() const { return instance_; }
  HWND GetWindow() const { return window_; }

  // Kernel start-up: predefined interned strings, the task manager and the
  // log task, the kernel registry. Returns true.
  static bool Init();
  // Takes the task machinery down and releases the predefined strings.
  static void Shutdown();

private:
  void* instance_;
  [[maybe_unused]] uint32_t reserved_ = 0;
  const char* optionLine_;
  Options* options_;
  HWND window_;
  String appName_;
};

// The kernel registry object: three lists for services outside the kernel.
struct KernelRegistry {
  bool live = true;
  std::vector<void*> lists[3];

  // The object made by OS::Init, or null.
  static KernelRegistry* Get();
};

} // namespace Vak
