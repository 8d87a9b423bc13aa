#include "assetdb/VADLog.h"

#include "BlockBytes.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Vak/Bexlorn/ByteOrder.h"
#include "content/DynamicBuffer.h"
#include "content/ResultsLog.h"
#include "content/TStream.h"
#include "content/VelmarProperty.h"

namespace {

using Entry = VADLog::Entry;
using blocktest::Bytes;
using blocktest::ReadBlock;
using blocktest::WriteBlock;

// One entry as seen from outside: text, state, depth and the active flag.
struct Seen {
  std::string text;
  int32_t state;
  int depth;
  bool active;
  bool operator==(const Seen& o) const {
    return text == o.text && state == o.state && depth == o.depth && active == o.active;
  }
};

std::ostream& operator<<(std::ostream& os, const Seen& s) {
  return os << "{" << s.text << " state " << s.state << " depth " << s.depth << (s.active ? " open}" : "}");
}

std::vector<Seen> Snapshot(VADLog& log, bool finished) {
  std::vector<Seen> out;
  log.LockLog();
  for (Entry* e : finished ? log.FinishedList() : log.ActiveList())
    out.push_back({static_cast<const char*>(e->text), e->state, e->depth, e->active != 0});
  log.UnlockLog();
  return out;
}

uint64_t Total(VADLog& log) {
  log.LockLog();
  const uint64_t n = log.ActiveList().Count() + log.FinishedList().Count();
  log.UnlockLog();
  return n;
}

// Holds the trim thread in its wait until the test lets it go, and records
// the milliseconds it asked for.
struct FakeWait {
  std::mutex m;
  std::condition_variable cv;
  std::vector<unsigned long> asked;
  std::vector<bool> signalled;  // the event was set when the wait began
  size_t released = 0;

