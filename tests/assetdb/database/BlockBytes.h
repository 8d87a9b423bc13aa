#pragma once
// Blocks of the asset index as bytes: what a structure writes, a structure
// read from given bytes, and a KUID in its stored form.
#include <cstdint>
#include <vector>

#include "Vak/Bexlorn/ByteOrder.h"
#include "content/DynamicBuffer.h"
#include "content/KUID.h"
#include "content/TStream.h"

namespace blocktest {

using Bytes = std::vector<uint8_t>;

template <class Structure> Bytes WriteBlock(Structure& structure) {
  TBuffer stream;
  structure.Write(stream);
  const DynamicBuffer& b = stream.GetBuffer();
  return Bytes(b.Data(), b.Data() + b.Size());
}

template <class Structure> bool ReadBlock(Structure& structure, const Bytes& bytes) {
  TBuffer stream;
  if (!bytes.empty()) stream.GetBuffer().Write(bytes.data(), static_cast<uint32_t>(bytes.size()));
  stream.GetBuffer().SetPosition(0);
  return structure.Read(stream);
}

// Content word, then the packed word.
inline void AppendKuid(Bytes& out, const KUID& kuid) {
  uint32_t packed = 0, content = 0;
  kuid.Pack(packed, content);
  Vak::AppendLE32(out, content);
  Vak::AppendLE32(out, packed);
}

} // namespace blocktest
