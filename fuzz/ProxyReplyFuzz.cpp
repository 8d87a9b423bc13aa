// A proxy's reply to a tunnel request, fed through an in-memory transport in
// pieces of the size the first byte picks: the reader never takes more than
// its limit, and on success it has taken exactly a reply that ends in an
// empty line, leaving the rest to the tunnel. Carriage returns are no part
// of a line's text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "net/NetTransport.h"
#include "tests/net/support/MemoryTransport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t piece = 1 + data[0] % 16;
  const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
  nettest::MemoryTransport transport(input, piece);
  const bool ok = ReadProxyReply(transport);
  const size_t taken = input.size() - transport.Rest().size();
  if (taken > static_cast<size_t>(kProxyReplyLimit)) __builtin_trap();
  if (ok) {
    const std::string reply = input.substr(0, taken);
    std::string text;
    for (char c : reply) {
      if (c != '\r') text += c;
    }
    if (text.compare(0, 5, "HTTP/") != 0) __builtin_trap();
    // The last line holds nothing but carriage returns.
    if (reply.empty() || reply.back() != '\n') __builtin_trap();
    const size_t previous = reply.find_last_of('\n', reply.size() - 2);
    if (previous == std::string::npos) __builtin_trap();
    for (size_t i = previous + 1; i + 1 < reply.size(); ++i) {
      if (reply[i] != '\r') __builtin_trap();
    }
  }
  return 0;
}
