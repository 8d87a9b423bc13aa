#include "net/FTPReply.h"

#include <cstring>

namespace FTPReply {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The three digits of `code` begin the line.
bool HasCode(const char* line, int code) {
  if (code < 100 || code > 999 || !line) return false;
  const char digits[3] = {static_cast<char>('0' + code / 100), static_cast<char>('0' + code / 10 % 10),
                          static_cast<char>('0' + code % 10)};
  return line[0] == digits[0] && line[1] == digits[1] && line[2] == digits[2];
}

// A decimal number of at most three digits whose value is 0-255.
bool ReadByte(const char*& p, int& value) {
  if (!IsDigit(*p)) return false;
  value = 0;
  int digits = 0;
  while (IsDigit(*p)) {
    if (++digits > 3) return false;
    value = value * 10 + (*p++ - '0');
  }
  return value <= 255;
}

} // namespace

LineKind Classify(const char* line, int code) {
  if (!HasCode(line, code)) return LineKind::kOther;
  if (line[3] == ' ') return LineKind::kFinal;
  if (line[3] == '-') return LineKind::kContinued;
  return LineKind::kOther;
}

bool ParsePassivePort(const char* line, int32_t& port) {
  port = 0;
  if (!line || std::strlen(line) < 3) return false;
  const char* p = line + 3;
  while (*p && !IsDigit(*p)) ++p;
  int numbers[6];
  for (int i = 0; i < 6; ++i) {
    if (i > 0) {
      if (*p != ',') return false;
      ++p;
    }
    if (!ReadByte(p, numbers[i])) return false;
  }
  port = numbers[4] * 256 + numbers[5];
  return port != 0;
}

SizeKind ParseSize(const char* line, int32_t& size) {
  size = 0;
  if (!line || std::strlen(line) < 3) return SizeKind::kNone;
  const char* p = line + 3;
  while (*p == ' ' || *p == '\t') ++p;
  if (!IsDigit(*p)) return SizeKind::kNone;
  int64_t value = 0;
  for (; IsDigit(*p); ++p) {
    value = value * 10 + (*p - '0');
    if (value > INT32_MAX) return SizeKind::kTooLarge;
  }
  size = static_cast<int32_t>(value);
  return SizeKind::kSize;
}

bool IsSafeArgument(const char* text, size_t length) {
  if (!text) return false;
  for (size_t i = 0; i < length; ++i)
    if (text[i] == '\r' || text[i] == '\n' || text[i] == 0) return false;
  return true;
}

bool IsSafeArgument(const char* text) { return text && IsSafeArgument(text, std::strlen(text)); }

} // namespace FTPReply
