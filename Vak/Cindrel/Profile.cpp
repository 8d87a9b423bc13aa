#include "Vak/Cindrel/Profile.h"

#include <mutex>

#include "Vak/Bexlorn/Time.h"

namespace Vak {

namespace {
std::atomic<uint32_t> gMask{0};
std::mutex gRegistryMutex;
ProfileRecord* gRegistry[ProfileScope::kMaxRecords];
std::atomic<unsigned> gCount{0};
thread_local ProfileScope* tCurrent = nullptr;
thread_local int tDepth = 0;

void Register(ProfileRecord& record) {
  std::lock_guard<std::mutex> lock(gRegistryMutex);
  const unsigned count = gCount.load();
  if (record.index.load() >= 0 || count >= ProfileScope::kMaxRecords) return;
  gRegistry[count] = &record;
  record.index.store(static_cast<int>(count));
  gCount.store(count + 1);
}
} // namespace

uint32_t ProfileScope::Ticks() { return static_cast<uint32_t>(static_cast<uint64_t>(Time::GetSeconds() * 1e6)); }

ProfileScope::ProfileScope(ProfileRecord& record) {
  if ((record.mask & gMask.load()) == 0) return;
  record_ = &record;
  parent_ = tCurrent;
  tCurrent = this;
  ++tDepth;
  record.calls.fetch_add(1);
  if (record.index.load() < 0) Register(record);
  start_ = Ticks();
}

ProfileScope::~ProfileScope() {
  if (record_ == nullptr) return;
  // Unsigned differences survive the 32-bit wrap of the ticks.
  const uint32_t elapsed = Ticks() - start_;
  record_->ticks.fetch_add(elapsed - nested_);
  if (parent_) parent_->nested_ += elapsed;
  tCurrent = parent_;
  --tDepth;
}

void ProfileScope::SetMask(uint32_t mask) { gMask.store(mask); }
uint32_t ProfileScope::Mask() { return gMask.load(); }
unsigned ProfileScope::RecordCount() { return gCount.load(); }

ProfileRecord* ProfileScope::Record(unsigned index) {
  std::lock_guard<std::mutex> lock(gRegistryMutex);
  return index < gCount.load() ? gRegistry[index] : nullptr;
}

int ProfileScope::Depth() { return tDepth; }

} // namespace Vak
