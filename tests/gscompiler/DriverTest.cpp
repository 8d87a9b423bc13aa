#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Vak/Bexlorn/File.h"
#include "gscompiler/Driver.h"
#include "gscompiler/GSSymbol.h"
#include "gscompiler/ScriptFile.h"
#include "tests/gscompiler/GslWalker.h"
#include "tests/platform/os/TempFolder.h"

namespace {

using namespace GSCompiler;
using platform::test::TempFolder;

struct Printed {
  int result;
  std::string printed;
};

Printed RunLine(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "/opt/velmar/bin/VelmarUtil");
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  testing::internal::CaptureStdout();
  const int result = RunCommandLine(static_cast<int>(argv.size()), argv.data());
  return {result, testing::internal::GetCapturedStdout()};
}

const char* const kUsage =
    "MOXEL VozoVavuri Compiler V1.02\n"
    "\n"
    "VelmarUtil returns number of compile errors\n"
    "VelmarUtil <option> <option>..\n"
    "where <option> is one of the following\n"
    "\n"
    "<-d> print documentation, u might wanna pipe it to a text document =)\n"
    "<-s> silent\n"
    "<-bfilename> dump the build info (compile log) to file\n"
    "<-ppathname> output path\n"
    "<-ofilename> output library filename\n"
    "<filename> input source file\n"
    "<-ipathname> additional include path\n";

// Packs `text` as "<path>.gse" through a plain file that is removed again.
void WriteScrambled(const TempFolder& dir, const std::string& path, const std::string& text) {
  dir.WriteFile(path + ".tmp.gs", text);
  ScriptFile script;
  ASSERT_TRUE(script.Load(nullptr, (dir / (path + ".tmp.gs")).c_str()));
  ASSERT_TRUE(script.Save(nullptr, (dir / (path + ".gse")).c_str()));
  std::filesystem::remove(dir / (path + ".tmp.gs"));
}

TEST(DriverTest, CommandLineWithoutASourcePrintsTheUsageOrTheDocument) {
  TempFolder dir;
  dir.WriteFile("a.gs", "class {");
  const std::string document = std::string(LanguageDocument()) + "\n";
  struct Case {
    std::vector<std::string> arguments;
    int result;
    std::string printed;
  };
  const Case cases[] = {
      {{}, 1, kUsage},
      {{"-s", "-c", "-t", "-l", "-o", "-", "-x", "-ifolder"}, 1, kUsage},
      {{""}, 1, kUsage},
      {{dir / "a.gs", ""}, 1, kUsage},  // the last source wins, and it is empty
      {{"-d"}, 0, document},
      {{dir / "a.gs", "-d", "-s"}, 0, document},  // the source is not compiled
      {{"-s", "-d", dir / "a.gs"}, 0, document},
  };
  for (const Case& c : cases) {
    std::string line;
    for (const std::string& argument : c.arguments) line += "[" + argument + "]";
    const Printed run = RunLine(c.arguments);
    EXPECT_EQ(run.result, c.result) << line;
    EXPECT_EQ(run.printed, c.printed) << line;
  }
  EXPECT_GT(std::string(LanguageDocument()).size(), 45000u);
}

// The text is kept in data/ and built into the program: every byte of the
// file, line ends and the last newline too, and nothing after it.
TEST(DriverTest, TheDocumentIsItsDataFileByteForByte) {
  std::ifstream in(GSC_DOCUMENT, std::ios::binary);
  ASSERT_TRUE(in) << GSC_DOCUMENT;
  const std::string file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  EXPECT_EQ(std::string(LanguageDocument()), file);
}

TEST(DriverTest, MessagesArePrintedAtTheEndAndAppendedToTheBuildLog) {
  TempFolder dir;
  dir.WriteFile("build.log", "earlier\n");
  const std::string log = "-b" + dir / "build.log";
  const std::string missing = dir / "y.gs";
  const std::string messages = "Could not read file  y.gs.\n\nBuild Failed...\n";

  Printed run = RunLine({"-s", log, missing});
  EXPECT_EQ(run.result, 1);
  EXPECT_EQ(run.printed, "");
  EXPECT_EQ(dir.ReadFile("build.log"), "earlier\n" + messages);

  run = RunLine({log, missing});
  EXPECT_EQ(run.result, 1);
  EXPECT_EQ(run.printed, messages);
  EXPECT_EQ(dir.ReadFile("build.log"), "earlier\n" + messages + messages);

  // The last source wins; a parse error is the script's.
  dir.WriteFile("bad.gs", "class A {};\nclass {");
  run = RunLine({"-o", missing, dir / "bad.gs"});
  EXPECT_EQ(run.result, 1);
  EXPECT_EQ(run.printed, "bad.gs(2) : parse error, line 2\n\nBuild Failed...\n");
}

