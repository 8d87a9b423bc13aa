#include "net/VADDownloadStation.h"

#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "Vak/Bexlorn/CodePage.h"
#include "Vak/Bexlorn/PString.h"
#include "Vak/Bexlorn/Time.h"
#include "assetdb/CategoryList.h"
#include "assetdb/VADAssetIndex.h"
#include "assetdb/VADLock.h"
#include "assetdb/VADRecordConfig.h"
#include "content/AppGlobals.h"
#include "content/TStream.h"
#include "content/VelmarEx.h"
#include "net/DownloadManager.h"
#include "net/DownloadTask.h"
#include "net/StoredBlock.h"
#include "net/TextReply.h"
#include "net/WebService.h"
#include "net/WebServiceLogin.h"

namespace {

using Vak::PString;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The next blank-separated token of [p, end): its start and length; p
// moves past it.
bool NextToken(const char*& p, const char* end, const char*& token, std::size_t& length) {
  while (p < end && IsBlank(*p)) ++p;
  if (p == end) return false;
  token = p;
  while (p < end && !IsBlank(*p)) ++p;
  length = static_cast<std::size_t>(p - token);
  return true;
}

std::string ScriptUrl(const char* script) {
  return WebServiceUrl("https", (std::string(kWebServiceScripts) + script).c_str());
}

constexpr const char* kSearchScript = "RecordManager/client.php?LASTRECEIVEDFILE=";
constexpr const char* kMembershipScript = "SFR.php";

} // namespace

bool ParseAssetListLine(const char* line, std::size_t length, AssetListLine& out) {
  const char* p = line;
  const char* end = line + length;
  const char* token = nullptr;
  std::size_t n = 0;
  if (!NextToken(p, end, token, n)) return false;
  // No KUID text is this long; a longer token is no KUID.
  char text[64];
  if (n >= sizeof text) return false;
  std::memcpy(text, token, n);
  text[n] = '\0';
  out.kuid = KUID::Parse(text, false);
  if (out.kuid.IsNull()) return false;
  if (!NextToken(p, end, token, n)) return false;
  out.kind = std::string_view(token, n);
  if (!NextToken(p, end, token, n)) return false;
  // A number of up to 18 digits, so it fits without overflow.
  if (n > 18) return false;
  int64_t number = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (token[i] < '0' || token[i] > '9') return false;
    number = number * 10 + (token[i] - '0');
  }
  out.number = number;
  while (p < end && IsBlank(*p)) ++p;
  const char* nameEnd = end;
  while (nameEnd > p && IsBlank(nameEnd[-1])) --nameEnd;
  out.name = std::string_view(p, static_cast<std::size_t>(nameEnd - p));
  return true;
}

bool ReadSearchReply(const ACSChunkPtr& reply, Vak::String& timestamp, std::vector<UrlRecord>& urls) {
  urls.clear();
  if (reply.IsNull() || !reply.HasChild(PString("timestamp"))) return false;
  timestamp = Vak::String(reply.GetChildString(PString("timestamp")).c_str());
  const ACSChunkPtr files = reply.GetChildContainer(PString("files"));
  const int count = files.IsNull() ? 0 : files.GetChildCount();
  for (int i = 0; i < count; ++i) {
    UrlRecord url(files.GetChildString(PString(std::to_string(i).c_str())).c_str());
    // A text that names no server could never be fetched and would hold
    // back the lists behind it.
    if (url.host[0]) urls.push_back(url);
  }
  return true;
}


VADDownloadStation& VADDownloadStation::Global() {
  static VADDownloadStation station;
  return station;
}

namespace {
// Built before the program's entry, so its worker runs from the start.
[[maybe_unused]] VADDownloadStation& gStationAtStart = VADDownloadStation::Global();
} // namespace

VADDownloadStation::VADDownloadStation(bool startWorker, unsigned long pauseMs) : pauseMs_(pauseMs) {
  if (startWorker && enabled_) StartWorker();
}

VADDownloadStation::~VADDownloadStation() {
  // First: the worker may be inside a step that uses the rest.
  StopWorker();
  ReleaseTasks();
}

uint64_t VADDownloadStation::DefaultTimeStamp() { return Vak::Time::TimeStamp(); }
void VADDownloadStation::DefaultPause(unsigned long milliseconds) { Vak::Time::Delay(milliseconds); }

