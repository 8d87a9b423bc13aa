#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "Vak/Bexlorn/FileSubst.h"
#include "Vak/Bexlorn/Log.h"
#include "content/AppGlobals.h"
#include "content/FileHelpers.h"
#include "content/KUIDList.h"
#include "content/PowerOfTwo.h"
#include "content/TextHelpers.h"
#include "tests/platform/os/TempFolder.h"

namespace {

using platform::test::TempFolder;
using Vak::PString;

const PString kNoFolder;

std::string Str(const Vak::String& s) { return std::string(static_cast<const char*>(s), s.Size()); }

TEST(FileHelpersTextTest, Extensions) {
  struct Case {
    const char* path;
    const char* ext;
    bool expected;
  };
  const std::vector<Case> cases = {
      {"a.CDP", ".cdp", true}, {"a.cdp", "cdp", true},     {"acdp", "cdp", false},  {"dir.x/a.cdp", "CDP", true},
      {".cdp", "cdp", true},   {"cdp", "cdp", false},      {"a.cdp2", "cdp", false}, {"a.tar.gz", "tar.gz", true},
      {"a.cdp", nullptr, false}, {nullptr, "cdp", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.path ? c.path : "<null>") + " / " + (c.ext ? c.ext : "<null>"));
    EXPECT_EQ(IsExtension(c.path, c.ext), c.expected);
  }

  const char* path = "a.tar.gz";
  const char* cursor = nullptr;
  ASSERT_TRUE(NextExtension(cursor, path));
  EXPECT_STREQ(cursor, "gz");
  const char* none = nullptr;
  EXPECT_FALSE(NextExtension(none, "noext"));
  EXPECT_EQ(none, nullptr);
  const char* dotted = ".chump";
  EXPECT_TRUE(NextExtension(dotted, "x"));
  EXPECT_STREQ(dotted, "chump");
  const char* trailing = nullptr;
  EXPECT_FALSE(NextExtension(trailing, "name."));
}

TEST(FileHelpersTextTest, NamesAndPaths) {
  for (const char* name : {".", ".."}) EXPECT_TRUE(IsDotName(name)) << name;
  for (const char* name : {"", "...", ".a", "a", "a."}) EXPECT_FALSE(IsDotName(name)) << name;
  EXPECT_FALSE(IsDotName(nullptr));

  struct Case {
    const char* text;
    bool expected;
  };
  const std::vector<Case> cases = {
      {"C:\\x", true}, {"c:/x", true},  {"?:/x", true},   {"\\\\server\\share", true}, {"/tmp/x", true},
      {"\\x", true},   {"C:x", false},  {"x/y", false},   {"", false},                 {"C:", false},
      {nullptr, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text ? c.text : "<null>");
    EXPECT_EQ(IsAbsolutePath(c.text), c.expected);
  }

  struct Sanitise {
    const char* text;
    const char* expected;
  };
  const std::vector<Sanitise> sanitised = {
      {"my:asset  ", "my_asset"}, {"Ok_Name 2", "Ok_Name 2"}, {"a/b\\c.d", "a_b_c_d"},
      {"   ", ""},                {"", ""},                   {" lead", " lead"},
      {"caf\xE9", "caf_"},
  };
  for (const Sanitise& c : sanitised) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(Str(SanitiseFileName(c.text)), c.expected);
  }
  EXPECT_EQ(Str(SanitiseFileName(nullptr)), "");

  for (uint32_t v : {0u, 1u, 2u, 64u, 0x80000000u}) EXPECT_TRUE(IsPowerOfTwo(v)) << v;
  for (uint32_t v : {3u, 6u, 0xFFFFFFFFu, 0x80000001u}) EXPECT_FALSE(IsPowerOfTwo(v)) << v;

  for (const char* text : {"/cache/x", "/CACHE/", "/Cache/a/b"}) EXPECT_TRUE(IsCachePath(text)) << text;
  for (const char* text : {"/cache", "cache/x", "\\cache\\x", "", "/caches/x"}) EXPECT_FALSE(IsCachePath(text)) << text;
  EXPECT_FALSE(IsCachePath(nullptr));
}

