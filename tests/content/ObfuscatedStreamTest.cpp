#include "content/TStreamObfuscated.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "content/DynamicBuffer.h"
#include "tests/platform/os/TempFolder.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Contents(TBuffer& buffer) {
  const DynamicBuffer& memory = buffer.GetBuffer();
  return Bytes(memory.Data(), memory.Data() + memory.Size());
}

Bytes RandomBytes(std::mt19937& rng, size_t n) {
  Bytes bytes(n);
  for (auto& b : bytes) b = static_cast<uint8_t>(rng());
  return bytes;
}

// Inner bytes for `data` scrambled with `seed`, starting at inner position `at`.
Bytes Scrambled(const Bytes& data, uint32_t seed, uint32_t at) {
  Bytes out = {uint8_t(seed), uint8_t(seed >> 8), uint8_t(seed >> 16), uint8_t(seed >> 24)};
  for (size_t i = 0; i < data.size(); ++i)
    out.push_back(TStreamObfuscated::Scramble(at + 4 + uint32_t(i), data[i], seed));
  return out;
}

TEST(ObfuscatedStreamTest, ScrambleVectorAndInverse) {
  EXPECT_EQ(TStreamObfuscated::Scramble(4, 0x01, 0), 0x14);
  EXPECT_EQ(TStreamObfuscated::Unscramble(4, 0x14, 0), 0x01);
  // Seeds whose sum with the position wraps or reads negative included.
  const uint32_t seeds[] = {0, 1, 7, 0xFF, 0x12345678, 0x7FFFFFFF, 0x80000000, 0xFFFFFFF9, 0xFFFFFFFF};
  const uint32_t positions[] = {0, 1, 2, 3, 4, 5, 23, 24, 255, 256, 0x7FFFFFFF, 0xFFFFFFFE, 0xFFFFFFFF};
  for (uint32_t seed : seeds)
    for (uint32_t p : positions)
      for (int b = 0; b < 256; ++b) {
        const uint8_t s = TStreamObfuscated::Scramble(p, uint8_t(b), seed);
        ASSERT_EQ(TStreamObfuscated::Unscramble(p, s, seed), b) << seed << " " << p;
      }
}

// Runs transformed in place give the bytes of the one-byte transform at
// each position: short and long runs, runs that start anywhere in the
// pattern's period, and runs that wrap past the last position.
TEST(ObfuscatedStreamTest, BlockTransformsMatchTheByteTransform) {
  struct Case {
    uint32_t p;
    uint32_t n;
    uint32_t seed;
  } const cases[] = {
      {0, 0, 5},           {0, 1, 0},          {3, 255, 0x12345678}, {0, 256, 0},
      {4, 768, 1},         {17, 769, 0xFF},    {767, 5000, 7},       {1000, 70000, 0xFFFFFFFF},
      {0x7FFFFF00, 3000, 0x80000000}, {0xFFFFFC00, 0x3FF, 3}, {0xFFFFFF00, 0x100, 9}, {0xFFFFFE00, 0x300, 0xABCDEF01},
  };
  std::mt19937 rng(11);
  for (const Case& c : cases) {
    const Bytes data = RandomBytes(rng, c.n);
    Bytes scrambled = data;
    TStreamObfuscated::ScrambleBlock(c.p, scrambled.data(), c.n, c.seed);
    for (uint32_t i = 0; i < c.n; ++i)
      ASSERT_EQ(scrambled[i], TStreamObfuscated::Scramble(c.p + i, data[i], c.seed)) << c.p << "+" << i;
    Bytes back = scrambled;
    TStreamObfuscated::UnscrambleBlock(c.p, back.data(), c.n, c.seed);
    ASSERT_EQ(back, data) << c.p << " " << c.n;
  }
}