  static FakeWait*& Current() {
    static FakeWait* current = nullptr;
    return current;
  }
  static bool Wait(Vak::WEvent& event, unsigned long ms) {
    FakeWait& self = *Current();
    std::unique_lock<std::mutex> lock(self.m);
    self.signalled.push_back(event.Lock(0));
    self.asked.push_back(ms);
    const size_t mine = self.asked.size();
    self.cv.notify_all();
    self.cv.wait(lock, [&] { return self.released >= mine; });
    return false;
  }
  // A bound against a hung test, never a measure of speed.
  bool AwaitAsks(size_t n) {
    std::unique_lock<std::mutex> lock(m);
    return cv.wait_for(lock, std::chrono::seconds(20), [&] { return asked.size() >= n; });
  }
  std::vector<unsigned long> Asked() {
    std::lock_guard<std::mutex> lock(m);
    return asked;
  }
  std::vector<bool> Signalled() {
    std::lock_guard<std::mutex> lock(m);
    return signalled;
  }
  void Release(size_t all = 1) {
    std::lock_guard<std::mutex> lock(m);
    released += all;
    cv.notify_all();
  }
};

bool AwaitTrimThreadIdle(VADLog& log) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (log.TrimThreadRunning()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Each test gets its own log whose trim thread waits through FakeWait.
class VADLogTest : public ::testing::Test {
protected:
  void SetUp() override {
    FakeWait::Current() = &fake_;
    VADLog::SetTrimWait(&FakeWait::Wait);
    log_ = std::make_unique<VADLog>();
  }
  void TearDown() override {
    fake_.Release(1u << 30);
    log_.reset();
    VADLog::SetTrimWait(nullptr);
    FakeWait::Current() = nullptr;
  }

  // Lets every wait, now and later, end at once: for tests whose own logs
  // must be able to stop their trim threads.
  void FreeRun() { fake_.Release(1u << 30); }

  FakeWait fake_;
  std::unique_ptr<VADLog> log_;
};

// ---- stored block helpers

void PutEntry(Bytes& b, uint8_t state, const KUID* kuid, const std::string& text, uint8_t depth, uint32_t seq) {
  b.push_back(state);
  b.push_back(kuid ? 1 : 0);
  if (kuid) {
    uint32_t packed, content;
    kuid->Pack(packed, content);
    Vak::AppendLE32(b, content);
    Vak::AppendLE32(b, packed);
  }
  Vak::AppendLE32(b, static_cast<uint32_t>(text.size()));
  b.insert(b.end(), text.begin(), text.end());
  b.push_back(depth);
  Vak::AppendLE32(b, seq);
}

Bytes Header(int16_t version, uint32_t counter, uint32_t n) {
  Bytes b;
  Vak::AppendLE16(b, static_cast<uint16_t>(version));
  Vak::AppendLE32(b, counter);
  Vak::AppendLE32(b, n);
  return b;
}

std::string Hex(const Bytes& bytes) {
  std::string out;
  char two[4];
  for (uint8_t b : bytes) {
    std::snprintf(two, sizeof two, "%02X ", b);
    out += two;
  }
  return out;
}

// n top-level finished entries "f0", "f1", ...
Bytes FlatBlock(uint32_t n, uint32_t counter) {
  Bytes b = Header(0, counter, n);
  for (uint32_t i = 0; i < n; ++i) PutEntry(b, 0, nullptr, "f" + std::to_string(i), 0, i + 1);
  return b;
}

// ---- entries and lists

TEST_F(VADLogTest, ChildrenFollowTheirParentsSubtreeInTheActiveList) {
  VADLog& log = *log_;
  Entry* a = log.BeginEntry(nullptr, "a", nullptr, 0);
  Entry* b = log.BeginEntry(nullptr, "b", nullptr, 0);
  Entry* a1 = log.BeginEntry(a, "a1", nullptr, 1);
  Entry* a11 = log.BeginEntry(a1, "a11", nullptr, 2);
  Entry* a2 = log.BeginEntry(a, "a2", nullptr, 0);
  Entry* b1 = log.BeginEntry(b, "b1", nullptr, 0);
  ASSERT_TRUE(a && b && a1 && a11 && a2 && b1);
  EXPECT_EQ(Snapshot(log, false), (std::vector<Seen>{{"a", 0, 0, true},
                                                      {"a1", 1, 1, true},
                                                      {"a11", 2, 2, true},
                                                      {"a2", 0, 1, true},
                                                      {"b", 0, 0, true},
                                                      {"b1", 0, 1, true}}));
  // A parent that is not in the active list refuses the child.
  Entry stranger;
  EXPECT_EQ(log.BeginEntry(&stranger, "x", nullptr, 0), nullptr);
  EXPECT_EQ(log.Sequence(), 6u);
  EXPECT_EQ(a2->sequence, 5u);
}

TEST_F(VADLogTest, EndEntryMovesASubtreeOnceNoneOfItIsOpen) {
  VADLog& log = *log_;
  Entry* a = log.BeginEntry(nullptr, "a", nullptr, 0);
  Entry* a1 = log.BeginEntry(a, "a1", nullptr, 0);
  Entry* a11 = log.BeginEntry(a1, "a11", nullptr, 0);
  Entry* a2 = log.BeginEntry(a, "a2", nullptr, 0);
  Entry* b = log.BeginEntry(nullptr, "b", nullptr, 0);

  // An ancestor of an open entry stays where it is, only marked ended.
  log.EndEntry(a1);
  EXPECT_EQ(a1, nullptr);
  EXPECT_EQ(Snapshot(log, false).size(), 5u);
  EXPECT_TRUE(Snapshot(log, true).empty());

  log.EndEntry(a11);  // a11 alone: its ended parent does not follow it
  EXPECT_EQ(Snapshot(log, true), (std::vector<Seen>{{"a11", 0, 2, false}}));

  log.EndEntry(a);
  EXPECT_EQ(Snapshot(log, false), (std::vector<Seen>{{"a", 0, 0, false},
                                                      {"a1", 0, 1, false},
                                                      {"a2", 0, 1, true},
                                                      {"b", 0, 0, true}}));
  log.EndEntry(a2);
  EXPECT_EQ(Snapshot(log, false).size(), 3u) << "a2 has no descendants to take along";
  Entry* again = *log.ActiveList().Begin();
  log.EndEntry(again);  // ending an ended entry moves its subtree
  EXPECT_EQ(Snapshot(log, false), (std::vector<Seen>{{"b", 0, 0, true}}));
  EXPECT_EQ(Snapshot(log, true), (std::vector<Seen>{{"a11", 0, 2, false},
                                                     {"a2", 0, 1, false},
                                                     {"a", 0, 0, false},
                                                     {"a1", 0, 1, false}}));
  log.EndEntry(b);
  EXPECT_TRUE(Snapshot(log, false).empty());
}

TEST_F(VADLogTest, UpdateEntryChangesOnlyWhatIsGiven) {
  const KUID k1(1, 2, 3), k2(4, 5, 6);
  struct Case {
    const char* name;
    int32_t state;
    const char* text;
    const KUID* kuid;
    int32_t wantState;
    const char* wantText;
    const KUID* wantKuid;
  } cases[] = {
      {"state", 2, nullptr, nullptr, 2, "t", &k1},
      {"keep state", 3, "new", nullptr, 1, "new", &k1},
      {"kuid", 0, nullptr, &k2, 0, "t", &k2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Entry* e = log_->BeginEntry(nullptr, "t", &k1, 1);
    const uint32_t before = log_->Sequence();
    log_->UpdateEntry(e, c.state, c.text, c.kuid);
    EXPECT_EQ(e->state, c.wantState);
    EXPECT_STREQ(static_cast<const char*>(e->text), c.wantText);
    ASSERT_TRUE(e->kuid);
    EXPECT_EQ(*e->kuid, *c.wantKuid);
    EXPECT_EQ(e->sequence, before + 1);
  }
  // Not in the active list: untouched.
  Entry* e = log_->BeginEntry(nullptr, "done", nullptr, 0);
  Entry* kept = e;
  log_->EndEntry(e);
  log_->UpdateEntry(kept, 2, "changed");
  EXPECT_EQ(kept->state, 0);
  EXPECT_STREQ(static_cast<const char*>(kept->text), "done");
}

TEST_F(VADLogTest, AddEntryFinishesAtOnce) {
  VADLog& log = *log_;
  const KUID k(7, 8, 0);
  log.AddEntry(&k, nullptr, "top", 2);
  Entry* task = log.BeginEntry(nullptr, "task", nullptr, 0);
  log.AddEntry(nullptr, task, "line", 1);
  EXPECT_EQ(Snapshot(log, true), (std::vector<Seen>{{"top", 2, 0, false}}));
  EXPECT_EQ(*log.FinishedList().Begin().item[0]->kuid, k);
  EXPECT_EQ(Snapshot(log, false), (std::vector<Seen>{{"task", 0, 0, true}, {"line", 1, 1, false}}));
  log.EndEntry(task);
  EXPECT_EQ(Snapshot(log, true).size(), 3u);
}

TEST_F(VADLogTest, CloseEndsEverythingAndFreezesTheLog) {
  VADLog& log = *log_;
  Entry* a = log.BeginEntry(nullptr, "a", nullptr, 0);
  Entry* a1 = log.BeginEntry(a, "a1", nullptr, 1);
  log.AddEntry(nullptr, nullptr, "f", 0);
  log.Close();
  EXPECT_TRUE(log.IsClosed());
  EXPECT_TRUE(Snapshot(log, false).empty());
  EXPECT_EQ(Snapshot(log, true), (std::vector<Seen>{{"f", 0, 0, false}, {"a", 0, 0, false}, {"a1", 1, 1, false}}));

  const uint32_t sequence = log.Sequence();
  EXPECT_EQ(log.BeginEntry(nullptr, "late", nullptr, 0), nullptr);
  log.AddEntry(nullptr, nullptr, "late", 0);
  log.UpdateEntry(a, 2, "late");
  log.EndEntry(a1);
  EXPECT_EQ(log.Sequence(), sequence);
  EXPECT_EQ(Snapshot(log, true).size(), 3u);
  EXPECT_EQ(a->state, 0);
}

TEST(VADLogInstanceTest, PostDataOpensATopLevelEntryToUpdateLater) {
  Entry* e = VADLog::PostData("repairing");
  ASSERT_NE(e, nullptr);
  VADLog& log = VADLog::Instance();
  EXPECT_EQ(&log, &VADLog::Instance());
  EXPECT_EQ(e->state, 0);
  EXPECT_EQ(e->depth, 0);
  EXPECT_TRUE(e->active);
  EXPECT_FALSE(e->kuid);
  log.UpdateEntry(e, 1, "repaired");
  EXPECT_STREQ(static_cast<const char*>(e->text), "repaired");
  log.EndEntry(e);
}

// ---- the stored block

TEST_F(VADLogTest, BlockLayoutIsPinned) {
  const KUID k(5, 7, 2);
  log_->AddEntry(&k, nullptr, "ab", 2);
  Entry* t = log_->BeginEntry(nullptr, "t", nullptr, 0);
  log_->AddEntry(nullptr, t, "", 1);
  log_->EndEntry(t);
  const Bytes want = {
      0x00, 0x00,              // version 0
      0x06, 0x00, 0x00, 0x00,  // counter
      0x03, 0x00, 0x00, 0x00,  // finished entries
      0x02, 0x01,              // state 2, has KUID
      0x07, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x04,  // content id, packed word
      0x02, 0x00, 0x00, 0x00, 'a', 'b',                // text
      0x00,                                            // depth
      0x01, 0x00, 0x00, 0x00,                          // sequence
      0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 't', 0x00, 0x05, 0x00, 0x00, 0x00,  // the task
      0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x06, 0x00, 0x00, 0x00,       // its line
  };
  EXPECT_EQ(Hex(WriteBlock(*log_)), Hex(want));
}

TEST_F(VADLogTest, BlockRoundTrips) {
  const KUID k(-3, 99, 127);
  log_->AddEntry(&k, nullptr, "with kuid", 2);
  Entry* t = log_->BeginEntry(nullptr, "task", nullptr, 0);
  log_->AddEntry(nullptr, t, "child", 1);
  log_->EndEntry(t);
  log_->BeginEntry(nullptr, "open, not stored", nullptr, 0);
  const Bytes bytes = WriteBlock(*log_);

  VADLog copy;
  ASSERT_TRUE(ReadBlock(copy, bytes));
  EXPECT_EQ(Snapshot(copy, true), Snapshot(*log_, true));
  EXPECT_TRUE(Snapshot(copy, false).empty());
  EXPECT_EQ(copy.Sequence(), log_->Sequence());
  EXPECT_EQ(*copy.FinishedList().Begin().item[0]->kuid, k);
  EXPECT_EQ(WriteBlock(copy), bytes);

  // No entries: the stored counter stays.
  ASSERT_TRUE(ReadBlock(copy, Header(0, 77, 0)));
  EXPECT_TRUE(Snapshot(copy, true).empty());
  EXPECT_EQ(copy.Sequence(), 77u);
}

TEST_F(VADLogTest, MalformedBlocksFailAndLeaveTheLogEmpty) {
  const KUID k(1, 2, 3);
  Bytes good = Header(0, 9, 2);
  PutEntry(good, 1, &k, "one", 0, 1);
  PutEntry(good, 0, nullptr, "two", 1, 2);

  struct Case {
    const char* name;
    Bytes bytes;
  };
  std::vector<Case> cases = {
      {"empty", {}},
      {"version 1", Header(1, 9, 0)},
      {"version -1", Header(-1, 9, 0)},
      {"count past the data", Header(0, 9, 0x7FFFFFFF)},
      {"count one too many", [&] { Bytes b = good; b[6] = 3; return b; }()},
  };
  // Every truncation of a good block.
  for (size_t n = 1; n < good.size(); ++n)
    cases.push_back({"truncated", Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n))});
  {
    Bytes b = Header(0, 9, 1);
    PutEntry(b, 3, nullptr, "x", 0, 1);
    cases.push_back({"state 3", b});
  }
  {
    Bytes b = Header(0, 9, 1);
    PutEntry(b, 0, nullptr, "x", 0, 1);
    b[11] = 2;
    cases.push_back({"KUID flag 2", b});
  }
  {
    Bytes b = Header(0, 9, 1);
    PutEntry(b, 0, nullptr, "x", 0, 1);
    Vak::PutLE32(&b[12], 0xFFFFFFF0u);
    cases.push_back({"text length past the data", b});
  }
  {
    Bytes b = Header(0, 9, 1);
    PutEntry(b, 0, nullptr, std::string(0x10000, 'x'), 0, 1);
    cases.push_back({"text of 0x10000 bytes", b});
  }

  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " (" + std::to_string(c.bytes.size()) + " bytes)");
    VADLog log;
    ASSERT_TRUE(ReadBlock(log, good));
    EXPECT_FALSE(ReadBlock(log, c.bytes));
    EXPECT_TRUE(Snapshot(log, true).empty());
    EXPECT_EQ(log.Sequence(), 0u);
  }
}