TEST(FileHelpersTextTest, CaseInsensitiveMatching) {
  struct Case {
    const char* pattern;
    const char* text;
    bool prefixOnly;
    bool expected;
  };
  const std::vector<Case> cases = {
      {"ab?", "ABc", false, true}, {"ab", "abc", false, false}, {"ab", "abc", true, true},
      {"abc", "ab", true, false},  {"a?c", "a", true, false},   {"", "", false, true},
      {"", "x", false, false},     {"", "x", true, true},       {"\xC9", "\xE9", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.pattern) + " vs " + c.text);
    EXPECT_EQ(MatchesPatternIgnoreAsciiCase(c.pattern, c.text, c.prefixOnly), c.expected);
  }

  struct Match {
    const char* text;
    const char* pattern;
    unsigned length;
    bool atStart;
  };
  const std::vector<Match> matches = {
      {"Hello World", "world", 5, false}, {"Hello", "HEL", 3, true},       {"Hello", "help", 3, false},
      {"abcab", "abx", 2, false},         {"xx", "yy", 0, false},          {"", "a", 0, false},
      {"ab ab", "AB", 2, true},           {"aab", "ab", 2, false},
  };
  for (const Match& m : matches) {
    SCOPED_TRACE(std::string(m.text) + " / " + m.pattern);
    unsigned length = 99;
    bool atStart = true;
    MatchLengthIgnoreAsciiCase(m.text, m.pattern, length, atStart);
    EXPECT_EQ(length, m.length);
    EXPECT_EQ(atStart, m.atStart);
  }
}

TEST(FileHelpersTextTest, LowerCasing) {
  char fits[8] = "AbC\xC4";
  EXPECT_TRUE(LowerCaseBuffer(fits, sizeof fits));
  EXPECT_STREQ(fits, "abc\xC4") << "only ASCII letters change";

  char full[4] = {'A', 'B', 'C', 'D'};
  EXPECT_FALSE(LowerCaseBuffer(full, sizeof full));
  EXPECT_STREQ(full, "abc");
  EXPECT_FALSE(LowerCaseBuffer(full, 0));

  Vak::String text("MiXed");
  Vak::String shared(text);
  LowerCaseString(text);
  EXPECT_EQ(Str(text), "mixed");
  EXPECT_EQ(Str(shared), "MiXed");

  PString name("Data:Meshes");
  LowerCasePString(name);
  EXPECT_EQ(name, PString("data:meshes"));
  PString null;
  LowerCasePString(null);
  EXPECT_TRUE(null.IsNull());
}

TEST(FileHelpersTextTest, ReplaceFirst) {
  PString text("a-b-c");
  EXPECT_TRUE(ReplaceFirst("-", text, "+"));
  EXPECT_EQ(text, PString("a+b-c"));
  EXPECT_FALSE(ReplaceFirst("B", text, "x")) << "exact case";
  EXPECT_EQ(text, PString("a+b-c"));
  EXPECT_FALSE(ReplaceFirst("", text, "x"));
  EXPECT_TRUE(ReplaceFirstf(text, "b", "%d%s", 42, "!"));
  EXPECT_EQ(text, PString("a+42!-c"));
  EXPECT_TRUE(ReplaceFirst("a+42!-c", text, ""));
  EXPECT_EQ(text.Length(), 0u);
  PString null;
  EXPECT_FALSE(ReplaceFirst("a", null, "b"));
}

TEST(FileHelpersTextTest, AddKUIDUnique) {
  ChunkedList<KUID, 128> list;
  AddKUIDUnique(KUID(1, 2, 0), list);
  AddKUIDUnique(KUID(1, 2, 0), list);
  AddKUIDUnique(KUID(1, 2, 1), list);
  AddKUIDUnique(KUID::Null(), list);
  EXPECT_EQ(list.Count(), 2u);
  EXPECT_FALSE(list.Find(KUID(1, 2, 1)).IsEnd());
  EXPECT_TRUE(list.Find(KUID::Null()).IsEnd());
}

