#include "content/LZSSCompress.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Vak/Bexlorn/Archive.h"
#include "tests/support/SampleBytes.h"

namespace {

using sample::Bytes;
using sample::Text;
using Vak::LZBlockCoder;
using Vak::LZSSCompress;

Bytes Random(size_t n, unsigned seed = 7) { return sample::Random(n, seed); }

Bytes Floats(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i + 4 <= n; i += 4) {
    const float f = static_cast<float>(std::sin(static_cast<double>(i) * 0.001) * 100.0);
    std::memcpy(&b[i], &f, 4);
  }
  return b;
}

Bytes Runs(size_t n) {
  Bytes b;
  for (size_t i = 0; b.size() < n; ++i) b.insert(b.end(), 1 + (i * 37) % 600, static_cast<uint8_t>(i * 13));
  b.resize(n);
  return b;
}

// Text with random stretches between, so literals, runs and matches mix.
Bytes Mixed(size_t n) {
  Bytes t = Text(n), r = Random(n, 3), b(n);
  for (size_t i = 0; i < n; ++i) b[i] = (i / 700) % 3 == 1 ? r[i] : t[i];
  return b;
}

// Codes through the cursors with ample room, so no block falls back to stored.
Bytes Coded(const Bytes& in, int level) {
  LZSSCompress lz;
  Bytes out(in.size() * 2 + 64);
  LZSSCompress::ReadCursor reader(in.data(), in.size());
  LZSSCompress::WriteCursor writer(out.data(), out.size());
  EXPECT_TRUE(lz.Compress(writer, reader, static_cast<uint32_t>(in.size()), level));
  EXPECT_EQ(reader.Position(), in.size());
  out.resize(writer.Position());
  return out;
}

// Decodes into a buffer of exactly `room` bytes, so ASan sees any overrun.
bool Decoded(const Bytes& block, size_t room, Bytes& out) {
  LZSSCompress lz;
  const Bytes in = block;  // exact-size copy
  auto buffer = std::make_unique<uint8_t[]>(room);
  size_t written = 99;
  const bool ok = lz.DecompressBlock(in.data(), in.size(), room ? buffer.get() : nullptr, room, &written);
  EXPECT_LE(written, room);
  out.assign(buffer.get(), buffer.get() + written);
  return ok;
}

TEST(LZSSTest, HeaderByte) {
  struct Case {
    const char* name;
    Bytes input;
    int level;
    uint8_t header;
  };
  const Case cases[] = {
      {"level 0 stores", Text(1000), 0, 0x00},
      {"6 bytes are stored", Text(6), 5, 0x00},
      {"7 bytes are coded", Text(7), 5, 0x05},
      {"100 bytes at level 9: window 0, level 6", Text(100), 9, 0x06},
      {"255 bytes at level 2: window 0", Text(255), 2, 0x02},
      {"256 bytes fit window 0", Text(256), 1, 0x01},
      {"257 bytes at level 1: window 1", Text(257), 1, 0x11},
      {"3000 bytes at level 5: window 1", Text(3000), 5, 0x15},
      {"4096 bytes fit window 1", Text(4096), 8, 0x18},
      {"4097 bytes at level 8: window 2", Text(4097), 8, 0x28},
      {"5000 bytes at level 5: window 2", Text(5000), 5, 0x25},
      {"level above 9 is 9", Text(5000), 12, 0x29},
      {"negative level is 9", Text(5000), -1, 0x29},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes block = Coded(c.input, c.level);
    ASSERT_FALSE(block.empty());
    EXPECT_EQ(block[0], c.header);
    if (c.header == 0) {
      EXPECT_EQ(Bytes(block.begin() + 1, block.end()), c.input);
    }
  }
}

// One literal, then matches of 258 at distance 1 and the rest of 225.
TEST(LZSSTest, RunOf1000AtLevel1) {
  const Bytes input(1000, 'x');
  const Bytes block = Coded(input, 1);
  const Bytes want = {0x11, 0x3C, 0,    0,    0,    'x',  0x01, 0xF0, 0xFF, 0x01,
                      0xF0, 0xFF, 0x01, 0xF0, 0xFF, 0x01, 0xF0, 222};
  EXPECT_EQ(block, want);
  Bytes out;
  ASSERT_TRUE(Decoded(block, input.size(), out));
  EXPECT_EQ(out, input);
}

