#include "content/KUID.h"
#include "Vak/Bexlorn/ByteOrder.h"
#include "Vak/Bexlorn/CodePage.h"

#include <cstring>

#include "content/TStream.h"

namespace {

constexpr uint32_t kUserMask = 0x1FFFFFF;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

enum class Number { Read, Absent, OutOfRange };

// One decimal integer as "%d" takes it (leading white space, a sign), but a
// value beyond 32 bits is reported instead of wrapping.
Number ReadNumber(const char*& p, int32_t& out) {
  const char* s = p;
  while (*s == ' ' || (*s >= '\t' && *s <= '\r')) ++s;
  bool negative = false;
  if (*s == '-' || *s == '+') negative = *s++ == '-';
  if (!IsDigit(*s)) return Number::Absent;
  int64_t value = 0;
  bool tooBig = false;
  for (; IsDigit(*s); ++s) {
    if (!tooBig) value = value * 10 + (*s - '0');
    if (value > int64_t(1) << 32) tooBig = true;
  }
  p = s;
  if (negative) value = -value;
  if (tooBig || value < INT32_MIN || value > INT32_MAX) return Number::OutOfRange;
  out = static_cast<int32_t>(value);
  return Number::Read;
}

// Up to `count` integers separated by ':' into `fields`, stopping at the first
// that is missing (the earlier ones stay). False when one is out of range.
bool ReadFields(const char* p, int32_t* const* fields, int count) {
  for (int i = 0; i < count; ++i) {
    if (i > 0) {
      if (*p != ':') return true;
      ++p;
    }
    switch (ReadNumber(p, *fields[i])) {
    case Number::Read: break;
    case Number::Absent: return true;
    case Number::OutOfRange: return false;
    }
  }
  return true;
}

// Strict shape: [-]digits{min}:digits{min}[:digits{min}] then `end` ('>' or 0 for
// "don't care").
bool MatchShape(const char* p, bool sign, int groups, bool needDigits, char end) {
  if (sign && *p == '-') ++p;
  for (int g = 0; g < groups; ++g) {
    if (g > 0 && *p++ != ':') return false;
    const char* start = p;
    while (IsDigit(*p)) ++p;
    if (needDigits && p == start) return false;
  }
  return end == 0 || *p == end;
}

// Only digits, '-' and ':' in [begin, end), with exactly `colons` colons.
bool OnlyNumberChars(const char* begin, const char* end, int colons) {
  int seen = 0;
  for (const char* p = begin; p < end; ++p) {
    if (*p == ':') ++seen;
    else if (!IsDigit(*p) && *p != '-') return false;
  }
  return seen == colons;
}

KUID Checked(const KUID& k) {
  const bool versioned = k.user >= 0 && k.user <= KUID::kMaxUser;
  const bool unversioned = k.user >= KUID::kMinUser && k.user < 0 && k.version == KUID::kMaxVersion;
  if (!(versioned || unversioned) || k.version < 0 || k.version > KUID::kMaxVersion) return KUID::Null();
  return k;
}

KUID ParseTwo(const char* p) {
  KUID k;
  int32_t* fields[] = {&k.user, &k.content};
  if (!ReadFields(p, fields, 2)) return KUID::Null();
  k.version = k.user >= 0 ? 0 : KUID::kMaxVersion;
  return Checked(k);
}

KUID ParseThree(const char* p) {
  KUID k;
  int32_t* fields[] = {&k.user, &k.content, &k.version};
  if (!ReadFields(p, fields, 3)) return KUID::Null();
  if (static_cast<uint32_t>(k.user) > kUserMask) return KUID::Null();
  return Checked(k);
}

KUID ParseContentOnly(const char* p) {
  KUID k;
  int32_t* fields[] = {&k.content};
  if (!ReadFields(p, fields, 1)) return KUID::Null();
  return Checked(k);
}

} // namespace

