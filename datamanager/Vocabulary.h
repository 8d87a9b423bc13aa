#pragma once
// The config-tag vocabulary: the words the config model, its checks and the
// legacy upgrade compare tag names, schema words and values with, interned
// once before the program's main routine so that a comparison is a pointer
// comparison. Created in the order below and released at exit in the
// reverse order. Case matters: a name matches a word only when written
// exactly so.
#include <span>

#include "Vak/Bexlorn/PString.h"

namespace RUZLib::Words {

#define RUZ_WORDS(X) \
  X(kSemicolon, ";") \
  X(kExclamation, "!") \
  X(kDoubleQuote, "\"") \
  X(kDot, ".") \
  X(kDotDot, "..") \
  X(kEllipsis, "...") \
  X(kDotPm, ".pm") \
  X(kZero, "0") \
  X(kZeroPointZero, "0.0") \
  X(kOne, "1") \
  X(kZeroZero, "00") \
  X(kZX, "ZX") \
  X(k1800s, "1800s") \
  X(kAdd, "Add") \
  X(kAlias, "alias") \
  X(kAnim, "anim") \
  X(kAnimKin, "anim.kin") \
  X(kAnimation, "animation") \
  X(kAnimationLoopSpeed, "animation-loop-speed") \
  X(kAssetFilename, "asset-filename") \
  X(kArray, "array") \
  X(kArrayElement, "array-element") \
  X(kAttachment, "attachment") \
  X(kAttachedTrack, "attached-track") \
  X(kAtt, "att") \
  X(kAttParent, "att-parent") \
  X(kAuthor, "author") \
  X(kAutoAnimation, "auto-animation") \
  X(kAutoCreate, "auto-create") \
  X(kCheck, "check") \
  X(kBehavior, "behavior") \
  X(kBool, "bool") \
  X(kBogey, "bogey") \
  X(kBogeyR, "bogey-r") \
  X(kBogeys, "bogeys") \
  X(kBridge, "bridge") \
  X(kDotCache, ".cache") \
  X(kCamera, "camera") \
  X(kCameradefault, "cameradefault") \
  X(kCameralist, "cameralist") \
  X(kCastsShadows, "casts_shadows") \
  X(kCategory, "category") \
  X(kCategoryEra, "category-era") \
  X(kCategoryRegion, "category-region") \
  X(kCategoryClass, "category-class") \
  X(kChunkyTrack, "chunky-track") \
  X(kChunkyMesh, "chunky_mesh") \
  X(kCollateMeshes, "collate-meshes") \
  X(kCombobox, "combobox") \
  X(kIntcombobox, "intcombobox") \
  X(kCMP, "CMP") \
  X(kCompulsory, "compulsory") \
  X(kContactEmail, "contact-email") \
  X(kContactWebsite, "contact-website") \
  X(kContainerType0, "container-type0") \
  X(kClasslibrary, "classlibrary") \
  X(kClass, "class") \
  X(kDatatype, "datatype") \
  X(kDefault, "default") \
  X(kDefaultAmount, "default-amount") \
  X(kDefaultName, "default-name") \
  X(kDescription, "description") \
  X(kUnderDir, "__dir") \
  X(kDisabled, "disabled") \
  X(kDisplayname, "displayname") \
  X(kDoublestring, "doublestring") \
  X(kDoubleTrack, "double-track") \
  X(kDrivercharacter, "drivercharacter") \
  X(kExtensions, "extensions") \
  X(kExtensionsElement, "extensions-element") \
  X(kUnderFilename, "__filename") \
  X(kFloat, "float") \
  X(kFloatlist, "floatlist") \
  X(kFontsize, "fontsize") \
  X(kFrom, "from") \
  X(kGroundtexture, "groundtexture") \
  X(kGroundbrush, "groundbrush") \
  X(kGs, "gs") \
  X(kEffect, "effect") \
  X(kEffects, "effects") \
  X(kEffectAttachment, "effect-attachment") \
  X(kEffectCorona, "effect-corona") \
  X(kElement, "element") \
  X(kElementType, "element-type") \
  X(kEmptyWord, "") \
  X(kEmail, "email") \
  X(kFilepath, "filepath") \
  X(kFilepathedit, "filepathedit") \
  X(kFontcolor, "fontcolor") \
  X(kFilter, "filter") \
  X(kHeight, "height") \
  X(kHidden, "hidden") \
  X(kHornsound, "hornsound") \
  X(kCabinMuffle, "cabin_muffle") \
  X(kHtml, "html") \
  X(kIcon, "icon") \
  X(kIconTexture, "icon-texture") \
  X(kImage, "image") \
  X(kImagelist, "imagelist") \
  X(kInitialCount, "initial-count") \
  X(kInherit, "inherit") \
  X(kInt, "int") \
  X(kInterior, "interior") \
  X(kInternalname, "internalname") \
  X(kIstrack, "istrack") \
  X(kIsbanneron, "isbanneron") \
  X(kIsinputboxon, "isinputboxon") \
  X(kKind, "kind") \
  X(kKuid, "kuid") \
  X(kKuidbrowser, "kuidbrowser") \
  X(kVelmarBuild, "velmar-build") \
  X(kLicense, "license") \
  X(kLights, "lights") \
  X(kListbox, "listbox") \
  X(kMap, "map") \
  X(kMenuName, "menu-name") \
  X(kMesh, "mesh") \
  X(kLight, "light") \
  X(kMeshes, "meshes") \
  X(kMeshElement, "mesh-element") \
  X(kMeshReducingTrack, "mesh-reducing-track") \
  X(kObsoleteTrack, "obsolete-track") \
  X(kMeshTable, "mesh-table") \
  X(kMin, "min") \
  X(kMax, "max") \
  X(kSize, "size") \
  X(kMini, "mini") \
  X(kMocrossing, "mocrossing") \
  X(kMojunction, "mojunction") \
  X(kMosignal, "mosignal") \
  X(kMospeedboard, "mospeedboard") \
  X(kMode0, "mode0") \
  X(kMode1, "mode1") \
  X(kName, "name") \
  X(kNight, "night") \
  X(kNightMeshBase, "night-mesh-base") \
  X(kNoerror, "noerror") \
  X(kNumarray, "numarray") \
  X(kObsoleteTable, "obsolete-table") \
  X(kObsoleteTag, "obsolete-tag") \
  X(kOrganisation, "organisation") \
  X(kParent, "parent") \
  X(kPassengerEntry, "passenger-entry") \
  X(kPantograph, "pantograph") \
  X(kQueues, "queues") \
  X(kRegion, "region") \
  X(kRem, "rem") \
  X(kRemove, "remove") \
  X(kReversed, "reversed") \
  X(kRgb, "rgb") \
  X(kRoad, "road") \
  X(kRotationPermitted, "rotation-permitted") \
  X(kRunningNumbers, "running-numbers") \
  X(kMeshAsset, "mesh-asset") \
  X(kSavingname, "savingname") \
  X(kScenery, "scenery") \
  X(kSceneryTrackside, "scenery-trackside") \
  X(kScript, "script") \
  X(kScriptlibrary, "scriptlibrary") \
  X(kSideplayPermitted, "sideplay-permitted") \
  X(kShadow, "shadow") \
  X(kSmoke, "smoke") \
  X(kSnapmode, "snapmode") \
  X(kSnapgrid, "snapgrid") \
  X(kSound, "sound") \
  X(kSoundscript, "soundscript") \
  X(kSource, "source") \
  X(kSpecificname, "specificname") \
  X(kString, "string") \
  X(kStringkuid, "stringkuid") \
  X(kStringkuidbrowser, "stringkuidbrowser") \
  X(kStringTable, "string-table") \
  X(kSubpossibilities, "subpossibilities") \
  X(kTagarray, "tagarray") \
  X(kThumbnail, "thumbnail") \
  X(kThumbnails, "thumbnails") \
  X(kTopLevel, "top-level") \
  X(kTrack, "track") \
  X(kSpline, "spline") \
  X(kTrackside, "trackside") \
  X(kTraincar, "traincar") \
  X(kTunnel, "tunnel") \
  X(kTurntable, "turntable") \
  X(kType, "type") \
  X(kTooltip, "tooltip") \
  X(kUnknown, "unknown") \
  X(kUnique, "unique") \
  X(kUnitMesh, "unit_mesh") \
  X(kUseadjoiningtracktype, "useadjoiningtracktype") \
  X(kUsername, "username") \
  X(kValidation, "validation") \
  X(kValue, "value") \
  X(kVector2, "vector2") \
  X(kVector3, "vector3") \
  X(kVector4, "vector4") \
  X(kVector5, "vector5") \
  X(kVertices, "vertices") \
  X(kWidth, "width") \
  X(kWebsite, "website") \
  X(kTexture, "texture") \
  X(kQa1, "qa1")

// Personal-detail words repeated as a set of their own, created after the
// vocabulary.
#define RUZ_PERSONAL_WORDS(X) \
  X(kPersonalUsername, "username") \
  X(kPersonalDescription, "description") \
  X(kPersonalLicense, "license") \
  X(kPersonalThumbnail, "thumbnail") \
  X(kPersonalAuthor, "author") \
  X(kPersonalOrganisation, "organisation") \
  X(kPersonalContactEmail, "contact-email") \
  X(kPersonalContactWebsite, "contact-website")

#define RUZ_WORD_DECLARATION(name, text) extern const Vak::PString name;
RUZ_WORDS(RUZ_WORD_DECLARATION)
RUZ_PERSONAL_WORDS(RUZ_WORD_DECLARATION)
#undef RUZ_WORD_DECLARATION

constexpr unsigned kWordCount = 201;
constexpr unsigned kPersonalWordCount = 8;

// The words in order of creation.
std::span<const Vak::PString* const> Vocabulary();
std::span<const Vak::PString* const> PersonalWords();

} // namespace RUZLib::Words
