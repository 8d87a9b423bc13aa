#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/platform/os/TempFolder.h"
#include "util/BatchLine.h"

namespace {

using Args = std::vector<std::string>;

TEST(BatchLineTest, SplitsAsTheRulesSay) {
  struct Case {
    const char* name;
    std::string line;
    bool runs;
    Args arguments;
  };
  const Case cases[] = {
      {"plain words", "edit <kuid:1:2>\n", true, {"edit", "<kuid:1:2>"}},
      {"carriage return and line feed", "version\r\n", true, {"version"}},
      {"no line end", "version", true, {"version"}},
      {"two spaces give an empty argument", "edit  <kuid:1:2>\n", true, {"edit", "", "<kuid:1:2>"}},
      {"a trailing space gives an empty last argument", "echo a \n", true, {"echo", "a", ""}},
      {"quotes keep a space and go", "installcdp \"my file.cdp\"\n", true, {"installcdp", "my file.cdp"}},
      {"text after a closing quote is dropped", "echo \"ab\"cd ef\n", true, {"echo", "ab", "ef"}},
      {"an unquoted start before a quote is dropped", "echo ab\"cd\"\n", true, {"echo", "cd"}},
      {"an empty quoted argument", "echo \"\" x\n", true, {"echo", "", "x"}},
      {"an unclosed quote is dropped", "echo a \"bc d\n", true, {"echo", "a"}},
      {"a leading space adds no argument", " version\n", true, {"version"}},
      {"two leading spaces give an empty word", "  version\n", true, {"", "version"}},
      {"a blank line is skipped", "\n", false, {"\n"}},
      {"a blank CRLF line is skipped", "\r\n", false, {"\r"}},
      {"no text at all is one empty argument", "", true, {""}},
      {"only spaces give empty arguments", "  \n", true, {"", ""}},
      {"a word beginning with @ is just a word", "@other.txt\n", true, {"@other.txt"}},
      {"a line end inside the line goes", "ec\rho\n", true, {"echo"}},
      {"a tab is part of a word", "echo a\tb\n", true, {"echo", "a\tb"}},
  };
  for (const Case& c : cases) {
    Args arguments{"left over"};
    EXPECT_EQ(SplitBatchLine(c.line, arguments), c.runs) << c.name;
    EXPECT_EQ(arguments, c.arguments) << c.name;
  }
}

TEST(BatchLineTest, CollectsAtMost511Arguments) {
  std::string line = "echo";
  for (int i = 0; i < 600; ++i) line += " w" + std::to_string(i);
  Args arguments;
  EXPECT_TRUE(SplitBatchLine(line + "\n", arguments));
  ASSERT_EQ(arguments.size(), kBatchMaxArguments);
  EXPECT_EQ(arguments.front(), "echo");
  EXPECT_EQ(arguments.back(), "w509");
}

// Reads every line as the batch loop does: until a read has met the end.
std::vector<std::string> ReadAll(const std::string& content) {
  platform::test::TempFolder folder;
  folder.WriteFile("batch.txt", content);
  BatchFileReader reader;
  EXPECT_TRUE(reader.Open((folder / "batch.txt").c_str()));
  std::vector<std::string> lines;
  do {
    lines.push_back(reader.ReadLine());
  } while (!reader.AtEnd());
  return lines;
}

TEST(BatchLineTest, ReaderGivesEachLineWholeWhateverItsLength) {
  // A line longer than any fixed buffer must not come back in pieces: the
  // tail would run as a command of its own.
  const std::string longLine = "echo " + std::string(5000, 'x') + " delete <kuid:414141:1>\n";
  const std::vector<std::string> lines = ReadAll("version\n" + longLine + "authors");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "version\n");
  EXPECT_EQ(lines[1], longLine);
  EXPECT_EQ(lines[2], "authors");
}

TEST(BatchLineTest, ReaderMeetsTheEndOnlyWhenAReadFindsNothing) {
  struct Case {
    const char* name;
    std::string content;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"empty file", "", {""}},
      {"last line without a line end", "a\nb", {"a\n", "b"}},
      {"last line with a line end", "a\nb\n", {"a\n", "b\n", ""}},
      {"blank lines", "\n\r\n", {"\n", "\r\n", ""}},
      {"text that begins like the engine's compressed files", "CFILversion\necho e\"",
       {"CFILversion\n", "echo e\""}},
      {"a line across the reader's chunks", std::string(4095, 'y') + "\r\nz", {std::string(4095, 'y') + "\r\n", "z"}},
  };
  for (const Case& c : cases) EXPECT_EQ(ReadAll(c.content), c.lines) << c.name;
}

TEST(BatchLineTest, ReaderOfAMissingFileGivesOneEmptyLine) {
  BatchFileReader reader;
  EXPECT_FALSE(reader.Open("/nonexistent-folder/batch.txt"));
  EXPECT_EQ(reader.ReadLine(), "");
  EXPECT_TRUE(reader.AtEnd());
}

} // namespace
