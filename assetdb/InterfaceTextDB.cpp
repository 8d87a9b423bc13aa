#include "assetdb/InterfaceTextDB.h"

#include "assetdb/SharedLock.h"
#include "content/VelmarEx.h"

namespace {

std::atomic<bool> gLoaded{false};

// Lives for the whole process, so no static destructor can run it down early.
InterfaceTextDB& Table() {
  static InterfaceTextDB* const table = new InterfaceTextDB;
  return *table;
}

void LoadOnce() {
  if (gLoaded.load(std::memory_order_acquire)) return;
  SharedLock& lock = InterfaceTextDB::Lock();
  lock.Acquire(true, -1);
  if (!gLoaded.load(std::memory_order_relaxed)) {
    Table().Load();
    gLoaded.store(true, std::memory_order_release);
  }
  lock.Release();
}

// A tree that holds no entries is as good as none.
bool LoadedSomething(ACSChunkPtr& root, const char* name) {
  return root.Load(InterfaceTextDB::kSubstitute, name) && !root.IsNull() && root.GetChildCount() > 0;
}

} // namespace

InterfaceTextDB::~InterfaceTextDB() {
  scenarioText_.Release();
  specText_.Release();
  mapText_.Release();
  root_.Release();
}

SharedLock& InterfaceTextDB::Lock() {
  static SharedLock* const lock = new SharedLock;
  return *lock;
}

InterfaceTextDB& InterfaceTextDB::Instance() {
  LoadOnce();
  return Table();
}

Vak::PString InterfaceTextDB::GetString(const Vak::PString& tag, bool report) {
  if (tag.Length() == 0) return tag;
  Vak::PString text;
  {
    SharedLock& lock = Lock();
    lock.Acquire(false, -1);
    text = root_.GetChildString(tag);
    lock.Release();
  }
  if (text.Length() != 0 || !report) return text;
  if (reports_.fetch_add(1, std::memory_order_relaxed) < kMaxReports)
    VelmarLogError("InterfaceTextDB::GetString> Tag '%s' not found in '%s'", tag.c_str(), kFileName);
  return tag;
}

void InterfaceTextDB::Load() {
  root_.Release();
  if (!LoadedSomething(root_, kFileName)) {
    VelmarLogError("InterfaceTextDB> failed to load compiled interfacetext file");
    root_.Release();
    if (!LoadedSomething(root_, kTextFileName)) {
      VelmarLogError("InterfaceTextDB> Unable to read interface file '%s'", kFileName);
      root_.Release();
    }
  }
  mapText_ = root_.GetChildContainer(Vak::PString("moxel_map_text"));
  specText_ = root_.GetChildContainer(Vak::PString("moxel_spec_text"));
  scenarioText_ = root_.GetChildContainer(Vak::PString("scenario_text"));
}

Vak::PString GetInterfaceString(const Vak::PString& key) {
  LoadOnce();
  return Table().GetString(key, true);
}
