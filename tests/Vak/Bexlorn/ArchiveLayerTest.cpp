#include "Vak/Bexlorn/FileSubArchive.h"
#include "Vak/Bexlorn/ByteOrder.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "Vak/Bexlorn/Exception.h"
#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/FileSubst.h"
#include "tests/Vak/Bexlorn/ArchiveBuilder.h"
#include "tests/platform/os/TempFolder.h"

namespace {

using Vak::File;
using Vak::FileSub;
using Vak::FileSubArchive;
using Vak::FileSubstList;
using Vak::PString;
using Vak::test::ArchiveBuilder;
using Vak::test::ReadVia;
using Vak::test::Slurp;
using Vak::test::WriteVia;
namespace Archive = Vak::Archive;
using platform::test::TempFolder;

constexpr unsigned long kCompressed = File::kWriteCompressed | File::kCreate;

std::string Pattern(std::size_t n, uint32_t seed) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>("the quick brown fox "[(i * 7 + seed) % 20] ^ (i >> 12));
  return s;
}

uint32_t U32At(const std::string& bytes, std::size_t at) {
  return Vak::GetLE32(reinterpret_cast<const uint8_t*>(bytes.data()) + at);
}

// name -> attributes of every match of `pattern`.
std::map<std::string, uint16_t> List(const char* pattern) {
  std::map<std::string, uint16_t> out;
  File::Find find;
  for (bool more = find.Open(pattern); more; more = find.Next()) out[find.name] = find.attributes;
  return out;
}

class ArchiveLayerTest : public ::testing::Test {
protected:
  void TearDown() override {
    FileSubArchive::SetProgress(nullptr);
    for (const char* name : {"va", "data"}) FileSubstList::Get().Remove(PString(name), false);
  }
  // Mounts the archive as "va" and returns the layer.
  FileSubArchive* Mount(bool writable, const std::string& path = "") {
    auto layer = std::make_unique<FileSubArchive>((path.empty() ? path_ : path).c_str(), writable);
    FileSubArchive* raw = layer.get();
    EXPECT_TRUE(FileSubstList::Get().Add(PString("va"), std::move(layer)));
    return raw;
  }
  void Unmount() { File::Subst(PString("va"), nullptr, false); }
  Archive::Info InfoOnDisk() {
    const std::string bytes = Slurp(path_);
    return Archive::Info::Decode(reinterpret_cast<const uint8_t*>(bytes.data()) + 12, 32);
  }

  TempFolder dir_;
  std::string path_ = dir_ / "test.va";
};

TEST_F(ArchiveLayerTest, StoresAndReadsBackAcrossRemounts) {
  const std::map<std::string, std::pair<std::string, bool>> files = {
      {"readme.txt", {"hello archive", false}},
      {"meshes/big.im", {Pattern(70000, 1), true}},
      {"meshes/empty.im", {"", true}},
      {"textures/deep/one.tga", {Pattern(16384, 2), false}},
      {"textures/deep/two.tga", {Pattern(16385, 3), true}},
  };
  ASSERT_TRUE(File::Subst(PString("va"), path_.c_str(), true));
  for (const auto& [name, f] : files)
    ASSERT_TRUE(WriteVia("va:" + name, f.first, f.second ? kCompressed : File::kWrite | File::kCreate)) << name;
  for (const auto& [name, f] : files) EXPECT_EQ(ReadVia("va:" + name), f.first) << name;
  Unmount();

  FileSubArchive* archive = Mount(false);
  EXPECT_TRUE(archive->Indexed());
  EXPECT_TRUE(archive->IsReadOnly());
  EXPECT_EQ(archive->GetInfo().entryCount, files.size());
  for (const auto& [name, f] : files) {
    SCOPED_TRACE(name);
    EXPECT_EQ(ReadVia("va:" + name), f.first);
    Archive::FileHeader h;
    ASSERT_TRUE(archive->GetHeader(name.c_str(), h));
    EXPECT_EQ(h.Name(), name);
    EXPECT_EQ(h.uncompressedSize, f.first.size());
    EXPECT_EQ(h.checksum, Archive::Crc::Of(f.first.data(), f.first.size()));
    EXPECT_EQ(h.Compressed(), f.second);
    if (!f.second) {
      EXPECT_EQ(h.storedSize, f.first.size());
    }
  }
  // Read-only: no stores, no deletes, no read-write opens.
  const std::string bytes = Slurp(path_);
  EXPECT_FALSE(WriteVia("va:new.txt", "x"));
  EXPECT_FALSE(File::Unlink("va:readme.txt"));
  File rw;
  EXPECT_FALSE(rw.Open("va:readme.txt", File::kRead | File::kWrite).Ok());
  EXPECT_EQ(ReadVia("va:readme.txt"), "hello archive");
  Unmount();
  EXPECT_EQ(Slurp(path_), bytes);
}