TEST(DriverTest, IncludeFoldersThatDoNotFitAreNotAdded) {
  TempFolder dir;
  RunLine({"-i" + std::string(300, 'f'), "-i" + dir / "inc", dir / "missing.gs"});
  ASSERT_EQ(Includes().size(), 2u);
  EXPECT_EQ(std::string(Includes()[0].path), dir.Path().string() + "/");
  EXPECT_EQ(std::string(Includes()[1].path), dir / "inc");
}

TEST(DriverTest, CrcIsTheReflectedVariant) {
  EXPECT_EQ(ReflectedCrc32("123456789", 9), 0xCBF43926u);
  EXPECT_EQ(ReflectedCrc32("", 0), 0u);
}

TEST(DriverTest, SearchTriesBothFormsInEachFolderBeforeTheNext) {
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, std::string>> plain;  // file, text
    std::vector<std::pair<std::string, std::string>> scrambled;
    std::vector<std::string> folders;  // relative to the test folder; "" is the test folder as the current one
    const char* script;
    std::string expected;  // the text read; empty: nothing found
  };
  const Case cases[] = {
      {"scrambled in the first beats plain in the second", {{"two/x.gs", "class Plain2 {};"}},
       {{"one/x", "class Scrambled1 {};"}}, {"one", "two"}, "x.gs", "class Scrambled1 {};"},
      {"plain before scrambled in one folder", {{"one/x.gs", "class Plain1 {};"}},
       {{"one/x", "class Scrambled1 {};"}}, {"one", "two"}, "x.gs", "class Plain1 {};"},
      {"the second folder's scrambled form", {}, {{"two/x", "class Scrambled2 {};"}}, {"one", "two"}, "X.GS",
       "class Scrambled2 {};"},
      {"a path below a folder", {{"one/sub/x.gs", "class Sub {};"}}, {}, {"one"}, "sub/x.gs", "class Sub {};"},
      {"an empty folder is the current one", {{"x.gs", "class Here {};"}}, {}, {""}, "x.gs", "class Here {};"},
      {"nowhere", {{"three/x.gs", "class Elsewhere {};"}}, {}, {"one", "two"}, "x.gs", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder dir;
    for (const auto& [file, text] : c.plain) dir.WriteFile(file, text);
    for (const auto& [file, text] : c.scrambled) WriteScrambled(dir, file, text);
    std::filesystem::create_directories(dir / "one");
    Vak::File::Path saved;
    Vak::File::GetCwd(saved);
    Vak::File::ChDir(dir.Path().c_str());
    Includes().clear();
    for (const std::string& folder : c.folders) AddIncludeFolder(Includes(), folder.empty() ? "" : (dir / folder).c_str());

    MessageSink sink;
    CompileUnit unit;
    unit.sink = &sink;
    std::string name = c.script;
    for (char& ch : name) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    const int result = LoadSource(name.c_str(), unit);
    Vak::File::ChDir(saved);
    if (c.expected.empty()) {
      EXPECT_EQ(result, 1);
      EXPECT_EQ(unit.errors, 1);
      ASSERT_EQ(sink.Count(), 1u);
      EXPECT_STREQ(sink.At(0), "Could not read file  x.gs.");
      continue;
    }
    EXPECT_EQ(result, 0);
    EXPECT_EQ(unit.errors, 0);
    EXPECT_EQ(sink.Count(), 0u);
    EXPECT_EQ(unit.textCrc, ReflectedCrc32(c.expected.data(), c.expected.size()));
    EXPECT_EQ(unit.nameCrc, ReflectedCrc32("x.gs", 4));
    ASSERT_NE(unit.tree, nullptr);
  }
  Includes().clear();
}

TEST(DriverTest, LibraryFileName) {
  struct Case {
    const char* source;
    const char* output;  // -p value, or none
    const char* expected;  // null: does not fit
  };
  const std::string longFolder(NameBuffer::kChars, 'd');
  const std::string longSource = longFolder + "/a.gs";
  const std::string longOutput = longFolder + "/";
  const Case cases[] = {
      {"a.gs", nullptr, "a.gsl"},
      {"/a.gs", nullptr, "/a.gsl"},
      {"dir/sub/a.gs", nullptr, "dir/sub/a.gsl"},
      {"dir\\A.GSE", nullptr, "dir\\A.gsl"},
      {"dir/a.b.gs", nullptr, "dir/a.b.gsl"},
      {"dir/noext", nullptr, "dir/noext.gsl"},
      {"src/a.gs", "out/", "out/a.gsl"},
      {"src/a.gs", "/p/q", "/p/a.gsl"},  // the -p value loses its last component
      {"src/a.gs", "out", "a.gsl"},
      {"src/a.gs", "", "a.gsl"},
      {longSource.c_str(), nullptr, nullptr},
      {"a.gs", longOutput.c_str(), nullptr},
  };
  for (const Case& c : cases) {
    NameBuffer name;
    const bool fits = LibraryFileName(c.source, c.output, name);
    EXPECT_EQ(fits, c.expected != nullptr) << c.source;
    if (fits && c.expected != nullptr) {
      EXPECT_STREQ(name.Text(), c.expected) << c.source;
    }
  }
}

