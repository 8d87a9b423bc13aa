// The readers under the clients, over bytes in memory: line reading, the
// proxy's tunnel reply, dotted quads, and the TLS locking function.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <string>
#include <vector>

#include "net/NetConnection.h"
#include "net/SSLTransport.h"
#include "tests/net/support/MemoryTransport.h"

namespace {

using nettest::MemoryTransport;

// The lines ReadLine gives up to its first false (shown as ""), and the
// bytes it leaves.
std::pair<std::vector<std::string>, std::string> Lines(const std::string& input) {
  auto* transport = new MemoryTransport(input);
  NetConnection connection(transport);
  std::vector<std::string> lines;
  char line[NetConnection::kLineSize];
  while (connection.ReadLine(line)) lines.push_back(line);
  lines.push_back("");
  return {lines, transport->Rest()};
}

TEST(NetConnectionReadLine, PairsOfLineEndsAreOneAndLikeEndsMakeEmptyLines) {
  struct Case {
    const char* input;
    std::vector<std::string> lines;
    const char* rest;
  } cases[] = {
      {"a\r\nb\r\n\r\nbody", {"a", "b", ""}, "\nbody"},  // the header reader takes that LF
      {"a\nb\n\nbody", {"a", "b", ""}, "body"},
      {"a\n\rb\n\r\n\rbody", {"a", "b", ""}, "\rbody"},
      {"a\rb\r\rbody", {"a", "b", ""}, "body"},
      {"\r\na", {""}, "\na"},
      {"a", {"a", ""}, ""},  // the end of the stream ends a line
  };
  for (const Case& c : cases) {
    const auto [lines, rest] = Lines(c.input);
    EXPECT_EQ(lines, c.lines) << c.input;
    EXPECT_EQ(rest, c.rest) << c.input;
  }
}

TEST(NetConnectionReadLine, LongLineKeepsItsStartAndDropsTheRest) {
  const std::string longLine(700, 'x');
  const auto [lines, rest] = Lines(longLine + "\nnext\n\n");
  EXPECT_EQ(lines, (std::vector<std::string>{longLine.substr(0, NetConnection::kLineSize - 1), "next", ""}));
}

TEST(NetConnection, SendFormattedWritesOneTextOfAnyLength) {
  auto* transport = new MemoryTransport("");
  NetConnection connection(transport);
  const std::string big(5000, 'y');
  EXPECT_TRUE(connection.SendFormatted("%s %d\r\n", big.c_str(), 7));
  EXPECT_EQ(transport->Written(), big + " 7\r\n");
  connection.Close();
  EXPECT_EQ(connection.GetStatus(), kNetClosed);
  EXPECT_FALSE(connection.SendFormatted("x"));
  EXPECT_EQ(NetConnection().GetStatus(), kNetNoTransport);
}

TEST(ReadProxyReply, ReadsThroughTheEmptyLineAndWantsSuccess) {
  const std::string after = "\x16\x03\x01";  // the tunnelled stream's first bytes
  struct Case {
    std::string reply;
    bool ok;
    std::string rest;  // left in the stream when ok
  } cases[] = {
      {"HTTP/1.0 200 Connection established\r\nProxy-agent: tinyproxy/1.11.1\r\n\r\n" + after, true, after},
      {"HTTP/1.1 200 OK\r\n\r\n" + after, true, after},
      {"HTTP/1.0 200 OK\n\n" + after, true, after},
      {"HTTP/1.0 403 Access violation\r\nContent-Type: text/html\r\n\r\n<html>", false, ""},
      {"HTTP/1.0 500 Unable to connect\r\n\r\n", false, ""},
      {"HTTP/1.0 200 OK\r\nProxy-agent: x\r\n", false, ""},  // closes before the empty line
      {"", false, ""},
      {"HTTP/1.0 200 OK\r\nX: " + std::string(9000, 'a') + "\r\n\r\n", false, ""},
      {"garbage\r\n\r\n", false, ""},
  };
  for (const Case& c : cases) {
    for (size_t piece : {size_t(1), size_t(1) << 20}) {
      MemoryTransport transport(c.reply, piece);
      EXPECT_EQ(ReadProxyReply(transport), c.ok) << c.reply.substr(0, 60);
      if (c.ok) {
        EXPECT_EQ(transport.Rest(), c.rest);
      }
    }
  }
}

TEST(NameToIPAddress, DottedQuadsMustBeFourNumbersUpTo255) {
  struct Case {
    const char* name;
    const char* address;  // null: unresolved
  } cases[] = {
      {"127.0.0.1", "127.0.0.1"}, {"255.255.255.255", "255.255.255.255"}, {"010.1.2.3", "10.1.2.3"},
      {"1.2.3", nullptr},         {"1..2.3", nullptr},   {"300.1.1.1", nullptr}, {"1.2.3.4.5", nullptr},
      {"1.2.3.4.", nullptr},      {".1.2.3", nullptr},   {"1.2.3.0004", nullptr}, {"", nullptr},
      {"localhost", "127.0.0.1"}, {"no-such-host.invalid", nullptr},
  };
  for (const Case& c : cases) {
    const uint32_t address = NameToIPAddress(c.name);
    if (!c.address) {
      EXPECT_EQ(address, 0u) << c.name;
    } else {
      EXPECT_EQ(address, inet_addr(c.address)) << c.name;
    }
  }
}

TEST(SSLLockingCallback, LocksAndUnlocksHeldSectionsAndIgnoresStrayCalls) {
  ASSERT_GE(SSLLockCount(), 1);
  const int last = SSLLockCount() - 1;
  SSLLockingCallback(2, last, __FILE__, __LINE__);  // not held: nothing to release
  EXPECT_FALSE(SSLLockHeld(last));
  SSLLockingCallback(1, last, __FILE__, __LINE__);
  EXPECT_TRUE(SSLLockHeld(last));
  SSLLockingCallback(2, last, __FILE__, __LINE__);
  EXPECT_FALSE(SSLLockHeld(last));
  SSLLockingCallback(1, -1, __FILE__, __LINE__);
  SSLLockingCallback(1, SSLLockCount(), __FILE__, __LINE__);
  EXPECT_FALSE(SSLLockHeld(-1));
  EXPECT_FALSE(SSLLockHeld(SSLLockCount()));
}

} // namespace