TEST_F(ArchiveLayerTest, NamesIgnoreCaseAndOneLeadingSeparator) {
  Mount(true);
  ASSERT_TRUE(WriteVia("va:Meshes/Train.IM", "train"));
  ASSERT_TRUE(WriteVia("va:\xC4rger.txt", "umlaut"));  // A with diaeresis
  struct Case {
    const char* name;
    const char* content;
  };
  for (const Case& c : std::vector<Case>{{"va:meshes/train.im", "train"},
                                         {"va:MESHES/TRAIN.IM", "train"},
                                         {"va:\\Meshes/Train.IM", "train"},
                                         {"va:/meshes/train.im", "train"},
                                         {"va:meshes\\train.im", "train"},
                                         {"va:\xE4rger.txt", "umlaut"},
                                         {"va://meshes/train.im", "<not opened>"},
                                         {"va:meshes/train", "<not opened>"}})
    EXPECT_EQ(ReadVia(c.name), c.content) << c.name;
}

// The second spelling replaces the first: the old block stays as "FIL!",
// the file grows, the name keeps the last spelling.
TEST_F(ArchiveLayerTest, StoringANameAgainReplacesIt) {
  Mount(true);
  ASSERT_TRUE(WriteVia("va:Dir/File.txt", "first"));
  const std::string before = Slurp(path_);
  ASSERT_TRUE(WriteVia("va:DIR/FILE.TXT", "second!"));
  const std::string after = Slurp(path_);
  EXPECT_GT(after.size(), before.size());
  EXPECT_EQ(after.substr(44, 4), "FIL!");
  EXPECT_EQ(ReadVia("va:dir/file.txt"), "second!");
  EXPECT_EQ(List("va:dir/*.*"), (std::map<std::string, uint16_t>{{"FILE.TXT", 0}}));
  Unmount();
  FileSubArchive* archive = Mount(false);
  EXPECT_EQ(archive->GetInfo().entryCount, 1u);
  Archive::FileHeader h;
  ASSERT_TRUE(archive->GetHeader("dir/file.txt", h));
  EXPECT_EQ(h.Name(), "DIR/FILE.TXT");
}

TEST_F(ArchiveLayerTest, DeletedFilesAreGoneAndTheIndexShrinks) {
  Mount(true);
  for (const char* name : {"a.txt", "b.txt", "c.txt"}) ASSERT_TRUE(WriteVia(std::string("va:") + name, name));
  Unmount();
  const std::size_t grown = Slurp(path_).size();

  Mount(true);
  File::Find find;  // an open search sees the list change under it
  ASSERT_TRUE(find.Open("va:*.txt"));
  EXPECT_STREQ(find.name, "a.txt");
  ASSERT_TRUE(WriteVia("va:d.txt", "d"));
  EXPECT_TRUE(File::Unlink("va:b.txt"));
  EXPECT_TRUE(File::Unlink("va:d.txt"));  // added and deleted in one session
  EXPECT_FALSE(File::Unlink("va:b.txt"));
  std::vector<std::string> rest;
  while (find.Next()) rest.push_back(find.name);
  EXPECT_EQ(rest, (std::vector<std::string>{"c.txt"}));
  find.Close();
  EXPECT_EQ(ReadVia("va:b.txt"), "<not opened>");
  EXPECT_FALSE(File::Exists("va:d.txt").Ok());
  EXPECT_EQ(List("va:*.*").size(), 2u);
  Unmount();

  const std::string bytes = Slurp(path_);
  const Archive::Info info = InfoOnDisk();
  EXPECT_EQ(info.entryCount, 2u);
  EXPECT_EQ(bytes.substr(info.indexOffset, 4), "IDX ");
  EXPECT_EQ(info.indexOffset + 8 + 2 * 296, bytes.size());  // nothing stale behind the index
  EXPECT_LT(bytes.size(), grown + 8 + 288 + 1);
  std::size_t deleted = 0;
  for (std::size_t at = bytes.find("FIL!"); at != std::string::npos; at = bytes.find("FIL!", at + 1)) ++deleted;
  EXPECT_EQ(deleted, 2u);
  Mount(false);
  EXPECT_EQ(ReadVia("va:a.txt"), "a.txt");
  EXPECT_EQ(ReadVia("va:c.txt"), "c.txt");
}

