#include "platform/os/File.h"

#include "PrintError.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

using platform::Error;
using platform::File;
using Access = platform::File::Access;
using Disposition = platform::File::Disposition;
using Origin = platform::File::Origin;

struct DispositionCase {
  const char* label;
  Disposition disposition;
  Access access;
  bool fileThere;
  Error expected;
  int64_t sizeAfter;  // -1: no file afterwards
};

TEST(File, DispositionsTable) {
  const DispositionCase cases[] = {
      {"open existing", Disposition::OpenExisting, Access::Read, true, Error::None, 5},
      {"open missing", Disposition::OpenExisting, Access::ReadWrite, false, Error::NotFound, -1},
      {"open-always existing", Disposition::OpenAlways, Access::Write, true, Error::None, 5},
      {"open-always missing", Disposition::OpenAlways, Access::Write, false, Error::None, 0},
      {"create-new existing", Disposition::CreateNew, Access::Write, true, Error::AlreadyExists, 5},
      {"create-new missing", Disposition::CreateNew, Access::ReadWrite, false, Error::None, 0},
      {"create-always existing", Disposition::CreateAlways, Access::Write, true, Error::None, 0},
      {"create-always missing", Disposition::CreateAlways, Access::Write, false, Error::None, 0},
      {"truncate existing", Disposition::TruncateExisting, Access::ReadWrite, true, Error::None, 0},
      {"truncate missing", Disposition::TruncateExisting, Access::Write, false, Error::NotFound, -1},
      {"truncate read-only", Disposition::TruncateExisting, Access::Read, true, Error::InvalidArgument, 5},
  };
  for (const DispositionCase& c : cases) {
    SCOPED_TRACE(c.label);
    platform::test::TempFolder dir;
    if (c.fileThere) dir.WriteFile("f.bin", "hello");
    File file;
    EXPECT_EQ(file.Open((dir / "f.bin").c_str(), c.access, c.disposition), c.expected);
    EXPECT_EQ(file.IsOpen(), c.expected == Error::None);
    if (file.IsOpen()) {
      EXPECT_EQ(file.Tell(), 0);
      EXPECT_EQ(file.Size(), c.sizeAfter);
    }
    file.Close();
    if (c.sizeAfter < 0) {
      EXPECT_FALSE(dir.Has("f.bin"));
    } else {
      ASSERT_TRUE(dir.Has("f.bin"));
      EXPECT_EQ(static_cast<int64_t>(std::filesystem::file_size(dir.Path() / "f.bin")), c.sizeAfter);
      if (c.sizeAfter == 5) {
        EXPECT_EQ(dir.ReadFile("f.bin"), "hello");
      }
    }
  }
}

TEST(File, WriteSeekReadTruncateRoundTrip) {
  platform::test::TempFolder dir;
  const std::string path = dir / "data.bin";
  File file;
  ASSERT_EQ(file.Open(path.c_str(), Access::ReadWrite, Disposition::CreateNew), Error::None);
  ASSERT_EQ(file.Write("0123456789", 10), Error::None);
  EXPECT_EQ(file.Tell(), 10);
  EXPECT_EQ(file.Size(), 10);

  struct SeekCase {
    int64_t offset;
    Origin origin;
    int64_t position;
    const char* next3;  // the bytes read from there (fewer at the end)
  };
  const SeekCase seeks[] = {
      {2, Origin::Begin, 2, "234"},
      {1, Origin::Current, 6, "678"},  // after the previous read the position is 5
      {-3, Origin::Current, 6, "678"},
      {-4, Origin::End, 6, "678"},
      {-2, Origin::End, 8, "89"},
      {0, Origin::End, 10, ""},
      {15, Origin::Begin, 15, ""},
  };
  for (const SeekCase& s : seeks) {
    SCOPED_TRACE(s.position);
    int64_t at = -1;
    ASSERT_EQ(file.Seek(s.offset, s.origin, &at), Error::None);
    EXPECT_EQ(at, s.position);
    EXPECT_EQ(file.Tell(), s.position);
    char buf[3] = {};
    std::size_t got = 99;
    ASSERT_EQ(file.Read(buf, 3, got), Error::None);
    EXPECT_EQ(std::string(buf, got), s.next3);
  }

  // A position before the start is refused and changes nothing.
  ASSERT_EQ(file.Seek(4, Origin::Begin), Error::None);
  EXPECT_EQ(file.Seek(-5, Origin::Current), Error::InvalidArgument);
  EXPECT_EQ(file.Tell(), 4);

  // Overwrite in the middle, then cut the file there.
  ASSERT_EQ(file.Write("ab", 2), Error::None);
  ASSERT_EQ(file.SetEndOfFile(), Error::None);
  EXPECT_EQ(file.Size(), 6);
  EXPECT_EQ(file.Tell(), 6);

  // Lengthening fills with zeros.
  ASSERT_EQ(file.Seek(8, Origin::Begin), Error::None);
  ASSERT_EQ(file.SetEndOfFile(), Error::None);
  EXPECT_EQ(file.Size(), 8);
  EXPECT_EQ(file.Sync(), Error::None);
  EXPECT_EQ(file.Close(), Error::None);
  EXPECT_EQ(dir.ReadFile("data.bin"), std::string("0123ab\0\0", 8));
}