// The byte form: literals and a match with its length in three flags.
TEST(LZSSTest, ByteFormVector) {
  const Bytes input = {'a', 'b', 'c', 'a', 'b', 'c', 'a', 'b', 'c', 'd'};
  const Bytes block = Coded(input, 3);
  // a b c literal; match 6 at distance 3 (flags 1, 1,1,0); d literal.
  const Bytes want = {0x03, 0x38, 0, 0, 0, 'a', 'b', 'c', 3, 'd'};
  EXPECT_EQ(block, want);
}

TEST(LZSSTest, RoundTripsAtEveryLevel) {
  struct Data {
    const char* name;
    Bytes bytes;
  };
  const Data data[] = {
      {"empty", {}},
      {"1 byte", {0x5A}},
      {"7 bytes", Text(7)},
      {"text 255", Text(255)},
      {"text 256", Text(256)},
      {"text 4097", Text(4097)},
      {"text 100k", Text(100000)},
      {"floats 70k", Floats(70000)},
      {"runs 50k", Runs(50000)},
      {"random 40k", Random(40000)},
      {"mixed 60k", Mixed(60000)},
      {"zeros 40000", Bytes(40000, 0)},
  };
  // The memory form's coder and output are reused from case to case, as a
  // caller would, so nothing may be left over from the block before.
  LZSSCompress lz;
  Bytes packed;
  for (const Data& d : data) {
    for (int level = 0; level <= 9; ++level) {
      SCOPED_TRACE(std::string(d.name) + " level " + std::to_string(level));
      const Bytes block = Coded(d.bytes, level);
      Bytes out;
      ASSERT_TRUE(Decoded(block, d.bytes.size(), out));
      ASSERT_EQ(out, d.bytes);

      // The memory form never grows a block past a stored one.
      ASSERT_TRUE(lz.CompressBlock(d.bytes.data(), d.bytes.size(), level, packed));
      EXPECT_LE(packed.size(), d.bytes.size() + 1);
      if (block.size() <= d.bytes.size() + 1) {
        EXPECT_EQ(packed, block);
      } else {
        EXPECT_EQ(packed[0], 0);
      }
      ASSERT_TRUE(Decoded(packed, d.bytes.size(), out));
      ASSERT_EQ(out, d.bytes);
    }
  }
}

// The coded bytes never change: a sample that slides both windows, and one
// small enough for the byte form, pinned at every level.
TEST(LZSSTest, CodedBytesArePinned) {
  const Bytes large = sample::Concat({Text(30000), Floats(24000), Random(6000), Runs(20000), Mixed(20000)});
  const Bytes small(large.begin() + 1000, large.begin() + 1230);
  struct Case {
    const Bytes* input;
    int level;
    size_t size;
    uint32_t crc;
  };
  const Case cases[] = {
      {&large, 0, 100001, 0x7D47B7A1},
      {&large, 1, 38194, 0xE078E3C9},
      {&large, 2, 38171, 0x26BC8F86},
      {&large, 3, 38152, 0x5D730DC4},
      {&large, 4, 38038, 0x8D457209},
      {&large, 5, 38038, 0xE6B29DA6},
      {&large, 6, 38038, 0x69E9FA3E},
      {&large, 7, 36207, 0xE0E4690C},
      {&large, 8, 36207, 0xBD4EC83E},
      {&large, 9, 36207, 0x4C66620C},
      {&small, 0, 231, 0xA17B9D0D},
      {&small, 1, 171, 0xBFB96DD1},
      {&small, 2, 171, 0xD408F395},
      {&small, 3, 171, 0xF29879A9},
      {&small, 4, 171, 0x036BCF1D},
      {&small, 5, 171, 0x25FB4521},
      {&small, 6, 171, 0x4E4ADB65},
      {&small, 7, 171, 0x4E4ADB65},
      {&small, 8, 171, 0x4E4ADB65},
      {&small, 9, 171, 0x4E4ADB65},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.input->size()) + " bytes at level " + std::to_string(c.level));
    LZSSCompress lz;
    Bytes block;
    ASSERT_TRUE(lz.CompressBlock(c.input->data(), c.input->size(), c.level, block));
    EXPECT_EQ(block.size(), c.size);
    EXPECT_EQ(Vak::Archive::Crc::Of(block.data(), block.size()), c.crc);
  }
}

