#include "assetdb/VADIPC.h"

#include <atomic>
#include <cstring>
#include <string>

#include "Vak/Bexlorn/ByteOrder.h"
#include "Vak/Bexlorn/CodePage.h"
#include "Vak/Bexlorn/Thread.h"
#include "Vak/Bexlorn/Time.h"
#include "assetdb/BlockingScreen.h"
#include "content/AppGlobals.h"
#include "content/VelmarEx.h"
#include "platform/os/FileSystem.h"
#include "platform/os/NamedMutex.h"
#include "platform/os/NativePath.h"
#include "platform/os/SharedMemory.h"
#include "platform/os/Waitable.h"

namespace {

constexpr const char kNameBase[] = "09731AC6-B611-4e2a-B181-578073F64F24";
constexpr const char kSharedSuffix[] = "-ipc2";
constexpr const char kIndexFileName[] = "assets.tdx";
constexpr size_t kIndexFileNameLength = sizeof kIndexFileName - 1;
constexpr int32_t kNone = -1;

struct IPCState {
  platform::NamedMutex mutex;
  platform::SharedMemory memory;
  // Null while closed. Set last by IPCOpen and cleared first by IPCClose.
  std::atomic<uint8_t*> record{nullptr};
  int32_t processId = 0;
  std::atomic<bool> creator{false};
  std::atomic<int32_t> localCounter{-1};
};

IPCState& State() {
  static IPCState* const state = new IPCState;  // exit-time code may still close it
  return *state;
}

// Other processes change the record at any moment: each field is read and
// written whole, and stored little-endian whatever the host's order.
uint32_t Load32(uint8_t* record, uint32_t offset) {
  const uint32_t word =
      std::atomic_ref<uint32_t>(*reinterpret_cast<uint32_t*>(record + offset)).load(std::memory_order_acquire);
  uint8_t bytes[4];
  std::memcpy(bytes, &word, 4);
  return Vak::GetLE32(bytes);
}

void Store32(uint8_t* record, uint32_t offset, uint32_t value) {
  uint8_t bytes[4];
  Vak::PutLE32(bytes, value);
  uint32_t word;
  std::memcpy(&word, bytes, 4);
  std::atomic_ref<uint32_t>(*reinterpret_cast<uint32_t*>(record + offset)).store(word, std::memory_order_release);
}

int32_t LoadId(uint8_t* record, uint32_t offset) { return static_cast<int32_t>(Load32(record, offset)); }
void StoreId(uint8_t* record, uint32_t offset, int32_t id) { Store32(record, offset, static_cast<uint32_t>(id)); }

uint8_t Load8(uint8_t* record, uint32_t offset) {
  return std::atomic_ref<uint8_t>(record[offset]).load(std::memory_order_acquire);
}
void Store8(uint8_t* record, uint32_t offset, uint8_t value) {
  std::atomic_ref<uint8_t>(record[offset]).store(value, std::memory_order_release);
}

class MutexHold {
public:
  explicit MutexHold(platform::NamedMutex& mutex) : mutex_(mutex) { mutex_.Lock(platform::kInfinite); }
  ~MutexHold() { mutex_.Unlock(); }
  MutexHold(const MutexHold&) = delete;
  MutexHold& operator=(const MutexHold&) = delete;

private:
  platform::NamedMutex& mutex_;
};

bool IsAlive(int32_t processId) {
  return processId > 0 && Vak::Thread::IsProcessAlive(static_cast<unsigned long>(processId));
}

// Under the mutex: ownership passes to `self` when nobody owns the database
// and nobody else is next in line.
bool TakeWhenFree(uint8_t* record, int32_t self) {
  const int32_t requester = LoadId(record, ipc_record::kRequester);
  if (LoadId(record, ipc_record::kOwner) != kNone || (requester != self && requester != kNone)) return false;
  StoreId(record, ipc_record::kOwner, self);
  StoreId(record, ipc_record::kRequester, kNone);
  return true;
}

void InitialiseRecord(uint8_t* record, int32_t self) {
  StoreId(record, ipc_record::kCreator, self);
  StoreId(record, ipc_record::kOwner, kNone);
  StoreId(record, ipc_record::kRequester, kNone);
  StoreId(record, ipc_record::kChangeCounter, 0);
  Store32(record, ipc_record::kVersion, ipc_record::kCurrentVersion);
  Store8(record, ipc_record::kAttachCount, 1);
  Store32(record, ipc_record::kExclusive, 0);
  Store8(record, ipc_record::kSharedAttachAllowed, 0);
}

// The database folder of an index path: absolute, with the case it has on
// disk, "." and ".." resolved. Empty when the path is refused.
std::string DatabaseFolder(const char* indexPath) {
  if (indexPath == nullptr) return {};
  const size_t length = std::strlen(indexPath);
  if (length < kIndexFileNameLength) return {};
  for (size_t i = 0; i < kIndexFileNameLength; ++i)
    if (Vak::CodePage::AsciiLower(indexPath[length - kIndexFileNameLength + i]) != kIndexFileName[i]) return {};
  // The name and the separator before it go.
  std::string folder(indexPath, length > kIndexFileNameLength ? length - kIndexFileNameLength - 1 : 0);
  for (char& c : folder)
    if (c == '\\') c = '/';
  if (folder.empty() || folder[0] != '/') {
    std::string current;
    if (platform::CurrentFolder(current) != platform::Error::None) return {};
    folder = current + "/" + folder;
  }
  Vak::File::Path path;
  if (!path.Set(folder.c_str()) || !path.Normalize()) return {};
  folder = platform::ResolvePath(path);
  platform::FileInfo info;
  if (platform::Stat(folder.c_str(), info) != platform::Error::None || !info.isFolder) return {};
  return folder;
}

} // namespace