TEST(DriverTest, NameBufferEditsStayBounded) {
  NameBuffer name;
  EXPECT_TRUE(name.Set("c:\\x/y.gs"));
  name.BareFileName();
  EXPECT_STREQ(name.Text(), "y.gs");
  EXPECT_TRUE(name.Set(""));
  EXPECT_TRUE(name.AppendPathPart("a"));
  EXPECT_STREQ(name.Text(), "a");  // no separator in front of a name in an empty folder
  EXPECT_TRUE(name.AppendPathPart("b"));
  EXPECT_STREQ(name.Text(), "a/b");
  EXPECT_FALSE(name.Append(std::string(NameBuffer::kChars - 3, 'x').c_str()));
  EXPECT_TRUE(name.Append(std::string(NameBuffer::kChars - 4, 'x').c_str()));
  EXPECT_FALSE(name.AppendPathPart(""));  // no room for the separator
  EXPECT_EQ(name.Length(), NameBuffer::kChars - 1);
}

TEST(DriverTest, AScriptWhoseDependentIsRegisteredIsAnInternalError) {
  TempFolder dir;
  dir.WriteFile("a.gs", "class A {};");
  Includes().clear();
  AddIncludeFolder(Includes(), (dir.Path().string() + "/").c_str());
  CompileContext context;
  ASSERT_NE(context.symbols.EnterDependent("a.gs", 1, 2, 0), nullptr);
  MessageSink sink;
  CompileUnit unit;
  unit.symbols = &context.symbols;
  unit.sink = &sink;
  EXPECT_GE(CompileSource("A.gs", context, unit, true), 1);
  EXPECT_STREQ(unit.name, "a.gs");
  ASSERT_GE(sink.Count(), 1u);
  EXPECT_STREQ(sink.At(0), "Internal Compiler Error.");
  Includes().clear();
}

GslWalker::Library WalkFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  return GslWalker::Walk(bytes);
}

std::pair<uint32_t, uint32_t> Identifier(const std::string& text, const std::string& bareName) {
  return {ReflectedCrc32(text.data(), text.size()), ReflectedCrc32(bareName.data(), bareName.size())};
}

TEST(DriverTest, CompilesTheLastSourceIntoTheFolderOfItsPath) {
  TempFolder dir;
  dir.WriteFile("src/a.gs", "class A {};");
  dir.WriteFile("src/b.gs", "class B {};");
  std::filesystem::create_directories(dir / "out");
  struct Case {
    std::vector<std::string> arguments;
    std::string written;  // relative to the test folder
  };
  const Case cases[] = {
      {{dir / "src/a.gs", dir / "src/b.gs"}, "src/b.gsl"},
      {{"-o" + dir / "other.gsl", dir / "src/a.gs"}, "src/a.gsl"},
      {{"-p" + dir / "out/", dir / "src/a.gs"}, "out/a.gsl"},
      {{"-p" + dir / "out", dir / "src/a.gs"}, "a.gsl"},  // "out" is taken as a file name
      {{"-p" + dir / "out/x.gsl", dir / "src/b.gs"}, "out/b.gsl"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.written);
    const Printed run = RunLine(c.arguments);
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.printed, "");
    std::vector<std::string> libraries;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.Path()))
      if (entry.path().extension() == ".gsl") libraries.push_back(entry.path().lexically_relative(dir.Path()).string());
    EXPECT_EQ(libraries, std::vector<std::string>{c.written});
    for (const std::string& library : libraries) std::filesystem::remove(dir / library);
  }
}