// A temporary database root; the previous root comes back afterwards.
class FileHelpersTest : public ::testing::Test {
protected:
  void SetUp() override {
    saved_ = GetDatabaseRootPath();
    root_ = folder_ / "db";
    std::filesystem::create_directories(root_);
    ASSERT_TRUE(SetDatabaseRootPath(root_.c_str()));
  }
  void TearDown() override {
    SetDatabaseRootPath(saved_);
    for (const PString& name : substitutes_) Vak::FileSubstList::Get().Remove(name, false);
  }

  // A folder layer over root/relative.
  PString Mount(const char* name, const std::string& relative) {
    PString substitute(name);
    std::filesystem::create_directories(root_ + "/" + relative);
    EXPECT_TRUE(Vak::File::Subst(substitute, (root_ + "/" + relative + "/").c_str(), true));
    substitutes_.push_back(substitute);
    return substitute;
  }
  bool Has(const std::string& relative) const { return folder_.Has("db/" + relative); }
  void Write(const std::string& relative, const std::string& content = "x") const {
    folder_.WriteFile("db/" + relative, content);
  }

  TempFolder folder_;
  std::string root_;
  Vak::File::Path saved_;
  std::vector<PString> substitutes_;
};

TEST_F(FileHelpersTest, MakeFolderPathResolvesAgainstTheRoot) {
  EXPECT_TRUE(MakeFolderPath(PString("local"), "a/b\\c"));
  EXPECT_TRUE(std::filesystem::is_directory(root_ + "/local/a/b/c"));
  EXPECT_TRUE(MakeFolderPath(kNoFolder, (root_ + "/abs/d").c_str()));
  EXPECT_TRUE(std::filesystem::is_directory(root_ + "/abs/d"));
  EXPECT_FALSE(MakeFolderPath(kNoFolder, "relative/x")) << "without a folder name the path must be absolute";
  EXPECT_TRUE(MakeFolderPath(PString("LOCAL"), "A/b")) << "an existing folder, in any case";
  Write("local/file");
  EXPECT_FALSE(MakeFolderPath(PString("local"), "file")) << "a file is in the way";
  EXPECT_FALSE(MakeFolderPath(PString("local"), "file/sub"));

  SetDatabaseRootPath("");
  EXPECT_FALSE(MakeFolderPath(PString("local"), "x")) << "no root: the result would be relative";
}

TEST_F(FileHelpersTest, FileExists) {
  Write("data/x.txt");
  const PString data = Mount("cobjdata", "data");
  EXPECT_TRUE(FileExists(kNoFolder, "relative/never.txt")) << "a relative path counts as existing";
  EXPECT_TRUE(FileExists(kNoFolder, (root_ + "/data/x.txt").c_str()));
  EXPECT_FALSE(FileExists(kNoFolder, (root_ + "/data/y.txt").c_str()));
  EXPECT_TRUE(FileExists(data, "x.txt"));
  EXPECT_TRUE(FileExists(data, "/x.txt"));
  EXPECT_FALSE(FileExists(data, "y.txt"));
  EXPECT_FALSE(FileExists(PString("cobjnotmounted"), "x.txt"));
}

