#include "gscompiler/GSCClass.h"

namespace GSCompiler {

GSCClass::GSCClass() = default;

void GSCClass::LayOut(const std::vector<BaseShape>& directBases) {
  int32_t s = 2;
  int32_t f = 0;
  bases.clear();
  for (const BaseShape& base : directBases) {
    bases.push_back({base.classIndex, s, f, true});
    for (const BaseShape::Inherited& inner : base.bases)
      bases.push_back({inner.classIndex, inner.memberOffset + s, inner.functionOffset + f, false});
    s += base.firstMemberSlot + base.memberCount;
    f += base.firstFunctionSlot + base.functionCount;
  }
  firstMemberSlot = s;
  firstFunctionSlot = f;
}

} // namespace GSCompiler
