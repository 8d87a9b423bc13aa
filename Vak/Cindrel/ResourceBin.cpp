#include "Vak/Cindrel/ResourceBin.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>

#include "Vak/Bexlorn/Time.h"
#include "Vak/Cindrel/Resource.h"
#include "Vak/Cindrel/ResourceDatabase.h"
#include "Vak/Cindrel/ResourceSystem.h"

namespace Vak {

namespace {
constexpr uint64_t kModulus = 0xFFFFFFFFull;  // 2^32 - 1
constexpr uint64_t kMultiplier = 16807;

// An option read as a decimal number: `fallback` when absent, 0 when empty
// or not a number.
float FloatOption(const Options* options, const char* key, float fallback) {
  const Options::Entry* entry = options ? options->Find(key) : nullptr;
  if (entry == nullptr) return fallback;
  const char* text = entry->value;
  while (*text == ' ' || *text == '\t') ++text;
  float value = 0.0f;
  if (std::from_chars(text, text + std::strlen(text), value).ec != std::errc()) return 0.0f;
  return value;
}
} // namespace

// --- Base ------------------------------------------------------------------------

ResourceBin::~ResourceBin() = default;

void ResourceBin::Init(const Options*) {}
void ResourceBin::Process(float) {}
void ResourceBin::Dump() {}

void ResourceBin::AddToTotals(Resource* resource) {
  ResourceSystem* system = ResourceSystem::Current();
  if (system == nullptr || (resource->flags_.fetch_or(Resource::kFlagBinTotals) & Resource::kFlagBinTotals)) return;
  system->GetCounters().inBin.fetch_add(1);
  system->GetCounters().binBytes.fetch_add(resource->KnownSize() + resource->KnownDataSize());
}

void ResourceBin::TakeFromTotals(Resource* resource) {
  ResourceSystem* system = ResourceSystem::Current();
  if (system == nullptr || !(resource->flags_.fetch_and(~Resource::kFlagBinTotals) & Resource::kFlagBinTotals)) return;
  system->GetCounters().inBin.fetch_sub(1);
  system->GetCounters().binBytes.fetch_sub(resource->KnownSize() + resource->KnownDataSize());
}

void ResourceBin::Add(Resource* resource) {
  resource->SetState(Resource::kCached);
  AddToTotals(resource);
}

bool ResourceBin::Reclaim(Resource* resource) {
  TakeFromTotals(resource);
  ResourceSystem::Stats().ready.fetch_add(1);
  resource->SetState(Resource::kReady);
  return true;
}

void ResourceBin::Remove(Resource* resource) { TakeFromTotals(resource); }

// --- Instant bin -----------------------------------------------------------------

bool ResourceBinInstant::Reclaim(Resource*) { return false; }

void ResourceBinInstant::Add(Resource*) {}

// --- Cache bin -------------------------------------------------------------------

ResourceBinCache::ResourceBinCache() { Seed(static_cast<uint32_t>(Time::Ms() + 10)); }

ResourceBinCache::~ResourceBinCache() = default;

void ResourceBinCache::Init(const Options* options) {
  SingleLock lock(&lock_, true);
  now_ = 0.0f;
  lastProcessed_ = 0.0f;
  spread_ = kSpread;
  fraction_ = kFraction;
  processTime_ = FloatOption(options, "ResourceBinProcessTime", kProcessTime);
  oldest_ = FloatOption(options, "ResourceBinOldest", kOldest);
  maxDeleted_ = kMaxDeleted;
  if (options) options->Get("ResourceBinMaxDeleted", maxDeleted_, kMaxDeleted);
}

uint32_t ResourceBinCache::NextRandom(uint32_t state) {
  // In 64 bits the product cannot overflow.
  return static_cast<uint32_t>(kMultiplier * state % kModulus);
}

void ResourceBinCache::Seed(uint32_t state) {
  // 0 (and the modulus itself) would keep the generator at 0 for ever.
  random_ = state % kModulus == 0 ? 1 : state;
}

float ResourceBinCache::Random(float range) {
  random_ = NextRandom(random_);
  return static_cast<float>(static_cast<double>(random_) * range / static_cast<double>(kModulus));
}

bool ResourceBinCache::Take(Resource* resource) {
  auto found = std::find(resources_.begin(), resources_.end(), resource);
  if (found == resources_.end()) return false;
  resources_.erase(found);
  return true;
}

void ResourceBinCache::Add(Resource* resource) {
  SingleLock lock(&lock_, true);
  if (std::find(resources_.begin(), resources_.end(), resource) != resources_.end()) return;
  resource->SetState(Resource::kCached);
  AddToTotals(resource);
  resource->SetPriority(now_ + oldest_ + Random(spread_));  // the expiry
  if (resources_.size() == resources_.capacity()) resources_.reserve((resources_.size() + 1 + 7) / 8 * 8);
  resources_.push_back(resource);
}

bool ResourceBinCache::Reclaim(Resource* resource) {
  SingleLock lock(&lock_, true);
  // Evicted ones (taken out by Process) are not given back.
  if (resource->GetState() == Resource::kDelete || !Take(resource)) return false;
  TakeFromTotals(resource);
  ResourceSystem::Stats().ready.fetch_add(1);
  resource->SetState(Resource::kReady);
  return true;
}

void ResourceBinCache::Remove(Resource* resource) {
  SingleLock lock(&lock_, true);
  Take(resource);
  TakeFromTotals(resource);
}

void ResourceBinCache::Dump() {
  SingleLock lock(&lock_, true);
  for (Resource* resource : resources_) (void)resource;
}

std::size_t ResourceBinCache::Count() {
  SingleLock lock(&lock_, true);
  return resources_.size();
}

bool ResourceBinCache::Holds(const Resource* resource) {
  SingleLock lock(&lock_, true);
  return std::find(resources_.begin(), resources_.end(), resource) != resources_.end();
}

void ResourceBinCache::Process(float dt) {
  std::vector<Resource*> collected;
  {
    SingleLock lock(&lock_, true);
    now_ += dt;
    if (!(now_ - lastProcessed_ > processTime_)) return;
    lastProcessed_ = now_;
    if (resources_.empty()) return;
    // Latest expiry first, so the soonest is at the end.
    std::stable_sort(resources_.begin(), resources_.end(),
                     [](const Resource* a, const Resource* b) { return a->GetPriority() > b->GetPriority(); });
    const std::size_t count = resources_.size();
    const auto n = static_cast<std::size_t>(static_cast<float>(count) * fraction_);
    std::size_t limit = maxDeleted_;
    float slack = 1.0f;
    if (n > maxDeleted_) {
      limit = n;
      slack = maxDeleted_ == 0 ? std::numeric_limits<float>::infinity()
                               : static_cast<float>(n) / static_cast<float>(maxDeleted_);
    }
    limit = std::min(limit, count);
    for (std::size_t i = 0; i < limit; ++i) {
      Resource* resource = resources_.back();
      if (resource->GetPriority() - slack > now_) break;
      resources_.pop_back();
      TakeFromTotals(resource);
      resource->SetState(Resource::kDelete);
      resource->ReleaseDependents();
      resource->AddHold();  // ours until the database has let it go
      collected.push_back(resource);
    }
  }
  // Never holding the bin lock while a database lock is taken.
  for (Resource* resource : collected) {
    bool dropTable = false;
    if (ResourceDatabase* database = resource->GetDatabase()) {
      SingleLock lock(&database->GetLock(), true);
      if (resource->GetDatabase() == database && resource->GetState() == Resource::kDelete &&
          resource->GetUseCount() == 0 && resource->GetLockCount() == 0) {
        database->RemoveResource(resource);
        resource->SetDatabase(nullptr);
        dropTable = true;
      }
    }
    // One taken back from us meanwhile (a Get in between) stays as it is;
    // its database makes it anew on the next Get.
    if (dropTable) resource->ReleaseHold();
    resource->ReleaseHold();
  }
}

} // namespace Vak
