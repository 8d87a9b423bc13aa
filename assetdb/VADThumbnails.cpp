#include "assetdb/VADThumbnails.h"

#include <cstdlib>
#include <string>

#include "Vak/Bexlorn/CodePage.h"
#include "Vak/Cindrel/ResourceDatabase.h"
#include "assetdb/AssetArchiveCache.h"
#include "assetdb/VADAssetHandle.h"
#include "assetdb/VADAssetIndex.h"
#include "assetdb/VADAssetInfo.h"
#include "assetdb/VADAssetQueries.h"
#include "assetdb/VADLock.h"
#include "assetdb/VADServices.h"
#include "content/ACSChunkPtr.h"
#include "content/AppGlobals.h"
#include "content/FileHelpers.h"
#include "platform/os/FileSystem.h"

namespace {

using Vak::PString;
using Path = Vak::File::Path;

constexpr int kDefaultSide = 32;
constexpr int kNoEntryDistance = 100000;
// Builds up to this one (times 100) name their images by the old rules.
constexpr int kLastLegacyBuild = 290;

bool RequestThumbnail(const KUID& kuid) {
  VADNetworkService* network = GetVADServices().network;
  return network && network->RequestThumbnail(kuid);
}

// The "thumbnails" entry whose larger side is nearest the size; the first of
// equal distances wins.
PString NearestThumbnail(const ACSChunkPtr& thumbnails, int size) {
  PString image;
  int best = kNoEntryDistance;
  const int count = thumbnails.GetChildCount();
  for (int i = 0; i < count; ++i) {
    const ACSChunkPtr entry = thumbnails.GetChildContainerAt(i);
    if (entry.IsNull()) continue;
    const int width = entry.GetChildInt(PString("width"), kDefaultSide);
    const int height = entry.GetChildInt(PString("height"), kDefaultSide);
    const int side = width > height ? width : height;
    const int distance = std::abs(2 * side - 2 * size);
    if (distance < best) {
      best = distance;
      image = entry.GetChildString(PString("image"));
    }
  }
  return image;
}

bool IsArchived(const VADAssetInfo& record) { return !record.HasLocalFolder() && record.HasArchiveLocation(); }

// The existing file of the name in the folder: itself, else a texture's
// description.
bool Resolve(const VADAssetInfo& record, const Path& folder, const char* name, Path& found) {
  Path candidate(folder);
  candidate.AddPath(name);
  const bool archived = IsArchived(record);
  const auto exists = [&](const char* file) {
    return archived ? FileExists(record.archiveName, file) : platform::Exists(file);
  };
  if (exists(candidate)) {
    found = candidate;
    return true;
  }
  if (!IsExtension(candidate, "texture")) return false;
  const std::string source = std::string(candidate) + ".txt";
  if (!exists(source.c_str())) return false;
  found = Path(source.c_str());
  return true;
}

void SetRootName(const Path& path, Vak::String& rootName) {
  const std::string root(GetDatabaseRootPath());
  std::string text(path);
  if (text.compare(0, root.size(), root) != 0) return;
  text.erase(0, root.size());
  const std::size_t start = text.find_first_not_of("/\\");
  if (start == std::string::npos) return;
  const std::size_t end = text.find_first_of("/\\", start);
  const std::string first =
      Vak::CodePage::AsciiLowered(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
  rootName = first.c_str();
}

bool CachedThumbnail(const KUID& kuid, Path& path) {
  const std::string name = std::string("thumbnails/") + static_cast<const char*>(kuid.ToSpacedText()) + ".jpg";
  const Path cached = InDatabaseRoot(("cache/" + name).c_str());
  if (platform::Exists(cached)) {
    path = cached;
    return true;
  }
  AssetArchiveHold hold(PString("cache"));
  if (!hold.Database() || !hold.Database()->Exists(PString(name.c_str()))) return false;
  path = Path(static_cast<const char*>(hold.Database()->GetFileName(PString(name.c_str())).c_str()));
  return true;
}

}  // namespace

int VADExtractThumbnail(const KUID& kuid, int size, Path& path, Vak::String& rootName) {
  VADLock lock;
  lock.Acquire(false);
  if (CachedThumbnail(kuid, path)) return 1;
  VADAssetInfo* record = gVadAssetIndex.Find(kuid);
  if (!record) return RequestThumbnail(kuid) ? -1 : 0;
  if (!record->HasArchiveLocation() && !record->HasEditingFolder() && !record->HasLocalFolder()) return 0;
  const VADAssetHandle handle = VADOpenAsset(kuid, false, nullptr);
  Path folder;
  if (!handle.IsValid() || !handle.GetPath(folder)) return 0;
  const ACSChunkPtr config = VADGetAssetConfig(kuid);

  Path found;
  const ACSChunkPtr thumbnails = config.GetChildContainer(PString("thumbnails"));
  if (!thumbnails.IsNull()) {
    const PString image = NearestThumbnail(thumbnails, size);
    if (image.Length() == 0 || !Resolve(*record, folder, image.c_str(), found)) return 0;
  } else {
    const float build = config.GetChildFloat(PString("velmar-build"), record->build);
    if (BuildHundredths(build) > kLastLegacyBuild) {
      RequestThumbnail(kuid);
      return 0;
    }
    std::string base = folder.GetFileName();
    const PString fileName = config.GetChildString(PString("asset-filename"));
    if (fileName.Length() > 0) base = fileName.c_str();
    const PString icon = config.GetChildString(PString("icon-texture"));
    const PString face = config.GetChildString(PString("face-texture"));
    if (icon.Length() > 0 || face.Length() > 0) {
      const PString& named = icon.Length() > 0 ? icon : face;
      if (!Resolve(*record, folder, named.c_str(), found)) return 0;
    } else {
      Path art(folder);
      art.AddPath((base + "_art").c_str());
      const std::string artName = base + (size <= 128 ? "_art_icon.texture" : "_art_512.texture");
      if (!Resolve(*record, art, artName.c_str(), found) &&
          !Resolve(*record, folder, (base + ".texture").c_str(), found)) {
        RequestThumbnail(kuid);
        return 0;
      }
    }
  }
  path = found;
  if (!IsArchived(*record)) SetRootName(found, rootName);
  return 1;
}
