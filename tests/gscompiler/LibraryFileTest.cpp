// A whole library (two classes, an include, string constants, a switch and a
// wait) byte for byte against the committed fixture.
//   GSC_WRITE_FIXTURES=1 gscompiler_tests --gtest_filter=LibraryFileTest.*
// rewrites the fixture after a deliberate change of the format.
#include <gtest/gtest.h>
#include <zlib.h>

#include <bit>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "gscompiler/LibraryWriter.h"
#include "tests/gscompiler/CompileText.h"
#include "tests/gscompiler/GslWalker.h"

namespace GSCompiler {
namespace {

uint32_t Crc(const std::string& text) {
  return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(text.data()), static_cast<uInt>(text.size())));
}

SourceText Source(const char* name, std::string text) {
  SourceText source{name, std::move(text)};
  source.textCrc = Crc(source.text);
  source.nameCrc = Crc(name);
  return source;
}

const char* const kRoot =
    "include \"base.gs\"\n"
    "class Alpha isclass Base {\n"
    "  string label = \"alpha\";\n"
    "  int Count(int a) {\n"
    "    switch (a) {\n"
    "      case 3: return 30;\n"
    "      case 1: return 10;\n"
    "      default: return 0;\n"
    "    }\n"
    "  }\n"
    "};\n"
    "class Beta {\n"
    "  Alpha other;\n"
    "  void Run() {\n"
    "    wait() {\n"
    "      on \"Train\", \"Stop\": other = null;\n"
    "      on \"Train\", \"Go\": break;\n"
    "    }\n"
    "  }\n"
    "};\n";

const char* const kBase =
    "class Base {\n"
    "  public int Count(int a) { return a; }\n"
    "};\n";

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(LibraryFileTest, TwoClassesWithAnInclude) {
  const std::vector<SourceText> sources = {Source("alpha.gs", kRoot), Source("base.gs", kBase)};
  TextCompiler compiler;
  CompileContext context;
  MessageSink sink;
  ASSERT_EQ(compiler.Compile(context, sources, &sink), CompileStage::Done);
  CodeBuffer out(CodeBuffer::kLibraryStep);
  ASSERT_TRUE(WriteLibrary(out, context, &sink, "scripts/alpha.gs"));
  const std::vector<uint8_t> bytes(out.Data(), out.Data() + out.Length());

  const std::string fixture = std::string(GSC_TEST_DATA) + "/two-classes.gsl";
  if (std::getenv("GSC_WRITE_FIXTURES") != nullptr) {
    std::ofstream(fixture, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  }
  const std::vector<uint8_t> expected = ReadFile(fixture);
  ASSERT_FALSE(expected.empty()) << fixture;
  EXPECT_EQ(bytes, expected);

  const GslWalker::Library lib = GslWalker::Walk(expected);
  const std::vector<uint8_t> head(expected.begin() + 4, expected.begin() + 12);
  EXPECT_EQ(head, (std::vector<uint8_t>{0x5D, 0x57, 0x62, 0xF7, 0x5C, 0x8F, 0x82, 0x3F}));
  EXPECT_EQ(std::bit_cast<float>(lib.versionBits), 1.02f);
  EXPECT_EQ(lib.textCrc, Crc(kRoot));
  EXPECT_EQ(lib.nameCrc, Crc("alpha.gs"));
  EXPECT_EQ(lib.path, "scripts/alpha.gs");
  ASSERT_EQ(lib.dependencies.size(), 2u);
  EXPECT_EQ(lib.dependencies[0], std::make_pair(Crc(kRoot), Crc("alpha.gs")));
  EXPECT_EQ(lib.dependencies[1], std::make_pair(Crc(kBase), Crc("base.gs")));
  // Base comes from the include: known, but its body is in its own library.
  ASSERT_EQ(lib.classes.size(), 3u);
  EXPECT_EQ(lib.classes[0], std::make_pair(1, std::string("Base")));
  ASSERT_EQ(lib.bodies.size(), 2u);
  EXPECT_EQ(lib.bodies[0].name, "Alpha");
  EXPECT_EQ(lib.bodies[1].name, "Beta");
  // Alpha's Count overrides Base's at slot 0.
  ASSERT_EQ(lib.bodies[0].overrides.size(), 1u);
  EXPECT_EQ(lib.bodies[0].overrides[0].second, 0);
  EXPECT_EQ(lib.bodies[0].functions.back().name, "::Alpha()");
}

} // namespace
} // namespace GSCompiler
