// HTTPConnection against nginx (request bytes, keep-alive, cookies, status
// mapping, the three kinds of body) and against the raw peer for replies no
// real server sends.
#include <gtest/gtest.h>

#include <string>

#include "content/ACSChunk.h"
#include "content/AppGlobals.h"
#include "net/HTTPConnection.h"
#include "net/SSLTransport.h"
#include "net/TCPTransport.h"
#include "tests/net/support/MemoryTransport.h"
#include "tests/net/support/Peers.h"

namespace {

using namespace nettest;

const char kAgent[] = "User-Agent: VelmarUtil/0 (VRS) VelmarUtil/0\r\n";

class HTTPConnectionTest : public ::testing::Test {
protected:
  void SetUp() override {
    NET_REQUIRE_PROGRAM(kNginx);
    NET_REQUIRE_PROGRAM(kEchoModule);
    NET_REQUIRE_PROGRAM(kOpenSSL);
    SetProgramName("VelmarUtil");
    ASSERT_TRUE(MakeCertificate(dir_, "server", "/CN=127.0.0.1", "IP:127.0.0.1"));
    ASSERT_TRUE(nginx_.Start(dir_));
    dir_.WriteFile("nginx/www/a.txt", "alpha\n");
    dir_.WriteFile("nginx/www/moved.txt", "moved\n");
  }

  std::unique_ptr<HTTPConnection> Connect() {
    return std::make_unique<HTTPConnection>(UrlRecord("http://127.0.0.1/ignored?q"),
                                            new TCPTransport("127.0.0.1", nginx_.port, "", 0));
  }
  // A GET, its header and body; the body text, or "" when ReadBody failed.
  std::string Get(HTTPConnection& connection, const char* path) {
    EXPECT_TRUE(connection.SendGet("%s", path)) << path;
    connection.ReadResponseHeader();
    return connection.ReadBody(Body().c_str()) ? dir_.ReadFile("body") : "";
  }
  std::string Body() const { return dir_ / "body"; }