TEST_F(ArchiveLayerTest, FoldersExistFromTheIndexAndFromNewStores) {
  Mount(true);
  ASSERT_TRUE(WriteVia("va:Textures/Rail/steel.tga", "x"));
  // Stored in this session: its folders are known at once.
  PString none;
  struct Case {
    const char* name;
    bool exists;
  };
  const std::vector<Case> cases = {{"textures", true},          {"TEXTURES/rail", true}, {"\\textures\\rail\\", true},
                                   {"textures/rail/steel.tga", true}, {"textures/steel", false}, {"rail", false},
                                   {"textures/rail/x.tga", false}};
  for (const Case& c : cases) EXPECT_EQ(File::Exists((std::string("va:") + c.name).c_str()).Ok(), c.exists) << c.name;
  Unmount();
  Mount(false);
  for (const Case& c : cases) EXPECT_EQ(File::Exists((std::string("va:") + c.name).c_str()).Ok(), c.exists) << c.name;
}

TEST_F(ArchiveLayerTest, FindListsFilesAndFoldersOnceAcrossLayers) {
  Mount(true);
  ASSERT_TRUE(WriteVia("va:x.txt", "from the archive"));
  ASSERT_TRUE(WriteVia("va:meshes/a.im", "a"));
  ASSERT_TRUE(WriteVia("va:meshes/sub/b.im", "b"));
  ASSERT_TRUE(WriteVia("va:meshes/c.txt", "c"));
  dir_.WriteFile("folder/x.txt", "from the folder");
  dir_.WriteFile("folder/y.txt", "y");
  ASSERT_TRUE(File::Subst(PString("va"), (dir_ / "folder/").c_str(), false));

  EXPECT_EQ(ReadVia("va:x.txt"), "from the folder");  // the layer added last answers first
  EXPECT_EQ(List("va:*.txt"), (std::map<std::string, uint16_t>{{"x.txt", 0}, {"y.txt", 0}}));
  // The archive (added first) is searched first, so x.txt is its entry.
  File::Find find;
  ASSERT_TRUE(find.Open("va:*.txt"));
  EXPECT_STREQ(find.name, "x.txt");
  EXPECT_EQ(find.size, 16u);
  // A pattern that stops inside a stored path yields the folder.
  EXPECT_EQ(List("va:*"), (std::map<std::string, uint16_t>{
                              {"meshes", 0x11}, {"x.txt", 0}, {"y.txt", 0}}));
  EXPECT_EQ(List("va:meshes/*"), (std::map<std::string, uint16_t>{{"a.im", 0}, {"c.txt", 0}, {"sub", 0x11}}));
  EXPECT_EQ(List("va:meshes/*.im"), (std::map<std::string, uint16_t>{{"a.im", 0}}));
  File::Find path;
  ASSERT_TRUE(path.Open("va:/meshes/*.im"));
  EXPECT_STREQ(path.GetNameAndPath(), "meshes/a.im");
}

// Without a valid index the blocks are walked; stores go to the end and the
// index is not written.
TEST_F(ArchiveLayerTest, ArchiveWithoutIndexIsWalked) {
  ArchiveBuilder b;
  b.AddFile("one.txt", "1");
  b.AddFile("two/three.txt", "3");
  b.WriteTo(path_);
  FileSubArchive* archive = Mount(true);
  EXPECT_TRUE(archive->IsReadable());
  EXPECT_FALSE(archive->Indexed());
  EXPECT_EQ(archive->KnownEntries(), 0u);
  EXPECT_EQ(ReadVia("va:two/three.txt"), "3");
  EXPECT_EQ(List("va:*.*"), (std::map<std::string, uint16_t>{{"one.txt", 0}}));
  ASSERT_TRUE(WriteVia("va:four.txt", "4"));
  EXPECT_TRUE(File::Exists("va:two").Ok());
  Unmount();
  EXPECT_EQ(InfoOnDisk().entryCount, 0u);
  EXPECT_EQ(Slurp(path_).size(), b.Bytes().size() + 8 + 288 + 1);
  Mount(false);
  EXPECT_EQ(ReadVia("va:four.txt"), "4");
  EXPECT_EQ(ReadVia("va:one.txt"), "1");
}

