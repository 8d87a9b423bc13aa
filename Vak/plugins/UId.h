#pragma once
// The engine's 128-bit identifier of plug-ins, plug-in groups and resource
// types, in GUID layout and written as GUID text (8-4-4-4-12 hex digits).
#include <cstdint>
#include <string>

namespace Vak {

class UId {
public:
  constexpr UId() = default;
  // Parses GUID text; never fails: what is not hex reads as 0 (see UId.cpp).
  explicit UId(const char* text);

  bool operator==(const UId& other) const;
  // XOR of the four 32-bit words; hash tables take it modulo their bucket count.
  uint32_t Hash() const;
  // "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X"
  std::string ToText() const;

  uint32_t first = 0;
  uint16_t second = 0;
  uint16_t third = 0;
  uint8_t bytes[8] = {};

private:
  uint32_t Word(int i) const;
};

static_assert(sizeof(UId) == 16);

} // namespace Vak
