#include "gscompiler/FrameMemory.h"

#include <cstring>

#include "Vak/Bexlorn/Alloc.h"

namespace Utils {

FrameMemory::~FrameMemory() { Reset(); }

FrameMemory::Frame* FrameMemory::NewFrame() {
  auto* frame = static_cast<Frame*>(Vak::Alloc::New(sizeof(Frame) + kFrameSize));
  frame->free = Data(frame);
  frame->used = 0;
  frame->next = nullptr;
  return frame;
}

void* FrameMemory::Alloc(uint64_t size, unsigned alignment) {
  if (alignment == 0) alignment = 1;
  if (!Fits(size, alignment)) return nullptr;
  const unsigned taken = static_cast<unsigned>(size + alignment - 1);
  if (current_ == nullptr) {
    first_ = current_ = NewFrame();
  } else if (kFrameSize - current_->used < taken) {
    if (current_->next == nullptr) current_->next = NewFrame();
    current_ = current_->next;
  }
  const uintptr_t at = reinterpret_cast<uintptr_t>(current_->free);
  const uintptr_t aligned = (at + alignment - 1) & ~uintptr_t{alignment - 1};
  current_->free += taken;
  current_->used += taken;
  ++allocations_;
  bytes_ += taken;
  return reinterpret_cast<void*>(aligned);
}

char* FrameMemory::StrDup(const char* text) {
  if (text == nullptr) return nullptr;
  const std::size_t length = std::strlen(text);
  auto* copy = static_cast<char*>(Alloc(uint64_t{length} + 1, 1));
  if (copy != nullptr) std::memcpy(copy, text, length + 1);
  return copy;
}

void FrameMemory::Reset() {
  while (first_ != nullptr) {
    Frame* next = first_->next;
    Vak::Alloc::Delete(first_);
    first_ = next;
  }
  current_ = nullptr;
  allocations_ = 0;
  bytes_ = 0;
}

unsigned FrameMemory::FrameCount() const {
  unsigned count = 0;
  for (const Frame* frame = first_; frame != nullptr; frame = frame->next) ++count;
  return count;
}

} // namespace Utils
