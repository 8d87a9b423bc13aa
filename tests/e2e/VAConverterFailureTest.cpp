// VAConverter's refusals and failures: the exit code, the message, and the
// user's files as they were.
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/e2e/VAConverterSupport.h"

namespace {

using e2e::ConverterInstallation;
using e2e::Listing;
using e2e::SortedLines;

const char kUsage[] = "usage: VAConverter patchdiff|patchapply <archive>.va <archive>.va [output path]\n";
const char kMoreUsage[] =
    "usage: VAConverter patchdiff <old>.va <new>.va <output path> | patchapply <archive>.va <patch set>.va\n";

// data.va in old/ and new/ (a changed, an unchanged, a removed and an added
// file), its patch set in patches/ and a copy of the old archive in apply/.
struct Fixture {
  ConverterInstallation inst;
  std::string base = inst.Scratch("work");

  Fixture() {
    e2e::WriteText(base + "/src-old/a.txt", "the old text of a\n");
    e2e::WriteText(base + "/src-old/same.bin", std::string(3000, 's'));
    e2e::WriteText(base + "/src-old/gone.txt", "gone");
    e2e::WriteText(base + "/src-new/a.txt", "the new, longer text of a\n");
    e2e::WriteText(base + "/src-new/same.bin", std::string(3000, 's'));
    e2e::WriteText(base + "/src-new/added.txt", "added");
    EXPECT_TRUE(inst.Pack(base + "/src-old", base + "/old/data.va"));
    EXPECT_TRUE(inst.Pack(base + "/src-new", base + "/new/data.va"));
    const e2e::Result made = inst.Convert({"patchdiff", Path("old/data.va"), Path("new/data.va"), Path("patches")});
    EXPECT_EQ(0, made.code) << made.out;
    std::filesystem::create_directories(Path("apply"));
    std::filesystem::copy(Path("old/data.va"), Path("apply/data.va"));
  }
  std::string Path(const std::string& relative) const { return base + "/" + relative; }
};

// The fixture's patch set unpacked, one entry replaced, packed again as
// patches/bad.va.
void Repack(Fixture& f, const std::string& entry, const std::string& content) {
  ASSERT_TRUE(f.inst.Unpack(f.Path("patches/data-diff.va"), f.Path("bad")));
  e2e::WriteText(f.Path("bad/" + entry), content);
  ASSERT_TRUE(f.inst.Pack(f.Path("bad"), f.Path("patches/bad.va")));
}

TEST(VAConverterFailureTest, FailuresKeepTheUsersFiles) {
  const struct {
    const char* name;
    std::function<void(Fixture&)> prepare;
    std::vector<std::string> arguments;  // relative to the fixture's folder, after the operation word
    int code;
    std::vector<std::string> lines;     // printed, in any order
    std::vector<std::string> kept;      // files that keep their digest
    std::vector<std::string> absent;    // what the run must not leave
  } cases[] = {
      {"damaged difference entry",
       [](Fixture& f) { Repack(f, "a.txt", "not a difference"); },
       {"patchapply", "apply/data.va", "patches/bad.va"},
       1,
       {"Unchanged same.bin", "Removed gone.txt", ">>>> PATCH ERROR a.txt", ">>>> EXIT CODE:  1"},
       {"apply/data.va", "patches/bad.va"},
       {"apply/data-tmp.va", "patches/bad-out.va"}},
      {"added path leaving the archive",
       [](Fixture& f) { Repack(f, "addedFiles.txt", "../escape.txt\nd41d8cd98f00b204e9800998ecf8427e\n"); },
       {"patchapply", "apply/data.va", "patches/bad.va"},
       1,
       {">>>> PATH ERROR ../escape.txt", "Patched a.txt", "Unchanged same.bin", "Removed gone.txt"},
       {"apply/data.va", "patches/bad.va"},
       {"apply/data-tmp.va", "escape.txt", "apply/escape.txt"}},
      {"added file without its listed digest",
       [](Fixture& f) { Repack(f, "added.txt", "not what was added"); },
       {"patchapply", "apply/data.va", "patches/bad.va"},
       1,
       {">>>> MD5 ERROR added.txt", "Patched a.txt", "Unchanged same.bin", "Removed gone.txt"},
       {"apply/data.va", "patches/bad.va"},
       {"apply/data-tmp.va"}},
      {"patched file the archive lacks",
       [](Fixture& f) {
         const std::string digest(32, '0');
         Repack(f, "patchedFiles.txt", "missing.txt\n" + digest + "\n" + digest + "\n");
       },
       {"patchapply", "apply/data.va", "patches/bad.va"},
       1,
       {">>>> OPEN ERROR missing.txt", "Unchanged a.txt", "Unchanged same.bin", "Removed gone.txt"},
       {"apply/data.va", "patches/bad.va"},
       {"apply/data-tmp.va"}},
      {"patch program missing",
       [](Fixture& f) { std::filesystem::remove(f.inst.PatchProgram()); },
       {"patchapply", "apply/data.va", "patches/data-diff.va"},
       1,
       {"Unchanged same.bin", "Removed gone.txt", ">>>> PATCH ERROR a.txt"},
       {"apply/data.va", "patches/data-diff.va"},
       {"apply/data-tmp.va", "patches/data-out.va"}},
      {"archive of another version",
       [](Fixture& f) {
         std::filesystem::create_directories(f.Path("other"));
         std::filesystem::copy(f.Path("new/data.va"), f.Path("other/data.va"));
       },
       {"patchapply", "other/data.va", "patches/data-diff.va"},
       1,
       {"Unchanged same.bin", "Unchanged added.txt", ">>>> MD5 ERROR a.txt"},
       {"other/data.va", "patches/data-diff.va"},
       {"other/data-tmp.va", "patches/data-out.va"}},
      {"diff program missing",
       [](Fixture& f) { std::filesystem::remove(f.inst.DiffProgram()); },
       {"patchdiff", "old/data.va", "new/data.va", "out"},
       1,
       {">>>> DIFF ERROR a.txt"},
       {"old/data.va", "new/data.va"},
       {"out/data", "out/data-diff.va", "new/data-out.va"}},
      // The walk goes no further than the file whose difference failed.
      {"diff program failing",
       [](Fixture& f) {
         e2e::WriteText(f.inst.DiffProgram(), "#!/bin/sh\nexit 3\n");
         std::filesystem::permissions(f.inst.DiffProgram(), std::filesystem::perms::owner_all);
       },
       {"patchdiff", "old/data.va", "new/data.va", "out"},
       1,
       {">>>> DIFF ERROR a.txt", ">>>> EXIT CODE:  3"},
       {"old/data.va", "new/data.va"},
       {"out/data", "out/data-diff.va", "new/data-out.va"}},
      {"patchdiff without output path",
       nullptr,
       {"patchdiff", "old/data.va", "new/data.va"},
       1,
       {kMoreUsage},
       {"old/data.va", "new/data.va"},
       {"new/data-out.va"}},
      {"second archive's -out name taken",
       [](Fixture& f) { e2e::WriteText(f.Path("new/data-out.va"), "someone's file"); },
       {"patchdiff", "old/data.va", "new/data.va", "out"},
       1,
       {"Archive already exists \"@new/data-out.va\"", kMoreUsage},
       {"old/data.va", "new/data.va", "new/data-out.va"},
       {"out/data", "out/data-diff.va"}},
      // Not a failure: the user's folder stays and the run works beside it.
      {"output path holding a folder named like the archive",
       [](Fixture& f) { e2e::WriteText(f.Path("out/data/keep.txt"), "the user's"); },
       {"patchdiff", "old/data.va", "new/data.va", "out"},
       0,
       {"Diffed a.txt", "Removed gone.txt", "Added added.txt"},
       {"old/data.va", "new/data.va", "out/data/keep.txt"},
       {"out/data-1", "new/data-out.va"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f;
    if (c.prepare) c.prepare(f);
    std::vector<std::string> sums;
    for (const std::string& kept : c.kept) sums.push_back(f.inst.Sum(f.Path(kept)));
    std::vector<std::string> arguments;
    for (const std::string& argument : c.arguments)
      arguments.push_back(argument.find('/') == std::string::npos && argument.rfind("patch", 0) == 0 ? argument
                                                                                                     : f.Path(argument));
    const e2e::Result run = f.inst.Convert(arguments);
    EXPECT_EQ(c.code, run.code) << run.out;
    std::vector<std::string> lines;
    for (std::string line : c.lines) {
      const std::size_t at = line.find('@');
      if (at != std::string::npos) line = line.substr(0, at) + f.base + "/" + line.substr(at + 1);
      if (!line.empty() && line.back() == '\n') line.pop_back();
      lines.push_back(line);
    }
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, SortedLines(run.out));
    for (std::size_t i = 0; i < c.kept.size(); ++i) EXPECT_EQ(sums[i], f.inst.Sum(f.Path(c.kept[i]))) << c.kept[i];
    for (const std::string& absent : c.absent) EXPECT_FALSE(std::filesystem::exists(f.Path(absent))) << absent;
    if (c.code == 0) {
      for (const char* work : {"srcFile", "dstFile", "difFile", "outFile"})
        EXPECT_FALSE(std::filesystem::exists(f.inst.Root() + "/bin/" + work)) << work;
    }
  }
}

TEST(VAConverterFailureTest, UsageAndExitCodes) {
  ConverterInstallation inst;
  const std::string missing = inst.Scratch("missing.va");
  const struct {
    std::vector<std::string> arguments;
    std::string printed;
  } cases[] = {
      {{}, kUsage},
      {{"patchdiff"}, kUsage},
      {{"patchmerge", "a.va", "b.va", "out"}, kUsage},
      {{"PatchApply", missing, missing}, "Failed to find input archive \"" + missing + "\"\n" + kMoreUsage},
  };
  for (const auto& c : cases) {
    const e2e::Result run = inst.Convert(c.arguments);
    EXPECT_EQ(1, run.code);
    EXPECT_EQ(c.printed, run.out);
  }
}

} // namespace
