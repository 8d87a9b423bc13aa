#pragma once
// Names and classes of the script language's type codes (SyntaxNode.h).
#include <cstdint>
#include <string>

#include "gscompiler/SyntaxNode.h"

namespace GSCompiler {

// "void" ... "object[]", "" for no type, "null"; "illegal type" otherwise.
const char* TypeName(int32_t type);
// The type as messages write it: an object type that names a class is the
// class name, with "[]" for object[].
std::string TypeText(int32_t type, const char* className);

inline bool IsArrayType(int32_t type) { return type >= kTypeVoidArray && type <= kTypeObjectArray; }
// The array types that hold elements (bool[] ... object[]).
inline bool IsElementArray(int32_t type) { return type >= kTypeBoolArray && type <= kTypeObjectArray; }
inline bool IsObjectType(int32_t type) { return type == kTypeObject || type == kTypeObjectArray; }
// string, object, the element arrays and null.
inline bool IsReferenceType(int32_t type) {
  return type == kTypeString || type == kTypeObject || IsElementArray(type) || type == kTypeNull;
}
inline bool IsNumericType(int32_t type) { return type == kTypeBool || type == kTypeInt || type == kTypeFloat; }

// The text of an operator code ("++", "[,]", "and", ...), "" for none.
const char* OperatorText(int32_t op);

} // namespace GSCompiler
