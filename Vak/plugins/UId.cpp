#include "Vak/plugins/UId.h"
#include "Vak/Bexlorn/ByteOrder.h"

#include <cstdio>

namespace Vak {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Hex digits from `text`, at most `max` of them, up to the first other character.
uint32_t ReadHex(const char* text, int max) {
  uint32_t value = 0;
  for (int i = 0; i < max; ++i) {
    int d = HexDigit(text[i]);
    if (d < 0) break;
    value = value << 4 | static_cast<uint32_t>(d);
  }
  return value;
}

} // namespace

// Fields are read at fixed positions of a 37-character work buffer; the
// separators become NULs, so each field stops at its own end. Short text
// leaves the rest of the buffer empty, which reads as 0. Braces are not
// skipped: the positions are taken as given.
UId::UId(const char* text) {
  char buffer[37] = {};
  for (int i = 0; text && i < 37 && text[i] != '\0'; ++i) {
    char c = text[i];
    buffer[i] = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  }
  buffer[36] = '\0';
  buffer[8] = buffer[13] = buffer[18] = '\0';

  first = ReadHex(buffer, 8);
  second = static_cast<uint16_t>(ReadHex(buffer + 9, 4));
  third = static_cast<uint16_t>(ReadHex(buffer + 14, 4));
  static const int kPairs[8] = {19, 21, 24, 26, 28, 30, 32, 34};
  for (int i = 0; i < 8; ++i) bytes[i] = static_cast<uint8_t>(ReadHex(buffer + kPairs[i], 2));
}

// The words of the value as it lies in memory (little-endian GUID layout).
uint32_t UId::Word(int i) const {
  switch (i) {
  case 0: return first;
  case 1: return uint32_t{second} | uint32_t{third} << 16;
  default: {
    return GetLE32(bytes + (i - 2) * 4);
  }
  }
}

bool UId::operator==(const UId& other) const {
  for (int i = 0; i < 4; ++i)
    if (Word(i) != other.Word(i)) return false;
  return true;
}

uint32_t UId::Hash() const { return Word(0) ^ Word(1) ^ Word(2) ^ Word(3); }

std::string UId::ToText() const {
  char text[40];
  std::snprintf(text, sizeof text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", first, second, third,
                bytes[0], bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7]);
  return text;
}

} // namespace Vak