// ---- watching tasks

// A property whose text is not a KUID.
class TextProperty : public VelmarPropertyRefCounted {
public:
  TextProperty() : VelmarPropertyRefCounted(Vak::PString("name")) {}
  void GetValueText(Vak::PString& out) const override { out = Vak::PString("kuid but not one"); }
};

TEST_F(VADLogTest, WatchedTaskLinesBecomeChildEntries) {
  VADLog& log = *log_;
  auto task = std::make_unique<ResultsLog>();
  task->AddMessage(ResultsLog::kNote, nullptr, "before the watch");

  Entry* top = log.WatchTask("task", *task);
  ASSERT_NE(top, nullptr);
  EXPECT_TRUE(task->AllLinesSeen());

  auto* asset = new VelmarPropertyAssetID(Vak::PString("asset"), 12, 34, 5);
  auto* text = new TextProperty;
  task->AddMessage(ResultsLog::kWarning, text, "a warning");
  task->AddMessage(ResultsLog::kError, asset, "an error");
  asset->ReleaseReference();
  text->ReleaseReference();
  EXPECT_TRUE(task->AllLinesSeen());

  EXPECT_EQ(Snapshot(log, false), (std::vector<Seen>{{"task", 0, 0, true},
                                                      {"before the watch", 0, 1, false},
                                                      {"a warning", 1, 1, false},
                                                      {"an error", 2, 1, false}}));
  log.LockLog();
  auto it = log.ActiveList().Begin();
  it.Next();
  EXPECT_FALSE((*it)->kuid);
  it.Next();
  EXPECT_FALSE((*it)->kuid) << "a property that is not a KUID stores none";
  it.Next();
  ASSERT_TRUE((*it)->kuid);
  EXPECT_EQ(*(*it)->kuid, KUID(12, 34, 5));
  log.UnlockLog();

  task.reset();
  EXPECT_TRUE(Snapshot(log, false).empty());
  EXPECT_EQ(Snapshot(log, true), (std::vector<Seen>{{"task", 2, 0, false},
                                                     {"before the watch", 0, 1, false},
                                                     {"a warning", 1, 1, false},
                                                     {"an error", 2, 1, false}}));
}

