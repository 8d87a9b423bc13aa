// createcdp at its edges: a package holds every asset asked for or is not
// written at all, installed assets are exported wherever they are held, and
// nothing behind a link in an asset folder goes into a package.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "Vak/Bexlorn/String.h"
#include "cdp/ContentPackage.h"
#include "tests/e2e/E2ESupport.h"

namespace {

using e2e::Installation;
using e2e::Result;

const std::string kEarlier = "an earlier backup\n";

// The file names directly in the files tree of the package's item of `kuid`;
// empty when the package cannot be read or lacks the asset.
std::set<std::string> PackagedFiles(const std::string& path, const char* kuid) {
  ContentPackage package;
  Vak::String error;
  if (!package.Read(error, "", path.c_str())) return {};
  const int index = package.FindAsset(KUID::Parse(kuid, true));
  if (index < 0) return {};
  const ACSChunkPtr files = package.GetAsset(index).GetFiles();
  std::set<std::string> names;
  for (int i = 0; i < files.GetChildCount(); ++i) names.insert(files.GetChildName(i).c_str());
  return names;
}

// The sample's files beside its config, as a package holds them.
const std::set<std::string> kSampleFiles = {"art", "notes.html", "sound.wav"};

// Runs createcdp onto a missing file and onto an earlier one: the command
// fails with `out` both times, no file appears and the earlier one stays as
// it was, with nothing left beside it.
void ExpectRefused(const Installation& install, const std::string& folder, const std::vector<std::string>& kuids,
                   const std::string& out) {
  std::filesystem::create_directories(folder);
  const std::string fresh = folder + "/fresh.cdp";
  const std::string earlier = folder + "/earlier.cdp";
  e2e::WriteText(earlier, kEarlier);
  for (const std::string& target : {fresh, earlier}) {
    std::vector<std::string> arguments{"createcdp", target};
    arguments.insert(arguments.end(), kuids.begin(), kuids.end());
    const Result result = install.Run(arguments);
    EXPECT_EQ(result.out, out) << target;
    EXPECT_EQ(result.err, "") << target;
    EXPECT_EQ(result.code, 255) << target;
  }
  EXPECT_EQ(e2e::ReadText(earlier), kEarlier);
  EXPECT_EQ(e2e::TakeSnapshot(folder), e2e::Snapshot({{"earlier.cdp", e2e::HashOf(kEarlier)}}));
}

// The samples installed and committed.
void InstallSamples(const Installation& install) {
  ASSERT_EQ(install.Run({"installfrompath", install.Samples() + "/assets"}).code, 0);
  for (const char* kuid : {"<kuid:414141:1>", "<kuid:414141:2>", "<kuid:414141:3>"})
    ASSERT_EQ(install.Run({"commit", kuid}).code, 0) << kuid;
}

std::string LocalFolderOf(const Installation& install, const std::string& username) {
  return e2e::LocalFolderHolding(install.Root(), "art/body.im", "mesh data of " + username + "\n");
}

TEST(VelmarUtilPackageExportTest, AnAssetThatCannotBeAddedFailsTheCommandAndNothingIsWritten) {
  Installation install;
  InstallSamples(install);
  ASSERT_EQ(install.Run({"edit", "<kuid:414141:1>"}).code, 0);
  const std::string wagon = LocalFolderOf(install, "Sample Wagon");
  ASSERT_FALSE(wagon.empty());
  e2e::WriteText(wagon + "/tool.exe", "MZ");

  const std::string openForEdit = "- <kuid:414141:1> : Asset <kuid:414141:1> is already open for editing\n";
  const struct {
    const char* name;
    std::vector<std::string> kuids;
    std::string out;
  } cases[] = {
      {"open for edit", {"<kuid:414141:1>"}, openForEdit + "OK (1 Errors, 0 Warnings)\n"},
      {"a file no package may carry",
       {"<kuid:414141:2>"},
       "! <NULL> : File 'tool.exe' has an extension that packages may not hold\n"
       "- <kuid:414141:2> : The asset's files could not be read\nOK (1 Errors, 1 Warnings)\n"},
      {"a good asset, then one that cannot be read",
       {"<kuid:414141:3>", "<kuid:414141:1>"},
       openForEdit + "OK (1 Errors, 0 Warnings)\n"},
      {"the same asset twice",
       {"<kuid:414141:3>", "<kuid:414141:3>"},
       "- <kuid:414141:3> : Unable to add content as an item with KUID <kuid:414141:3> is already present\n"
       "OK (1 Errors, 0 Warnings)\n"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectRefused(install, install.Scratch("refused-" + std::to_string(n++)), c.kuids, c.out);
  }

  // The good asset alone is written.
  const std::string package = install.Scratch("van.cdp");
  const Result result = install.Run({"createcdp", package, "<kuid:414141:3>"});
  EXPECT_EQ(result.code, 0) << result.out;
  EXPECT_EQ(PackagedFiles(package, "<kuid:414141:3>"), kSampleFiles);
}

TEST(VelmarUtilPackageExportTest, InstalledAssetsWithoutALocalFolderAreExportedWhenTheyCanBeRead) {
  Installation install;
  // Built in: the shed in the engine's folder "base", the wagon in the
  // archive "builtin/1.va"; the index is built from them on the first run.
  std::filesystem::create_directories(install.Root() + "/base/assets/shed");
  std::filesystem::copy(install.Samples() + "/assets/shed", install.Root() + "/base/assets/shed",
                        std::filesystem::copy_options::recursive);
  const std::string staging = install.Scratch("staging");
  std::filesystem::create_directories(staging + "/assets/wagon");
  std::filesystem::copy(install.Samples() + "/assets/wagon", staging + "/assets/wagon",
                        std::filesystem::copy_options::recursive);
  std::filesystem::create_directories(install.Root() + "/builtin");
  const Result packed = e2e::RunProgram(
      {"/bin/sh", "-c", "cd \"$1\" && exec \"$2\" -r -k -c a \"$3\" '*'", "sh", staging, E2E_ARCHIVE_DRIVER,
       install.Root() + "/builtin/1.va"},
      install.Scratch(""));
  ASSERT_EQ(packed.code, 0) << packed.out << packed.err;
  // Installed from a folder and never committed: held only in "editing".
  e2e::WriteText(install.Scratch("van-only/van/config.txt"),
                 e2e::ReadText(install.Samples() + "/assets/van/config.txt"));
  ASSERT_EQ(install.Run({"installfrompath", install.Scratch("van-only")}).code, 0);

  const struct {
    const char* name;
    const char* kuid;
    const char* letters;  // status: installed, not local
    int code;
    std::string out;
  } cases[] = {
      {"held in an engine folder", "<kuid:414141:1>", "eIadlme", 0, "OK (0 Errors, 0 Warnings)\n"},
      {"held in an engine archive", "<kuid:414141:2>", "eIadlme", 0, "OK (0 Errors, 0 Warnings)\n"},
      {"held only as an edit", "<kuid:414141:3>", "EIadlme", 255,
       "- <kuid:414141:3> : The asset could not be opened\nOK (1 Errors, 0 Warnings)\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_NE(install.Run({"status", c.kuid}).out.find(std::string(" : ") + c.letters + " : "), std::string::npos);
    const std::string package = install.Scratch(std::string(c.name) + ".cdp");
    const Result result = install.Run({"createcdp", package, c.kuid});
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.code, c.code);
    if (c.code == 0) {
      EXPECT_EQ(PackagedFiles(package, c.kuid), kSampleFiles);
    } else {
      EXPECT_FALSE(std::filesystem::exists(package));
    }
  }
}

TEST(VelmarUtilPackageExportTest, LinksInAnAssetFolderAreRefusedAsLinks) {
  Installation install;
  InstallSamples(install);
  const std::string shed = LocalFolderOf(install, "Sample Shed");
  ASSERT_FALSE(shed.empty());
  const std::string outside = install.Scratch("outside");
  e2e::WriteText(outside + "/secret.txt", "not the asset's\n");
  e2e::WriteText(outside + "/folder/more.txt", "not the asset's either\n");
  const std::string source = install.Scratch("source");
  std::filesystem::create_directories(source + "/shed");
  std::filesystem::copy(install.Samples() + "/assets/shed", source + "/shed", std::filesystem::copy_options::recursive);
  // Another KUID, so that an install of the copy would be a new asset.
  e2e::WriteText(source + "/shed/config.txt", "kuid <kuid:414141:7>\r\nkind \"scenery\"\r\nusername \"Linked Shed\"\r\n"
                                              "velmar-build 3.1\r\n");

  const struct {
    const char* name;
    std::string link;    // in the asset folder
    std::string target;  // outside it
  } cases[] = {
      {"a link to a file", "secret.txt", outside + "/secret.txt"},
      {"a link to a folder", "more", outside + "/folder"},
      {"a link in a sub-folder", "art/secret.txt", outside + "/secret.txt"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string name = std::filesystem::path(c.link).filename().string();
    const std::string refused = "- <NULL> : '" + name + "' is a link, which packages may not hold\n";
    for (const std::string& folder : {shed, source + "/shed"})
      std::filesystem::create_symlink(c.target, folder + "/" + c.link);

    ExpectRefused(install, install.Scratch("links-" + std::to_string(n++)), {"<kuid:414141:1>"},
                  refused + "- <kuid:414141:1> : The asset's files could not be read\nOK (2 Errors, 0 Warnings)\n");

    const e2e::Snapshot before = install.Take();
    const Result result = install.Run({"installfrompath", source});
    const std::string skipped = "! <NULL> : Skipping the asset at '";
    EXPECT_EQ(result.out.substr(0, refused.size() + skipped.size()), refused + skipped) << result.out;
    EXPECT_TRUE(result.out.ends_with("/shed'\nOK (1 Errors, 1 Warnings)\n")) << result.out;
    EXPECT_EQ(result.code, 255);
    EXPECT_EQ(install.Take(), before);

    for (const std::string& folder : {shed, source + "/shed"}) std::filesystem::remove(folder + "/" + c.link);
  }
}

} // namespace
