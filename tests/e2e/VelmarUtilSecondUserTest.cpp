// Two users on one installation: what one user's run leaves behind must not
// keep another who may write the installation out of it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/os/FileSystem.h"
#include "platform/os/SharedMemory.h"
#include "tests/e2e/E2ESupport.h"

namespace {

using e2e::Installation;
using e2e::Result;

constexpr char kSetpriv[] = "/usr/bin/setpriv";

// The files in the machine-wide folder that name this installation (the
// names hold its folder in lower case, separators made '_').
std::vector<std::string> MachineFilesOf(const std::string& root) {
  std::string mark;
  for (char c : root) mark += c == '/' ? '_' : static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  std::vector<platform::FolderEntry> entries;
  std::vector<std::string> found;
  if (platform::ListFolder(platform::MachineObjectFolder().c_str(), entries) != platform::Error::None) return found;
  for (const platform::FolderEntry& entry : entries)
    if (entry.name.find(mark) != std::string::npos) found.push_back(entry.name);
  return found;
}

TEST(VelmarUtilSecondUserTest, AnotherUserOpensAnInstallationRootOpenedBefore) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run as another user";
  if (::access(kSetpriv, X_OK) != 0) GTEST_SKIP() << "no setpriv";
  Installation install;
  Result result = install.Run({"version"});
  ASSERT_EQ(result.code, 0) << result.out << result.err;
  EXPECT_TRUE(MachineFilesOf(install.Root()).empty());

  // The installation becomes the other user's to write, and the folder that
  // holds it lets that user through.
  const std::string scratch = std::filesystem::path(install.Root()).parent_path().string();
  ASSERT_EQ(::chmod(scratch.c_str(), 0755), 0);
  ASSERT_EQ(e2e::RunProgram({"/bin/chown", "-R", "65534:65534", install.Root()}, scratch).code, 0);
  result = e2e::RunProgram(
      {kSetpriv, "--reuid=65534", "--regid=65534", "--clear-groups", install.Program(), "version"}, scratch);
  EXPECT_EQ(result.code, 0) << result.out << result.err;
  EXPECT_EQ(result.out.find("IPC"), std::string::npos) << result.out;
  EXPECT_EQ(result.out.rfind("Build ", 0), 0u) << result.out;
  EXPECT_TRUE(MachineFilesOf(install.Root()).empty());
}

} // namespace
