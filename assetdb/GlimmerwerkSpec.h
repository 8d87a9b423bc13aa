#pragma once
// A per-asset spec: the asset's config tree and a few texts, keyed by KUID
// and kept by the spec registry. The registry decides when a spec is loaded,
// checked and activated; a spec class says how.
#include <cstdint>

#include "Vak/Bexlorn/PString.h"
#include "content/ACSChunkPtr.h"
#include "content/KUID.h"
#include "content/VelmarProperty.h"

// One use of the archive that holds a spec's asset; the spec gives it back
// when it is deleted.
class GWSpecArchive {
public:
  virtual void Release() = 0;

protected:
  ~GWSpecArchive() = default;
};

class GlimmerwerkSpec : public IdentifiableType {
public:
  // State bits. Faulty wins over valid: a spec marked faulty is never valid.
  static constexpr uint8_t kStateFaulty = 0x01;
  static constexpr uint8_t kStateValid = 0x02;
  static constexpr int kTextCount = 4;

  explicit GlimmerwerkSpec(const KUID& kuid);
  GlimmerwerkSpec(const GlimmerwerkSpec&) = delete;
  GlimmerwerkSpec& operator=(const GlimmerwerkSpec&) = delete;
  ~GlimmerwerkSpec() override;

  // Reads what the spec needs; the base only marks it dirty.
  virtual void Load();
  virtual bool IsValid() const = 0;
  virtual void Activate() {}

  const KUID& GetKUID() const { return key_.kuid; }
  uint8_t GetState() const { return state_; }
  void SetState(uint8_t state) { state_ = state; }
  // Valid and not faulty.
  bool IsUsable() const { return (state_ & (kStateFaulty | kStateValid)) == kStateValid; }
  bool IsLoaded() const { return loaded_ != 0; }
  bool IsDirty() const { return dirty_ != 0; }

  const Vak::PString& GetText(int index) const { return texts_[index]; }
  void SetText(int index, const Vak::PString& text) { texts_[index] = text; }
  const ACSChunkPtr& GetConfig() const { return config_; }
  void SetConfig(const ACSChunkPtr& config) { config_ = config; }
  // Takes over the caller's use of the archive.
  void SetArchive(GWSpecArchive* archive);

private:
  friend class GWSpecRegistry;

  // What the registry's KUID table points at: the key first, then the spec.
  struct TableKey {
    KUID kuid;
    GlimmerwerkSpec* spec;
  };

  void ReleaseArchive();
  void ReleaseContents();

  TableKey key_;
  uint8_t state_ = 0;
  Vak::PString texts_[kTextCount];
  ACSChunkPtr config_;
  GWSpecArchive* archive_ = nullptr;
  uint8_t loaded_ = 0;
  uint8_t dirty_ = 0;
};