bool VADDownloadStation::Read(TStream& stream) {
  queue_.Clear();
  const uint32_t size = stream.GetSize();
  const uint32_t version = stream.ReadInt();
  if (stream.GetError()) return false;
  if (version != kFormatVersion) {
    VelmarLogError("VADDownloadStation::Read> unknown file format version %d", static_cast<int>(version));
    return false;
  }
  Vak::String lastFile;
  stream.ReadString(lastFile);
  uint64_t searchTime = stream.ReadInt64();
  const uint32_t count = stream.ReadInt();
  if (!net::CountFits(stream, size, count, kSmallestUrl)) return false;
  if (searchTime > timeStamp_()) {
    VelmarLogError("VADDownloadStation::Read> future-dated timestamp, resetting");
    searchTime = 0;
  }

  DownloadStationUrlList queue;
  for (uint32_t i = 0; i < count; ++i) {
    Vak::PString text;
    if (!net::ReadPStringWithin(stream, size, text)) return false;
    UrlRecord url(text.c_str());
    // A text that names no server (or was refused) could never be fetched,
    // and the list at the queue's head would block those behind it.
    if (!url.host[0]) continue;
    queue.AddFirstFree(url);
    VelmarLogError("VADDownloadStation::Read> queued url: %s", text.c_str());
  }
  lastReceivedFile_ = lastFile;
  lastSearchTime_ = searchTime;
  queue_.Swap(queue);
  return true;
}

void VADDownloadStation::Write(TStream& stream) const {
  stream.WriteInt(kFormatVersion);
  stream.WriteString(lastReceivedFile_);
  stream.WriteInt64(lastSearchTime_);
  stream.WriteInt(static_cast<uint32_t>(queue_.Count()));
  for (const UrlRecord& url : queue_) stream.WritePString(url.Format());
}

void VADDownloadStation::Reset() {
  Clear();
  lastReceivedFile_ = "0";
  retryTime_ = 0;
  lastSearchTime_ = 0;
  retryPending_ = false;
  if (enabled_) StartWorker();
}

void VADDownloadStation::Clear() {
  StopWorker();
  ReleaseTasks();
  queue_.Clear();
}

void VADDownloadStation::ReleaseTasks() {
  ReleaseTask(searchTask_);
  ReleaseTask(listTask_);
  ReleaseTask(membershipTask_);
}

void VADDownloadStation::StartWorker() {
  Vak::SingleLock hold(&stationLock_, true);
  workerRunning_.store(true, std::memory_order_release);
  if (worker_ && !worker_->IsDone()) return;
  worker_.reset();
  stopEvent_.Reset();
  workerSteps_.store(0, std::memory_order_release);
  worker_ = std::make_unique<Vak::Thread>(&WorkerMain, this, true);
}

void VADDownloadStation::StopWorker() {
  Vak::SingleLock hold(&stationLock_, true);
  workerRunning_.store(false, std::memory_order_release);
  stopEvent_.Set();
  // The thread's destructor waits for its function to return.
  worker_.reset();
}

bool VADDownloadStation::IsWorkerRunning() {
  Vak::SingleLock hold(&stationLock_, true);
  return worker_ && !worker_->IsDone();
}

unsigned VADDownloadStation::WorkerMain(void* context) {
  auto* self = static_cast<VADDownloadStation*>(context);
  self->workerThread_.store(std::this_thread::get_id(), std::memory_order_release);
  while (self->workerRunning_.load(std::memory_order_acquire)) {
    self->Idle();
    self->workerSteps_.fetch_add(1, std::memory_order_acq_rel);
    // A timed wait rather than a sleep: StopWorker ends the pause at once.
    self->stopEvent_.Lock(self->pauseMs_);
  }
  return 0;
}

bool VADDownloadStation::RequestUpdate() {
  if (searchTask_) return true;
  retryPending_ = true;
  retryTime_ = 0;
  return false;
}

void VADDownloadStation::Idle() {
  // Without a download manager nothing can be fetched: no index lock is
  // taken.
  DownloadManager* manager = DownloadManager::Instance();
  if (!manager) return;
  VADLock lock;
  lock.Acquire(true, VADLock::kTry | VADLock::kNoRequest);
  if (!lock.IsHeld()) return;
  const float clock = GetAppClock();
  PollSearch(clock);
  if (PollList(lock, clock)) return;
  if (IsListDownloadAllowed() && !listTask_ && !queue_.IsEmpty() && retryTime_ < clock) {
    const UrlRecord& first = *queue_.begin();
    VelmarLogError("VADDownloadStation::Idle> Downloading asset list: %s", first.Format().c_str());
    listTask_ = manager->Request(first, 0, -1);
  }
  PollMembership();
}

