#include "assetdb/VADDataFolders.h"

#include <array>

#include "Vak/Bexlorn/File.h"
#include "assetdb/AssetArchiveCache.h"
#include "assetdb/KuidBaseFile.h"
#include "content/AppGlobals.h"

namespace Vak {
class ResourceDatabase;
}

const char* const kVADDataFolders[10] = {"cache",          "trash",          "cache/libraries", "cache/syslibs",
                                         "cache/bookmarks", "cache/sessions", "cache/water",     "local",
                                         "editing",        "settings"};
const char* const kVADFolderArchives[7] = {"data", "video", "local", "trash", "editing", "cache", "settings"};

namespace {

std::array<Vak::ResourceDatabase*, 7> gArchives{};

} // namespace

void VADPrepareDataFolders(const char* root) {
  SetDatabaseRootPath(root);
  KuidBaseFile::Init(GetDatabaseRootPath());
  for (const char* folder : kVADDataFolders) Vak::File::Md(InDatabaseRoot(folder));
  const Vak::File::Path base = InDatabaseRoot("");
  for (std::size_t i = 0; i < gArchives.size(); ++i)
    gArchives[i] = AssetArchiveCache::Acquire(Vak::PString(kVADFolderArchives[i]), base);
  Vak::File::Subst(Vak::PString("scripts"), InDatabaseRoot("scripts/"), false);
  Vak::File::Subst(Vak::PString("libraries"), InDatabaseRoot("libraries/"), false);
}

void VADUnmountDataFolders() {
  for (Vak::ResourceDatabase*& archive : gArchives) {
    if (archive) AssetArchiveCache::Release(archive);
    archive = nullptr;
  }
  Vak::File::Subst(Vak::PString("scripts"), nullptr, false);
}