// Data written through a scrambling stream reads back unchanged, with the seed
// stored plain in front and every stored byte scrambled by its position.
TEST(ObfuscatedStreamTest, WriteThenReadRoundTrip) {
  std::mt19937 rng(77);
  for (int round = 0; round < 40; ++round) {
    SCOPED_TRACE(round);
    const Bytes header = RandomBytes(rng, rng() % 16);
    const Bytes data = RandomBytes(rng, 1 + rng() % 20000);
    TBuffer inner;
    inner.WriteBytes(header.data(), uint32_t(header.size()));
    TStreamObfuscated writer;
    writer.Open(true, &inner, TStreamObfuscated::kScrambled);
    const Bytes original = data;
    // Uneven pieces, as typed writes come.
    for (size_t at = 0; at < data.size();) {
      const size_t n = std::min<size_t>(data.size() - at, 1 + rng() % 5000);
      ASSERT_EQ(writer.WriteBytes(data.data() + at, uint32_t(n)), n);
      at += n;
    }
    EXPECT_EQ(data, original);  // the caller's bytes are left alone
    EXPECT_EQ(writer.Tell(), header.size() + 4 + data.size());
    EXPECT_EQ(writer.GetError(), 0);

    Bytes expected = header;
    const Bytes body = Scrambled(data, writer.Seed(), uint32_t(header.size()));
    expected.insert(expected.end(), body.begin(), body.end());
    ASSERT_EQ(Contents(inner), expected);

    inner.SeekBuffered(int64_t(header.size()), TStream::kBegin);
    TStreamObfuscated reader;
    reader.Open(false, &inner, TStreamObfuscated::kScrambled);
    EXPECT_EQ(reader.Seed(), writer.Seed());
    Bytes back(data.size());
    for (size_t at = 0; at < back.size();) {
      const size_t n = std::min<size_t>(back.size() - at, 1 + rng() % 5000);
      ASSERT_EQ(reader.ReadBytes(back.data() + at, uint32_t(n)), n);
      at += n;
    }
    EXPECT_EQ(back, data);
    EXPECT_TRUE(reader.AtEnd());
    EXPECT_EQ(reader.GetError(), 0);
    EXPECT_EQ(inner.GetError(), 0);
  }
}

// Chosen seeds, read through a file.
TEST(ObfuscatedStreamTest, ReadsDataScrambledWithAnySeed) {
  platform::test::TempFolder folder;
  std::mt19937 rng(5);
  const Bytes data = RandomBytes(rng, 9000);
  for (uint32_t seed : {0u, 0xFFFFFFFFu, 0xFFFFFFFCu, 0x80000000u, 0x7FFFFFFEu}) {
    SCOPED_TRACE(seed);
    const Bytes stored = Scrambled(data, seed, 0);
    folder.WriteFile("s.bin", std::string(stored.begin(), stored.end()));
    TFile file;
    ASSERT_TRUE(file.Open((folder / "s.bin").c_str(), Vak::File::kRead));
    TStreamObfuscated reader;
    reader.Open(false, &file, TStreamObfuscated::kScrambled);
    EXPECT_EQ(reader.Seed(), seed);
    EXPECT_EQ(reader.GetSize(), stored.size());
    Bytes back(data.size());
    EXPECT_EQ(reader.ReadBytes(back.data(), uint32_t(back.size())), back.size());
    EXPECT_EQ(back, data);
  }
}

TEST(ObfuscatedStreamTest, EachWriteDrawsANewSeed) {
  const std::string text = "the same data twice";
  TBuffer a, b;
  for (TBuffer* inner : {&a, &b}) {
    TStreamObfuscated writer;
    writer.Open(true, inner, TStreamObfuscated::kScrambled);
    writer.WriteBytes(text.data(), uint32_t(text.size()));
  }
  EXPECT_NE(Contents(a), Contents(b));
  for (TBuffer* inner : {&a, &b}) {
    inner->SeekBuffered(0, TStream::kBegin);
    TStreamObfuscated reader;
    reader.Open(false, inner, TStreamObfuscated::kScrambled);
    std::string back(text.size(), 0);
    reader.ReadBytes(back.data(), uint32_t(back.size()));
    EXPECT_EQ(back, text);
  }
}

TEST(ObfuscatedStreamTest, PlainModePassesBytesThrough) {
  TBuffer inner;
  TStreamObfuscated writer;
  writer.Open(true, &inner, TStreamObfuscated::kPlain);
  writer.WriteInt(0x04030201);
  writer.WriteString(Vak::String("xy"));
  const Bytes expected = {1, 2, 3, 4, 2, 0, 0, 0, 'x', 'y'};
  EXPECT_EQ(Contents(inner), expected);

  inner.SeekBuffered(0, TStream::kBegin);
  TStreamObfuscated reader;
  reader.Open(false, &inner, TStreamObfuscated::kPlain);
  EXPECT_EQ(reader.ReadInt(), 0x04030201u);
  // The rest sits in the reader's read-ahead while the inner stream is done.
  EXPECT_TRUE(inner.AtEnd());
  EXPECT_FALSE(reader.AtEnd());
  Vak::String s;
  reader.ReadString(s);
  EXPECT_STREQ(static_cast<const char*>(s), "xy");
  EXPECT_TRUE(reader.AtEnd());
}

TEST(ObfuscatedStreamTest, DetachedAndUnknownModesTransferNothing) {
  TStreamObfuscated detached;
  detached.Open(true, nullptr, TStreamObfuscated::kScrambled);
  uint8_t byte = 9;
  EXPECT_EQ(detached.Write(&byte, 1), 0u);
  EXPECT_EQ(detached.Read(&byte, 1), 0u);
  EXPECT_TRUE(detached.AtEnd());
  EXPECT_FALSE(detached.IsOpen());
  EXPECT_EQ(detached.Tell(), 0u);
  EXPECT_EQ(detached.GetSize(), 0u);

  TBuffer inner;
  TStreamObfuscated odd;
  odd.Open(true, &inner, 7);
  EXPECT_EQ(odd.Write(&byte, 1), 0u);
  EXPECT_EQ(inner.GetBuffer().Size(), 0u);
}

