#include "gscompiler/Types.h"

namespace GSCompiler {

const char* TypeName(int32_t type) {
  static const char* const names[] = {"void",   "bool",  "int",     "float",    "string",   "object", "void[]",
                                      "bool[]", "int[]", "float[]", "string[]", "object[]", "",       "null"};
  return type >= 0 && type <= kTypeNull ? names[type] : "illegal type";
}

std::string TypeText(int32_t type, const char* className) {
  if (IsObjectType(type) && className != nullptr && *className != '\0') {
    return type == kTypeObjectArray ? std::string(className) + "[]" : std::string(className);
  }
  return TypeName(type);
}

const char* OperatorText(int32_t op) {
  static const char* const texts[] = {"--", "++", ".",  "+",  "-",  "!",   "~",  "--",   "++",   "[,]",     "[]",   "()",
                                      "*",  "/",  "%",  "+",  "-",  "<<",  ">>", "<",    ">",    "<=",      ">=",   "==",
                                      "!=", "&",  "^",  "|",  "and", "or", "=",  "size", "isclass", "copy", "new"};
  return op >= 0 && op <= kOpNew ? texts[op] : "";
}

} // namespace GSCompiler
