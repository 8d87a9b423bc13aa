#include "assetdb/VADIPC.h"

#include "IPCTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "Vak/Bexlorn/CodePage.h"
#include "Vak/Bexlorn/Thread.h"
#include "platform/os/NamedMutex.h"
#include "content/AppGlobals.h"
#include "tests/assetdb/FakeDisplay.h"
#include "tests/content/LogCapture.h"

namespace {

using ipctest::Database;
using ipctest::Peer;
using ipctest::Record;
using ipctest::RecordBytes;

constexpr char kNameBase[] = "09731AC6-B611-4e2a-B181-578073F64F24";

int32_t Self() { return static_cast<int32_t>(Vak::Thread::GetProcessId()); }

std::string Lower(std::string text) {
  for (char& c : text) c = Vak::CodePage::AsciiLower(c);
  return text;
}

// Another window of at most `ms` in which something that must not happen
// could show itself.
void Linger(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

TEST(VADIPCTest, NamesComeFromTheResolvedFolderInLowerCase) {
  Database db;
  ASSERT_EQ(platform::MakeFolder((db.Root() + "/Sub").c_str()), platform::Error::None);
  const std::string sub = db.Root() + "/Sub";
  const std::string expected = std::string(kNameBase) + Lower(sub);
  struct Case {
    std::string path;
    bool accepted;
  };
  const Case cases[] = {
      {sub + "/assets.tdx", true},
      {sub + "/ASSETS.TDX", true},
      {db.Root() + "/SUB/Assets.Tdx", true},
      {db.Root() + "\\sub\\assets.tdx", true},
      {db.Root() + "/sub/../Sub/./assets.tdx", true},
      {sub + "/assets.tdx.bak", false},
      {sub + "/assets.tdy", false},
      {sub + "/missing/assets.tdx", false},
      {"ssets.tdx", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    Vak::File::Path mutexName("unchanged"), sharedName("unchanged");
    EXPECT_EQ(IPCFormNames(c.path.c_str(), mutexName, sharedName), c.accepted);
    if (c.accepted) {
      EXPECT_EQ(std::string(mutexName), expected);
      EXPECT_EQ(std::string(sharedName), expected + "/-ipc2");
    } else {
      EXPECT_STREQ(mutexName, "unchanged");
      EXPECT_FALSE(IPCOpen(c.path.c_str(), false));
      EXPECT_FALSE(IPCIsOpen());
    }
  }
}

TEST(VADIPCTest, TheCreatorWritesTheRecordFieldByField) {
  Database db;
  ASSERT_TRUE(IPCOpen(db.Index().c_str(), false));
  EXPECT_TRUE(IPCOpen("not a database", false));  // open already
  EXPECT_TRUE(platform::Exists(Database::ObjectPath(db.SharedName().c_str()).c_str()));
  EXPECT_TRUE(platform::Exists(Database::ObjectPath(db.MutexName().c_str()).c_str()));

  RecordBytes bytes(db);
  const int32_t self = Self();
  const uint8_t expected[32] = {
      static_cast<uint8_t>(self), static_cast<uint8_t>(self >> 8), static_cast<uint8_t>(self >> 16),
      static_cast<uint8_t>(self >> 24), 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 2, 0, 0, 0, 1};
  EXPECT_EQ(std::vector<uint8_t>(bytes.Data(), bytes.Data() + 32), std::vector<uint8_t>(expected, expected + 32));

  EXPECT_EQ(IPCLocalChangeCounter(), -1);
  EXPECT_TRUE(IPCChangeCounterDiffers());
  IPCTakeChangeCounter();
  EXPECT_FALSE(IPCChangeCounterDiffers());
  IPCRaiseChangeCounter();
  IPCRaiseChangeCounter();
  EXPECT_EQ(bytes.Get32(ipc_record::kChangeCounter), 2u);
  EXPECT_EQ(IPCLocalChangeCounter(), 2);
  bytes.Put32(ipc_record::kChangeCounter, 0x01020304);  // another process wrote
  EXPECT_TRUE(IPCChangeCounterDiffers());
  IPCTakeChangeCounter();
  EXPECT_EQ(IPCLocalChangeCounter(), 0x01020304);

  EXPECT_FALSE(IPCIsOwner());
  EXPECT_TRUE(IPCTryTakeOwnership(false));
  EXPECT_TRUE(IPCIsOwner());
  EXPECT_EQ(bytes.Get32(ipc_record::kOwner), static_cast<uint32_t>(self));
  IPCReleaseOwnership();
  EXPECT_EQ(bytes.Get32(ipc_record::kOwner), 0xFFFFFFFFu);

  IPCClose();
  EXPECT_FALSE(IPCIsOpen());
  EXPECT_EQ(bytes.Get32(ipc_record::kCreator), 0xFFFFFFFFu);
  EXPECT_EQ(bytes.Get8(ipc_record::kAttachCount), 0);
  EXPECT_FALSE(IPCTryTakeOwnership(true));
}

TEST(VADIPCTest, ARefusedAttachLeavesNothingOpen) {
  Database db;
  Peer creator(db, "creator", {"open", "await:" + db.Scratch("end"), "close"});
  ASSERT_TRUE(creator.Reaches("open 1"));
  RecordBytes bytes(db);
  struct Case {
    uint32_t exclusive;
    uint8_t sharedAllowed;
    bool allowShared;
    bool attaches;
  };
  const Case cases[] = {
      {1, 0, false, false}, {1, 0, true, false}, {1, 1, false, false},
      {1, 1, true, true},   {0, 0, false, true}, {0, 1, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "exclusive " << c.exclusive << " shared allowed " << int(c.sharedAllowed)
                                    << " patcher " << c.allowShared);
    bytes.Put32(ipc_record::kExclusive, c.exclusive);
    bytes.Put8(ipc_record::kSharedAttachAllowed, c.sharedAllowed);
    bytes.Put8(ipc_record::kAttachCount, 1);
    EXPECT_EQ(IPCOpen(db.Index().c_str(), c.allowShared), c.attaches);
    EXPECT_EQ(IPCIsOpen(), c.attaches);
    EXPECT_EQ(bytes.Get8(ipc_record::kAttachCount), c.attaches ? 2 : 1);
    EXPECT_EQ(IPCTryTakeOwnership(true), c.attaches);
    EXPECT_EQ(bytes.Get32(ipc_record::kCreator), static_cast<uint32_t>(creator.Pid()));
    IPCClose();
  }
  db.Signal("end");
  EXPECT_TRUE(creator.Ends());
}

// The mutex's file and the record's both go with the last process, so none
// piles up per database ever opened.
TEST(VADIPCTest, TheLastToCloseTakesTheMachineFilesAway) {
  Database db;
  const std::string mutexFile = Database::ObjectPath(db.MutexName().c_str());
  const std::string recordFile = Database::ObjectPath(db.SharedName().c_str());
  ASSERT_TRUE(IPCOpen(db.Index().c_str(), false));
  Peer other(db, "other", {"open", "close"});
  EXPECT_TRUE(other.Ends());
  EXPECT_TRUE(platform::Exists(mutexFile.c_str()));
  EXPECT_TRUE(platform::Exists(recordFile.c_str()));
  IPCClose();
  EXPECT_FALSE(platform::Exists(mutexFile.c_str()));
  EXPECT_FALSE(platform::Exists(recordFile.c_str()));
  // The next opener makes them afresh.
  ASSERT_TRUE(IPCOpen(db.Index().c_str(), false));
  EXPECT_EQ(Record().creator, Self());
  EXPECT_TRUE(platform::Exists(mutexFile.c_str()));
}

TEST(VADIPCTest, AttachCountsAcrossProcesses) {
  Database db;
  Peer first(db, "first", {"open", "record", "await:" + db.Scratch("end"), "close"});
  ASSERT_TRUE(first.Reaches("open 1"));
  const std::string fresh = "creator=" + std::to_string(first.Pid()) + " owner=-1 requester=-1 counter=0";
  EXPECT_TRUE(first.Reaches("record " + fresh + " version=2 attach=1")) << first.Output();

  ASSERT_TRUE(IPCOpen(db.Index().c_str(), false));
  EXPECT_EQ(Record().attachCount, 2);
  EXPECT_EQ(Record().creator, first.Pid());

  // A record whose version is 0 was made by a program that does not count.
  RecordBytes bytes(db);
  bytes.Put32(ipc_record::kVersion, 0);
  for (uint8_t before : {2, 7}) {
    bytes.Put8(ipc_record::kAttachCount, before);
    Peer next(db, "next" + std::to_string(before), {"open", "record"});
    ASSERT_TRUE(next.Reaches("open 1"));
    EXPECT_TRUE(next.Ends());
    EXPECT_TRUE(next.Has("record " + fresh + " version=0 attach=255")) << next.Output();
  }
  db.Signal("end");
  EXPECT_TRUE(first.Ends());
}

TEST(VADIPCTest, AnOpenerWaitsForTheMutexBeforeAttaching) {
  Database db;
  ASSERT_TRUE(IPCOpen(db.Index().c_str(), false));
  platform::NamedMutex mutex;
  ASSERT_EQ(mutex.Open(platform::MachineObjectFolder().c_str(),
                       platform::MachineObjectFileName(db.MutexName().c_str()).c_str()),
            platform::Error::None);
  ASSERT_TRUE(mutex.Lock(platform::kInfinite));  // as a creator still filling the record would
  Peer opener(db, "opener", {"open", "record", "close"});
  Linger(150);
  EXPECT_FALSE(opener.Has("open 1"));
  EXPECT_EQ(Record().attachCount, 1);
  ASSERT_TRUE(mutex.Unlock());
  EXPECT_TRUE(opener.Reaches("open 1"));
  EXPECT_TRUE(opener.Ends());
  EXPECT_NE(opener.Output().find("attach=2"), std::string::npos) << opener.Output();
}

TEST(VADIPCTest, GivingUpOwnershipWaitsForTheMutex) {
  struct Case {
    const char* name;
    void (*giveUp)();
  };
  const Case cases[] = {{"release", IPCReleaseOwnership}, {"close", IPCClose}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Database db;
    ASSERT_TRUE(IPCOpen(db.Index().c_str(), false));
    ASSERT_TRUE(IPCTryTakeOwnership(false));
    RecordBytes bytes(db);
    platform::NamedMutex mutex;
    ASSERT_EQ(mutex.Open(platform::MachineObjectFolder().c_str(),
                         platform::MachineObjectFileName(db.MutexName().c_str()).c_str()),
              platform::Error::None);
    ASSERT_TRUE(mutex.Lock(platform::kInfinite));
    std::atomic<bool> done{false};
    std::thread giver([&] {
      c.giveUp();
      done = true;
    });
    Linger(50);
    EXPECT_FALSE(done.load());
    EXPECT_EQ(bytes.Get32(ipc_record::kOwner), static_cast<uint32_t>(Self()));
    ASSERT_TRUE(mutex.Unlock());
    giver.join();
    EXPECT_EQ(bytes.Get32(ipc_record::kOwner), 0xFFFFFFFFu);
  }
}

TEST(VADIPCTest, ATryWithoutRequestLeavesTheRequesterAlone) {
  Database db;
  Peer owner(db, "owner", {"open", "take", "await:" + db.Scratch("end"), "close"});
  ASSERT_TRUE(owner.Reaches("take 1"));
  ASSERT_TRUE(IPCOpen(db.Index().c_str(), false));
  EXPECT_FALSE(IPCTryTakeOwnership(false));
  EXPECT_EQ(Record().requester, -1);
  EXPECT_EQ(Record().owner, owner.Pid());
  EXPECT_FALSE(IPCTryTakeOwnership(true));
  EXPECT_EQ(Record().requester, Self());
  EXPECT_FALSE(IPCIsOwner());
  {
    // A process that leaves gives its turn up.
    RecordBytes bytes(db);
    IPCClose();
    EXPECT_EQ(bytes.Get32(ipc_record::kRequester), 0xFFFFFFFFu);
    EXPECT_EQ(bytes.Get32(ipc_record::kOwner), static_cast<uint32_t>(owner.Pid()));
  }
  ASSERT_TRUE(IPCOpen(db.Index().c_str(), false));
  EXPECT_FALSE(IPCTryTakeOwnership(true));
  db.Signal("end");
  EXPECT_TRUE(owner.Ends());
  // The owner left; this process was next.
  EXPECT_TRUE(IPCTryTakeOwnership(false));
  EXPECT_EQ(Record().requester, -1);
}

TEST(VADIPCTest, AWaiterFollowsAnOwnerThatGivesUp) {
  for (const char* giveUp : {"release", "close"}) {
    SCOPED_TRACE(giveUp);
    Database db;
    ASSERT_TRUE(IPCOpen(db.Index().c_str(), false));
    Peer owner(db, "owner", {"open", "take", "await:" + db.Scratch("go"), giveUp, "await:" + db.Scratch("end")});
    ASSERT_TRUE(owner.Reaches("take 1"));
    Peer waiter(db, "waiter", {"open", "wait", "close"});
    ASSERT_TRUE(WaitUntil([&] { return Record().requester == waiter.Pid(); }));
    EXPECT_FALSE(waiter.Has("owner 1"));
    db.Signal("go");
    EXPECT_TRUE(waiter.Reaches("owner 1")) << waiter.Output();
    EXPECT_TRUE(waiter.Ends());
    EXPECT_EQ(Record().owner, -1);
    EXPECT_EQ(Record().requester, -1);
    db.Signal("end");
    EXPECT_TRUE(owner.Ends());
  }
}

TEST(VADIPCTest, TheMainThreadShowsTheBlockingScreenWhileItWaits) {
  Database db;
  SetMainThread();
  AttachedDisplay attached;
  ASSERT_TRUE(IPCOpen(db.Index().c_str(), false));
  Peer owner(db, "owner", {"open", "take", "await:" + db.Scratch("go"), "release", "close"});
  ASSERT_TRUE(owner.Reaches("take 1"));
  std::thread letGo([&] {
    EXPECT_TRUE(WaitUntil([&] { return Record().requester == Self(); }));
    EXPECT_EQ(BlockingScreen::Instance().ShowCount(), 1);
    db.Signal("go");
  });
  IPCWaitForOwnership();
  letGo.join();
  EXPECT_TRUE(IPCIsOwner());
  EXPECT_EQ(BlockingScreen::Instance().ShowCount(), 0);
  EXPECT_EQ(attached.display.loads.load(), 1);
  EXPECT_EQ(attached.display.releases.load(), 1);
  EXPECT_TRUE(owner.Ends());
}

TEST(VADIPCTest, AKilledOwnerIsClearedAndTheWaiterTakesOver) {
  for (bool ownerIsCreator : {false, true}) {
    SCOPED_TRACE(ownerIsCreator ? "owner created the record" : "this process created the record");
    Database db;
    content::test::LogCapture log;
    if (!ownerIsCreator) {
      ASSERT_TRUE(IPCOpen(db.Index().c_str(), false));
    }
    Peer owner(db, "owner", {"open", "take", "await:" + db.Scratch("never")});
    ASSERT_TRUE(owner.Reaches("take 1"));
    Peer waiter(db, "waiter", {"open", "wait", "close"});
    ASSERT_TRUE(waiter.Reaches("open 1"));
    RecordBytes bytes(db);
    ASSERT_TRUE(WaitUntil([&] { return bytes.Get32(ipc_record::kRequester) == static_cast<uint32_t>(waiter.Pid()); }));
    owner.Kill();

    const std::string line =
        "IPCIdle> clearing dead database owner (owner processID was " + std::to_string(owner.Pid()) + ")\n";
    // The creator's idle step clears the dead owner; the waiter idles on its own.
    EXPECT_TRUE(WaitUntil([&] {
      if (!ownerIsCreator) IPCIdle();
      return waiter.Has("owner 1");
    })) << waiter.Output();
    const std::string creatorLog = ownerIsCreator ? waiter.Output() : log.Text();
    EXPECT_NE(creatorLog.find(line), std::string::npos) << creatorLog;
    EXPECT_TRUE(waiter.Ends());
  }
}

TEST(VADIPCTest, ARecordLeftByTheDeadIsMadeAfresh) {
  Database db;
  {
    Peer gone(db, "gone", {"open", "take", "bump", "await:" + db.Scratch("never")});
    ASSERT_TRUE(gone.Reaches("bumped 1"));
    gone.Kill();
  }
  ASSERT_TRUE(platform::Exists(Database::ObjectPath(db.SharedName().c_str()).c_str()));
  ASSERT_TRUE(IPCOpen(db.Index().c_str(), false));
  const IPCRecordFields r = Record();
  EXPECT_EQ(r.creator, Self());
  EXPECT_EQ(r.owner, -1);
  EXPECT_EQ(r.changeCounter, 0);
  EXPECT_EQ(r.attachCount, 1);
  EXPECT_EQ(r.version, ipc_record::kCurrentVersion);
}

// A peer that opens, owns, writes and closes over and over is killed at a
// drawn moment; whatever it was doing, the next opener owns the database.
TEST(VADIPCTest, APeerKilledAtAnyMomentLeavesAUsableDatabase) {
  std::mt19937 random(20261210);
  std::vector<std::string> steps;
  for (int i = 0; i < 40; ++i) steps.insert(steps.end(), {"open", "take", "bump", "release", "close"});
  for (int round = 0; round < 5; ++round) {
    Database db;
    const int lines = std::uniform_int_distribution<int>(1, 150)(random);
    SCOPED_TRACE(testing::Message() << "killed after line " << lines);
    {
      Peer peer(db, "peer", steps);
      ASSERT_TRUE(WaitUntil([&] {
        const std::string out = peer.Output();
        return static_cast<int>(std::count(out.begin(), out.end(), '\n')) > lines;
      }));
      peer.Kill();
    }
    ASSERT_TRUE(IPCOpen(db.Index().c_str(), false));
    EXPECT_EQ(Record().attachCount, 1);
    EXPECT_EQ(Record().creator, Self());
    EXPECT_TRUE(IPCTryTakeOwnership(false));
  }
}

} // namespace
