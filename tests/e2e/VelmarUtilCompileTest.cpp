// compile and encrypt on fresh installations.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "gscompiler/Driver.h"
#include "tests/e2e/E2ESupport.h"

namespace {

using e2e::Installation;
using e2e::Result;

const std::string kOk = "OK (0 Errors, 0 Warnings)\n";
const std::string kInvalidPath = "- <NULL> : Invalid file path.\nOK (1 Errors, 0 Warnings)\n";

const char* const kCar =
    "class Car\n"
    "{\n"
    "  public int speed;\n"
    "  public void Faster(int by) { speed = speed + by; }\n"
    "};\n";
const char* const kTrain =
    "include \"car.gs\"\n"
    "\n"
    "class Train\n"
    "{\n"
    "  Car[] cars;\n"
    "  public void Couple(int n)\n"
    "  {\n"
    "    int i;\n"
    "    cars = new Car[n];\n"
    "    for (i = 0; i < n; i++) cars[i] = new Car();\n"
    "  }\n"
    "  public string Describe(void) { return \"cars: \" + cars.size(); }\n"
    "};\n";

// What the compiler's own library call writes for the same source path.
std::string LibraryOfTheCall(const std::string& source) {
  std::string library = source.substr(0, source.rfind('.')) + ".gsl";
  std::filesystem::remove(library);
  GSCompiler::MessageSink sink;
  EXPECT_EQ(GSCompiler::CompileLibrary(source.c_str(), nullptr, {}, sink), 0);
  std::string bytes = e2e::ReadText(library);
  std::filesystem::remove(library);
  return bytes;
}

TEST(VelmarUtilCompileTest, CompilesAndPacksScriptsLikeTheLibraryCall) {
  Installation install;
  const std::string scripts = install.Scratch("scripts");
  e2e::WriteText(scripts + "/car.gs", kCar);
  e2e::WriteText(scripts + "/train.gs", kTrain);
  const std::string expected = LibraryOfTheCall(scripts + "/train.gs");
  ASSERT_FALSE(expected.empty());

  Result result = install.Run({"compile", scripts + "/train.gs"});
  EXPECT_EQ(result.out, kOk);
  EXPECT_EQ(result.code, 0);
  EXPECT_EQ(e2e::ReadText(scripts + "/train.gsl"), expected);

  // Packed sources, each found in place of the plain one, give the same library.
  for (const char* name : {"car", "train"}) {
    result = install.Run({"encrypt", scripts + "/" + name + ".gs"});
    EXPECT_EQ(result.out, kOk) << name;
    EXPECT_EQ(result.code, 0) << name;
    std::filesystem::remove(scripts + "/" + name + ".gs");
  }
  std::filesystem::remove(scripts + "/train.gsl");
  result = install.Run({"compile", scripts + "/train.gs"});
  EXPECT_EQ(result.out, kOk);
  EXPECT_EQ(result.code, 0);
  EXPECT_EQ(e2e::ReadText(scripts + "/train.gsl"), expected);
}

TEST(VelmarUtilCompileTest, ErrorsAndRefusalsPrintTheirMessagesAndFail) {
  Installation install;
  const std::string scripts = install.Scratch("scripts");
  e2e::WriteText(scripts + "/bad.gs", "class Bad\n{\n  int x\n};\n");
  e2e::WriteText(scripts + "/empty.gs", "");
  e2e::WriteText(scripts + "/notes.txt", "class A {};");
  struct Case {
    std::vector<std::string> arguments;
    std::string out;
    int code;
  };
  const Case cases[] = {
      {{"compile", scripts + "/bad.gs"}, "bad.gs(4) : parse error, line 4\n\nBuild Failed...\n" + kOk, 255},
      {{"compile", scripts + "/missing.gs"}, "Could not read file  missing.gs.\n\nBuild Failed...\n" + kOk, 255},
      {{"compile", "-s", scripts + "/bad.gs"}, kOk, 255},
      {{"compile"}, kInvalidPath, 255},
      {{"encrypt", scripts + "/notes.txt"}, kInvalidPath, 255},
      {{"encrypt", scripts + "/missing.gs"}, kInvalidPath, 255},
      {{"encrypt", scripts + "/empty.gs"}, kInvalidPath, 255},
  };
  for (const Case& c : cases) {
    const Result result = install.Run(c.arguments);
    EXPECT_EQ(result.out, c.out) << c.arguments.back();
    EXPECT_EQ(result.err, "") << c.arguments.back();
    EXPECT_EQ(result.code, c.code) << c.arguments.back();
  }
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(scripts)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"bad.gs", "empty.gs", "notes.txt"}));
}

TEST(VelmarUtilCompileTest, SilentBuildLogIsAppendedAndTheDocumentPrints) {
  Installation install;
  const std::string scripts = install.Scratch("scripts");
  e2e::WriteText(scripts + "/bad.gs", "class {");
  const std::string log = install.Scratch("build.log");
  e2e::WriteText(log, "earlier\n");
  const std::string messages = "bad.gs(1) : parse error, line 1\n\nBuild Failed...\n";
  for (int run = 1; run <= 2; ++run) {
    const Result result = install.Run({"compile", "-s", "-b" + log, scripts + "/bad.gs"});
    EXPECT_EQ(result.out, kOk);
    EXPECT_EQ(result.code, 255);
  }
  EXPECT_EQ(e2e::ReadText(log), "earlier\n" + messages + messages);

  const Result result = install.Run({"compile", scripts + "/bad.gs", "-d"});
  EXPECT_EQ(result.out, std::string(GSCompiler::LanguageDocument()) + "\n" + kOk);
  EXPECT_EQ(result.code, 0);
}

} // namespace
