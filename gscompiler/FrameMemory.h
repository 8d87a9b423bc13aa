#pragma once
// An arena for the small, variable-sized data of one compilation (message
// texts, names): memory comes from fixed 2048-byte frames and is given back
// only all at once, by Reset or the destructor.
#include <cstdint>

namespace Utils {

class FrameMemory {
public:
  static constexpr unsigned kFrameSize = 2048;

  // A request reserves size + alignment - 1 bytes of one frame, so it fits
  // only when that is no more than a frame; larger requests always fail.
  static constexpr bool Fits(uint64_t size, unsigned alignment) {
    return size + (alignment == 0 ? 0 : alignment - 1) <= kFrameSize;
  }

  FrameMemory() = default;
  FrameMemory(const FrameMemory&) = delete;
  FrameMemory& operator=(const FrameMemory&) = delete;
  virtual ~FrameMemory();

  // Memory of `size` bytes at `alignment` (a power of two; 0 counts as 1), or
  // null when the request cannot fit a frame.
  void* Alloc(uint64_t size, unsigned alignment);
  // A copy of a zero-terminated text; null for no text or one that cannot fit.
  char* StrDup(const char* text);
  // Frees every frame; the next request starts a fresh one.
  void Reset();

  unsigned Allocations() const { return allocations_; }
  uint64_t BytesGiven() const { return bytes_; }
  unsigned FrameCount() const;

private:
  struct Frame {
    char* free;
    unsigned used;
    Frame* next;
  };
  static char* Data(Frame* frame) { return reinterpret_cast<char*>(frame + 1); }
  Frame* NewFrame();

  Frame* first_ = nullptr;
  Frame* current_ = nullptr;
  unsigned allocations_ = 0;
  uint64_t bytes_ = 0;
};

} // namespace Utils