  TempFolder dir_;
  Nginx nginx_;
};

TEST_F(HTTPConnectionTest, GetSendsItsLinesToTheByte) {
  auto connection = Connect();
  EXPECT_EQ(Get(*connection, "/request"), std::string("GET /request HTTP/1.1\r\n") + kAgent +
                                              "Host: 127.0.0.1\r\n"
                                              "Proxy-Connection: Keep-Alive\r\n"
                                              "Connection: Keep-Alive\r\n\r\n");
  EXPECT_STREQ(connection->GetRequestPath(), "/request");
  // Cookies follow in jar order, ';' between them.
  connection->SetCookie("a", 1, "1", 1);
  connection->SetCookie("b", 1, "two", 3);
  EXPECT_EQ(Get(*connection, "/request"), std::string("GET /request HTTP/1.1\r\n") + kAgent +
                                              "Host: 127.0.0.1\r\n"
                                              "Proxy-Connection: Keep-Alive\r\n"
                                              "Connection: Keep-Alive\r\n"
                                              "Cookie: a=1;b=two\r\n\r\n");
  // Both requests went over one connection.
  std::string log = nginx_.AccessLogWith(" GET /request HTTP/1.1\n");
  const std::string first = log.substr(0, log.find(' '));
  const std::string both = first + " GET /request HTTP/1.1\n" + first + " GET /request HTTP/1.1\n";
  log = nginx_.AccessLogWith(both);
  EXPECT_NE(log.find(both), std::string::npos) << log;
}

TEST_F(HTTPConnectionTest, MultipartPostSendsHeaderAndBodyToTheByte) {
  ACSChunkPtr form;
  form.SetChildString("user", "alice");
  ACSChunkPtr file;
  file.SetChildString("filename", "a.bin");
  const uint8_t bytes[] = {0, 1, '\r', '\n', 0xFF};
  file->SetChild("filedata", file->CreateChunk(kACSRaw, ACSRawDataCore::CreateCopy(sizeof bytes, bytes)));
  form.SetChild("upload", file);
  auto connection = Connect();
  ASSERT_TRUE(connection->SendPostMultipart("/post", form));
  ASSERT_TRUE(connection->ReadResponseHeader());
  ASSERT_TRUE(connection->ReadBody(Body().c_str()));

  const std::string body = "--1E3N2D4\r\n"
                           "content-disposition: form-data; name=\"user\"\r\n"
                           "\r\n"
                           "alice\r\n"
                           "--1E3N2D4\r\n"
                           "content-disposition: form-data; name=\"upload\"; filename=\"a.bin\"\r\n"
                           "Content-type: application/binary\r\n"
                           "Content-Transfer-Encoding: binary\r\n"
                           "Content-Length: 5\r\n"
                           "\r\n" +
                           std::string(reinterpret_cast<const char*>(bytes), sizeof bytes) +
                           "\r\n"
                           "--1E3N2D4--\r\n";
  EXPECT_EQ(dir_.ReadFile("body"), std::string("POST /post HTTP/1.1\r\n") + kAgent +
                                       "Host: 127.0.0.1\r\n"
                                       "Connection: Close\r\n"
                                       "Content-type: multipart/form-data, boundary=1E3N2D4\r\n"
                                       "Content-length: " +
                                       std::to_string(body.size()) + "\r\n\r\n" + body);
  EXPECT_NE(nginx_.AccessLogWith(" POST /post HTTP/1.1\n").find(" POST /post HTTP/1.1\n"), std::string::npos);
}

TEST_F(HTTPConnectionTest, LineBreaksInRequestLinesCloseTheConnectionUnsent) {
  auto get = Connect();
  EXPECT_FALSE(get->SendGet("/a.txt\r\nX-Injected: 1"));
  EXPECT_EQ(get->GetStatus(), kNetClosed);

  ACSChunkPtr form;
  form.SetChildString("name\r\nX-Injected: 1", "v");
  auto post = Connect();
  EXPECT_FALSE(post->SendPostMultipart("/post", form));
  EXPECT_EQ(post->GetStatus(), kNetClosed);
  ACSChunkPtr file;
  file.SetChildString("filename", "a\nb");
  ACSChunkPtr fileForm;
  fileForm.SetChild("upload", file);
  auto postFile = Connect();
  EXPECT_FALSE(postFile->SendPostMultipart("/post", fileForm));
  EXPECT_FALSE(Connect()->SendPostMultipart("/post\r\n", ACSChunkPtr()));

  // Nothing reached the server; a sound request still does.
  auto sound = Connect();
  EXPECT_EQ(Get(*sound, "/a.txt"), "alpha\n");
  EXPECT_EQ(nginx_.AccessLogWith(" GET /a.txt HTTP/1.1\n").find("Injected"), std::string::npos);
}

TEST_F(HTTPConnectionTest, CookieJarKeepsFourAndReplacesAKnownNameInAnyCase) {
  auto connection = Connect();
  EXPECT_EQ(Get(*connection, "/cookies"), "jar");
  ASSERT_EQ(connection->count, 4);
  const char* names[] = {"one", "two", "three", "four"};
  const char* values[] = {"1", "2", "3", "4"};
  for (int i = 0; i < 4; ++i) {
    EXPECT_STREQ(connection->names[i], names[i]);
    EXPECT_STREQ(connection->values[i], values[i]);
  }
  EXPECT_EQ(Get(*connection, "/cookies-again"), "jar");
  EXPECT_EQ(connection->count, 4);
  EXPECT_STREQ(connection->names[1], "TWO");
  EXPECT_STREQ(connection->values[1], "22");
}

TEST_F(HTTPConnectionTest, StatusAndBodiesOfEachKind) {
  auto connection = Connect();
  // Sized.
  EXPECT_EQ(Get(*connection, "/a.txt"), "alpha\n");
  EXPECT_EQ(connection->GetContentLength(), 6u);
  // Content-Length: 0 with keep-alive ends the body at once (no byte: false)
  // and leaves the connection at the next response.
  EXPECT_EQ(Get(*connection, "/empty"), "");
  EXPECT_EQ(connection->GetStatus(), kNetOk);
  EXPECT_FALSE(connection->IsClosed());
  // Redirect.
  EXPECT_TRUE(connection->SendGet("/redirect"));
  EXPECT_TRUE(connection->ReadResponseHeader());
  EXPECT_EQ(connection->GetResponseState(), HTTPConnection::kRedirect);
  EXPECT_EQ(connection->GetStatus(), kNetOk);
  EXPECT_NE(std::string(connection->GetLocation()).find("/moved.txt"), std::string::npos);
  connection->ReadBody(Body().c_str());
  // Chunked.
  EXPECT_EQ(Get(*connection, "/chunked"), "first piece\nsecond piece\n");
  EXPECT_STREQ(connection->GetTransferEncoding(), "chunked");
  EXPECT_FALSE(connection->IsClosed());
  // Until the server closes.
  EXPECT_EQ(Get(*connection, "/to-close"), "until the end\n");
  EXPECT_TRUE(connection->IsClosed());

  // Not found.
  auto missing = Connect();
  EXPECT_FALSE(missing->SendGet("/missing") && missing->ReadResponseHeader());
  EXPECT_EQ(missing->GetStatus(), kNetHTTPError);
  EXPECT_FALSE(missing->SendGet("/a.txt"));  // no request after a failed one
}

TEST_F(HTTPConnectionTest, GetOverTLS) {
  ASSERT_TRUE(SSLTransport::TrustCAFile((dir_ / "server.pem").c_str()));
  HTTPConnection connection(UrlRecord("https://127.0.0.1/"), new SSLTransport("127.0.0.1", nginx_.sslPort, "", 0));
  EXPECT_EQ(Get(connection, "/a.txt"), "alpha\n");
  EXPECT_EQ(Get(connection, "/chunked"), "first piece\nsecond piece\n");
}

// Replies no real server sends, from the raw peer.
TEST(HTTPConnectionRawReplies, MalformedAndOddReplies) {
  NET_REQUIRE_PROGRAM(kPython);
  TempFolder dir;
  RawPeer peer;
  ASSERT_TRUE(peer.Start(dir));
  const std::string chunk16(16, 'z');
  struct Case {
    const char* name;
    std::string reply;
    bool header;   // ReadResponseHeader
    int32_t status;  // GetStatus after the header
    bool body;     // ReadBody
    std::string content;
  } cases[] = {
      {"lf-only", "HTTP/1.1 200 OK\nContent-Length: 4\n\nbody", true, kNetOk, true, "body"},
      {"chunk-extension", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3;name=value\r\nabc\r\n2 \r\nde\r\n0\r\n\r\n",
       true, kNetOk, true, "abcde"},
      {"chunk-trailer", "HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\n\r\n2\r\nab\r\n0\r\nX-T: 1\r\n\r\n", true,
       kNetOk, true, "ab"},
      {"chunk-bad-size", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3g\r\nabc\r\n0\r\n\r\n", true, kNetOk,
       false, ""},
      // Nine digits would wrap to 0x10 in 32 bits and misframe the body.
      {"chunk-nine-digits",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n100000010\r\n" + chunk16 + "\r\n0\r\n\r\n", true, kNetOk,
       false, ""},
      {"chunk-total-past-int32",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1\r\na\r\n7fffffff\r\n" + chunk16 + "\r\n0\r\n\r\n", true,
       kNetOk, false, ""},
      // 4294967301 is 5 in 32 bits.
      {"length-past-int32", "HTTP/1.1 200 OK\r\nContent-Length: 4294967301\r\n\r\nfive!", true, kNetOk, false, ""},
      {"length-short", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nfive!", true, kNetOk, false, ""},
      {"close-before-any-line", "", false, kNetReadFailed, false, ""},
      {"server-error", "HTTP/1.0 503 Busy\r\n\r\n", false, kNetHTTPError, false, ""},
      {"no-status-line", "Content-Length: 1\r\n\r\nx", false, kNetHTTPError, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    peer.Reply(c.name, c.reply);
    HTTPConnection connection(UrlRecord("http://127.0.0.1/"), new TCPTransport("127.0.0.1", peer.port, "", 0));
    ASSERT_TRUE(connection.SendGet("/%s", c.name));
    EXPECT_EQ(connection.ReadResponseHeader(), c.header);
    EXPECT_EQ(connection.GetStatus(), c.status);
    const std::string body = dir / "body";
    EXPECT_EQ(connection.ReadBody(body.c_str()), c.body);
    if (c.body) {
      EXPECT_EQ(ReadText(body), c.content);
    }
  }

  // Six Set-Cookie lines: four names kept, the other two dropped.
  std::string six = "HTTP/1.1 200 OK\r\n";
  for (const char* name : {"a", "b", "c", "d", "e", "f"}) six += std::string("Set-Cookie: ") + name + "=v\r\n";
  peer.Reply("six-cookies", six + "Content-Length: 1\r\n\r\nx");
  HTTPConnection connection(UrlRecord("http://127.0.0.1/"), new TCPTransport("127.0.0.1", peer.port, "", 0));
  ASSERT_TRUE(connection.SendGet("/six-cookies"));
  EXPECT_TRUE(connection.ReadResponseHeader());
  EXPECT_EQ(connection.count, 4);
  EXPECT_STREQ(connection.names[3], "d");
}

} // namespace
