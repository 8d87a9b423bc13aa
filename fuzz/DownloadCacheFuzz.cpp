// The download cache file as read back from the download folder: whatever
// it holds, a lookup answers only files inside the folder, and removing the
// looked-up entries touches nothing outside it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "Vak/Bexlorn/PString.h"
#include "content/ACSChunkPtr.h"
#include "fuzz/FuzzInputFile.h"
#include "net/DownloadCache.h"
#include "net/UrlRecord.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Vak::PString::cache()->CollectGarbage();
  const std::string& folder = fuzz::ScratchFolder::Get().Path();
  const fuzz::InputFile input(DownloadCache::kFileName);
  if (!input.Write(data, size)) return 0;
  DownloadCache cache;
  cache.Load(folder.c_str());
  const ACSChunkPtr& tree = cache.Tree();
  for (int i = 0; i < tree.GetChildCount() && i < 16; ++i) {
    const UrlRecord url(tree.GetChildName(i).c_str());
    Vak::File::Path found;
    if (cache.Lookup(url, found) != DownloadCache::Hit::kMiss) {
      const std::string path(found);
      if (path.compare(0, folder.size() + 1, folder + "/") != 0) __builtin_trap();
      if (!DownloadCache::IsPlainFileName(path.c_str() + folder.size() + 1)) __builtin_trap();
    }
  }
  std::remove(input.Path().c_str());
  return 0;
}
