#include "net/FTPConnection.h"

#include <gtest/gtest.h>

#include <string>

#include "net/TCPTransport.h"
#include "tests/net/DownloadPeers.h"
#include "tests/net/support/MemoryTransport.h"

using nettest::MemoryTransport;
using platform::test::TempFolder;

namespace {

// A control channel in memory whose data channel is another one.
class ScriptedControl : public MemoryTransport {
public:
  ScriptedControl(std::string replies, std::string data) : MemoryTransport(std::move(replies)), data_(std::move(data)) {}
  NetTransport* Reconnect(int32_t port) override {
    reconnectedTo = port;
    return new MemoryTransport(data_);
  }
  int32_t reconnectedTo = 0;

private:
  std::string data_;
};

// Passes everything to a real transport and keeps what was sent.
class Recording : public NetTransport {
public:
  explicit Recording(NetTransport* inner) : inner_(inner) {}
  ~Recording() override { delete inner_; }
  int32_t Read(void* b, int32_t n) override { return inner_->Read(b, n); }
  int32_t Peek(void* b, int32_t n) override { return inner_->Peek(b, n); }
  int32_t Write(const void* d, int32_t n) override {
    sent->append(static_cast<const char*>(d), static_cast<size_t>(n));
    return inner_->Write(d, n);
  }
  void Close() override {
    inner_->Close();
    SetStatus(kNetClosed);
  }
  NetTransport* Reconnect(int32_t port) override { return inner_->Reconnect(port); }
  bool DataAvailable() override { return inner_->DataAvailable(); }
  std::shared_ptr<std::string> sent = std::make_shared<std::string>();

private:
  NetTransport* inner_;
};

const char kTransferReplies[] = "200 Type set to: Binary.\r\n"
                                "227 Entering Passive Mode (127,0,0,1,19,137).\r\n";

std::string Bytes(size_t n) {
  std::string s(n, 0);
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 7 + i / 251);
  return s;
}

} // namespace

TEST(FTPConnectionTest, AMultiLineReplyCountsAsItsCode) {
  FTPConnection connection(new MemoryTransport("220 hello\r\n331 password\r\n230-Welcome\r\n230-to the\r\n server\r\n"
                                               "230 Login successful.\r\n"));
  EXPECT_TRUE(connection.Login("user", "pass"));
  EXPECT_STREQ(connection.GetReplyLine(), "230 Login successful.");
  FTPConnection cut(new MemoryTransport("220 hello\r\n331 password\r\n230-Welcome\r\n230-no end\r\n"));
  EXPECT_FALSE(cut.Login("user", "pass"));
}

TEST(FTPConnectionTest, ArgumentsThatWouldSplitACommandSendNothing) {
  struct Case {
    const char* user;
    const char* password;
    const char* path;
  } cases[] = {
      {"a\r\nDELE x", "p", "/f"},
      {"u", "p\n", "/f"},
      {"u", "p", "/f\r\nDELE /g"},
  };
  TempFolder dir;
  for (const Case& c : cases) {
    auto* control = new MemoryTransport("220 hello\r\n331 password\r\n230 ok\r\n");
    FTPConnection connection(control);
    if (c.path[2] == 0) {
      EXPECT_FALSE(connection.Login(c.user, c.password)) << c.user << c.password;
    } else {
      EXPECT_FALSE(connection.Download(0, c.path, (dir / "out").c_str())) << c.path;
    }
    EXPECT_EQ(control->Written(), "") << c.user << c.password << c.path;
  }
}

