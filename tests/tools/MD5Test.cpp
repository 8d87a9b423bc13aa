#include "tools/MD5.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "platform/os/Process.h"
#include "platform/os/Waitable.h"
#include "tests/tools/ToolTestSupport.h"

namespace {

using tooltest::ReadBytes;
using tooltest::TempFolder;
using tooltest::WriteBytes;

std::string Hex(MD5& digest) {
  char* text = digest.hex_digest();
  std::string out = text ? text : "(null)";
  std::free(text);
  return out;
}

std::string DigestOf(const std::string& message) {
  MD5 digest;
  digest.update(reinterpret_cast<const unsigned char*>(message.data()), static_cast<unsigned>(message.size()));
  digest.finalize();
  return Hex(digest);
}

TEST(MD5Test, ReproducesTheRfc1321Suite) {
  const struct {
    const char* message;
    const char* digest;
  } cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.digest, DigestOf(c.message)) << '"' << c.message << '"';
}

TEST(MD5Test, PiecewiseUpdatesEqualOneUpdate) {
  std::string message;
  for (int i = 0; i < 5000; ++i) message += static_cast<char>(i * 31 + 7);
  MD5 digest;
  // Pieces that straddle the 64-byte blocks.
  for (std::size_t at = 0, step = 1; at < message.size(); at += step, step = step % 97 + 13)
    digest.update(reinterpret_cast<const unsigned char*>(message.data() + at),
                  static_cast<unsigned>(std::min(step, message.size() - at)));
  digest.finalize();
  EXPECT_EQ(DigestOf(message), Hex(digest));
}

TEST(MD5Test, MisuseIsReportedOnStandardErrorAndChangesNothing) {
  MD5 digest;
  testing::internal::CaptureStderr();
  EXPECT_EQ("", Hex(digest));
  digest.update(reinterpret_cast<const unsigned char*>("abc"), 3);
  digest.finalize();
  digest.update(reinterpret_cast<const unsigned char*>("x"), 1);
  digest.finalize();
  EXPECT_EQ("MD5::hex_digest:  Can't get digest if you haven't finalized the digest!\n"
            "MD5::update:  Can't update a finalized digest!\n"
            "MD5::finalize:  Already finalized this digest!\n",
            testing::internal::GetCapturedStderr());
  EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", Hex(digest));
}

TEST(MD5Test, StreamConstructorReadsToTheEndAndCloses) {
  TempFolder folder;
  ASSERT_TRUE(WriteBytes(folder / "abc.txt", "abc"));
  MD5 digest(std::fopen((folder / "abc.txt").c_str(), "rb"));
  EXPECT_TRUE(digest.finalized());
  EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", Hex(digest));
}

TEST(MD5Test, FileDigestMatchesMd5sumAndIsNullForAMissingFile) {
  TempFolder folder;
  std::string big(3 * 1024 * 1024 + 517, '\0');
  uint32_t state = 12345;
  for (char& c : big) c = static_cast<char>((state = state * 1103515245u + 12345u) >> 24);
  ASSERT_TRUE(WriteBytes(folder / "big.bin", big));
  platform::Process process;
  ASSERT_EQ(platform::Error::None,
            process.Start({"/bin/sh", "-c", "md5sum \"$1\" > \"$1.sum\"", "sh", folder / "big.bin"}));
  ASSERT_TRUE(process.Wait(platform::kInfinite));
  ASSERT_EQ(0, process.ExitCode());
  EXPECT_EQ(ReadBytes(folder / "big.bin.sum").substr(0, 32), FileMD5Hex((folder / "big.bin").c_str()).c_str());
  EXPECT_EQ(FileMD5Hex((folder / "big.bin").c_str()), BufferMD5Hex(big.data(), big.size()));

  EXPECT_TRUE(FileMD5Hex((folder / "missing.bin").c_str()).IsNull());
  EXPECT_TRUE(FileMD5Hex(nullptr).IsNull());
}

} // namespace
