#include "tools/PatchSet.h"

#include <string>

#include <gtest/gtest.h>

namespace {

TEST(PatchSetTest, FormatWritesEachEntryInByteOrder) {
  const struct {
    PatchMap map;
    std::string bytes;
  } cases[] = {
      {{}, ""},
      {{{"a.txt", "d1"}}, "a.txt\nd1\n"},
      // Upper case before lower case, '/' (0x2f) before letters, bytes over
      // 0x7f last.
      {{{"b", "2"}, {"B", "1"}, {"a/x", "3"}, {"\xe9t\xe9", "4"}, {"A_", "0"}},
       "A_\n0\nB\n1\na/x\n3\nb\n2\n\xe9t\xe9\n4\n"},
      // A patched value from patchdiff holds its two digests.
      {{{"dir/f.bin", "old\nnew"}}, "dir/f.bin\nold\nnew\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.bytes, FormatPatchList(c.map));
}

TEST(PatchSetTest, ParseReadsRecordsAndSkipsWhatIsIncomplete) {
  const struct {
    const char* name;
    std::string bytes;
    bool patched;
    PatchMap expected;
  } cases[] = {
      {"empty", "", false, {}},
      {"two records", "a\n1\nb\n2\n", false, {{"a", "1"}, {"b", "2"}}},
      {"no final line feed", "a\n1", false, {{"a", "1"}}},
      {"incomplete last record", "a\n1\nb\n", false, {{"a", "1"}}},
      {"carriage return kept", "a\r\n1\r\n", false, {{"a\r", "1\r"}}},
      {"empty line skips its record", "a\n\nb\n2\n", false, {{"b", "2"}}},
      {"later record replaces", "a\n1\na\n2\n", false, {{"a", "2"}}},
      {"patched", "p\nold\nnew\n", true, {{"p", "old\nnew\n"}}},
      {"patched cut mid record", "p\nold\nnew\nq\nold\n", true, {{"p", "old\nnew\n"}}},
      {"patched empty digest", "p\n\nnew\nq\no\nn\n", true, {{"q", "o\nn\n"}}},
  };
  for (const auto& c : cases) {
    PatchMap map;
    ParsePatchList(c.bytes.data(), c.bytes.size(), c.patched, map);
    EXPECT_EQ(c.expected, map) << c.name;
  }
}

TEST(PatchSetTest, WrittenListsReadBack) {
  const PatchMap added{{"Z.bin", "0123"}, {"a/b.txt", "4567"}};
  const std::string bytes = FormatPatchList(added);
  PatchMap read;
  ParsePatchList(bytes.data(), bytes.size(), false, read);
  EXPECT_EQ(added, read);

  const PatchMap patched{{"x", "o1\nn1"}};
  const std::string patchedBytes = FormatPatchList(patched);
  PatchMap readPatched;
  ParsePatchList(patchedBytes.data(), patchedBytes.size(), true, readPatched);
  ASSERT_EQ(1u, readPatched.size());
  EXPECT_EQ("o1", PatchedOldDigest(readPatched["x"]));
  EXPECT_EQ("n1", PatchedNewDigest(readPatched["x"]));
  EXPECT_EQ("", PatchedNewDigest("only"));
}

} // namespace
