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

private:
  int socket_ = -1;  // kept until destruction, so its number is not reused under a reader
  char hostName_[kNetHostNameSize];
  int32_t port_ = 0;
};

// Which host and port a transport keeps for Reconnect: the proxy's when a
// proxy host is given (its port when the low 16 bits are not 0), else the
// target's.
void StoreTransportPeer(char (&name)[kNetHostNameSize], int32_t& port, const char* host, int32_t hostPort,
                        const char* proxyHost, int32_t proxyPort);
