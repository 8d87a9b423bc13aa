#pragma once
// Serialises a compiled library (.gsl) into a code buffer.
#include <cstdint>

#include "gscompiler/CodeBuffer.h"
#include "gscompiler/CompileContext.h"
#include "gscompiler/MessageSink.h"

namespace GSCompiler {

inline constexpr uint32_t kLibraryMagic = 0xF762575D;
inline constexpr float kLibraryVersion = 1.02f;

// Record tags.
enum LibraryTag : uint32_t {
  kTagDependencies = 2,
  kTagStrings = 3,
  kTagClasses = 4,
  kTagFunctions = 5,
  kTagClassBodies = 6,
  kTagClassBody = 7,
  kTagClassFunctions = 8,
  kTagFunction = 9,
  kTagMembers = 10,
  kTagOverrides = 11,
  kTagLayout = 12,
};

// The text's string id in the library, entered with the next id when new.
uint32_t InternString(const char* text, CompileContext& context);

// True when the whole library was serialised into `out` (which is reset
// first). Messages go to `sink` when there is one.
bool WriteLibrary(CodeBuffer& out, CompileContext& context, MessageSink* sink, const char* sourcePath);

} // namespace GSCompiler