void VADDownloadStation::PollSearch(float clock) {
  if (searchTask_ && searchTask_->IsFinished()) {
    Vak::File::Path file;
    PString type;
    if (searchTask_->GetResult(file, type)) {
      ParseSearchResults(file, type.c_str());
    } else {
      VelmarLogError("VADDownloadStation::Idle> Asset update failed '%s'. Retrying in 2 minutes.",
                     searchTask_->GetRequestedUrl().Format().c_str());
      retryPending_ = true;
      retryTime_ = clock + kRetrySeconds;
    }
    ReleaseTask(searchTask_);
  }
  if (!searchTask_ && retryPending_ && retryTime_ < clock) BeginAssetUpdateSearch();
}

bool VADDownloadStation::PollList(VADLock& lock, float clock) {
  if (!listTask_ || !listTask_->IsFinished()) return false;
  Vak::File::Path file;
  PString type;
  if (listTask_->GetResult(file, type)) {
    // The merge takes the index lock run by run of lines.
    lock.Release();
    VelmarLogError("VADDownloadStation::Idle> Parsing asset list '%s'.",
                   listTask_->GetRequestedUrl().Format().c_str());
    const bool merged = LoadAssetList(file);
    VADLock again;
    // A list given up half-way stays queued and is merged again later.
    if (merged && LockIndex(again)) queue_.PopFront();
    ReleaseTask(listTask_);
    return true;
  }
  VelmarLogError("VADDownloadStation::Idle> Failed download of '%s'. Retrying in 2 minutes.",
                 listTask_->GetRequestedUrl().Format().c_str());
  retryTime_ = clock + kRetrySeconds;
  ReleaseTask(listTask_);
  return false;
}

void VADDownloadStation::PollMembership() {
  if (!membershipTask_ || !membershipTask_->IsFinished()) return;
  Vak::File::Path file;
  PString type;
  if (membershipTask_->GetResult(file, type)) {
    ParseStarfareResult(file, type.c_str());
  } else {
    SetMembership(kMembershipNone, 0);
  }
  ReleaseTask(membershipTask_);
}

void VADDownloadStation::BeginAssetUpdateSearch() {
  retryPending_ = false;
  if (timeStamp_() < lastSearchTime_ + kSearchGap) {
    VelmarLogError("VADDownloadStation::BeginAssetUpdateSearch> too soon for auto-update");
    return;
  }
  DownloadManager* manager = DownloadManager::Instance();
  if (!manager) return;
  VelmarLogError("VADDownloadStation::BeginAssetUpdateSearch> starting update");
  const std::string search = ScriptUrl(kSearchScript) + static_cast<const char*>(lastReceivedFile_);
  ReleaseTask(searchTask_);
  searchTask_ = manager->Request(search.c_str(), DownloadTask::kNoShare, -1);
  if (!membershipTask_) membershipTask_ = manager->Request(ScriptUrl(kMembershipScript).c_str(), DownloadTask::kNoShare, -1);
}

void VADDownloadStation::ParseSearchResults(const char* replyFile, const char* /*contentType*/) {
  Vak::String timestamp;
  std::vector<UrlRecord> urls;
  if (!ReadSearchReply(LoadTextReply(replyFile), timestamp, urls)) {
    VelmarLogError("VADDownloadStation::ParseSearchResults> bad data in '%s'", replyFile ? replyFile : "");
    return;
  }
  lastSearchTime_ = timeStamp_();
  lastReceivedFile_ = timestamp;
  for (const UrlRecord& url : urls) Enqueue(url);
  VelmarLogError("VADDownloadStation::ParseSearchResults> %d files", static_cast<int>(urls.size()));
  gVadAssetIndex.MarkDirty(VADAssetIndex::kDirtyRecords);
}

void VADDownloadStation::ParseStarfareResult(const char* replyFile, const char* /*contentType*/) {
  const ACSChunkPtr reply = LoadTextReply(replyFile);
  const PString error = reply.GetChildString(PString("error"));
  if (reply.IsNull() || error.Length() > 0) {
    VelmarLogError("ParseStarfareResult> error '%s'", error.c_str());
    return;
  }
  int32_t active = 0;
  int32_t suspended = 0;
  const ACSChunkPtr tickets = reply.GetChildContainer(PString("tickets"));
  const int count = tickets.IsNull() ? 0 : tickets.GetChildCount();
  for (int i = 0; i < count; ++i) {
    const ACSChunkPtr ticket = tickets.GetChildContainerAt(i);
    if (ticket.IsNull()) continue;
    if (Vak::CodePage::CompareIgnoreCase(ticket.GetChildString(PString("type")).c_str(), "SFR") != 0) continue;
    int32_t days = ticket.GetChildInt(PString("rem"), 0);
    if (ticket.GetChildInt(PString("infinite"), 0) != 0) days = kInfiniteDays;
    int32_t& kept = ticket.GetChildInt(PString("suspended"), 0) != 0 ? suspended : active;
    if (days > kept) kept = days;
  }
  if (active > 0) {
    SetMembership(kMembershipActive, static_cast<float>(active) * kSecondsPerDay);
  } else if (suspended > 0) {
    SetMembership(kMembershipSuspended, 0);
  } else {
    SetMembership(kMembershipNone, 0);
  }
}

