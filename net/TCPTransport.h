#pragma once
// A plain TCP stream, optionally through a proxy's CONNECT tunnel.
#include "net/NetTransport.h"

class TCPTransport : public SocketTransport {
public:
  TCPTransport(const char* host, int32_t port, const char* proxyHost, int32_t proxyPort);

  int32_t Read(void* buffer, int32_t length) override;
  int32_t Peek(void* buffer, int32_t length) override;
  int32_t Write(const void* data, int32_t length) override;
  NetTransport* Reconnect(int32_t port) override;
  bool DataAvailable() override;

  // Reads shorter than this are served from one receive of this size, so
  // that headers and replies read a byte at a time cost few system calls.
  static constexpr int32_t kReceiveBlock = 16384;

private:
  // Receives into the block when it is empty; false at the end of the stream
  // or on failure (the result in `n`).
  bool FillBlock(int32_t& n);
  // One receive into `buffer`; a failure marks the status.
  int32_t Receive(void* buffer, int32_t length);

  // Received and not yet read: block_[blockStart_, blockEnd_). Only the
  // reading thread touches it.
  char block_[kReceiveBlock];
  int32_t blockStart_ = 0;
  int32_t blockEnd_ = 0;
};
