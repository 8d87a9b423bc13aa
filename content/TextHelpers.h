#pragma once
// Small text operations: matching without regard to ASCII case, lower-casing
// stored names, and replacing a part of a text.
#include "Vak/Bexlorn/PString.h"
#include "Vak/Bexlorn/String.h"

// The longest prefix of the pattern found anywhere in the text. A complete
// match ends the search; atStart tells whether it starts at the text's first
// character (false for anything less than a complete match).
void MatchLengthIgnoreAsciiCase(const char* text, const char* pattern, unsigned& length, bool& atStart);
// Without regard to ASCII case; '?' in the pattern matches any character.
// The text must not end before the pattern; at the pattern's end the result
// is true when prefixOnly is set or the text has ended too.
bool MatchesPatternIgnoreAsciiCase(const char* pattern, const char* text, bool prefixOnly);
// Lower-cases (ASCII letters) up to the first NUL. With no NUL within the
// length, the last byte becomes NUL and the result is false (truncated).
bool LowerCaseBuffer(char* bytes, unsigned length);
void LowerCaseString(Vak::String& text);
// Re-interned; null stays null.
void LowerCasePString(Vak::PString& text);

// The first occurrence of the pattern (exact case) becomes the replacement;
// false when there is none (or the pattern is empty).
bool ReplaceFirst(const char* pattern, Vak::PString& text, const char* replacement);
bool ReplaceFirstf(Vak::PString& text, const char* pattern, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