TEST(FTPConnectionTest, TransfersFailOnAShortDataChannelOrASizeThatDoesNotFit) {
  struct Case {
    const char* what;
    std::string replies;
    std::string data;
    bool ok;
    std::string file;
  } cases[] = {
      {"whole", std::string(kTransferReplies) + "213 10\r\n125 Data connection already open.\r\n226 Done\r\n",
       "0123456789", true, "0123456789"},
      {"150 also opens", std::string(kTransferReplies) + "213 3\r\n150 Opening.\r\n226 Done\r\n", "abc", true, "abc"},
      {"closes early", std::string(kTransferReplies) + "213 10\r\n150 Opening.\r\n226 Done\r\n", "01234", false, ""},
      {"2 GiB", std::string(kTransferReplies) + "213 2147483648\r\n150 Opening.\r\n226 Done\r\n", "", false, ""},
      {"negative", std::string(kTransferReplies) + "213 -1\r\n150 Opening.\r\n226 Done\r\n", "", false, ""},
      {"bad port", "200 ok\r\n227 Entering Passive Mode (127,0,0,1,300,1).\r\n213 3\r\n", "abc", false, ""},
      {"refused retr", std::string(kTransferReplies) + "213 3\r\n550 No.\r\n", "abc", false, ""},
  };
  for (const Case& c : cases) {
    TempFolder dir;
    auto* control = new ScriptedControl(c.replies, c.data);
    FTPConnection connection(control);
    EXPECT_EQ(connection.Download(0, "/file.bin", (dir / "out").c_str()), c.ok) << c.what;
    if (c.ok) {
      EXPECT_EQ(dir.ReadFile("out"), c.file) << c.what;
      EXPECT_EQ(control->reconnectedTo, 5001) << c.what;
    }
  }
}

class FTPServerTest : public ::testing::Test {
protected:
  void SetUp() override {
    NET_REQUIRE_PROGRAM(nettest::kPython);
    if (::access("/usr/lib/python3/dist-packages/pyftpdlib", F_OK) != 0) GTEST_SKIP() << "python3-pyftpdlib is missing";
    ASSERT_TRUE(ftp_.Start(dir_));
  }
  FTPConnection* Connect(std::shared_ptr<std::string>& sent) {
    auto* transport = new Recording(new TCPTransport("127.0.0.1", ftp_.port, "", 0));
    sent = transport->sent;
    return new FTPConnection(transport);
  }

  TempFolder dir_;
  nettest::FtpServer ftp_;
};

TEST_F(FTPServerTest, LogsInDownloadsResumesAndStaysAlive) {
  const std::string content = Bytes(100000);
  std::ofstream(ftp_.root + "/data.bin", std::ios::binary) << content;
  std::shared_ptr<std::string> sent;
  std::unique_ptr<FTPConnection> connection(Connect(sent));
  EXPECT_FALSE(connection->Login(nettest::kFtpUser, "wrong"));
  connection.reset(Connect(sent));
  ASSERT_TRUE(connection->Login(nettest::kFtpUser, nettest::kFtpPassword));

  ASSERT_TRUE(connection->Download(0, "/data.bin", (dir_ / "whole").c_str()));
  EXPECT_EQ(dir_.ReadFile("whole"), content);
  EXPECT_TRUE(connection->CheckAlive());

  dir_.WriteFile("part", content.substr(0, 12345));
  ASSERT_TRUE(connection->Download(12345, "/data.bin", (dir_ / "part").c_str()));
  EXPECT_EQ(dir_.ReadFile("part"), content);
  EXPECT_NE(sent->find("rest 12345\r\n"), std::string::npos);

  sent->clear();
  ASSERT_TRUE(connection->Download(static_cast<int32_t>(content.size()), "/data.bin", (dir_ / "part").c_str()));
  EXPECT_EQ(dir_.ReadFile("part"), content);
  EXPECT_EQ(sent->find("rest"), std::string::npos);
  EXPECT_EQ(sent->find("retr"), std::string::npos);
  EXPECT_TRUE(connection->CheckAlive());

  EXPECT_FALSE(connection->Download(0, "/missing.bin", (dir_ / "none").c_str()));
  connection->Close();
  EXPECT_FALSE(connection->CheckAlive());
  EXPECT_TRUE(connection->HasFailed());
}
