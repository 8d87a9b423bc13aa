#include "Vak/Bexlorn/BlockCoder.h"

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/SampleBytes.h"

namespace {

using sample::Bytes;
using sample::Concat;
using sample::Random;
using sample::Text;
using Vak::BlockCoder;

Bytes Repeat(uint8_t value, size_t n) { return Bytes(n, value); }

Bytes Range(unsigned first, unsigned count) {
  Bytes b;
  for (unsigned i = 0; i < count; ++i) b.push_back(static_cast<uint8_t>(first + i));
  return b;
}

// Little floats, as a mesh's vertex data: few distinct high bytes.
Bytes Floats(size_t n) {
  Bytes b;
  for (size_t i = 0; b.size() < n; ++i) {
    const float f = static_cast<float>(i % 97) * 0.25f - 12.0f;
    uint8_t raw[4];
    std::memcpy(raw, &f, 4);
    b.insert(b.end(), raw, raw + 4);
  }
  b.resize(n);
  return b;
}

// Codes into an output of exactly `input.size()` bytes, so the sanitizer sees
// any write past the room the caller gave.
Bytes Code(const Bytes& input) {
  Bytes out(input.size());
  const unsigned n = BlockCoder::Code(out.data(), input.data(), static_cast<unsigned>(input.size()));
  EXPECT_LE(n, input.size());
  out.resize(n);
  return out;
}

// Expands into an output of exactly `room` bytes (heap, so overruns show).
long Expand(const Bytes& payload, unsigned room, Bytes* result = nullptr) {
  Bytes out(room);
  const long n = BlockCoder::Expand(out.data(), room, payload.data(), static_cast<unsigned>(payload.size()));
  if (result && n >= 0) *result = Bytes(out.begin(), out.begin() + n);
  return n;
}

// ---------------------------------------------------------------------------
// Exact bytes, worked out by hand from the pair-replacement rules.

struct Vector {
  const char* name;
  Bytes input;
  Bytes coded;
};

std::vector<Vector> Vectors() {
  // 16 x 'a': (a,a) -> FE, (FE,FE) -> FD, (FD,FD) -> FC leaves FC FC. Table:
  // skip 127 (FE), skip 125 (FC), then codes FC..FE as 3 entries, skip 1.
  const Bytes sixteenA = {0xFE, 0xFC, 0x02, 0xFD, 0xFD, 0xFE, 0xFE, 0x61, 0x61, 0x80, 0x00, 0x02, 0xFC, 0xFC};
  // FD then 16 x 'a': FD occurs, so the codes are FE, FC, FB; FD sits alone
  // between pair codes and goes into the run of entries as itself.
  const Bytes loneSelf = {0xFE, 0xFB, 0x03, 0xFC, 0xFC, 0xFE, 0xFE, 0xFD, 0x61,
                          0x61, 0x80, 0x00, 0x03, 0xFD, 0xFB, 0xFB};
  // Values 0..209 end the first sub-block at the 210th distinct value (no pair
  // repeats: a table of skips only); 64 x 'a' then halve five times.
  const Bytes tailCoded = {0xFE, 0xFA, 0x04, 0xFB, 0xFB, 0xFC, 0xFC, 0xFD, 0xFD, 0xFE,
                           0xFE, 0x61, 0x61, 0x80, 0x00, 0x02, 0xFA, 0xFA};
  const Bytes distinctThenRun =
      Concat({{0xFE, 0xFE, 0x81, 0x00, 0xD2}, Range(0, 210), tailCoded});
  return {
      {"empty", {}, {}},
      {"sixteen a", Repeat('a', 16), sixteenA},
      {"lone self-standing code in a run of entries", Concat({{0xFD}, Repeat('a', 16)}), loneSelf},
      {"210 distinct values end a sub-block", Concat({Range(0, 210), Repeat('a', 64)}), distinctThenRun},
  };
}

TEST(BlockCoderTest, CodesHandWorkedInputsToTheByte) {
  for (const Vector& v : Vectors()) {
    SCOPED_TRACE(v.name);
    EXPECT_EQ(Code(v.input), v.coded);
    Bytes back;
    ASSERT_EQ(Expand(v.coded, BlockCoder::kBlockBytes, &back), static_cast<long>(v.input.size()));
    EXPECT_EQ(back, v.input);
  }
}

TEST(BlockCoderTest, StoresInputThatCodingDoesNotShorten) {
  struct Case {
    const char* name;
    Bytes input;
  };
  const Case cases[] = {
      {"one byte", {0x42}},
      // Packs to FE FD 01 FE FE 61 62 80 00 02 FD FD: 12 bytes, not shorter.
      {"abababab", {'a', 'b', 'a', 'b', 'a', 'b', 'a', 'b'}},
      // No pair occurs 3 times: two sub-blocks of skips and the data.
      {"every byte value once", Range(0, 256)},
      {"random", Random(BlockCoder::kBlockBytes, 7)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Code(c.input), c.input);
  }
}

TEST(BlockCoderTest, SubBlocksEndAfter2048Bytes) {
  // Fewer than 210 distinct values, so only the length cuts: coding the whole
  // equals coding the two halves one after the other.
  const Bytes first = Text(BlockCoder::kSubBlockBytes);
  const Bytes second = Floats(1000);
  const Bytes firstCoded = Code(first), secondCoded = Code(second);
  ASSERT_LT(firstCoded.size(), first.size());
  ASSERT_LT(secondCoded.size(), second.size());
  EXPECT_EQ(Code(Concat({first, second})), Concat({firstCoded, secondCoded}));
}

TEST(BlockCoderTest, RoundTrips) {
  struct Case {
    const char* name;
    Bytes input;
  };
  Bytes allValuesRepeated;
  for (int i = 0; i < 64; ++i) {
    const Bytes r = Range(0, 256);
    allValuesRepeated.insert(allValuesRepeated.end(), r.begin(), r.end());
  }
  Bytes runs;
  for (int i = 0; runs.size() < 9000; ++i) runs.insert(runs.end(), 1 + i % 300, static_cast<uint8_t>(i * 37));
  // Every value sprinkled through text: sub-blocks end at 210 distinct values.
  Bytes sprinkled = Text(BlockCoder::kBlockBytes);
  for (size_t i = 0; i < sprinkled.size(); i += 29) sprinkled[i] = static_cast<uint8_t>(i / 29);
  Bytes mixed = Concat({Text(6000), Floats(6000), Random(2000, 3), Text(BlockCoder::kBlockBytes - 14000)});
  const Case cases[] = {
      {"empty", {}},
      {"one byte", {0x00}},
      {"two bytes", {0xFF, 0xFF}},
      {"text", Text(5000)},
      {"text, one block", Text(BlockCoder::kBlockBytes)},
      {"floats", Floats(BlockCoder::kBlockBytes)},
      {"runs", runs},
      {"one value, one block", Repeat(0x20, BlockCoder::kBlockBytes)},
      {"zeros, one block", Repeat(0x00, BlockCoder::kBlockBytes)},
      {"every value, many times", allValuesRepeated},
      {"text with every value", sprinkled},
      {"random", Random(3000, 11)},
      {"mixed, one block", mixed},
      {"over one block", Text(3 * BlockCoder::kBlockBytes + 5)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes coded = Code(c.input);
    if (coded.size() == c.input.size()) {
      EXPECT_EQ(coded, c.input);
      continue;
    }
    EXPECT_LT(coded.size(), c.input.size());
    Bytes back;
    ASSERT_EQ(Expand(coded, static_cast<unsigned>(c.input.size()), &back), static_cast<long>(c.input.size()));
    EXPECT_EQ(back, c.input);
    // One byte less room than the content is a damaged payload, not an overrun.
    EXPECT_EQ(Expand(coded, static_cast<unsigned>(c.input.size()) - 1), BlockCoder::kDamaged);
  }
}

TEST(BlockCoderTest, OneRepeatedByteCodesFarSmaller) {
  const Bytes block = Repeat('x', BlockCoder::kBlockBytes);
  const Bytes coded = Code(block);
  EXPECT_LT(coded.size(), block.size() / 20);
  Bytes back;
  ASSERT_EQ(Expand(coded, BlockCoder::kBlockBytes, &back), static_cast<long>(BlockCoder::kBlockBytes));
  EXPECT_EQ(back, block);
}

// ---------------------------------------------------------------------------
// Damaged payloads.

TEST(BlockCoderTest, EveryTruncationOfASubBlockIsRefused) {
  for (const Bytes& input : {Repeat('a', 16), Text(BlockCoder::kSubBlockBytes)}) {
    const Bytes coded = Code(input);
    ASSERT_LT(coded.size(), input.size());
    for (size_t n = 1; n < coded.size(); ++n) {
      SCOPED_TRACE(n);
      EXPECT_EQ(Expand(Bytes(coded.begin(), coded.begin() + n), BlockCoder::kBlockBytes), BlockCoder::kDamaged);
    }
  }
}

TEST(BlockCoderTest, RefusesDamagedPayloads) {
  struct Case {
    const char* name;
    Bytes payload;
    unsigned room;
  };
  // Codes 0..252 stand for themselves; then the entries of 253 and 254.
  const Bytes skipTo253 = {0xFE, 0xFD};
  const Case cases[] = {
      {"entries run past code 255", Concat({{0xFE, 0xFE}, {0x02, 'a', 'b', 'c'}, {0x00, 0x00}}), 100},
      {"skip runs past code 255", {0xFE, 0xFE, 0x82, 0x00, 0x00}, 100},
      {"pair codes nest each other on the left",
       Concat({skipTo253, {0x01, 0xFE, 0x00, 0xFD, 0x00, 0x80, 0x00, 0x01, 0xFD}}), 1000},
      {"pair codes nest each other on the right",
       Concat({skipTo253, {0x01, 0x00, 0xFE, 0x00, 0xFD, 0x80, 0x00, 0x01, 0xFD}}), 1000},
      {"packed length beyond the payload", {0xFE, 0xFE, 0x81, 0x00, 0x05, 'a', 'b'}, 100},
      {"packed length of 0xFFFF", {0xFE, 0xFE, 0x81, 0xFF, 0xFF, 'a'}, 100},
      {"length missing", {0xFE, 0xFE, 0x81, 0x00}, 100},
      {"second sub-block cut short", {0xFE, 0xFE, 0x81, 0x00, 0x01, 'a', 0xFE}, 100},
      {"expansion beyond the room", Vectors()[1].coded, 15},
      {"no room at all", {0xFE, 0xFE, 0x81, 0x00, 0x01, 'a'}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Expand(c.payload, c.room), BlockCoder::kDamaged);
  }
}

TEST(BlockCoderTest, PairCodesMeanOnlyWhatTheirSubBlockSays) {
  // Codes used more than once, nested, and given another pair (or none) by
  // the next sub-block: a repeated code must never expand as it did before.
  const Bytes first = {0xFE, 0xFD, 0x01, 'a', 'b', 0xFD, 0xFD, 0x80, 0x00, 0x05, 0xFD, 'x', 0xFE, 0xFE, 0xFD};
  const Bytes second = {0xFE, 0xFD, 0x00, 'c', 'd', 0x81, 0x00, 0x04, 0xFD, 0xFE, 0xFD, 0xFE};
  Bytes back;
  const std::string expected = "abxababababab" "cd\xFE" "cd\xFE";
  ASSERT_EQ(Expand(Concat({first, second}), 100, &back), static_cast<long>(expected.size()));
  EXPECT_EQ(std::string(back.begin(), back.end()), expected);
  // The repeated code's copy counts against the room like any expansion.
  EXPECT_EQ(Expand(first, 12), BlockCoder::kDamaged);
}

TEST(BlockCoderTest, ExpandsTheDeepestAcyclicNesting) {
  // Code k stands for (k - 1, 0) for k = 1..255: a chain 255 deep that the
  // stack must hold, expanding to 256 zeros.
  Bytes table = {0x7F, 0x00};  // 128 entries: code 0 itself, then pairs
  for (unsigned k = 1; k < 128; ++k) table.insert(table.end(), {static_cast<uint8_t>(k - 1), 0x00});
  table.push_back(0x7F);  // 128 more pairs, 128..255
  for (unsigned k = 128; k < 256; ++k) table.insert(table.end(), {static_cast<uint8_t>(k - 1), 0x00});
  const Bytes payload = Concat({table, {0x00, 0x01, 0xFF}});
  Bytes back;
  ASSERT_EQ(Expand(payload, 256, &back), 256);
  EXPECT_EQ(back, Bytes(256, 0x00));
  EXPECT_EQ(Expand(payload, 255), BlockCoder::kDamaged);
}

TEST(BlockCoderTest, ExpandWritesNothingPastTheRoom) {
  const Bytes coded = Code(Repeat('a', 16));
  Bytes out(32, 0xEE);
  EXPECT_EQ(BlockCoder::Expand(out.data(), 10, coded.data(), static_cast<unsigned>(coded.size())),
            BlockCoder::kDamaged);
  for (size_t i = 10; i < out.size(); ++i) EXPECT_EQ(out[i], 0xEE) << i;
}

TEST(BlockCoderTest, CorruptedPayloadsNeverOverrun) {
  // Every outcome is allowed except touching memory outside the buffers (the
  // sanitizer build checks) or claiming more than the room.
  const Bytes sources[] = {Text(BlockCoder::kBlockBytes), Floats(8000), Repeat('q', 4000)};
  std::mt19937 rng(2024);
  for (const Bytes& source : sources) {
    const Bytes coded = Code(source);
    ASSERT_LT(coded.size(), source.size());
    for (int trial = 0; trial < 300; ++trial) {
      Bytes damaged = coded;
      const int flips = 1 + static_cast<int>(rng() % 4);
      for (int f = 0; f < flips; ++f) damaged[rng() % damaged.size()] = static_cast<uint8_t>(rng());
      if (rng() % 3 == 0) damaged.resize(rng() % damaged.size());
      const long n = Expand(damaged, BlockCoder::kBlockBytes);
      EXPECT_TRUE(n == BlockCoder::kDamaged || (n >= 0 && n <= static_cast<long>(BlockCoder::kBlockBytes)));
    }
  }
}

} // namespace