TEST(DriverTest, IncludesCompileOnceInDepthFirstSlotsAndScrambledSourcesGiveTheSameLibrary) {
  TempFolder dir;
  const std::string a = "include \"b.gs\"\ninclude \"inc/c.gs\"\nclass A isclass B, C {};\n";
  const std::string b = "include \"d.gs\"\nclass B isclass D {};\n";
  const std::string c = "include \"D.GS\"\ninclude \"b.gs\"\nclass C isclass D {};\n";
  const std::string d = "class D { int x; };\n";
  dir.WriteFile("src/a.gs", a);
  dir.WriteFile("src/b.gs", b);
  dir.WriteFile("src/inc/c.gs", c);
  dir.WriteFile("lib/d.gs", d);
  const std::string include = "-i" + dir / "lib";

  Printed run = RunLine({include, dir / "src/a.gs"});
  ASSERT_EQ(run.result, 0) << run.printed;
  const std::string plain = dir.ReadFile("src/a.gsl");
  const GslWalker::Library library = WalkFile(dir / "src/a.gsl");
  // d.gs is reached through b.gs first, and b.gs and d.gs are not compiled again for c.gs.
  const std::vector<std::pair<uint32_t, uint32_t>> slots = {
      Identifier(a, "a.gs"), Identifier(b, "b.gs"), Identifier(d, "d.gs"), Identifier(c, "c.gs")};
  EXPECT_EQ(library.dependencies, slots);
  EXPECT_EQ(std::make_pair(library.textCrc, library.nameCrc), slots[0]);
  EXPECT_EQ(library.path, dir / "src/a.gs");

  // The same scripts scrambled give the same library, byte for byte.
  for (const auto& [name, text] : {std::pair{"src/a", a}, {"src/b", b}, {"src/inc/c", c}}) {
    WriteScrambled(dir, name, text);
    std::filesystem::remove(dir / (std::string(name) + ".gs"));
  }
  std::filesystem::remove(dir / "src/a.gsl");
  run = RunLine({include, dir / "src/a.gs"});
  ASSERT_EQ(run.result, 0) << run.printed;
  EXPECT_EQ(dir.ReadFile("src/a.gsl"), plain);

  // A .gse source names the library after it; its plain form wins when there.
  run = RunLine({include, dir / "src/a.gse"});
  ASSERT_EQ(run.result, 0) << run.printed;
  EXPECT_EQ(WalkFile(dir / "src/a.gsl").path, dir / "src/a.gse");
  EXPECT_EQ(WalkFile(dir / "src/a.gsl").dependencies, slots);
  const std::string changed = a + "// plain\n";
  dir.WriteFile("src/a.gs", changed);
  run = RunLine({include, dir / "src/a.gse"});
  ASSERT_EQ(run.result, 0) << run.printed;
  EXPECT_EQ(WalkFile(dir / "src/a.gsl").textCrc, Identifier(changed, "a.gs").first);
}

TEST(DriverTest, FailedBuildsAndWritesReportAndLeaveNoLibrary) {
  TempFolder dir;
  dir.WriteFile("wrong.gs", "class B { int f(void) { return 1; } };\nclass A isclass B { void f(void) { } };\n");
  dir.WriteFile("inc.gs", "include \"gone.gs\"\nclass A {};\n");
  dir.WriteFile("ok.gs", "class A {};");
  dir.WriteFile("taken.gs", "class A {};");
  dir.WriteFile("taken.gsl/keep", "kept");
  const std::string tooLong = "-p" + std::string(NameBuffer::kChars, 'p') + "/";
  struct Case {
    std::vector<std::string> arguments;
    int result;
    std::string printed;
  };
  const Case cases[] = {
      {{dir / "wrong.gs"}, 1, "Wrong return type on function: ::f()\n\nInternal Compiler Error.\n\n"},
      {{dir / "inc.gs"}, 1, "Could not read file  gone.gs.\n\nBuild Failed...\n"},
      {{tooLong, dir / "ok.gs"}, 1, "Unable to open output file.\n\n"},
      {{dir / "taken.gs"}, 1, "Unable to open output file.\n\n"},
      {{"-p" + dir / "no/such/", dir / "ok.gs"}, 1, "Unable to open output file.\n\n"},
  };
  for (const Case& c : cases) {
    const Printed run = RunLine(c.arguments);
    EXPECT_EQ(run.result, c.result) << c.arguments.back();
    EXPECT_EQ(run.printed, c.printed) << c.arguments.back();
  }
  EXPECT_EQ(dir.ReadFile("taken.gsl/keep"), "kept");
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"inc.gs", "ok.gs", "taken.gs", "taken.gsl", "wrong.gs"}));

  // A library replaces an earlier, longer file whole.
  dir.WriteFile("ok.gsl", std::string(10000, 'x'));
  ASSERT_EQ(RunLine({dir / "ok.gs"}).result, 0);
  const GslWalker::Library library = WalkFile(dir / "ok.gsl");
  EXPECT_EQ(library.fileLength, dir.ReadFile("ok.gsl").size());
}

} // namespace
