#include "assetdb/VADLog.h"

#include <vector>

#include "Vak/Bexlorn/ByteOrder.h"
#include "content/ResultsLog.h"
#include "content/TStream.h"

namespace {

class Hold {
public:
  explicit Hold(CountedLock& lock) : lock_(lock) { lock_.Lock(); }
  ~Hold() { lock_.Unlock(); }
  Hold(const Hold&) = delete;
  Hold& operator=(const Hold&) = delete;

private:
  CountedLock& lock_;
};

bool RealTrimWait(Vak::WEvent& event, unsigned long ms) { return event.Lock(ms); }

// The smallest stored entry: state, flag, text length, depth, sequence.
constexpr uint64_t kMinEntryBytes = 1 + 1 + 4 + 1 + 4;
constexpr uint32_t kMaxText = 0x10000;

bool IsLeaf(const VADLog::EntryList& list, uint64_t index) {
  VADLog::EntryList::Iterator it = list.At(index);
  VADLog::EntryList::Iterator next = list.At(index + 1);
  return next.IsEnd() || (*next)->depth <= (*it)->depth;
}

} // namespace

std::atomic<VADLog::TrimWait> VADLog::trimWait_{nullptr};

VADLog::VADLog() = default;

VADLog::~VADLog() {
  {
    Hold hold(lock_);
    closed_.store(true);
    trimDelayMs_ = 0;
    trimEvent_.Set();
  }
  // The thread no longer needs the lock once it is not running, and leaves
  // its loop on the delay of 0 set above.
  trimThread_.reset();

  // Each link is closed with the watched log's lock taken first.
  for (;;) {
    ResultsLog* log;
    {
      Hold hold(lock_);
      if (watches_.empty()) break;
      log = watches_.begin()->first;
    }
    log->Lock();
    std::unique_ptr<NuMessagePipe> pipe;
    {
      Hold hold(lock_);
      auto found = watches_.find(log);
      if (found != watches_.end()) {
        pipe = std::move(found->second.pipe);
        watches_.erase(found);
      }
    }
    pipe.reset();
    log->Unlock();
  }
  FreeAll();
}

VADLog& VADLog::Instance() {
  static VADLog log;
  return log;
}

VADLog::Entry* VADLog::PostData(const char* text) { return Instance().BeginEntry(nullptr, text, nullptr, kPlain); }

void VADLog::SetTrimWait(TrimWait wait) { trimWait_.store(wait); }

void VADLog::FreeAll() {
  Hold hold(lock_);
  for (Entry* entry : active_) delete entry;
  for (Entry* entry : finished_) delete entry;
  active_.Clear();
  finished_.Clear();
  sequence_ = 0;
}

void VADLog::ClearFinished() {
  Hold hold(lock_);
  for (Entry* entry : finished_) delete entry;
  finished_.Clear();
  sequence_ = 0;
}

VADLog::Entry* VADLog::BeginEntry(Entry* parent, const char* text, const KUID* kuid, int32_t state) {
  Hold hold(lock_);
  if (closed_.load()) return nullptr;
  EntryList::Iterator where = active_.End();
  uint8_t depth = 0;
  if (parent) {
    where = active_.Find(parent);
    if (where.IsEnd()) return nullptr;
    depth = static_cast<uint8_t>(parent->depth + 1);
    // Behind the parent's existing descendants, so that every subtree stays
    // in one piece for EndEntry and Trim.
    for (where.Next(); !where.IsEnd() && (*where)->depth > parent->depth; where.Next()) {
    }
  }
  auto* entry = new Entry;
  entry->state = state;
  if (kuid) entry->kuid = std::make_unique<KUID>(*kuid);
  entry->text = text;
  entry->active = 1;
  entry->depth = depth;
  Touch(*entry);
  active_.Insert(where, entry);
  ScheduleTrim(false);
  return entry;
}

void VADLog::AddEntry(const KUID* kuid, Entry* parent, const char* text, int32_t state) {
  Hold hold(lock_);
  if (closed_.load()) return;
  if (parent) {
    if (Entry* entry = BeginEntry(parent, text, kuid, state)) entry->active = 0;
    return;
  }
  auto* entry = new Entry;
  entry->state = state;
  if (kuid) entry->kuid = std::make_unique<KUID>(*kuid);
  entry->text = text;
  Touch(*entry);
  finished_.Append(entry);
  ScheduleTrim(false);
}

void VADLog::UpdateEntry(Entry* entry, int32_t state, const char* text, const KUID* kuid) {
  Hold hold(lock_);
  if (closed_.load() || !entry || active_.Find(entry).IsEnd()) return;
  if (state != kKeepState) entry->state = state;
  if (text) entry->text = text;
  if (kuid) entry->kuid = std::make_unique<KUID>(*kuid);
  Touch(*entry);
}

