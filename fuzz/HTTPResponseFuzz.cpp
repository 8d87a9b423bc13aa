// An HTTP response (status line, headers, then a sized, chunked or to-close
// body) fed through an in-memory transport in pieces of the size the first
// byte picks: the cookie jar stays within its four terminated entries, the
// body never counts more bytes than came, and a body reported read is in the
// file whole.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>

#include "Vak/Bexlorn/PString.h"
#include "fuzz/FuzzInputFile.h"
#include "net/HTTPConnection.h"
#include "tests/net/support/MemoryTransport.h"

namespace {

const std::string& BodyPath() {
  static const std::string path = fuzz::ScratchFolder::Get().FileNamed("body");
  return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Vak::PString::cache()->CollectGarbage();
  if (size == 0) return 0;
  const size_t piece = 1 + data[0] % 64;
  const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
  auto* transport = new nettest::MemoryTransport(input, piece);
  HTTPConnection connection(UrlRecord("http://fuzz/"), transport);
  connection.ReadResponseHeader();
  if (connection.count < 0 || connection.count > HTTPCookieJar::kMaxCookies) __builtin_trap();
  for (int i = 0; i < connection.count; ++i) {
    if (!memchr(connection.names[i], 0, HTTPCookieJar::kNameSize)) __builtin_trap();
    if (!memchr(connection.values[i], 0, HTTPCookieJar::kValueSize)) __builtin_trap();
  }
  const size_t before = transport->Rest().size();
  const bool ok = connection.ReadBody(BodyPath().c_str());
  const int32_t received = connection.GetBytesReceived();
  if (received < 0 || static_cast<size_t>(received) > before) __builtin_trap();
  if (ok) {
    std::ifstream file(BodyPath(), std::ios::binary | std::ios::ate);
    if (static_cast<int64_t>(file.tellg()) != received) __builtin_trap();
  }
  return 0;
}
