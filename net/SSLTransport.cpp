#include "net/SSLTransport.h"

#include <memory>
#include <mutex>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include "Vak/Bexlorn/Sync.h"

namespace {

struct TLSState {
  SSL_CTX* context = nullptr;
  std::unique_ptr<Vak::CriticalSection[]> locks;
  std::unique_ptr<std::atomic<uint8_t>[]> held;
  int lockCount = 0;
};

TLSState& State() {
  static TLSState* const state = [] {
    auto* s = new TLSState;
    s->lockCount = CRYPTO_num_locks();
    if (s->lockCount < 1) s->lockCount = 1;
    s->locks = std::make_unique<Vak::CriticalSection[]>(static_cast<size_t>(s->lockCount));
    s->held = std::make_unique<std::atomic<uint8_t>[]>(static_cast<size_t>(s->lockCount));
    CRYPTO_set_locking_callback(SSLLockingCallback);
    s->context = SSL_CTX_new(TLS_client_method());
    if (s->context) {
      // The system's hashed certificate folder, looked up per issuer as
      // needed: loading the whole bundle up front costs every first
      // connection tens of milliseconds.
      SSL_CTX_set_default_verify_dir(s->context);
      SSL_CTX_set_verify(s->context, SSL_VERIFY_PEER, nullptr);
      // A peer that closes without a closing alert ends the stream, as a
      // plain socket's close does.
      SSL_CTX_set_options(s->context, SSL_OP_IGNORE_UNEXPECTED_EOF);
    }
    return s;
  }();
  return *state;
}

bool IsDottedQuad(const char* host) {
  if (!*host) return false;
  for (const char* p = host; *p; ++p) {
    if (!((*p >= '0' && *p <= '9') || *p == '.')) return false;
  }
  return true;
}

// Binds `session` to the target's identity: its address, or its name (also
// sent as the server name).
bool SetExpectedPeer(SSL* session, const char* host) {
  if (IsDottedQuad(host)) {
    return X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(session), host) == 1;
  }
  return SSL_set_tlsext_host_name(session, host) == 1 && SSL_set1_host(session, host) == 1;
}

} // namespace

void SSLLockingCallback(int mode, int index, const char*, int) {
  TLSState& s = State();
  if (index < 0 || index >= s.lockCount) return;
  if (mode & 1) {
    s.locks[index].Lock(Vak::SyncObject::kInfinite);
    s.held[index].store(1);
  } else if ((mode & 2) && s.held[index].load()) {
    s.held[index].store(0);
    s.locks[index].Unlock();
  }
}

int SSLLockCount() { return State().lockCount; }

bool SSLLockHeld(int index) {
  TLSState& s = State();
  return index >= 0 && index < s.lockCount && s.held[index].load() != 0;
}

bool SSLTransport::TrustCAFile(const char* path) {
  TLSState& s = State();
  return s.context && path && X509_STORE_load_file(SSL_CTX_get_cert_store(s.context), path) == 1;
}

SSLTransport::SSLTransport(const char* host, int32_t port, const char* proxyHost, int32_t proxyPort)
    : SocketTransport(host, port, proxyHost, proxyPort) {
  if (socket_ < 0) return;
  if (!host) host = "";
  SSL_CTX* context = State().context;
  session_ = context ? SSL_new(context) : nullptr;
  if (!session_ || SSL_set_fd(session_, socket_) != 1 || !SetExpectedPeer(session_, host) ||
      SSL_connect(session_) != 1 || SSL_get_verify_result(session_) != X509_V_OK) {
    ERR_clear_error();
    // No half-made session stays: a read would try the handshake again.
    if (session_) SSL_free(session_);
    session_ = nullptr;
    SetStatus(kNetHostFailed);
  }
}

SSLTransport::~SSLTransport() {
  if (session_) {
    if (GetStatus() == kNetOk) SSL_shutdown(session_);  // after Close the socket is shut already
    SSL_free(session_);
  }
  ERR_clear_error();
}

int32_t SSLTransport::Receive(void* buffer, int32_t length, bool peek) {
  if (!session_ || GetStatus() == kNetClosed || length < 0) return -1;
  const int n = peek ? SSL_peek(session_, buffer, length) : SSL_read(session_, buffer, length);
  if (n > 0) return n;
  const int error = SSL_get_error(session_, n);
  ERR_clear_error();
  return error == SSL_ERROR_ZERO_RETURN ? 0 : -1;
}

int32_t SSLTransport::Read(void* buffer, int32_t length) { return Receive(buffer, length, false); }

int32_t SSLTransport::Peek(void* buffer, int32_t length) { return Receive(buffer, length, true); }

int32_t SSLTransport::Write(const void* data, int32_t length) {
  if (!session_ || GetStatus() == kNetClosed || length < 0) return -1;
  if (length == 0) return 0;
  const int n = SSL_write(session_, data, length);
  if (n <= 0) {
    ERR_clear_error();
    return -1;
  }
  return n;
}

NetTransport* SSLTransport::Reconnect(int32_t) { return nullptr; }