TEST_F(FileHelpersTest, DeleteFileOrFolderStaysStrictlyInsideTheRoot) {
  Write("local/tree/a/b.txt");
  Write("local/file.txt");
  Write("keep/k.txt");
  folder_.WriteFile("outside/o.txt", "o");
  folder_.WriteFile("db-sibling/s.txt", "s");

  struct Case {
    const char* label;
    PString folderName;
    std::string path;
    bool expected;
    std::string survivor;  // relative to the temp folder; must still exist
  };
  const std::vector<Case> cases = {
      {"empty path", kNoFolder, "", false, "db/keep/k.txt"},
      {"the root itself", kNoFolder, root_, false, "db/keep/k.txt"},
      {"the root with a separator", kNoFolder, root_ + "/", false, "db/keep/k.txt"},
      {"the root through '.'", kNoFolder, root_ + "/.", false, "db/keep/k.txt"},
      {"outside the root", kNoFolder, folder_ / "outside", false, "outside/o.txt"},
      {"a sibling sharing the prefix", kNoFolder, folder_ / "db-sibling", false, "db-sibling/s.txt"},
      {"climbing out with ..", kNoFolder, root_ + "/keep/../../outside", false, "outside/o.txt"},
      {"climbing out through a folder name", PString("local"), "../../outside", false, "outside/o.txt"},
      {"a folder name of ..", PString(".."), "outside", false, "outside/o.txt"},
      {"relative without a folder name", kNoFolder, "db/keep", false, "db/keep/k.txt"},
      {"a file by full path", kNoFolder, root_ + "/local/file.txt", true, "db/keep/k.txt"},
      {"a tree by folder name", PString("local"), "tree", true, "db/keep/k.txt"},
      {"nothing there", PString("local"), "missing", false, "db/keep/k.txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(DeleteInsideDatabaseRoot(c.folderName, c.path.c_str()), c.expected);
    EXPECT_TRUE(folder_.Has(c.survivor));
  }
  EXPECT_FALSE(Has("local/file.txt"));
  EXPECT_FALSE(Has("local/tree"));
  EXPECT_TRUE(Has("local"));

  SetDatabaseRootPath("");
  EXPECT_FALSE(DeleteInsideDatabaseRoot(kNoFolder, (root_ + "/keep").c_str())) << "no root set";
  EXPECT_FALSE(DeleteInsideDatabaseRoot(PString("db"), "keep")) << "no root set";
  EXPECT_TRUE(Has("keep/k.txt"));
}

// Links inside the database, to folders and files outside it, go as links:
// what they point to stays.
TEST_F(FileHelpersTest, DeleteFileOrFolderRemovesLinksNotTargets) {
  namespace fs = std::filesystem;
  folder_.WriteFile("outside/o.txt", "o");
  Write("local/tree/own.txt");
  fs::create_directory_symlink(folder_.Path() / "outside", folder_.Path() / "db/local/tree/to-outside");
  fs::create_directory_symlink(folder_.Path() / "outside", folder_.Path() / "db/local/linked");
  fs::create_symlink(folder_.Path() / "outside/o.txt", folder_.Path() / "db/local/linked-file");

  for (const char* name : {"tree", "linked", "linked-file"}) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(DeleteInsideDatabaseRoot(PString("local"), name));
    EXPECT_FALSE(fs::exists(fs::symlink_status(folder_.Path() / "db/local" / name)));
    EXPECT_EQ(folder_.ReadFile("outside/o.txt"), "o");
  }
}

TEST_F(FileHelpersTest, Rename) {
  Write("editing/e1/config.txt", "cfg");
  EXPECT_TRUE(MakeFolderPath(PString("local"), ""));
  EXPECT_TRUE(RenameInRoot(PString("editing"), "e1", PString("local"), "l1"));
  EXPECT_EQ(folder_.ReadFile("db/local/l1/config.txt"), "cfg");
  EXPECT_FALSE(Has("editing/e1"));
  EXPECT_FALSE(RenameInRoot(kNoFolder, "local/l1", PString("local"), "l2")) << "a relative side";
  EXPECT_TRUE(RenameFile((root_ + "/local/l1").c_str(), (root_ + "/local/l2").c_str()));
  EXPECT_TRUE(Has("local/l2/config.txt"));
  EXPECT_FALSE(RenameFile("local/l2", (root_ + "/local/l3").c_str()));
}

