#include "assetdb/GWSpecRegistry.h"

#include <algorithm>

namespace {

GWSpecRegistry*& Published() {
  static GWSpecRegistry* registry = nullptr;
  return registry;
}

template <typename T>
void RemoveFrom(std::vector<T*>& list, T* item) {
  auto at = std::find(list.begin(), list.end(), item);
  if (at != list.end()) list.erase(at);
}

template <typename T>
bool Contains(const std::vector<T*>& list, const T* item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

} // namespace

GWSpecFactory::GWSpecFactory(const Vak::PString& name) : name_(name) {
  if (GWSpecRegistry* registry = GWSpecRegistry::Instance()) registry->factories_.push_back(this);
}

GWSpecFactory::~GWSpecFactory() {
  if (GWSpecRegistry* registry = GWSpecRegistry::Instance()) RemoveFrom(registry->factories_, this);
}

GWSpecRegistry::GWSpecRegistry() : table_(kBucketCount, 0) {}

GWSpecRegistry::~GWSpecRegistry() {
  // Each delete takes the spec out of its own list, so take from the back.
  while (!active_.empty()) Delete(active_.back());
  while (!invalid_.empty()) Delete(invalid_.back());
  while (!factories_.empty()) {
    GWSpecFactory* factory = factories_.back();
    factories_.pop_back();
    delete factory;
  }
}

GWSpecRegistry* GWSpecRegistry::Create() {
  GWSpecRegistry*& registry = Published();
  if (registry == nullptr) registry = new GWSpecRegistry();
  return registry;
}

void GWSpecRegistry::Destroy() {
  GWSpecRegistry*& published = Published();
  GWSpecRegistry* registry = published;
  // Unpublished first, so that the factories deleted with it leave alone the
  // list being emptied.
  published = nullptr;
  delete registry;
}

GWSpecRegistry* GWSpecRegistry::Instance() { return Published(); }

GlimmerwerkSpec* GWSpecRegistry::Lookup(const KUID& kuid) const {
  KUIDHashTable::Iterator at = table_.Find(kuid);
  if (at.IsEnd()) return nullptr;
  return at.Get<GlimmerwerkSpec::TableKey>()->spec;
}

GlimmerwerkSpec* GWSpecRegistry::Find(const KUID& kuid) {
  GWSpecRegistry* registry = Instance();
  if (registry == nullptr || kuid.IsNull()) return nullptr;
  return registry->Lookup(kuid);
}

GlimmerwerkSpec* GWSpecRegistry::Get(const KUID& kuid) {
  GlimmerwerkSpec* spec = Find(kuid);
  if (spec == nullptr) return nullptr;
  Instance()->Load(spec);
  return spec->IsUsable() ? spec : nullptr;
}

void GWSpecRegistry::Refresh(const KUID& kuid) {
  GlimmerwerkSpec* spec = Find(kuid);
  if (spec == nullptr) return;
  GWSpecRegistry* registry = Instance();
  registry->Load(spec);
  if (spec->IsUsable()) registry->Delete(spec);
}

ACSChunkPtr GWSpecRegistry::GetChunkHandle(const GlimmerwerkSpec* spec) {
  if (spec == nullptr) return ACSChunkPtr();
  return spec->config_;
}

bool GWSpecRegistry::Add(GlimmerwerkSpec* spec) {
  if (spec == nullptr || spec->GetKUID().IsNull() || Lookup(spec->GetKUID()) != nullptr) return false;
  table_.Insert(&spec->key_);
  active_.push_back(spec);
  return true;
}

void GWSpecRegistry::Load(GlimmerwerkSpec* spec) {
  if (spec->loaded_ != 0) return;
  spec->loaded_ = 1;
  spec->Load();
  if ((spec->state_ & GlimmerwerkSpec::kStateFaulty) != 0) {
    spec->state_ &= ~GlimmerwerkSpec::kStateValid;
  } else if (spec->IsValid()) {
    spec->state_ |= GlimmerwerkSpec::kStateValid;
  } else {
    spec->state_ &= ~GlimmerwerkSpec::kStateValid;
  }
  if ((spec->state_ & GlimmerwerkSpec::kStateValid) != 0) {
    spec->Activate();
    return;
  }
  RemoveFromTable(spec);
  RemoveFrom(active_, spec);
  if (!Contains(invalid_, spec)) invalid_.push_back(spec);
}

void GWSpecRegistry::Delete(GlimmerwerkSpec* spec) {
  if (spec == nullptr) return;
  spec->ReleaseArchive();
  RemoveFrom(active_, spec);
  RemoveFrom(invalid_, spec);
  RemoveFromTable(spec);
  spec->ReleaseContents();
  delete spec;
}

void GWSpecRegistry::RemoveFromTable(GlimmerwerkSpec* spec) {
  KUIDHashTable::Iterator at = table_.Find(spec->GetKUID());
  if (!at.IsEnd() && at.Record() == &spec->key_) table_.Erase(at);
}
