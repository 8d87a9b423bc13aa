#include "platform/os/Socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

namespace {

void IgnoreBrokenPipe() {
  static std::once_flag once;
  std::call_once(once, [] { std::signal(SIGPIPE, SIG_IGN); });
}

} // namespace

uint32_t ResolveIPv4(const char* name) {
  if (!name || !*name) return 0;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(name, nullptr, &hints, &found) != 0 || !found) return 0;
  uint32_t address = 0;
  for (const addrinfo* entry = found; entry; entry = entry->ai_next) {
    if (entry->ai_family == AF_INET && entry->ai_addrlen >= sizeof(sockaddr_in)) {
      address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr.s_addr;
      break;
    }
  }
  freeaddrinfo(found);
  return address;
}

int SocketConnect(uint32_t address, uint16_t port) {
  IgnoreBrokenPipe();
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (s < 0) return -1;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = address;
  int rc;
  do {
    rc = ::connect(s, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    ::close(s);
    return -1;
  }
  // Requests go out a line per write: without this each line after the
  // first waits for the peer's delayed acknowledgement.
  const int on = 1;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return s;
}

int SocketSend(int socket, const void* data, size_t length) {
  ssize_t n;
  do {
    n = ::send(socket, data, length, MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  return n < 0 ? -1 : static_cast<int>(n);
}

int SocketReceive(int socket, void* buffer, size_t length, bool peek) {
  ssize_t n;
  do {
    n = ::recv(socket, buffer, length, peek ? MSG_PEEK : 0);
  } while (n < 0 && errno == EINTR);
  return n < 0 ? -1 : static_cast<int>(n);
}

int SocketPending(int socket) {
  int pending = 0;
  if (::ioctl(socket, FIONREAD, &pending) != 0) return -1;
  return pending;
}

void SocketShutdown(int socket) { ::shutdown(socket, SHUT_RDWR); }

void SocketClose(int socket) { ::close(socket); }

} // namespace platform
