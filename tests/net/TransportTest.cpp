// The transports against real peers on 127.0.0.1: nginx (HTTP and HTTPS),
// tinyproxy's CONNECT tunnel, openssl s_server's certificates and a silent
// raw peer.
#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <string>

#include "net/HTTPConnection.h"
#include "net/SSLTransport.h"
#include "net/TCPTransport.h"
#include "tests/net/support/Peers.h"

namespace {

using namespace nettest;

class TransportTest : public ::testing::Test {
protected:
  void SetUp() override {
    NET_REQUIRE_PROGRAM(kNginx);
    NET_REQUIRE_PROGRAM(kEchoModule);
    NET_REQUIRE_PROGRAM(kTinyproxy);
    NET_REQUIRE_PROGRAM(kOpenSSL);
    ASSERT_TRUE(MakeCertificate(dir_, "server", "/CN=127.0.0.1", "IP:127.0.0.1"));
    ASSERT_TRUE(SSLTransport::TrustCAFile((dir_ / "server.pem").c_str()));
    ASSERT_TRUE(nginx_.Start(dir_));
    dir_.WriteFile("nginx/www/a.txt", "alpha\n");
  }

  // A GET of /a.txt over the transport; the body, or "" on failure.
  std::string Fetch(NetTransport* transport) {
    UrlRecord peer("http://127.0.0.1/");
    HTTPConnection connection(peer, transport);
    if (!connection.SendGet("/a.txt")) return "(not sent)";
    if (!connection.ReadResponseHeader()) return "(header " + std::to_string(connection.GetStatus()) + ")";
    if (!connection.ReadBody((dir_ / "body").c_str())) return "(body " + std::to_string(connection.GetStatus()) + ")";
    return dir_.ReadFile("body");
  }

  TempFolder dir_;
  Nginx nginx_;
};

TEST_F(TransportTest, DirectAndTunnelledForHTTPAndHTTPS) {
  Tinyproxy proxy;
  ASSERT_TRUE(proxy.Start(dir_));
  struct Case {
    bool tls;
    bool proxied;
  } cases[] = {{false, false}, {false, true}, {true, false}, {true, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.tls ? "https" : "http") + (c.proxied ? " through the proxy" : " direct"));
    const char* proxyHost = c.proxied ? "127.0.0.1" : "";
    NetTransport* transport =
        c.tls ? static_cast<NetTransport*>(new SSLTransport("127.0.0.1", nginx_.sslPort, proxyHost, proxy.port))
              : new TCPTransport("127.0.0.1", nginx_.port, proxyHost, proxy.port);
    EXPECT_EQ(transport->GetStatus(), kNetOk);
    EXPECT_EQ(Fetch(transport), "alpha\n");
  }
}

TEST_F(TransportTest, RefusedPortsFailAtTheHostOrTheProxy) {
  const int closed = FreePort();
  Tinyproxy proxy;
  ASSERT_TRUE(proxy.Start(dir_));
  Tinyproxy narrow;  // tunnels to nginx's TLS port only: 403 for others
  ASSERT_TRUE(narrow.Start(dir_, nginx_.sslPort));
  struct Case {
    const char* what;
    const char* host;
    int port;
    const char* proxyHost;
    int proxyPort;
    int32_t status;
  } cases[] = {
      {"refused port", "127.0.0.1", closed, "", 0, kNetHostFailed},
      {"empty host", "", nginx_.port, "", 0, kNetHostFailed},
      {"refused target through the proxy", "127.0.0.1", closed, "127.0.0.1", proxy.port, kNetProxyFailed},
      {"refused proxy", "127.0.0.1", nginx_.port, "127.0.0.1", closed, kNetProxyFailed},
      {"port the proxy forbids", "127.0.0.1", nginx_.port, "127.0.0.1", narrow.port, kNetProxyFailed},
      {"port the proxy allows", "127.0.0.1", nginx_.sslPort, "127.0.0.1", narrow.port, kNetOk},
  };
  for (const Case& c : cases) {
    TCPTransport tcp(c.host, c.port, c.proxyHost, c.proxyPort);
    EXPECT_EQ(tcp.GetStatus(), c.status) << c.what;
    SSLTransport tls(c.host, c.port, c.proxyHost, c.proxyPort);
    const int32_t tlsStatus = c.port == nginx_.port && c.status == kNetOk ? kNetHostFailed : c.status;
    EXPECT_EQ(tls.GetStatus(), tlsStatus) << c.what << " (TLS)";
  }
}