TEST(File, OffsetsBeyondFourGigabytes) {
  platform::test::TempFolder dir;
  const std::string path = dir / "big.bin";
  const int64_t far = (int64_t{5} << 30) + 3;  // sparse: takes no space
  File file;
  ASSERT_EQ(file.Open(path.c_str(), Access::ReadWrite, Disposition::CreateNew), Error::None);
  int64_t at = 0;
  ASSERT_EQ(file.Seek(far, Origin::Begin, &at), Error::None);
  EXPECT_EQ(at, far);
  ASSERT_EQ(file.Write("Z", 1), Error::None);
  EXPECT_EQ(file.Size(), far + 1);
  ASSERT_EQ(file.Seek(-1, Origin::End, &at), Error::None);
  EXPECT_EQ(at, far);
  char c = 0;
  std::size_t got = 0;
  ASSERT_EQ(file.Read(&c, 1, got), Error::None);
  EXPECT_EQ(got, 1u);
  EXPECT_EQ(c, 'Z');
  ASSERT_EQ(file.Seek(1, Origin::Begin), Error::None);
  ASSERT_EQ(file.SetEndOfFile(), Error::None);
  EXPECT_EQ(file.Size(), 1);
}

TEST(File, ReadStopsAtTheEndAndLargeTransfersArriveWhole) {
  platform::test::TempFolder dir;
  std::string content(300000, 0);
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7 + i / 251);
  File file;
  ASSERT_EQ(file.Open((dir / "x").c_str(), Access::Write, Disposition::CreateAlways), Error::None);
  ASSERT_EQ(file.Write(content.data(), content.size()), Error::None);
  ASSERT_EQ(file.Close(), Error::None);

  ASSERT_EQ(file.Open((dir / "x").c_str(), Access::Read, Disposition::OpenExisting), Error::None);
  std::vector<char> back(content.size() + 100, 1);
  std::size_t got = 0;
  ASSERT_EQ(file.Read(back.data(), back.size(), got), Error::None);
  EXPECT_EQ(got, content.size());
  EXPECT_EQ(std::string(back.data(), got), content);
  ASSERT_EQ(file.Read(back.data(), 10, got), Error::None);
  EXPECT_EQ(got, 0u);
}

TEST(File, OpenedSizeIsTheLengthAReadingOpenSaw) {
  platform::test::TempFolder dir;
  dir.WriteFile("five.txt", "12345");
  File file;
  EXPECT_EQ(file.OpenedSize(), -1);
  ASSERT_EQ(file.Open((dir / "five.txt").c_str(), Access::Read, Disposition::OpenExisting), Error::None);
  EXPECT_EQ(file.OpenedSize(), 5);
  File moved(std::move(file));
  EXPECT_EQ(moved.OpenedSize(), 5);
  moved.Close();
  EXPECT_EQ(moved.OpenedSize(), -1);
  ASSERT_EQ(moved.Open((dir / "five.txt").c_str(), Access::ReadWrite, Disposition::OpenExisting), Error::None);
  EXPECT_EQ(moved.OpenedSize(), -1);
}

