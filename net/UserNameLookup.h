#pragma once
// Names of user ids, for the authors of assets: fixed names for the special
// ids and the maker's own, otherwise a cache that the asset database stores
// in the asset index file. An id the cache does not know is queued for a web
// lookup and shown as "#<id>".
#include <cstdint>
#include <unordered_map>

#include "Vak/Bexlorn/PString.h"
#include "Vak/Bexlorn/Sync.h"
#include "content/ChunkedList.h"
#include "net/UrlRecord.h"

class DownloadTask;
class TStream;

class UserNameLookup {
public:
  struct Record {
    Vak::PString name;  // lower case
    int32_t recordId = 0;
    int32_t userId = 0;
  };

  static constexpr uint32_t kFormatWord = 0;
  // Name length word, record id, user id.
  static constexpr uint32_t kSmallestRecord = 12;
  // Past this many waiting ids the oldest is dropped.
  static constexpr uint64_t kMaxWaiting = 32;
  static constexpr const char* kLookupKey = "userid";

  static UserNameLookup& Global();

  UserNameLookup();
  ~UserNameLookup();
  UserNameLookup(const UserNameLookup&) = delete;
  UserNameLookup& operator=(const UserNameLookup&) = delete;

  // "-" for 0, "unknown" for -2, the maker's name for other negative ids
  // and the maker's own ids, the cached name, else "#<id>" with the id queued.
  // While a download manager exists, each call also takes the names a
  // finished lookup brought into the cache and sends the waiting ids.
  Vak::PString GetName(int32_t userId);

  // The stored block {format word 0, count, records of name, record id, user
  // id}. Read empties the cache first; a refused block (another format word,
  // a corrupt record, a count the stream cannot hold, a truncated record)
  // leaves it empty.
  bool Read(TStream& stream);
  void Write(TStream& stream);
  // Empties the cache and the queues and releases the pending request.
  void Reset();

  // The web service's page that names user ids; a request asks for the ids
  // "userid=<id>,<id>,...", and the reply, a text chunk file, holds a
  // container "users" of entries named by id with the name as text.
  UrlRecord LookupUrl() const;
  bool IsRequestPending();
  uint64_t RecordCount();
  // Ids queued for the next lookup, oldest first (a copy).
  ChunkedList<int32_t, 32> WaitingIds();

private:
  void ResetLocked();
  void Add(const Record& record);
  // Under the lock.
  void PollRequest();

  Vak::CriticalSection lock_{"UserNameLookup"};
  ChunkedList<Record, 13> records_;
  std::unordered_map<int32_t, const Record*> byRecordId_;
  std::unordered_map<int32_t, const Record*> byUserId_;
  std::unordered_map<Vak::PString, const Record*> byName_;
  // Every id queued so far; the ids waiting for a request.
  ChunkedList<int32_t, 128> pending_;
  ChunkedList<int32_t, 32> waiting_;
  DownloadTask* requestTask_ = nullptr;
};
