#include "engine/kernelx/MemoryFile.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/ByteOrder.h"

namespace Vak {

MemoryFile::MemoryFile(File& file, bool flag, int reserve) { Open(file, flag, reserve); }

bool MemoryFile::Open(File& file, bool, int) {
  Close();
  if (!file.IsOpen()) return false;
  file.Seek(0, File::kSeekBegin);
  // A packed file declares its unpacked size in a header that may be
  // damaged, so the buffer grows with what is read, not ahead of it.
  const uint32_t declared = file.Size();
  constexpr uint32_t kBlock = 65536;
  bool whole = true;
  try {
    bytes_.reserve(std::min<uint32_t>(declared, uint32_t{256} << 20));
    for (;;) {
      const std::size_t at = bytes_.size();
      if (at > declared) {
        whole = false;
        break;
      }
      bytes_.resize(at + kBlock);
      const unsigned long got = file.Read(bytes_.data() + at, kBlock, 1);
      bytes_.resize(at + got);
      if (got < kBlock) break;
    }
  } catch (const std::bad_alloc&) {
    whole = false;
  }
  if (!whole || file.ReadFailed() || bytes_.size() != declared) {
    Close();
    return false;
  }
  state_ = State{0, 0, static_cast<uint32_t>(bytes_.size())};
  name_ = file.GetPath();
  return true;
}

void MemoryFile::Close() {
  std::vector<uint8_t>().swap(bytes_);
  state_ = State{};
  name_ = PString();
}

bool MemoryFile::Read(uint32_t& value) {
  if (Remaining() < 4) return false;
  value = GetLE32(Cursor());
  state_.position += 4;
  return true;
}

bool MemoryFile::Read(int32_t& value) {
  uint32_t bits;
  if (!Read(bits)) return false;
  value = static_cast<int32_t>(bits);
  return true;
}

bool MemoryFile::Read(float& value) {
  uint32_t bits;
  if (!Read(bits)) return false;
  std::memcpy(&value, &bits, 4);
  return true;
}

bool MemoryFile::Read(void* out, uint32_t length) {
  if (Remaining() < length) return false;
  if (length > 0) std::memcpy(out, Cursor(), length);
  state_.position += length;
  return true;
}

bool MemoryFile::Skip(uint32_t length) {
  if (Remaining() < length) return false;
  state_.position += length;
  return true;
}

void MemoryFile::StepBack(uint32_t length) {
  state_.position -= std::min(length, state_.position - state_.start);
}

bool MemoryFile::MoveTo(uint64_t offset) {
  if (offset > state_.size) return false;
  state_.position = state_.start + static_cast<uint32_t>(offset);
  return true;
}

bool MemoryFile::SetState(const State& state) {
  const uint64_t end = uint64_t{state.start} + state.size;
  if (end > bytes_.size() || state.position < state.start || state.position > end) return false;
  state_ = state;
  return true;
}

} // namespace Vak
