#include "content/TStream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "content/DynamicBuffer.h"
#include "tests/platform/os/TempFolder.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr unsigned long kReadWrite = Vak::File::kRead | Vak::File::kWrite | Vak::File::kCreate;

std::string Text(const Bytes& b) { return std::string(b.begin(), b.end()); }

// Each test runs on a file and on memory.
struct Device {
  const char* name;
  std::function<std::unique_ptr<TStream>(platform::test::TempFolder&)> make;
};

void PrintTo(const Device& device, std::ostream* os) { *os << device.name; }

std::unique_ptr<TStream> MakeFile(platform::test::TempFolder& folder) {
  auto file = std::make_unique<TFile>();
  EXPECT_TRUE(file->Open((folder / "stream.bin").c_str(), kReadWrite));
  return file;
}
std::unique_ptr<TStream> MakeBuffer(platform::test::TempFolder&) { return std::make_unique<TBuffer>(); }

class StreamTest : public ::testing::TestWithParam<Device> {
protected:
  void SetUp() override { stream_ = GetParam().make(folder_); }
  // A new empty stream (a truncated file is open for writing only).
  void Fresh() {
    stream_.reset();
    stream_ = GetParam().make(folder_);
  }
  void Put(const std::string& bytes) {
    stream_->WriteBytes(bytes.data(), static_cast<uint32_t>(bytes.size()));
    stream_->SeekBuffered(0, TStream::kBegin);
  }
  platform::test::TempFolder folder_;
  std::unique_ptr<TStream> stream_;
};

// Random reads, writes and seeks of every size against a plain byte vector:
// the read-ahead, put-back and write-back paths must keep the logical
// position and the bytes exactly where the model has them.
TEST_P(StreamTest, MixedOperationsMatchModel) {
  std::mt19937 rng(1234);
  Bytes model;
  uint32_t pos = 0;
  TStream& s = *stream_;
  auto size = [&] { return static_cast<uint32_t>(model.size()); };
  auto pick = [&](uint32_t hi) { return std::uniform_int_distribution<uint32_t>(0, hi)(rng); };
  const uint32_t lengths[] = {1, 3, 4, 15, 16, 17, 100, 4079, 4080, 4096, 9000};

  for (int step = 0; step < 3000; ++step) {
    SCOPED_TRACE(step);
    switch (pick(7)) {
    case 0:
    case 1: {  // write
      const uint32_t n = lengths[pick(std::size(lengths) - 1)];
      Bytes data(n);
      for (auto& b : data) b = static_cast<uint8_t>(rng());
      ASSERT_EQ(s.WriteBytes(data.data(), n), n);
      if (pos + n > size()) model.resize(pos + n);
      std::copy(data.begin(), data.end(), model.begin() + pos);
      pos += n;
      break;
    }
    case 2:
    case 3: {  // read
      const uint32_t n = lengths[pick(std::size(lengths) - 1)];
      Bytes got(n, 0xEE);
      const uint32_t count = s.ReadBuffered(n, got.data());
      const uint32_t expect = std::min(n, size() - pos);
      ASSERT_EQ(count, expect);
      ASSERT_TRUE(std::equal(got.begin(), got.begin() + count, model.begin() + pos));
      pos += count;
      break;
    }
    case 4: {  // absolute or relative seek inside the data
      const uint32_t target = pick(size());
      if (pick(1)) s.SeekBuffered(target, TStream::kBegin);
      else s.SeekBuffered(int64_t(target) - pos, TStream::kCurrent);
      pos = target;
      break;
    }
    case 5: {  // seek from the end
      const uint32_t back = pick(size());
      s.SeekBuffered(back, TStream::kEnd);
      pos = size() - back;
      break;
    }
    case 6:  // step back one byte, as the text reader does
      if (pos > 0) {
        s.UnreadChar();
        --pos;
        ASSERT_EQ(static_cast<uint8_t>(s.ReadChar()), model[pos]);
        ++pos;
      }
      break;
    case 7:
      ASSERT_EQ(s.GetSize(), size());
      break;
    }
    ASSERT_EQ(s.Tell(), pos);
    ASSERT_EQ(s.AtEnd(), pos >= size());
  }
  EXPECT_EQ(s.GetError(), 0);
  s.SeekBuffered(0, TStream::kBegin);
  Bytes all(size());
  EXPECT_EQ(s.ReadBytes(all.data(), size()), size());
  EXPECT_EQ(all, model);
}

