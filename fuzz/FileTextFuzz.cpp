// Text lines and the encoding probe of the engine file, over arbitrary file
// bytes (plain, or in the compressed form). The probe takes a UTF-16
// byte-order mark and nothing else; line by line, in 8-bit text or UTF-16 and
// with any buffer size, the lines read are what the content holds, cut to the
// buffer with the rest of the line dropped, and the reads end where the
// content ends.
// Input: buffer size selector, flags, then the file's bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "Vak/Bexlorn/ByteOrder.h"
#include "Vak/Bexlorn/CodePage.h"
#include "Vak/Bexlorn/File.h"
#include "fuzz/FuzzInputFile.h"

using Vak::File;

namespace {

// Content beyond this (an expanding compressed file) is not walked line by line.
constexpr size_t kMaxContent = 1 << 20;

unsigned long BufferSize(uint8_t selector) {
  return selector < 250 ? selector : 4000 + (selector - 250) * 1000ul;
}

// What one ReadLine stores, and where the next one starts.
struct Line {
  std::string text;
  size_t next = 0;
};

Line Narrow(const std::vector<uint8_t>& content, size_t pos, unsigned long bufferSize) {
  const size_t room = bufferSize - 2;
  Line line;
  bool ended = false;
  while (line.text.size() < room && pos < content.size()) {
    const char c = static_cast<char>(content[pos++]);
    line.text.push_back(c);
    if (c == '\n') {
      ended = true;
      break;
    }
  }
  if (!ended && line.text.size() == room)
    while (pos < content.size() && content[pos++] != '\n') {
    }
  line.next = pos;
  return line;
}

Line Wide(const std::vector<uint8_t>& content, size_t pos, unsigned long bufferSize) {
  const size_t room = bufferSize - 2;
  // A unit takes two bytes; a lone last byte is taken and ends the reading.
  auto unit = [&](char16_t& u) {
    if (pos + 2 > content.size()) {
      pos = content.size();
      return false;
    }
    u = static_cast<char16_t>(Vak::GetLE16(content.data() + pos));
    pos += 2;
    return true;
  };
  std::u16string units;
  bool ended = false;
  char16_t u;
  while (units.size() < room && unit(u)) {
    units.push_back(u);
    if (u == u'\n') {
      ended = true;
      break;
    }
  }
  if (!ended && units.size() == room)
    while (unit(u) && u != u'\n') {
    }
  Line line;
  Vak::CodePage::Utf16ToAnsi(units.data(), units.size(), line.text, '?');
  if (line.text.size() > room) line.text.resize(room);
  line.next = pos;
  return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  static const fuzz::InputFile input("lines.txt");
  const unsigned long bufferSize = BufferSize(data[0]);
  const uint8_t flags = data[1];
  const int encoding = flags % 3;  // own, 8-bit, UTF-16
  const unsigned long mode = flags & 4 ? File::kReadStored : File::kRead;
  const bool probe = flags & 8;
  if (!input.Write(data + 2, size - 2)) return 0;

  // The content as whole reads give it. Damaged compressed content reads
  // differently once read again: a stored block of no bytes makes a read come
  // back empty before the end (the reads after it go on, so lines break
  // there), and a failed block ends all reading for good (a probe that meets
  // it leaves nothing to read). Such content is only read to its end.
  std::vector<uint8_t> content;
  bool damaged = false;
  {
    File file;
    if (!file.Open(input.Path().c_str(), mode).Ok()) return 0;
    static uint8_t block[65536];
    for (size_t rounds = 0; !file.Eof(); ++rounds) {
      if (rounds > size) __builtin_trap();  // every read takes at least one block header
      const unsigned long n = file.Read(block, sizeof block, 1);
      damaged |= n == 0;
      content.insert(content.end(), block, block + n);
      if (content.size() >= kMaxContent) return 0;
    }
    damaged |= file.Size() != content.size();
  }

  File file;
  if (!file.Open(input.Path().c_str(), mode).Ok()) __builtin_trap();
  size_t pos = 0;
  if (probe) {
    file.ProbeEncoding();
    const bool mark = content.size() >= 2 && content[0] == 0xFF && content[1] == 0xFE;
    pos = mark ? 2 : 0;
    if (!damaged && (file.GetEncoding() != (mark ? File::kEncodingUtf16 : File::kEncoding8Bit) || file.Tell() != pos))
      __builtin_trap();
  }
  const bool wide = (encoding == File::kEncodingOwn ? file.GetEncoding() : encoding) == File::kEncodingUtf16;

  // Exact size, so the sanitizer sees a byte stored past the end.
  std::vector<char> buffer(bufferSize ? bufferSize : 1);
  if (bufferSize < 2) {
    const uint32_t at = file.Tell();
    if (file.ReadLine(buffer.data(), bufferSize, encoding) != 0 || file.Tell() != at) __builtin_trap();
    return 0;
  }
  if (damaged) {
    for (size_t rounds = 0; file.ReadLine(buffer.data(), bufferSize, encoding) != 0 || !file.Eof(); ++rounds)
      if (rounds > size + content.size()) __builtin_trap();
    return 0;
  }
  while (pos < content.size()) {
    const Line line = wide ? Wide(content, pos, bufferSize) : Narrow(content, pos, bufferSize);
    const unsigned long n = file.ReadLine(buffer.data(), bufferSize, encoding);
    if (n != line.text.size() || std::memcmp(buffer.data(), line.text.data(), n) != 0 || buffer[n] != 0)
      __builtin_trap();
    if (file.Tell() != line.next) __builtin_trap();
    pos = line.next;
  }
  if (file.ReadLine(buffer.data(), bufferSize, encoding) != 0 || buffer[0] != 0 || !file.Eof()) __builtin_trap();
  return 0;
}
