#include "platform/os/SharedMemory.h"

#include "platform/os/FileSystem.h"
#include "platform/os/NamedMutex.h"
#include "platform/os/Waitable.h"

#include "tests/platform/os/PrintError.h"
#include "tests/platform/os/TempFolder.h"

#include <gtest/gtest.h>

#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace platform {
namespace {

TEST(SharedMemoryTest, AttachersShareTheBytesAndTheLastOneRemovesTheFile) {
  test::TempFolder folder;
  const std::string dir = folder.Path().string();
  SharedMemory a, b;
  bool first = false;
  ASSERT_EQ(a.Attach(dir.c_str(), "db\\x/rec", 32, first), Error::None);
  EXPECT_TRUE(first);
  EXPECT_TRUE(folder.Has("db_x_rec"));
  for (size_t i = 0; i < 32; ++i) EXPECT_EQ(a.Data()[i], 0) << i;
  a.Data()[5] = 0xAB;

  ASSERT_EQ(b.Attach(dir.c_str(), "db\\x/rec", 32, first), Error::None);
  EXPECT_FALSE(first);
  EXPECT_EQ(b.Data()[5], 0xAB);
  b.Data()[31] = 7;
  EXPECT_EQ(a.Data()[31], 7);
  EXPECT_EQ(b.Attach(dir.c_str(), "other", 32, first), Error::InvalidArgument);

  a.Detach();
  EXPECT_FALSE(a.IsAttached());
  EXPECT_TRUE(folder.Has("db_x_rec"));  // b is still attached
  b.Detach();
  EXPECT_FALSE(folder.Has("db_x_rec"));
}

TEST(SharedMemoryTest, AFileNobodyHoldsCountsAsNew) {
  test::TempFolder folder;
  folder.WriteFile("rec", std::string(40, '\x5A'));
  SharedMemory m;
  bool first = false;
  ASSERT_EQ(m.Attach(folder.Path().c_str(), "rec", 32, first), Error::None);
  EXPECT_TRUE(first);
  for (size_t i = 0; i < 32; ++i) EXPECT_EQ(m.Data()[i], 0) << i;
}

TEST(SharedMemoryTest, BadArgumentsAndMissingFolder) {
  test::TempFolder folder;
  SharedMemory m;
  bool first = true;
  EXPECT_EQ(m.Attach(folder.Path().c_str(), "", 32, first), Error::InvalidArgument);
  EXPECT_EQ(m.Attach(folder.Path().c_str(), "rec", 0, first), Error::InvalidArgument);
  EXPECT_NE(m.Attach((folder / "missing").c_str(), "rec", 32, first), Error::None);
  EXPECT_FALSE(m.IsAttached());
  EXPECT_FALSE(first);
}

// A child attaches, writes, reports through `ready` and waits to be killed.
pid_t AttachInChild(const std::string& folder, int ready) {
  pid_t pid = ::fork();
  if (pid != 0) return pid;
  SharedMemory m;
  bool first = false;
  if (m.Attach(folder.c_str(), "rec", 32, first) != Error::None) ::_exit(2);
  m.Data()[0] = 0x11;
  if (::write(ready, first ? "f" : "n", 1) != 1) ::_exit(3);
  for (;;) ::pause();
}

TEST(SharedMemoryTest, AnAttacherThatDiesLeavesTheFileUnattached) {
  test::TempFolder folder;
  const std::string dir = folder.Path().string();
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  pid_t child = AttachInChild(dir, ready[1]);
  ASSERT_GT(child, 0);
  char c = 0;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  EXPECT_EQ(c, 'f');
  {
    SharedMemory m;
    bool first = true;
    ASSERT_EQ(m.Attach(dir.c_str(), "rec", 32, first), Error::None);
    EXPECT_FALSE(first);  // the child holds it
    EXPECT_EQ(m.Data()[0], 0x11);
  }
  EXPECT_TRUE(folder.Has("rec"));  // not the last attacher
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  SharedMemory m;
  bool first = false;
  ASSERT_EQ(m.Attach(dir.c_str(), "rec", 32, first), Error::None);
  EXPECT_TRUE(first);
  EXPECT_EQ(m.Data()[0], 0);
  ::close(ready[0]);
  ::close(ready[1]);
}

// A record shared under a named mutex, used as the database's controller
// uses it: attach under the mutex; the last to detach removes the record and
// then the mutex's file while it still holds the mutex.
struct SharedUse {
  NamedMutex mutex;
  SharedMemory memory;

