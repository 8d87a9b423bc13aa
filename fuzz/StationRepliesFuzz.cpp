// The download station's readers of what the server sends: the first input
// byte picks the asset-list line reader (the rest split into lines) or the
// search-reply reader (the rest read as a text chunk file). A line is taken
// only with a KUID and a number, its kind and name without surrounding
// blanks; a reply is taken only with its "timestamp", and every URL taken
// names a server.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "Vak/Bexlorn/PString.h"
#include "content/DynamicBuffer.h"
#include "content/TStream.h"
#include "content/TextChunkFile.h"
#include "net/VADDownloadStation.h"

namespace {

bool Blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

void CheckLines(const char* text, size_t size) {
  const char* end = text + size;
  for (const char* p = text; p < end;) {
    const char* lineEnd = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
    if (!lineEnd) lineEnd = end;
    AssetListLine line;
    if (ParseAssetListLine(p, static_cast<size_t>(lineEnd - p), line)) {
      if (line.kuid.IsNull() || line.number < 0 || line.kind.empty()) __builtin_trap();
      const std::string_view name = line.name;
      if (!name.empty() && (Blank(name.front()) || Blank(name.back()))) __builtin_trap();
      if (name.data() < p || name.data() + name.size() > lineEnd) __builtin_trap();
    }
    p = lineEnd + 1;
  }
}

void CheckSearchReply(const uint8_t* data, size_t size) {
  TBuffer in;
  if (size) in.GetBuffer().Write(data, static_cast<uint32_t>(size));
  in.GetBuffer().SetPosition(0);
  ACSChunkPtr reply;
  ReadChunkFileText(reply, in, false);
  Vak::String timestamp;
  std::vector<UrlRecord> urls;
  const bool taken = ReadSearchReply(reply, timestamp, urls);
  if (!taken && !urls.empty()) __builtin_trap();
  for (const UrlRecord& url : urls)
    if (!url.host[0]) __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Vak::PString::cache()->CollectGarbage();
  if (size == 0) return 0;
  const bool lines = data[0] & 1;
  ++data;
  --size;
  if (lines)
    CheckLines(reinterpret_cast<const char*>(data), size);
  else
    CheckSearchReply(data, size);
  return 0;
}
