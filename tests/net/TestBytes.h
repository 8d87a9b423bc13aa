#pragma once
// The two text forms of the stored blocks, spelled out byte by byte.
#include <cstdint>
#include <string>

#include "tests/assetdb/database/BlockBytes.h"

namespace nettest {

using blocktest::Bytes;

// Length, then the bytes.
inline void Text(Bytes& out, const std::string& text) {
  Vak::AppendLE32(out, static_cast<uint32_t>(text.size()));
  out.insert(out.end(), text.begin(), text.end());
}

// Length with the terminator, the bytes, the terminator.
inline void PText(Bytes& out, const std::string& text) {
  Vak::AppendLE32(out, static_cast<uint32_t>(text.size() + 1));
  out.insert(out.end(), text.begin(), text.end());
  out.push_back(0);
}

} // namespace nettest
