// The repair task over recorded steps: their order per mode, cancelling,
// refusing a second run, the progress bands and the database log's entries.
#include "util/RepairTask.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/FileSubst.h"
#include "assetdb/InterfaceTextDB.h"
#include "assetdb/SharedLock.h"
#include "assetdb/VADLog.h"
#include "content/ResultsLog.h"
#include "tests/platform/os/TempFolder.h"
#include "tests/util/frontend/PrintedLog.h"

namespace {

using Vak::PString;

// Steps that record each call and the progress the task showed then. The
// per-record passes see `records` records, though RecordCount may say
// otherwise.
class RecordedSteps : public VADRepairSteps {
public:
  void Purge() override { Call("purge"); }
  uint32_t RecordCount() override {
    Call("count");
    return count;
  }
  bool ReloadConfig(uint32_t n, bool patcher) override { return PerRecord("reload", n, patcher); }
  void ScanFolders(const std::atomic<uint8_t>* cancel, bool patcher) override {
    EXPECT_EQ(cancel, &Task()->cancel);
    Call(patcher ? "scan p" : "scan");
  }
  bool Damaged(uint32_t n, ResultsLog* log, bool patcher) override {
    EXPECT_EQ(log, Task());
    if (n < records) {
      for (int i = 0; i < warningsPerRecord; ++i) log->AddMessage(ResultsLog::kWarning, nullptr, "changed");
      for (int i = 0; i < errorsPerRecord; ++i) log->AddMessage(ResultsLog::kError, nullptr, "damaged");
    }
    return PerRecord("damaged", n, patcher);
  }
  bool Obsolete(uint32_t n) override { return PerRecord("obsolete", n, false); }
  bool Dependencies(uint32_t n) override { return PerRecord("depend", n, false); }
  void ResetState() override { Call("reset"); }
  void SetFlag() override { Call("flag"); }

  static VADTask* Task() { return VADTaskRepairDatabase::RunningTask(); }

  uint32_t count = 2;
  uint32_t records = 2;
  int warningsPerRecord = 0;
  int errorsPerRecord = 0;
  std::string cancelAt;
  std::string nestedAt;  // runs a second repair from inside this call
  bool nestedResult = true;
  std::string nestedLog;
  std::vector<std::string> calls;
  std::vector<float> progress;

private:
  bool PerRecord(const char* name, uint32_t n, bool patcher) {
    Call(std::string(name) + " " + std::to_string(n) + (patcher ? " p" : ""));
    return n < records;
  }
  void Call(const std::string& name) {
    calls.push_back(name);
    ASSERT_NE(Task(), nullptr) << name;
    progress.push_back(Task()->GetProgress());
    if (name == cancelAt) Task()->cancel.store(1);
    if (name == nestedAt) {
      ResultsLog log;
      nestedResult = RunRepairDatabase("", log, *this);
      nestedLog = PrintedLog(log);
    }
  }
};

// "name 0", "name 1", ... up to the call past the last record.
std::vector<std::string> Pass(const std::string& name, int records, const char* suffix = "") {
  std::vector<std::string> calls;
  for (int i = 0; i <= records; ++i) calls.push_back(name + " " + std::to_string(i) + suffix);
  return calls;
}

std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// The interface texts of the repair, from a folder mounted as "data".
class RepairTaskTest : public ::testing::Test {
protected:
  void SetUp() override {
    folder_.WriteFile("interfacetext.txt",
                      "$vadtask_repair_title \"Repair\"\r\n"
                      "$vadtask_repair_err_duplicate \"Already repairing\"\r\n"
                      "$vad_log_repair_start \"Repair started\"\r\n"
                      "$vad_log_repair_end \"Repair ended: $(WARN_COUNT) warnings, $(ERROR_COUNT) errors\"\r\n"
                      "$vadtask_repair_depend \"Dependencies\"\r\n");
    ASSERT_TRUE(Vak::File::Subst(PString("data"), (folder_.Path().string() + "/").c_str(), false));
    Reload();
  }
  void TearDown() override {
    Vak::FileSubstList::Get().Remove(PString("data"), false);
    Reload();
  }
  static void Reload() {
    InterfaceTextDB::Lock().Acquire(true, -1);
    InterfaceTextDB::Instance().Load();
    InterfaceTextDB::Lock().Release();
  }

  // The texts of the database log's open entries that begin with `prefix`.
  static std::vector<std::string> LogEntries(const std::string& prefix) {
    std::vector<std::string> texts;
    VADLog& log = VADLog::Instance();
    log.LockLog();
    for (const VADLog::Entry* entry : log.ActiveList()) {
      const std::string text(entry->text.Size() ? static_cast<const char*>(entry->text) : "");
      if (text.rfind(prefix, 0) == 0) texts.push_back(text);
    }
    log.UnlockLog();
    return texts;
  }

