// Reads arbitrary bytes as a text chunk file: the reader never fails and
// never loops; what it reads must walk and save in both forms.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "content/ACSFile.h"
#include "content/DynamicBuffer.h"
#include "content/TStream.h"
#include "content/TextChunkFile.h"
#include "fuzz/NameSweep.h"

namespace {

// True when a name cannot come back as it is: after a line without a value a
// child named '{...' reads as the opening of a container, and a name the
// writer rewrites (control bytes, blanks and bytes of 0x80 or more become
// '_') can meet a sibling of the rewritten name; the format cannot tell
// either apart.
bool RewrittenOnWrite(const char* name) {
  for (; *name; ++name) {
    if (static_cast<signed char>(*name) <= 0x20) return true;
  }
  return false;
}

bool Walk(const ACSChunkPtr& chunk) {
  bool ambiguous = false;
  const int count = chunk->GetChildCount();
  for (int i = 0; i < count; ++i) {
    const Vak::PString name = chunk->GetChildName(i);
    ambiguous |= name.c_str()[0] == '{' || RewrittenOnWrite(name.c_str());
    const ACSChunkPtr child = chunk->FindChild(name);
    (void)chunk.GetChildString(name);
    std::vector<float> values;
    (void)chunk.GetChildFloatArray(name, values);
    if (child->GetType() == kACSContainer) ambiguous |= Walk(child);
  }
  return ambiguous;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fuzz::NameSweep sweep;
  TBuffer in;
  if (size) in.GetBuffer().Write(data, static_cast<uint32_t>(size));
  in.GetBuffer().SetPosition(0);
  ACSChunkPtr root;
  ReadChunkFileText(root, in, false);
  if (root.IsNull()) return 0;
  Walk(root);
  TBuffer text;
  WriteChunkFileText(root, text);
  TBuffer binary;
  WriteChunkFileBinary(root, binary);
  // Once written, the canonical text reads back to a tree that writes the
  // same text again.
  text.GetBuffer().SetPosition(0);
  ACSChunkPtr again;
  ReadChunkFileText(again, text, false);
  if (again.IsNull() || Walk(again)) return 0;
  TBuffer second;
  WriteChunkFileText(again, second);
  second.GetBuffer().SetPosition(0);
  ACSChunkPtr third;
  ReadChunkFileText(third, second, false);
  TBuffer last;
  WriteChunkFileText(third, last);
  const DynamicBuffer& a = second.GetBuffer();
  const DynamicBuffer& b = last.GetBuffer();
  if (a.Size() != b.Size() || std::memcmp(a.Data(), b.Data(), a.Size()) != 0) {
    if (std::getenv("CHUNK_FUZZ_SHOW")) {
      std::fwrite(a.Data(), 1, a.Size(), stderr);
      std::fputs("\n=====\n", stderr);
      std::fwrite(b.Data(), 1, b.Size(), stderr);
    }
    __builtin_trap();
  }
  return 0;
}
