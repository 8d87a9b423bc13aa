#pragma once
// A TLS client session over a TCP stream (optionally through a proxy's
// CONNECT tunnel). Every session runs on one process-wide client context,
// made on first use, that trusts the system's certificate store and any CA
// file added with TrustCAFile. The peer's chain is verified and its name or
// address checked against the host given to the constructor (never the
// proxy); a name is also sent as the server name indication.
#include "net/NetTransport.h"

typedef struct ssl_st SSL;

class SSLTransport : public SocketTransport {
public:
  // Connects and shakes hands at once; a failed session, handshake or
  // verification leaves status 2 (the socket stays until destruction).
  SSLTransport(const char* host, int32_t port, const char* proxyHost, int32_t proxyPort);
  ~SSLTransport() override;

  int32_t Read(void* buffer, int32_t length) override;
  int32_t Peek(void* buffer, int32_t length) override;
  int32_t Write(const void* data, int32_t length) override;
  // Null: there is no second TLS channel.
  NetTransport* Reconnect(int32_t port) override;
  // Always true: bytes may sit inside the session.
  bool DataAvailable() override { return true; }

  // Adds the certificates of a PEM file to what the shared context trusts;
  // false when the file cannot be read.
  static bool TrustCAFile(const char* path);

private:
  int32_t Receive(void* buffer, int32_t length, bool peek);

  SSL* session_ = nullptr;  // freed only at destruction, so a reader never finds it gone
};

// The locking function in the form the TLS library's locking registration
// takes: mode bit 1 locks the critical section at `index` (waiting without
// limit), else bit 2 unlocks it when it is held. An index outside the array
// is ignored. Current TLS libraries lock for themselves and never call it.
void SSLLockingCallback(int mode, int index, const char* file, int line);
// The array's size (made with the shared context) and a lock's held flag.
int SSLLockCount();
bool SSLLockHeld(int index);