TEST_F(ArchiveLayerTest, IndexOfMoreThan4096Entries) {
  ArchiveBuilder b;
  constexpr int kCount = 5000;
  for (int i = 0; i < kCount; ++i) b.AddFile("f/" + std::to_string(i) + ".dat", std::to_string(i * 3));
  b.AddIndex();
  b.WriteTo(path_);
  FileSubArchive* archive = Mount(true);
  ASSERT_TRUE(archive->Indexed());
  EXPECT_EQ(archive->KnownEntries(), std::size_t(kCount));
  for (int i : {0, 4095, 4096, kCount - 1}) EXPECT_EQ(ReadVia("va:F/" + std::to_string(i) + ".DAT"), std::to_string(i * 3));
  EXPECT_EQ(List("va:f/*.dat").size(), std::size_t(kCount));
  EXPECT_TRUE(File::Unlink("va:f/4096.dat"));
  Unmount();
  archive = Mount(false);
  EXPECT_TRUE(archive->Indexed());
  EXPECT_EQ(archive->GetInfo().entryCount, unsigned(kCount - 1));
  EXPECT_EQ(ReadVia("va:f/4096.dat"), "<not opened>");
  EXPECT_EQ(ReadVia("va:f/4097.dat"), std::to_string(4097 * 3));
}

// Deleting entries out of the middle of the name table keeps every other
// entry found, whether the table was sized from the index or grew while the
// blocks were walked.
TEST_F(ArchiveLayerTest, EntriesStayFoundAcrossDeletes) {
  constexpr int kCount = 3000;
  auto name = [](int i) { return "va:D" + std::to_string(i % 7) + "/f" + std::to_string(i) + ".x"; };
  for (bool indexed : {true, false}) {
    SCOPED_TRACE(indexed ? "indexed" : "walked");
    ArchiveBuilder b;
    for (int i = 0; i < kCount; ++i) b.AddFile(name(i).substr(3), "");
    if (indexed) b.AddIndex();
    b.WriteTo(path_);
    FileSubArchive* archive = Mount(true);
    ASSERT_EQ(archive->Indexed(), indexed);
    for (int i = 0; i < kCount; i += 3) ASSERT_TRUE(File::Unlink(name(i).c_str())) << i;
    for (bool remounted : {false, true}) {
      SCOPED_TRACE(remounted ? "remounted" : "mounted");
      if (remounted) {
        Unmount();
        Mount(false);
      }
      for (int i = 0; i < kCount; ++i) ASSERT_EQ(File::Exists(name(i).c_str()).Ok(), i % 3 != 0) << i;
      EXPECT_EQ(List("va:d3/*.x").size(), std::size_t(kCount / 7 - kCount / 21));
    }
    Unmount();
  }
}

// A compressed store into a version-257 archive gets the bare "CFIL" head
// that archive's readers expect, and the archive keeps its version.
TEST_F(ArchiveLayerTest, CompressedStoreIntoVersion257Archive) {
  ArchiveBuilder b(257);
  b.AddFile("old.bin", Pattern(20000, 4), true);
  b.AddIndex();
  b.WriteTo(path_);
  const std::string content = Pattern(40000, 5);
  FileSubArchive* archive = Mount(true);
  EXPECT_EQ(archive->GetVersion(), 257u);
  ASSERT_TRUE(WriteVia("va:new.bin", content, kCompressed));
  EXPECT_EQ(ReadVia("va:new.bin"), content);
  Unmount();

  const std::string bytes = Slurp(path_);
  EXPECT_EQ(InfoOnDisk().version, 257u);
  const std::size_t block = b.Bytes().size() - (8 + 296);  // written over the old index
  ASSERT_EQ(bytes.substr(block, 4), "FIL ");
  EXPECT_EQ(bytes.substr(block + 296, 4), "CFIL");
  EXPECT_EQ(bytes.substr(block + 296 + 4, 2), ArchiveBuilder(257).Compress(content).substr(4, 2));
  EXPECT_EQ(U32At(bytes, block + 4), 288 + ArchiveBuilder(257).Compress(content).size());
  Mount(false);
  EXPECT_EQ(ReadVia("va:new.bin"), content);
  EXPECT_EQ(ReadVia("va:old.bin"), Pattern(20000, 4));
}