TEST_F(VADLogTest, AFinishedTaskEndsWithItsWorstState) {
  struct Case {
    const char* name;
    std::vector<int32_t> severities;
    int32_t want;
  } cases[] = {
      {"notes", {ResultsLog::kNote, ResultsLog::kResult}, 0},
      {"warning", {ResultsLog::kNote, ResultsLog::kWarning}, 1},
      {"error then warning", {ResultsLog::kError, ResultsLog::kWarning}, 2},
  };
  FreeRun();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    VADLog log;
    {
      ResultsLog task;
      log.WatchTask("task", task);
      for (int32_t s : c.severities) task.AddMessage(s, nullptr, "line");
    }
    auto finished = Snapshot(log, true);
    ASSERT_EQ(finished.size(), c.severities.size() + 1);
    EXPECT_EQ(finished[0].state, c.want);
  }
}

TEST_F(VADLogTest, DestroyingTheLogClosesItsLinks) {
  FreeRun();
  ResultsLog task;
  {
    VADLog log;
    log.WatchTask("task", task);
    EXPECT_NE(task.FirstPipe(), nullptr);
  }
  EXPECT_EQ(task.FirstPipe(), nullptr);
  task.AddMessage(ResultsLog::kError, nullptr, "nobody listens");
}

// ---- trimming

