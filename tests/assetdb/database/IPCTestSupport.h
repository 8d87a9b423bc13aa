#pragma once
// For the tests of the ownership controller and the index lock: a database
// folder of its own per test, and peer processes (the ipc_peer program) that
// run a list of steps and report each one as a line of their output file.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Vak/Bexlorn/ByteOrder.h"
#include "assetdb/VADIPC.h"
#include "platform/os/FileSystem.h"
#include "platform/os/NamedMutex.h"
#include "platform/os/Process.h"
#include "platform/os/SharedMemory.h"
#include "platform/os/Waitable.h"
#include "tests/assetdb/TestSupport.h"
#include "tests/platform/os/TempFolder.h"

namespace ipctest {

inline std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A database folder ("db" in a fresh temporary folder). At the end the
// controller is closed, and the last to close has taken the machine-wide
// files named after it away (whatever is left is removed after the check).
class Database {
public:
  Database() {
    root_ = folder_ / "db";
    EXPECT_EQ(platform::MakeFolder(root_.c_str()), platform::Error::None);
    index_ = root_ + "/assets.tdx";
  }
  ~Database() {
    IPCClose();
    Vak::File::Path mutexName, sharedName;
    if (!IPCFormNames(index_.c_str(), mutexName, sharedName)) return;
    EXPECT_FALSE(platform::Exists(ObjectPath(sharedName).c_str())) << "record file left behind";
    EXPECT_FALSE(platform::Exists(ObjectPath(mutexName).c_str())) << "mutex file left behind";
    platform::DeleteFile(ObjectPath(sharedName).c_str());
    platform::DeleteFile(ObjectPath(mutexName).c_str());
  }
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  static std::string ObjectPath(const char* name) {
    return platform::MachineObjectFolder() + "/" + platform::MachineObjectFileName(name);
  }
  const std::string& Root() const { return root_; }
  const std::string& Index() const { return index_; }
  std::string Scratch(const std::string& name) const { return folder_ / name; }
  // Makes a marker file that peers await.
  void Signal(const std::string& name) const { folder_.WriteFile(name, "go"); }
  std::string SharedName() const {
    Vak::File::Path mutexName, sharedName;
    EXPECT_TRUE(IPCFormNames(index_.c_str(), mutexName, sharedName));
    return std::string(sharedName);
  }
  std::string MutexName() const {
    Vak::File::Path mutexName, sharedName;
    EXPECT_TRUE(IPCFormNames(index_.c_str(), mutexName, sharedName));
    return std::string(mutexName);
  }

private:
  platform::test::TempFolder folder_;
  std::string root_;
  std::string index_;
};

// One ipc_peer process.
class Peer {
public:
  Peer(const Database& db, const std::string& name, const std::vector<std::string>& steps)
      : output_(db.Scratch(name + ".out")) {
    std::vector<std::string> arguments{IPC_PEER_PATH, output_, db.Index()};
    arguments.insert(arguments.end(), steps.begin(), steps.end());
    EXPECT_EQ(process_.Start(arguments), platform::Error::None);
    EXPECT_TRUE(WaitUntil([&] { return Output().find("pid ") == 0 && Output().find('\n') != std::string::npos; }));
    pid_ = std::stoi(Output().substr(4));
  }
  ~Peer() {
    process_.Kill();
    process_.Wait(platform::kInfinite);
  }
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  std::string Output() const { return ReadText(output_); }
  bool Has(const std::string& line) const { return Output().find(line + "\n") != std::string::npos; }
  // Waits until the output holds `line`.
  bool Reaches(const std::string& line) const { return WaitUntil([&] { return Has(line); }); }
  int32_t Pid() const { return pid_; }
  // SIGKILL, then reaped, so that it no longer counts as alive.
  void Kill() {
    process_.Kill();
    process_.Wait(platform::kInfinite);
  }
  bool Ends() { return process_.Wait(20000) && process_.ExitCode() == 0; }

private:
  std::string output_;
  platform::Process process_;
  int32_t pid_ = 0;
};

inline IPCRecordFields Record() {
  IPCRecordFields fields;
  EXPECT_TRUE(IPCReadRecord(fields));
  return fields;
}

} // namespace ipctest

namespace ipctest {

// The database's record seen through a mapping of its own, as a foreign
// process would see it: for bytes the controller must have written and for
// fields only other systems set. Attach while the record exists.
class RecordBytes {
public:
  explicit RecordBytes(const Database& db) : mutexName_(db.MutexName()) {
    bool first = true;
    EXPECT_EQ(memory_.Attach(platform::MachineObjectFolder().c_str(), db.SharedName().c_str(), ipc_record::kSize,
                             first),
              platform::Error::None);
    EXPECT_FALSE(first) << "no record to look at";
  }
  // Leaves as every process that shares the record does: the last to go
  // takes both files away while it holds the mutex.
  ~RecordBytes() {
    platform::NamedMutex mutex;
    if (mutex.Open(platform::MachineObjectFolder().c_str(), platform::MachineObjectFileName(mutexName_.c_str()).c_str()) !=
            platform::Error::None ||
        !mutex.Lock(platform::kInfinite))
      return;
    if (memory_.Detach()) mutex.Remove();
    mutex.Unlock();
  }
  RecordBytes(const RecordBytes&) = delete;
  RecordBytes& operator=(const RecordBytes&) = delete;
  uint32_t Get32(uint32_t offset) const { return Vak::GetLE32(memory_.Data() + offset); }
  void Put32(uint32_t offset, uint32_t value) { Vak::PutLE32(memory_.Data() + offset, value); }
  uint8_t Get8(uint32_t offset) const { return memory_.Data()[offset]; }
  void Put8(uint32_t offset, uint8_t value) { memory_.Data()[offset] = value; }
  const uint8_t* Data() const { return memory_.Data(); }

private:
  std::string mutexName_;
  platform::SharedMemory memory_;
};

} // namespace ipctest
