#pragma once
// The database repair task, which the repairdatabase command runs in place on
// its own thread, and the narrow way it reaches the asset database's repair
// steps.
#include <atomic>
#include <cstdint>

#include "assetdb/VADTask.h"

class ResultsLog;

// The asset database's repair steps as the task calls them; tests put their
// own in to record the order.
class VADRepairSteps {
public:
  virtual ~VADRepairSteps() = default;
  virtual void Purge() = 0;
  virtual uint32_t RecordCount() = 0;
  virtual bool ReloadConfig(uint32_t n, bool patcher) = 0;
  virtual void ScanFolders(const std::atomic<uint8_t>* cancel, bool patcher) = 0;
  virtual bool Damaged(uint32_t n, ResultsLog* log, bool patcher) = 0;
  virtual bool Obsolete(uint32_t n) = 0;
  virtual bool Dependencies(uint32_t n) = 0;
  virtual void ResetState() = 0;
  virtual void SetFlag() = 0;
};

// The steps of the process's asset database.
VADRepairSteps& DatabaseRepairSteps();

enum VADRepairMode : int32_t { kRepairNormal = 0, kRepairExtended = 1, kRepairPatcher = 2 };

// What each mode runs beyond the reload, rescan and damaged passes.
struct VADRepairModeSteps {
  bool obsolete;
  bool dependencies;
  bool resetState;
  bool repairedFlag;
  bool consoleLine;
};
const VADRepairModeSteps& RepairModeSteps(VADRepairMode mode);
// "extended" 1, "patcher" 2, anything else 0.
VADRepairMode RepairModeFromWord(const char* word);

class VADTaskRepairDatabase : public VADTaskThread {
public:
  explicit VADTaskRepairDatabase(VADRepairMode mode, VADRepairSteps& steps = DatabaseRepairSteps());

  // Runs the repair on the calling thread, reporting to `task`; no thread is
  // started.
  void RunInPlace(VADTask& task);
  void Run() override;

  VADRepairMode Mode() const { return mode_; }
  // A repair runs in this process.
  static bool IsRunning();
  // The task of the repair that runs; null when none does.
  static VADTask* RunningTask();

private:
  bool Cancelled() const { return task->cancel.load() != 0; }
  void Step(const char* statusKey);

  VADRepairMode mode_;
  VADRepairSteps& steps_;
};

// The command: the console line, a task, the repair in place, its messages
// copied into `log`. False when the repair counted an error.
bool RunRepairDatabase(const char* modeWord, ResultsLog& log, VADRepairSteps& steps = DatabaseRepairSteps());
