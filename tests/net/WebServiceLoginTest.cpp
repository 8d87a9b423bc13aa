#include "net/WebServiceLogin.h"

#include <gtest/gtest.h>

#include <string>

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
