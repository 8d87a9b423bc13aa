#pragma once
// A child process started from an argument vector (no shell), waited for with
// a time limit, killed on request.
#include "platform/os/Error.h"

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

class Process {
public:
  Process() = default;
  // Reaps a finished child; one still running is left to run.
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // Starts argv[0] (a path; not searched for) with `arguments` as its argument
  // vector and this process's environment. A missing program is NotFound; an
  // empty vector or a started object is InvalidArgument.
  Error Start(const std::vector<std::string>& arguments);

  // True once the child has ended (within `timeoutMs`; kInfinite without
  // limit). False on time-out or when nothing was started.
  bool Wait(uint32_t timeoutMs);
  bool IsRunning() { return started_ && !Wait(0); }
  // The exit status once ended; 128 plus the signal's number for a child
  // ended by a signal; -1 before it ended.
  int ExitCode() const { return exitCode_; }
  // Ends the child at once (SIGKILL). False when it has already ended.
  bool Kill();
  uint32_t Id() const { return static_cast<uint32_t>(pid_); }

private:
  bool Reap(bool block);

  int pid_ = 0;
  bool started_ = false;
  bool ended_ = false;
  int exitCode_ = -1;
};

} // namespace platform
