#pragma once
// What the front end asks about one asset: its status, config, names and
// lists. Each takes the index lock shared for its own duration and answers
// false, empty or 0 for a KUID the index does not hold.
#include <cstdint>

#include "Vak/Bexlorn/PString.h"
#include "Vak/Bexlorn/String.h"
#include "content/ACSChunkPtr.h"
#include "content/KUID.h"
#include "content/KUIDHashTable.h"

class VADAssetInfo;

struct VADAssetStatus {
  // Request mask bits.
  enum : uint32_t { kName = 0x01, kClassText = 0x02, kTexts = 0x04, kTests = 0x08, kArchived = 0x10 };
  // `state` bits.
  enum : uint8_t {
    kUpToDate = 0x01,
    kLocal = 0x04,
    kInstalled = 0x08,
    kBuiltIn = 0x10,
    kStationItem = 0x20,
    kOnStation = 0x40,
    kInArchive = 0x80,
  };
  // `detail` bits.
  enum : uint8_t {
    kOpenForEdit = 0x01,
    kHasErrors = 0x02,
    kHasWarnings = 0x04,
    kMissingDependencies = 0x08,
    kFaultyDependencies = 0x10,
    kHasDependencies = 0x20,
    kHasDependants = 0x40,
    kEditAllowed = 0x80,
  };

  VADAssetStatus() = default;
  VADAssetStatus(const VADAssetStatus& other) { *this = other; }
  VADAssetStatus& operator=(const VADAssetStatus& other);

  // The state byte with the detail byte above it (0x100: open for edit).
  uint32_t Flags() const { return state | (static_cast<uint32_t>(detail) << 8); }

  Vak::String name;
  Vak::String text1;  // the record's name
  uint8_t state = 0;
  uint8_t detail = 0;
  uint8_t commitAllowed : 1 = 0;
  uint8_t listingAllowed : 1 = 0;
  int32_t userId = 0;
  Vak::String text2;  // the region list
  int32_t number = -1;  // the size on disk
  const char* classText = nullptr;
  Vak::String text0;  // the category classes
  uint8_t stateLow : 4 = 0;  // the record's flags, bits 0 to 3
  uint8_t stateByte = 255;  // the local rating
  float build = 0.0f;
  int64_t installTime = 0;
  int64_t modifiedTime = 0;
  bool valid = false;
};

// The archived answer of a record, cached in its flags.
bool VADIsRecordArchived(VADAssetInfo& record);

// False, the status untouched, for an unknown KUID.
bool VADGetAssetStatus(const KUID& kuid, VADAssetStatus& status, uint32_t mask);
// The spec registry's tree when it holds the KUID, else the record's config;
// null without either.
ACSChunkPtr VADGetAssetConfig(const KUID& kuid);
Vak::String VADGetAssetName(const KUID& kuid);
Vak::String VADGetAssetEraList(const KUID& kuid);
Vak::String VADGetAssetRegionList(const KUID& kuid);
// The record's description, else the config's, else (for an asset not
// installed) the download station's.
Vak::String VADGetAssetDescription(const KUID& kuid);
bool VADAssetHasErrors(const KUID& kuid);
bool VADHasFaultyDependencies(const KUID& kuid);
// `uninstalledAnswer` for an unknown KUID, and (when not 0) for an asset
// without any location.
bool VADHasMissingDependencies(const KUID& kuid, int uninstalledAnswer);
bool VADGetObsoletedKuids(const KUID& kuid, KUIDList& list);
bool VADGetDependencies(const KUID& kuid, KUIDList& list);
// The user name of an author id; false when none is known.
bool VADGetAuthorName(int32_t authorId, Vak::PString& name);
// The status command's seven letters (upper case when true): open for edit,
// installed, archived, on the download station, local, missing
// dependencies, errors.
Vak::AnsiString VADStatusLetters(const KUID& kuid);
// The same letters from a status read with mask 255 and the two tests.
Vak::AnsiString VADStatusLetters(const VADAssetStatus& status, bool missingDependencies, bool hasErrors);
