#include "tools/VArchive.h"

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Vak/Bexlorn/Archive.h"
#include "Vak/Bexlorn/ByteOrder.h"
#include "Vak/Bexlorn/FileSubArchive.h"
#include "Vak/Bexlorn/Time.h"
#include "tests/Vak/Bexlorn/ArchiveBuilder.h"
#include "tests/assets3d/mesh/LodmBuilder.h"
#include "tests/assets3d/mesh/MeshLoad.h"
#include "tests/tools/ToolTestSupport.h"

namespace {

using tooltest::ListTree;
using tooltest::Printed;
using tooltest::ReadBytes;
using tooltest::TempFolder;
using tooltest::WorkingFolder;
using tooltest::WriteBytes;

constexpr unsigned kArchiveTool =
    Vak::Tool::kExpectCommandWord | Vak::Tool::kExpectTarget | Vak::Tool::kSearchTarget;

// Runs one command line on a fresh archive tool; its output goes to `printed`.
bool RunLine(const char* line, std::string* printed = nullptr) {
  Vak::VArchive tool;
  tool.Setup(kArchiveTool);
  bool result = false;
  const std::string out = Printed([&] { result = tool.ProcessCommandLine(tool.Command(), line); });
  if (printed) *printed = out;
  return result;
}

std::string Bytes(std::size_t n) {
  std::string out;
  for (std::size_t i = 0; i < n; ++i) out += static_cast<char>('a' + i % 7);
  return out;
}

// The stored header of `name` in the archive at `path`.
bool StoredHeader(const std::string& path, const char* name, Vak::Archive::FileHeader& header) {
  Vak::FileSubArchive archive(path.c_str(), false);
  return archive.GetHeader(name, header);
}

std::size_t StoredEntries(const std::string& path) {
  Vak::FileSubArchive archive(path.c_str(), false);
  Vak::Archive::FileHeader header;
  archive.GetHeader("no such entry", header);  // walks every block
  return archive.KnownEntries();
}

// a.txt and sub/b.txt, indexed.
void WriteSmallArchive(const std::string& path) {
  Vak::test::ArchiveBuilder builder;
  builder.AddFile("a.txt", "hello");
  builder.AddFile("sub/b.txt", Bytes(3000), true);
  builder.AddIndex();
  builder.WriteTo(path);
}

TEST(VArchiveSetup, AllocatesTheCopyBufferAndResets) {
  Vak::VArchive tool;
  EXPECT_EQ(nullptr, tool.CopyBuffer());
  EXPECT_TRUE(tool.FullPaths());
  tool.Setup(kArchiveTool);
  EXPECT_NE(nullptr, tool.CopyBuffer());
  EXPECT_EQ(131072u, Vak::VArchive::kCopyBufferBytes);
  EXPECT_TRUE(tool.FullPaths());
  EXPECT_FALSE(tool.Compression());
  EXPECT_FALSE(tool.PathPrefixGiven());
  EXPECT_STREQ("", tool.PathPrefix());
  EXPECT_TRUE(tool.Command().expectsCommandWord && tool.Command().expectsTarget && tool.Command().searchTarget);
  tool.Shutdown();
  EXPECT_EQ(nullptr, tool.CopyBuffer());
}

TEST(VArchiveApplySwitches, TakesTheToolsSwitches) {
  Vak::VArchive tool;
  tool.Setup(kArchiveTool);
  Vak::ToolCommand& command = tool.Command();
  tool.ParseCommand(command, "-v -P -c -n -pprefix l a.va");
  tool.ApplySwitches(command);
  EXPECT_TRUE(tool.Verbose() && tool.FullPaths() && tool.Compression() && tool.ArchiveNameAsPrefix());
  EXPECT_TRUE(tool.PathPrefixGiven());
  EXPECT_STREQ("prefix", tool.PathPrefix());
  command.switches.clear();
  tool.ApplySwitches(command);
  EXPECT_FALSE(tool.Verbose() || tool.FullPaths() || tool.Compression());
  // Once set, the archive name stays the prefix.
  EXPECT_TRUE(tool.ArchiveNameAsPrefix());
}

TEST(VArchiveAdd, StoresLargerFilesPackedUnderCompression) {
  struct Case {
    const char* name;
    std::size_t size;
    bool compressed;
  };
  const Case cases[] = {{"k1024.bin", 1024, false}, {"k1025.bin", 1025, true}, {"zero.bin", 0, false}};
  TempFolder folder;
  for (const Case& c : cases) ASSERT_TRUE(WriteBytes(folder / c.name, Bytes(c.size)));
  WorkingFolder here(folder.Path());
  std::string printed;
  ASSERT_TRUE(RunLine("-c a test.va *.bin", &printed));
  for (const Case& c : cases) {
    Vak::Archive::FileHeader header;
    ASSERT_TRUE(StoredHeader(folder / "test.va", c.name, header)) << c.name;
    EXPECT_EQ(c.compressed, header.Compressed()) << c.name;
    EXPECT_EQ(c.size, header.uncompressedSize) << c.name;
    if (!c.compressed) {
      EXPECT_EQ(c.size, header.storedSize) << c.name;
    }
    char line[128];
    std::snprintf(line, sizeof line, "Add:     0k      /%5uk .. %-50.50s ", static_cast<unsigned>(c.size / 1024), c.name);
    EXPECT_NE(std::string::npos, printed.find(line)) << printed;
  }
  EXPECT_EQ(3u, StoredEntries(folder / "test.va"));
  EXPECT_NE(std::string::npos, printed.find("\nProcessed 3 files.\n"));

  // Without compression every file is stored plain.
  ASSERT_TRUE(RunLine("a plain.va k1025.bin"));
  Vak::Archive::FileHeader header;
  ASSERT_TRUE(StoredHeader(folder / "plain.va", "k1025.bin", header));
  EXPECT_FALSE(header.Compressed());
}

TEST(VArchiveAdd, NamesEntriesByTheKeepPrefixSwitch) {
  struct Case {
    const char* line;
    std::vector<const char*> names;
  };
  const Case cases[] = {
      {"-r a test.va src/*.txt", {"top.txt", "d.txt"}},
      {"-r -k a test.va src/*.txt", {"src/top.txt", "src/sub/d.txt"}},
      {"-k a test.va ./src/*.txt", {"src/top.txt"}},
  };
  for (const Case& c : cases) {
    TempFolder folder;
    ASSERT_TRUE(WriteBytes(folder / "src/top.txt", "top"));
    ASSERT_TRUE(WriteBytes(folder / "src/sub/d.txt", "deep"));
    WorkingFolder here(folder.Path());
    ASSERT_TRUE(RunLine(c.line)) << c.line;
    for (const char* name : c.names) {
      Vak::Archive::FileHeader header;
      EXPECT_TRUE(StoredHeader(folder / "test.va", name, header)) << c.line << ": " << name;
    }
    EXPECT_EQ(c.names.size(), StoredEntries(folder / "test.va")) << c.line;
  }
}

TEST(VArchiveArchiveEntryName, DropsTheFolderUnlessKeptAndAnyRoot) {
  struct Case {
    bool keep;
    const char* source;
    const char* folder;
    const char* name;
  };
  const Case cases[] = {
      {false, "sub/d.txt", "sub", "d.txt"},
      {true, "sub/d.txt", "sub", "sub/d.txt"},
      {false, "d.txt", "", "d.txt"},
      {true, "C:/x/y.txt", "C:/x", "x/y.txt"},
      {true, "/abs/y.txt", "/abs", "abs/y.txt"},
      {true, "a/../b.txt", "a/..", "b.txt"},
  };
  for (const Case& c : cases) {
    Vak::ToolCommand command;
    command.keepPrefix = c.keep;
    EXPECT_STREQ(c.name, Vak::VArchive::ArchiveEntryName(command, c.source, c.folder)) << c.source;
  }
}

TEST(VArchiveArchiveFileName, SetsTheExtensionUnlessAFolder) {
  EXPECT_STREQ("x.va", Vak::VArchive::ArchiveFileName("x"));
  EXPECT_STREQ("dir/x.va", Vak::VArchive::ArchiveFileName("dir/x.zip"));
  EXPECT_STREQ("dir\\", Vak::VArchive::ArchiveFileName("dir\\"));
}

TEST(VArchiveExtract, PlacesFilesByKeepPrefixPathPrefixAndArchiveName) {
  struct Case {
    std::vector<const char*> lines;  // one line, or the lines of an argument file
    std::vector<std::string> tree;   // below the working folder, less the archive
  };
  const Case cases[] = {
      {{"-r -k e test.va"}, {"a.txt", "sub/", "sub/b.txt"}},
      {{"-r e test.va"}, {"a.txt", "b.txt"}},
      {{"e test.va sub/*"}, {"sub/", "sub/b.txt"}},
      // The prefix names the folder, and the collected destination holds it too.
      {{"-r -k -pout.dir e test.va"}, {"out/", "out/out.dir/", "out/out.dir/a.txt", "out/out.dir/sub/", "out/out.dir/sub/b.txt"}},
      {{"-pout e test.va"}, {"out/", "out/out/", "out/out/a.txt"}},
      // The archive name becomes the prefix from the command after the switch.
      {{"-n -r -k e test.va"}, {"a.txt", "sub/", "sub/b.txt"}},
      {{"-n l test.va", "-r -k e test.va"}, {"test/", "test/a.txt", "test/sub/", "test/sub/b.txt"}},
  };
  for (const Case& c : cases) {
    TempFolder folder;
    WriteSmallArchive(folder / "test.va");
    WorkingFolder here(folder.Path());
    Vak::VArchive tool;
    tool.Setup(kArchiveTool);
    bool result = false;
    std::string line = c.lines[0];
    if (c.lines.size() > 1) {
      std::string text;
      for (const char* l : c.lines) text += std::string(l) + "\n";
      ASSERT_TRUE(WriteBytes(folder / "lines.lst", text));
      line = "lines.lst";
      Printed([&] { result = tool.ReadArgumentFile(tool.Command(), line.c_str()); });
    } else {
      Printed([&] { result = tool.ProcessCommandLine(tool.Command(), line.c_str()); });
    }
    EXPECT_TRUE(result) << line;
    std::vector<std::string> tree = ListTree(folder.Path());
    tree.erase(std::remove_if(tree.begin(), tree.end(),
                              [](const std::string& name) { return name == "test.va" || name == "lines.lst"; }),
               tree.end());
    std::sort(tree.begin(), tree.end());
    EXPECT_EQ(c.tree, tree) << line;
    for (const std::string& name : tree) {
      const std::string content = ReadBytes(folder / name);
      if (name.ends_with("a.txt")) {
        EXPECT_TRUE(content == "hello") << name;
      } else if (name.ends_with("b.txt")) {
        EXPECT_TRUE(content == Bytes(3000)) << name;
      }
    }
  }
}

TEST(VArchiveExtract, PrintsALinePerFile) {
  TempFolder folder;
  WriteSmallArchive(folder / "test.va");
  WorkingFolder here(folder.Path());
  std::string printed;
  ASSERT_TRUE(RunLine("-r -k e test.va", &printed));
  EXPECT_EQ("    0k 100%/    0k .. ./a.txt\n    2k 100%/    2k .. sub/b.txt\n\nProcessed 2 files.\n", printed);
}

TEST(VArchiveList, PrintsSizesRatioStampAndName) {
  TempFolder folder;
  Vak::test::ArchiveBuilder builder;
  builder.AddFile("a.txt", "hello");
  const std::string big(4096, 'x');
  builder.AddFile("sub/big.bin", big, true);
  builder.AddFile("sub/empty.bin", "");
  builder.AddIndex();
  builder.WriteTo(folder / "test.va");
  Vak::Archive::FileHeader header;
  ASSERT_TRUE(StoredHeader(folder / "test.va", "sub/big.bin", header));
  WorkingFolder here(folder.Path());
  std::string printed;
  ASSERT_TRUE(RunLine("-r l test.va", &printed));
  char expected[512];
  std::snprintf(expected, sizeof expected,
                "    0k/    0k 100%% %08X .. ./a.txt\n"
                "%5uk/    4k %3.0f%% %08X .. sub/big.bin\n"
                "    0k/    0k   0%% %08X .. sub/empty.bin\n"
                "\nProcessed 3 files.\n",
                Vak::Archive::Crc::Of("hello", 5), header.storedSize / 1024, header.storedSize * 100.0 / 4096,
                Vak::Archive::Crc::Of(big.data(), big.size()), Vak::Archive::Crc::Of("", 0));
  EXPECT_EQ(expected, printed);
}

std::string Block(const char* tag, const std::string& data) {
  std::string out(tag, 4);
  Vak::AppendLE32(out, static_cast<uint32_t>(data.size()));
  return out + data;
}

TEST(VArchiveBlocks, ListsTheBlocksOfATaggedFile) {
  struct Case {
    std::string content;
    const char* printed;
  };
  const std::string virf = "VIRF" + std::string("\x1b\0\0\0", 4) + "TEST" + Block("ABCD", "xyz") + Block("EFGH", "");
  const Case cases[] = {
      {virf,
       "Block Listing of model.im:\n\n"
       "File Type: VIRF        27 bytes\n"
       "File ID: TEST\n"
       " - Block: ABCD -        3 bytes\n"
       " - Block: EFGH -        0 bytes\n"
       " - Total       -       23 bytes\n"
       "\nProcessed 1 files.\n"},
      // A block that claims more than there is ends the listing.
      {"VIRF" + std::string(4, '\0') + "TEST" + Block("LONG", "ab").substr(0, 8),
       "Block Listing of model.im:\n\n"
       "File Type: VIRF         0 bytes\n"
       "File ID: TEST\n"
       " - Block: LONG -        2 bytes\n"
       " - Total       -       14 bytes\n"
       "\nProcessed 1 files.\n"},
      {"VIRF", "Block Listing of model.im:\n\nFileType: Unknown\n\nProcessed 1 files.\n"},
      {"VIRF1234", "Block Listing of model.im:\n\nFileType: Unknown\n\nProcessed 1 files.\n"},
  };
  for (const Case& c : cases) {
    TempFolder folder;
    Vak::test::ArchiveBuilder builder;
    builder.AddFile("model.im", c.content);
    builder.AddIndex();
    builder.WriteTo(folder / "test.va");
    WorkingFolder here(folder.Path());
    std::string printed;
    EXPECT_TRUE(RunLine("b test.va model.im", &printed));
    EXPECT_EQ(c.printed, printed);
  }
}

TEST(VArchiveBlocks, ReadsAFileOnTheDiskWhenTheTargetIsNotSearched) {
  TempFolder folder;
  ASSERT_TRUE(WriteBytes(folder / "m.im", "VIRF" + std::string(4, '\0') + "TEST"));
  WorkingFolder here(folder.Path());
  Vak::VArchive tool;
  tool.Setup(Vak::Tool::kExpectCommandWord | Vak::Tool::kExpectTarget);
  Vak::ToolFileEntry entry;
  entry.sourceFolder = ".\\";
  std::snprintf(entry.match.name, sizeof entry.match.name, "m.im");
  EXPECT_EQ("Block Listing of m.im:\n\nFile Type: VIRF         0 bytes\nFile ID: TEST\n - Total       -        4 bytes\n",
            Printed([&] { tool.ListBlocks(tool.Command(), entry); }));
  std::snprintf(entry.match.name, sizeof entry.match.name, "none.im");
  EXPECT_EQ("Error, Cannot open file!\n", Printed([&] { tool.ListBlocks(tool.Command(), entry); }));
}

TEST(VArchiveBlocks, ShowsTheSizesTheLodWriterBackPatched) {
  // Two levels of one quad each, written by the level-of-detail writer.
  meshtest::Loader loader;
  std::unique_ptr<VelmarIndexedMeshLODDefinition> lod;
  ASSERT_EQ(loader.Lod(meshtest::LodmFile(meshtest::LevelsAt({10, 40})), lod), 0u);
  unsigned long result = 99;
  loader.Written(*lod, result);
  ASSERT_EQ(result, 0u);
  WorkingFolder here(loader.folder.Path().string());
  Vak::VArchive tool;
  tool.Setup(Vak::Tool::kExpectCommandWord | Vak::Tool::kExpectTarget);
  Vak::ToolFileEntry entry;
  entry.sourceFolder = ".\\";
  std::snprintf(entry.match.name, sizeof entry.match.name, "out.lm");
  // INFO: version and 60 bytes of fields, no named level. MATT: the count
  // and one 88-byte MATL ("mat", no property or texture). MESH: 16 bytes of
  // fields and one LCHK of 236 bytes (8 bytes, then a 216-byte GEOM of four
  // vertices, six indices and two face normals).
  EXPECT_EQ("Block Listing of out.lm:\n\n"
            "File Type: VIRF       708 bytes\n"
            "File ID: LODM\n"
            " - Block: INFO -       64 bytes\n"
            " - Block: MATT -       96 bytes\n"
            " - Block: MESH -      256 bytes\n"
            " - Block: MESH -      256 bytes\n"
            " - Total       -      708 bytes\n",
            Printed([&] { tool.ListBlocks(tool.Command(), entry); }));
}

TEST(VArchiveListDirectory, ShowsFoldersOnlyWhenVerbose) {
  Vak::VArchive tool;
  Vak::ToolFileEntry entry;
  entry.sourceFolder = "data";
  entry.match.attributes = Vak::File::Entry::kFolder;
  std::snprintf(entry.match.name, sizeof entry.match.name, "meshes");
  EXPECT_EQ("", Printed([&] { tool.ListDirectory(entry); }));
  tool.ParseCommand(tool.Command(), "-v");
  tool.ApplySwitches(tool.Command());
  EXPECT_EQ(" <DIR>                      .. data/meshes\n", Printed([&] { tool.ListDirectory(entry); }));
  std::snprintf(entry.match.name, sizeof entry.match.name, "..");
  EXPECT_EQ("", Printed([&] { tool.ListDirectory(entry); }));
}

TEST(VArchiveExecute, RefusesAnUnknownCommandWord) {
  TempFolder folder;
  WriteSmallArchive(folder / "test.va");
  WorkingFolder here(folder.Path());
  std::string printed;
  EXPECT_FALSE(RunLine("x test.va", &printed));
  EXPECT_EQ("VArchive::Execute(): No command specified.\n"
            "Tool::ProcessCommandLine(): Command execution failed:\n\"x test.va\"\n\n",
            printed);
  // Command words are compared with regard to case.
  EXPECT_FALSE(RunLine("L test.va", &printed));
  EXPECT_EQ(0u, printed.find("VArchive::Execute(): No command specified.\n"));
}

// The clock behind the progress lines, in milliseconds; it moves on by
// gTick at every reading.
int64_t gNow = 0;
int64_t gTick = 0;
int64_t Now() {
  const int64_t now = gNow;
  gNow += gTick;
  return now;
}

class VArchiveProgress : public testing::Test {
protected:
  void SetUp() override {
    gTick = 0;
    Vak::Time::SetClockSource(&Now, 1000);
  }
  void TearDown() override { Vak::Time::SetClockSource(nullptr, 0); }
};

TEST_F(VArchiveProgress, ThrottlesLinesToOneEvery200Ms) {
  struct Step {
    int64_t now;
    unsigned long bytes, done;
    const char* printed;
  };
  const Step plain[] = {
      {1000, 16384, 0, "\rAdd:    16k"},
      {1100, 32768, 0, ""},                    // 100 ms after the last line
      {1199, 40960, 0, ""},
      {1200, 49152, 0, "\rAdd:    48k"},
      {1300, 102400, 0, "\rAdd:   100k"},      // the whole file is always shown
      {1700, 51200, 25600, "\rAdd:    75k  50%"},
      {1710, 102400, 51200, "\rAdd:    50k  50%"},
  };
  Vak::VArchive tool;
  tool.SetStartTime(0);
  tool.SetTotalSize(102400);
  for (const Step& s : plain) {
    gNow = s.now;
    bool result = false;
    EXPECT_EQ(s.printed, Printed([&] { result = tool.ShowProgress(s.bytes, s.done); })) << s.now;
    EXPECT_TRUE(result);
  }

  Vak::VArchive verbose;
  verbose.Setup(kArchiveTool);
  verbose.ParseCommand(verbose.Command(), "-v a x.va");
  verbose.ApplySwitches(verbose.Command());
  verbose.SetStartTime(500);
  verbose.SetTotalSize(0);
  const Step loud[] = {
      {1500, 16384, 0, "\rAdd:    16k   0%    16kbs"},
      {1600, 32768, 8192, ""},                 // below 100% of an unknown total
      {1800, 40960, 10240, "\rAdd:    40k  25%    31kbs"},
      {1900, 0, 0, ""},
  };
  for (const Step& s : loud) {
    gNow = s.now;
    EXPECT_EQ(s.printed, Printed([&] { verbose.ShowProgress(s.bytes, s.done); })) << s.now;
  }
  // No time passed: no rate.
  Vak::VArchive still;
  still.ParseCommand(still.Command(), "-v");
  still.ApplySwitches(still.Command());
  gNow = 700;
  still.SetStartTime(700);
  EXPECT_EQ("\rAdd:     1k 100%     0kbs", Printed([&] { still.ShowProgress(1024, 1024); }));
}

TEST_F(VArchiveProgress, FollowsTheStoreOfAnAddedFile) {
  TempFolder folder;
  ASSERT_TRUE(WriteBytes(folder / "big.bin", Bytes(65536)));
  WorkingFolder here(folder.Path());
  gNow = 5000;
  gTick = 10;
  std::string printed;
  ASSERT_TRUE(RunLine("a test.va big.bin", &printed));
  // Four 16 KiB pieces 10 ms apart: the first line and the whole file.
  EXPECT_EQ(0u, printed.find("Add:     0k      /   64k .. big.bin")) << printed;
  EXPECT_NE(std::string::npos, printed.find(" \rAdd:    16k\rAdd:    64k\n")) << printed;
  EXPECT_EQ(std::string::npos, printed.find("\rAdd:    32k")) << printed;
}

TEST(VArchiveUsage, NamesEverySwitchAndCommand) {
  const std::string usage = Vak::VArchive::UsageText();
  for (const char* text : {"Usage", "Switches:", "Switch:", "Command:", "Paths:", "Path:", "Wildcards:", "Example:",
                           "Recursive Search", "Keep path prefix.", "Use Full Paths", "Verbose Display",
                           "Enable Compression", "Use archive name as path prefix", "Use path prefix", "Exclude files",
                           "Add matching wildcards to archive", "Extract matching wildcards from archive",
                           "List matching wildcards in archive", "View blocks in file", "MyArchive", "Data",
                           "*.txt;*.bmp;*.*.*", "Note: By default the path prefix is removed from files."})
    EXPECT_NE(std::string::npos, usage.find(text)) << text;
}

// A file that cannot be added or extracted fails the command, so the
// framework reports it.
TEST(VArchiveFailures, AFileThatFailsFailsTheCommand) {
  struct Case {
    const char* line;
    std::function<void(const TempFolder&)> prepare;  // before the files are collected
    std::function<void(const TempFolder&)> spoil;    // after
    const char* error;
  };
  const Case cases[] = {
      {"a test.va *.txt", nullptr, [](const TempFolder& f) { platform::DeleteFile((f / "a.txt").c_str()); },
       "Error, Cannot open input file!\n"},
      {"a test.va *.txt", nullptr, [](const TempFolder& f) { WriteBytes(f / "a.txt", "hel"); },
       "Error, Cannot read input file!\n"},
      {"a folder.va *.txt", [](const TempFolder& f) { platform::MakeFolder((f / "folder.va").c_str()); }, nullptr,
       "Error, Cannot open output file!\n"},
      {"-k e test.va sub/*", [](const TempFolder& f) { WriteSmallArchive(f / "test.va"); WriteBytes(f / "sub", "x"); },
       nullptr, "Error, Cannot open output file!\n"},
  };
  for (const Case& c : cases) {
    TempFolder folder;
    ASSERT_TRUE(WriteBytes(folder / "a.txt", "hello"));
    if (c.prepare) c.prepare(folder);
    WorkingFolder here(folder.Path());
    Vak::VArchive tool;
    tool.Setup(kArchiveTool);
    Vak::ToolCommand& command = tool.Command();
    tool.ParseCommand(command, c.line);
    tool.ApplySwitches(command);
    tool.ExecuteFileList(command);
    ASSERT_EQ(1u, command.files.Count()) << c.line;
    if (c.spoil) c.spoil(folder);
    bool result = true;
    const std::string printed = Printed([&] { result = tool.ProcessFiles(command); });
    EXPECT_FALSE(result) << c.line;
    EXPECT_NE(std::string::npos, printed.find(c.error)) << c.line << "\n" << printed;
  }
  // Through the whole command line the framework names the command.
  TempFolder folder;
  ASSERT_TRUE(WriteBytes(folder / "a.txt", "hello"));
  platform::MakeFolder((folder / "folder.va").c_str());
  WorkingFolder here(folder.Path());
  std::string printed;
  EXPECT_FALSE(RunLine("a folder.va a.txt", &printed));
  EXPECT_NE(std::string::npos,
            printed.find("Error, Cannot open output file!\n\nProcessed 1 files.\n"
                         "Tool::ProcessCommandLine(): Command execution failed:\n\"a folder.va a.txt\"\n\n"))
      << printed;
}

TEST(VArchiveIsContainedEntryName, RefusesNamesThatLeaveTheFolder) {
  struct Case {
    const char* name;
    bool contained;
  };
  const Case cases[] = {
      {"a.txt", true},        {"sub/a.txt", true},     {"sub\\a.txt", true},   {"..a/b..", true},
      {"../a.txt", false},    {"sub/../../a", false},  {"sub\\..\\a", false},  {"..", false},
      {"/abs/a.txt", false},  {"\\abs\\a.txt", false}, {"C:/a.txt", false},    {"C:a.txt", false},
  };
  for (const Case& c : cases) EXPECT_EQ(c.contained, Vak::VArchive::IsContainedEntryName(c.name)) << c.name;
}

// An entry reached through a path that leaves the working folder is refused
// and nothing is written outside it.
TEST(VArchiveExtract, RefusesEntriesThatWouldLeaveTheDestination) {
  TempFolder folder;
  const std::string work = folder / "work";
  platform::MakeFolderPath(work.c_str());
  Vak::test::ArchiveBuilder builder;
  builder.AddFile("../evil.txt", "evil");
  builder.AddFile("C:/drive.txt", "drive");
  builder.AddFile("inside.txt", "fine");
  builder.AddIndex();
  builder.WriteTo(work + "/test.va");
  WorkingFolder here(work);
  struct Case {
    const char* line;
    std::string escaped;  // what the entry would have written
  };
  const Case cases[] = {
      {"-k e test.va ../*", folder / "evil.txt"},
      {"e test.va ../*", folder / "evil.txt"},
      {"-k e test.va C:/*", work + "/C:/drive.txt"},
  };
  for (const Case& c : cases) {
    std::string printed;
    EXPECT_FALSE(RunLine(c.line, &printed)) << c.line;
    EXPECT_NE(std::string::npos, printed.find("Error, Cannot open output file!\n")) << printed;
    EXPECT_FALSE(platform::Exists(c.escaped.c_str())) << c.escaped;
  }
  // The rest of the archive extracts, and a stored name without a folder
  // name is not searched as a folder.
  EXPECT_TRUE(RunLine("-r -k e test.va *"));
  EXPECT_EQ("fine", ReadBytes(work + "/inside.txt"));
  EXPECT_FALSE(platform::Exists((folder / "evil.txt").c_str()));
}

} // namespace
