#include "net/WebServiceLogin.h"

#include <gtest/gtest.h>

#include <string>

#include "net/UrlRecord.h"
#include "net/WebService.h"

TEST(WebServiceLoginTest, PercentEncodingLeavesUnreservedCharactersAlone) {
  struct Case {
    const char* text;
    const char* encoded;
  } cases[] = {
      {"Driver_01.x~y-z", "Driver_01.x~y-z"},
      {"a&b=c", "a%26b%3Dc"},
      {"100% sure", "100%25%20sure"},
      {"line\r\nHost: x", "line%0D%0AHost%3A%20x"},
      {"\xE9", "%E9"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(std::string(static_cast<const char*>(PercentEncode(c.text))), c.encoded) << c.text;
}

// The service's host setting is "host[:port]", 443 without a port; its test
// host counts as the service too.
TEST(WebServiceLoginTest, TheServiceIsItsHostAndPortOrItsTestHost) {
  struct Case {
    const char* host;
    const char* testHost;
    const char* url;
    bool service;
  } cases[] = {
      {"quillnet.example", "", "https://quillnet.example/x", true},
      {"quillnet.example", "", "https://QUILLNET.example:443/x", true},
      {"quillnet.example", "", "https://quillnet.example:8443/x", false},
      {"quillnet.example:8443", "", "https://quillnet.example:8443/x", true},
      {"quillnet.example:8443", "", "https://quillnet.example/x", false},
      {"quillnet.example", "test.example:444", "https://test.example:444/x", true},
      {"quillnet.example", "test.example:444", "https://test.example/x", false},
      {"quillnet.example", "test.example", "https://test.example/x", true},
      {"quillnet.example", "", "https://other.example/x", false},
  };
  for (const Case& c : cases) {
    SetWebServiceHost(c.host);
    SetWebServiceTestHost(c.testHost);
    EXPECT_EQ(IsWebServiceHost(UrlRecord(c.url)), c.service) << c.host << " / " << c.testHost << ": " << c.url;
    EXPECT_STREQ(WebServiceHostName().c_str(), "quillnet.example") << c.host;
    EXPECT_EQ(WebServicePort(), std::string(c.host).find(':') == std::string::npos ? 443 : 8443) << c.host;
  }
  SetWebServiceHost("localhost");
  SetWebServiceTestHost("");
}