// A line break in the tunnel's target would split the CONNECT request: the
// transport refuses it before it connects to the proxy, which counts every
// connection (the raw peer standing in for it).
TEST_F(TransportTest, ATunnelTargetWithALineBreakNeverReachesTheProxy) {
  NET_REQUIRE_PROGRAM(kPython);
  RawPeer proxy;
  ASSERT_TRUE(proxy.Start(dir_));
  const int port = nginx_.port;
  // Should a target reach the proxy after all, it is refused at once
  // instead of being held.
  auto refuse = [&](const std::string& target) {
    proxy.Reply(target + ":" + std::to_string(port), "HTTP/1.0 403 Forbidden\r\n\r\n");
  };
  for (const char* target : {"127.0.0.1\r\nX-Injected:1", "127.0.0.1\nX-Injected:1", "127.0.0.1\rX-Injected:1",
                             "127.0.0.1\r\n"}) {
    refuse(target);
    TCPTransport tcp(target, port, "127.0.0.1", proxy.port);
    EXPECT_EQ(tcp.GetStatus(), kNetProxyFailed);
    SSLTransport tls(target, port, "127.0.0.1", proxy.port);
    EXPECT_EQ(tls.GetStatus(), kNetProxyFailed);
  }
  EXPECT_EQ(proxy.Connections(), 0);

  // The same proxy is reached for a plain target.
  proxy.Reply("127.0.0.1:" + std::to_string(port), "HTTP/1.0 200 Connection established\r\n\r\n");
  TCPTransport plain("127.0.0.1", port, "127.0.0.1", proxy.port);
  EXPECT_EQ(plain.GetStatus(), kNetOk);
  EXPECT_EQ(proxy.Connections(), 1);
}

TEST_F(TransportTest, CertificatesAreVerifiedAgainstTheTarget) {
  // Untrusted: a certificate for the right address that nobody vouches for.
  ASSERT_TRUE(MakeCertificate(dir_, "stranger", "/CN=127.0.0.1", "IP:127.0.0.1"));
  OpenSSLServer stranger;
  ASSERT_TRUE(stranger.Start(dir_, "stranger"));
  Tinyproxy proxy;
  ASSERT_TRUE(proxy.Start(dir_));
  struct Case {
    const char* what;
    const char* host;
    int port;
    const char* proxyHost;
    int32_t status;
  } cases[] = {
      {"trusted, address matches", "127.0.0.1", nginx_.sslPort, "", kNetOk},
      {"trusted, through the proxy", "127.0.0.1", nginx_.sslPort, "127.0.0.1", kNetOk},
      {"trusted, wrong name", "localhost", nginx_.sslPort, "", kNetHostFailed},
      {"trusted, wrong name through the proxy", "localhost", nginx_.sslPort, "127.0.0.1", kNetHostFailed},
      {"untrusted", "127.0.0.1", stranger.port, "", kNetHostFailed},
  };
  for (const Case& c : cases) {
    SSLTransport tls(c.host, c.port, c.proxyHost, proxy.port);
    EXPECT_EQ(tls.GetStatus(), c.status) << c.what;
    if (c.status != kNetOk) {
      char byte;
      EXPECT_EQ(tls.Read(&byte, 1), -1) << c.what;
    }
  }
}