void VADLog::EndEntry(Entry*& entryRef) {
  Entry* entry = entryRef;
  entryRef = nullptr;
  Hold hold(lock_);
  if (closed_.load() || !entry) return;
  EntryList::Iterator it = active_.Find(entry);
  if (it.IsEnd()) return;
  entry->active = 0;
  Touch(*entry);
  EntryList::Iterator below = it;
  for (below.Next(); !below.IsEnd() && (*below)->depth > entry->depth; below.Next())
    if ((*below)->active) return;  // moves with the last open descendant's ancestor
  bool first = true;
  while (!it.IsEnd() && (first || (*it)->depth > entry->depth)) {
    Entry* moved = *it;
    Touch(*moved);
    finished_.Append(moved);
    it = active_.EraseOrdered(it);
    first = false;
  }
}

VADLog::Entry* VADLog::WatchTask(const char* text, ResultsLog& log) {
  log.Lock();
  Entry* entry = nullptr;
  {
    Hold hold(lock_);
    entry = BeginEntry(nullptr, text, nullptr, kPlain);
    if (entry) {
      Watch& watch = watches_[&log];
      watch.pipe = std::make_unique<NuMessagePipe>(&log, this);
      watch.entry = entry;
      watch.copied = 0;
      CopyNewLines(log);
    }
  }
  log.Unlock();
  return entry;
}

int VADLog::ReceiveMessage(NuMessageData& message) {
  const Vak::PString& name = message.GetName();
  if (name == NuMessageListUpdated()) {
    auto* log = static_cast<ResultsLog*>(message.GetData());
    log->Lock();
    {
      Hold hold(lock_);
      CopyNewLines(*log);
    }
    log->Unlock();
    return 1;
  }
  if (name == NuMessageListDestroyed() || name == NuMessagePipeClosed()) {
    TaskLogGone(static_cast<ResultsLog*>(message.GetData()));
    return 1;
  }
  return NuMessageRecipient::ReceiveMessage(message);
}

void VADLog::CopyNewLines(ResultsLog& log) {
  auto found = watches_.find(&log);
  if (found == watches_.end()) return;
  Watch& watch = found->second;
  const uint64_t count = log.LineCount();
  if (count < watch.copied) watch.copied = 0;
  log.SetAllLinesSeen(true);
  for (auto line = log.GetLines().At(watch.copied); !line.IsEnd(); line.Next()) {
    const int32_t state = line->severity == ResultsLog::kWarning ? kWarning
                          : line->severity == ResultsLog::kError ? kError
                                                                 : kPlain;
    KUID kuid;
    if (line->property) {
      Vak::PString value;
      line->property.GetValueText(value);
      kuid = KUID::Parse(value.c_str(), true);
    }
    AddEntry(kuid.IsNull() ? nullptr : &kuid, watch.entry, line->text, state);
  }
  watch.copied = count;
}

void VADLog::TaskLogGone(ResultsLog* log) {
  {
    // Only a watched log is touched; its lock must come before ours.
    Hold hold(lock_);
    if (watches_.find(log) == watches_.end()) return;
  }
  log->Lock();
  std::unique_ptr<NuMessagePipe> pipe;
  {
    Hold hold(lock_);
    auto found = watches_.find(log);
    if (found != watches_.end()) {
      Watch& watch = found->second;
      if (log->GetErrorCount() > 0) {
        UpdateEntry(watch.entry, kError);
      } else if (log->GetWarningCount() > 0) {
        UpdateEntry(watch.entry, kWarning);
      }
      EndEntry(watch.entry);
      pipe = std::move(watch.pipe);
      watches_.erase(found);
    }
  }
  pipe.reset();
  log->Unlock();
}

void VADLog::Close() {
  closed_.store(true);
  {
    Hold hold(lock_);
    for (Entry* entry : active_) {
      entry->active = 0;
      Touch(*entry);
      finished_.Append(entry);
    }
    active_.Clear();
  }
  ScheduleTrim(true);
}

void VADLog::ScheduleTrim(bool force) {
  Hold hold(lock_);
  ++pendingChanges_;
  trimDelayMs_ = force || pendingChanges_ > kMaxPendingChanges ? 0 : kTrimDelayMs;
  if (trimRunning_) {
    // A running thread's wait ends early only for a trim due at once: after
    // any other wait it finds the delay set again and waits anew, so a run
    // of changes does not wake it once each. Set rather than pulsed: a
    // change made while the thread is between its look at the delay and its
    // wait is not lost.
    if (trimDelayMs_ == 0) trimEvent_.Set();
    return;
  }
  // A set left over would end the new thread's first wait at once: every
  // change would then start a thread and trim, with no delay at all.
  trimEvent_.Reset();
  // A thread that is not running has left its loop and needs no lock.
  trimThread_.reset();
  trimRunning_ = true;
  trimThread_ = std::make_unique<Vak::Thread>(&VADLog::TrimThreadMain, this, true);
}