TEST(File, OpenErrors) {
  platform::test::TempFolder dir;
  dir.WriteFile("there.txt", "x");
  std::filesystem::create_directory(dir.Path() / "folder");
  struct ErrorCase {
    const char* label;
    std::string path;
    Access access;
    Disposition disposition;
    Error expected;
  };
  const ErrorCase cases[] = {
      {"missing file", dir / "none.txt", Access::Read, Disposition::OpenExisting, Error::NotFound},
      {"missing folder", dir / "nodir/none.txt", Access::Read, Disposition::OpenExisting, Error::PathNotFound},
      {"create in missing folder", dir / "nodir/new.txt", Access::Write, Disposition::CreateAlways,
       Error::PathNotFound},
      {"file used as folder", dir / "there.txt/x", Access::Read, Disposition::OpenAlways, Error::PathNotFound},
      {"create-new on existing", dir / "there.txt", Access::Write, Disposition::CreateNew, Error::AlreadyExists},
      {"create-new on existing, other case", dir / "THERE.TXT", Access::Write, Disposition::CreateNew,
       Error::AlreadyExists},
      {"folder for reading", dir / "folder", Access::Read, Disposition::OpenExisting, Error::IsFolder},
      {"folder for writing", dir / "folder", Access::Write, Disposition::OpenAlways, Error::IsFolder},
  };
  for (const ErrorCase& c : cases) {
    SCOPED_TRACE(c.label);
    File file;
    EXPECT_EQ(file.Open(c.path.c_str(), c.access, c.disposition), c.expected);
    EXPECT_FALSE(file.IsOpen());
  }
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "nodir"));
  EXPECT_EQ(dir.ReadFile("there.txt"), "x");
  File file;
  EXPECT_EQ(file.Open(nullptr, Access::Read, Disposition::OpenExisting), Error::InvalidArgument);
}

TEST(File, AccessIsEnforced) {
  platform::test::TempFolder dir;
  dir.WriteFile("f", "abc");
  char buf[4];
  std::size_t got = 0;
  File reader;
  ASSERT_EQ(reader.Open((dir / "f").c_str(), Access::Read, Disposition::OpenExisting), Error::None);
  EXPECT_EQ(reader.Write("x", 1), Error::AccessDenied);
  EXPECT_EQ(reader.SetEndOfFile(), Error::AccessDenied);
  File writer;
  ASSERT_EQ(writer.Open((dir / "f").c_str(), Access::Write, Disposition::OpenExisting), Error::None);
  EXPECT_EQ(writer.Read(buf, 3, got), Error::AccessDenied);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(dir.ReadFile("f"), "abc");
}

TEST(File, ClosedAndReopenedObjects) {
  platform::test::TempFolder dir;
  dir.WriteFile("f", "abc");
  File file;
  char buf[4];
  std::size_t got = 7;
  EXPECT_EQ(file.Read(buf, 1, got), Error::InvalidArgument);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(file.Write("x", 1), Error::InvalidArgument);
  EXPECT_EQ(file.Seek(0, Origin::Begin), Error::InvalidArgument);
  EXPECT_EQ(file.SetEndOfFile(), Error::InvalidArgument);
  EXPECT_EQ(file.Sync(), Error::InvalidArgument);
  EXPECT_EQ(file.Tell(), -1);
  EXPECT_EQ(file.Size(), -1);
  EXPECT_EQ(file.Close(), Error::None);

  // An open object refuses a second open and keeps its file.
  ASSERT_EQ(file.Open((dir / "f").c_str(), Access::Read, Disposition::OpenExisting), Error::None);
  EXPECT_EQ(file.Open((dir / "g").c_str(), Access::Write, Disposition::CreateNew), Error::InvalidArgument);
  EXPECT_FALSE(dir.Has("g"));
  EXPECT_EQ(file.Size(), 3);

  // Moving hands the file over; the source is closed.
  File other(std::move(file));
  EXPECT_FALSE(file.IsOpen());
  ASSERT_TRUE(other.IsOpen());
  ASSERT_EQ(other.Read(buf, 3, got), Error::None);
  EXPECT_EQ(std::string(buf, got), "abc");
  File third;
  ASSERT_EQ(third.Open((dir / "g").c_str(), Access::Write, Disposition::CreateNew), Error::None);
  third = std::move(other);  // closes g
  EXPECT_EQ(third.Size(), 3);
  EXPECT_EQ(other.Size(), -1);
}

