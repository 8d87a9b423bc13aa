#pragma once
// The config and record keys of the asset database: one interned string per
// text, so that finding a child of a config chunk tree is a pointer
// comparison. Each key is made on first use, so no static initialiser
// depends on the order of another's; it lives until the program exits.
#include "Vak/Bexlorn/PString.h"

// Accessor name and text, in the order the database first used them. Texts
// that appear twice in that order are one key.
#define VAD_KEYS(X)                                              \
  X(Script, "script")                                            \
  X(Class, "class")                                              \
  X(ScriptLibrary, "scriptlibrary")                              \
  X(ScriptClass, "scriptclass")                                  \
  X(Thumbnails, "thumbnails")                                    \
  X(Thumbnail, "thumbnail")                                      \
  X(Width, "width")                                              \
  X(Height, "height")                                            \
  X(Image, "image")                                              \
  X(Alias, "alias")                                              \
  X(Username, "username")                                        \
  X(Description, "description")                                  \
  X(Kind, "kind")                                                \
  X(Kuid, "kuid")                                                \
  X(KuidTable, "kuid-table")                                     \
  X(Empty, "")                                                   \
  X(ObsoleteTable, "obsolete-table")                             \
  X(Name, "name")                                                \
  X(StringTable, "string-table")                                 \
  X(CategoryRegion, "category-region")                           \
  X(AssetFilename, "asset-filename")                             \
  X(VelmarBuild, "velmar-build")                                 \
  X(Data, "data")                                                \
  X(TextMainLanguage, "$main_language")                          \
  X(TextMiscNoname, "$misc_noname")                              \
  X(TextMiscCustom, "$misc_custom")                              \
  X(TextMiscDefault, "$misc_default")                            \
  X(TextMainDescriptionLanguage, "$main_description_language")   \
  X(TextNwmpNameDefault, "$nwmp_name_default")                   \
  X(TextNwmpProfileDefault, "$nwmp_profile_default")             \
  X(TextMainDefunctNameLanguage, "$main_defunct_name_language")  \
  X(TextMainStringtableLanguage, "$main_stringtable_language")   \
  X(CategoryClass, "category-class")                             \
  X(CategoryRegion0, "category-region-0")                        \
  X(Origin, "origin")                                            \
  X(MeshTable, "mesh-table")                                     \
  X(Region, "region")                                            \
  X(Type, "type")                                                \
  X(IsTrack, "istrack")                                          \
  X(IsRoad, "isroad")                                            \
  X(IsFreeway, "isfreeway")                                      \
  X(Trackside, "trackside")                                      \
  X(Engine, "engine")                                            \
  X(Traincar, "traincar")                                        \
  X(Tender, "tender")                                            \
  X(MoJunction, "mojunction")                                    \
  X(Speedboard, "speedboard")                                    \
  X(Signal, "signal")                                            \
  X(CustomCategoryList, "custom-category-list")                  \
  X(ProductType, "product-type")                                 \
  X(CategoryKeyword, "category-keyword")                         \
  X(Company, "company")                                          \
  X(Privileges, "privileges")                                    \
  X(PermitCommit, "permit-commit")                               \
  X(PermitEdit, "permit-edit")                                   \
  X(PermitListing, "permit-listing")                             \
  X(CategoryEra, "category-era")

namespace VADKeys {

#define VAD_KEY_DECLARE(name, text) const Vak::PString& name();
VAD_KEYS(VAD_KEY_DECLARE)
#undef VAD_KEY_DECLARE

} // namespace VADKeys