TEST_F(FileHelpersTest, FolderHasFiles) {
  std::filesystem::create_directories(root_ + "/empty/a/b");
  Write("deep/a/b/c/file.bin");
  const PString data = Mount("cobjscan", "deep");
  EXPECT_FALSE(FolderHasFiles(kNoFolder, (root_ + "/empty/").c_str())) << "only folders";
  EXPECT_TRUE(FolderHasFiles(kNoFolder, (root_ + "/deep/").c_str()));
  EXPECT_FALSE(FolderHasFiles(kNoFolder, (root_ + "/missing/").c_str()));
  EXPECT_TRUE(FolderHasFiles(data, "a/"));
  EXPECT_TRUE(FolderHasFiles(data, ""));
  EXPECT_FALSE(FolderHasFiles(data, "zzz/"));
  EXPECT_FALSE(FolderHasFiles(PString("cobjnotmounted"), "a/"));
  // Without the closing separator: the folder itself, not its name's
  // neighbours.
  Write("emptyish2/file.bin");
  std::filesystem::create_directories(root_ + "/emptyish");
  EXPECT_FALSE(FolderHasFiles(kNoFolder, (root_ + "/emptyish").c_str()));
  EXPECT_TRUE(FolderHasFiles(kNoFolder, (root_ + "/emptyish2").c_str()));
  EXPECT_TRUE(FolderHasFiles(kNoFolder, (root_ + "/deep").c_str()));
}

TEST_F(FileHelpersTest, FolderChangeHashFollowsFileChanges) {
  const std::string tree = root_ + "/tree/";
  EXPECT_EQ(FolderChangeHash(kNoFolder, (root_ + "/missing/").c_str()), 1u);
  std::filesystem::create_directories(tree);
  EXPECT_EQ(FolderChangeHash(kNoFolder, tree.c_str()), 1u) << "an empty folder hashes to 0, given as 1";

  Write("tree/a.txt", "one");
  Write("tree/sub/b.txt", "two");
  const uint32_t first = FolderChangeHash(kNoFolder, tree.c_str());
  EXPECT_EQ(FolderChangeHash(kNoFolder, tree.c_str()), first) << "stable while nothing changes";

  Write("tree/sub/b.txt", "longer content");
  const uint32_t changed = FolderChangeHash(kNoFolder, tree.c_str());
  EXPECT_NE(changed, first);

  Write("tree/sub/deeper/c.txt", "three");
  const uint32_t added = FolderChangeHash(kNoFolder, tree.c_str());
  EXPECT_NE(added, changed);

  const PString data = Mount("cobjhash", "tree");
  EXPECT_EQ(FolderChangeHash(data, ""), added) << "the same tree through its substitute";
}

TEST_F(FileHelpersTest, ArchiveFileExists) {
  Write("packs/base.va");
  EXPECT_TRUE(ArchiveFileExists("packs/base"));
  EXPECT_FALSE(ArchiveFileExists("packs/other"));
  SetDatabaseRootPath("");
  EXPECT_FALSE(ArchiveFileExists("packs/base"));
}

TEST_F(FileHelpersTest, TemporaryPathPrefersTheSanitisedName) {
  // The data folder "cobjedit" is both root/cobjedit and the substitute over it.
  const PString edit = Mount("cobjedit", "cobjedit");
  std::filesystem::remove(root_ + "/cobjedit");
  Vak::File::Path path;
  ASSERT_TRUE(CreateTemporaryFilePath(edit, "/", "edit ", nullptr, "My:Asset  ", path));
  EXPECT_STREQ(path, "/My_Asset");
  EXPECT_TRUE(std::filesystem::is_directory(root_ + "/cobjedit")) << "the folder is made";

  // An empty leftover folder of that name is cleared away and the name reused.
  std::filesystem::create_directories(root_ + "/cobjedit/My_Asset/sub");
  ASSERT_TRUE(CreateTemporaryFilePath(edit, "", "edit ", ".txt", "My:Asset", path));
  EXPECT_STREQ(path, "My_Asset.txt") << "the extension follows directly";
  ASSERT_TRUE(CreateTemporaryFilePath(edit, "", "edit ", nullptr, "My:Asset", path));
  EXPECT_STREQ(path, "My_Asset");
  EXPECT_FALSE(Has("cobjedit/My_Asset"));
}

