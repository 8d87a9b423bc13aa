// The network state's blocks in the asset index: the first input byte picks
// the reader (download station or user-name cache), the rest is the block. A
// read either fails and leaves the queue or cache empty, or succeeds; what it
// read writes a block that reads back. The user-name block then writes the
// same bytes again; the station's URLs are written as formatted, and an odd
// text may format to one that reads differently (never to more URLs).
#include <cstddef>
#include <cstdint>
#include <string>

#include "Vak/Bexlorn/PString.h"
#include "content/DynamicBuffer.h"
#include "content/TStream.h"
#include "net/UserNameLookup.h"
#include "net/VADDownloadStation.h"

namespace {

void Load(TBuffer& stream, const uint8_t* data, size_t size) {
  if (size) stream.GetBuffer().Write(data, static_cast<uint32_t>(size));
  stream.GetBuffer().SetPosition(0);
}

template <class Block> std::string Written(Block& block) {
  TBuffer out;
  block.Write(out);
  const DynamicBuffer& b = out.GetBuffer();
  return std::string(reinterpret_cast<const char*>(b.Data()), b.Size());
}

template <class Block, class CountFn>
void RoundTrip(const uint8_t* data, size_t size, bool exact, CountFn count) {
  Block first;
  TBuffer in;
  Load(in, data, size);
  if (!first.Read(in)) {
    if (count(first) != 0) __builtin_trap();
    return;
  }
  const std::string once = Written(first);
  Block second;
  TBuffer again;
  Load(again, reinterpret_cast<const uint8_t*>(once.data()), once.size());
  if (!second.Read(again) || count(second) > count(first)) __builtin_trap();
  if (exact && (count(second) != count(first) || Written(second) != once)) __builtin_trap();
}

// Stations without a worker: the input is all that runs.
class QuietStation : public VADDownloadStation {
public:
  QuietStation() : VADDownloadStation(false) {}
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Released interned strings stay until collected: one bucket a run keeps
  // a long run's memory flat.
  Vak::PString::cache()->CollectGarbage();
  if (size == 0) return 0;
  const bool station = data[0] & 1;
  ++data;
  --size;
  if (station)
    RoundTrip<QuietStation>(data, size, false, [](QuietStation& s) { return s.Queue().Count(); });
  else
    RoundTrip<UserNameLookup>(data, size, true, [](UserNameLookup& l) { return l.RecordCount(); });
  return 0;
}