TEST_F(VADLogTest, TrimTakesTheOldestFinishedLeavesFirst) {
  VADLog& log = *log_;
  // p (with child c) is older than every flat entry: c goes first, which
  // leaves p a leaf, and p goes next.
  Bytes b = Header(0, 5000, 1003);
  PutEntry(b, 0, nullptr, "p", 0, 1);
  PutEntry(b, 0, nullptr, "c", 1, 2);
  for (uint32_t i = 0; i < 1001; ++i) PutEntry(b, 0, nullptr, "f" + std::to_string(i), 0, i + 3);
  ASSERT_TRUE(ReadBlock(log, b));
  Entry* open = log.BeginEntry(nullptr, "open", nullptr, 0);  // counts, never trimmed
  ASSERT_TRUE(fake_.AwaitAsks(1));                            // the trim thread holds still
  log.Trim();
  auto finished = Snapshot(log, true);
  ASSERT_EQ(finished.size(), 999u);
  EXPECT_EQ(finished.front().text, "f2");
  EXPECT_EQ(finished.back().text, "f1000");
  EXPECT_EQ(Snapshot(log, false).size(), 1u);
  log.EndEntry(open);
}

TEST_F(VADLogTest, TrimTakesEndedActiveLeavesUntilAnOpenOne) {
  struct Case {
    const char* name;
    bool firstLeafOpen;
    uint64_t wantTotal;
  } cases[] = {{"ended leaf goes", false, 1000}, {"open leaf stops", true, 1002}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeWait fake;
    FakeWait::Current() = &fake;
    {
      VADLog log;
      Entry* top = log.BeginEntry(nullptr, "top", nullptr, 0);
      ASSERT_TRUE(fake.AwaitAsks(1));
      if (c.firstLeafOpen) {
        log.BeginEntry(top, "open", nullptr, 0);
      } else {
        log.AddEntry(nullptr, top, "ended", 0);
      }
      for (int i = 0; i < 1000; ++i) log.AddEntry(nullptr, top, "later", 0);
      log.Trim();
      EXPECT_EQ(Total(log), c.wantTotal);
      EXPECT_EQ(Snapshot(log, false).front().text, "top");
      EXPECT_EQ(Snapshot(log, false)[1].text, c.firstLeafOpen ? "open" : "later");
      fake.Release(1u << 30);
    }
    FakeWait::Current() = &fake_;
  }
}

