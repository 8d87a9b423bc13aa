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
  // damaged, so the buffer grows with what is read beyond the first room,
  // never ahead of it.
  const uint32_t declared = file.Size();
  std::size_t room = std::min<uint32_t>(declared, uint32_t{256} << 20);
  std::size_t held = 0;
  std::unique_ptr<uint8_t[]> bytes;
  try {
    bytes.reset(new uint8_t[std::max<std::size_t>(room, 1)]);
    for (;;) {
      if (held == room) {
        if (held >= declared) {
          // Content past the declared size means the header is wrong.
          uint8_t probe;
          if (file.Read(&probe, 1, 1) != 0) held = std::size_t{declared} + 1;
          break;
        }
        room = std::min<std::size_t>(declared, room * 2);
        std::unique_ptr<uint8_t[]> grown(new uint8_t[room]);
        std::memcpy(grown.get(), bytes.get(), held);
        bytes = std::move(grown);
      }
      const std::size_t want = room - held;
      const unsigned long got = file.Read(bytes.get() + held, want, 1);
      held += got;
      if (got < want) break;
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (file.ReadFailed() || held != declared) return false;
  bytes_ = std::move(bytes);
  held_ = held;
  state_ = State{0, 0, static_cast<uint32_t>(held)};
  name_ = file.GetPath();
  return true;
}

void MemoryFile::Close() {
  bytes_.reset();
  held_ = 0;
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
  if (end > held_ || state.position < state.start || state.position > end) return false;
  state_ = state;
  return true;
}

} // namespace Vak
