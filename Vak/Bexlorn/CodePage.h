#pragma once
// The kernel's ANSI code page: Windows-1252, from one fixed table, whatever the
// process locale. Every comparison "without regard to case" folds through it.
//
// All 256 bytes map to UTF-16: the five bytes Windows-1252 leaves undefined
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1 controls of the same value, as
// the system's own conversion does, and back.
#include <cstddef>
#include <string>

namespace Vak::CodePage {

// Case folding of one byte: ASCII letters and the letters of Windows-1252;
// other bytes, and letters without a partner in the code page (0xDF, 0xB5,
// 0x83), as they are.
unsigned char ToLower(unsigned char c);
unsigned char ToUpper(unsigned char c);

// ASCII letters only, 'A'-'Z' to 'a'-'z', every other byte as it is: the
// folding of stored names (archive entries, chunk tags, KUID texts), which
// must not depend on the code page.
constexpr char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
inline std::string AsciiLowered(std::string text) {
  for (char& c : text) c = AsciiLower(c);
  return text;
}
// The first n bytes of a and b are the same after AsciiLower; a NUL is a
// byte like any other.
bool AsciiEqualsIgnoreCase(const char* a, const char* b, std::size_t n);

// Three-way comparison of the lower-case forms as unsigned bytes: <0, 0, >0
// like strcmp. The N form compares at most n bytes.
int CompareIgnoreCase(const char* a, const char* b);
int CompareIgnoreCaseN(const char* a, const char* b, std::size_t n);
// The text begins (ends) with the whole prefix (tail), compared as above.
bool StartsWithIgnoreCase(const char* text, const char* prefix);
bool EndsWithIgnoreCase(const char* text, const char* tail);

// One byte to its UTF-16 unit.
char16_t ToUtf16(unsigned char c);
// A UTF-16 unit to its byte; false when the code page has no such character.
bool FromUtf16(char16_t u, unsigned char& out);

// Whole-text conversions. Those that can fail return false and leave `out`
// with what converted so far. `replacement`, when not 0, stands in for each
// character the code page cannot hold (an unpaired surrogate counts as one);
// malformed UTF-8 (overlong forms, surrogates, truncated or stray sequences)
// always fails.
std::u16string AnsiToUtf16(const char* text, std::size_t length);
bool Utf16ToAnsi(const char16_t* text, std::size_t length, std::string& out, char replacement = 0);
std::string AnsiToUtf8(const char* text, std::size_t length);
bool Utf8ToAnsi(const char* text, std::size_t length, std::string& out, char replacement = 0);

} // namespace Vak::CodePage
