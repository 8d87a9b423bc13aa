#pragma once
// Asset identifier: author's user id, the author's content id and a version.
// A negative user id marks an identifier without versions; it always carries
// version 127. The null KUID (-1, -1, 127) stands for no asset.
#include <cstddef>
#include <cstdint>

#include "Vak/Bexlorn/PString.h"
#include "Vak/Bexlorn/String.h"

class TStream;

class KUID {
public:
  static constexpr int32_t kMinUser = -0x2000000;
  static constexpr int32_t kMaxUser = 0x1FFFFFF;
  static constexpr int32_t kMaxVersion = 127;

  constexpr KUID() = default;
  constexpr KUID(int32_t userId, int32_t contentId, int32_t versionNumber)
      : user(userId), content(contentId), version(versionNumber) {}

  static constexpr KUID Null() { return KUID(); }
  constexpr bool IsNull() const { return user == -1 && content == -1 && version == kMaxVersion; }

  constexpr bool operator==(const KUID& other) const {
    return user == other.user && content == other.content && version == other.version;
  }
  constexpr bool operator!=(const KUID& other) const { return !(*this == other); }

  // Binary form: version in the top 7 bits over the low 25 bits of the user id;
  // the content id is its own word.
  void Pack(uint32_t& packed, uint32_t& contentWord) const;
  static KUID Unpack(uint32_t packed, uint32_t contentWord);

  // "<NULL>", "<kuid:%d:%d>" or "<kuid2:%d:%d:%d>".
  Vak::PString ToConfigText() const;
  // "NULLKUID", "%d:%d" or "%d:%d:%d".
  Vak::AnsiString ToShortText() const;
  // "NULLKUID", "kuid %d %d" or "kuid2 %d %d %d".
  Vak::AnsiString ToSpacedText() const;

  // Any malformed text or value out of range gives the null KUID. Strict mode
  // accepts only the tagged forms.
  static KUID Parse(const char* text, bool strict);

  // Content word then packed word, 8 bytes little-endian.
  void Write(TStream& stream) const;
  // A read that comes up short gives the null KUID.
  static KUID Read(TStream& stream);
  // False, `out` untouched, when the read comes up short: for readers where
  // the null KUID is a value of its own (a terminator).
  static bool Read(TStream& stream, KUID& out);

  int32_t user = -1;
  int32_t content = -1;
  int32_t version = kMaxVersion;

private:
  // The two-number text forms apply to unversioned ids and to version 0.
  bool ShortForm() const { return (version == 0 && user >= 0) || (version == kMaxVersion && user < 0); }
};

// For hashed containers keyed by KUID: all three words, well mixed.
struct KUIDHash {
  std::size_t operator()(const KUID& kuid) const {
    const uint64_t a = static_cast<uint32_t>(kuid.user) | uint64_t{static_cast<uint32_t>(kuid.content)} << 32;
    return static_cast<std::size_t>((a ^ static_cast<uint32_t>(kuid.version) * 0x9E3779B97F4A7C15ull) *
                                    0xBF58476D1CE4E5B9ull >> 17);
  }
};