  platform::test::TempFolder folder_;
  RecordedSteps steps_;
};

TEST_F(RepairTaskTest, EachModeRunsItsStepsInOrder) {
  const auto head = [](const char* patcher) {
    return Join({{"purge", "count"}, Pass("reload", 2, patcher), {std::string("scan") + (*patcher ? " p" : ""), "count"},
                 Pass("damaged", 2, patcher)});
  };
  struct Case {
    const char* word;
    std::vector<std::string> calls;
  };
  const Case cases[] = {
      {"", Join({head(""), {"count"}, Pass("depend", 2), {"flag"}})},
      {"anything", Join({head(""), {"count"}, Pass("depend", 2), {"flag"}})},
      {"extended", Join({head(""), {"count"}, Pass("obsolete", 2), {"count"}, Pass("depend", 2), {"reset", "flag"}})},
      {"patcher", head(" p")},
  };
  for (const Case& c : cases) {
    RecordedSteps steps;
    ResultsLog log;
    EXPECT_TRUE(RunRepairDatabase(c.word, log, steps)) << c.word;
    EXPECT_EQ(steps.calls, c.calls) << c.word;
    // The progress never goes back and stays within its bounds.
    for (std::size_t i = 1; i < steps.progress.size(); ++i) EXPECT_GE(steps.progress[i], steps.progress[i - 1]) << i;
    EXPECT_LE(steps.progress.back(), 1.0f);
  }
  EXPECT_FALSE(VADTaskRepairDatabase::IsRunning());
  EXPECT_EQ(VADTaskRepairDatabase::RunningTask(), nullptr);
}

TEST_F(RepairTaskTest, ModeTable) {
  EXPECT_EQ(RepairModeFromWord(nullptr), kRepairNormal);
  EXPECT_EQ(RepairModeFromWord("extended"), kRepairExtended);
  EXPECT_EQ(RepairModeFromWord("patcher"), kRepairPatcher);
  EXPECT_EQ(RepairModeFromWord("Patcher"), kRepairNormal);
  EXPECT_TRUE(RepairModeSteps(kRepairNormal).consoleLine);
  EXPECT_TRUE(RepairModeSteps(kRepairExtended).consoleLine);
  EXPECT_FALSE(RepairModeSteps(kRepairPatcher).consoleLine);
}

TEST_F(RepairTaskTest, ACancelSkipsTheRestAndStillWritesTheEndEntry) {
  const std::vector<std::string> full =
      Join({{"purge", "count"}, Pass("reload", 2), {"scan", "count"}, Pass("damaged", 2), {"count"},
            Pass("obsolete", 2), {"count"}, Pass("depend", 2), {"reset", "flag"}});
  for (const char* at : {"purge", "reload 0", "reload 1", "scan", "damaged 0", "obsolete 1", "depend 0", "reset"}) {
    const std::size_t endsBefore = LogEntries("Repair ended").size();
    RecordedSteps steps;
    steps.cancelAt = at;
    ResultsLog log;
    EXPECT_TRUE(RunRepairDatabase("extended", log, steps)) << at;
    std::vector<std::string> expected;
    for (const std::string& call : full) {
      expected.push_back(call);
      if (call == at) break;
    }
    EXPECT_EQ(steps.calls, expected) << at;
    EXPECT_EQ(LogEntries("Repair ended").size(), endsBefore + 1) << at;
    EXPECT_FALSE(VADTaskRepairDatabase::IsRunning()) << at;
  }
}

TEST_F(RepairTaskTest, ASecondRepairWhileOneRunsIsRefused) {
  steps_.nestedAt = "scan";
  ResultsLog log;
  EXPECT_TRUE(RunRepairDatabase("", log, steps_));
  EXPECT_FALSE(steps_.nestedResult);
  EXPECT_EQ(steps_.nestedLog, "- <NULL> : Already repairing\nOK (1 Errors, 0 Warnings)\n");
  EXPECT_EQ(std::count(steps_.calls.begin(), steps_.calls.end(), "purge"), 1) << "the refused run ran no step";

  // Once it has ended, the next runs.
  RecordedSteps next;
  EXPECT_TRUE(RunRepairDatabase("", log, next));
  EXPECT_EQ(next.calls.front(), "purge");
}

TEST_F(RepairTaskTest, AnEmptyCountStillGivesFiniteProgress) {
  // The count says 0 but a record turns up in every pass.
  steps_.count = 0;
  steps_.records = 1;
  ResultsLog log;
  EXPECT_TRUE(RunRepairDatabase("extended", log, steps_));
  ASSERT_FALSE(steps_.progress.empty());
  for (float p : steps_.progress) {
    EXPECT_TRUE(std::isfinite(p));
    EXPECT_LE(p, 1.0f);
  }
}

TEST_F(RepairTaskTest, TheEndEntryAndTheCommandShowThisRunsCounts) {
  struct Case {
    int warnings, errors;
    bool succeeds;
    const char* end;
  };
  const Case cases[] = {
      {1, 1, false, "Repair ended: 2 warnings, 2 errors"},
      {3, 0, true, "Repair ended: 6 warnings, 0 errors"},
      {0, 0, true, "Repair ended: 0 warnings, 0 errors"},
  };
  for (const Case& c : cases) {
    RecordedSteps steps;
    steps.warningsPerRecord = c.warnings;
    steps.errorsPerRecord = c.errors;
    ResultsLog log;
    log.AddMessage(ResultsLog::kError, nullptr, "from before");
    EXPECT_EQ(RunRepairDatabase("", log, steps), c.succeeds) << c.end;
    // The command's log is the task's: what it held before is replaced.
    EXPECT_EQ(log.GetErrorCount(), 2 * c.errors) << c.end;
    EXPECT_EQ(log.GetWarningCount(), 2 * c.warnings) << c.end;
    const std::vector<std::string> ends = LogEntries("Repair ended");
    ASSERT_FALSE(ends.empty());
    EXPECT_EQ(ends.back(), c.end);
  }
  // The start entry itself became the end entry.
  EXPECT_TRUE(LogEntries("Repair started").empty());
}

TEST_F(RepairTaskTest, RunsOnceInPlaceAndNotAgainWhenDestroyed) {
  VADTask task;
  {
    VADTaskRepairDatabase repair(kRepairPatcher, steps_);
    repair.RunInPlace(task);
    EXPECT_EQ(repair.RunningThreadId(), 0u);
    EXPECT_EQ(repair.task, &task);
  }
  EXPECT_EQ(std::count(steps_.calls.begin(), steps_.calls.end(), "purge"), 1);
  EXPECT_STREQ(task.GetTitle(), "Repair");
}

} // namespace
