// The status, validate, download-station and repair commands as processes
// on fresh installations.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "cdp/ContentPackage.h"
#include "content/ACSChunk.h"
#include "tests/e2e/E2ESupport.h"

namespace {

using e2e::Installation;
using e2e::Result;

const std::string kThumbnailJpg = "JPEG bytes of the shed";
const std::string kPackageThumbnail = "the package's own thumbnail";

// The sample shed gains a thumbnail; the samples are installed and
// committed.
void InstallSamples(const Installation& install) {
  const std::string shed = install.Samples() + "/assets/shed";
  std::string config = e2e::ReadText(shed + "/config.txt");
  config += "thumbnails\r\n{\r\n  0\r\n  {\r\n    image \"thumb.jpg\"\r\n    width 240\r\n    height 180\r\n  }\r\n}\r\n";
  e2e::WriteText(shed + "/config.txt", config);
  e2e::WriteText(shed + "/thumb.jpg", kThumbnailJpg);
  const Result result = install.Run({"installfrompath", install.Samples() + "/assets"});
  ASSERT_EQ(result.code, 0) << result.out;
  for (const char* kuid : {"<kuid:414141:1>", "<kuid:414141:2>", "<kuid:414141:3>"})
    ASSERT_EQ(install.Run({"commit", kuid}).code, 0) << kuid;
}

// Rewrites the package at `path`: a root thumbnail, and the item of `broken`
// (when given) with a compression no install knows.
void Rework(const std::string& path, const char* thumbnail, const KUID* broken) {
  ContentPackage package;
  Vak::String error;
  ASSERT_TRUE(package.Read(error, "", path.c_str())) << static_cast<const char*>(error);
  ACSChunkPtr root = package.Root();
  if (thumbnail)
    root.SetChild(Vak::PString("thumbnail"),
                  root->CreateChunk(kACSRaw, ACSRawDataCore::CreateCopy(static_cast<uint32_t>(std::strlen(thumbnail)),
                                                                        thumbnail)));
  if (broken) {
    const int index = package.FindAsset(*broken);
    ASSERT_GE(index, 0);
    package.GetAsset(index).SetChildString(Vak::PString("compression"), "BOGUS");
  }
  ASSERT_TRUE(package.Write(error, path.c_str())) << static_cast<const char*>(error);
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The asset folders of an installation, and the status line of each KUID.
struct State {
  e2e::Snapshot local, editing;
  std::vector<std::string> status;
  bool operator==(const State&) const = default;
};
State StateOf(const Installation& install, const std::vector<std::string>& kuids) {
  State state;
  for (const char* folder : {"local", "editing"}) {
    const std::string path = install.Root() + "/" + folder;
    (std::string(folder) == "local" ? state.local : state.editing) =
        std::filesystem::exists(path) ? e2e::TakeSnapshot(path) : e2e::Snapshot();
  }
  for (const std::string& kuid : kuids) state.status.push_back(install.Run({"status", kuid}).out);
  return state;
}

TEST(VelmarUtilStatusTest, StatusAndValidateOfInstalledAssets) {
  Installation install;
  InstallSamples(install);
  Result result = install.Run({"status", "<kuid:414141:1>"});
  EXPECT_EQ(result.code, 0) << result.out;
  EXPECT_EQ(result.out.rfind("+ <kuid:414141:1> : eIadLm", 0), 0u) << result.out;
  EXPECT_TRUE(Contains(result.out, " : Sample Shed\nOK (0 Errors, 0 Warnings)\n")) << result.out;

  ASSERT_EQ(install.Run({"edit", "<kuid:414141:2>"}).code, 0);
  result = install.Run({"status", "<KUID:414141:2>"});
  EXPECT_EQ(result.out.rfind("+ <kuid:414141:2> : EIadLm", 0), 0u) << result.out;

  result = install.Run({"validate", "<kuid:414141:1>"});
  EXPECT_EQ(result.code, 0) << result.out;
  EXPECT_EQ(result.err, "");
}

TEST(VelmarUtilStatusTest, DLSParseInstallsReportsAndWritesEachAssetBesideThePackage) {
  Installation source("source");
  InstallSamples(source);
  const std::string folder = source.Scratch("station");
  std::filesystem::create_directories(folder);
  const std::string package = folder + "/Two.cdp";
  ASSERT_EQ(source.Run({"createcdp", package, "<kuid:414141:1>", "<kuid:414141:2>"}).code, 0);
  Rework(package, kPackageThumbnail.c_str(), nullptr);

  Installation install;
  Result result = install.Run({"dlsparse", package});
  EXPECT_EQ(result.code, 0) << result.out;
  EXPECT_EQ(result.err, "");
  for (const char* line : {"+ <kuid:414141:1> : eIadLm", "+ <kuid:414141:2> : eIadLm", "; <kuid:414141:1> : Name: Sample Shed\n",
                           "; <kuid:414141:2> : Name: Sample Wagon\n", "; <kuid:414141:1> : Description: A sample asset.\n",
                           "; <kuid:414141:1> : Velmar-build: 3.1\n", "; <kuid:414141:1> : Dependencies: \n",
                           "; <kuid:414141:1> : Obsoletes: \n", "; <kuid:414141:1> : kind: scenery\n",
                           "; <kuid:414141:2> : kind: traincar\n", "; <kuid:414141:1> : alias-kuid: <NULL>\n",
                           "; <kuid:414141:1> : category-region: AU\n", "; <kuid:414141:1> : category-era: \n",
                           "; <kuid:414141:1> : category-class: \n"})
    EXPECT_TRUE(Contains(result.out, line)) << line << "\n" << result.out;
  EXPECT_TRUE(Contains(result.out, "OK (0 Errors, 0 Warnings)\n")) << result.out;

  EXPECT_EQ(e2e::ReadText(folder + "/kuid 414141 1.jpg"), kThumbnailJpg);
  EXPECT_EQ(e2e::ReadText(folder + "/kuid 414141 2.jpg"), kPackageThumbnail);
  for (const char* name : {"kuid 414141 1.cdp", "kuid 414141 2.cdp"}) {
    ContentPackage alone;
    Vak::String error;
    ASSERT_TRUE(alone.Read(error, "", (folder + "/" + name).c_str())) << name;
    EXPECT_EQ(alone.GetAssetCount(), 1) << name;
  }
  // The assets are committed.
  EXPECT_EQ(install.Run({"status", "<kuid:414141:2>"}).out.rfind("+ <kuid:414141:2> : eIadLm", 0), 0u);

  // A second run over the same package replaces what the first wrote.
  e2e::WriteText(folder + "/kuid 414141 1.jpg", "stale");
  e2e::WriteText(folder + "/kuid 414141 2.jpg", "stale");
  result = install.Run({"dlsparse", package});
  EXPECT_EQ(result.code, 0) << result.out;
  EXPECT_EQ(e2e::ReadText(folder + "/kuid 414141 1.jpg"), kThumbnailJpg);
  EXPECT_EQ(e2e::ReadText(folder + "/kuid 414141 2.jpg"), kPackageThumbnail);
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    EXPECT_EQ(entry.path().extension(), entry.path().extension() == ".cdp" ? ".cdp" : ".jpg") << entry.path();
}

TEST(VelmarUtilStatusTest, AFailedInstallUndoesTheWholePackage) {
  Installation source("source");
  InstallSamples(source);
  const std::string package = source.Scratch("Three.cdp");
  ASSERT_EQ(source.Run({"createcdp", package, "<kuid:414141:1>", "<kuid:414141:2>", "<kuid:414141:3>"}).code, 0);
  const KUID van(414141, 3, 0);
  Rework(package, nullptr, &van);

  // The shed is installed here already and is replaced; the wagon is new.
  Installation install;
  const std::string shedOnly = install.Scratch("shed-only");
  std::filesystem::copy(install.Samples() + "/assets/shed", shedOnly, std::filesystem::copy_options::recursive);
  ASSERT_EQ(install.Run({"installfrompath", shedOnly}).code, 0);
  ASSERT_EQ(install.Run({"commit", "<kuid:414141:1>"}).code, 0);
  const std::vector<std::string> kuids = {"<kuid:414141:1>", "<kuid:414141:2>", "<kuid:414141:3>"};
  const State before = StateOf(install, kuids);
  ASSERT_TRUE(Contains(before.status[1], "Unknown AssetID.")) << before.status[1];

  const Result result = install.Run({"dlsparse", package});
  EXPECT_EQ(result.code, 255);
  EXPECT_TRUE(Contains(result.out, "- <NULL> : Aborted processing\n")) << result.out;
  EXPECT_EQ(StateOf(install, kuids), before);
  EXPECT_FALSE(std::filesystem::exists(source.Scratch("kuid 414141 1.cdp")));
}

TEST(VelmarUtilStatusTest, RepairDatabaseInEachModeAndAfterAFolderWasRemoved) {
  Installation install;
  // Committed assets keep their config as text: a healthy installation,
  // which the repair must not report as damaged.
  InstallSamples(install);
  const std::string line = "Repairing asset database (this may take some time)\n";
  struct Case {
    std::vector<std::string> arguments;
    std::string out;
  };
  const Case cases[] = {
      {{"repairdatabase"}, line},
      {{"repairdatabase", "EXTENDED"}, line},
      {{"repairdatabase", "other"}, line},
      {{"repairdatabase", "patcher"}, ""},
  };
  for (const Case& c : cases) {
    const Result result = install.Run(c.arguments);
    EXPECT_EQ(result.out, c.out + "OK (0 Errors, 0 Warnings)\n") << c.arguments.back();
    EXPECT_EQ(result.code, 0) << c.arguments.back();
  }

  // The wagon's folder goes behind the database's back.
  std::string wagon;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(install.Root() + "/local"))
    if (entry.path().filename() == "config.txt" && Contains(e2e::ReadText(entry.path().string()), "Sample Wagon"))
      wagon = entry.path().parent_path().string();
  ASSERT_FALSE(wagon.empty());
  std::filesystem::remove_all(wagon);
  EXPECT_EQ(install.Run({"repairdatabase"}).code, 0);
  // The record stays, with no location left.
  const Result status = install.Run({"status", "<kuid:414141:2>"});
  EXPECT_EQ(status.out.rfind("+ <kuid:414141:2> : eiadlm", 0), 0u) << status.out;
  EXPECT_EQ(install.Run({"status", "<kuid:414141:1>"}).code, 0);
}

} // namespace
