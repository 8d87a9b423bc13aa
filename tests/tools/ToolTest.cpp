#include "tools/Tool.h"

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Vak/Bexlorn/Log.h"
#include "Vak/Bexlorn/OS.h"
#include "Vak/Bexlorn/Options.h"
#include "tests/tools/ToolTestSupport.h"

namespace {

using tooltest::Printed;
using tooltest::TempFolder;
using tooltest::WorkingFolder;
using tooltest::WriteBytes;

// Records what it is handed, one "source|destination|name" each.
class RecordingTool : public Vak::Tool {
public:
  bool ProcessFile(Vak::ToolCommand&, Vak::ToolFileEntry& entry) override {
    seen.push_back(std::string(entry.sourceFolder) + "|" + std::string(entry.destinationFolder) + "|" +
                   entry.match.name);
    return result;
  }
  void PrintUsage() override { std::printf("usage\n"); }

  std::vector<std::string> seen;
  bool result = true;
};

std::string Joined(const Vak::ToolStringArray& items) {
  std::string out;
  for (uint32_t i = 0; i < items.Count(); ++i) out += (i ? "|" : "") + std::string(items[i]);
  return out;
}

TEST(ToolArray, GrowsToTheNextMultipleOf128AboveCountPlus128) {
  struct Case {
    uint32_t count, n, capacity;
  };
  for (const Case& c : {Case{0, 1, 128}, Case{127, 1, 256}, Case{128, 1, 256}, Case{0, 128, 256}, Case{200, 100, 384},
                        Case{256, 1, 384}})
    EXPECT_EQ(c.capacity, Vak::ToolStringArray::GrownCapacity(c.count, c.n)) << c.count << " + " << c.n;

  Vak::ToolStringArray items;
  for (uint32_t i = 0; i < 300; ++i) {
    const uint32_t before = items.Capacity();
    items.Append(std::to_string(i).c_str());
    if (before == i) EXPECT_EQ(Vak::ToolStringArray::GrownCapacity(i, 1), items.Capacity()) << i;
    else EXPECT_EQ(before, items.Capacity()) << i;
  }
  EXPECT_EQ(384u, items.Capacity());
  EXPECT_STREQ("299", items[299]);
}

TEST(ToolArray, CopiesAreDeep) {
  Vak::ToolStringArray items;
  items.Append("one");
  Vak::ToolStringArray copy = items;
  copy[0] = "changed";
  copy.Append("two");
  EXPECT_EQ("one", Joined(items));
  EXPECT_EQ("changed|two", Joined(copy));
}

TEST(ToolTokenize, SplitsAtSeparatorsAndQuotes) {
  struct Case {
    const char* text;
    const char* separators;
    const char* tokens;
  };
  const Case cases[] = {
      {"a b  c", " ", "a|b|c"},
      {"   ", " ", ""},
      {"", " ", ""},
      {"\"\" x", " ", "x"},                 // a quoted empty word is no token
      {"a \"b c\" d", " ", "a|b c|d"},
      {"a \"b c", " ", "a"},                // an unclosed quote ends the text
      {"ab\"cd\"ef", " ", "ab|cd|ef"},      // a word ends at a quote
      {"l a\r\n", "\r\n ", "l|a"},
      {"name=value", "=", "name|value"},
      {"name=\"a=b\"", "=", "name|a=b"},
      {"==x==", "=", "x"},
  };
  for (const Case& c : cases) {
    Vak::ToolStringArray out;
    out.Append("stale");
    const unsigned n = Vak::Tool::Tokenize(out, c.text, c.separators, '"');
    EXPECT_EQ(c.tokens, Joined(out)) << c.text;
    EXPECT_EQ(out.Count(), n) << c.text;
  }
}

TEST(ToolParseCommand, SortsTokensIntoSwitchesSettingsExclusionsWordTargetAndPaths) {
  struct Case {
    const char* line;
    const char* word;
    const char* target;
    const char* paths;
    const char* switches;  // letter=value, in letter order
    const char* settings;
    const char* excludeNames;
    const char* excludeFolders;
    bool searchTarget;
  };
  const Case cases[] = {
      {"l arc.va", "l", "arc.va", "*", "", "", "", "", true},
      {"-r -v a arc.va *.txt sub/*.bmp", "a", "arc.va", "*.txt|sub/*.bmp", "r=|v=", "", "", "", false},
      {"-pout -pother e arc.va", "e", "arc.va", "*", "p=other", "", "", "", true},
      {"-P -pdir e arc.va", "e", "arc.va", "*", "P=|p=dir", "", "", "", true},
      {"-sname=value -sflag l a", "l", "a", "*", "", "flag=|name=value", "", "", true},
      {"\"-sname=a b\" l a", "l", "a", "*", "", "name=a b", "", "", true},
      // "-s" alone names no setting; the next word is the command word.
      {"-s name=value l a", "name=value", "l", "a", "", "", "", "", true},
      {"-xtemp* -xold/* -xa\\b l a", "l", "a", "*", "", "", "temp*", "old/*|a\\b", true},
      {"l", "l", "", "*", "", "", "", "", true},
      {"- l a", "-", "l", "a", "", "", "", "", true},
      {"l a b -r c", "l", "a", "b|-r|c", "", "", "", "", true},
      {"\"\" l \"my arc.va\" \"x y/*\"", "l", "my arc.va", "x y/*", "", "", "", "", true},
  };
  for (const Case& c : cases) {
    RecordingTool tool;
    tool.Setup(Vak::Tool::kExpectCommandWord | Vak::Tool::kExpectTarget | Vak::Tool::kSearchTarget);
    Vak::ToolCommand& command = tool.Command();
    EXPECT_TRUE(tool.ParseCommand(command, c.line)) << c.line;
    EXPECT_STREQ(c.word, command.commandWord) << c.line;
    EXPECT_STREQ(c.target, command.target) << c.line;
    EXPECT_EQ(c.paths, Joined(command.paths)) << c.line;
    std::string switches, settings;
    for (const auto& [letter, value] : command.switches)
      switches += (switches.empty() ? "" : "|") + std::string(1, letter) + "=" + std::string(value);
    for (const auto& [name, value] : command.settings)
      settings += (settings.empty() ? "" : "|") + name + "=" + std::string(value);
    EXPECT_EQ(c.switches, switches) << c.line;
    EXPECT_EQ(c.settings, settings) << c.line;
    EXPECT_EQ(c.excludeNames, Joined(command.excludeNames)) << c.line;
    EXPECT_EQ(c.excludeFolders, Joined(command.excludeFolders)) << c.line;
    EXPECT_EQ(c.searchTarget, command.searchTarget) << c.line;
  }
}

TEST(ToolApplySwitches, SetsRecursiveKeepPrefixAndVerbose) {
  RecordingTool tool;
  Vak::ToolCommand& command = tool.Command();
  tool.ParseCommand(command, "-r -k -v");
  tool.ApplySwitches(command);
  EXPECT_TRUE(command.recursive && command.keepPrefix && command.verbose);
  command.switches.clear();
  tool.ApplySwitches(command);
  EXPECT_FALSE(command.recursive || command.keepPrefix || command.verbose);
}

// a.txt b.bmp c.dat temp1.txt x.y.txt sub/d.txt sub/temp2.txt old/e.txt
// old/deep/f.txt, and an empty folder.
void MakeTree(const TempFolder& folder) {
  for (const char* name : {"a.txt", "b.bmp", "c.dat", "temp1.txt", "x.y.txt", "sub/d.txt", "sub/temp2.txt",
                           "old/e.txt", "old/deep/f.txt"})
    ASSERT_TRUE(WriteBytes(folder / name, name));
  platform::MakeFolder((folder / "empty").c_str());
}

TEST(ToolCollectFiles, FindsMatchesAndTheirDestinations) {
  struct Case {
    const char* line;
    std::vector<std::string> files;  // source|destination|name, sorted
  };
  const Case cases[] = {
      {"l arc", {".\\|.\\|a.txt", ".\\|.\\|b.bmp", ".\\|.\\|c.dat", ".\\|.\\|temp1.txt", ".\\|.\\|x.y.txt"}},
      {"l arc *.txt;*.bmp", {".\\|.\\|a.txt", ".\\|.\\|b.bmp", ".\\|.\\|temp1.txt", ".\\|.\\|x.y.txt"}},
      {"l arc *.*.*", {".\\|.\\|x.y.txt"}},
      {"l arc sub/*", {"sub|sub|d.txt", "sub|sub|temp2.txt"}},
      {"-r l arc *.txt",
       {".\\|.\\|a.txt", ".\\|.\\|temp1.txt", ".\\|.\\|x.y.txt", "old/deep|.\\|f.txt", "old|.\\|e.txt",
        "sub|.\\|d.txt", "sub|.\\|temp2.txt"}},
      {"-r -xtemp* l arc *.txt",
       {".\\|.\\|a.txt", ".\\|.\\|x.y.txt", "old/deep|.\\|f.txt", "old|.\\|e.txt", "sub|.\\|d.txt"}},
      // A pattern with a separator is matched against the folder searched.
      {"-r -xold/* l arc *.txt",
       {".\\|.\\|a.txt", ".\\|.\\|temp1.txt", ".\\|.\\|x.y.txt", "old|.\\|e.txt", "sub|.\\|d.txt",
        "sub|.\\|temp2.txt"}},
      // Without a separator it is a name pattern: no folder is left out.
      {"-r -xsub l arc *.txt",
       {".\\|.\\|a.txt", ".\\|.\\|temp1.txt", ".\\|.\\|x.y.txt", "old/deep|.\\|f.txt", "old|.\\|e.txt",
        "sub|.\\|d.txt", "sub|.\\|temp2.txt"}},
      {"-r -x*/deep l arc *.txt",
       {".\\|.\\|a.txt", ".\\|.\\|temp1.txt", ".\\|.\\|x.y.txt", "old|.\\|e.txt", "sub|.\\|d.txt",
        "sub|.\\|temp2.txt"}},
      {"-r -k l arc *.txt",
       {".\\|.\\|a.txt", ".\\|.\\|temp1.txt", ".\\|.\\|x.y.txt", "old/deep|old/deep|f.txt", "old|old|e.txt",
        "sub|sub|d.txt", "sub|sub|temp2.txt"}},
      {"-r -pout l arc *.txt",
       {".\\|out|a.txt", ".\\|out|temp1.txt", ".\\|out|x.y.txt", "old/deep|out|f.txt", "old|out|e.txt",
        "sub|out|d.txt", "sub|out|temp2.txt"}},
      {"-r -k -pout l arc *.txt",
       {".\\|out|a.txt", ".\\|out|temp1.txt", ".\\|out|x.y.txt", "old/deep|out/old/deep|f.txt", "old|out/old|e.txt",
        "sub|out/sub|d.txt", "sub|out/sub|temp2.txt"}},
      // With k and p the folders below the base follow the prefix.
      {"-r -k -pout l arc old/*.txt", {"old/deep|old/out/deep|f.txt", "old|old/out|e.txt"}},
      {"-r -pout l arc old/*.txt", {"old/deep|old/out|f.txt", "old|old/out|e.txt"}},
      {"l arc missing/*", {}},
      {"l arc empty/*", {}},
  };
  TempFolder folder;
  MakeTree(folder);
  WorkingFolder here(folder.Path());
  for (const Case& c : cases) {
    RecordingTool tool;
    tool.Setup(Vak::Tool::kExpectCommandWord | Vak::Tool::kExpectTarget);
    Vak::ToolCommand& command = tool.Command();
    tool.ParseCommand(command, c.line);
    tool.ApplySwitches(command);
    tool.ExecuteFileList(command);
    std::vector<std::string> files;
    for (uint32_t i = 0; i < command.files.Count(); ++i) {
      const Vak::ToolFileEntry& entry = command.files[i];
      files.push_back(std::string(entry.sourceFolder) + "|" + std::string(entry.destinationFolder) + "|" +
                      entry.match.name);
      EXPECT_EQ(entry.match.size, entry.match.size2) << entry.match.name;
      EXPECT_EQ(0u, entry.match.reserved) << entry.match.name;
    }
    std::sort(files.begin(), files.end());
    EXPECT_EQ(c.files, files) << c.line;
  }
}

TEST(ToolIsExcluded, MatchesAnyPatternWithoutRegardToCase) {
  Vak::ToolStringArray patterns;
  EXPECT_FALSE(Vak::Tool::IsExcluded(patterns, "a.txt"));
  patterns.Append("temp*");
  patterns.Append("*.bak");
  EXPECT_TRUE(Vak::Tool::IsExcluded(patterns, "TEMP.txt"));
  EXPECT_TRUE(Vak::Tool::IsExcluded(patterns, "x.BAK"));
  EXPECT_FALSE(Vak::Tool::IsExcluded(patterns, "a.txt"));
}

TEST(ToolProcessCommandLine, PrintsTheFrameworkTexts) {
  struct Case {
    const char* line;
    bool fileResult;
    bool result;
    const char* printed;
  };
  const Case cases[] = {
      {"l arc *.txt;*.bmp", true, true, "\nProcessed 2 files.\n"},
      {"l arc *.none", true, false, "- Warning, no input files found: command 'l arc *.none'\nusage\n"},
      {"l arc a.txt", false, false,
       "\nProcessed 1 files.\nTool::ProcessCommandLine(): Command execution failed:\n\"l arc a.txt\"\n\n"},
      {"l", true, false, "usage\n"},
  };
  TempFolder folder;
  ASSERT_TRUE(WriteBytes(folder / "a.txt", "a"));
  ASSERT_TRUE(WriteBytes(folder / "b.bmp", "b"));
  WorkingFolder here(folder.Path());
  for (const Case& c : cases) {
    RecordingTool tool;
    tool.result = c.fileResult;
    tool.Setup(Vak::Tool::kExpectCommandWord | Vak::Tool::kExpectTarget);
    bool result = !c.result;
    EXPECT_EQ(c.printed, Printed([&] { result = tool.ProcessCommandLine(tool.Command(), c.line); })) << c.line;
    EXPECT_EQ(c.result, result) << c.line;
  }
}

TEST(ToolProcessCommandLine, PrintsTheUsageAtMostOncePerTool) {
  TempFolder folder;
  WorkingFolder here(folder.Path());
  RecordingTool tool;
  const std::string printed = Printed([&] {
    for (const char* line : {static_cast<const char*>(nullptr), "", "l", "l arc nothing*"}) {
      tool.Setup(Vak::Tool::kExpectCommandWord | Vak::Tool::kExpectTarget);
      EXPECT_FALSE(tool.ProcessCommandLine(tool.Command(), line));
    }
  });
  EXPECT_EQ("usage\n- Warning, no input files found: command 'l arc nothing*'\n", printed);
  RecordingTool other;
  EXPECT_EQ("usage\n", Printed([&] { other.ProcessCommandLine(other.Command(), nullptr); }));
}

TEST(ToolReadArgumentFile, RunsEachLineFromTheCommandAsItWas) {
  TempFolder folder;
  ASSERT_TRUE(WriteBytes(folder / "a.txt", "a"));
  ASSERT_TRUE(WriteBytes(folder / "b.bmp", "b"));
  ASSERT_TRUE(WriteBytes(folder / "list.txt", "-k l arc a.txt\r\nl arc b.bmp\n"));
  WorkingFolder here(folder.Path());
  RecordingTool tool;
  tool.Setup(Vak::Tool::kExpectCommandWord | Vak::Tool::kExpectTarget);
  bool result = false;
  const std::string printed = Printed([&] { result = tool.ProcessCommandLine(tool.Command(), "-r @list.txt l x a.txt"); });
  EXPECT_TRUE(result);
  EXPECT_EQ((std::vector<std::string>{".\\|.\\|a.txt", ".\\|.\\|b.bmp", ".\\|.\\|a.txt"}), tool.seen);
  EXPECT_EQ("\nProcessed 1 files.\n\nProcessed 1 files.\n\nProcessed 1 files.\n", printed);
  // The lines' own switches went with them.
  EXPECT_FALSE(tool.Command().HasSwitch('k'));
  EXPECT_TRUE(tool.Command().HasSwitch('r'));
}

TEST(ToolReadArgumentFile, WarnsAboutAFileThatDoesNotOpenAndGoesOn) {
  TempFolder folder;
  WorkingFolder here(folder.Path());
  RecordingTool tool;
  bool result = false;
  EXPECT_EQ("- Warning, can't open argument file [nofile.txt]\n",
            Printed([&] { result = tool.ReadArgumentFile(tool.Command(), "nofile.txt"); }));
  EXPECT_TRUE(result);
}

// An argument file that names itself, directly, through another file, or
// under another spelling, is not read again while it is being read.
TEST(ToolReadArgumentFile, AFileBeingReadCountsAsOneThatDoesNotOpen) {
  struct Case {
    std::vector<std::pair<const char*, const char*>> files;
    const char* start;
    std::vector<std::string> seen;
    const char* warning;
  };
  const Case cases[] = {
      {{{"self.txt", "@self.txt l arc a.txt\n"}}, "self.txt", {".\\|.\\|a.txt"},
       "- Warning, can't open argument file [self.txt]\n"},
      {{{"self.txt", "l arc a.txt\n@./SELF.TXT l arc b.bmp\n"}}, "self.txt", {".\\|.\\|a.txt", ".\\|.\\|b.bmp"},
       "- Warning, can't open argument file [./SELF.TXT]\n"},
      {{{"one.txt", "@two.txt l arc a.txt\n"}, {"two.txt", "@one.txt l arc b.bmp\n"}}, "one.txt",
       {".\\|.\\|b.bmp", ".\\|.\\|a.txt"}, "- Warning, can't open argument file [one.txt]\n"},
  };
  for (const Case& c : cases) {
    TempFolder folder;
    ASSERT_TRUE(WriteBytes(folder / "a.txt", "a"));
    ASSERT_TRUE(WriteBytes(folder / "b.bmp", "b"));
    for (const auto& [name, text] : c.files) ASSERT_TRUE(WriteBytes(folder / name, text));
    WorkingFolder here(folder.Path());
    RecordingTool tool;
    tool.Setup(Vak::Tool::kExpectCommandWord | Vak::Tool::kExpectTarget);
    bool result = false;
    const std::string printed = Printed([&] { result = tool.ReadArgumentFile(tool.Command(), c.start); });
    EXPECT_TRUE(result) << c.start;
    EXPECT_EQ(c.seen, tool.seen) << c.start;
    EXPECT_NE(std::string::npos, printed.find(c.warning)) << printed;
    // Once the file is done it may be read again.
    tool.seen.clear();
    Printed([&] { tool.ReadArgumentFile(tool.Command(), c.start); });
    EXPECT_EQ(c.seen, tool.seen) << c.start;
  }
}

TEST(ToolHexDump, WritesSixteenItemsALine) {
  TempFolder folder;
  const std::string path = folder / "dump.txt";
  uint8_t bytes[17];
  for (int i = 0; i < 17; ++i) bytes[i] = static_cast<uint8_t>(i * 15);
  {
    Vak::File file;
    ASSERT_TRUE(file.Open(path.c_str(), Vak::File::kWrite | Vak::File::kCreate).Ok());
    EXPECT_EQ(17u, Vak::Tool::HexDump(file, bytes, 17));
    file.Close();
  }
  EXPECT_EQ("\r\n  0x00, 0x0F, 0x1E, 0x2D, 0x3C, 0x4B, 0x5A, 0x69, 0x78, 0x87, 0x96, 0xA5, 0xB4, 0xC3, 0xD2, 0xE1, "
            "\r\n  0xF0, ",
            tooltest::ReadBytes(path));
}

TEST(ToolInit, AppliesTheToolsOptionTextAndTheExtraText) {
  TempFolder folder;
  WorkingFolder here(folder.Path());
  RecordingTool tool;
  tool.Init("l arc", 2, "-NoLog -Extra=1");
  ASSERT_NE(nullptr, tool.GetOS());
  const Vak::Options& options = *tool.GetOS()->GetOptions();
  EXPECT_STREQ("OpenGL,DirectX", options.GetString("render"));
  EXPECT_TRUE(options.Get("hidewindow"));
  EXPECT_TRUE(options.Get("windowed"));
  EXPECT_NE(nullptr, options.Find("logflush"));
  EXPECT_FALSE(options.Get("logflush"));
  EXPECT_STREQ("1", options.GetString("extra"));
  EXPECT_TRUE(Vak::Log::IsInitialised());
  Vak::Log::SetStream(nullptr);
  tool.Shutdown();
  EXPECT_EQ(nullptr, tool.GetOS());
}

} // namespace
