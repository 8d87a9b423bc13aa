// One GET through HTTPConnection into a file, as a user's download would run:
//   http_get_tool http|https HOST PORT PATH OUTPUT [CA-FILE]
// Exits 0 when the whole body arrived.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "net/HTTPConnection.h"
#include "net/SSLTransport.h"
#include "net/TCPTransport.h"

int main(int argc, char** argv) {
  if (argc < 6) {
    std::fprintf(stderr, "usage: %s http|https HOST PORT PATH OUTPUT [CA-FILE]\n", argv[0]);
    return 2;
  }
  const bool tls = std::strcmp(argv[1], "https") == 0;
  const int port = std::atoi(argv[3]);
  if (tls && argc > 6 && !SSLTransport::TrustCAFile(argv[6])) return 3;
  NetTransport* transport = tls ? static_cast<NetTransport*>(new SSLTransport(argv[2], port, "", 0))
                                : new TCPTransport(argv[2], port, "", 0);
  UrlRecord peer;
  std::snprintf(peer.host, sizeof peer.host, "%s", argv[2]);
  HTTPConnection connection(peer, transport);
  if (!connection.SendGet("%s", argv[4]) || !connection.ReadResponseHeader() || !connection.ReadBody(argv[5])) {
    std::fprintf(stderr, "GET failed: status %d\n", static_cast<int>(connection.GetStatus()));
    return 1;
  }
  return 0;
}
