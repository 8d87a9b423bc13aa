#include "net/FTPReply.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

using FTPReply::LineKind;
using FTPReply::SizeKind;

TEST(FTPReplyTest, ClassifiesReplyLinesByCodeAndSeparator) {
  struct Case {
    const char* line;
    int code;
    LineKind kind;
  } cases[] = {
      {"230 Login successful.", 230, LineKind::kFinal},
      {"230-Welcome", 230, LineKind::kContinued},
      {"230", 230, LineKind::kOther},
      {"231 Other", 230, LineKind::kOther},
      {"230x", 230, LineKind::kOther},
      {" 230 indented", 230, LineKind::kOther},
      {"", 230, LineKind::kOther},
  };
  for (const Case& c : cases) EXPECT_EQ(FTPReply::Classify(c.line, c.code), c.kind) << c.line;
}

TEST(FTPReplyTest, PassivePortReadsTheLastTwoNumbersAndRefusesBytesOutOfRange) {
  struct Case {
    const char* line;
    bool ok;
    int32_t port;
  } cases[] = {
      {"227 Entering Passive Mode (10,0,0,1,19,137).", true, 5001},
      {"227 Entering Passive Mode (127,0,0,1,255,255)", true, 65535},
      {"227 =127,0,0,1,0,21", true, 21},
      {"227 Entering Passive Mode (10,0,0,1,256,1).", false, 0},
      {"227 Entering Passive Mode (10,0,0,1,19,1000).", false, 0},
      {"227 Entering Passive Mode (300,0,0,1,19,137).", false, 0},
      {"227 Entering Passive Mode (10,0,0,1,0,0).", false, 0},
      {"227 Entering Passive Mode (10,0,0,1,19).", false, 0},
      {"227 Entering Passive Mode (10,0,0,1,-1,19).", false, 0},
      {"227 Entering Passive Mode", false, 0},
      {"22", false, 0},
  };
  for (const Case& c : cases) {
    int32_t port = -1;
    EXPECT_EQ(FTPReply::ParsePassivePort(c.line, port), c.ok) << c.line;
    if (c.ok) {
      EXPECT_EQ(port, c.port) << c.line;
    }
  }
}

TEST(FTPReplyTest, SizeMustFitASignedWord) {
  struct Case {
    const char* line;
    SizeKind kind;
    int32_t size;
  } cases[] = {
      {"213 1234", SizeKind::kSize, 1234},
      {"213 \t 0", SizeKind::kSize, 0},
      {"213 2147483647", SizeKind::kSize, INT32_MAX},
      {"213 2147483648", SizeKind::kTooLarge, 0},
      {"213 99999999999999999999999", SizeKind::kTooLarge, 0},
      {"213 ", SizeKind::kNone, 0},
      {"213 -5", SizeKind::kNone, 0},
  };
  for (const Case& c : cases) {
    int32_t size = -1;
    EXPECT_EQ(FTPReply::ParseSize(c.line, size), c.kind) << c.line;
    if (c.kind == SizeKind::kSize) {
      EXPECT_EQ(size, c.size) << c.line;
    }
  }
}

TEST(FTPReplyTest, ArgumentsWithLineBreaksOrNulAreUnsafe) {
  EXPECT_TRUE(FTPReply::IsSafeArgument("/pub/file name.bin"));
  EXPECT_FALSE(FTPReply::IsSafeArgument("a\r\nDELE x"));
  EXPECT_FALSE(FTPReply::IsSafeArgument("a\n"));
  const std::string withNul("a\0b", 3);
  EXPECT_FALSE(FTPReply::IsSafeArgument(withNul.data(), withNul.size()));
  EXPECT_FALSE(FTPReply::IsSafeArgument(nullptr));
}