// Blocks behind the index that it does not list survive a store or an index
// rewrite, and the next index lists them.
TEST_F(ArchiveLayerTest, BlocksBehindTheIndexAreNeverOverwritten) {
  for (bool store : {true, false}) {
    SCOPED_TRACE(store ? "store" : "delete");
    ArchiveBuilder b;
    b.AddFile("listed.txt", "listed");
    b.AddFile("gone.txt", "gone");
    b.AddIndex();
    const Archive::IndexRecord behind = b.AddFile("behind.txt", Pattern(3000, 6));
    b.WriteTo(path_);
    const std::string original = b.Bytes();

    FileSubArchive* archive = Mount(true);
    EXPECT_TRUE(archive->Indexed());
    if (store) {
      ASSERT_TRUE(WriteVia("va:new.txt", "new"));
    } else {
      ASSERT_TRUE(File::Unlink("va:gone.txt"));
    }
    Unmount();

    const std::string bytes = Slurp(path_);
    const std::size_t blockStart = behind.payloadOffset - 296;
    EXPECT_EQ(bytes.substr(blockStart, 296 + 3000), original.substr(blockStart, 296 + 3000));
    EXPECT_EQ(InfoOnDisk().entryCount, store ? 4u : 2u);
    EXPECT_GT(InfoOnDisk().indexOffset, blockStart);
    Mount(false);
    EXPECT_EQ(ReadVia("va:listed.txt"), "listed");
    EXPECT_EQ(ReadVia("va:behind.txt"), Pattern(3000, 6));
    EXPECT_EQ(ReadVia("va:new.txt"), store ? "new" : "<not opened>");
    EXPECT_EQ(ReadVia("va:gone.txt"), store ? "gone" : "<not opened>");
    Unmount();
  }
}

// A store that cannot be written completely leaves the old file in place and
// no partial block behind; so does a write whose own bytes did not all reach
// the temporary file.
TEST_F(ArchiveLayerTest, FailedStoreKeepsTheOldFile) {
  struct Case {
    const char* what;
    std::size_t newSize;  // below 16384 stays buffered until close
    std::size_t limitAbove;  // file-size limit, above the archive's length
  };
  for (const Case& c : std::vector<Case>{{"archive write fails", 200000, 1000}, {"temporary write fails", 10000, 1000}}) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(path_);
    Mount(true);
    ASSERT_TRUE(WriteVia("va:k.txt", "old"));
    const std::size_t length = std::filesystem::file_size(path_);
    File f;
    ASSERT_TRUE(f.Open("va:k.txt", File::kWrite | File::kCreate).Ok());
    const std::string content = Pattern(c.newSize, 7);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    if (c.newSize >= 16384) {
      ASSERT_EQ(f.Write(content.data(), content.size(), 1), content.size());
    }
    rlimit low = saved;
    low.rlim_cur = length + c.limitAbove;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &low), 0);
    if (c.newSize < 16384) {
      ASSERT_EQ(f.Write(content.data(), content.size(), 1), content.size());
    }
    const int closed = f.Close();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_NE(closed, 0);
    EXPECT_EQ(ReadVia("va:k.txt"), "old");
    EXPECT_EQ(std::filesystem::file_size(path_), length);
    Unmount();
    Mount(false);
    EXPECT_EQ(ReadVia("va:k.txt"), "old");
    EXPECT_EQ(InfoOnDisk().entryCount, 1u);
    Unmount();
  }
}

TEST_F(ArchiveLayerTest, ProgressReportsEachChunk) {
  static std::vector<std::pair<unsigned long, unsigned long>> calls;
  calls.clear();
  FileSubArchive::SetProgress([](unsigned long input, unsigned long stored) {
    calls.emplace_back(input, stored);
    return 0;
  });
  FileSubArchive* archive = Mount(true);
  ASSERT_TRUE(WriteVia("va:plain.bin", Pattern(40000, 8)));
  EXPECT_EQ(calls, (std::vector<std::pair<unsigned long, unsigned long>>{{16384, 0}, {32768, 0}, {40000, 0}}));
  calls.clear();
  ASSERT_TRUE(WriteVia("va:packed.bin", std::string(40000, 'p'), kCompressed));
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls.back().first, 40000u);
  Archive::FileHeader h;
  ASSERT_TRUE(archive->GetHeader("packed.bin", h));
  EXPECT_EQ(calls.back().second, h.storedSize);
  EXPECT_LT(calls[0].second, calls[1].second);
}

