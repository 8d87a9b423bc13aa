#include "platform/os/NamedMutex.h"
#include "platform/os/Thread.h"

#include "tests/platform/os/PrintError.h"
#include "tests/platform/os/TempFolder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace platform {
namespace {

unsigned TryLockElsewhere(void* p) {
  auto* m = static_cast<NamedMutex*>(p);
  bool got = m->Lock(1);
  if (got) m->Unlock();
  return got ? 1 : 0;
}

// Whether another thread of this process can take `m` now.
bool OtherThreadGetsIt(NamedMutex& m) {
  Thread t(TryLockElsewhere, &m, true);
  t.WaitOne(kInfinite);
  return t.ExitCode() == 1;
}

TEST(NamedMutexTest, RecursivePerThreadAndSharedBetweenObjects) {
  test::TempFolder folder;
  NamedMutex a, b;
  ASSERT_EQ(a.Open(folder.Path().c_str(), "Global\\db/lock"), Error::None);
  EXPECT_TRUE(folder.Has("Global_db_lock"));
  EXPECT_EQ(a.Open(folder.Path().c_str(), "x"), Error::InvalidArgument);
  ASSERT_EQ(b.Open(folder.Path().c_str(), "Global\\db/lock"), Error::None);

  EXPECT_FALSE(a.Unlock());
  ASSERT_TRUE(a.Lock(0));
  EXPECT_TRUE(b.Lock(0));  // the same mutex, already this thread's
  EXPECT_FALSE(OtherThreadGetsIt(a));
  EXPECT_FALSE(OtherThreadGetsIt(b));
  EXPECT_TRUE(a.Unlock());
  EXPECT_FALSE(OtherThreadGetsIt(b));
  EXPECT_TRUE(b.Unlock());
  EXPECT_FALSE(a.Unlock());
  EXPECT_TRUE(OtherThreadGetsIt(a));
}

TEST(NamedMutexTest, ClosedOrBadlyOpenedRefuses) {
  test::TempFolder folder;
  NamedMutex m;
  EXPECT_FALSE(m.Lock(0));
  EXPECT_EQ(m.Open(folder.Path().c_str(), ""), Error::InvalidArgument);
  EXPECT_NE(m.Open((folder / "missing").c_str(), "m"), Error::None);
  EXPECT_FALSE(m.IsOpen());
}

// A child process that opens the mutex, takes it, reports through `ready`, then
// waits for a byte on `go` before releasing it and exiting.
pid_t HoldInChild(const std::string& folder, int ready, int go) {
  pid_t pid = ::fork();
  if (pid != 0) return pid;
  NamedMutex m;
  char c = 0;
  if (m.Open(folder.c_str(), "shared") != Error::None || !m.Lock(kInfinite)) ::_exit(2);
  if (::write(ready, "r", 1) != 1) ::_exit(3);
  if (::read(go, &c, 1) != 1) ::_exit(4);
  m.Unlock();
  ::_exit(0);
}

TEST(NamedMutexTest, ExcludesOtherProcessesAndSurvivesAnOwnerThatDies) {
  test::TempFolder folder;
  NamedMutex m;
  ASSERT_EQ(m.Open(folder.Path().c_str(), "shared"), Error::None);

  for (bool kill : {false, true}) {
    SCOPED_TRACE(kill ? "owner killed" : "owner releases");
    int ready[2], go[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(go), 0);
    pid_t child = HoldInChild(folder.Path().string(), ready[1], go[0]);
    ASSERT_GT(child, 0);
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    EXPECT_FALSE(m.Lock(2));
    if (kill)
      ::kill(child, SIGKILL);
    else
      EXPECT_EQ(::write(go[1], "g", 1), 1);
    EXPECT_TRUE(m.Lock(kInfinite));
    int status = 0;
    ::waitpid(child, &status, 0);
    if (kill)
      EXPECT_TRUE(WIFSIGNALED(status));
    else
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(m.Unlock());
    for (int fd : {ready[0], ready[1], go[0], go[1]}) ::close(fd);
  }
}

// A child that takes the mutex, removes its file and ends.
pid_t RemoveInChild(const std::string& folder) {
  pid_t pid = ::fork();
  if (pid != 0) return pid;
  NamedMutex m;
  if (m.Open(folder.c_str(), "shared") != Error::None || !m.Lock(kInfinite) || !m.Remove()) ::_exit(2);
  m.Unlock();
  ::_exit(0);
}

// A child that answers whether it can take the mutex at once.
bool ChildGetsIt(const std::string& folder) {
  pid_t pid = ::fork();
  if (pid == 0) {
    NamedMutex m;
    ::_exit(m.Open(folder.c_str(), "shared") == Error::None && m.Lock(0) ? 0 : 1);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(NamedMutexTest, ATakerOfARemovedFileHoldsTheNameAfresh) {
  test::TempFolder folder;
  const std::string dir = folder.Path().string();
  NamedMutex m;
  ASSERT_EQ(m.Open(dir.c_str(), "shared"), Error::None);  // the file that goes
  const pid_t child = RemoveInChild(dir);
  ASSERT_GT(child, 0);
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_FALSE(folder.Has("shared"));

  ASSERT_TRUE(m.Lock(kInfinite));
  EXPECT_TRUE(folder.Has("shared"));
  EXPECT_FALSE(ChildGetsIt(dir));
  EXPECT_TRUE(m.Unlock());
  EXPECT_TRUE(ChildGetsIt(dir));

  EXPECT_FALSE(m.Remove());  // not held
  ASSERT_TRUE(m.Lock(kInfinite));
  EXPECT_TRUE(m.Remove());
  EXPECT_FALSE(folder.Has("shared"));
  EXPECT_TRUE(m.Unlock());
}

} // namespace
} // namespace platform
