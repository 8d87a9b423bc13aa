#include "content/TextHelpers.h"

#include <cstdarg>
#include <cstring>
#include <string>

#include "Vak/Bexlorn/CodePage.h"
#include "Vak/Bexlorn/FormatBuffer.h"

using Vak::CodePage::AsciiLower;

void MatchLengthIgnoreAsciiCase(const char* text, const char* pattern, unsigned& length, bool& atStart) {
  length = 0;
  atStart = false;
  if (!text || !pattern || !*pattern) return;
  for (const char* start = text; *start; ++start) {
    unsigned n = 0;
    while (pattern[n] && start[n] && AsciiLower(start[n]) == AsciiLower(pattern[n])) ++n;
    if (n > length) length = n;
    if (!pattern[n]) {
      atStart = start == text;
      return;
    }
  }
}

bool MatchesPatternIgnoreAsciiCase(const char* pattern, const char* text, bool prefixOnly) {
  if (!pattern || !text) return false;
  for (; *pattern; ++pattern, ++text) {
    if (!*text) return false;
    if (*pattern != '?' && AsciiLower(*pattern) != AsciiLower(*text)) return false;
  }
  return prefixOnly || !*text;
}

bool LowerCaseBuffer(char* bytes, unsigned length) {
  if (!bytes || length == 0) return false;
  for (unsigned i = 0; i < length; ++i) {
    if (!bytes[i]) return true;
    bytes[i] = AsciiLower(bytes[i]);
  }
  bytes[length - 1] = '\0';
  return false;
}

void LowerCaseString(Vak::String& text) {
  std::string copy(text);
  for (char& c : copy) c = AsciiLower(c);
  text = copy.c_str();
}

void LowerCasePString(Vak::PString& text) {
  if (text.IsNull()) return;
  std::string copy(text.c_str(), text.Length());
  for (char& c : copy) c = AsciiLower(c);
  text = copy.c_str();
}

bool ReplaceFirst(const char* pattern, Vak::PString& text, const char* replacement) {
  if (!pattern || !*pattern || text.IsNull()) return false;
  std::string value(text.c_str(), text.Length());
  const std::size_t at = value.find(pattern);
  if (at == std::string::npos) return false;
  value.replace(at, std::strlen(pattern), replacement ? replacement : "");
  text = value.c_str();
  return true;
}

bool ReplaceFirstf(Vak::PString& text, const char* pattern, const char* format, ...) {
  va_list args;
  va_start(args, format);
  Vak::FormatBuffer replacement(format, args);
  va_end(args);
  return ReplaceFirst(pattern, text, replacement.Text());
}
