#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Vak/Bexlorn/PString.h"
#include "content/ACSChunkPtr.h"
#include "content/NuMessage.h"
#include "content/ResultsLog.h"
#include "content/VelmarProperty.h"

namespace {

using Vak::PString;

struct Heard {
  std::string name;
  void* data;
  const NuMessageRecipient* by;
};

// Writes down every message it gets, in one journal shared by several
// recipients so that their order shows.
class Recorder : public NuMessageRecipient {
public:
  explicit Recorder(std::vector<Heard>* journal, int answer = 1) : journal_(journal), answer_(answer) {}
  int ReceiveMessage(NuMessageData& message) override {
    journal_->push_back({message.GetName().c_str(), message.GetData(), this});
    if (onMessage) onMessage(message);
    return answer_;
  }
  std::function<void(NuMessageData&)> onMessage;

private:
  std::vector<Heard>* journal_;
  int answer_;
};

class Forwarder : public NuMessageRecipient {
public:
  explicit Forwarder(NuMessageRecipient* target) : target_(target) {}
  NuMessageRecipient* GetTarget() override { return target_; }

private:
  NuMessageRecipient* target_;
};

// A counted property that tells when it is gone.
class WatchedProperty : public VelmarPropertyRefCounted {
public:
  WatchedProperty(const char* name, bool* gone) : VelmarPropertyRefCounted(PString(name)), gone_(gone) {}
  ~WatchedProperty() override { *gone_ = true; }

private:
  bool* gone_;
};

// Holds the creator's reference.
VelmarPropertyPtr MakeProperty(const char* name, bool* gone) {
  VelmarPropertyPtr p;
  p.Attach(new WatchedProperty(name, gone));
  return p;
}

std::vector<std::string> Texts(const ResultsLog& log) {
  std::vector<std::string> texts;
  log.Lock();
  for (const ResultsLog::Line& line : log.GetLines()) texts.emplace_back(static_cast<const char*>(line.text));
  log.Unlock();
  return texts;
}

TEST(NuMessageTest, NamesAreInternedOnce) {
  EXPECT_EQ(NuMessageListUpdated(), PString("list-updated"));
  EXPECT_EQ(NuMessageListDestroyed(), PString("list-destroyed"));
  EXPECT_EQ(NuMessagePipeClosed(), PString("pipe-closed"));
  EXPECT_EQ(NuMessageListUpdated().GetNode(), NuMessageListUpdated().GetNode());
}

TEST(NuMessageTest, RecipientAnswersOneOrForwardsToItsTarget) {
  std::vector<Heard> journal;
  NuMessageRecipient plain;
  NuMessageData message(PString("x"), nullptr);
  EXPECT_EQ(plain.ReceiveMessage(message), 1);

  Recorder target(&journal, 7);
  Forwarder forwarder(&target);
  EXPECT_EQ(forwarder.ReceiveMessage(message), 7);
  ASSERT_EQ(journal.size(), 1u);
  EXPECT_EQ(journal[0].by, &target);
}

TEST(NuMessageTest, PipesLinkAtTheFrontAndSurviveClosingInAnyOrder) {
  std::vector<Heard> journal;
  Recorder source(&journal), a(&journal), b(&journal), c(&journal);
  auto pa = std::make_unique<NuMessagePipe>(&source, &a);
  auto pb = std::make_unique<NuMessagePipe>(&source, &b);
  auto pc = std::make_unique<NuMessagePipe>(&source, &c);
  EXPECT_EQ(source.FirstPipe(), pc.get());

  auto receivers = [&] {
    journal.clear();
    NuMessageData m(PString("ping"), &source);
    source.SendToPipes(m);
    std::vector<const NuMessageRecipient*> by;
    for (const Heard& h : journal) by.push_back(h.by);
    return by;
  };
  EXPECT_EQ(receivers(), (std::vector<const NuMessageRecipient*>{&c, &b, &a}));

  // Closing the middle, then the last, then the first pipe keeps the list whole.
  journal.clear();
  pb->Close();
  ASSERT_EQ(journal.size(), 1u);
  EXPECT_EQ(journal[0].by, &source);
  EXPECT_EQ(receivers(), (std::vector<const NuMessageRecipient*>{&c, &a}));
  pa.reset();
  pc->Close();
  journal.clear();
  NuMessageData m(PString("ping"), &source);
  source.SendToPipes(m);
  EXPECT_TRUE(journal.empty());
  EXPECT_EQ(source.FirstPipe(), nullptr);
}

TEST(NuMessageTest, CloseTellsTheSourceOnceWithTheReceiver) {
  std::vector<Heard> journal;
  Recorder source(&journal), receiver(&journal);
  NuMessagePipe pipe(&source, &receiver);
  pipe.Close();
  ASSERT_EQ(journal.size(), 1u);
  EXPECT_EQ(journal[0].name, "pipe-closed");
  EXPECT_EQ(journal[0].by, &source);
  EXPECT_EQ(journal[0].data, &receiver);
  EXPECT_EQ(pipe.GetSource(), nullptr);
  EXPECT_FALSE(pipe.IsLinked());
  pipe.Close();
  EXPECT_EQ(journal.size(), 1u);
}

TEST(NuMessageTest, DestroyedSourceUnlinksPipesTheReceiverStillOwns) {
  std::vector<Heard> journal;
  Recorder receiver(&journal);
  auto source = std::make_unique<NuMessageRecipient>();
  NuMessagePipe first(source.get(), &receiver);
  NuMessagePipe second(source.get(), &receiver);
  source.reset();
  EXPECT_FALSE(first.IsLinked());
  EXPECT_FALSE(second.IsLinked());
  EXPECT_EQ(first.GetSource(), nullptr);
  EXPECT_TRUE(journal.empty());
  // Leaving scope closes both pipes again: nothing may touch the freed source.
}

TEST(ResultsLogTest, ExpandMacroCases) {
  struct Case {
    const char* text;
    const char* name;
    const char* value;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {"Can't open $(FILE)", "FILE", "a.txt", "Can't open a.txt"},
      {"$(file) and $(File) and $(FILE)", "FILE", "x", "x and x and x"},
      {"x $(FILE) y $(FILE)", "FILE", "$(FILE)", "x $(FILE) y $(FILE)"},
      {"$(A)$(A)", "A", "12", "1212"},
      {"$(A)", "A", "", ""},
      {"[$(A)]", "A", nullptr, "[]"},
      {"no macro here", "A", "x", "no macro here"},
      {"$(FILENAME) $(FILE", "FILE", "x", "$(FILENAME) $(FILE"},
      {"$($(A))", "A", "B", "$(B)"},
      {"100% of $(N) %s", "N", "5", "100% of 5 %s"},
      {"", "A", "x", ""},
  };
  for (const Case& c : cases) {
    Vak::AnsiString text(c.text);
    ResultsLog::ExpandMacro(c.value, text, c.name);
    EXPECT_STREQ(static_cast<const char*>(text), c.expected) << c.text << " with " << c.name;
  }
}

TEST(ResultsLogTest, AddMessageExpandsParametersAndKeepsPercentSigns) {
  ResultsLog log;
  ACSChunkPtr parameters;
  parameters.SetChildString(PString("file"), "a.txt");
  parameters.SetChildInt(PString("count"), 3);
  parameters.SetChildString(PString("self"), "$(SELF)");
  log.AddMessage(ResultsLog::kError, nullptr, "Can't open $(FILE) ($(count) times) 50% %s %d $(Self)", parameters);
  log.AddMessage(ResultsLog::kNote, nullptr, "$(FILE) stays without parameters");
  log.AddMessage(ResultsLog::kNote, nullptr, nullptr);
  EXPECT_EQ(Texts(log), (std::vector<std::string>{"Can't open a.txt (3 times) 50% %s %d $(SELF)",
                                                  "$(FILE) stays without parameters", ""}));
  EXPECT_EQ(log.GetErrorCount(), 1);
}

TEST(ResultsLogTest, CountsPerSeverityAndTellsWatchersOfEveryLine) {
  struct Case {
    int32_t severity;
    int32_t warnings, errors, results;
  };
  // Cumulative counts after each line; notes and unknown severities count nowhere.
  const std::vector<Case> cases = {
      {ResultsLog::kNote, 0, 0, 0},    {ResultsLog::kWarning, 1, 0, 0}, {ResultsLog::kError, 1, 1, 0},
      {ResultsLog::kResult, 1, 1, 1},  {ResultsLog::kResult, 1, 1, 2},  {0, 1, 1, 2},
      {5, 1, 1, 2},                    {ResultsLog::kError, 1, 2, 2},
  };
  std::vector<Heard> journal;
  Recorder watcher(&journal);
  ResultsLog log;
  NuMessagePipe pipe(&log, &watcher);
  EXPECT_TRUE(log.AllLinesSeen());
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    log.SetAllLinesSeen(true);
    log.AddMessage(c.severity, nullptr, "line");
    EXPECT_EQ(log.GetWarningCount(), c.warnings) << i;
    EXPECT_EQ(log.GetErrorCount(), c.errors) << i;
    EXPECT_EQ(log.GetResultCount(), c.results) << i;
    EXPECT_FALSE(log.AllLinesSeen()) << i;
    ASSERT_EQ(journal.size(), i + 1);
    EXPECT_EQ(journal[i].name, "list-updated");
    EXPECT_EQ(journal[i].data, &log);
  }
  EXPECT_EQ(log.LineCount(), cases.size());
  log.Lock();
  int32_t index = 0;
  for (const ResultsLog::Line& line : log.GetLines()) EXPECT_EQ(line.severity, cases[index++].severity);
  log.Unlock();
}