  bool Join(const std::string& folder) {
    bool first = false;
    if (mutex.Open(folder.c_str(), "lock") != Error::None || !mutex.Lock(kInfinite)) return false;
    const bool attached = memory.Attach(folder.c_str(), "rec", 32, first) == Error::None;
    mutex.Unlock();
    return attached;
  }
  void Leave() {
    mutex.Lock(kInfinite);
    if (memory.Detach()) mutex.Remove();
    mutex.Unlock();
    mutex.Close();
  }
};

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

TEST(SharedMemoryTest, MachineObjectsAreMadeForEveryUserWhateverTheUmask) {
  test::TempFolder folder;
  const mode_t saved = ::umask(077);
  SharedUse use;
  const bool joined = use.Join(folder.Path().string());
  ::umask(saved);
  ASSERT_TRUE(joined);
  EXPECT_EQ(ModeOf(folder / "lock"), 0666u);
  EXPECT_EQ(ModeOf(folder / "rec"), 0666u);
  use.Leave();
}

TEST(SharedMemoryTest, TheLastToLeaveRemovesBothFiles) {
  test::TempFolder folder;
  const std::string dir = folder.Path().string();
  SharedUse a, b;
  ASSERT_TRUE(a.Join(dir));
  ASSERT_TRUE(b.Join(dir));
  a.Leave();
  EXPECT_TRUE(folder.Has("lock"));
  EXPECT_TRUE(folder.Has("rec"));
  b.Leave();
  EXPECT_FALSE(folder.Has("lock"));
  EXPECT_FALSE(folder.Has("rec"));
}

// Processes that join and leave over and over, each checking in its turn
// that nobody else holds the mutex: one that waited for a file its last user
// removed must not hold the old file while another holds the new one.
TEST(SharedMemoryTest, JoiningWhileTheLastLeavesNeverSplitsTheMutex) {
  test::TempFolder folder;
  const std::string dir = folder.Path().string();
  const std::string marker = folder / "turn";
  std::vector<pid_t> children;
  for (int i = 0; i < 4; ++i) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      for (int round = 0; round < 150; ++round) {
        SharedUse use;
        if (!use.Join(dir)) ::_exit(2);
        use.mutex.Lock(kInfinite);
        const int fd = ::open(marker.c_str(), O_CREAT | O_EXCL | O_WRONLY, 0600);
        if (fd < 0) ::_exit(3);  // someone else is in its turn too
        ::close(fd);
        ::unlink(marker.c_str());
        use.mutex.Unlock();
        use.Leave();
      }
      ::_exit(0);
    }
    ASSERT_GT(pid, 0);
    children.push_back(pid);
  }
  for (pid_t child : children) {
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  EXPECT_FALSE(folder.Has("lock"));
  EXPECT_FALSE(folder.Has("rec"));
}

// Another user joins what root made, under root's usual umask.
TEST(SharedMemoryTest, AnotherUserJoinsWhatRootMade) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  test::TempFolder folder;
  const std::string dir = folder.Path().string();
  ASSERT_EQ(::chmod(dir.c_str(), 0755), 0);
  const mode_t saved = ::umask(022);
  SharedUse root;
  const bool joined = root.Join(dir);
  ::umask(saved);
  ASSERT_TRUE(joined);
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
        ::setresuid(65534, 65534, 65534) != 0)
      ::_exit(5);
    SharedUse other;
    if (!other.Join(dir)) ::_exit(2);
    other.memory.Data()[3] = 0x42;
    other.Leave();
    ::_exit(0);
  }
  ASSERT_GT(pid, 0);
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(root.memory.Data()[3], 0x42);
  root.Leave();
  EXPECT_FALSE(folder.Has("lock"));
}

TEST(SharedMemoryTest, LongNamesAreShortenedApart) {
  const std::string longA = std::string(300, 'a') + "/x";
  const std::string longB = std::string(300, 'a') + "/y";
  const std::string a = MachineObjectFileName(longA.c_str());
  const std::string b = MachineObjectFileName(longB.c_str());
  EXPECT_EQ(a.size(), static_cast<size_t>(NAME_MAX));
  EXPECT_EQ(b.size(), static_cast<size_t>(NAME_MAX));
  EXPECT_NE(a, b);
  EXPECT_EQ(a, MachineObjectFileName(longA.c_str()));
  EXPECT_EQ(a.find('/'), std::string::npos);
  const std::string exact(NAME_MAX, 'n');
  EXPECT_EQ(MachineObjectFileName(exact.c_str()), exact);
  EXPECT_EQ(MachineObjectFileName("g/a\\b"), "g_a_b");

  // A shortened name is a name the file system takes.
  test::TempFolder folder;
  SharedMemory m;
  bool first = false;
  EXPECT_EQ(m.Attach(folder.Path().c_str(), longA.c_str(), 32, first), Error::None);
}

TEST(SharedMemoryTest, TheMachineFolderIgnoresTheEnvironment) {
  FileInfo info;
  if (Stat("/dev/shm", info) != Error::None || !info.isFolder) GTEST_SKIP() << "no /dev/shm here";
  const char* old = ::getenv("TMPDIR");
  const std::string saved = old ? old : "";
  ::setenv("TMPDIR", "/nonexistent-tmp", 1);
  EXPECT_EQ(MachineObjectFolder(), "/dev/shm");
  if (old)
    ::setenv("TMPDIR", saved.c_str(), 1);
  else
    ::unsetenv("TMPDIR");
}

} // namespace
} // namespace platform
