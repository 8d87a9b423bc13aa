#include "assetdb/VADKeywords.h"

#include <cstring>

#include "Vak/Bexlorn/File.h"
#include "assetdb/VADAssetIndex.h"
#include "assetdb/VADAssetInfo.h"
#include "assetdb/VADLock.h"
#include "content/ACSChunkPtr.h"
#include "content/DynamicBuffer.h"
#include "content/FileHelpers.h"
#include "content/KUID.h"
#include "content/TStream.h"
#include "content/TextChunkFile.h"

namespace {

bool IsTextFormat(const char* format) { return format && std::strcmp(format, "txt") == 0; }

// The folder is a folder of the file system here, never a substitute name.
bool OpenFile(Vak::File& file, const char* folder, const char* name, unsigned long mode) {
  Vak::File::Path path(folder && *folder ? folder : "");
  if (!path.AddPath(name)) return false;
  return file.Open(path, mode).Ok();
}

bool LoadTree(ACSChunkPtr& tree, const char* folder, const char* name, const char* format) {
  if (!name) return false;
  if (!IsTextFormat(format)) return tree.Load(folder, name);
  Vak::File file;
  if (!OpenFile(file, folder, name, Vak::File::kRead)) return false;
  TFile stream(&file);
  ReadChunkFileText(tree, stream, false);
  return true;
}

bool SaveTree(const ACSChunkPtr& tree, const char* folder, const char* name, const char* format) {
  if (!name) return false;
  if (!IsTextFormat(format)) return tree.Save(folder, name);
  DynamicBuffer buffer;
  {
    TBuffer stream(&buffer);
    WriteChunkFileText(tree, stream);
  }
  Vak::File::Path path(folder && *folder ? folder : "");
  return path.AddPath(name) && WriteWholeFile(path, buffer.Data(), buffer.Size());
}

}  // namespace

bool VADBackupKeywords(const char* folder, const char* fileName, const char* format) {
  ACSChunkPtr tree;
  tree.MakeContainer();
  {
    VADLock lock;
    lock.Acquire(false);
    for (uint64_t n = 0;; ++n) {
      const VADAssetInfo* record = gVadAssetIndex.RecordAt(n);
      if (!record) break;
      tree.SetChildString(record->kuid.ToConfigText(), record->KeywordList());
    }
  }
  return SaveTree(tree, folder, fileName, format);
}

bool VADImportKeywords(const char* folder, const char* fileName, const char* format) {
  ACSChunkPtr tree;
  if (!LoadTree(tree, folder, fileName, format)) return false;
  // Exclusive, and the index marked changed: the records are written, and
  // an unmarked change would never reach the index file.
  VADLock lock;
  lock.Acquire(true);
  bool changed = false;
  const int count = tree.GetChildCount();
  for (int i = 0; i < count; ++i) {
    const Vak::PString name = tree.GetChildName(i);
    const KUID kuid = KUID::Parse(name.c_str(), false);
    if (kuid.IsNull()) continue;
    VADAssetInfo* record = gVadAssetIndex.Find(kuid);
    if (!record || record->kuid != kuid) continue;
    const Vak::PString text = tree.GetChildString(name);
    if (std::strcmp(record->keywords, text.c_str()) == 0) continue;
    record->keywords = text.c_str();
    record->BuildKeywords();
    changed = true;
  }
  if (changed) gVadAssetIndex.MarkDirty(VADAssetIndex::kDirtyRecords);
  return true;
}