TEST(LZSSTest, CompressibleDataShrinks) {
  const Bytes text = Text(50000);
  for (int level = 1; level <= 9; ++level) {
    SCOPED_TRACE(level);
    EXPECT_LT(Coded(text, level).size(), text.size() / 4);
  }
  // Higher levels search further and code tighter.
  EXPECT_LT(Coded(Mixed(60000), 9).size(), Coded(Mixed(60000), 1).size());
}

TEST(LZSSTest, OutputWithoutRoomFallsBackOrFails) {
  LZSSCompress lz;
  const Bytes input = Random(5000);
  Bytes packed;
  ASSERT_TRUE(lz.CompressBlock(input.data(), input.size(), 9, packed));
  ASSERT_EQ(packed.size(), input.size() + 1);
  EXPECT_EQ(packed[0], 0);
  EXPECT_EQ(Bytes(packed.begin() + 1, packed.end()), input);

  // Not even the stored block fits: nothing is taken from either side.
  Bytes out(input.size());
  LZSSCompress::ReadCursor reader(input.data(), input.size());
  LZSSCompress::WriteCursor writer(out.data(), out.size());
  EXPECT_FALSE(lz.Compress(writer, reader, static_cast<uint32_t>(input.size()), 9));
  EXPECT_EQ(reader.Position(), 0u);
  EXPECT_EQ(writer.Position(), 0u);
}

// Cut anywhere, a block is refused, or (the flag forms have no end mark)
// decodes to a prefix of what it held; a Huffman block needs its end symbol.
TEST(LZSSTest, TruncatedBlocksAreRefused) {
  for (const Bytes& input : {Mixed(200), Mixed(1200)}) {
    for (int level = 1; level <= 9; ++level) {
      const Bytes block = Coded(input, level);
      ASSERT_NE(block[0], 0);
      for (size_t cut = 0; cut < block.size(); ++cut) {
        SCOPED_TRACE("size " + std::to_string(input.size()) + " level " + std::to_string(level) + " cut " +
                     std::to_string(cut));
        Bytes out;
        if (!Decoded(Bytes(block.begin(), block.begin() + cut), input.size(), out)) continue;
        ASSERT_LE(out.size(), input.size());
        ASSERT_TRUE(std::equal(out.begin(), out.end(), input.begin()));
        if ((block[0] & 0x0F) > 6) {  // the Huffman form ends with a symbol
          EXPECT_EQ(out.size(), input.size());
        }
      }
    }
  }
}

TEST(LZSSTest, OutputLimitIsKept) {
  const Bytes input = Mixed(20000);
  for (int level : {0, 1, 3, 6, 7, 9}) {
    SCOPED_TRACE(level);
    const Bytes block = Coded(input, level);
    for (size_t room : {size_t{0}, size_t{1}, size_t{4095}, input.size() - 1}) {
      Bytes out;
      EXPECT_FALSE(Decoded(block, room, out)) << room;
      EXPECT_TRUE(std::equal(out.begin(), out.end(), input.begin()));
    }
  }
}

// Streams built by the block coder, written after a header byte.
class Stream final : public LZBlockCoder::Output {
public:
  explicit Stream(uint8_t header) : data{header} {}
  size_t Write(const void* bytes, size_t count) override {
    const uint8_t* b = static_cast<const uint8_t*>(bytes);
    data.insert(data.end(), b, b + count);
    return count;
  }
  Bytes data;
};