TEST_F(VADLogTest, TrimRuns2000MsAfterTheLastChange) {
  VADLog& log = *log_;
  ASSERT_TRUE(ReadBlock(log, FlatBlock(1000, 1000)));
  log.AddEntry(nullptr, nullptr, "new 1", 0);
  ASSERT_TRUE(fake_.AwaitAsks(1));
  EXPECT_EQ(fake_.Asked(), (std::vector<unsigned long>{2000}));
  EXPECT_FALSE(fake_.Signalled().front()) << "a new thread's first wait must last, not end on an old set";

  // A change during the wait starts another full wait.
  log.AddEntry(nullptr, nullptr, "new 2", 0);
  fake_.Release();
  ASSERT_TRUE(fake_.AwaitAsks(2));
  EXPECT_EQ(fake_.Asked(), (std::vector<unsigned long>{2000, 2000}));
  EXPECT_EQ(Total(log), 1002u) << "nothing trimmed before the wait is over";

  fake_.Release();
  ASSERT_TRUE(AwaitTrimThreadIdle(log));
  EXPECT_EQ(Total(log), 1000u);
  EXPECT_EQ(Snapshot(log, true).front().text, "f2");
  EXPECT_EQ(fake_.Asked().size(), 2u);
}

TEST_F(VADLogTest, TrimRunsAtOnceWhenForcedOrPastAHundredChanges) {
  struct Case {
    const char* name;
    int changes;   // after the first one
    bool close;
  } cases[] = {{"101 changes", 100, false}, {"close", 0, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeWait fake;
    FakeWait::Current() = &fake;
    {
      VADLog log;
      ASSERT_TRUE(ReadBlock(log, FlatBlock(1000, 1000)));
      log.AddEntry(nullptr, nullptr, "first", 0);
      ASSERT_TRUE(fake.AwaitAsks(1));
      for (int i = 0; i < c.changes; ++i) log.AddEntry(nullptr, nullptr, "more", 0);
      if (c.close) log.Close();
      fake.Release();
      ASSERT_TRUE(AwaitTrimThreadIdle(log));
      EXPECT_EQ(Total(log), 1000u);
      EXPECT_EQ(fake.Asked().size(), 1u) << "no second wait";
      fake.Release(1u << 30);
    }
    FakeWait::Current() = &fake_;
  }
}

TEST(VADLogThreadTest, ATaskAddsLinesWhileAnotherThreadTrims) {
  // The real wait: changes come in bursts of more than 100, so trims run at
  // once, and destruction wakes the thread.
  VADLog log;
  auto task = std::make_unique<ResultsLog>();
  Entry* top = log.WatchTask("task", *task);
  ASSERT_NE(top, nullptr);
  constexpr int kLines = 3000;
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int i = 0; i < kLines; ++i) task->AddMessage(i % 2 ? ResultsLog::kWarning : ResultsLog::kNote, nullptr, "line");
    done = true;
  });
  std::thread trimmer([&] {
    while (!done) {
      log.Trim();
      log.AddEntry(nullptr, nullptr, "other", 0);
      (void)WriteBlock(log);
    }
  });
  writer.join();
  trimmer.join();
  task.reset();
  log.Trim();
  EXPECT_LE(Total(log), 1000u);
  EXPECT_TRUE(Snapshot(log, false).empty());
  for (const Seen& s : Snapshot(log, true)) {
    if (s.text == "task") {
      EXPECT_EQ(s.state, 1);
    }
  }
}

} // namespace
