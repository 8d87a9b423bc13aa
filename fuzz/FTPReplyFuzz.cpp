// FTP replies as a server sends them: the reply reader consumes whole
// replies without reading past the input or looping, and the passive-mode
// and size parsers accept only values in range.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "net/FTPConnection.h"
#include "net/FTPReply.h"
#include "tests/net/support/MemoryTransport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
  const int codes[] = {220, 227, 230, 213, 150, 257};
  const int code = codes[data[0] % 6];

  FTPConnection connection(new nettest::MemoryTransport(input, 1 + data[0] % 7));
  for (int reply = 0; reply < 64 && connection.GetTransport()->DataAvailable(); ++reply) {
    connection.ExpectReply(code);
    const char* line = connection.GetReplyLine();
    if (std::strlen(line) >= static_cast<size_t>(NetConnection::kLineSize)) __builtin_trap();
    int32_t port = -1;
    if (FTPReply::ParsePassivePort(line, port) && (port <= 0 || port > 65535)) __builtin_trap();
    int32_t fileSize = -1;
    if (FTPReply::ParseSize(line, fileSize) == FTPReply::SizeKind::kSize && fileSize < 0) __builtin_trap();
  }
  return 0;
}