namespace {

// The category codes of a kind; a list names few kinds, so each is looked
// up once.
class KindCodes {
public:
  const char* For(std::string_view kind) {
    for (const auto& [known, codes] : codes_)
      if (known == kind) return codes;
    const std::string text(kind);
    codes_.emplace_back(text, CategoryList::CodesForKind(text.c_str(), nullptr));
    return codes_.back().second;
  }

private:
  std::vector<std::pair<std::string, const char*>> codes_;
};

// The caller holds the index lock exclusively.
void MergeListLine(const AssetListLine& line, const char* codes, bool& sortDue) {
  VADAssetInfo* record = gVadAssetIndex.Find(line.kuid);
  if (record) {
    record->UpdateFlags(0, VADAssetInfo::kDownloadStation);
    if (record->downloadNumber == 0) record->downloadNumber = line.number;
    // An asset present here keeps what its own config says.
    if (record->HasAnyLocation()) return;
  }
  const Vak::String name = VADCleanAssetName(std::string(line.name).c_str());
  if (!record) {
    VADAssetInfo added;
    added.kuid = line.kuid;
    added.categoryClasses = codes;
    added.name = name;
    added.flags = VADAssetInfo::kDownloadStation;
    added.downloadNumber = line.number;
    gVadAssetIndex.Add(added);
    sortDue = true;
    return;
  }
  const bool renamed = std::strcmp(record->name, name) != 0;
  // A list sent again mostly repeats what the record holds already.
  if (!renamed && std::strcmp(record->categoryClasses, codes) == 0) return;
  record->name = name;
  record->categoryClasses = codes;
  record->BuildKeywords();
  sortDue = sortDue || renamed;
}

} // namespace

bool VADDownloadStation::LockIndex(VADLock& lock) {
  if (std::this_thread::get_id() != workerThread_.load(std::memory_order_acquire)) {
    lock.Acquire(true);
    return true;
  }
  // Whoever stops the worker may hold the lock while it waits for the worker
  // to end: the worker waits in rounds and gives up once told to stop.
  while (!lock.Acquire(true, VADLock::kTimed).IsHeld())
    if (!workerRunning_.load(std::memory_order_acquire)) return false;
  return true;
}

bool VADDownloadStation::LoadAssetList(const char* path) {
  std::string text;
  gzFile in = path ? gzopen(path, "rb") : nullptr;
  if (in) {
    std::string piece(kListPieceBytes, '\0');
    for (;;) {
      const int n = gzread(in, piece.data(), kListPieceBytes);
      int code = 0;
      const char* message = gzerror(in, &code);
      if (message && *message) VelmarLogError("%s", message);
      if (n <= 0) break;
      text.append(piece.data(), static_cast<std::size_t>(n));
    }
    gzclose(in);
  }

  uint64_t lines = 0;
  bool changed = false;
  bool sortDue = false;
  KindCodes kinds;
  // The index lock is held for a run of lines and let go at each pause, so
  // other threads and processes get in between.
  VADLock lock;
  const char* p = text.data();
  const char* end = p + text.size();
  while (p < end) {
    const char* lineEnd = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
    if (!lineEnd) lineEnd = end;
    const char* start = p;
    p = lineEnd < end ? lineEnd + 1 : end;
    const char* first = start;
    while (first < lineEnd && IsBlank(*first)) ++first;
    if (first == lineEnd) continue;
    AssetListLine line;
    if (ParseAssetListLine(start, static_cast<std::size_t>(lineEnd - start), line)) {
      if (!lock.IsHeld() && !LockIndex(lock)) return false;
      MergeListLine(line, kinds.For(line.kind), sortDue);
      changed = true;
    }
    if (++lines % kLinesPerPause == 0) {
      lock.Release();
      pause_(kLinePauseMs);
    }
  }
  if (!changed) return true;
  if (!lock.IsHeld() && !LockIndex(lock)) return false;
  if (sortDue) gVadAssetIndex.SortByName();
  gVadAssetIndex.MarkDirty(VADAssetIndex::kDirtyRecords);
  return true;
}

void VADDownloadStation::SetMembership(int32_t state, float timeLeft) {
  membershipState_ = state;
  membershipTimeLeft_ = timeLeft;
}

void VADDownloadStation::Enqueue(const UrlRecord& url) {
  for (const UrlRecord& queued : queue_)
    if (queued.Equals(url)) return;
  queue_.Append(url);
}