TEST_F(ArchiveLayerTest, MissingAndInvalidArchives) {
  // Read-only and missing: not open, nothing created.
  FileSubArchive* missing = Mount(false, dir_ / "missing.va");
  EXPECT_FALSE(missing->IsReadable());
  EXPECT_FALSE(dir_.Has("missing.va"));
  EXPECT_EQ(ReadVia("va:x"), "<not opened>");
  Unmount();

  // Writable over a file that is not an archive: not open, and left alone.
  dir_.WriteFile("not.va", "this is not an archive at all, not even close");
  FileSubArchive* invalid = Mount(true, dir_ / "not.va");
  EXPECT_FALSE(invalid->IsReadable());
  EXPECT_EQ(invalid->GetVersion(), 0u);
  EXPECT_FALSE(WriteVia("va:x.txt", "x"));
  Unmount();
  EXPECT_EQ(dir_.ReadFile("not.va"), "this is not an archive at all, not even close");

  // Writable and impossible to create.
  try {
    File::Subst(PString("va"), (dir_ / "no/such/folder/new.va").c_str(), true);
    FAIL() << "no exception";
  } catch (const Vak::FileEx& e) {
    EXPECT_STREQ(e.Reason(), "Substitute() Open new archive failed");
  }
}

// An entry is never written in place: a read-write open of it is refused.
TEST_F(ArchiveLayerTest, ReadWriteOpenOfAnEntryIsRefused) {
  Mount(true);
  ASSERT_TRUE(WriteVia("va:a.txt", "abc"));
  File f;
  EXPECT_FALSE(f.Open("va:a.txt", File::kRead | File::kWrite).Ok());
  EXPECT_EQ(ReadVia("va:a.txt"), "abc");
}

// A read never runs past the entry's payload into the next block: not for a
// payload flagged compressed that is not, nor for compressed content whose
// chunks promise more than the payload holds.
TEST_F(ArchiveLayerTest, ReadsStayInsideThePayload) {
  const std::string chunk = Pattern(300, 9);
  std::string le16(2, '\0');
  Vak::PutLE16(reinterpret_cast<uint8_t*>(le16.data()), 0x8000 | 300);
  ArchiveBuilder b;
  Archive::FileHeader flagged;
  flagged.uncompressedSize = 1000;
  flagged.flags = Archive::kFlagCompressed;
  b.AddPayload("flagged.bin", "not packed", flagged);
  Archive::FileHeader plain;
  plain.uncompressedSize = 1000;
  b.AddPayload("plain.bin", "short", plain);
  Archive::FileHeader cut = flagged;
  cut.uncompressedSize = 300;
  b.AddPayload("cut.bin", "CFIL" + ArchiveBuilder::U32(257) + ArchiveBuilder::U32(300) + le16 + chunk.substr(0, 150),
               cut);
  b.AddFile("next.txt", std::string(400, 'N'));
  b.AddIndex();
  b.WriteTo(path_);
  Mount(false);

  struct Case {
    const char* name;
    unsigned long mode;
    std::string content;  // the whole content, or what a cut read may give a prefix of
    bool whole;
  };
  for (const Case& c : std::vector<Case>{{"flagged.bin", File::kRead, "not packed", true},
                                         {"flagged.bin", File::kReadStored, "not packed", true},
                                         {"plain.bin", File::kRead, "short", true},
                                         {"cut.bin", File::kRead, chunk.substr(0, 150), false}}) {
    SCOPED_TRACE(c.name);
    const std::string got = ReadVia(std::string("va:") + c.name, c.mode);
    if (c.whole) {
      EXPECT_EQ(got, c.content);
    } else {
      EXPECT_LE(got.size(), c.content.size());
      EXPECT_EQ(got, c.content.substr(0, got.size()));
    }
  }
  File f;
  ASSERT_TRUE(f.Open("va:flagged.bin", File::kRead).Ok());
  EXPECT_EQ(f.Size(), 10u);
  EXPECT_EQ(ReadVia("va:next.txt"), std::string(400, 'N'));
}