// A name goes out in the handshake (SNI), so a server with several names
// can show the right certificate; an address does not.
TEST_F(TransportTest, TheTargetsNameGoesOutInTheHandshake) {
  TempFolder named;
  ASSERT_TRUE(MakeCertificate(named, "server", "/CN=localhost", "DNS:localhost,IP:127.0.0.1"));
  ASSERT_TRUE(SSLTransport::TrustCAFile((named / "server.pem").c_str()));
  Nginx nginx;
  ASSERT_TRUE(nginx.Start(named, [](const Nginx&) { return "location = /sni { echo \"[$ssl_server_name]\"; }\n"; }));
  const std::pair<const char*, const char*> cases[] = {{"localhost", "[localhost]\n"}, {"127.0.0.1", "[]\n"}};
  for (const auto& [host, sent] : cases) {
    SCOPED_TRACE(host);
    auto* tls = new SSLTransport(host, nginx.sslPort, "", 0);  // the connection's from here on
    HTTPConnection connection(UrlRecord("https://localhost/"), tls);
    ASSERT_EQ(tls->GetStatus(), kNetOk);
    ASSERT_TRUE(connection.SendGet("/sni"));
    ASSERT_TRUE(connection.ReadResponseHeader());
    ASSERT_TRUE(connection.ReadBody((named / "sni").c_str()));
    EXPECT_EQ(named.ReadFile("sni"), sent);
  }
}

TEST_F(TransportTest, ReconnectMakesAPlainSecondChannelOnly) {
  TCPTransport tcp("127.0.0.1", nginx_.port, "", 0);
  ASSERT_EQ(tcp.GetStatus(), kNetOk);
  EXPECT_STREQ(tcp.StoredHost(), "127.0.0.1");
  EXPECT_EQ(Fetch(tcp.Reconnect(nginx_.port)), "alpha\n");

  SSLTransport tls("127.0.0.1", nginx_.sslPort, "", 0);
  ASSERT_EQ(tls.GetStatus(), kNetOk);
  EXPECT_EQ(tls.Reconnect(nginx_.port), nullptr);
  EXPECT_TRUE(tls.DataAvailable());

  // Through a proxy the proxy is what is stored; with proxy port 0 the
  // target's port.
  Tinyproxy proxy;
  ASSERT_TRUE(proxy.Start(dir_));
  TCPTransport tunnelled("127.0.0.1", nginx_.port, "localhost", proxy.port);
  EXPECT_STREQ(tunnelled.StoredHost(), "localhost");
  EXPECT_EQ(tunnelled.StoredPort(), proxy.port);
  TCPTransport portless("127.0.0.1", nginx_.port, "localhost", 0);
  EXPECT_EQ(portless.StoredPort(), nginx_.port);
}

// A read blocked on a peer that says nothing (the raw peer holding an
// unknown request; nginx waiting for a request over TLS) ends when another
// thread closes the transport; afterwards nothing touches the socket.
TEST_F(TransportTest, CloseWakesAReaderOnAnotherThread) {
  NET_REQUIRE_PROGRAM(kPython);
  RawPeer silent;
  ASSERT_TRUE(silent.Start(dir_));
  for (bool tls : {false, true}) {
    SCOPED_TRACE(tls ? "TLS" : "TCP");
    std::unique_ptr<NetTransport> transport;
    if (tls) {
      transport = std::make_unique<SSLTransport>("127.0.0.1", nginx_.sslPort, "", 0);
    } else {
      transport = std::make_unique<TCPTransport>("127.0.0.1", silent.port, "", 0);
      const char request[] = "GET /nothing HTTP/1.1\r\n\r\n";
      ASSERT_EQ(transport->Write(request, sizeof request - 1), static_cast<int32_t>(sizeof request - 1));
    }
    ASSERT_EQ(transport->GetStatus(), kNetOk);
    auto reader = std::async(std::launch::async, [&transport] {
      char byte;
      return transport->Read(&byte, 1);
    });
    // Most often the reader is waiting by now; either way Close must end it.
    EXPECT_EQ(reader.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    transport->Close();
    ASSERT_EQ(reader.wait_for(std::chrono::seconds(10)), std::future_status::ready) << "Close did not wake the reader";
    EXPECT_LE(reader.get(), 0);
    EXPECT_EQ(transport->GetStatus(), kNetClosed);
    char byte;
    EXPECT_EQ(transport->Read(&byte, 1), -1);
    EXPECT_EQ(transport->Peek(&byte, 1), -1);
    EXPECT_EQ(transport->Write("x", 1), -1);
  }
}

} // namespace
