#pragma once
// The spec registry: the specs of assets keyed by KUID, the specs found
// invalid, and the factories that make specs. One instance, published by
// Create and withdrawn by Destroy; every look-up misses while none exists.
//
// Not locked: callers hold the index lock.
#include <vector>

#include "Vak/Bexlorn/PString.h"
#include "assetdb/GlimmerwerkSpec.h"
#include "content/ACSChunkPtr.h"
#include "content/KUID.h"
#include "content/KUIDHashTable.h"

class GWSpecFactory {
public:
  // Joins the published registry's factory list, when there is one.
  explicit GWSpecFactory(const Vak::PString& name);
  GWSpecFactory(const GWSpecFactory&) = delete;
  GWSpecFactory& operator=(const GWSpecFactory&) = delete;
  // Leaves the registry's factory list.
  virtual ~GWSpecFactory();

  virtual GlimmerwerkSpec* Create(const KUID& kuid) = 0;

  const Vak::PString& GetName() const { return name_; }

private:
  Vak::PString name_;
};

class GWSpecRegistry {
public:
  static constexpr unsigned kBucketCount = 4093;

  GWSpecRegistry(const GWSpecRegistry&) = delete;
  GWSpecRegistry& operator=(const GWSpecRegistry&) = delete;

  // Builds an empty registry and publishes it; an existing one is kept.
  static GWSpecRegistry* Create();
  // Deletes every spec and factory it holds and withdraws it.
  static void Destroy();
  static GWSpecRegistry* Instance();

  // The spec of `kuid` as the table holds it, loaded or not; none for the
  // null KUID.
  static GlimmerwerkSpec* Find(const KUID& kuid);
  // The spec of `kuid`, loaded, when it is valid and not faulty.
  static GlimmerwerkSpec* Get(const KUID& kuid);
  // Drops a usable spec of `kuid` so that the next use sees the asset anew.
  static void Refresh(const KUID& kuid);
  // The spec's config tree with a reference of the caller's own.
  static ACSChunkPtr GetChunkHandle(const GlimmerwerkSpec* spec);

  // Takes the spec into the table and the active list; false, and the
  // caller keeps it, for the null KUID or a KUID already present.
  bool Add(GlimmerwerkSpec* spec);
  // Loads the spec once: valid ones are activated, invalid ones move to the
  // invalid list.
  void Load(GlimmerwerkSpec* spec);
  // Takes the spec out of every list and the table and deletes it.
  void Delete(GlimmerwerkSpec* spec);

  static unsigned BucketOf(const KUID& kuid) { return KUIDHashTable::BucketIndex(kuid, kBucketCount); }

  const std::vector<GlimmerwerkSpec*>& ActiveSpecs() const { return active_; }
  const std::vector<GlimmerwerkSpec*>& InvalidSpecs() const { return invalid_; }
  const std::vector<GWSpecFactory*>& Factories() const { return factories_; }
  const KUIDHashTable& Table() const { return table_; }

private:
  friend class GWSpecFactory;

  GWSpecRegistry();
  ~GWSpecRegistry();

  GlimmerwerkSpec* Lookup(const KUID& kuid) const;
  void RemoveFromTable(GlimmerwerkSpec* spec);

  std::vector<GlimmerwerkSpec*> active_;
  std::vector<GlimmerwerkSpec*> invalid_;
  std::vector<GWSpecFactory*> factories_;
  KUIDHashTable table_;
};
