#include "gscompiler/GSCClass.h"

namespace GSCompiler {

GSCClass::GSCClass() = default;

} // namespace GSCompiler