bool VADLog::TrimThreadRunning() {
  Hold hold(lock_);
  return trimRunning_;
}

unsigned VADLog::TrimThreadMain(void* self) {
  static_cast<VADLog*>(self)->RunTrimThread();
  return 0;
}

void VADLog::RunTrimThread() {
  for (;;) {
    for (;;) {
      unsigned long delay;
      {
        Hold hold(lock_);
        delay = trimDelayMs_;
        if (delay == 0) break;
        trimDelayMs_ = 0;
      }
      TrimWait wait = trimWait_.load();
      (wait ? wait : &RealTrimWait)(trimEvent_, delay);
    }
    Trim();
    Hold hold(lock_);
    // A change made during the trim sets the delay again.
    if (trimDelayMs_ != 0) continue;
    trimRunning_ = false;
    return;
  }
}

void VADLog::Trim() {
  Hold hold(lock_);
  uint64_t total = finished_.Count() + active_.Count();
  // Oldest leaves first; freeing one can make the entry before it a leaf.
  for (uint64_t i = 0; total > kMaxEntries && i < finished_.Count();) {
    if (!IsLeaf(finished_, i)) {
      ++i;
      continue;
    }
    EntryList::Iterator it = finished_.At(i);
    delete *it;
    finished_.EraseOrdered(it);
    --total;
    if (i > 0) --i;
  }
  for (uint64_t i = 0; total > kMaxEntries && i < active_.Count();) {
    if (!IsLeaf(active_, i)) {
      ++i;
      continue;
    }
    EntryList::Iterator it = active_.At(i);
    if ((*it)->active) break;
    delete *it;
    active_.EraseOrdered(it);
    --total;
    if (i > 0) --i;
  }
  pendingChanges_ = 0;
  trimDelayMs_ = 0;
}

void VADLog::Write(TStream& stream) {
  Hold hold(lock_);
  uint8_t version[2];
  Vak::PutLE16(version, static_cast<uint16_t>(kBlockVersion));
  stream.WriteBytes(version, 2);
  stream.WriteInt(sequence_);
  stream.WriteInt(static_cast<uint32_t>(finished_.Count()));
  for (Entry* entry : finished_) {
    stream.WriteByte(static_cast<uint8_t>(entry->state));
    stream.WriteByte(entry->kuid ? 1 : 0);
    if (entry->kuid) stream.WriteKUID(*entry->kuid);
    stream.WriteString(entry->text);
    stream.WriteByte(entry->depth);
    stream.WriteInt(entry->sequence);
  }
}

bool VADLog::Read(TStream& stream) {
  Hold hold(lock_);
  for (Entry* entry : finished_) delete entry;
  finished_.Clear();
  sequence_ = 0;

  const uint32_t here = stream.Tell();
  const uint32_t size = stream.GetSize();
  uint64_t remaining = size > here ? size - here : 0;
  auto take = [&](uint64_t n) {
    if (n > remaining) return false;
    remaining -= n;
    return true;
  };

  if (!take(2 + 4 + 4)) return false;
  uint8_t version[2] = {};
  stream.ReadBytes(version, 2);
  const uint32_t counter = stream.ReadInt();
  if (static_cast<int16_t>(Vak::GetLE16(version)) != kBlockVersion) return false;
  const uint32_t n = stream.ReadInt();
  if (n > remaining / kMinEntryBytes) return false;

  std::vector<std::unique_ptr<Entry>> entries;
  entries.reserve(n);
  std::vector<char> text;
  for (uint32_t i = 0; i < n; ++i) {
    auto entry = std::make_unique<Entry>();
    if (!take(2)) return false;
    entry->state = stream.ReadByte();
    const uint8_t hasKuid = stream.ReadByte();
    if (entry->state > kError || hasKuid > 1) return false;
    if (hasKuid) {
      if (!take(8)) return false;
      entry->kuid = std::make_unique<KUID>(stream.ReadKUID());
    }
    if (!take(4)) return false;
    const uint32_t length = stream.ReadInt();
    if (length >= kMaxText || !take(length)) return false;
    text.resize(length);
    if (length) stream.ReadBytes(text.data(), length);
    if (length) entry->text = Vak::String(text.data(), length);
    if (!take(1 + 4)) return false;
    entry->depth = stream.ReadByte();
    entry->sequence = stream.ReadInt();
    entries.push_back(std::move(entry));
  }
  if (stream.GetError() != 0) return false;
  for (auto& entry : entries) finished_.Append(entry.release());
  sequence_ = counter;
  return true;
}
