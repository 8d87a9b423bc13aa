#include "Vak/Bexlorn/CodePage.h"

#include <cstdint>
#include <cstring>

#include "platform/os/CaseFold.h"

namespace Vak::CodePage {

namespace {

// UTF-16 of the bytes 0x80..0x9F; the rest of the code page is Latin-1.
constexpr char16_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98
};

// Code point to byte; false when the code page has no such character.
bool FromCodePoint(char32_t cp, unsigned char& out) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
    out = static_cast<unsigned char>(cp);
    return true;
  }
  for (unsigned i = 0; i < 32; ++i) {
    if (kHigh[i] == cp) {
      out = static_cast<unsigned char>(0x80 + i);
      return true;
    }
  }
  return false;
}

// Appends the byte for cp, or the replacement; false when neither.
bool Put(char32_t cp, std::string& out, char replacement) {
  unsigned char c;
  if (FromCodePoint(cp, c)) {
    out.push_back(static_cast<char>(c));
    return true;
  }
  if (replacement == 0) return false;
  out.push_back(replacement);
  return true;
}

// Decodes one UTF-8 sequence at text[i]; advances i. False on malformed input:
// stray or missing continuation bytes, overlong forms, surrogates, values past
// U+10FFFF.
bool DecodeUtf8(const unsigned char* text, std::size_t length, std::size_t& i, char32_t& cp) {
  const unsigned char lead = text[i];
  if (lead < 0x80) {
    cp = lead;
    ++i;
    return true;
  }
  unsigned extra;
  char32_t min;
  if (lead >= 0xC2 && lead <= 0xDF) {
    extra = 1, min = 0x80, cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    extra = 2, min = 0x800, cp = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    extra = 3, min = 0x10000, cp = lead & 0x07;
  } else {
    return false;  // continuation byte, C0/C1 (always overlong) or F5..FF
  }
  if (length - i <= extra) return false;
  for (unsigned k = 1; k <= extra; ++k) {
    const unsigned char c = text[i + k];
    if ((c & 0xC0) != 0x80) return false;
    cp = (cp << 6) | (c & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
  i += extra + 1;
  return true;
}

void EncodeUtf8(char32_t cp, std::string& out) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    // The code page reaches no further than the BMP.
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace

unsigned char ToLower(unsigned char c) { return platform::FoldCase(c); }
unsigned char ToUpper(unsigned char c) { return platform::UpperCase(c); }

int CompareIgnoreCaseN(const char* a, const char* b, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char x = ToLower(static_cast<unsigned char>(a[i]));
    const unsigned char y = ToLower(static_cast<unsigned char>(b[i]));
    if (x != y) return x < y ? -1 : 1;
    if (x == 0) break;
  }
  return 0;
}

int CompareIgnoreCase(const char* a, const char* b) { return CompareIgnoreCaseN(a, b, SIZE_MAX); }

bool StartsWithIgnoreCase(const char* text, const char* prefix) {
  return CompareIgnoreCaseN(text, prefix, std::strlen(prefix)) == 0;
}

bool EndsWithIgnoreCase(const char* text, const char* tail) {
  const std::size_t n = std::strlen(text), m = std::strlen(tail);
  return n >= m && CompareIgnoreCase(text + n - m, tail) == 0;
}

bool AsciiEqualsIgnoreCase(const char* a, const char* b, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}

char16_t ToUtf16(unsigned char c) { return c >= 0x80 && c < 0xA0 ? kHigh[c - 0x80] : char16_t{c}; }

bool FromUtf16(char16_t u, unsigned char& out) { return FromCodePoint(u, out); }

std::u16string AnsiToUtf16(const char* text, std::size_t length) {
  std::u16string out;
  out.reserve(length);
  for (std::size_t i = 0; i < length; ++i) out.push_back(ToUtf16(static_cast<unsigned char>(text[i])));
  return out;
}

bool Utf16ToAnsi(const char16_t* text, std::size_t length, std::string& out, char replacement) {
  out.clear();
  out.reserve(length);
  for (std::size_t i = 0; i < length; ++i) {
    char32_t cp = text[i];
    // A surrogate pair is one character (never in the code page); an unpaired
    // surrogate is a character nothing can hold. Either takes one replacement.
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[++i] - 0xDC00);
    }
    if (!Put(cp, out, replacement)) return false;
  }
  return true;
}

std::string AnsiToUtf8(const char* text, std::size_t length) {
  std::string out;
  out.reserve(length);
  for (std::size_t i = 0; i < length; ++i) EncodeUtf8(ToUtf16(static_cast<unsigned char>(text[i])), out);
  return out;
}

bool Utf8ToAnsi(const char* text, std::size_t length, std::string& out, char replacement) {
  out.clear();
  out.reserve(length);
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  for (std::size_t i = 0; i < length;) {
    char32_t cp;
    if (!DecodeUtf8(bytes, length, i, cp)) return false;
    if (!Put(cp, out, replacement)) return false;
  }
  return true;
}

}  // namespace Vak::CodePage
