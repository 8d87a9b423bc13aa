#include "gscompiler/CodeGen.h"

namespace GSCompiler {

bool GenerateLibraryCode(CompileContext& context) {
  (void)context;
  return false;
}

} // namespace GSCompiler
