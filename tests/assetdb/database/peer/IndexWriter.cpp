// A process that works on one database for the crash and two-process tests.
//   index_writer OUTPUT ROOT MODE [ARG...]
// Modes:
//   write-loop      opens the database, then adds record (500, n), n the
//                   record count, and writes the index, again and again;
//                   prints "wrote N" after each write that returned true.
//   kuid-loop       hands out KUIDs from the user's base, printing "kuid C"
//                   (the content id) after each.
//   add USER COUNT  opens the database, adds (USER, 0) to (USER, COUNT-1),
//                   each under an exclusive lock, shuts down and prints
//                   "done 1" when the index reached the disk.
// Each loop stops after a bounded number of steps, so a forgotten process
// ends by itself.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "assetdb/KuidBaseFile.h"
#include "assetdb/VADAssetIndex.h"
#include "assetdb/VADDatabase.h"
#include "assetdb/VADLock.h"
#include "content/AppGlobals.h"

namespace {

FILE* gOut = nullptr;
constexpr int kMaxSteps = 20000;

void Say(const char* what, long value) {
  std::fprintf(gOut, "%s %ld\n", what, value);
  std::fflush(gOut);
}

bool Open(const char* root) {
  VADStartBlock block;
  VADStartParams(block);
  std::strncpy(block.root, root, sizeof block.root - 1);
  return VADInit(block);
}

void AddRecord(const KUID& kuid) {
  VADLock lock;
  lock.Acquire(true);
  VADAssetInfo record;
  record.kuid = kuid;
  record.name = "written";
  gVadAssetIndex.Add(record);
  gVadAssetIndex.MarkDirty(VADAssetIndex::kDirtyRecords);
}

} // namespace

int main(int argc, char** argv) {
  if (argc < 4) return 1;
  gOut = std::fopen(argv[1], "a");
  if (!gOut) return 1;
  SetMainThread();
  const char* root = argv[2];
  const std::string mode = argv[3];
  if (mode == "kuid-loop") {
    KuidBaseFile::Init(root);
    for (int i = 0; i < kMaxSteps; ++i) Say("kuid", VADGenerateKuid().content);
    return 0;
  }
  if (!Open(root)) return 2;
  if (mode == "write-loop") {
    for (int i = 0; i < kMaxSteps; ++i) {
      uint32_t next;
      {
        VADLock lock;
        lock.Acquire(false);
        next = gVadAssetIndex.RecordCount();
      }
      AddRecord(KUID(500, static_cast<int32_t>(next), 0));
      if (VADThread_WriteDatabaseLocal()) Say("wrote", next);
    }
    return 0;
  }
  if (mode == "add" && argc >= 6) {
    const int user = std::atoi(argv[4]);
    const int count = std::atoi(argv[5]);
    for (int i = 0; i < count; ++i) AddRecord(KUID(user, i, 0));
    Say("done", VADShutdown() ? 1 : 0);
    return 0;
  }
  return 1;
}
