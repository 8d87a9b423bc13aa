// Reads of the content streams, run by a script against one content held
// four ways: in memory, in a file, scrambled behind a seed in memory, and
// through a plain scrambling stream over a file. Every read, string, line,
// identifier, seek and end test must give what a simple model of the content
// gives, whatever the read-ahead buffer holds. Writing through a scrambling
// stream must store the seed and each byte as the scrambling rule makes it,
// and read back unchanged.
// Input: repeat count, script length, seed (4 bytes), script, payload; the
// content is the payload repeated, so short inputs reach past the read-ahead.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "Vak/Bexlorn/ByteOrder.h"
#include "content/DynamicBuffer.h"
#include "content/KUID.h"
#include "content/TStream.h"
#include "content/TStreamObfuscated.h"
#include "fuzz/FuzzInputFile.h"
#include "fuzz/NameSweep.h"

namespace {

constexpr size_t kMaxContent = 1 << 16;

uint8_t RotateRight(uint8_t v, unsigned n) {
  n &= 7;
  return n ? static_cast<uint8_t>(v >> n | v << (8 - n)) : v;
}

// The stored byte of plain byte b at position p of the inner stream.
uint8_t Scrambled(uint32_t p, uint8_t b, uint32_t seed) {
  const uint8_t key = RotateRight(static_cast<uint8_t>(seed), (p / 3) & 7);
  return static_cast<uint8_t>(static_cast<uint8_t>(p) ^ RotateRight(b, (p + seed) & 7) ^ key);
}

// What one step gave: bytes and a number.
struct Outcome {
  std::string bytes;
  uint64_t value = 0;
  bool operator==(const Outcome&) const = default;
};

// The content with a position. Past the end (after a skip beyond it) every
// read gives nothing and the position is not compared.
struct Model {
  const std::vector<uint8_t>& content;
  size_t pos = 0;
  bool beyond = false;
  bool error = false;