TEST(ResultsLogTest, WatchersHearInLinkOrderWithTheLineInPlaceAndTheLockHeld) {
  std::vector<Heard> journal;
  Recorder early(&journal), late(&journal);
  ResultsLog log;
  NuMessagePipe first(&log, &early);
  NuMessagePipe second(&log, &late);
  std::vector<std::pair<uint64_t, int32_t>> seen;  // lines and lock depth at each message
  for (Recorder* r : {&early, &late})
    r->onMessage = [&](NuMessageData&) {
      seen.emplace_back(log.LineCount(), log.LockDepth());
      log.SetAllLinesSeen(true);
    };
  log.AddMessage(ResultsLog::kWarning, nullptr, "w");
  ASSERT_EQ(journal.size(), 2u);
  EXPECT_EQ(journal[0].by, &late) << "the newest pipe is at the front";
  EXPECT_EQ(journal[1].by, &early);
  for (const auto& [lines, depth] : seen) {
    EXPECT_EQ(lines, 1u);
    EXPECT_GE(depth, 1);
  }
  EXPECT_TRUE(log.AllLinesSeen()) << "a watcher that copied the lines marks them seen";
  EXPECT_EQ(log.LockDepth(), 0);
}

TEST(ResultsLogTest, LinesHoldTheirPropertyOrTheInnermostContext) {
  bool assetGone = false, outerGone = false, innerGone = false;
  {
    ResultsLog log;
    {
      VelmarPropertyPtr asset = MakeProperty("asset", &assetGone);
      VelmarPropertyPtr outer = MakeProperty("outer", &outerGone);
      VelmarPropertyPtr inner = MakeProperty("inner", &innerGone);
      log.AddMessage(ResultsLog::kNote, nullptr, "none");
      log.PushProperty(outer.Get());
      log.PushProperty(inner.Get());
      log.AddMessage(ResultsLog::kNote, nullptr, "inner");
      log.AddMessage(ResultsLog::kNote, asset.Get(), "own");
      log.PopProperty();
      log.AddMessage(ResultsLog::kNote, nullptr, "outer");
      log.PopProperty();
      log.PopProperty();  // empty: nothing
      log.AddMessage(ResultsLog::kNote, nullptr, "none again");
    }
    EXPECT_FALSE(assetGone || outerGone || innerGone) << "the lines keep their properties alive";
    std::vector<std::pair<std::string, std::string>> got;
    log.Lock();
    for (const ResultsLog::Line& line : log.GetLines())
      got.emplace_back(static_cast<const char*>(line.text), line.property ? line.property->GetName().c_str() : "-");
    log.Unlock();
    EXPECT_EQ(got, (std::vector<std::pair<std::string, std::string>>{
                       {"none", "-"}, {"inner", "inner"}, {"own", "asset"}, {"outer", "outer"}, {"none again", "-"}}));
  }
  EXPECT_TRUE(assetGone && outerGone && innerGone) << "the log gives every reference back";
}