bool IPCFormNames(const char* indexPath, Vak::File::Path& mutexName, Vak::File::Path& sharedName) {
  std::string folder = DatabaseFolder(indexPath);
  if (folder.empty()) return false;
  for (char& c : folder) c = Vak::CodePage::AsciiLower(c);
  Vak::File::Path name(kNameBase);
  if (!name.AddPath(folder.c_str())) return false;
  name.ReplaceBackSlashes();
  Vak::File::Path shared(name);
  if (!shared.AddPath(kSharedSuffix)) return false;
  mutexName = name;
  sharedName = shared;
  return true;
}

bool IPCOpen(const char* indexPath, bool allowShared) {
  IPCState& s = State();
  if (s.record.load() != nullptr) return true;
  Vak::File::Path mutexName, sharedName;
  if (!IPCFormNames(indexPath, mutexName, sharedName)) return false;
  const std::string folder = platform::MachineObjectFolder();
  if (s.mutex.Open(folder.c_str(), platform::MachineObjectFileName(mutexName).c_str()) != platform::Error::None)
    return false;
  s.processId = static_cast<int32_t>(Vak::Thread::GetProcessId());

  bool attached = false;
  {
    // Attaching and counting the attach happen under the mutex, so that no
    // opener sees a record that its creator has not filled yet.
    MutexHold hold(s.mutex);
    bool first = false;
    if (s.memory.Attach(folder.c_str(), sharedName, ipc_record::kSize, first) == platform::Error::None) {
      uint8_t* record = s.memory.Data();
      if (first) {
        InitialiseRecord(record, s.processId);
        s.creator.store(true);
        attached = true;
      } else if (Load32(record, ipc_record::kExclusive) == 0 ||
                 (allowShared && Load8(record, ipc_record::kSharedAttachAllowed) != 0)) {
        const uint8_t count = Load8(record, ipc_record::kAttachCount);
        Store8(record, ipc_record::kAttachCount,
               Load32(record, ipc_record::kVersion) != 0 ? static_cast<uint8_t>(count + 1) : 255);
        attached = true;
      } else if (s.memory.Detach()) {
        s.mutex.Remove();
      }
    }
  }
  if (!attached) {
    s.mutex.Close();
    return false;
  }
  s.localCounter.store(-1);
  s.record.store(s.memory.Data());
  return true;
}

void IPCClose() {
  IPCState& s = State();
  uint8_t* record = s.record.load();
  if (record == nullptr) return;
  {
    MutexHold hold(s.mutex);
    if (LoadId(record, ipc_record::kOwner) == s.processId) StoreId(record, ipc_record::kOwner, kNone);
    // A process that leaves cannot take its turn any more.
    if (LoadId(record, ipc_record::kRequester) == s.processId) StoreId(record, ipc_record::kRequester, kNone);
    if (s.creator.load()) {
      StoreId(record, ipc_record::kCreator, kNone);
      if (Load32(record, ipc_record::kVersion) != 0) {
        Store8(record, ipc_record::kAttachCount, static_cast<uint8_t>(Load8(record, ipc_record::kAttachCount) - 1));
      }
    }
    s.record.store(nullptr);
    // The last to leave takes both files away, the mutex's while it holds it:
    // an opener that waited for it opens the name afresh.
    if (s.memory.Detach()) s.mutex.Remove();
  }
  s.mutex.Close();
  s.creator.store(false);
}

bool IPCIsOpen() { return State().record.load() != nullptr; }

bool IPCTryTakeOwnership(bool request) {
  IPCState& s = State();
  uint8_t* record = s.record.load();
  if (record == nullptr) return false;
  if (LoadId(record, ipc_record::kOwner) == s.processId) return true;
  MutexHold hold(s.mutex);
  if (TakeWhenFree(record, s.processId)) return true;
  if (request && LoadId(record, ipc_record::kRequester) == kNone)
    StoreId(record, ipc_record::kRequester, s.processId);
  return false;
}

