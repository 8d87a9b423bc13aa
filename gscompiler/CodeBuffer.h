#pragma once
// The growable byte buffer that receives byte code and the library file.
// Failures are not reported at once: they leave flags that the writer turns
// into a failed write, and every later write is skipped.
#include <cstdint>

namespace GSCompiler {

class CodeBuffer {
public:
  enum Flag : uint32_t {
    kAllocFailed = 0x1,      // growing failed; writes are skipped from then on
    kPositionPastEnd = 0x2,  // a position beyond what was written was asked for
  };
  // Growth steps of the buffers the compiler keeps.
  static constexpr unsigned kLibraryStep = 1024;
  static constexpr unsigned kFunctionCodeStep = 1024;
  static constexpr unsigned kSideStep = 512;
  static constexpr unsigned kSlotListStep = 64;

  // The capacity after ensure(size) found the buffer too small.
  static constexpr uint64_t GrownCapacity(uint64_t size, unsigned step) { return size + step; }

  explicit CodeBuffer(unsigned growthStep) : step_(growthStep) {}
  CodeBuffer(const CodeBuffer&) = delete;
  CodeBuffer& operator=(const CodeBuffer&) = delete;
  ~CodeBuffer();

  // Drops the contents and the flags and starts with fresh storage of one
  // growth step.
  void Reset();
  // Room for `size` bytes; false (and kAllocFailed) when it cannot be had.
  bool Ensure(uint64_t size);
  void AppendU32(uint32_t value);
  void AppendBytes(const void* bytes, uint32_t count);
  // `count` bytes of `value`.
  void AppendFill(uint8_t value, uint32_t count);
  // Takes out `count` written bytes at `at`, moving the rest down; the
  // position goes to the end. A range past the written bytes changes
  // nothing and leaves kPositionPastEnd.
  void Erase(uint32_t at, uint32_t count);
  // Moves the write position, for back-patching a length word; a position
  // past the written length is refused with kPositionPastEnd.
  void SetPosition(uint32_t position);

  uint32_t Flags() const { return flags_; }
  uint32_t Length() const { return length_; }
  uint32_t Position() const { return position_; }
  uint32_t Capacity() const { return capacity_; }
  const uint8_t* Data() const { return data_; }

private:
  bool Grow(uint64_t capacity);
  bool Store(uint64_t size);
  uint8_t* Advance(uint32_t count);
  static constexpr uint64_t kFirstStore = 64;

  uint32_t flags_ = 0;
  unsigned step_;
  uint32_t length_ = 0;
  uint32_t position_ = 0;
  uint32_t capacity_ = 0;
  // Bytes really held: the capacity is taken only as the contents need it,
  // so that the many small buffers of a large script stay small.
  uint32_t stored_ = 0;
  void* raw_ = nullptr;
  uint8_t* data_ = nullptr;
};

} // namespace GSCompiler
