// A second process for the cross-process tests of the ownership controller.
//   ipc_peer OUTPUT INDEXPATH STEP...
// Runs the steps in order and appends one line per step to OUTPUT (the log's
// lines go there too). Steps: open, open-shared, take, take-noreq, wait,
// release, close, idle, record, bump, await:PATH (waits for a file to appear;
// exit code 2 after 30 s, so a forgotten peer ends by itself).
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "Vak/Bexlorn/Log.h"
#include "Vak/Bexlorn/Thread.h"
#include "assetdb/VADIPC.h"
#include "platform/os/FileSystem.h"

namespace {

FILE* gOut = nullptr;

void Say(const char* format, long a = 0, long b = 0, long c = 0, long d = 0, long e = 0, long f = 0) {
  std::fprintf(gOut, format, a, b, c, d, e, f);
  std::fputc('\n', gOut);
  std::fflush(gOut);
}

bool Await(const char* path) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!platform::Exists(path)) {
    if (std::chrono::steady_clock::now() > limit) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

} // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 1;
  gOut = std::fopen(argv[1], "a");
  if (gOut == nullptr) return 1;
  Vak::Log::SetStream(gOut);
  const char* indexPath = argv[2];
  Say("pid %ld", static_cast<long>(Vak::Thread::GetProcessId()));
  for (int i = 3; i < argc; ++i) {
    const std::string step = argv[i];
    if (step == "open" || step == "open-shared") {
      Say("open %ld", IPCOpen(indexPath, step == "open-shared"));
    } else if (step == "take" || step == "take-noreq") {
      Say("take %ld", IPCTryTakeOwnership(step == "take"));
    } else if (step == "wait") {
      IPCWaitForOwnership();
      Say("owner %ld", IPCIsOwner());
    } else if (step == "release") {
      IPCReleaseOwnership();
      Say("released");
    } else if (step == "close") {
      IPCClose();
      Say("closed");
    } else if (step == "idle") {
      IPCIdle();
      Say("idled");
    } else if (step == "bump") {
      IPCRaiseChangeCounter();
      Say("bumped %ld", IPCLocalChangeCounter());
    } else if (step == "record") {
      IPCRecordFields r;
      IPCReadRecord(r);
      Say("record creator=%ld owner=%ld requester=%ld counter=%ld version=%ld attach=%ld", r.creator, r.owner,
          r.requester, r.changeCounter, static_cast<long>(r.version), r.attachCount);
    } else if (step.compare(0, 6, "await:") == 0) {
      if (!Await(step.c_str() + 6)) return 2;
      Say("awaited");
    } else {
      Say("unknown step");
      return 1;
    }
  }
  Vak::Log::SetStream(nullptr);
  std::fclose(gOut);
  return 0;
}
