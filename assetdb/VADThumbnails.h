#pragma once
// Finding the image that shows an asset: a cached ".jpg" first, else one of
// the images its config names. Nothing is converted here; the cached image
// is written by other software.
#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/String.h"
#include "content/KUID.h"

// 1: found, its path in `path`; for a file outside an archive `rootName` gets
// the lower-cased first folder of the path relative to the data root.
// 0: nothing to show. -1: the index does not know the KUID and the download
// station accepted a thumbnail query for it.
int VADExtractThumbnail(const KUID& kuid, int size, Vak::File::Path& path, Vak::String& rootName);
