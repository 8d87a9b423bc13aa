#include "cdp/PackageFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <random>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/ByteOrder.h"
#include "cdp/PackageKeys.h"
#include "content/LZSSCompress.h"
#include "content/AppGlobals.h"
#include "content/ResultsLog.h"
#include "content/TDBTags.h"
#include "tests/cdp/PackageTestSupport.h"

using cdptest::Lines;
using cdptest::ListTree;
using cdptest::ReadBytes;
using cdptest::TempFolder;
using cdptest::WriteBytes;

namespace {

const Vak::PString kLZSS("LZSS");
const Vak::PString kNone;

std::string StoredBytes(const ACSChunkPtr& chunk) {
  return std::string(reinterpret_cast<const char*>(chunk->GetData()), chunk->GetDataSize());
}

ACSChunkPtr RawValue(const std::string& bytes) {
  return ACSChunkPtr(new TDBDataTag(kACSRaw, ACSRawDataCore::CreateCopy(static_cast<uint32_t>(bytes.size()),
                                                                        bytes.data())));
}

// ---- names ----

enum class Outcome { kPacked, kSkipped, kBadName, kBadExtension };

struct NameCase {
  const char* name;
  bool onDisk;  // a name the file system can hold
  bool folder;
  Outcome outcome;
};

const NameCase kNameCases[] = {
    {"", false, false, Outcome::kBadName},
    {" a", true, false, Outcome::kBadName},
    {"a ", true, false, Outcome::kBadName},
    {".a", true, false, Outcome::kBadName},
    {"~a", true, false, Outcome::kBadName},
    {"a/b", false, false, Outcome::kBadName},
    {"a\\b", false, false, Outcome::kBadName},  // the platform reads it as a path
    {"a:b", true, false, Outcome::kBadName},
    {"thumbs.db", true, false, Outcome::kSkipped},
    {"THUMBS.DB", true, false, Outcome::kSkipped},
    {"PspBrwse.jbf", true, false, Outcome::kSkipped},
    {"x.imw", true, false, Outcome::kSkipped},
    {"x.gmw", true, false, Outcome::kSkipped},
    {"x.IMW", true, false, Outcome::kBadExtension},
    {"ab", true, false, Outcome::kBadExtension},
    {"readme", true, false, Outcome::kBadExtension},
    {"a.xyz", true, false, Outcome::kBadExtension},
    {"a.TXT", true, false, Outcome::kPacked},
    {"Body (2)_$&'+,-.~.texture", true, false, Outcome::kPacked},
    {".hidden", true, true, Outcome::kBadName},
    {"sub folder", true, true, Outcome::kPacked},
};

struct Expected {
  bool accepted;  // the pack and check results
  bool inTree;
  std::vector<std::string> packLines;
  std::vector<std::string> checkLines;
};

const Expected& ExpectedOf(Outcome outcome) {
  static const Expected packed{true, true, {}, {}};
  static const Expected skipped{true, false, {}, {}};
  static const Expected badName{false, false, {"3 $vad_package_file_bad_name"}, {"3 $vad_package_file_bad_name"}};
  // Only a warning while packing; checking before a commit makes it an error.
  static const Expected badExtension{false, false, {"2 $vad_package_file_bad_ext"}, {"3 $vad_package_file_bad_ext"}};
  switch (outcome) {
  case Outcome::kPacked: return packed;
  case Outcome::kSkipped: return skipped;
  case Outcome::kBadName: return badName;
  default: return badExtension;
  }
}

TEST(PackageFilesTest, NamesArePackedSkippedOrReported) {
  for (const NameCase& c : kNameCases) {
    SCOPED_TRACE(std::string("name \"") + c.name + "\"");
    EXPECT_EQ(IsValidPackageName(c.name), c.outcome != Outcome::kBadName);
    if (!c.onDisk) continue;
    TempFolder temp;
    const std::string folder = temp / "asset";
    platform::MakeFolderPath(folder.c_str());
    if (c.folder) {
      platform::MakeFolderPath((folder + "/" + c.name).c_str());
    } else {
      ASSERT_TRUE(WriteBytes(folder + "/" + c.name, "bytes"));
    }

    ResultsLog packLog;
    ACSChunkPtr files;
    const bool packed = PackFolderFiles(files, folder.c_str(), kNone, packLog, kLZSS);
    ResultsLog checkLog;
    const bool checked = CheckFolderFiles(folder.c_str(), checkLog);
    const Expected& expected = ExpectedOf(c.outcome);
    EXPECT_EQ(packed, expected.accepted);
    EXPECT_EQ(checked, expected.accepted);
    EXPECT_EQ(files.HasChild(Vak::PString(c.name)), expected.inTree);
    if (expected.inTree) {
      EXPECT_EQ(files.GetChildType(Vak::PString(c.name)), c.folder ? kACSContainer : kACSRaw);
    }
    EXPECT_EQ(Lines(packLog), expected.packLines);
    EXPECT_EQ(Lines(checkLog), expected.checkLines);
  }
}

TEST(PackageFilesTest, LinksAreRefusedByPackingAndCheckingAndNeverFollowed) {
  const struct {
    const char* name;
    const char* link;  // in the asset folder, to "outside"
    bool toFolder;
  } cases[] = {
      {"a link to a file", "secret.txt", false},
      {"a link to a folder", "more", true},
      {"a link in a sub-folder", "sub/secret.txt", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder temp;
    const std::string folder = temp / "asset";
    ASSERT_TRUE(WriteBytes(folder + "/sub/own.txt", "own"));
    ASSERT_TRUE(WriteBytes(temp / "outside/secret.txt", "not the asset's"));
    const std::string target = temp / (c.toFolder ? "outside" : "outside/secret.txt");
    ASSERT_EQ(symlink(target.c_str(), (folder + "/" + c.link).c_str()), 0);

    ResultsLog packLog;
    ACSChunkPtr files;
    files.MakeContainer();
    EXPECT_FALSE(PackFolderFiles(files, folder.c_str(), kNone, packLog, kNone));
    // The asset's own file and nothing else.
    EXPECT_EQ(files.GetChildCount(), 1);
    EXPECT_EQ(files.GetChildContainer(Vak::PString("sub")).GetChildCount(), 1);
    EXPECT_EQ(Lines(packLog), std::vector<std::string>{"3 $vad_package_file_link"});
    ResultsLog checkLog;
    EXPECT_FALSE(CheckFolderFiles(folder.c_str(), checkLog));
    EXPECT_EQ(Lines(checkLog), std::vector<std::string>{"3 $vad_package_file_link"});
  }
}

TEST(PackageFilesTest, FileTypesAreTheThirtyExtensionsInAnyCase) {
  const char* allowed[] = {"txt", "bmp", "tga", "chump", "pm",  "im",      "kin", "wav", "jpg", "jpeg",
                           "gnd", "ref", "tso", "obs",   "trk", "texture", "bmk", "dat", "gs",  "gse",
                           "html", "htm", "evt", "lm",  "mp3", "lst",     "pfx", "tfx", "avi", "wmv"};
  for (const char* extension : allowed) {
    std::string upper = extension;
    for (char& ch : upper) ch = ch >= 'a' && ch <= 'z' ? static_cast<char>(ch - 'a' + 'A') : ch;
    EXPECT_TRUE(IsPackageFileType((std::string("a.") + extension).c_str())) << extension;
    EXPECT_TRUE(IsPackageFileType(("a." + upper).c_str())) << upper;
    EXPECT_FALSE(IsPackageFileType(extension)) << "no dot: " << extension;
  }
  for (const char* name : {"a.xyz", "a.txt.bak", "a.t", "a.", "a.mesh", "a.gsl"}) EXPECT_FALSE(IsPackageFileType(name)) << name;
}

TEST(PackageFilesTest, IgnoredEndingsAreReadWithinShortNames) {
  const struct {
    const char* name;
    bool ignored;
  } cases[] = {{"imw", false}, {".imw", true}, {"a.gmw", true}, {"mw", false}, {"", false}, {"a.GMW", false},
               {"thumbs.DB", true}, {"xthumbs.db", false}, {"pspbrwse.JBF", true}};
  for (const auto& c : cases) EXPECT_EQ(IsIgnoredPackageFile(c.name), c.ignored) << c.name;
}

TEST(PackageFilesTest, SafePathsStayBelowTheirFolder) {
  const struct {
    const char* path;
    bool safe;
  } cases[] = {
      {"a", true},       {"a/b", true},     {"a\\b", true},     {"/a", false},   {"\\a", false},
      {"a//b", false},   {"./a", false},    {"../a", false},    {"a/../b", false}, {"a/..", false},
      {"a/.", false},    {"..", false},     {".", false},       {"...", false},  {"", false},
      {"a/", false},     {".a", true},      {"a..b", true},     {"a\\..", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsSafePackagePath(c.path), c.safe) << c.path;
}

// ---- stored bytes ----

TEST(PackageFilesTest, StoredFormIsTheSizeThenOneBlock) {
  TempFolder temp;
  const struct {
    const char* compression;
    std::string content;
    std::string stored;
  } cases[] = {
      {"LZSS", "hello world\n", std::string("\x0C\x00\x00\x00\x00hello world\n", 17)},
      {"LZSS", "", std::string("\x00\x00\x00\x00\x00", 5)},
      {"LZSS", "abc", std::string("\x03\x00\x00\x00\x00" "abc", 8)},
      {"", "hello world\n", "hello world\n"},
      {"", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.compression) + " of " + std::to_string(c.content.size()) + " bytes");
    const std::string path = temp / "f.txt";
    ASSERT_TRUE(WriteBytes(path, c.content));
    ResultsLog log;
    ACSChunkPtr chunk;
    ASSERT_TRUE(ReadPackageFile(log, kNone, path.c_str(), Vak::PString(c.compression), chunk));
    EXPECT_EQ(chunk->GetType(), kACSRaw);
    EXPECT_EQ(StoredBytes(chunk), c.stored);
    EXPECT_TRUE(Lines(log).empty());
  }
}

TEST(PackageFilesTest, CompressibleFileIsStoredShorter) {
  TempFolder temp;
  const std::string path = temp / "zeros.dat";
  ASSERT_TRUE(WriteBytes(path, std::string(4096, 'z')));
  ResultsLog log;
  ACSChunkPtr chunk;
  ASSERT_TRUE(ReadPackageFile(log, kNone, path.c_str(), kLZSS, chunk));
  const std::string stored = StoredBytes(chunk);
  ASSERT_GT(stored.size(), 4u);
  EXPECT_LT(stored.size(), 4096u);
  EXPECT_EQ(stored.substr(0, 4), std::string("\x00\x10\x00\x00", 4));
}

TEST(PackageFilesTest, ReadFailuresAreLogged) {
  TempFolder temp;
  const std::string present = temp / "a.txt";
  ASSERT_TRUE(WriteBytes(present, "abc"));
  const struct {
    std::string path;
    const char* compression;
    const char* line;
  } cases[] = {
      {temp / "missing.txt", "LZSS", "3 $vad_package_file_read_err"},
      {present, "ZIP", "3 $vad_package_unknown_compression"},
  };
  for (const auto& c : cases) {
    ResultsLog log;
    ACSChunkPtr chunk;
    EXPECT_FALSE(ReadPackageFile(log, kNone, c.path.c_str(), Vak::PString(c.compression), chunk)) << c.path;
    EXPECT_EQ(Lines(log), std::vector<std::string>{c.line}) << c.path;
  }
}

// A file whose size leaves no room for the size field and block header in
// 32 bits, or does not fit 32 bits at all, is refused before anything is
// reserved or read. The files are sparse: nothing is written.
TEST(PackageFilesTest, FileTooLargeForTheSizeFieldIsRefused) {
  TempFolder temp;
  const struct {
    int64_t size;
    const char* compression;
  } cases[] = {
      {0xFFFFFFFELL, "LZSS"},
      {0xFFFFFFFFLL, "LZSS"},
      {(5LL << 30) + 12, "LZSS"},
      {(5LL << 30) + 12, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.size) + " bytes, compression \"" + c.compression + "\"");
    const std::string path = temp / "big.dat";
    {
      platform::File file;
      ASSERT_EQ(file.Open(path.c_str(), platform::File::Access::Write, platform::File::Disposition::CreateAlways),
                platform::Error::None);
      ASSERT_EQ(file.Seek(c.size, platform::File::Origin::Begin), platform::Error::None);
      ASSERT_EQ(file.SetEndOfFile(), platform::Error::None);
    }
    ResultsLog log;
    ACSChunkPtr chunk;
    EXPECT_FALSE(ReadPackageFile(log, kNone, path.c_str(), Vak::PString(c.compression), chunk));
    EXPECT_EQ(Lines(log), std::vector<std::string>{"3 $vad_package_file_too_large"});
    EXPECT_TRUE(chunk.IsNull());
  }
}

// Through a substitute, a file the kernel stored packed is read unpacked
// when the substitute's engine archive exists under the database root;
// scripts (".gse") are always taken as stored, as is everything when there
// is no such archive.
TEST(PackageFilesTest, SubstituteWalkAndReadMode) {
  TempFolder temp;
  const std::string root = temp / "db";
  platform::MakeFolderPath(root.c_str());
  const Vak::File::Path savedRoot = GetDatabaseRootPath();
  ASSERT_TRUE(SetDatabaseRootPath(root.c_str()));
  const std::string plain = "a config line that the kernel packs\n";
  for (const char* name : {"a.txt", "b.gse"}) {
    const std::string path = temp / ("layer/asset/" + std::string(name));
    ASSERT_TRUE(WriteBytes(path, plain));
    ASSERT_TRUE(Vak::File::Pack(path.c_str(), static_cast<uint32_t>(plain.size())));
  }
  const std::string packed = ReadBytes(temp / "layer/asset/a.txt");
  ASSERT_NE(packed, plain);
  const Vak::PString substitute("pkgsub");
  ASSERT_TRUE(Vak::File::Subst(substitute, (temp / "layer/").c_str(), false));

  const struct {
    bool archive;
    const std::string& txt;
    const std::string& gse;
  } cases[] = {{false, packed, packed}, {true, plain, packed}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.archive ? "with the archive" : "without the archive");
    if (c.archive) {
      ASSERT_TRUE(WriteBytes(root + "/pkgsub.va", "archive"));
    }
    ResultsLog log;
    ACSChunkPtr files;
    EXPECT_TRUE(PackFolderFiles(files, "asset", substitute, log, kNone));
    EXPECT_EQ(Lines(log), std::vector<std::string>{});
    EXPECT_EQ(StoredBytes(files->FindChild(Vak::PString("a.txt"))), c.txt);
    EXPECT_EQ(StoredBytes(files->FindChild(Vak::PString("b.gse"))), c.gse);
  }
  ResultsLog log;
  ACSChunkPtr files;
  EXPECT_FALSE(PackFolderFiles(files, "missing", substitute, log, kNone));
  EXPECT_EQ(Lines(log), std::vector<std::string>{"3 $vad_package_folder_read_err"});

