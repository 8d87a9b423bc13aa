// A proxy's reply to a tunnel request, fed through an in-memory transport in
// pieces of the size the first byte picks: the reader never takes more than
// its limit, and on success it has taken exactly a reply that ends in an
// empty line, leaving the rest to the tunnel.
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
    if (reply.compare(0, 5, "HTTP/") != 0) __builtin_trap();
    const bool endsEmpty = (reply.size() >= 2 && reply.compare(reply.size() - 2, 2, "\n\n") == 0) ||
                           (reply.size() >= 3 && reply.compare(reply.size() - 3, 3, "\n\r\n") == 0);
    if (!endsEmpty) __builtin_trap();
  }
  return 0;
}
