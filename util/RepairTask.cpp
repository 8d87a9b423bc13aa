#include "util/RepairTask.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "Vak/Bexlorn/PString.h"
#include "Vak/Bexlorn/Thread.h"
#include "assetdb/InterfaceTextDB.h"
#include "assetdb/VADLog.h"
#include "assetdb/VADRepair.h"
#include "content/ResultsLog.h"

namespace {

using Vak::PString;

std::atomic<uint8_t> gRunning{0};
std::atomic<VADTask*> gRunningTask{nullptr};

class DatabaseSteps final : public VADRepairSteps {
public:
  void Purge() override { VADRepairPurge(); }
  uint32_t RecordCount() override { return VADRecordCount(); }
  bool ReloadConfig(uint32_t n, bool patcher) override { return VADRepairReloadConfig(n, patcher); }
  void ScanFolders(const std::atomic<uint8_t>* cancel, bool patcher) override { VADRepairScanFolders(cancel, patcher); }
  bool Damaged(uint32_t n, ResultsLog* log, bool patcher) override { return VADRepairDamaged(n, log, patcher); }
  bool Obsolete(uint32_t n) override { return VADRepairObsolete(n); }
  bool Dependencies(uint32_t n) override { return VADRepairDependencies(n); }
  void ResetState() override { VADRepairResetState(); }
  void SetFlag() override { VADRepairSetFlag(); }
};

PString Text(const char* key) { return GetInterfaceString(PString(key)); }

// The divisor of a pass's progress: the record count, never 0.
float Divisor(VADRepairSteps& steps) { return static_cast<float>(std::max<uint32_t>(steps.RecordCount(), 1)); }

} // namespace

VADRepairSteps& DatabaseRepairSteps() {
  static DatabaseSteps steps;
  return steps;
}

const VADRepairModeSteps& RepairModeSteps(VADRepairMode mode) {
  // obsolete, dependencies, reset state, repaired flag, console line
  static constexpr VADRepairModeSteps kModes[] = {
      {false, true, false, true, true},
      {true, true, true, true, true},
      {false, false, false, false, false},
  };
  return kModes[mode >= kRepairNormal && mode <= kRepairPatcher ? mode : kRepairNormal];
}

VADRepairMode RepairModeFromWord(const char* word) {
  if (!word) return kRepairNormal;
  if (std::strcmp(word, "extended") == 0) return kRepairExtended;
  if (std::strcmp(word, "patcher") == 0) return kRepairPatcher;
  return kRepairNormal;
}

VADTaskRepairDatabase::VADTaskRepairDatabase(VADRepairMode mode, VADRepairSteps& steps)
    : mode_(mode), steps_(steps) {}

bool VADTaskRepairDatabase::IsRunning() { return gRunning.load() != 0; }
VADTask* VADTaskRepairDatabase::RunningTask() { return gRunningTask.load(); }

void VADTaskRepairDatabase::RunInPlace(VADTask& runFor) {
  SetRunningThreadId(Vak::Thread::GetCurrentId());
  task = &runFor;
  Run();
  SetRunningThreadId(0);
}

void VADTaskRepairDatabase::Step(const char* statusKey) { task->SetStatus(Text(statusKey).c_str()); }

void VADTaskRepairDatabase::Run() {
  task->SetTitle(Text("$vadtask_repair_title").c_str());
  uint8_t idle = 0;
  if (!gRunning.compare_exchange_strong(idle, 1)) {
    task->ReportError(Text("$vadtask_repair_err_duplicate").c_str());
    return;
  }
  gRunningTask.store(task);
  const VADRepairModeSteps& mode = RepairModeSteps(mode_);
  const bool patcher = mode_ == kRepairPatcher;
  VADLog::Entry* entry = VADLog::PostData(Text("$vad_log_repair_start").c_str());

  Step("$vadtask_repair_erasing");
  steps_.Purge();
  task->SetProgress(0.1f);

  // Once cancelled, every later step is skipped; the end entry is still
  // written.
  if (!Cancelled()) {
    Step("$vadtask_repair_deletes");
    const float n = Divisor(steps_);
    for (uint32_t i = 0; !Cancelled() && steps_.ReloadConfig(i, patcher); ++i) task->SetProgress(0.1f + 0.25f * i / n);
  }
  if (!Cancelled()) {
    Step("$vadtask_repair_adds");
    steps_.ScanFolders(&task->cancel, patcher);
    task->SetProgress(0.5f);
  }
  if (!Cancelled()) {
    Step("$vadtask_repair_changes");
    const float t = Divisor(steps_);
    for (uint32_t j = 0; !Cancelled() && steps_.Damaged(j, task, patcher); ++j) task->SetProgress(0.5f + 0.35f * j / t);
  }
  if (!Cancelled() && mode.obsolete) {
    Step("$vadtask_repair_obsolete");
    const float count = Divisor(steps_);
    for (uint32_t k = 0; !Cancelled() && steps_.Obsolete(k); ++k) task->SetProgress(0.85f + 0.1f * k / count);
  }
  if (!Cancelled() && mode.dependencies) {
    Step("$vadtask_repair_depend");
    const float count = Divisor(steps_);
    for (uint32_t k = 0; !Cancelled() && steps_.Dependencies(k); ++k) task->SetProgress(0.95f + 0.05f * k / count);
  }
  if (!Cancelled() && mode.resetState) steps_.ResetState();
  if (!Cancelled() && mode.repairedFlag) steps_.SetFlag();

  if (entry) {
    Vak::AnsiString text(Text("$vad_log_repair_end").c_str());
    Vak::AnsiString count;
    count.Setf("%d", task->GetWarningCount());
    ResultsLog::ExpandMacro(count, text, "WARN_COUNT");
    count.Setf("%d", task->GetErrorCount());
    ResultsLog::ExpandMacro(count, text, "ERROR_COUNT");
    VADLog::Instance().UpdateEntry(entry, VADLog::kKeepState, text);
  }
  gRunningTask.store(nullptr);
  gRunning.store(0);
}

bool RunRepairDatabase(const char* modeWord, ResultsLog& log, VADRepairSteps& steps) {
  const VADRepairMode mode = RepairModeFromWord(modeWord);
  if (RepairModeSteps(mode).consoleLine) {
    std::printf("Repairing asset database (this may take some time)\n");
    std::fflush(stdout);
  }
  VADTask task;
  VADTaskRepairDatabase repair(mode, steps);
  repair.RunInPlace(task);
  log = task;
  return task.GetErrorCount() == 0;
}
