#pragma once
#include "Vak/Bexlorn/Path.h"

namespace Vak {

// The engine's file class; its operations grow here. Paths are File::Path.
class File {
public:
  using Path = FilePath;
};

} // namespace Vak
