// Reads arbitrary bytes as an asset's "config.txt" in its folder and fills a
// record from it, as a folder scan does: the record must come out within
// what the fields allow, whatever the config holds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "assetdb/CategoryList.h"
#include "assetdb/VADAssetInfo.h"
#include "assetdb/VADRecordConfig.h"
#include "content/AppGlobals.h"
#include "fuzz/FuzzInputFile.h"
#include "fuzz/NameSweep.h"
#include "platform/os/FileSystem.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

// A list of ';'-separated items of 2 or 4 digits, as the indexed era keys
// give it.
bool EraItems(const char* list) {
  unsigned n = 0;
  for (const char* p = list;; ++p) {
    if (*p == ';' || !*p) {
      if (n != 2 && n != 4) return false;
      if (!*p) return true;
      n = 0;
    } else if (*p >= '0' && *p <= '9') {
      ++n;
    } else {
      return false;
    }
  }
}

bool LowerCase(const char* text) {
  for (; *text; ++text)
    if (*text >= 'A' && *text <= 'Z') return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fuzz::NameSweep sweep;
  static const bool rooted = [] {
    const std::string root = fuzz::ScratchFolder::Get().Path();
    platform::MakeFolder((root + "/local").c_str());
    platform::MakeFolder((root + "/local/asset").c_str());
    return SetDatabaseRootPath(root.c_str());
  }();
  Check(rooted);
  static const fuzz::InputFile input("local/asset/config.txt");
  if (!input.Write(data, size)) return 0;

  VADAssetInfo record;
  record.localPath = "local\\asset";
  record.permissions = 0x03;
  ACSChunkPtr config;
  if (!ReadRecordConfig(record, config)) return 0;
  if (!FillFromConfig(config, record, true)) return 0;
  record.BuildKeywords();

  Check(!record.kuid.IsNull());
  Check(record.name.Size() > 0);
  Check((record.permissions & 0x03) == 0x03);
  Check((record.permissions & ~0x1F) == 0);
  Check((record.flags & VADAssetInfo::kInArchiveKnown) == 0);
  Check(record.build == 2.0f || record.build == 1.3f || (record.build >= 1.0f && record.build < 100.01f));
  Check(record.sizeOnDisk == static_cast<int32_t>(size));
  Check(LowerCase(record.keywords));
  const Vak::PString era("category-era");
  if (!config.HasChild(era) && record.eraList.Size() > 0) Check(EraItems(record.eraList));
  if (!CategoryList::HasCode(record.categoryClasses, "SS")) Check(record.mapKuid.IsNull());
  return 0;
}
