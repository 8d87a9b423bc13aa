#include "net/NetTransport.h"

#include <cstdio>
#include <cstring>

#include "Vak/Bexlorn/String.h"
#include "content/VelmarEx.h"
#include "platform/os/Socket.h"

NetTransport::~NetTransport() = default;

namespace {

// Reads the tunnel reply straight off the proxy's socket; nothing else.
class SocketReader : public NetTransport {
public:
  explicit SocketReader(int socket) : socket_(socket) {}
  int32_t Read(void* buffer, int32_t length) override {
    return platform::SocketReceive(socket_, buffer, static_cast<size_t>(length), false);
  }
  int32_t Peek(void*, int32_t) override { return -1; }
  int32_t Write(const void*, int32_t) override { return -1; }
  void Close() override {}
  NetTransport* Reconnect(int32_t) override { return nullptr; }
  bool DataAvailable() override { return false; }

private:
  int socket_;
};

int ConnectSocket(const char* host, int32_t port) {
  const uint32_t address = NameToIPAddress(host);
  if (address == 0) return -1;
  return platform::SocketConnect(address, static_cast<uint16_t>(port));
}

// "HTTP/x.y 2.." and only that.
bool IsSuccessStatusLine(const char* line) {
  if (strncmp(line, "HTTP/", 5) != 0) return false;
  const char* space = strchr(line, ' ');
  if (!space) return false;
  const char* code = space + 1;
  for (int i = 0; i < 3; ++i) {
    if (code[i] < '0' || code[i] > '9') return false;
  }
  return code[0] == '2' && (code[3] == ' ' || code[3] == '\0');
}

} // namespace

uint32_t NameToIPAddress(const char* name) {
  if (!name || !*name) return 0;
  bool numeric = true;
  for (const char* p = name; *p; ++p) {
    if (!((*p >= '0' && *p <= '9') || *p == '.')) {
      numeric = false;
      break;
    }
  }
  if (!numeric) return platform::ResolveIPv4(name);

  VelmarLogError("NameToIPAddress> we're connecting with an ip address");
  // Exactly four numbers of 1 to 3 digits, each at most 255.
  uint8_t bytes[4];
  const char* p = name;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (*p != '.') return 0;
      ++p;
    }
    int value = 0;
    int digits = 0;
    while (*p >= '0' && *p <= '9') {
      if (++digits > 3) return 0;
      value = value * 10 + (*p++ - '0');
    }
    if (digits == 0 || value > 255) return 0;
    bytes[part] = static_cast<uint8_t>(value);
  }
  if (*p) return 0;
  uint32_t address;
  memcpy(&address, bytes, 4);  // first number in the first byte: network order
  return address;
}

bool ReadProxyReply(NetTransport& transport) {
  char statusLine[kProxyReplyLimit + 1];
  int statusLength = 0;
  bool inStatusLine = true;
  int lineLength = 0;  // bytes of the current line before its line end
  for (int total = 0; total < kProxyReplyLimit; ++total) {
    char c;
    if (transport.Read(&c, 1) != 1) return false;
    if (c == '\n') {
      if (inStatusLine) {
        statusLine[statusLength] = '\0';
        inStatusLine = false;
      } else if (lineLength == 0) {
        return IsSuccessStatusLine(statusLine);
      }
      lineLength = 0;
    } else if (c != '\r') {
      if (inStatusLine) statusLine[statusLength++] = c;
      ++lineLength;
    }
  }
  return false;
}

SocketTransport::SocketTransport(const char* host, int32_t port, const char* proxyHost, int32_t proxyPort) {
  const bool proxied = proxyHost && *proxyHost;
  Vak::Sprintf(hostName_, "%s", proxied ? proxyHost : (host ? host : ""));
  port_ = proxied && (proxyPort & 0xFFFF) != 0 ? proxyPort : port;
  int32_t status = kNetOk;
  socket_ = ConnectTransport(proxyHost, proxyPort, port, host, status);
  SetStatus(status);
}

SocketTransport::~SocketTransport() {
  if (socket_ >= 0) platform::SocketClose(socket_);
}

void SocketTransport::Close() {
  SetStatus(kNetClosed);
  if (socket_ >= 0) platform::SocketShutdown(socket_);
}

int ConnectTransport(const char* proxyHost, int32_t proxyPort, int32_t port, const char* host, int32_t& status) {
  status = kNetOk;
  if (!proxyHost || !*proxyHost) {
    const int s = ConnectSocket(host, port);
    if (s < 0) status = kNetHostFailed;
    return s;
  }
  // A line break in the target would split the tunnel request.
  const int s = host && strpbrk(host, "\r\n") ? -1 : ConnectSocket(proxyHost, proxyPort);
  if (s < 0) {
    status = kNetProxyFailed;
    return -1;
  }
  char request[kNetHostNameSize + 64];
  const int length = Vak::Snprintf(request, sizeof request, "CONNECT %s:%d HTTP/1.0 \r\n\r\n", host ? host : "",
                                   static_cast<int>(port));
  SocketReader reader(s);
  if (length <= 0 || length >= static_cast<int>(sizeof request) ||
      platform::SocketSend(s, request, static_cast<size_t>(length)) != length || !ReadProxyReply(reader)) {
    platform::SocketClose(s);
    status = kNetProxyFailed;
    return -1;
  }
  return s;
}