TEST_P(StreamTest, WriteAfterReadLandsAtLogicalPosition) {
  Put("0123456789ABCDEF");
  EXPECT_EQ(stream_->ReadInt(), 0x33323130u);
  EXPECT_GT(stream_->Buffered(), 0u);
  stream_->WriteInt(0x64636261);  // "abcd"
  EXPECT_EQ(stream_->Tell(), 8u);
  EXPECT_EQ(stream_->ReadInt(), 0x42413938u);  // "89AB"
  stream_->SeekBuffered(0, TStream::kBegin);
  char all[17] = {};
  stream_->ReadBytes(all, 16);
  EXPECT_STREQ(all, "0123abcd89ABCDEF");
}

TEST_P(StreamTest, LargeReadsBypassTheBuffer) {
  Bytes data(10000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  Put(Text(data));
  Bytes got(TStream::kDirectRead);
  EXPECT_EQ(stream_->ReadBytes(got.data(), TStream::kDirectRead), TStream::kDirectRead);
  EXPECT_EQ(stream_->Buffered(), 0u);
  EXPECT_TRUE(std::equal(got.begin(), got.end(), data.begin()));
  // One byte less goes through the buffer, which keeps what it read ahead.
  stream_->SeekBuffered(0, TStream::kBegin);
  EXPECT_EQ(stream_->ReadBytes(got.data(), TStream::kDirectRead - 1), TStream::kDirectRead - 1);
  EXPECT_GT(stream_->Buffered(), 0u);
  EXPECT_EQ(stream_->Tell(), TStream::kDirectRead - 1);
}

TEST_P(StreamTest, UnreadStepsBackAcrossARefill) {
  std::string data(TStream::kBufferSize * 3, 0);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>('a' + i % 26);
  Put(data);
  for (size_t i = 0; i < data.size(); ++i) {
    ASSERT_EQ(stream_->ReadChar(), data[i]);
    // Step back twice over every byte and read them again.
    if (i >= 1) {
      stream_->UnreadChar();
      stream_->UnreadChar();
      ASSERT_EQ(stream_->ReadChar(), data[i - 1]) << i;
      ASSERT_EQ(stream_->ReadChar(), data[i]) << i;
    }
  }
  EXPECT_EQ(stream_->ReadChar(), 0);
  EXPECT_TRUE(stream_->AtEnd());
  EXPECT_EQ(stream_->GetError(), 0);
}

TEST_P(StreamTest, ReadLineTakesEveryLineEnd) {
  Put(std::string("a\r\nb\n\rc\n\nd\r\re\r"));
  const char* expected[] = {"a", "b", "c", "", "d", "", "e"};
  for (const char* line : expected) {
    Vak::String got;
    stream_->ReadLine(got);
    EXPECT_STREQ(static_cast<const char*>(got), line);
  }
  EXPECT_TRUE(stream_->AtEnd());
  Vak::String rest("x");
  stream_->ReadLine(rest);
  EXPECT_EQ(rest.Size(), 0u);
  EXPECT_EQ(stream_->GetError(), 0);
}

TEST_P(StreamTest, CharacterHelpers) {
  Put(" \t x\ty");
  stream_->SkipBlanks();
  EXPECT_EQ(stream_->ReadChar(), 'x');
  stream_->SkipBlanks();
  EXPECT_EQ(stream_->ReadChar(), 'y');
  stream_->SkipBlanks();
  EXPECT_EQ(stream_->ReadChar(), 0);
}

TEST_P(StreamTest, SizeMarkerIsPatched) {
  stream_->WriteInt(0x11111111);
  const uint32_t mark = stream_->WriteSizeMarker();
  EXPECT_EQ(mark, 4u);
  stream_->SeekBuffered(mark, TStream::kBegin);
  EXPECT_EQ(stream_->ReadInt(), TStream::kSizeMarker);
  stream_->Printf("body %d", 42);
  const uint32_t end = stream_->Tell();
  stream_->WriteIntAt(end - mark - 4, mark);
  EXPECT_EQ(stream_->Tell(), end);
  stream_->WriteByte(0x7A);
  stream_->SeekBuffered(0, TStream::kBegin);
  EXPECT_EQ(stream_->ReadInt(), 0x11111111u);
  EXPECT_EQ(stream_->ReadInt(), 7u);
  char body[9] = {};
  stream_->ReadBytes(body, 8);
  EXPECT_STREQ(body, "body 42z");
  EXPECT_EQ(stream_->GetSize(), 16u);
}

TEST_P(StreamTest, StringForms) {
  const std::string longText(3000, 'q');
  stream_->WritePString(Vak::PString());
  stream_->WritePString(Vak::PString(""));
  stream_->WritePString(Vak::PString("abc"));
  stream_->WritePString(Vak::PString(longText.c_str()));
  stream_->WritePString(Vak::PString(std::string(0xFFFF, 'x').c_str()));
  stream_->WriteString(Vak::String("hello"));
  stream_->WriteString(Vak::String());
  stream_->WriteString(Vak::String(longText.c_str()));
  stream_->WriteString(Vak::String(std::string(0x10000, 'y').c_str()));
  stream_->WriteInt(0x12345678);
  stream_->SeekBuffered(0, TStream::kBegin);

  // The empty forms are the bare length 0.
  EXPECT_EQ(stream_->ReadInt(), 0u);
  EXPECT_EQ(stream_->ReadInt(), 0u);
  EXPECT_EQ(stream_->ReadInt(), 4u);
  stream_->SeekBuffered(-12, TStream::kCurrent);

  Vak::PString p("junk");
  stream_->ReadPString(p);
  EXPECT_TRUE(p.IsNull());
  stream_->ReadPString(p);
  EXPECT_EQ(p.Length(), 0u);
  stream_->ReadPString(p);
  EXPECT_EQ(p, Vak::PString("abc"));
  stream_->ReadPString(p);
  EXPECT_EQ(p, Vak::PString(longText.c_str()));
  stream_->ReadPString(p);
  EXPECT_EQ(p.Length(), 0u);

  Vak::String s("junk");
  stream_->ReadString(s);
  EXPECT_STREQ(static_cast<const char*>(s), "hello");
  stream_->ReadString(s);
  EXPECT_EQ(s.Size(), 0u);
  stream_->ReadString(s);
  EXPECT_EQ(std::string(static_cast<const char*>(s)), longText);
  stream_->ReadString(s);
  EXPECT_EQ(s.Size(), 0u);
  EXPECT_EQ(stream_->ReadInt(), 0x12345678u);
  EXPECT_EQ(stream_->GetError(), 0);
}

// A length above the limit is skipped whole; what follows still reads.
TEST_P(StreamTest, OversizeStringLengthsAreSkipped) {
  struct Case {
    uint32_t length;
    bool pstring;
  };
  for (const Case c : {Case{0x10000, true}, Case{0x10000, false}, Case{0x20001, false}}) {
    SCOPED_TRACE(c.length);
    Fresh();
    stream_->WriteInt(c.length);
    const std::string body(c.length, 'z');
    stream_->WriteBytes(body.data(), c.length);
    stream_->WriteInt(0xCAFEF00D);
    stream_->SeekBuffered(0, TStream::kBegin);
    if (c.pstring) {
      Vak::PString p("junk");
      stream_->ReadPString(p);
      EXPECT_TRUE(p.IsNull());
    } else {
      Vak::String s("junk");
      stream_->ReadString(s);
      EXPECT_EQ(s.Size(), 0u);
    }
    EXPECT_EQ(stream_->ReadInt(), 0xCAFEF00Du);
  }
}

// A short read delivers exactly the bytes there are, leaves the rest of the
// destination alone and raises the error flag.
TEST_P(StreamTest, ShortReadsUseOnlyDeliveredBytes) {
  Put(std::string("\x01\x02", 2));
  EXPECT_EQ(stream_->ReadInt(), 0x0201u);
  EXPECT_NE(stream_->GetError(), 0);

  Fresh();
  EXPECT_EQ(stream_->GetError(), 0);
  stream_->WriteInt(100);
  Put("partial");
  stream_->SeekBuffered(0, TStream::kBegin);
  Vak::String s;
  stream_->ReadString(s);
  EXPECT_STREQ(static_cast<const char*>(s), "partial");
  EXPECT_NE(stream_->GetError(), 0);

  Fresh();
  stream_->WriteInt(600);  // beyond the local buffer
  Put("heap");
  stream_->SeekBuffered(0, TStream::kBegin);
  Vak::PString p;
  stream_->ReadPString(p);
  EXPECT_EQ(p, Vak::PString("heap"));

  Fresh();
  Put("abc");
  char out[8];
  std::memset(out, '#', sizeof out);
  EXPECT_EQ(stream_->ReadBytes(out, 8), 3u);
  EXPECT_EQ(std::string(out, 8), "abc#####");
}

TEST_P(StreamTest, TruncateEmptiesTheStream) {
  Put("some bytes");
  char all[16];
  stream_->ReadBytes(all, sizeof all);
  EXPECT_NE(stream_->GetError(), 0);
  stream_->Truncate();
  EXPECT_EQ(stream_->GetError(), 0);
  EXPECT_EQ(stream_->GetSize(), 0u);
  EXPECT_EQ(stream_->Tell(), 0u);
  EXPECT_TRUE(stream_->AtEnd());
  stream_->WriteInt(5);
  EXPECT_EQ(stream_->GetSize(), 4u);
}

INSTANTIATE_TEST_SUITE_P(Devices, StreamTest,
                         ::testing::Values(Device{"File", MakeFile}, Device{"Buffer", MakeBuffer}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TFileTest, WithoutAFile) {
  TFile stream;
  EXPECT_FALSE(stream.IsOpen());
  EXPECT_TRUE(stream.AtEnd());
  EXPECT_EQ(stream.Tell(), 0u);
  uint8_t b = 0;
  EXPECT_EQ(stream.Write(&b, 1), 0u);
  EXPECT_EQ(stream.GetError(), 1);
  stream.Close();
  EXPECT_EQ(stream.GetError(), 0);
  EXPECT_EQ(stream.Read(&b, 1), 0u);
  EXPECT_EQ(stream.GetError(), 1);
}

TEST(TFileTest, OpenFailsForAMissingFile) {
  platform::test::TempFolder folder;
  TFile stream;
  EXPECT_FALSE(stream.Open((folder / "missing.bin").c_str(), Vak::File::kRead));
  EXPECT_FALSE(stream.IsOpen());
}

TEST(TFileTest, AtEndWaitsForBufferedBytes) {
  platform::test::TempFolder folder;
  folder.WriteFile("data.bin", "12345678");
  TFile stream;
  ASSERT_TRUE(stream.Open((folder / "data.bin").c_str(), Vak::File::kRead));
  stream.ReadInt();
  EXPECT_TRUE(stream.GetFile().Eof());
  EXPECT_FALSE(stream.AtEnd());
  stream.ReadInt();
  EXPECT_TRUE(stream.AtEnd());
  EXPECT_EQ(stream.GetError(), 0);
}

// Closing a borrowed file hands it back at the stream's logical position.
TEST(TFileTest, ClosingABorrowedFileRewindsTheReadAhead) {
  platform::test::TempFolder folder;
  folder.WriteFile("data.bin", "0123456789");
  Vak::File file;
  ASSERT_TRUE(file.Open((folder / "data.bin").c_str(), Vak::File::kRead).Ok());
  {
    TFile stream(&file);
    EXPECT_EQ(stream.ReadByte(), '0');
    EXPECT_EQ(stream.ReadByte(), '1');
  }
  EXPECT_TRUE(file.IsOpen());
  EXPECT_EQ(file.Tell(), 2u);
  char c = 0;
  file.Read(&c, 1, 1);
  EXPECT_EQ(c, '2');
}

TEST(TFileTest, TruncateReopensForWriting) {
  platform::test::TempFolder folder;
  folder.WriteFile("data.bin", "old contents");
  TFile stream;
  ASSERT_TRUE(stream.Open((folder / "data.bin").c_str(), kReadWrite & ~Vak::File::kCreate));
  stream.ReadInt();
  stream.Truncate();
  EXPECT_TRUE(stream.IsOpen());
  stream.Printf("new");
  stream.Close();
  EXPECT_EQ(folder.ReadFile("data.bin"), "new");
}

// A view reads the borrowed bytes as a buffer would, tells where its
// logical position lies in them, and refuses writes.
TEST(TViewTest, ReadsSeeksAndShowsTheBytesInPlace) {
  Bytes bytes(10000);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
  TView view(bytes.data(), static_cast<uint32_t>(bytes.size()));
  EXPECT_EQ(view.GetSize(), 10000u);
  uint8_t got[6000];
  const struct {
    int64_t seek;  // -1: no seek
    uint32_t read;
    uint32_t at;  // the position after
  } steps[] = {{-1, 3, 3}, {-1, 1, 4}, {100, 5000, 5100}, {9998, 6, 10000}, {0, 0, 0}, {2, 4, 6}};
  for (const auto& step : steps) {
    if (step.seek >= 0) view.SeekBuffered(step.seek, TStream::kBegin);
    const uint32_t from = view.Tell();
    const uint32_t n = view.ReadBuffered(step.read, got);
    EXPECT_EQ(n, step.at - from);
    EXPECT_TRUE(std::equal(got, got + n, bytes.begin() + from));
    EXPECT_EQ(view.Tell(), step.at);
    uint32_t left = 0;
    EXPECT_EQ(view.InPlace(left), bytes.data() + step.at);
    EXPECT_EQ(left, 10000u - step.at);
  }
  EXPECT_EQ(view.GetError(), 0);
  EXPECT_EQ(view.WriteBytes("x", 1), 0u);
  EXPECT_NE(view.GetError(), 0);
  EXPECT_EQ(bytes[6], static_cast<uint8_t>(42));

  TBuffer buffer;
  uint32_t left = 1;
  EXPECT_EQ(buffer.InPlace(left), nullptr);
  EXPECT_EQ(left, 0u);
}

TEST(TBufferTest, SeeksStayInsideTheData) {
  DynamicBuffer memory;
  TBuffer stream(&memory);
  stream.Printf("%s", "0123456789");
  stream.Seek(20, TStream::kBegin);
  EXPECT_EQ(stream.Tell(), 10u);
  stream.Seek(-30, TStream::kCurrent);
  EXPECT_EQ(stream.Tell(), 0u);
  stream.Seek(3, TStream::kEnd);
  EXPECT_EQ(stream.Tell(), 7u);
  stream.Seek(11, TStream::kEnd);
  EXPECT_EQ(stream.Tell(), 0u);
  EXPECT_EQ(memory.Size(), 10u);
}

} // namespace

// Damaged compressed content is a read error of the stream, not a shorter file.
TEST(TFileTest, DamagedCompressedContentSetsTheError) {
  const auto u32 = [](uint32_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; };
  struct Case {
    const char* name;
    std::string blocks;
  };
  const Case cases[] = {
      {"a stored block longer than a block", std::string("\x03\x80", 2) + "abc" + std::string("\xFF\xFF", 2) +
                                                 std::string(40000, 'x')},
      {"an empty stored block", std::string("\x03\x80", 2) + "abc" + std::string("\x00\x80", 2) + "def"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    platform::test::TempFolder folder;
    folder.WriteFile("c.bin", "CFIL" + u32(257) + u32(6) + c.blocks);
    TFile stream;
    ASSERT_TRUE(stream.Open((folder / "c.bin").c_str(), Vak::File::kRead));
    // The clean part reads whole; what comes after it is not an end.
    char out[3] = {};
    EXPECT_EQ(stream.ReadBytes(out, 3), 3u);
    EXPECT_EQ(std::string(out, 3), "abc");
    EXPECT_TRUE(stream.AtEnd());
    EXPECT_NE(stream.GetError(), 0);
  }
}