  Vak::File::Subst(substitute, nullptr, false);
  SetDatabaseRootPath(savedRoot);
}

// ---- extraction ----

TEST(PackageFilesTest, DamagedStoredFilesFailAndLeaveNothing) {
  const std::string hello = "hello world\n";
  const struct {
    const char* what;
    std::string stored;
    const char* compression;
    const char* error;
  } cases[] = {
      {"block of 3 bytes", std::string("\x0C\x00\x00", 3), "LZSS", "Failed to decompress data. Content package may be damaged"},
      {"size field alone", std::string("\x00\x00\x00\x00", 4), "LZSS", "Failed to decompress data. Content package may be damaged"},
      {"output overruns the size field", std::string("\x05\x00\x00\x00\x00", 5) + hello, "LZSS",
       "Failed to decompress data. Content package may be damaged"},
      {"output falls short of the size field", std::string("\x40\x00\x00\x00\x00", 5) + hello, "LZSS",
       "Failed to decompress data. Content package may be damaged"},
      {"huge size field", std::string("\xF0\xFF\xFF\xFF\x00", 5) + hello, "LZSS",
       "Failed to decompress data. Content package may be damaged"},
      {"unknown block header", std::string("\x0C\x00\x00\x00\xFF", 5) + hello, "LZSS",
       "Failed to decompress data. Content package may be damaged"},
      {"unknown compression", hello, "ZIP", "Unknown compression type encountered. Content package may be damaged"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempFolder temp;
    const std::string path = temp / "a.txt";
    Vak::String error;
    EXPECT_FALSE(WritePackageFile(error, RawValue(c.stored), path.c_str(), Vak::PString(c.compression)));
    EXPECT_STREQ(error, c.error);
    EXPECT_TRUE(ListTree(temp.Path()).empty());
  }
}

TEST(PackageFilesTest, FailedDecodeKeepsAnEarlierFileOfThatName) {
  TempFolder temp;
  const std::string path = temp / "a.txt";
  ASSERT_TRUE(WriteBytes(path, "earlier"));
  Vak::String error;
  EXPECT_FALSE(WritePackageFile(error, RawValue(std::string("\x0C\x00\x00", 3)), path.c_str(), kLZSS));
  EXPECT_EQ(ReadBytes(path), "earlier");
}

TEST(PackageFilesTest, ExtractionSkipsNamesThatLeaveTheFolder) {
  TempFolder temp;
  ACSChunkPtr files;
  files.SetChild(Vak::PString("ok.txt"), RawValue("kept"));
  ACSChunkPtr up;
  up.SetChild(Vak::PString("escaped.txt"), RawValue("no"));
  files.SetChild(Vak::PString(".."), up);
  files.SetChild(Vak::PString("."), up);
  files.SetChild(Vak::PString("../escaped.txt"), RawValue("no"));
  files.SetChild(Vak::PString("a/escaped.txt"), RawValue("no"));
  files.SetChild(Vak::PString("a\\escaped.txt"), RawValue("no"));
  files.SetChild(Vak::PString("/abs.txt"), RawValue("no"));
  files.SetChild(Vak::PString("x.exe"), RawValue("no"));
  Vak::String error;
  const std::string destination = temp / "dest";
  ASSERT_TRUE(WritePackageFiles(error, files, destination.c_str(), kNone)) << static_cast<const char*>(error);
  EXPECT_STREQ(error, "");
  EXPECT_EQ(ListTree(temp.Path()), (std::vector<std::string>{"dest/", "dest/ok.txt"}));
}

TEST(PackageFilesTest, ValuesOtherThanFileDataAreRefused) {
  TempFolder temp;
  ACSChunkPtr files;
  files.SetChildInt(Vak::PString("n.txt"), 7);
  Vak::String error;
  EXPECT_FALSE(WritePackageFiles(error, files, (temp / "dest").c_str(), kNone));
  EXPECT_STREQ(error, "Unknown data type encountered. Content package may be damaged");
}

TEST(PackageFilesTest, UnwritableDestinationIsReported) {
  TempFolder temp;
  ASSERT_TRUE(WriteBytes(temp / "dest", "a file where the folder should be"));
  ACSChunkPtr files;
  files.SetChild(Vak::PString("a.txt"), RawValue("x"));
  Vak::String error;
  EXPECT_FALSE(WritePackageFiles(error, files, (temp / "dest").c_str(), kNone));
  EXPECT_STREQ(error, "Unable to write content files to disk");
}

// Extracts `files` into `destination` and checks the result, the error text
// ("" for none) and what is left there, in any order; returns what is left.
std::vector<std::string> ExtractAndCheck(const ACSChunkPtr& files, const std::string& destination,
                                         const Vak::PString& compression, const char* error,
                                         std::vector<std::string> expected) {
  Vak::String text;
  EXPECT_EQ(WritePackageFiles(text, files, destination.c_str(), compression), *error == 0);
  EXPECT_STREQ(text, error);
  std::vector<std::string> left = ListTree(destination);
  std::sort(left.begin(), left.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(left, expected);
  return left;
}

// Files are decoded side by side past a size, yet the disk must see what
// one file after another leaves: everything before the first failure in the
// walk's order, the failing file not at all, nothing after it.
TEST(PackageFilesTest, FailureStopsExtractionWhereTheWalkReachesIt) {
  // Each file alone is past the size at which decoding is shared out.
  std::mt19937 random(7);
  auto content = [&random](std::size_t salt) {
    std::string bytes(static_cast<std::size_t>(kParallelDecodeBytes) + 500 * salt, '\0');
    for (char& ch : bytes) ch = static_cast<char>(random() % 64);
    return bytes;
  };
  auto lzssValue = [](const std::string& bytes) {
    Vak::LZSSCompress lz;
    std::vector<uint8_t> block;
    EXPECT_TRUE(lz.CompressBlock(bytes.data(), bytes.size(), 9, block));
    std::string stored(4, '\0');
    Vak::PutLE32(reinterpret_cast<uint8_t*>(stored.data()), static_cast<uint32_t>(bytes.size()));
    return RawValue(stored + std::string(block.begin(), block.end()));
  };
  const std::vector<std::string> order = {"a.txt", "sub/b.dat", "sub/c.dat", "d.txt", "e/f.txt", "g.txt"};
  std::vector<std::pair<std::string, std::string>> plain;
  std::map<std::string, ACSChunkPtr> good;
  std::map<std::string, ACSChunkPtr> bad;
  for (std::size_t i = 0; i < order.size(); ++i) {
    const std::string bytes = content(i);
    plain.emplace_back(order[i], bytes);
    good[order[i]] = lzssValue(bytes);
    // The size field one more than the block gives: it fails only once decoded.
    std::string stored = StoredBytes(good[order[i]]);
    Vak::PutLE32(reinterpret_cast<uint8_t*>(stored.data()), static_cast<uint32_t>(bytes.size() + 1));
    bad[order[i]] = RawValue(stored);
  }

  const char* const kDecode = "Failed to decompress data. Content package may be damaged";
  const char* const kType = "Unknown data type encountered. Content package may be damaged";
  const char* const kWrite = "Unable to write content files to disk";
  const struct {
    const char* what;
    std::vector<std::string> bad;    // damaged files
    const char* notData;             // a file given a value of another type
    const char* blocked;             // a file whose place a folder takes
    const char* error;
    std::vector<std::string> left;
  } cases[] = {
      {"nothing wrong", {}, nullptr, nullptr, "", {"a.txt", "sub/", "sub/b.dat", "sub/c.dat", "d.txt", "e/", "e/f.txt", "g.txt"}},
      {"first file", {"a.txt"}, nullptr, nullptr, kDecode, {}},
      {"inside a folder", {"sub/c.dat"}, nullptr, nullptr, kDecode, {"a.txt", "sub/", "sub/b.dat"}},
      {"the last file", {"g.txt"}, nullptr, nullptr, kDecode, {"a.txt", "sub/", "sub/b.dat", "sub/c.dat", "d.txt", "e/", "e/f.txt"}},
      {"two damaged", {"d.txt", "sub/b.dat"}, nullptr, nullptr, kDecode, {"a.txt", "sub/"}},
      {"other type first", {"g.txt"}, "d.txt", nullptr, kType, {"a.txt", "sub/", "sub/b.dat", "sub/c.dat"}},
      {"damaged before other type", {"sub/b.dat"}, "e/f.txt", nullptr, kDecode, {"a.txt", "sub/"}},
      {"unwritable before damaged", {"e/f.txt"}, nullptr, "sub/b.dat", kWrite, {"a.txt", "sub/", "sub/b.dat/"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto valueOf = [&](const std::string& path) {
      if (c.notData && path == c.notData)
        return ACSChunkPtr(new TDBDataTag(kACSInt, ACSRawDataCore::CreateCopy(4, "\1\0\0\0")));
      return std::find(c.bad.begin(), c.bad.end(), path) != c.bad.end() ? bad[path] : good[path];
    };
    // A folder's files follow one another in `plain`; each folder goes in whole.
    ACSChunkPtr files;
    files.MakeContainer();
    for (std::size_t i = 0; i < plain.size();) {
      const std::string& path = plain[i].first;
      const std::size_t cut = path.find('/');
      if (cut == std::string::npos) {
        files.SetChild(Vak::PString(path.c_str()), valueOf(plain[i++].first));
        continue;
      }
      const std::string folder = path.substr(0, cut + 1);
      ACSChunkPtr sub;
      sub.MakeContainer();
      for (; i < plain.size() && plain[i].first.compare(0, folder.size(), folder) == 0; ++i)
        sub.SetChild(Vak::PString(plain[i].first.substr(cut + 1).c_str()), valueOf(plain[i].first));
      files.SetChild(Vak::PString(path.substr(0, cut).c_str()), sub);
    }
    TempFolder temp;
    const std::string destination = temp / "dest";
    if (c.blocked) platform::MakeFolderPath((destination + "/" + c.blocked).c_str());
    const std::vector<std::string> left = ExtractAndCheck(files, destination, kLZSS, c.error, c.left);
    for (const auto& [path, bytes] : plain) {
      if (std::find(left.begin(), left.end(), path) != left.end()) {
        EXPECT_EQ(ReadBytes(destination + "/" + path), bytes) << path;
      }
    }
  }
}

// a.txt, mesh/body.pm, mesh/lod/far.im and z.txt, stored as they are.
ACSChunkPtr NestedTree() {
  ACSChunkPtr lod;
  lod.SetChild(Vak::PString("far.im"), RawValue("far"));
  ACSChunkPtr mesh;
  mesh.SetChild(Vak::PString("body.pm"), RawValue("body"));
  mesh.SetChild(Vak::PString("lod"), lod);
  ACSChunkPtr files;
  files.SetChild(Vak::PString("a.txt"), RawValue("a"));
  files.SetChild(Vak::PString("mesh"), mesh);
  files.SetChild(Vak::PString("z.txt"), RawValue("z"));
  return files;
}

// Sub-folders already on disk are used whatever their case; a file in a
// sub-folder's place stops the extraction at the first file meant for it.
TEST(PackageFilesTest, SubFoldersAlreadyThereAreUsed) {
  const ACSChunkPtr files = NestedTree();
  const struct {
    const char* what;
    std::vector<std::string> folders;  // there before
    const char* file;                  // a file there before
    const char* error;
    std::vector<std::string> left;
  } cases[] = {
      {"nothing there", {}, nullptr, "", {"a.txt", "mesh/", "mesh/body.pm", "mesh/lod/", "mesh/lod/far.im", "z.txt"}},
      {"folders in other case", {"MESH/Lod"}, nullptr, "", {"a.txt", "MESH/", "MESH/body.pm", "MESH/Lod/", "MESH/Lod/far.im", "z.txt"}},
      {"file in the folder's place", {}, "mesh", "Unable to write content files to disk", {"a.txt", "mesh"}},
      {"file in the inner folder's place", {"mesh"}, "mesh/LOD", "Unable to write content files to disk",
       {"a.txt", "mesh/", "mesh/body.pm", "mesh/LOD"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempFolder temp;
    const std::string destination = temp / "dest";
    platform::MakeFolderPath(destination.c_str());
    for (const std::string& folder : c.folders) platform::MakeFolderPath((destination + "/" + folder).c_str());
    if (c.file) {
      ASSERT_TRUE(WriteBytes(destination + "/" + c.file, "in the way"));
    }
    ExtractAndCheck(files, destination, kNone, c.error, c.left);
  }
}

// The destination is made with whatever folders lead to it, or used as it
// is found, in any case.
TEST(PackageFilesTest, DestinationIsMadeOrFound) {
  const ACSChunkPtr files = NestedTree();
  const struct {
    const char* destination;
    const char* before;  // a folder there before
    const char* lands;   // where the files go
  } cases[] = {
      {"new", nullptr, "new"},
      {"deep/er/new", nullptr, "deep/er/new"},
      {"deep\\er\\new", nullptr, "deep/er/new"},
      {"there", "there", "there"},
      {"THERE/sub", "There", "There/sub"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.destination);
    TempFolder temp;
    if (c.before) platform::MakeFolderPath((temp / c.before).c_str());
    Vak::String error;
    ASSERT_TRUE(WritePackageFiles(error, files, (temp / c.destination).c_str(), kNone));
    EXPECT_EQ(ReadBytes(temp / c.lands + "/a.txt"), "a");
    EXPECT_EQ(ReadBytes(temp / c.lands + "/mesh/lod/far.im"), "far");
    EXPECT_EQ(ListTree(temp / c.lands).size(), 6u);
  }
}

// ---- walks ----

TEST(PackageFilesTest, UnreadableFolderIsReported) {
  TempFolder temp;
  ResultsLog packLog;
  ACSChunkPtr files;
  EXPECT_FALSE(PackFolderFiles(files, (temp / "missing").c_str(), kNone, packLog, kLZSS));
  EXPECT_EQ(Lines(packLog), std::vector<std::string>{"3 $vad_package_folder_read_err"});
  ResultsLog checkLog;
  EXPECT_FALSE(CheckFolderFiles((temp / "missing").c_str(), checkLog));
  EXPECT_EQ(Lines(checkLog), std::vector<std::string>{"3 $vad_package_folder_err"});
}

TEST(PackageFilesTest, EmptyFolderPacksToAnEmptyTree) {
  TempFolder temp;
  ResultsLog log;
  ACSChunkPtr files;
  EXPECT_TRUE(PackFolderFiles(files, temp.Path().c_str(), kNone, log, kLZSS));
  EXPECT_EQ(files.GetChildCount(), 0);
  EXPECT_TRUE(CheckFolderFiles(temp.Path().c_str(), log));
  EXPECT_TRUE(Lines(log).empty());
}

// A folder that appears again below itself (a bind mount here; a link loop
// elsewhere) is reported once and not entered. Needs a mount namespace of
// its own, made in a child process; skipped where the system allows none.
TEST(PackageFilesTest, FolderAlreadyOnThePathIsNotEntered) {
  TempFolder temp;
  const std::string root = temp / "asset";
  ASSERT_TRUE(WriteBytes(root + "/a.txt", "a"));
  platform::MakeFolderPath((root + "/loop").c_str());
  ASSERT_TRUE(WriteBytes(root + "/loop/b.txt", "b"));
  const std::string report = temp / "report.txt";

  std::fflush(nullptr);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const uid_t uid = ::getuid();
    const gid_t gid = ::getgid();
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) ::_exit(77);
    WriteBytes("/proc/self/setgroups", "deny");
    WriteBytes("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1");
    WriteBytes("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) ::_exit(77);
    if (::mount(root.c_str(), (root + "/loop").c_str(), nullptr, MS_BIND, nullptr) != 0) ::_exit(77);
    ResultsLog packLog;
    ACSChunkPtr files;
    const bool packed = PackFolderFiles(files, root.c_str(), kNone, packLog, kNone);
    ResultsLog checkLog;
    const bool checked = CheckFolderFiles(root.c_str(), checkLog);
    std::string out = std::string(packed ? "packed" : "not packed") + "\n" + (checked ? "checked" : "not checked") + "\n";
    out += "a.txt " + std::to_string(files.GetChildType(Vak::PString("a.txt"))) + "\n";
    out += "loop children " + std::to_string(files.GetChildContainer(Vak::PString("loop")).GetChildCount()) + "\n";
    for (const std::string& line : Lines(packLog)) out += line + "\n";
    for (const std::string& line : Lines(checkLog)) out += line + "\n";
    WriteBytes(report, out);
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no mount namespace here";
  ASSERT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ReadBytes(report),
            "not packed\nnot checked\na.txt 2\nloop children 0\n"
            "3 $vad_package_folder_read_err\n3 $vad_package_folder_err\n");
}

// ---- round trip of a folder ----

// Every value of a files tree in order, by its path, with its stored bytes.
void FlattenTree(const ACSChunkPtr& files, std::vector<std::pair<std::string, std::string>>& out,
                 const std::string& prefix = "") {
  for (int i = 0; i < files.GetChildCount(); ++i) {
    const Vak::PString name = files.GetChildName(i);
    const ACSChunkPtr child = files->FindChild(name);
    const std::string path = prefix + name.c_str();
    if (child->GetType() == kACSContainer) {
      out.emplace_back(path + "/", "");
      FlattenTree(child, out, path + "/");
    } else {
      out.emplace_back(path, StoredBytes(child));
    }
  }
}

TEST(PackageFilesTest, EncoderCodesTreesAsPackingCompressedDoes) {
  std::mt19937 random(23);
  std::string noise(64 * 1024, '\0');
  for (char& ch : noise) ch = static_cast<char>(random());
  std::string text;
  for (int i = 0; i < 2000; ++i) text += "track signal " + std::to_string(i % 37) + "\n";
  TempFolder temp;
  // Enough trees that batches go to the helpers while more are added, and a
  // small last one that Finish codes.
  std::vector<std::string> folders;
  for (int n = 0; n < 8; ++n) {
    const std::string folder = temp / ("asset" + std::to_string(n));
    ASSERT_TRUE(WriteBytes(folder + "/description.txt", text.substr(0, 1000 + 3000 * n)));
    ASSERT_TRUE(WriteBytes(folder + "/art/noise.dat", noise.substr(0, 8192 * (n + 1))));
    ASSERT_TRUE(WriteBytes(folder + "/art/empty.im", ""));
    ASSERT_TRUE(WriteBytes(folder + "/abc.txt", "abc"));
    folders.push_back(folder);
  }
  ASSERT_TRUE(WriteBytes(temp / "last/tiny.txt", "tiny"));
  folders.push_back(temp / "last");

  std::vector<ACSChunkPtr> plain;
  {
    PackageEncoder encoder;
    for (const std::string& folder : folders) {
      ResultsLog log;
      ACSChunkPtr files;
      ASSERT_TRUE(PackFolderFiles(files, folder.c_str(), kNone, log, kNone));
      plain.push_back(files);
      encoder.Add(files);
    }
    // An extraction meanwhile, on the same thread, decodes on its own and
    // leaves the coding ahead alone.
    ResultsLog log;
    ACSChunkPtr compressed;
    ASSERT_TRUE(PackFolderFiles(compressed, folders[7].c_str(), kNone, log, kLZSS));
    Vak::String error;
    ASSERT_TRUE(WritePackageFiles(error, compressed, (temp / "out").c_str(), kLZSS));
    EXPECT_EQ(ReadBytes(temp / "out/art/noise.dat"), noise.substr(0, 8192 * 8));
    EXPECT_TRUE(encoder.Finish());
  }
  for (std::size_t i = 0; i < folders.size(); ++i) {
    SCOPED_TRACE(folders[i]);
    ResultsLog log;
    ACSChunkPtr compressed;
    ASSERT_TRUE(PackFolderFiles(compressed, folders[i].c_str(), kNone, log, kLZSS));
    std::vector<std::pair<std::string, std::string>> expected, coded;
    FlattenTree(compressed, expected);
    FlattenTree(plain[i], coded);
    EXPECT_EQ(coded, expected);
  }
}

TEST(PackageFilesTest, PackedFolderExtractsByteForByte) {
  std::mt19937 random(15);
  std::string noise(64 * 1024, '\0');
  for (char& ch : noise) ch = static_cast<char>(random());
  std::string binary;
  for (int i = 0; i < 3000; ++i) binary += static_cast<char>(i * 7 % 251);
  const std::vector<std::pair<std::string, std::string>> content = {
      {"config.txt", "kuid <kuid:1:2>\nkind \"scenery\"\nusername \"tree\"\n"},
      {"empty.txt", ""},
      {"abc.dat", "abc"},
      {"hello.txt", "hello world\n"},
      {"noise.bmp", noise},
      {"mesh/body.pm", binary},
      {"mesh/lod/far.im", binary.substr(0, 1000)},
      {"mesh/lod/deeper/readme.txt", "deep\n"},
  };
  for (const char* compression : {"LZSS", ""}) {
    SCOPED_TRACE(std::string("compression \"") + compression + "\"");
    TempFolder temp;
    for (const auto& [name, bytes] : content) ASSERT_TRUE(WriteBytes(temp / ("in/" + name), bytes));
    platform::MakeFolderPath((temp / "in/empty folder").c_str());
    ResultsLog log;
    ACSChunkPtr files;
    ASSERT_TRUE(PackFolderFiles(files, (temp / "in").c_str(), kNone, log, Vak::PString(compression)));
    EXPECT_TRUE(Lines(log).empty());
    Vak::String error;
    ASSERT_TRUE(WritePackageFiles(error, files, (temp / "out").c_str(), Vak::PString(compression)))
        << static_cast<const char*>(error);
    EXPECT_EQ(ListTree(temp / "out"), ListTree(temp / "in"));
    for (const auto& [name, bytes] : content) EXPECT_EQ(ReadBytes(temp / ("out/" + name)), bytes) << name;
  }
}

} // namespace
