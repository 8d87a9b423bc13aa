#include "gscompiler/Semantic.h"

namespace GSCompiler {

int CheckSemantics(CompileUnit& unit, bool, uint32_t* resultFlags) {
  if (resultFlags != nullptr) *resultFlags = 0;
  return unit.errors;
}

} // namespace GSCompiler