// An index record that does not point at its own block is never written
// through: a delete would mark bytes of another block, and a record over the
// index would be overwritten by the next store.
TEST_F(ArchiveLayerTest, RecordsThatMissTheirBlockAreNotWrittenThrough) {
  struct Case {
    const char* what;
    bool readOnly;
  };
  for (const Case& c : std::vector<Case>{{"into another payload", false}, {"over the index", true}}) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(path_);
    ArchiveBuilder b;
    const Archive::IndexRecord a = b.AddFile("a.txt", std::string(1000, 'a'));
    b.AddFile("b.txt", "bbbbbbbbbb");
    const uint32_t index = b.AddIndex();
    std::string bytes = b.Bytes();
    const uint32_t moved = c.readOnly ? index + 8 : a.payloadOffset + 500;
    bytes.replace(index + 8 + 296, 4, ArchiveBuilder::U32(moved));
    std::ofstream(path_, std::ios::binary | std::ios::trunc) << bytes;

    FileSubArchive* archive = Mount(true);
    ASSERT_TRUE(archive->Indexed());
    EXPECT_EQ(archive->IsReadOnly(), c.readOnly);
    EXPECT_FALSE(File::Unlink("va:b.txt"));
    if (c.readOnly) {
      EXPECT_FALSE(WriteVia("va:new.txt", "new"));
    }
    Unmount();
    EXPECT_EQ(Slurp(path_), bytes);
    Mount(false);
    EXPECT_EQ(ReadVia("va:a.txt"), std::string(1000, 'a'));
    Unmount();
  }
}

// The info block is rewritten within its own length, however long the
// archive made it: the block behind it keeps its tag.
TEST_F(ArchiveLayerTest, InfoBlockKeepsItsLength) {
  for (uint32_t infoBytes : {16u, 48u}) {
    SCOPED_TRACE(infoBytes);
    std::filesystem::remove(path_);
    ArchiveBuilder b(Archive::kVersion258, infoBytes);
    b.AddFile("old.txt", "old");
    b.AddIndex();
    b.WriteTo(path_);
    const std::string before = Slurp(path_);
    FileSubArchive* archive = Mount(true);
    ASSERT_TRUE(archive->Indexed());
    ASSERT_FALSE(archive->IsReadOnly());
    ASSERT_TRUE(WriteVia("va:new.txt", "new"));
    Unmount();

    std::string bytes = Slurp(path_);
    EXPECT_EQ(U32At(bytes, 8), infoBytes);
    EXPECT_EQ(bytes.substr(12 + 16, infoBytes - 16), before.substr(12 + 16, infoBytes - 16));
    EXPECT_EQ(bytes.substr(12 + infoBytes, 4), "FIL ");
    FileSubArchive* reread = Mount(false);
    EXPECT_EQ(reread->GetInfo().entryCount, 2u);
    EXPECT_EQ(ReadVia("va:old.txt"), "old");
    EXPECT_EQ(ReadVia("va:new.txt"), "new");
    Unmount();
    // Without the index the blocks still walk from the info block on.
    bytes.replace(20, 4, ArchiveBuilder::U32(0));
    std::ofstream(path_, std::ios::binary | std::ios::trunc) << bytes;
    Mount(false);
    EXPECT_EQ(ReadVia("va:old.txt"), "old");
    EXPECT_EQ(ReadVia("va:new.txt"), "new");
    Unmount();
  }
}

// A name field of 260 bytes without a terminator is read as 260 bytes and
// listed cut to what an entry holds.
TEST_F(ArchiveLayerTest, UnterminatedNameIsBounded) {
  ArchiveBuilder b;
  const Archive::IndexRecord r = b.AddFile("x", "content");
  b.AddIndex();
  std::string bytes = b.Bytes();
  const std::string longName(260, 'n');
  bytes.replace(r.payloadOffset - 288, 260, longName);
  bytes.replace(b.Info().indexOffset + 8 + 8, 260, longName);
  std::ofstream(path_, std::ios::binary) << bytes;
  FileSubArchive* archive = Mount(false);
  ASSERT_TRUE(archive->Indexed());
  Archive::FileHeader h;
  ASSERT_TRUE(archive->GetHeader(longName.c_str(), h));
  EXPECT_EQ(h.Name(), longName);
  const auto listed = List("va:*");
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed.begin()->first, std::string(259, 'n'));
}

} // namespace
