#pragma once
// One folder of the compiler's include search: a path of at most
// Vak::File::Path's length and an optional substitute name (empty for every
// folder the compiler makes itself).
#include <vector>

#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/PString.h"

namespace GSCompiler {

struct IncludeFolder {
  Vak::File::Path path;
  Vak::PString substitute;
};

using IncludeList = std::vector<IncludeFolder>;

// Appends the folder; a path that does not fit is not added (false).
bool AddIncludeFolder(IncludeList& list, const char* path, const Vak::PString& substitute = Vak::PString());

} // namespace GSCompiler
