// Reads arbitrary bytes as a keyword dump into a small index: the import
// never fails on a file that exists, touches only the records the file names
// exactly, and leaves every keyword list as the record's own rebuild gives it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "assetdb/VADAssetIndex.h"
#include "assetdb/VADAssetInfo.h"
#include "assetdb/VADKeywords.h"
#include "content/AppGlobals.h"
#include "fuzz/FuzzInputFile.h"
#include "fuzz/NameSweep.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

const KUID kKuids[] = {KUID(1, 1, 0), KUID(1, 2, 3), KUID(-5, 7, 0)};

void Reset() {
  gVadAssetIndex.Clear();
  for (const KUID& kuid : kKuids) {
    VADAssetInfo record;
    record.kuid = kuid;
    record.name = "asset";
    record.keywords = "old";
    if (VADAssetInfo* stored = gVadAssetIndex.Insert(record)) stored->BuildKeywords();
  }
  gVadAssetIndex.ClearDirtyFlags();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fuzz::NameSweep sweep;
  static const bool rooted = SetDatabaseRootPath(fuzz::ScratchFolder::Get().Path().c_str());
  Check(rooted);
  static const fuzz::InputFile input("KeywordsDump.dat");
  if (!input.Write(data, size)) return 0;
  Reset();
  Check(VADImportKeywords(fuzz::ScratchFolder::Get().Path().c_str(), "KeywordsDump.dat", "txt"));
  bool changed = false;
  for (const KUID& kuid : kKuids) {
    VADAssetInfo* record = gVadAssetIndex.Find(kuid);
    Check(record && record->kuid == kuid);
    changed |= std::strcmp(record->keywords, "old") != 0;
    const std::string list(record->keywordList);
    record->BuildKeywords();
    Check(list == std::string(record->keywordList));
  }
  Check(gVadAssetIndex.RecordCount() == sizeof kKuids / sizeof kKuids[0]);
  Check(!changed || (gVadAssetIndex.DirtyFlags() & VADAssetIndex::kDirtyRecords) != 0);
  gVadAssetIndex.Clear();
  gVadAssetIndex.ClearDirtyFlags();
  return 0;
}
