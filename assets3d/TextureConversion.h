#pragma once
// What a program installs to convert texture descriptions: the resource type
// "convert-tex.txt" (a description under its working name) and the asset
// database's texture service over it.
//
//   From the program's VakGetPlugins:  RegisterTextureResourceTypes();
//   At start-up:                       static VelmarTextureService textures;
//                                      VADSetTextureService(&textures);
//
// The plug-in list must name the type for the running program:
//   +Plugin=convert-tex.txt:*:<kConvertTexTypeId>:<ResourceTypeBase::kGroup>
#include "assetdb/VADTask.h"

inline constexpr const char* kConvertTexExtension = "convert-tex.txt";
inline constexpr const char* kConvertTexTypeId = "A6805E60-4C54-1278-1111-00010251467D";

// Registers the resource type with the engine (a new one on every call).
void RegisterTextureResourceTypes();

// Opens a description, under its working name in a file set's resource
// database, as a CompressAsciiResource.
class VelmarTextureService : public VADTextureService {
public:
  VADTextureResource* Open(Vak::ResourceDatabase* database, const Vak::PString& fileSet, const char* name) override;
};
