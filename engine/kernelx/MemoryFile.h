#pragma once
// A whole file's bytes held in memory with a read cursor, for the readers of
// the chunked resource files. Every read checks what remains: nothing is read
// past the data, and a read that does not fit leaves the cursor where it was.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "Vak/Bexlorn/PString.h"

namespace Vak {

class File;

class MemoryFile {
public:
  // The cursor: offsets into the held bytes. The data runs from `start` for
  // `size` bytes; `position` lies inside it or at its end.
  struct State {
    uint32_t position = 0;
    uint32_t start = 0;
    uint32_t size = 0;
  };

  MemoryFile() = default;
  // As Open; the flag and the number are the engine's, callers pass (false, 0).
  MemoryFile(File& file, bool flag, int reserve);
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  // Loads the whole content of an open file; the file may be closed
  // afterwards. False, with no data held, when it cannot be read whole.
  bool Open(File& file, bool flag, int reserve);
  // Frees the data.
  void Close();
  // The name of the file the data came from.
  const char* Name() const { return name_.c_str(); }
  bool HasData() const { return state_.size > 0; }

  // One 32-bit little-endian value; false (cursor unmoved) when fewer than
  // 4 bytes remain.
  bool Read(uint32_t& value);
  bool Read(int32_t& value);
  bool Read(float& value);
  // `length` bytes into `out`, only when all of them remain; else nothing is
  // copied and the cursor stays.
  bool Read(void* out, uint32_t length);
  // Moves on by `length` bytes when they remain.
  bool Skip(uint32_t length);
  // Moves back by `length` bytes, never before the data start.
  void StepBack(uint32_t length);
  // Moves to `offset` (from the data start); false, cursor unmoved, when it
  // lies past the data's end.
  bool MoveTo(uint64_t offset);

  uint32_t Remaining() const { return state_.start + state_.size - state_.position; }
  // The cursor as an offset from the data start.
  uint32_t Tell() const { return state_.position - state_.start; }
  // The bytes at the cursor; Remaining() of them may be read.
  const uint8_t* Cursor() const { return bytes_.get() + state_.position; }

  const State& GetState() const { return state_; }
  // Takes a state only when it lies inside the held bytes.
  bool SetState(const State& state);

private:
  // Left uninitialised until read into: the whole file is read over it.
  std::unique_ptr<uint8_t[]> bytes_;
  std::size_t held_ = 0;
  State state_;
  PString name_;
};

} // namespace Vak
