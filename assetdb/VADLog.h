#pragma once
// The database log: lines of database activity with a state, an optional KUID
// and a nesting depth. Running tasks are watched through their results logs:
// each task gets a top-level entry and each of its lines a child entry. Open
// entries sit in the active list in tree order (each entry's descendants
// directly behind it); ended subtrees move to the finished list, which is
// what the index file stores. A background thread trims both lists to 1000
// entries 2000 ms after the last change.
//
// Lock order: a watched results log's lock, then the database log's lock;
// nothing takes a results-log lock while holding the database log's lock.
//
// The process has one log (Instance); the lock, counter and trim thread live
// in each log so that tests can build their own.
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>

#include "Vak/Bexlorn/String.h"
#include "Vak/Bexlorn/Sync.h"
#include "Vak/Bexlorn/Thread.h"
#include "assetdb/SharedLock.h"
#include "content/ChunkedList.h"
#include "content/KUID.h"
#include "content/NuMessage.h"

class ResultsLog;
class TStream;

class VADLog : public NuMessageRecipient {
public:
  enum State : int32_t { kPlain = 0, kWarning = 1, kError = 2, kKeepState = 3 };

  static constexpr int16_t kBlockVersion = 0;
  static constexpr uint64_t kMaxEntries = 1000;
  static constexpr unsigned long kTrimDelayMs = 2000;
  static constexpr uint32_t kMaxPendingChanges = 100;

  struct Entry {
    int32_t state = kPlain;
    std::unique_ptr<KUID> kuid;  // null: none
    Vak::String text;
    uint8_t active = 0;
    uint32_t sequence = 0;
    uint8_t depth = 0;
  };
  using EntryList = ChunkedList<Entry*, 125>;

  // Waits on the trim event for up to `ms` milliseconds; true when the event
  // came. Tests replace it so that the trim thread never sleeps for seconds.
  using TrimWait = bool (*)(Vak::WEvent& event, unsigned long ms);

  VADLog();
  // Stops the trim thread, closes the links to watched logs, frees the entries.
  ~VADLog() override;

  static VADLog& Instance();
  // A top-level open entry with state 0, for callers that update it later.
  static Entry* PostData(const char* text);

  // Null when closed, or when `parent` is not in the active list.
  Entry* BeginEntry(Entry* parent, const char* text, const KUID* kuid, int32_t state);
  // A finished entry: a child stays behind its parent in the active list, a
  // top-level one goes straight to the finished list.
  void AddEntry(const KUID* kuid, Entry* parent, const char* text, int32_t state);
  // Only for entries in the active list. State 3 keeps the state; a null text
  // or KUID keeps the one held.
  void UpdateEntry(Entry* entry, int32_t state, const char* text = nullptr, const KUID* kuid = nullptr);
  // Ends the entry; the subtree moves to the finished list once none of it is
  // open. `entry` becomes null.
  void EndEntry(Entry*& entry);

  // Opens a top-level entry for the task and copies the task's lines, those it
  // holds now and those it adds later, as child entries.
  Entry* WatchTask(const char* text, ResultsLog& log);
  int ReceiveMessage(NuMessageData& message) override;

  // Frees the finished entries and sets the counter to 0, as a new read
  // does; open entries stay with their tasks.
  void ClearFinished();

  // Ends every open entry and lets nothing change any more; trims at once.
  void Close();
  bool IsClosed() const { return closed_.load(); }

  // Counts one change and wakes (or starts) the trim thread.
  void ScheduleTrim(bool force);
  // Frees the oldest leaves until at most 1000 entries are left.
  void Trim();

  // The stored block: version, counter and the finished entries.
  void Write(TStream& stream);
  // False on a wrong version or truncated or malformed input, which leaves
  // the finished list empty and the counter at 0.
  bool Read(TStream& stream);

  // Lists and counters, read under LockLog.
  void LockLog() { lock_.Lock(); }
  void UnlockLog() { lock_.Unlock(); }
  const EntryList& ActiveList() const { return active_; }
  const EntryList& FinishedList() const { return finished_; }
  uint32_t Sequence() const { return sequence_; }
  bool TrimThreadRunning();

  // Null restores the real wait.
  static void SetTrimWait(TrimWait wait);

private:
  struct Watch {
    std::unique_ptr<NuMessagePipe> pipe;
    Entry* entry = nullptr;
    uint64_t copied = 0;
  };

  static unsigned TrimThreadMain(void* self);
  void RunTrimThread();
  void CopyNewLines(ResultsLog& log);
  void TaskLogGone(ResultsLog* log);
  void Touch(Entry& entry) { entry.sequence = ++sequence_; }
  void FreeAll();

  CountedLock lock_;
  std::map<ResultsLog*, Watch> watches_;
  EntryList active_;
  EntryList finished_;
  uint32_t sequence_ = 0;
  std::atomic<bool> closed_{false};

  // Trim state, under lock_.
  Vak::WEvent trimEvent_{false, false};
  std::unique_ptr<Vak::Thread> trimThread_;
  bool trimRunning_ = false;
  unsigned long trimDelayMs_ = 0;
  uint32_t pendingChanges_ = 0;

  static std::atomic<TrimWait> trimWait_;
};
