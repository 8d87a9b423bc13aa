#pragma once
// Values of the constant texts that the scanner matches, and the compiler's
// name buffer that receives unquoted texts.
#include <cstdint>

namespace GSCompiler {

// Longest unquoted text; the buffer has room for it and its terminator.
inline constexpr unsigned kNameBufferChars = 2048;
extern char gNameBuffer[kNameBufferChars + 1];

// The text between the quotes of a string or character constant (an L in
// front is skipped), with escapes resolved when asked. At most 2048
// characters of the text are looked at. The result is in gNameBuffer.
const char* UnquoteString(const char* text, bool escapes);

// Numbers as a platform with a 32-bit long reads them in the "C" locale:
// values beyond the int32 range saturate at its limits.
int32_t DecimalConstant(const char* text);  // digits
int32_t HexConstant(const char* text);      // "0x" and hex digits
float FloatConstant(const char* text);      // digits, a point, digits, an optional f

} // namespace GSCompiler