TEST(ObfuscatedStreamTest, WrongDirectionSetsErrorTwo) {
  TBuffer inner;
  inner.Printf("0123456789");
  inner.SeekBuffered(0, TStream::kBegin);
  TStreamObfuscated reader;
  reader.Open(false, &inner, TStreamObfuscated::kPlain);
  uint8_t byte = 1;
  EXPECT_EQ(reader.Write(&byte, 1), 0u);
  EXPECT_EQ(reader.GetError(), TStreamObfuscated::kWrongDirection);
  EXPECT_EQ(inner.GetBuffer().Size(), 10u);

  TStreamObfuscated writer;
  writer.Open(true, &inner, TStreamObfuscated::kScrambled);
  EXPECT_EQ(writer.ReadBytes(&byte, 1), 0u);
  EXPECT_EQ(writer.GetError(), TStreamObfuscated::kWrongDirection);
  EXPECT_EQ(inner.GetError(), 0);
}

// A relative seek after reads that filled the read-ahead lands where the
// absolute seek to the same place does.
TEST(ObfuscatedStreamTest, RelativeSeekMatchesAbsolute) {
  std::mt19937 rng(11);
  const Bytes data = RandomBytes(rng, 20000);
  TBuffer inner;
  const Bytes stored = Scrambled(data, 0x9E3779B9, 0);
  inner.WriteBytes(stored.data(), uint32_t(stored.size()));
  for (int round = 0; round < 200; ++round) {
    const uint32_t first = 4 + rng() % 12000;
    const uint32_t target = 4 + rng() % 19000;
    SCOPED_TRACE(std::to_string(first) + " -> " + std::to_string(target));
    Bytes viaRelative(64), viaAbsolute(64);
    for (bool relative : {true, false}) {
      inner.SeekBuffered(0, TStream::kBegin);
      TStreamObfuscated reader;
      reader.Open(false, &inner, TStreamObfuscated::kScrambled);
      Bytes skip(first - 4);
      reader.ReadBytes(skip.data(), uint32_t(skip.size()));
      ASSERT_EQ(reader.Tell(), first);
      // Targets outside the read-ahead reach the device seek.
      if (relative) reader.SeekBuffered(int64_t(target) - first, TStream::kCurrent);
      else reader.SeekBuffered(target, TStream::kBegin);
      ASSERT_EQ(reader.Tell(), target);
      Bytes& out = relative ? viaRelative : viaAbsolute;
      ASSERT_EQ(reader.ReadBytes(out.data(), 64), 64u);
    }
    EXPECT_EQ(viaRelative, viaAbsolute);
    EXPECT_TRUE(std::equal(viaRelative.begin(), viaRelative.end(), data.begin() + (target - 4)));
  }
}

// Random access through a scrambling writer and reader against a model.
TEST(ObfuscatedStreamTest, SeeksChangeThePositionOfLaterBytes) {
  std::mt19937 rng(3);
  TBuffer inner;
  TStreamObfuscated writer;
  writer.Open(true, &inner, TStreamObfuscated::kScrambled);
  Bytes model;  // inner positions from 4
  uint32_t pos = 4;
  for (int step = 0; step < 500; ++step) {
    if (rng() % 3 == 0 && !model.empty()) {
      const uint32_t target = 4 + rng() % (model.size() + 1);
      if (rng() % 2) writer.SeekBuffered(int64_t(target) - pos, TStream::kCurrent);
      else writer.SeekBuffered(target, TStream::kBegin);
      pos = target;
    }
    const Bytes piece = RandomBytes(rng, 1 + rng() % 300);
    writer.WriteBytes(piece.data(), uint32_t(piece.size()));
    if (pos - 4 + piece.size() > model.size()) model.resize(pos - 4 + piece.size());
    std::copy(piece.begin(), piece.end(), model.begin() + (pos - 4));
    pos += uint32_t(piece.size());
    ASSERT_EQ(writer.Tell(), pos);
  }
  inner.SeekBuffered(0, TStream::kBegin);
  TStreamObfuscated reader;
  reader.Open(false, &inner, TStreamObfuscated::kScrambled);
  // Read backwards in pieces, seeking before each.
  Bytes back(model.size());
  for (uint32_t end = uint32_t(model.size()); end > 0;) {
    const uint32_t start = end > 700 ? end - 700 : 0;
    reader.SeekBuffered(4 + start, TStream::kBegin);
    ASSERT_EQ(reader.ReadBytes(back.data() + start, end - start), end - start);
    end = start;
  }
  EXPECT_EQ(back, model);
}

} // namespace
