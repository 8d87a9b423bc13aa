#pragma once
// What a signal-safe writer sends, read back through a pipe.
#include <unistd.h>

#include <string>

#include "platform/os/SignalSafeWriter.h"

namespace platform::test {

// Everything `write` sends through a writer on a pipe.
template <typename Write>
std::string Written(Write write) {
  int fds[2];
  if (::pipe(fds) != 0) return "pipe failed";
  {
    SignalSafeWriter w(fds[1]);
    write(w);
  }
  ::close(fds[1]);
  std::string out;
  char buffer[256];
  ssize_t n;
  while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<std::size_t>(n));
  ::close(fds[0]);
  return out;
}

} // namespace platform::test
