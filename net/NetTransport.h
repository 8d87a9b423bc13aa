#pragma once
// The byte transports under the protocol clients: a connected IPv4 TCP stream,
// optionally tunnelled through an HTTP proxy, with or without TLS on top.
// Everything blocks; nothing has a time-out of its own. Failures never throw:
// they show in the status word and in negative results.
#include <atomic>
#include <cstdint>

// Status words, shared by every transport and reported by the connections.
enum NetStatus : int32_t {
  kNetOk = 0,
  kNetProxyFailed = 1,     // proxy unreachable, or its tunnel reply unreadable or refusing
  kNetHostFailed = 2,      // host unreachable; for TLS also session, handshake or certificate
  kNetHTTPError = 4,       // (connections) an HTTP error status
  kNetClosed = 5,          // closed by Close
  kNetNoTransport = 6,     // (connections) no transport at all
  kNetReadFailed = 7,      // a TCP read failed; (connections) an unreadable response
  kNetOther = 8,
};

class NetTransport {
public:
  NetTransport() = default;
  virtual ~NetTransport();
  NetTransport(const NetTransport&) = delete;
  NetTransport& operator=(const NetTransport&) = delete;

  // Up to `length` bytes; 0 at an orderly end of stream, negative on failure.
  virtual int32_t Read(void* buffer, int32_t length) = 0;
  // The same, leaving the bytes in the stream.
  virtual int32_t Peek(void* buffer, int32_t length) = 0;
  // The bytes sent, or negative.
  virtual int32_t Write(const void* data, int32_t length) = 0;
  // Ends the connection and sets status 5. Safe from another thread while a
  // read waits: the reader wakes. Afterwards every operation returns -1.
  virtual void Close() = 0;
  // A second transport of the same kind to the stored host on `port`,
  // without proxy; the caller owns it. Null when the kind has none.
  virtual NetTransport* Reconnect(int32_t port) = 0;
  // Whether bytes can be read without waiting.
  virtual bool DataAvailable() = 0;

  int32_t GetStatus() const { return status_.load(std::memory_order_acquire); }

protected:
  void SetStatus(int32_t status) { status_.store(status, std::memory_order_release); }

  std::atomic<int32_t> status_{kNetOk};
};

// The largest host name a transport stores, terminator included.
constexpr int kNetHostNameSize = 512;

// The IPv4 address of `name` in network byte order, 0 when unresolved. A
// name of digits and points only is read as four numbers of 0 to 255 and is
// never looked up; anything else of that form is unresolved.
uint32_t NameToIPAddress(const char* name);

// Connects to `host`:`port`, or through the proxy when `proxyHost` is
// non-empty (then a CONNECT tunnel to the host). Returns the socket, or -1
// with `status` 2 (host) or 1 (proxy).
int ConnectTransport(const char* proxyHost, int32_t proxyPort, int32_t port, const char* host, int32_t& status);

// A transport over a socket of its own, connected at construction
// (ConnectTransport; the status word holds the outcome and the object exists
// either way). The socket is kept until destruction, so its number is never
// reused under a reader; Close only shuts it down.
class SocketTransport : public NetTransport {
public:
  ~SocketTransport() override;
  void Close() override;

  // What Reconnect connects to: the proxy's name and port when a proxy host
  // was given (its port when the low 16 bits are not 0), else the host's.
  const char* StoredHost() const { return hostName_; }
  int32_t StoredPort() const { return port_; }

protected:
  SocketTransport(const char* host, int32_t port, const char* proxyHost, int32_t proxyPort);

  int socket_ = -1;

private:
  char hostName_[kNetHostNameSize];
  int32_t port_ = 0;
};

// The tunnel reply longest accepted, empty line included.
constexpr int kProxyReplyLimit = 8192;
// Reads a proxy's reply to a tunnel request, a byte at a time, up to and
// including the empty line that ends it, so that what follows is the
// tunnelled stream. True for a 2xx status line; false for any other status,
// a reply past kProxyReplyLimit bytes, or a read that does not deliver.
bool ReadProxyReply(NetTransport& transport);
