// The index lock against the standard library, and ownership passing between
// two processes against a pipe between the same two.
//
// BM_OwnerLockVsSharedMutex: an owner's uncontended VADLock acquire and
// release (exclusive, then shared) against std::shared_mutex lock and unlock
// of the same kind; "vadlock/shared_mutex" is the time ratio.
// BM_HandOverVsPipe: a forked second process and this one pass ownership of
// one database back and forth (each hands over once the other has asked), and
// send one byte back and forth through two pipes; "handover/pipe" compares
// one round of each.
#include <benchmark/benchmark.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <shared_mutex>
#include <string>
#include <thread>

#include "bench/BenchScratch.h"
#include "assetdb/VADIPC.h"
#include "assetdb/VADLock.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

class OpenCycle : public VADLoadCycle {
public:
  bool IsDatabaseOpen() override { return true; }
  void Reload() override {}
  void StartRefreshThread() override {}
};

std::string IndexPath() {
  static const std::string root = [] {
    std::string path = bench::ScratchPath("lockdb");
    ::mkdir(path.c_str(), 0777);
    return path;
  }();
  return root + "/assets.tdx";
}

void BM_OwnerLockVsSharedMutex(benchmark::State& state) {
  constexpr int kRounds = 1000000;
  OpenCycle cycle;
  VADLock::SetLoadCycle(&cycle);
  if (!IPCOpen(IndexPath().c_str(), false)) {
    state.SkipWithError("IPCOpen failed");
    return;
  }
  {
    VADLock first;  // loads, and takes ownership
    first.Acquire(true);
  }
  std::shared_mutex mutex;
  double lockTime = 0, mutexTime = 0;
  for (auto _ : state) {
    for (bool exclusive : {true, false}) {
      auto start = Clock::now();
      for (int i = 0; i < kRounds; ++i) {
        VADLock lock;
        benchmark::DoNotOptimize(lock.Acquire(exclusive).State());
      }
      lockTime += Seconds(start);
      start = Clock::now();
      for (int i = 0; i < kRounds; ++i) {
        if (exclusive) {
          mutex.lock();
          benchmark::ClobberMemory();
          mutex.unlock();
        } else {
          mutex.lock_shared();
          benchmark::ClobberMemory();
          mutex.unlock_shared();
        }
      }
      mutexTime += Seconds(start);
    }
  }
  IPCClose();
  VADLock::SetLoadCycle(nullptr);
  const double holds = 2.0 * kRounds * static_cast<double>(state.iterations());
  state.counters["vadlock_ns"] = lockTime / holds * 1e9;
  state.counters["shared_mutex_ns"] = mutexTime / holds * 1e9;
  state.counters["vadlock/shared_mutex"] = lockTime / mutexTime;
}
BENCHMARK(BM_OwnerLockVsSharedMutex)->Iterations(3)->Unit(benchmark::kMillisecond);

// Spins until the other process has asked for ownership.
void AwaitRequest(int32_t other) {
  IPCRecordFields fields;
  while (IPCReadRecord(fields) && fields.requester != other) std::this_thread::yield();
}

bool ReadByte(int fd, char& c) { return ::read(fd, &c, 1) == 1; }
bool WriteByte(int fd, char c) { return ::write(fd, &c, 1) == 1; }

// The second process: echoes 'p'; on 'h' and a count it takes ownership that
// many times, each time handing it back once this process asks.
[[noreturn]] void Peer(int in, int out, int parentIn, int parentOut, int32_t parent) {
  ::close(parentIn);
  ::close(parentOut);
  if (!IPCOpen(IndexPath().c_str(), false)) ::_exit(2);
  char c;
  while (ReadByte(in, c)) {
    if (c == 'p') {
      WriteByte(out, 'p');
    } else if (c == 'h') {
      uint32_t count = 0;
      if (::read(in, &count, sizeof count) != sizeof count) break;
      for (uint32_t i = 0; i < count; ++i) {
        IPCWaitForOwnership();
        AwaitRequest(parent);
        IPCReleaseOwnership();
      }
      WriteByte(out, 'd');
    }
  }
  IPCClose();
  ::_exit(0);
}

void BM_HandOverVsPipe(benchmark::State& state) {
  constexpr int kPipeRounds = 20000;
  constexpr uint32_t kHandOverRounds = 10;
  // Forked before this process opens anything, so the child shares no lock.
  int toPeer[2], fromPeer[2];
  if (::pipe(toPeer) != 0 || ::pipe(fromPeer) != 0) {
    state.SkipWithError("pipe failed");
    return;
  }
  const int32_t self = static_cast<int32_t>(::getpid());
  const pid_t child = ::fork();
  if (child == 0) Peer(toPeer[0], fromPeer[1], fromPeer[0], toPeer[1], self);
  ::close(toPeer[0]);
  ::close(fromPeer[1]);
  if (!IPCOpen(IndexPath().c_str(), false)) {
    state.SkipWithError("IPCOpen failed");
    return;
  }
  double pipeTime = 0, handOverTime = 0;
  char c;
  for (auto _ : state) {
    auto start = Clock::now();
    for (int i = 0; i < kPipeRounds; ++i) {
      WriteByte(toPeer[1], 'p');
      ReadByte(fromPeer[0], c);
    }
    pipeTime += Seconds(start);

    while (!IPCTryTakeOwnership(false)) std::this_thread::yield();
    WriteByte(toPeer[1], 'h');
    benchmark::DoNotOptimize(::write(toPeer[1], &kHandOverRounds, sizeof kHandOverRounds));
    start = Clock::now();
    for (uint32_t i = 0; i < kHandOverRounds; ++i) {
      AwaitRequest(static_cast<int32_t>(child));
      IPCReleaseOwnership();
      IPCWaitForOwnership();
    }
    handOverTime += Seconds(start);
    ReadByte(fromPeer[0], c);
  }
  ::close(toPeer[1]);
  int status = 0;
  ::waitpid(child, &status, 0);
  ::close(fromPeer[0]);
  IPCClose();
  const double runs = static_cast<double>(state.iterations());
  const double pipeRound = pipeTime / (kPipeRounds * runs);
  const double handOverRound = handOverTime / (kHandOverRounds * runs);
  state.counters["pipe_round_us"] = pipeRound * 1e6;
  state.counters["handover_round_ms"] = handOverRound * 1e3;
  state.counters["handover/pipe"] = handOverRound / pipeRound;
}
BENCHMARK(BM_HandOverVsPipe)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
