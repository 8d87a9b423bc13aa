#include "net/TCPTransport.h"

#include <algorithm>
#include <cstring>

#include "platform/os/Socket.h"

TCPTransport::TCPTransport(const char* host, int32_t port, const char* proxyHost, int32_t proxyPort)
    : SocketTransport(host, port, proxyHost, proxyPort) {}

int32_t TCPTransport::Receive(void* buffer, int32_t length) {
  const int32_t n = platform::SocketReceive(socket_, buffer, static_cast<size_t>(length), false);
  if (n < 0) {
    int32_t expected = kNetOk;
    status_.compare_exchange_strong(expected, kNetReadFailed);
  }
  return n;
}

bool TCPTransport::FillBlock(int32_t& n) {
  if (blockStart_ < blockEnd_) return true;
  blockStart_ = blockEnd_ = 0;
  n = Receive(block_, sizeof block_);
  if (n <= 0) return false;
  blockEnd_ = n;
  return true;
}

int32_t TCPTransport::Read(void* buffer, int32_t length) {
  if (socket_ < 0 || GetStatus() == kNetClosed || length < 0) return -1;
  if (blockStart_ == blockEnd_ && length >= kReceiveBlock) {
    // Large reads go straight to the caller's buffer.
    return Receive(buffer, length);
  }
  int32_t n = 0;
  if (length == 0 || !FillBlock(n)) return n;
  const int32_t count = std::min(length, blockEnd_ - blockStart_);
  std::memcpy(buffer, block_ + blockStart_, static_cast<size_t>(count));
  blockStart_ += count;
  return count;
}

int32_t TCPTransport::Peek(void* buffer, int32_t length) {
  if (socket_ < 0 || GetStatus() == kNetClosed || length < 0) return -1;
  int32_t n = 0;
  if (length == 0 || !FillBlock(n)) return n;
  const int32_t count = std::min(length, blockEnd_ - blockStart_);
  std::memcpy(buffer, block_ + blockStart_, static_cast<size_t>(count));
  return count;
}

int32_t TCPTransport::Write(const void* data, int32_t length) {
  if (socket_ < 0 || GetStatus() == kNetClosed || length < 0) return -1;
  // A blocking send may still stop short (a signal); send the rest.
  const char* bytes = static_cast<const char*>(data);
  int32_t sent = 0;
  while (sent < length) {
    const int n = platform::SocketSend(socket_, bytes + sent, static_cast<size_t>(length - sent));
    if (n <= 0) return sent > 0 ? sent : -1;
    sent += n;
  }
  return sent;
}

NetTransport* TCPTransport::Reconnect(int32_t port) { return new TCPTransport(StoredHost(), port, nullptr, 0); }

bool TCPTransport::DataAvailable() {
  if (socket_ < 0 || GetStatus() == kNetClosed) return false;
  return blockStart_ < blockEnd_ || platform::SocketPending(socket_) > 0;
}