  size_t Left() const { return beyond ? 0 : content.size() - pos; }
  std::string Take(size_t n) {
    const size_t got = n < Left() ? n : Left();
    std::string out(reinterpret_cast<const char*>(content.data() + pos), got);
    pos += got;
    return out;
  }
  std::string TakeAll(size_t n) {
    std::string out = Take(n);
    if (out.size() < n) error = true;
    return out;
  }
  void Skip(uint64_t n) {
    if (beyond) return;
    if (pos + n > content.size()) beyond = true;
    else pos += n;
  }
  uint32_t Int() {
    std::string b = TakeAll(4);
    b.resize(4, '\0');
    return Vak::GetLE32(reinterpret_cast<const uint8_t*>(b.data()));
  }
};

uint64_t KUIDValue(const KUID& k) {
  return uint64_t(uint32_t(k.user)) << 32 ^ uint64_t(uint32_t(k.content)) << 7 ^ uint64_t(uint32_t(k.version));
}

// One step on the model; false when the step does not apply in this state.
bool Expect(Model& m, uint8_t op, uint8_t arg, Outcome& out) {
  const size_t size = m.content.size();
  switch (op) {
  case 0: out.bytes = m.TakeAll(arg); break;
  case 1: out.bytes = m.TakeAll(arg * 17u); break;
  case 2: out.bytes = m.TakeAll(arg * 257u); break;
  case 3: out.bytes = m.Take(arg * 17u); break;
  case 4: out.value = m.Int(); break;
  case 5: out.bytes = m.TakeAll(1); break;
  case 6: out.bytes = m.Take(1); break;
  case 7:
    if (m.beyond || m.pos == 0) return false;
    --m.pos;
    break;
  case 8:
    for (std::string c; !(c = m.Take(1)).empty();)
      if (c[0] != ' ' && c[0] != '\t') {
        --m.pos;
        break;
      }
    break;
  case 9: {
    char end = 0;
    for (std::string c; !(c = m.Take(1)).empty();) {
      if (c[0] == '\r' || c[0] == '\n') {
        end = c[0];
        break;
      }
      out.bytes += c;
    }
    if (end) {
      const std::string c = m.Take(1);
      if (!c.empty() && !((c[0] == '\r' || c[0] == '\n') && c[0] != end)) --m.pos;
    }
    out.bytes = out.bytes.c_str();  // a string's text ends at a NUL
    break;
  }
  case 10:
  case 11: {
    // A length of 0x10000 or more is skipped.
    const uint32_t n = m.Int();
    if (n == 0) break;
    if (n > 0xFFFF) {
      m.Skip(n);
      break;
    }
    out.bytes = m.TakeAll(n).c_str();
    break;
  }
  case 12: {
    const std::string b = m.TakeAll(8);
    const auto* p = reinterpret_cast<const uint8_t*>(b.data());
    out.value = KUIDValue(b.size() < 8 ? KUID::Null() : KUID::Unpack(Vak::GetLE32(p + 4), Vak::GetLE32(p)));
    break;
  }
  case 13:
    m.pos = arg * size / 255;
    m.beyond = false;
    break;
  case 14:
    if (m.beyond) return false;
    m.pos = arg * size / 255;
    break;
  case 15:
    m.pos = size - arg * size / 255;
    m.beyond = false;
    break;
  case 16: out.value = (m.beyond || m.pos >= size) | uint64_t(size) << 1; break;
  }
  return true;
}

// The same step on a stream whose content starts `base` bytes in.
Outcome Run(TStream& s, uint32_t base, const Model& m, uint8_t op, uint8_t arg) {
  Outcome out;
  const size_t size = m.content.size();
  auto read = [&](uint32_t n, bool buffered) {
    out.bytes.resize(n);
    const uint32_t got = buffered ? s.ReadBuffered(n, out.bytes.data()) : s.ReadBytes(out.bytes.data(), n);
    out.bytes.resize(got);
  };
  switch (op) {
  case 0: read(arg, false); break;
  case 1: read(arg * 17u, false); break;
  case 2: read(arg * 257u, false); break;
  case 3: read(arg * 17u, true); break;
  case 4: out.value = s.ReadInt(); break;
  case 5: read(1, false); break;
  case 6: {
    // A NUL byte and the end both read as 0; only the byte moves the position.
    const uint32_t at = s.Tell();
    const char c = s.ReadChar();
    if (s.Tell() != at) out.bytes.assign(1, c);
    break;
  }
  case 7: s.UnreadChar(); break;
  case 8: s.SkipBlanks(); break;
  case 9: {
    Vak::String line;
    s.ReadLine(line);
    out.bytes.assign(line, line.Size());
    break;
  }
  case 10: {
    Vak::String text;
    s.ReadString(text);
    out.bytes.assign(text, text.Size());
    break;
  }
  case 11: {
    Vak::PString text;
    s.ReadPString(text);
    out.bytes = text.c_str();
    break;
  }
  case 12: out.value = KUIDValue(s.ReadKUID()); break;
  case 13: s.SeekBuffered(base + arg * size / 255, TStream::kBegin); break;
  case 14: s.SeekBuffered(int64_t(arg * size / 255) - int64_t(m.pos), TStream::kCurrent); break;
  case 15: s.SeekBuffered(arg * size / 255, TStream::kEnd); break;
  case 16: {
    const bool end = s.AtEnd();
    out.value = end | uint64_t(s.GetSize() - base) << 1;
    break;
  }
  }
  return out;
}

void CheckScrambledWrite(const std::vector<uint8_t>& content, const std::string& script) {
  TBuffer inner;
  TStreamObfuscated writer;
  writer.Open(true, &inner, TStreamObfuscated::kScrambled);
  const uint32_t seed = writer.Seed();
  for (size_t done = 0, i = 0; done < content.size(); ++i) {
    const size_t want = script.empty() ? content.size() : 1 + static_cast<uint8_t>(script[i % script.size()]) * 17u;
    const uint32_t n = static_cast<uint32_t>(want < content.size() - done ? want : content.size() - done);
    if (writer.WriteBytes(content.data() + done, n) != n) __builtin_trap();
    done += n;
  }
  uint8_t byte;
  if (writer.Read(&byte, 1) != 0 || writer.GetError() != TStreamObfuscated::kWrongDirection) __builtin_trap();

  const DynamicBuffer& stored = inner.GetBuffer();
  if (stored.Size() != 4 + content.size() || Vak::GetLE32(stored.Data()) != seed) __builtin_trap();
  for (size_t i = 0; i < content.size(); ++i)
    if (stored.Data()[4 + i] != Scrambled(static_cast<uint32_t>(4 + i), content[i], seed)) __builtin_trap();

  inner.Seek(0, TStream::kBegin);
  TStreamObfuscated reader;
  reader.Open(false, &inner, TStreamObfuscated::kScrambled);
  std::vector<uint8_t> back(content.size() + 1);
  if (reader.ReadBuffered(static_cast<uint32_t>(back.size()), back.data()) != content.size() ||
      (!content.empty() && std::memcmp(back.data(), content.data(), content.size()) != 0))
    __builtin_trap();
  if (reader.Write(&byte, 1) != 0 || reader.GetError() != TStreamObfuscated::kWrongDirection) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fuzz::NameSweep sweep;
  if (size < 6) return 0;
  static const fuzz::InputFile file("stream.bin");
  const unsigned repeats = 1 + data[0] % 16;
  const size_t scriptLength = data[1] < size - 6 ? data[1] : size - 6;
  const uint32_t seed = Vak::GetLE32(data + 2);
  const std::string script(reinterpret_cast<const char*>(data + 6), scriptLength);
  std::vector<uint8_t> content;
  for (unsigned r = 0; r < repeats && content.size() < kMaxContent; ++r)
    content.insert(content.end(), data + 6 + scriptLength, data + size);
  if (content.size() > kMaxContent) content.resize(kMaxContent);
  const uint32_t length = static_cast<uint32_t>(content.size());
  if (!file.Write(content.data(), content.size())) return 0;

  TBuffer memory;
  memory.GetBuffer().Write(content.data(), length);
  memory.GetBuffer().SetPosition(0);

  TFile onDisk;
  if (!onDisk.Open(file.Path().c_str(), Vak::File::kReadStored)) return 0;

  TBuffer scrambledInner;
  {
    std::vector<uint8_t> stored(4 + content.size());
    Vak::PutLE32(stored.data(), seed);
    for (uint32_t i = 0; i < length; ++i) stored[4 + i] = Scrambled(4 + i, content[i], seed);
    scrambledInner.GetBuffer().Write(stored.data(), static_cast<uint32_t>(stored.size()));
    scrambledInner.GetBuffer().SetPosition(0);
  }
  TStreamObfuscated scrambled;
  scrambled.Open(false, &scrambledInner, TStreamObfuscated::kScrambled);
  if (scrambled.Seed() != seed) __builtin_trap();

  TFile plainInner;
  if (!plainInner.Open(file.Path().c_str(), Vak::File::kReadStored)) return 0;
  TStreamObfuscated plain;
  plain.Open(false, &plainInner, TStreamObfuscated::kPlain);

  struct Subject {
    TStream& stream;
    uint32_t base;
  } subjects[] = {{memory, 0}, {onDisk, 0}, {scrambled, 4}, {plain, 0}};

  Model model{content};
  for (size_t i = 0; i < script.size(); i += 2) {
    const uint8_t op = static_cast<uint8_t>(script[i]) % 17;
    const uint8_t arg = i + 1 < script.size() ? static_cast<uint8_t>(script[i + 1]) : 0;
    const Model before = model;
    Outcome expected;
    if (!Expect(model, op, arg, expected)) continue;
    for (Subject& s : subjects) {
      if (Run(s.stream, s.base, before, op, arg) != expected) __builtin_trap();
      if (!model.beyond && s.stream.Tell() - s.base != model.pos) __builtin_trap();
      if ((s.stream.GetError() != 0) != model.error) __builtin_trap();
    }
  }
  CheckScrambledWrite(content, script);
  return 0;
}
