#pragma once
// The rules a kind schema may name under "validation": container rules run
// when a container is validated, tag rules when a tag is exported. Each
// reports its findings to the error handler and answers whether it passed.
#include <span>

#include "Vak/Bexlorn/PString.h"
#include "Vak/Bexlorn/File.h"
#include "datamanager/Container.h"

namespace RUZLib {

class MeshData;

template <typename Function>
struct ValidationRule {
  Vak::PString name;
  Function function;
};

// In the order a schema's names are compared with them.
std::span<const ValidationRule<ContainerRule>> ContainerRules();
std::span<const ValidationRule<TagRule>> TagRules();

namespace Rules {

bool UniqueNames(Container* container, const ACSChunkPtr& arguments);
bool HasValidTextureFile(Container* container, const ACSChunkPtr& arguments);

bool IsTracksideType(Tag* tag, const ACSChunkPtr& arguments);
bool NeedCollateMeshes(Tag* tag, const ACSChunkPtr& arguments);
bool IsPositive(Tag* tag, const ACSChunkPtr& arguments);
bool IsNotZero(Tag* tag, const ACSChunkPtr& arguments);
bool ScriptFileExists(Tag* tag, const ACSChunkPtr& arguments);
bool Range(Tag* tag, const ACSChunkPtr& arguments);
bool ArraySize(Tag* tag, const ACSChunkPtr& arguments);
bool NotOwnParent(Tag* tag, const ACSChunkPtr& arguments);
bool MustBeOwnParent(Tag* tag, const ACSChunkPtr& arguments);
bool MustBeInLightContainer(Tag* tag, const ACSChunkPtr& arguments);
bool MustBePaired(Tag* tag, const ACSChunkPtr& arguments);

// The tag's value holds `expected` values (the vector exports' check too);
// passes for configs of builds below 2.89.
bool CheckArraySize(Tag* tag, long expected);

} // namespace Rules

// The folder of the asset being checked: database root, content folder and
// the asset's folder.
Vak::File::Path AssetFolderPath();
// The mesh the data manager loaded for the container, or null.
MeshData* LoadedMeshFor(Container* container);
// The content folder is held as an archive ("<root><content folder>.va").
bool ContentArchiveExists();

} // namespace RUZLib