TEST(LZSSTest, DamagedTokensAreRefused) {
  struct Case {
    const char* name;
    Bytes block;
    bool ok;
    Bytes out;
  };
  std::vector<Case> cases = {
      {"empty block", {}, false, {}},
      {"stored, nothing in it", {0x00}, true, {}},
      {"level 10", {0x0A, 0, 0, 0, 0, 'a'}, false, {}},
      {"level 15", {0x1F, 0, 0, 0, 0, 'a'}, false, {}},
      {"window 3", {0x31, 0, 0, 0, 0, 'a'}, false, {}},
      {"byte form: distance 1", {0x01, 0x02, 0, 0, 0, 'a', 1}, true, {'a', 'a', 'a', 'a'}},
      {"byte form: distance 0", {0x01, 0x02, 0, 0, 0, 'a', 0}, false, {'a'}},
      {"byte form: before the start", {0x01, 0x02, 0, 0, 0, 'a', 2}, false, {'a'}},
      {"byte form: no distance byte", {0x01, 0x02, 0, 0, 0, 'a'}, false, {'a'}},
      {"byte form: no length byte", {0x01, 0x1E, 0, 0, 0, 'a'}, false, {'a'}},
      {"byte form: partial flag word", {0x01, 0x00, 0}, false, {}},
      {"byte form: flag word, no data", {0x01, 0x00, 0, 0, 0}, false, {}},
      {"word form: before the start", {0x11, 0x01, 0, 0, 0, 0x05, 0x00}, false, {}},
      {"word form: half a token", {0x11, 0x01, 0, 0, 0, 0x05}, false, {}},
      {"word form: run past the end", {0x11, 0x02, 0, 0, 0, 10, 'a', 'b'}, false, {}},
      {"word form: no length byte", {0x11, 0x01, 0, 0, 0, 0x01, 0xF0}, false, {}},
  };

  // Huffman streams: a match reaching one byte too far back, and its control.
  for (unsigned literals : {9u, 10u}) {
    Stream s(0x17);
    LZBlockCoder coder(s);
    coder.SetHuffmanForm(273, 256, 64, 6);
    const Bytes lit(literals, 'q');
    ASSERT_TRUE(coder.HuffmanLiterals(lit.data(), literals));
    ASSERT_TRUE(coder.HuffmanMatch(4, 10));
    ASSERT_TRUE(coder.HuffmanSymbol(272) && coder.FinishBits());
    const bool fits = literals == 10;
    cases.push_back({fits ? "huffman: distance 10 after 10" : "huffman: distance 10 after 9", s.data, fits,
                     fits ? Bytes(14, 'q') : lit});
  }
  {
    Stream s(0x17);  // no end symbol
    LZBlockCoder coder(s);
    coder.SetHuffmanForm(273, 256, 64, 6);
    ASSERT_TRUE(coder.HuffmanLiterals(reinterpret_cast<const uint8_t*>("abc"), 3) && coder.FinishBits());
    cases.push_back({"huffman: no end symbol", s.data, false, {'a', 'b', 'c'}});
  }

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes out;
    EXPECT_EQ(Decoded(c.block, 64, out), c.ok);
    if (c.ok) {
      EXPECT_EQ(out, c.out);
    } else {
      EXPECT_TRUE(out.size() >= c.out.size() && std::equal(c.out.begin(), c.out.end(), out.begin()));
    }
  }
}

// Arbitrary bytes after each header never take the decoder outside its buffers.
TEST(LZSSTest, NoiseStaysInBounds) {
  std::mt19937 rng(11);
  for (unsigned header : {0x01u, 0x05u, 0x11u, 0x21u, 0x07u, 0x17u, 0x29u}) {
    for (int i = 0; i < 200; ++i) {
      Bytes block = Random(1 + rng() % 300, rng());
      block[0] = static_cast<uint8_t>(header);
      Bytes out;
      Decoded(block, rng() % 2000, out);
    }
  }
}

TEST(LZSSTest, IsAPluginInstance) {
  auto* lz = new LZSSCompress;
  Vak::PluginInstance* instance = lz;
  EXPECT_EQ(instance->GetType(), nullptr);
  EXPECT_TRUE(instance->ReleaseReference());
}

} // namespace