void IPCWaitForOwnership() {
  IPCState& s = State();
  uint8_t* record = s.record.load();
  if (record == nullptr || LoadId(record, ipc_record::kOwner) == s.processId) return;
  const int32_t self = s.processId;
  const bool mainThread = IsMainThread();
  BlockingScreen& screen = BlockingScreen::Instance();
  if (mainThread) screen.Show();
  auto step = [&] {
    if (mainThread) screen.Refresh();
    Vak::Time::Delay(kIPCWaitStepMs);
    IPCIdle();
  };
  for (;;) {
    {
      MutexHold hold(s.mutex);
      if (TakeWhenFree(record, self)) break;
      if (LoadId(record, ipc_record::kRequester) == kNone) StoreId(record, ipc_record::kRequester, self);
    }
    // Wait for the turn of whoever is next, then be next.
    for (;;) {
      const int32_t requester = LoadId(record, ipc_record::kRequester);
      if (requester == self) break;
      if (requester == kNone) {
        MutexHold hold(s.mutex);
        if (LoadId(record, ipc_record::kRequester) == kNone) StoreId(record, ipc_record::kRequester, self);
        continue;
      }
      step();
    }
    // Wait for the owner to let go, then take it.
    for (;;) {
      const int32_t owner = LoadId(record, ipc_record::kOwner);
      if (owner == self) break;
      if (owner == kNone) {
        MutexHold hold(s.mutex);
        TakeWhenFree(record, self);
        break;
      }
      step();
    }
    if (LoadId(record, ipc_record::kOwner) == self) break;
  }
  if (mainThread) screen.Hide();
}

void IPCIdle() {
  IPCState& s = State();
  uint8_t* record = s.record.load();
  if (record == nullptr) return;
  const int32_t self = s.processId;
  if (!s.creator.load()) {
    auto gone = [&] {
      const int32_t creator = LoadId(record, ipc_record::kCreator);
      return creator == kNone || !IsAlive(creator);
    };
    if (!gone()) return;
    MutexHold hold(s.mutex);
    if (gone()) {
      StoreId(record, ipc_record::kCreator, self);
      s.creator.store(true);
    }
    return;
  }
  struct Slot {
    uint32_t offset;
    const char* line;
  };
  static constexpr Slot kSlots[] = {
      {ipc_record::kOwner, "IPCIdle> clearing dead database owner (owner processID was %d)\n"},
      {ipc_record::kRequester, "IPCIdle> clearing dead database requester (requester processID was %d)\n"},
  };
  for (const Slot& slot : kSlots) {
    const int32_t id = LoadId(record, slot.offset);
    if (id == kNone || id == self || IsAlive(id)) continue;
    MutexHold hold(s.mutex);
    if (LoadId(record, slot.offset) != id) continue;
    VelmarLogError(slot.line, id);
    StoreId(record, slot.offset, kNone);
  }
  if (LoadId(record, ipc_record::kRequester) == self && LoadId(record, ipc_record::kOwner) == self) {
    MutexHold hold(s.mutex);
    if (LoadId(record, ipc_record::kRequester) == self && LoadId(record, ipc_record::kOwner) == self)
      StoreId(record, ipc_record::kRequester, kNone);
  }
}

bool IPCIsOwner() {
  IPCState& s = State();
  uint8_t* record = s.record.load();
  return record != nullptr && LoadId(record, ipc_record::kOwner) == s.processId;
}

void IPCReleaseOwnership() {
  IPCState& s = State();
  uint8_t* record = s.record.load();
  // Only this process makes itself owner, so the look before the mutex holds.
  if (record == nullptr || LoadId(record, ipc_record::kOwner) != s.processId) return;
  MutexHold hold(s.mutex);
  if (LoadId(record, ipc_record::kOwner) == s.processId) StoreId(record, ipc_record::kOwner, kNone);
}

int32_t IPCLocalChangeCounter() { return State().localCounter.load(); }

void IPCTakeChangeCounter() {
  IPCState& s = State();
  if (uint8_t* record = s.record.load()) s.localCounter.store(LoadId(record, ipc_record::kChangeCounter));
}

bool IPCChangeCounterDiffers() {
  IPCState& s = State();
  uint8_t* record = s.record.load();
  return record != nullptr && s.localCounter.load() != LoadId(record, ipc_record::kChangeCounter);
}

void IPCRaiseChangeCounter() {
  IPCState& s = State();
  uint8_t* record = s.record.load();
  if (record == nullptr) return;
  const int32_t raised = static_cast<int32_t>(Load32(record, ipc_record::kChangeCounter) + 1);
  StoreId(record, ipc_record::kChangeCounter, raised);
  s.localCounter.store(raised);
}

bool IPCReadRecord(IPCRecordFields& fields) {
  uint8_t* record = State().record.load();
  if (record == nullptr) return false;
  fields.creator = LoadId(record, ipc_record::kCreator);
  fields.owner = LoadId(record, ipc_record::kOwner);
  fields.requester = LoadId(record, ipc_record::kRequester);
  fields.changeCounter = LoadId(record, ipc_record::kChangeCounter);
  fields.version = Load32(record, ipc_record::kVersion);
  fields.attachCount = Load8(record, ipc_record::kAttachCount);
  fields.exclusive = Load32(record, ipc_record::kExclusive);
  fields.sharedAttachAllowed = Load8(record, ipc_record::kSharedAttachAllowed);
  return true;
}
