#include "Vak/Bexlorn/ByteOrder.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

namespace {

// Bytes as they lie in the file, first byte first; the big-endian form is
// the same bytes reversed.
struct Case {
  uint64_t value;
  int width;  // in bytes
  std::vector<uint8_t> little;
};

const Case kCases[] = {
    {0x0102, 2, {0x02, 0x01}},
    {0xFF80, 2, {0x80, 0xFF}},
    {0x01020304, 4, {0x04, 0x03, 0x02, 0x01}},
    {0x80000001, 4, {0x01, 0x00, 0x00, 0x80}},
    {0xFFFFFFFF, 4, {0xFF, 0xFF, 0xFF, 0xFF}},
    {0x0102030405060708, 8, {0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01}},
    // Bits above 32 and a set top bit: a 64-bit value kept as two words must
    // not lose its high word or spread its sign.
    {0x00000001FFFFFFFF, 8, {0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x00, 0x00, 0x00}},
    {0x8000000000000080, 8, {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80}},
    {0xFFFFFFFF00000000, 8, {0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}},
};

uint64_t Get(const uint8_t* p, int width, bool big) {
  switch (width) {
  case 2: return big ? Vak::GetBE16(p) : Vak::GetLE16(p);
  case 4: return big ? Vak::GetBE32(p) : Vak::GetLE32(p);
  default: return big ? Vak::GetBE64(p) : Vak::GetLE64(p);
  }
}

void Put(uint8_t* p, int width, bool big, uint64_t v) {
  switch (width) {
  case 2: return big ? Vak::PutBE16(p, static_cast<uint16_t>(v)) : Vak::PutLE16(p, static_cast<uint16_t>(v));
  case 4: return big ? Vak::PutBE32(p, static_cast<uint32_t>(v)) : Vak::PutLE32(p, static_cast<uint32_t>(v));
  default: return big ? Vak::PutBE64(p, v) : Vak::PutLE64(p, v);
  }
}

TEST(ByteOrder, LoadsAndStoresEachWidthInBothOrders) {
  for (const Case& c : kCases) {
    for (const bool big : {false, true}) {
      std::vector<uint8_t> stored = c.little;
      if (big) stored.assign(c.little.rbegin(), c.little.rend());
      SCOPED_TRACE(testing::Message() << std::hex << c.value << (big ? " big-endian" : " little-endian"));
      // One byte to each side shows a store that writes outside its field,
      // and a load from an odd address shows no alignment is assumed.
      std::array<uint8_t, 10> room;
      room.fill(0xAA);
      Put(room.data() + 1, c.width, big, c.value);
      EXPECT_EQ(std::vector<uint8_t>(room.begin() + 1, room.begin() + 1 + c.width), stored);
      EXPECT_EQ(room[0], 0xAA);
      EXPECT_EQ(room[1 + c.width], 0xAA);
      EXPECT_EQ(Get(room.data() + 1, c.width, big), c.value);
      EXPECT_EQ(Get(stored.data(), c.width, big), c.value);
    }
  }
}

TEST(ByteOrder, LoadsAtCompileTime) {
  constexpr uint8_t kBytes[] = {'V', 'I', 'R', 'F', 0, 0, 0, 1};
  static_assert(Vak::GetLE32(kBytes) == 0x46524956u);
  static_assert(Vak::GetBE64(kBytes) == 0x5649524600000001u);
}

} // namespace