void KUID::Pack(uint32_t& packed, uint32_t& contentWord) const {
  packed = (static_cast<uint32_t>(user) & kUserMask) | (static_cast<uint32_t>(version) << 25);
  contentWord = static_cast<uint32_t>(content);
}

KUID KUID::Unpack(uint32_t packed, uint32_t contentWord) {
  const uint32_t version = packed >> 25;
  uint32_t low = packed & kUserMask;
  // Bit 24 is the sign only for unversioned ids; with any other version the id
  // cannot be negative, and reading it so would turn a valid id invalid.
  if ((low & 0x1000000) && version == uint32_t(kMaxVersion)) low |= ~kUserMask;
  return KUID(static_cast<int32_t>(low), static_cast<int32_t>(contentWord), static_cast<int32_t>(version));
}

Vak::PString KUID::ToConfigText() const {
  if (IsNull()) return Vak::PString("<NULL>");
  Vak::PString text;
  if (ShortForm()) text.Setf("<kuid:%d:%d>", user, content);
  else text.Setf("<kuid2:%d:%d:%d>", user, content, version);
  return text;
}

Vak::AnsiString KUID::ToShortText() const {
  Vak::AnsiString text;
  if (IsNull()) text = "NULLKUID";
  else if (ShortForm()) text.Setf("%d:%d", user, content);
  else text.Setf("%d:%d:%d", user, content, version);
  return text;
}

Vak::AnsiString KUID::ToSpacedText() const {
  Vak::AnsiString text;
  if (IsNull()) text = "NULLKUID";
  else if (ShortForm()) text.Setf("kuid %d %d", user, content);
  else text.Setf("kuid2 %d %d %d", user, content, version);
  return text;
}

KUID KUID::Parse(const char* text, bool strict) {
  if (text == nullptr || Vak::CodePage::StartsWithIgnoreCase(text, "<null>")) return Null();

  if (Vak::CodePage::StartsWithIgnoreCase(text, "<kuid:")) {
    const char* p = text + 6;
    if (strict && !MatchShape(p, true, 2, false, '>')) return Null();
    return ParseTwo(p);
  }
  if (Vak::CodePage::StartsWithIgnoreCase(text, "<kuid2:")) {
    const char* p = text + 7;
    if (strict && !MatchShape(p, false, 3, true, '>')) return Null();
    return ParseThree(p);
  }
  if (Vak::CodePage::StartsWithIgnoreCase(text, "kuid:")) {
    const char* p = text + 5;
    if (strict && !MatchShape(p, true, 2, true, 0)) return Null();
    return ParseTwo(p);
  }
  if (Vak::CodePage::StartsWithIgnoreCase(text, "kuid2:")) {
    const char* p = text + 6;
    if (strict && !MatchShape(p, true, 2, true, 0)) return Null();
    return ParseThree(p);
  }
  if (strict) return Null();

  const std::size_t length = std::strlen(text);
  const char* end = text + length;
  if (length > 0 && OnlyNumberChars(text, end, 1)) return ParseTwo(text);
  if (length >= 2 && text[0] == '<' && end[-1] == '>' && OnlyNumberChars(text + 1, end - 1, 1))
    return ParseTwo(text + 1);
  if (OnlyNumberChars(text, end, 0)) return ParseContentOnly(text);
  return Null();
}

void KUID::Write(TStream& stream) const {
  uint32_t packed, contentWord;
  Pack(packed, contentWord);
  stream.WriteInt(contentWord);
  stream.WriteInt(packed);
}

KUID KUID::Read(TStream& stream) {
  KUID kuid;
  return Read(stream, kuid) ? kuid : Null();
}

bool KUID::Read(TStream& stream, KUID& out) {
  uint8_t bytes[8];
  if (stream.ReadBytes(bytes, sizeof bytes) != sizeof bytes) return false;
  out = Unpack(Vak::GetLE32(bytes + 4), Vak::GetLE32(bytes));
  return true;
}
