// patchdiff of an old and a new tree of archives, then patchapply on a copy
// of the old tree, gives the new tree bit for bit.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/e2e/VAConverterSupport.h"

namespace {

using e2e::ConverterInstallation;
using e2e::Listing;
using e2e::SortedLines;

std::string Random(std::size_t size, uint32_t seed) {
  std::string out(size, '\0');
  for (char& c : out) c = static_cast<char>((seed = seed * 1664525u + 1013904223u) >> 24);
  return out;
}

std::string Compressible(std::size_t size, const std::string& word) {
  std::string out;
  for (std::size_t i = 0; out.size() < size; ++i) out += word + " line " + std::to_string(i) + "\n";
  out.resize(size);
  return out;
}

// A random file with a few bytes changed and a piece inserted.
std::string Edited(std::string content) {
  for (std::size_t at = 1000; at < content.size(); at += content.size() / 5) content[at] ^= 0x5a;
  content.insert(content.size() / 2, "inserted piece");
  return content;
}

struct TreeFile {
  std::string archive;  // file name of the archive in both trees
  std::string path;
  std::optional<std::string> oldContent;
  std::optional<std::string> newContent;
};

std::vector<TreeFile> Trees() {
  const std::string big = Random(3 * 1024 * 1024 + 11, 7);
  const std::string log = Compressible(2 * 1024 * 1024, "signal");
  const std::string k1 = Random(1024, 3);
  return {
      {"data.va", "zero.bin", "", ""},
      {"data.va", "one.bin", "x", "x"},
      {"data.va", "k1.bin", k1, Edited(k1)},
      {"data.va", "k1plus.bin", Compressible(1025, "plain"), Compressible(1025, "plain")},
      {"data.va", "Big/random.bin", big, Edited(big)},
      {"data.va", "Big/track.log", log, Compressible(2 * 1024 * 1024 + 300, "signal")},
      {"data.va", "notes/readme.txt", "Read me.\r\nOld text.\r\n", "Read me.\r\nNew text, longer.\r\n"},
      {"data.va", "notes/deep/er/noext", Random(3000, 5), Random(2900, 6)},
      {"data.va", "Upper/Name.TXT", "upper", "upper"},
      {"data.va", "lower/name.txt", "lower", "lower, changed"},
      {"data.va", "removed.txt", "going", std::nullopt},
      {"data.va", "removed/empty.dat", "", std::nullopt},
      {"data.va", "added/new.bin", std::nullopt, Random(5000, 9)},
      {"data.va", "added/empty.dat", std::nullopt, ""},
      {"data.va", "becomes-empty.txt", "content", ""},
      {"data.va", "stops-empty.txt", "", "now content"},
      {"Scenery.va", "a.txt", "alpha", "alpha"},
      {"Scenery.va", "b/c.bin", Random(1025, 11), Random(1025, 11)},
      {"Scenery.va", "new/only.txt", std::nullopt, "only in the new tree"},
      {"misc.va", "a.txt", "first", "second"},
      {"misc.va", "gone.bin", Random(2000, 12), std::nullopt},
  };
}

TEST(VAConverterRoundTripTest, PatchSetsTurnTheOldTreeIntoTheNewOne) {
  ConverterInstallation inst;
  const std::string base = inst.Scratch("work");
  const std::vector<TreeFile> files = Trees();
  std::vector<std::string> archives;
  for (const TreeFile& file : files) {
    if (std::find(archives.begin(), archives.end(), file.archive) == archives.end()) archives.push_back(file.archive);
    if (file.oldContent) e2e::WriteText(base + "/src-old/" + file.archive + "/" + file.path, *file.oldContent);
    if (file.newContent) e2e::WriteText(base + "/src-new/" + file.archive + "/" + file.path, *file.newContent);
  }
  for (const std::string& archive : archives) {
    ASSERT_TRUE(inst.Pack(base + "/src-old/" + archive, base + "/old/" + archive));
    ASSERT_TRUE(inst.Pack(base + "/src-new/" + archive, base + "/new/" + archive));
  }
  std::filesystem::copy(base + "/old", base + "/apply");

  for (const std::string& archive : archives) {
    SCOPED_TRACE(archive);
    std::string name = archive.substr(0, archive.size() - 3);
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    std::vector<std::string> diffLines, applyLines;
    for (const TreeFile& file : files) {
      if (file.archive != archive) continue;
      if (!file.newContent) {
        diffLines.push_back("Removed " + file.path);
        applyLines.push_back("Removed " + file.path);
      } else if (!file.oldContent) {
        diffLines.push_back("Added " + file.path);
      } else if (*file.oldContent == *file.newContent) {
        applyLines.push_back("Unchanged " + file.path);
      } else {
        diffLines.push_back("Diffed " + file.path);
        applyLines.push_back("Patched " + file.path);
      }
    }
    std::sort(diffLines.begin(), diffLines.end());
    std::sort(applyLines.begin(), applyLines.end());

    const std::string oldArchive = base + "/old/" + archive, newArchive = base + "/new/" + archive;
    const std::string oldSum = inst.Sum(oldArchive), newSum = inst.Sum(newArchive);
    // The operation word in capitals works as well.
    const e2e::Result diffed =
        inst.Convert({archive == "misc.va" ? "PATCHDIFF" : "patchdiff", oldArchive, newArchive, base + "/patches"});
    EXPECT_EQ(0, diffed.code) << diffed.out;
    EXPECT_EQ(diffLines, SortedLines(diffed.out));
    EXPECT_EQ(oldSum, inst.Sum(oldArchive));
    EXPECT_EQ(newSum, inst.Sum(newArchive));

    const std::string patchSet = base + "/patches/" + name + "-diff.va";
    const std::string patchSum = inst.Sum(patchSet);
    const e2e::Result applied = inst.Convert({"patchapply", base + "/apply/" + archive, patchSet});
    EXPECT_EQ(0, applied.code) << applied.out;
    EXPECT_EQ(applyLines, SortedLines(applied.out));
    EXPECT_EQ(patchSum, inst.Sum(patchSet));

    ASSERT_TRUE(inst.Unpack(base + "/apply/" + archive, base + "/result/" + archive));
    const std::string expected = inst.TreeSums(base + "/src-new/" + archive);
    EXPECT_NE("", expected);
    EXPECT_EQ(expected, inst.TreeSums(base + "/result/" + archive));
  }

  // Only the archives are left: no "-out", "-tmp" or working folders.
  EXPECT_EQ((std::vector<std::string>{"Scenery.va", "data.va", "misc.va"}), Listing(base + "/old"));
  EXPECT_EQ((std::vector<std::string>{"Scenery.va", "data.va", "misc.va"}), Listing(base + "/new"));
  EXPECT_EQ((std::vector<std::string>{"Scenery.va", "data.va", "misc.va"}), Listing(base + "/apply"));
  EXPECT_EQ((std::vector<std::string>{"data-diff.va", "misc-diff.va", "scenery-diff.va"}),
            Listing(base + "/patches"));
}

} // namespace
