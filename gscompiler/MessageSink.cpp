#include "gscompiler/MessageSink.h"


namespace GSCompiler {

bool MessageSink::Add(const char* text) {
  char* copy = pool_.StrDup(text);
  return copy != nullptr && queue_.Push(copy);
}

const char* MessageSink::Take() {
  char* text = nullptr;
  return queue_.Pop(text) ? text : nullptr;
}

void MessageSink::Clear() {
  queue_.Free();
  pool_.Reset();
}

} // namespace GSCompiler
