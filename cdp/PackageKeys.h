#pragma once
// The tag names and message parameter names of content packages: one
// interned string per text, so that finding a child of a package tree is a
// pointer comparison. Each is made on first use and lives until the program
// exits.
#include "Vak/Bexlorn/PString.h"

// Accessor name and text.
#define CDP_KEYS(X)                            \
  X(Assets, "assets")                          \
  X(Archive, "archive")                        \
  X(PackageVersion, "package-version")         \
  X(ContentsTable, "contents-table")           \
  X(Files, "files")                            \
  X(Compression, "compression")                \
  X(Alias, "alias")                            \
  X(BridgeTrack, "bridgetrack")                \
  X(Bogey, "bogey")                            \
  X(Bogey1, "bogey-1")                         \
  X(Bogey1R, "bogey-1-r")                      \
  X(EngineSound, "enginesound")                \
  X(EngineSpec, "enginespec")                  \
  X(Interior, "interior")                      \
  X(LZSS, "LZSS")                              \
  X(Dsid, "dsid")                              \
  X(FolderIcon, "folder-icon")                 \
  X(PreviewMeshKuid, "preview-mesh-kuid")      \
  X(MapKuid, "map-kuid")                       \
  X(ProductCategory, "product-category")       \
  X(KuidTable, "kuid-table")                   \
  X(Kind, "kind")                              \
  X(Kuid, "kuid")                              \
  X(ObsoleteTable, "obsolete-table")           \
  X(ObsoletesKuid, "obsoletes-kuid")           \
  X(Thumbnail, "thumbnail")                    \
  X(Engine, "engine")                          \
  X(Cache, ".cache")                           \
  X(FilePath, "file_path")                     \
  X(FolderPath, "folder_path")                 \
  X(FileName, "file_name")                     \
  X(CompType, "comp_type")

namespace CDPKeys {

#define CDP_KEY_DECLARE(name, text) const Vak::PString& name();
CDP_KEYS(CDP_KEY_DECLARE)
#undef CDP_KEY_DECLARE

} // namespace CDPKeys
