#pragma once
// A plain TCP stream, optionally through a proxy's CONNECT tunnel.
#include "net/NetTransport.h"

class TCPTransport : public NetTransport {
public:
  // Connects at once; the status word holds the outcome and the object
  // exists either way.
  TCPTransport(const char* host, int32_t port, const char* proxyHost, int32_t proxyPort);
  ~TCPTransport() override;

  int32_t Read(void* buffer, int32_t length) override;
  int32_t Peek(void* buffer, int32_t length) override;
  int32_t Write(const void* data, int32_t length) override;
  void Close() override;
  NetTransport* Reconnect(int32_t port) override;
  bool DataAvailable() override;

  // The proxy's name and port when one was given, else the host's.
  const char* StoredHost() const { return hostName_; }
  int32_t StoredPort() const { return port_; }

  // Reads shorter than this are served from one receive of this size, so
  // that headers and replies read a byte at a time cost few system calls.
  static constexpr int32_t kReceiveBlock = 16384;

private:
  // Receives into the block when it is empty; false at the end of the stream
  // or on failure (the result in `n`).
  bool FillBlock(int32_t& n);

  int socket_ = -1;  // kept until destruction, so its number is not reused under a reader
  // Received and not yet read: block_[blockStart_, blockEnd_). Only the
  // reading thread touches it.
  char block_[kReceiveBlock];
  int32_t blockStart_ = 0;
  int32_t blockEnd_ = 0;
  char hostName_[kNetHostNameSize];
  int32_t port_ = 0;
};

// Which host and port a transport keeps for Reconnect: the proxy's when a
// proxy host is given (its port when the low 16 bits are not 0), else the
// target's.
void StoreTransportPeer(char (&name)[kNetHostNameSize], int32_t& port, const char* host, int32_t hostPort,
                        const char* proxyHost, int32_t proxyPort);
