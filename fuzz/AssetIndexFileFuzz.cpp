// The asset index file reader. The first input byte chooses the form: below
// 0x80 the rest is a whole file as stored; from 0x80 on the rest is a body
// that gets a valid header of version 20 + (byte % 17), and from version 34 a
// seed and the scrambling, so the fuzzer works on the blocks themselves.
// A read either fails and leaves the index empty, or succeeds; an index read
// writes a file that reads back with the same records.
#include <cstddef>
#include <cstdint>

#include "assetdb/VADAssetIndex.h"
#include "assetdb/VADDatabaseFile.h"
#include "content/DynamicBuffer.h"
#include "content/TStream.h"
#include "content/TStreamObfuscated.h"

namespace {

void Fill(TBuffer& stream, const uint8_t* data, size_t size) {
  if (size) stream.GetBuffer().Write(data, static_cast<uint32_t>(size));
  stream.GetBuffer().SetPosition(0);
}

// Header, seed and scrambled body around `body`.
void WrapBody(uint32_t version, const uint8_t* body, size_t size, TBuffer& out) {
  const bool seeded = version >= vad_file::kFirstScrambled;
  out.WriteInt(vad_file::kMagic);
  out.WriteInt(version);
  out.WriteInt(static_cast<uint32_t>(vad_file::kHeaderBytes + (seeded ? 4 : 0) + size));
  TStreamObfuscated scrambled;
  scrambled.Open(true, &out, seeded ? TStreamObfuscated::kScrambled : TStreamObfuscated::kPlain);
  if (size) scrambled.WriteBytes(body, static_cast<uint32_t>(size));
  scrambled.Open(false, nullptr, TStreamObfuscated::kPlain);
  out.DropReadAhead();
  out.GetBuffer().SetPosition(0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t form = data[0];
  ++data;
  --size;
  TBuffer input;
  if (form < 0x80) Fill(input, data, size);
  else WrapBody(vad_file::kOldestVersion + form % 17, data, size, input);

  if (!gVadAssetIndex.ReadDatabase(input)) {
    if (gVadAssetIndex.RecordCount() != 0) __builtin_trap();
    return 0;
  }
  const uint32_t count = gVadAssetIndex.RecordCount();
  TBuffer written;
  if (!gVadAssetIndex.WriteDatabase(written)) __builtin_trap();
  written.GetBuffer().SetPosition(0);
  if (!gVadAssetIndex.ReadDatabase(written)) __builtin_trap();
  if (gVadAssetIndex.RecordCount() != count) __builtin_trap();
  gVadAssetIndex.Clear();
  return 0;
}
