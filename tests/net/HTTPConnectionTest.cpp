#include <gtest/gtest.h>

#include "net/HTTPConnection.h"
#include "tests/net/support/MemoryTransport.h"
#include "tests/platform/os/TempFolder.h"

TEST(HTTPConnectionDebug, Sized) {
  platform::test::TempFolder dir;
  auto* t = new nettest::MemoryTransport("HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nalpha\n");
  HTTPConnection c(UrlRecord("http://h/"), t);
  EXPECT_TRUE(c.ReadResponseHeader());
  EXPECT_EQ(c.GetContentLength(), 6u);
  EXPECT_TRUE(c.ReadBody((dir / "b").c_str()));
  EXPECT_EQ(c.GetBytesReceived(), 6);
  EXPECT_EQ(dir.ReadFile("b"), "alpha\n");
}