TEST_F(FileHelpersTest, TemporaryPathFallsBackToARandomName) {
  Write("cobjedit/taken/config.txt");
  Write("cobjedit/file");
  const PString edit = Mount("cobjedit", "cobjedit");
  std::filesystem::create_directories(root_ + "/cobjedit/claimed");
  const std::regex form(R"(edit [0-9a-z]{8}[0-9]+)");
  struct Case {
    const char* label;
    const char* preferred;
    bool (*claimed)(const char*);
  };
  const std::vector<Case> cases = {
      {"no preferred name", nullptr, nullptr},
      {"an empty preferred name", "", nullptr},
      {"a name that sanitises to nothing", "    ", nullptr},
      {"a folder in use", "taken", nullptr},
      {"a file in use", "file", nullptr},
      {"an empty folder the caller claims", "claimed", [](const char*) { return true; }},
      {"a free name the caller claims", "free", [](const char*) { return true; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Vak::File::Path path;
    ASSERT_TRUE(CreateTemporaryFilePath(edit, "", "edit ", nullptr, c.preferred, path, c.claimed));
    EXPECT_TRUE(std::regex_match(static_cast<const char*>(path), form)) << path;
  }
  EXPECT_TRUE(std::filesystem::is_directory(root_ + "/cobjedit/claimed"));
  Vak::File::Path withExtension;
  ASSERT_TRUE(CreateTemporaryFilePath(edit, "", "edit ", "tmp", nullptr, withExtension));
  EXPECT_TRUE(std::regex_match(static_cast<const char*>(withExtension), std::regex(R"(edit [0-9a-z]{8}[0-9]+\.tmp)")))
      << withExtension;
  EXPECT_TRUE(Has("cobjedit/taken/config.txt"));
  EXPECT_TRUE(Has("cobjedit/file"));

  // Two calls never give the same name: the counter moves on.
  Vak::File::Path a, b;
  ASSERT_TRUE(CreateTemporaryFilePath(kNoFolder, (root_ + "/t").c_str(), "x", nullptr, nullptr, a));
  ASSERT_TRUE(CreateTemporaryFilePath(kNoFolder, (root_ + "/t/").c_str(), "x", nullptr, nullptr, b));
  EXPECT_STRNE(a, b);
  EXPECT_EQ(std::string(a).rfind(root_ + "/t/x", 0), 0u) << a;
}

TEST_F(FileHelpersTest, TemporaryPathGivesUp) {
  Vak::File::Path path("unchanged");
  // Without a folder name a relative folder cannot be made.
  EXPECT_FALSE(CreateTemporaryFilePath(kNoFolder, "relative", "p", nullptr, nullptr, path));
  EXPECT_STREQ(path, "unchanged");

  // No name fits the path: the tries run out and the log hears of it.
  FILE* stream = std::tmpfile();
  ASSERT_NE(stream, nullptr);
  Vak::Log::SetStream(stream);
  const std::string prefix(250, 'p');
  EXPECT_FALSE(CreateTemporaryFilePath(kNoFolder, root_.c_str(), prefix.c_str(), nullptr, nullptr, path));
  Vak::Log::SetStream(nullptr);
  EXPECT_STREQ(path, "unchanged");
  std::rewind(stream);
  std::string text;
  for (int c; (c = std::fgetc(stream)) != EOF;) text += static_cast<char>(c);
  std::fclose(stream);
  const std::string expected = "CreateTemporaryFilePath> unable to form valid temp path in 100 tries, at path '" +
                               root_ + "' with prefix '" + prefix + "'";
  EXPECT_NE(text.find(expected), std::string::npos) << text;
}

// Writes go to /dev/full: every write fails with the disk full.
class FullDiskLayer : public Vak::FileSubPath {
public:
  using FileSubPath::FileSubPath;
  int opened = 0;
  bool OpenWrite(Vak::File& file, const char*, platform::File::Access access, platform::File::Disposition) override {
    ++opened;
    file.EditPath() = "/dev/full";
    if (file.OwnHandle().Open("/dev/full", access, platform::File::Disposition::OpenExisting) != platform::Error::None)
      return false;
    file.UseOwnHandle();
    Attach(file);
    return true;
  }
};

TEST_F(FileHelpersTest, CopyFileStream) {
  std::string big(0x1000000 + 5, '\0');  // one full piece and a short one
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + (i >> 12));
  Write("src/big.bin", big);
  Write("src/small.txt", "small");
  Write("src/empty.txt", "");
  const PString src = Mount("cobjsrc", "src");
  const PString dst = Mount("cobjdst", "dst");

  EXPECT_TRUE(CopyFileStream(kNoFolder, (root_ + "/src/big.bin").c_str(), kNoFolder, (root_ + "/big.bin").c_str()));
  EXPECT_TRUE(folder_.ReadFile("db/big.bin") == big);
  EXPECT_TRUE(CopyFileStream(src, "small.txt", dst, "sub/small.txt"));
  EXPECT_EQ(folder_.ReadFile("db/dst/sub/small.txt"), "small");
  EXPECT_TRUE(CopyFileStream(src, "empty.txt", dst, "empty.txt"));
  EXPECT_TRUE(Has("dst/empty.txt"));

  EXPECT_FALSE(CopyFileStream(src, "missing.txt", dst, "missing.txt"));
  EXPECT_FALSE(Has("dst/missing.txt"));
  EXPECT_FALSE(CopyFileStream(src, "small.txt", dst, "sub/small.txt")) << "the destination exists";
  // An unknown data folder never falls back to the working folder.
  EXPECT_FALSE(CopyFileStream(src, "small.txt", PString("cobjnotmounted"), "cobj-stray.txt"));
  EXPECT_FALSE(std::filesystem::exists("cobj-stray.txt"));
  EXPECT_FALSE(CopyFileStream(PString("cobjnotmounted"), "small.txt", dst, "stray.txt"));
  EXPECT_FALSE(Has("dst/stray.txt"));
}

TEST_F(FileHelpersTest, CopyFileStreamFailsOnAShortRead) {
  // A compressed file whose header promises 1000 bytes that are not there.
  const std::string header("CFIL\x02\x01\x00\x00\xE8\x03\x00\x00", 12);
  Write("src/truncated.bin", header);
  {
    Vak::File source;
    ASSERT_TRUE(source.Open((root_ + "/src/truncated.bin").c_str(), Vak::File::kRead).Ok());
    ASSERT_EQ(source.Size(), 1000u) << "the source opens and claims its size";
  }
  EXPECT_FALSE(CopyFileStream(kNoFolder, (root_ + "/src/truncated.bin").c_str(), kNoFolder,
                              (root_ + "/copy.bin").c_str()));
  EXPECT_FALSE(Has("copy.bin")) << "no partial copy is left";
}

TEST_F(FileHelpersTest, CopyFileStreamFailsOnAShortWrite) {
  Write("src/data.bin", std::string(100000, 'd'));
  Write("src/tiny.bin", "t");
  std::filesystem::create_directories(root_ + "/full");
  PString full("cobjfull");
  auto layer = std::make_unique<FullDiskLayer>((root_ + "/full/").c_str(), true);
  FullDiskLayer* disk = layer.get();
  ASSERT_TRUE(Vak::FileSubstList::Get().Add(full, std::move(layer)));
  substitutes_.push_back(full);
  EXPECT_FALSE(CopyFileStream(kNoFolder, (root_ + "/src/data.bin").c_str(), full, "data.bin"));
  EXPECT_EQ(disk->opened, 1) << "the destination opened; the writes failed";
  // Small enough to stay in the file's buffer: the failure shows at close.
  EXPECT_FALSE(CopyFileStream(kNoFolder, (root_ + "/src/tiny.bin").c_str(), full, "tiny.bin"));
  EXPECT_EQ(disk->opened, 2);
}

} // namespace
