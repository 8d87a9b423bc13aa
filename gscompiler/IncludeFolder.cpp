#include "gscompiler/IncludeFolder.h"

namespace GSCompiler {

bool AddIncludeFolder(IncludeList& list, const char* path, const Vak::PString& substitute) {
  IncludeFolder folder;
  if (!folder.path.Set(path)) return false;
  folder.substitute = substitute;
  list.push_back(folder);
  return true;
}

} // namespace GSCompiler
