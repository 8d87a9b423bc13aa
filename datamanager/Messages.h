#pragma once
// Every string-table entry the code formats, declared once here with the
// kinds of the arguments it is given ('s' text, 'i' integer, 'f' double; see
// CheckedFormat.h). Code names entries only through `Msg`; the texts are in
// the data folder's string table.
#include <span>

namespace RUZLib {

#define RUZ_MESSAGES(X)                        \
  X(kAnimationWithoutMesh, 88, "s")            \
  X(kBadAnimationExtension, 93, "ss")          \
  X(kBadImageExtension, 94, "ss")              \
  X(kBadMeshExtension, 95, "ss")               \
  X(kEmptyValue, 96, "")                       \
  X(kEmptyName, 97, "ss")                      \
  X(kEmptyComboBox, 101, "ss")                 \
  X(kEmptyListBox, 102, "")                    \
  X(kEmptyRequiredText, 103, "ss")             \
  X(kAttachmentOnLoadedMesh, 104, "sss")       \
  X(kUnknownName, 107, "ss")                   \
  X(kNoSmokeEntry, 108, "")                    \
  X(kTraceTag, 109, "ss")                      \
  X(kUnknownContainerType, 110, "s")           \
  X(kKindNotTopLevel, 112, "")                 \
  X(kUnknownChildKind, 113, "s")               \
  X(kMissingCompulsoryTag, 114, "s")           \
  X(kNoKind, 115, "")                          \
  X(kValueNotOffered, 116, "ss")               \
  X(kObsoleteName, 117, "ss")                  \
  X(kNoAttachmentParent, 118, "s")             \
  X(kAliasUsed, 119, "")                       \
  X(kProgressiveMesh, 122, "")                 \
  X(kErrorPrefix, 125, "")                     \
  X(kWarningPrefix, 126, "")                   \
  X(kNotePrefix, 127, "")                      \
  X(kMeshResourceMissing, 131, "s")            \
  X(kMeshLoadFailed, 132, "s")                 \
  X(kTextureMissing, 133, "s")                 \
  X(kMeshLoaded, 138, "")                      \
  X(kAnimationAdded, 139, "")                  \
  X(kAnimationResult4, 140, "s")               \
  X(kAnimationResult3, 141, "s")               \
  X(kAnimationResult2, 142, "s")               \
  X(kAnimationWithoutAnimator, 143, "s")       \
  X(kUnresolvedMeshName, 144, "ss")            \
  X(kCacheFolder, 145, "")                     \
  X(kDuplicateName, 149, "ss")                 \
  X(kNotTracksideType, 153, "sss")             \
  X(kNoTypeTag, 154, "sss")                    \
  X(kNeedsCollateMeshes, 155, "ss")            \
  X(kNegativeValue, 156, "s")                  \
  X(kZeroValue, 157, "s")                      \
  X(kOutOfRange, 158, "sff")                   \
  X(kOwnParentName, 160, "")                   \
  X(kNotMeshTexture, 161, "ss")                \
  X(kMissingLight, 162, "i")                   \
  X(kNoLightsContainer, 163, "")               \
  X(kUnpairedTag, 164, "ss")                   \
  X(kNullKuid, 165, "s")                       \
  X(kUnknownAsset, 166, "s")                   \
  X(kWrongCategory, 167, "s")                  \
  X(kAssetNotPresent, 168, "s")                \
  X(kMissingTextureDescription, 186, "s")      \
  X(kImageSizesDiffer, 189, "")                \
  X(kImageNotPowerOfTwo, 190, "")              \
  X(kUnreadableImage, 191, "s")                \
  X(kMissingScriptFile, 197, "s")              \
  X(kWrongArraySize, 198, "sii")               \
  X(kUnknownAttachment, 199, "sss")            \
  X(kSingleLevel, 200, "s")                    \
  X(kFewPrimitives, 201, "s")                  \
  X(kNoTexturesOrAnimations, 202, "s")         \
  X(kMissingTextureFile, 203, "s")             \
  X(kNoTextureTag, 204, "")

enum class Msg : int {
#define RUZ_MESSAGE_ENUM(name, number, kinds) name = number,
  RUZ_MESSAGES(RUZ_MESSAGE_ENUM)
#undef RUZ_MESSAGE_ENUM
};

struct MessageSpec {
  Msg id;
  int number;
  const char* kinds;  // one ArgKind character per argument
  const char* name;
};

// In entry order.
std::span<const MessageSpec> MessageRegistry();
// Null for an entry the code does not format.
const MessageSpec* FindMessage(int number);
inline int Number(Msg id) { return static_cast<int>(id); }

} // namespace RUZLib
