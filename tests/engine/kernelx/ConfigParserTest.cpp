#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "engine/kernelx/ConfigParser.h"

namespace {

using Vak::ConfigData;
using Vak::ConfigParser;

int ParseString(ConfigParser& parser, const std::string& text) { return parser.ParseText(text.data(), text.size()); }

const char kDescription[] =
    "version 1.0\n"
    "// switch distances rise; named levels follow\n"
    "mesh 0 { name \"near.im\" }\n"
    "mesh 50 { name \"far.im\" }\n"
    "mesh \"Collision\" { name \"hull.imtxt\" animated 1 }\n"
    "offset -2.5\n"
    "calcPoint \"far\"\n";

TEST(ConfigParser, ReadsEntriesInOrderWithGroups) {
  ConfigParser parser;
  ASSERT_EQ(ParseString(parser, kDescription), ConfigParser::kOk);
  const ConfigData* data = parser.GetData();
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(int(data->GetVersion() * 100), 100);
  EXPECT_EQ(data->CountKey("mesh"), 3u);
  EXPECT_EQ(data->CountKey("MESH"), 3u);
  const char* values[] = {"0", "50", "Collision"};
  const char* names[] = {"near.im", "far.im", "hull.imtxt"};
  for (unsigned i = 0; i < 3; ++i) {
    const Vak::ConfigEntry* mesh = data->Find("mesh", i);
    ASSERT_NE(mesh, nullptr);
    EXPECT_STREQ(mesh->GetText(), values[i]);
    EXPECT_EQ(mesh->values[0].quoted, i == 2);
    ASSERT_NE(mesh->group, nullptr);
    EXPECT_STREQ(mesh->group->GetText("name", ""), names[i]);
  }
  EXPECT_EQ(data->Find("mesh", 3), nullptr);
  EXPECT_TRUE(data->Find("mesh", 2)->group->GetBool("animated", false));
  EXPECT_FALSE(data->Find("mesh", 0)->group->GetBool("animated", false));
  EXPECT_FLOAT_EQ(data->GetFloat("offset", 0), -2.5f);
  EXPECT_FLOAT_EQ(data->GetFloat("multiplier", 1), 1.0f);
  EXPECT_STREQ(data->GetText("calcpoint", "center"), "far");
}

TEST(ConfigParser, ValuesListsAndTexts) {
  ConfigParser parser;
  ASSERT_EQ(ParseString(parser, "version 1\nposition 1 -2.5 3e2\nlabel \"a \\\"b\\\" \\\\ c\" 7\nflag\n"),
            ConfigParser::kOk);
  const ConfigData* data = parser.GetData();
  float position[3] = {};
  ASSERT_TRUE(data->GetFloats("position", position, 3));
  EXPECT_EQ(position[0], 1.0f);
  EXPECT_EQ(position[1], -2.5f);
  EXPECT_EQ(position[2], 300.0f);
  float four[4] = {9, 9, 9, 9};
  EXPECT_FALSE(data->GetFloats("position", four, 4));
  EXPECT_EQ(four[0], 9.0f);
  const Vak::ConfigEntry* label = data->Find("label");
  ASSERT_EQ(label->values.size(), 2u);
  EXPECT_STREQ(label->GetText(), "a \"b\" \\ c");
  EXPECT_FALSE(data->GetFloats("label", four, 2));  // a quoted text is never a number
  EXPECT_EQ(data->GetInt("label", -1), -1);
  ASSERT_NE(data->Find("flag"), nullptr);
  EXPECT_TRUE(data->Find("flag")->values.empty());
  EXPECT_EQ(data->GetInt("position", 0), 1);
}

// Every result the parser gives, and the line it blames.
TEST(ConfigParser, Results) {
  struct Case {
    const char* name;
    std::string text;
    int result;
    unsigned line;
  };
  const Case cases[] = {
      {"empty text", "", ConfigParser::kNoFile, 0},
      {"no version", "mesh 0\n", ConfigParser::kMalformed, 1},
      {"version not first", "mesh 0\nversion 1.0\n", ConfigParser::kMalformed, 1},
      {"quoted version", "version \"1.0\"\n", ConfigParser::kMalformed, 1},
      {"version 2", "version 2.0\nmesh 0\n", ConfigParser::kBadVersion, 0},
      {"version 0.9", "version 0.9\nmesh 0\n", ConfigParser::kBadVersion, 0},
      {"version 1.5 is the syntax's", "version 1.5\nmesh 0\n", ConfigParser::kOk, 0},
      {"unclosed group", "version 1\nmesh 0 {\n name \"a\"\n", ConfigParser::kMalformed, 4},
      {"stray brace", "version 1\n}\n", ConfigParser::kMalformed, 2},
      {"unterminated text", "version 1\nname \"abc\n", ConfigParser::kMalformed, 2},
      {"bad escape", "version 1\nname \"a\\n\"\n", ConfigParser::kMalformed, 2},
      {"not a number", "version 1\nvalue 1.2.3\n", ConfigParser::kMalformed, 2},
      {"lone minus", "version 1\nvalue -\n", ConfigParser::kMalformed, 2},
      {"out of range", "version 1\nvalue 1e99\n", ConfigParser::kMalformed, 2},
      {"byte zero", std::string("version 1\nname\0x", 16), ConfigParser::kMalformed, 2},
      {"bare word value", "version 1\nname =\n", ConfigParser::kMalformed, 2},
      {"comment only after version", "version 1 // nothing else\n", ConfigParser::kOk, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ConfigParser parser;
    EXPECT_EQ(ParseString(parser, c.text), c.result);
    EXPECT_EQ(parser.GetErrorLine(), c.line);
    if (c.result != ConfigParser::kOk) {
      EXPECT_EQ(parser.GetData(), nullptr);
    }
  }
}

TEST(ConfigParser, VersionWithoutEntriesGivesNoData) {
  ConfigParser parser;
  ASSERT_EQ(ParseString(parser, "version 1.0\n"), ConfigParser::kOk);
  EXPECT_EQ(parser.GetData(), nullptr);
}

TEST(ConfigParser, NestingIsBounded) {
  auto nested = [](unsigned depth) {
    std::string text = "version 1\n";
    for (unsigned i = 0; i < depth; ++i) text += "g {";
    for (unsigned i = 0; i < depth; ++i) text += "}";
    return text;
  };
  ConfigParser parser;
  EXPECT_EQ(ParseString(parser, nested(ConfigParser::kMaxDepth)), ConfigParser::kOk);
  EXPECT_EQ(ParseString(parser, nested(ConfigParser::kMaxDepth + 1)), ConfigParser::kMalformed);
  EXPECT_EQ(ParseString(parser, nested(100000)), ConfigParser::kMalformed);
}

TEST(ConfigParser, ReadsFiles) {
  const std::filesystem::path dir = std::filesystem::path(testing::TempDir()) / "config_parser_files";
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "lod.lm.txt").string();
  std::ofstream(path, std::ios::binary) << kDescription;
  const std::string empty = (dir / "empty.txt").string();
  std::ofstream(empty, std::ios::binary).flush();
  ConfigParser parser;
  EXPECT_EQ(parser.Parse(path.c_str()), ConfigParser::kOk);
  EXPECT_EQ(parser.GetData()->CountKey("mesh"), 3u);
  EXPECT_EQ(parser.Parse((dir / "missing.txt").string().c_str()), ConfigParser::kNoFile);
  EXPECT_EQ(parser.Parse(empty.c_str()), ConfigParser::kNoFile);
  std::filesystem::remove_all(dir);
}

} // namespace
