#include "gscompiler/Driver.h"

namespace GSCompiler {

const char* LanguageDocument() { return "TODO"; }

} // namespace GSCompiler