TEST(ResultsLogTest, AssignmentCopiesLinesAndCountersButNotWatchers) {
  bool gone = false;
  std::vector<Heard> journal;
  Recorder watcher(&journal);
  auto source = std::make_unique<ResultsLog>();
  ResultsLog copy;
  NuMessagePipe pipe(&copy, &watcher);
  {
    VelmarPropertyPtr asset = MakeProperty("asset", &gone);
    source->AddMessage(ResultsLog::kWarning, asset.Get(), "w");
    for (int i = 0; i < 20; ++i) source->AddMessage(ResultsLog::kResult, nullptr, "r");  // more than one block
  }
  copy.AddMessage(ResultsLog::kError, nullptr, "old");
  journal.clear();
  copy.SetAllLinesSeen(true);

  copy = *source;
  EXPECT_EQ(Texts(copy), Texts(*source));
  EXPECT_EQ(copy.GetWarningCount(), 1);
  EXPECT_EQ(copy.GetErrorCount(), 0);
  EXPECT_EQ(copy.GetResultCount(), 20);
  EXPECT_FALSE(copy.AllLinesSeen());
  EXPECT_TRUE(journal.empty());

  copy = copy;  // self-assignment leaves everything
  EXPECT_EQ(copy.LineCount(), 21u);

  source.reset();
  EXPECT_FALSE(gone) << "the copied line holds a reference of its own";
  copy.Lock();
  EXPECT_STREQ(copy.GetLines().Begin()->property->GetName().c_str(), "asset");
  copy.Unlock();
}

