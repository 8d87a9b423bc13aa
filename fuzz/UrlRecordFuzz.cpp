// URL texts: a parsed record keeps every field terminated inside its width,
// holds no control byte and no port past 65535, and so does the record parsed
// from its formatted text. Formatting need not give the text back: odd texts
// (a '?' or ':' in what the parser takes for the host) read differently.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "net/UrlRecord.h"

namespace {

template <size_t N> void CheckField(const char (&field)[N]) {
  const void* end = std::memchr(field, 0, N);
  if (!end) __builtin_trap();
  for (const char* p = field; p < static_cast<const char*>(end); ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c < 0x20 || c == 0x7F) __builtin_trap();
  }
}

void CheckRecord(const UrlRecord& url) {
  CheckField(url.scheme);
  CheckField(url.user);
  CheckField(url.password);
  CheckField(url.host);
  CheckField(url.path);
  CheckField(url.query);
  if (url.port < 0 || url.port > UrlRecord::kMaxPort) __builtin_trap();
  const int32_t port = url.GetPort();
  if (port <= 0 || port > UrlRecord::kMaxPort) __builtin_trap();
  if (url.path[0] && url.path[0] != '/') __builtin_trap();
  if (!url.Equals(url)) __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Released interned strings stay until collected: one bucket a run keeps
  // a long run's memory flat.
  Vak::PString::cache()->CollectGarbage();
  UrlRecord url;
  url.Parse(reinterpret_cast<const char*>(data), size);
  CheckRecord(url);

  const Vak::PString text = url.Format();
  const UrlRecord again(text.c_str());
  CheckRecord(again);

  const UrlRecord key = UrlRecord::HostKey(url);
  if (key.path[0] || key.query[0] || !key.Equals(UrlRecord::HostKey(key))) __builtin_trap();
  // A record with its own scheme and host keeps them, and all else, in a merge.
  UrlRecord merged = url;
  merged.Merge(again);
  if (url.scheme[0] && url.host[0] && !merged.Equals(url)) __builtin_trap();
  return 0;
}
