// The asset index's blocks: the first input byte chooses the reader, the rest
// is the block. A read either fails and leaves the structure empty, or
// succeeds; what it read writes a block that reads back to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "assetdb/KuidTable.h"
#include "assetdb/PersistentRecordList.h"
#include "assetdb/VADDependencyTable.h"
#include "assetdb/VADLog.h"
#include "content/DynamicBuffer.h"
#include "content/TStream.h"

namespace {

TBuffer* InputOf(const uint8_t* data, size_t size, TBuffer& in) {
  if (size) in.GetBuffer().Write(data, static_cast<uint32_t>(size));
  in.GetBuffer().SetPosition(0);
  return &in;
}

std::string Bytes(TBuffer& buffer) {
  const DynamicBuffer& b = buffer.GetBuffer();
  return std::string(reinterpret_cast<const char*>(b.Data()), b.Size());
}

// Reads, checks the failure leaves nothing, and for a success checks that the
// structure's own block reads back and writes the same bytes.
// `exact`: the second write must give the first one's bytes (structures whose
// stored order does not depend on addresses).
template <class Structure, class ReadFn, class WriteFn, class CountFn>
void RoundTrip(const uint8_t* data, size_t size, bool exact, ReadFn read, WriteFn write, CountFn count) {
  Structure first;
  TBuffer in;
  if (!read(first, *InputOf(data, size, in))) {
    if (count(first) != 0) __builtin_trap();
    return;
  }
  // A structure that builds its entries when first asked writes them from
  // here on, as the second one below does.
  (void)count(first);
  TBuffer once;
  write(first, once);
  const std::string a = Bytes(once);
  Structure second;
  TBuffer again;
  if (!read(second, *InputOf(reinterpret_cast<const uint8_t*>(a.data()), a.size(), again))) __builtin_trap();
  if (count(second) != count(first)) __builtin_trap();
  TBuffer twice;
  write(second, twice);
  const std::string b = Bytes(twice);
  if (exact ? b != a : b.size() != a.size()) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t which = data[0];
  ++data;
  --size;
  switch (which % 4) {
    case 1:
      RoundTrip<KuidTable>(
          data, size, true, [](KuidTable& t, TStream& s) { return t.Read(s); },
          [](const KuidTable& t, TStream& s) { t.Write(s); }, [](const KuidTable& t) { return t.Count(); });
      break;
    case 2:
      RoundTrip<PersistentRecordList>(
          data, size, true, [](PersistentRecordList& l, TStream& s) { return l.Read(s); },
          [](const PersistentRecordList& l, TStream& s) { l.Write(s); },
          [](const PersistentRecordList& l) { return l.Records().Count(); });
      break;
    case 3:
      RoundTrip<VADLog>(
          data, size, true, [](VADLog& log, TStream& s) { return log.Read(s); },
          [](VADLog& log, TStream& s) { log.Write(s); },
          [](VADLog& log) { return log.FinishedList().Count(); });
      break;
    default: {
      // A block nobody asked about is written back as it was read, damage
      // (a KUID listed twice) included.
      VADDependencyTable untouched;
      TBuffer in;
      if (untouched.Read(*InputOf(data, size, in))) {
        TBuffer out;
        untouched.Write(out);
        const std::string written = Bytes(out);
        if (written.size() > size || std::memcmp(written.data(), data, written.size()) != 0) __builtin_trap();
      }
      // Once asked, the entries are written: the dependency sets are ordered
      // by entry address, so only the size of a second write is stable.
      RoundTrip<VADDependencyTable>(
          data, size, false, [](VADDependencyTable& t, TStream& s) { return t.Read(s); },
          [](const VADDependencyTable& t, TStream& s) { t.Write(s); },
          [](const VADDependencyTable& t) { return t.Count(); });
      break;
    }
  }
  return 0;
}