TEST(ResultsLogTest, DestroyingTellsWatchersBeforeClosingPipes) {
  std::vector<Heard> journal;
  Recorder keeps(&journal), deletes(&journal);
  auto log = std::make_unique<ResultsLog>();
  log->AddMessage(ResultsLog::kError, nullptr, "e");
  journal.clear();
  NuMessagePipe kept(log.get(), &keeps);
  auto dropped = std::make_unique<NuMessagePipe>(log.get(), &deletes);
  int32_t errorsAtTheEnd = -1;
  ResultsLog* raw = log.get();
  // A watcher reads the dying log and lets go of its pipe, as the database log does.
  deletes.onMessage = [&](NuMessageData& m) {
    if (m.GetName() == NuMessageListDestroyed()) {
      errorsAtTheEnd = static_cast<ResultsLog*>(m.GetData())->GetErrorCount();
      dropped.reset();
    }
  };
  keeps.onMessage = [&](NuMessageData&) { EXPECT_TRUE(kept.IsLinked()) << "still linked while told"; };
  log.reset();
  ASSERT_EQ(journal.size(), 2u);
  for (const Heard& h : journal) {
    EXPECT_EQ(h.name, "list-destroyed");
    EXPECT_EQ(h.data, raw);
  }
  EXPECT_EQ(errorsAtTheEnd, 1);
  EXPECT_FALSE(kept.IsLinked());
  EXPECT_EQ(kept.GetSource(), nullptr);
}

TEST(ResultsLogTest, ThreadsAddingAtOnceLoseNothing) {
  constexpr int kThreads = 4;
  constexpr int kLines = 300;
  ResultsLog log;
  // Runs with the log's lock held, so a plain counter is safe.
  class Counter : public NuMessageRecipient {
  public:
    int ReceiveMessage(NuMessageData&) override { return ++count; }
    int count = 0;
  } counter;
  NuMessagePipe pipe(&log, &counter);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&log, t] {
      for (int i = 0; i < kLines; ++i) log.AddMessage(t % 2 ? ResultsLog::kError : ResultsLog::kWarning, nullptr, "x");
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(log.LineCount(), uint64_t{kThreads * kLines});
  EXPECT_EQ(log.GetWarningCount(), kThreads / 2 * kLines);
  EXPECT_EQ(log.GetErrorCount(), kThreads / 2 * kLines);
  EXPECT_EQ(counter.count, kThreads * kLines);
}

} // namespace
