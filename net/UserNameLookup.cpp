#include "net/UserNameLookup.h"

#include <climits>
#include <cstdlib>
#include <string>

#include "content/TStream.h"
#include "content/TextHelpers.h"
#include "net/DownloadManager.h"
#include "net/DownloadTask.h"
#include "net/StoredBlock.h"
#include "net/TextReply.h"
#include "net/WebService.h"

namespace {

constexpr int32_t kNoUser = 0;
constexpr int32_t kAnonymousUser = -2;
constexpr int32_t kMakerIds[] = {30501, 401543, 44179, 311512, 407571, 523};

bool IsMakerId(int32_t userId) {
  for (int32_t id : kMakerIds)
    if (id == userId) return true;
  return false;
}

// Interned once; the cache of interned strings outlives every static.
const Vak::PString& Fixed(int which) {
  static const Vak::PString kNames[] = {Vak::PString("-"), Vak::PString("unknown"), Vak::PString("Moxel")};
  return kNames[which];
}
enum { kDash, kUnknown, kMaker };

} // namespace

UserNameLookup& UserNameLookup::Global() {
  static UserNameLookup lookup;
  return lookup;
}

UserNameLookup::UserNameLookup() = default;

UserNameLookup::~UserNameLookup() { ResetLocked(); }

Vak::PString UserNameLookup::GetName(int32_t userId) {
  if (userId == kNoUser) return Fixed(kDash);
  if (userId == kAnonymousUser) return Fixed(kUnknown);
  if (userId < 0 || IsMakerId(userId)) return Fixed(kMaker);
  {
    Vak::SingleLock hold(&lock_, true);
    PollRequest();
    auto found = byUserId_.find(userId);
    if (found != byUserId_.end()) return found->second->name;
    if (pending_.Find(userId).IsEnd()) {
      if (waiting_.Count() > kMaxWaiting) {
        int32_t oldest = 0;
        waiting_.PopFront(&oldest);
        pending_.Remove(oldest);
      }
      if (waiting_.Find(userId).IsEnd()) waiting_.Append(userId);
      pending_.Append(userId);
      PollRequest();
    }
  }
  Vak::PString shown;
  shown.Setf("#%d", static_cast<int>(userId));
  return shown;
}

bool UserNameLookup::Read(TStream& stream) {
  Vak::SingleLock hold(&lock_, true);
  ResetLocked();
  const uint32_t size = stream.GetSize();
  const uint32_t format = stream.ReadInt();
  if (stream.GetError() || format != kFormatWord) return false;
  const uint32_t count = stream.ReadInt();
  if (!net::CountFits(stream, size, count, kSmallestRecord)) return false;
  for (uint32_t i = 0; i < count; ++i) {
    Record record;
    const bool named = net::ReadPStringWithin(stream, size, record.name);
    record.recordId = static_cast<int32_t>(stream.ReadInt());
    record.userId = static_cast<int32_t>(stream.ReadInt());
    const bool truncated = !named || stream.GetError();
    const bool corrupt = record.recordId == -1 || (record.name.Length() == 0 && record.userId == -1);
    if (truncated || corrupt) {
      ResetLocked();
      return false;
    }
    LowerCasePString(record.name);
    Add(record);
  }
  return true;
}

void UserNameLookup::Write(TStream& stream) {
  Vak::SingleLock hold(&lock_, true);
  stream.WriteInt(kFormatWord);
  stream.WriteInt(static_cast<uint32_t>(records_.Count()));
  for (const Record& record : records_) {
    stream.WritePString(record.name);
    stream.WriteInt(static_cast<uint32_t>(record.recordId));
    stream.WriteInt(static_cast<uint32_t>(record.userId));
  }
}

void UserNameLookup::Reset() {
  Vak::SingleLock hold(&lock_, true);
  ResetLocked();
}

void UserNameLookup::ResetLocked() {
  byRecordId_.clear();
  byUserId_.clear();
  byName_.clear();
  records_.Clear();
  pending_.Clear();
  waiting_.Clear();
  ReleaseTask(requestTask_);
}

void UserNameLookup::Add(const Record& record) {
  // Appending never moves a stored record, so the maps may point at them.
  // A later record of the same key replaces the earlier one in its map.
  const Record* stored = &*records_.Append(record);
  byRecordId_[stored->recordId] = stored;
  byUserId_[stored->userId] = stored;
  byName_[stored->name] = stored;
}

UrlRecord UserNameLookup::LookupUrl() const {
  return UrlRecord(WebServiceUrl("http", "/velmar/GameFiles/user_lookup.php").c_str());
}

void UserNameLookup::PollRequest() {
  if (requestTask_) {
    if (!requestTask_->IsFinished()) return;
    Vak::File::Path file;
    Vak::PString type;
    const ACSChunkPtr users =
        requestTask_->GetResult(file, type) ? LoadTextReply(file).GetChildContainer(Vak::PString("users")) : ACSChunkPtr();
    const int count = users.IsNull() ? 0 : users.GetChildCount();
    for (int i = 0; i < count; ++i) {
      const Vak::PString key = users.GetChildName(i);
      char* end = nullptr;
      const long id = std::strtol(key.c_str(), &end, 10);
      Record record;
      record.name = users.GetChildString(key);
      // Ids the fixed names cover never reach the cache.
      if (*end || id <= 0 || id > INT32_MAX || IsMakerId(static_cast<int32_t>(id)) || record.name.Length() == 0) continue;
      if (byUserId_.count(static_cast<int32_t>(id))) continue;
      LowerCasePString(record.name);
      record.recordId = record.userId = static_cast<int32_t>(id);
      Add(record);
    }
    ReleaseTask(requestTask_);
  }
  DownloadManager* manager = DownloadManager::Instance();
  if (!manager || waiting_.IsEmpty()) return;
  std::string url = std::string(LookupUrl().Format().c_str()) + "?" + kLookupKey + "=";
  int32_t id = 0;
  for (bool first = true; waiting_.PopFront(&id); first = false) url += (first ? "" : ",") + std::to_string(id);
  requestTask_ = manager->Request(url.c_str(), DownloadTask::kNoShare, -1);
}

bool UserNameLookup::IsRequestPending() {
  Vak::SingleLock hold(&lock_, true);
  return requestTask_ != nullptr;
}

uint64_t UserNameLookup::RecordCount() {
  Vak::SingleLock hold(&lock_, true);
  return records_.Count();
}

ChunkedList<int32_t, 32> UserNameLookup::WaitingIds() {
  Vak::SingleLock hold(&lock_, true);
  return waiting_;
}
