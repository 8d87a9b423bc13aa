#pragma once
// Collects the compiler's messages of one run in the order they arrive; they
// are printed only at the end. Texts live in the sink's own frame pool.
#include <cstdint>

#include "gscompiler/FrameMemory.h"
#include "gscompiler/Queue.h"

namespace GSCompiler {

class MessageSink {
public:
  // Copies the text and queues the copy; a text that the pool cannot hold,
  // or that the queue cannot take, is dropped (false).
  bool Add(const char* text);
  // The next message in order of arrival, or null when none is left.
  const char* Take();

  uint32_t Count() const { return queue_.Count(); }
  const char* At(uint32_t i) const { return queue_.At(i); }
  const Utils::Queue<char*>& Entries() const { return queue_; }
  // Drops every message and frees their memory.
  void Clear();

private:
  Utils::FrameMemory pool_;
  Utils::Queue<char*> queue_;
};

} // namespace GSCompiler
