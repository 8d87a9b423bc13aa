// KUID text and stream forms. Whatever the text, a parse yields the null KUID
// or one that keeps the invariant (a versioned user id of 0..0x1FFFFFF, or a
// negative one of at least -0x2000000 with version 127); what strict mode
// accepts the lenient mode reads the same; the config text of a result reads
// back to it, as does its short text when it has the two-number form; and
// packing keeps it. Read as a stream, the bytes give one KUID per 8 bytes
// (the null KUID once fewer remain), and writing those back gives the same
// bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "content/DynamicBuffer.h"
#include "content/KUID.h"
#include "content/TStream.h"
#include "fuzz/NameSweep.h"

namespace {

bool Valid(const KUID& k) {
  if (k.version < 0 || k.version > KUID::kMaxVersion) return false;
  if (k.user >= 0) return k.user <= KUID::kMaxUser;
  return k.user >= KUID::kMinUser && k.version == KUID::kMaxVersion;
}

// The packed form keeps 25 bits of the user id and reads bit 24 as the sign
// when the version is 127, so with that version only -0x1000000..0xFFFFFF
// come back as they were.
bool PacksUnambiguously(const KUID& k) {
  return k.version != KUID::kMaxVersion || (k.user >= -0x1000000 && k.user <= 0xFFFFFF);
}

bool TwoNumberForm(const KUID& k) {
  return (k.version == 0 && k.user >= 0) || (k.version == KUID::kMaxVersion && k.user < 0);
}

void CheckText(const std::string& text) {
  const KUID strict = KUID::Parse(text.c_str(), true);
  const KUID lenient = KUID::Parse(text.c_str(), false);
  if (!Valid(strict) || !Valid(lenient)) __builtin_trap();
  if (!strict.IsNull() && strict != lenient) __builtin_trap();

  const Vak::PString config = lenient.ToConfigText();
  if (KUID::Parse(config.c_str(), false) != lenient) __builtin_trap();
  if (!lenient.IsNull() && TwoNumberForm(lenient)) {
    const Vak::AnsiString shortText = lenient.ToShortText();
    if (KUID::Parse(shortText, false) != lenient) __builtin_trap();
  }
  if (PacksUnambiguously(lenient)) {
    uint32_t packed = 0, content = 0;
    lenient.Pack(packed, content);
    if (KUID::Unpack(packed, content) != lenient) __builtin_trap();
  }
}

void CheckStream(const uint8_t* data, size_t size) {
  TBuffer in;
  if (size) in.GetBuffer().Write(data, static_cast<uint32_t>(size));
  in.GetBuffer().SetPosition(0);
  TBuffer out;
  size_t left = size;
  for (;;) {
    const KUID k = KUID::Read(in);
    if (!Valid(k)) __builtin_trap();
    if (left < 8) {
      if (!k.IsNull()) __builtin_trap();
      break;
    }
    left -= 8;
    k.Write(out);
  }
  const DynamicBuffer& written = out.GetBuffer();
  if (written.Size() != size - size % 8 || (written.Size() && std::memcmp(written.Data(), data, written.Size()) != 0))
    __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fuzz::NameSweep sweep;
  // An exact-size copy, so the sanitizer sees a read past the terminator.
  CheckText(std::string(reinterpret_cast<const char*>(data), size));
  CheckStream(data, size);
  return 0;
}