TEST(File, BackSlashesAndCaseReachTheFile) {
  platform::test::TempFolder dir;
  dir.WriteFile("Sub/Name.TXT", "content");
  std::string mixed = dir.Path().string() + "\\sUB\\name.txt";
  File file;
  ASSERT_EQ(file.Open(mixed.c_str(), Access::ReadWrite, Disposition::OpenExisting), Error::None);
  EXPECT_EQ(file.Size(), 7);
  ASSERT_EQ(file.Seek(0, Origin::End), Error::None);
  ASSERT_EQ(file.Write("!", 1), Error::None);
  file.Close();
  EXPECT_EQ(dir.ReadFile("Sub/Name.TXT"), "content!");

  // A new file in a folder named in another case goes into that folder, as named.
  std::string fresh = dir.Path().string() + "\\SUB\\Fresh.Bin";
  ASSERT_EQ(file.Open(fresh.c_str(), Access::Write, Disposition::CreateNew), Error::None);
  file.Close();
  EXPECT_TRUE(dir.Has("Sub/Fresh.Bin"));
  EXPECT_FALSE(dir.Has("SUB"));
}

} // namespace

namespace {

TEST(File, PositionedCallsLeaveThePositionAlone) {
  platform::test::TempFolder dir;
  File file;
  ASSERT_EQ(file.Open((dir / "p.bin").c_str(), Access::ReadWrite, Disposition::CreateAlways), Error::None);
  ASSERT_EQ(file.Write("abcdef", 6), Error::None);
  ASSERT_EQ(file.Seek(2, Origin::Begin), Error::None);

  ASSERT_EQ(file.WriteAt(8, "XY", 2), Error::None);  // past the end: the gap reads as zeros
  char buffer[16] = {};
  std::size_t read = 0;
  ASSERT_EQ(file.ReadAt(4, buffer, sizeof buffer, read), Error::None);
  EXPECT_EQ(std::string(buffer, read), std::string("ef\0\0XY", 6));  // stops at the end
  EXPECT_EQ(file.Tell(), 2);

  EXPECT_EQ(file.ReadAt(-1, buffer, 1, read), Error::InvalidArgument);
  EXPECT_EQ(file.WriteAt(-1, "x", 1), Error::InvalidArgument);
  file.Close();
  EXPECT_EQ(file.ReadAt(0, buffer, 1, read), Error::InvalidArgument);
}

// Inside a batch the syncs wait for the outermost batch's end; other
// threads, outside any batch, still sync at once; an explicit flush from any
// thread empties what is pending.
TEST(File, SyncBatchDefersToOneFlush) {
  platform::test::TempFolder dir;
  auto written = [&dir](const char* name) {
    File file;
    EXPECT_EQ(file.Open((dir / name).c_str(), Access::Write, Disposition::CreateNew), Error::None);
    EXPECT_EQ(file.Write("data", 4), Error::None);
    return file;
  };
  ASSERT_FALSE(platform::HasDeferredSyncs());
  {
    platform::SyncBatch outer;
    {
      platform::SyncBatch inner;
      File a = written("a");
      EXPECT_EQ(a.SyncOrDefer(), Error::None);
      File b = written("b");
      EXPECT_EQ(b.SyncOrDefer(), Error::None);
      EXPECT_EQ(a.Close(), Error::None);
      EXPECT_TRUE(platform::HasDeferredSyncs());
    }
    EXPECT_TRUE(platform::HasDeferredSyncs()) << "an inner batch must not flush";
    std::thread([&] {
      File c = written("c");
      EXPECT_EQ(c.SyncOrDefer(), Error::None);
    }).join();
    EXPECT_TRUE(platform::HasDeferredSyncs());
  }
  EXPECT_FALSE(platform::HasDeferredSyncs());

  {
    platform::SyncBatch batch;
    File d = written("d");
    EXPECT_EQ(d.SyncOrDefer(), Error::None);
    std::thread([] { EXPECT_EQ(platform::FlushDeferredSyncs(), Error::None); }).join();
    EXPECT_FALSE(platform::HasDeferredSyncs());
    File closed;
    EXPECT_EQ(closed.SyncOrDefer(), Error::InvalidArgument);
    EXPECT_FALSE(platform::HasDeferredSyncs());
  }
  EXPECT_EQ(platform::FlushDeferredSyncs(), Error::None);
}

} // namespace
