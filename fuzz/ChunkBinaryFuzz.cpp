// Reads arbitrary bytes as a binary chunk file: the reader must refuse damage
// without reading past the body, every node of what it accepts must be
// reachable, and saving the tree again must work.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "content/ACSFile.h"
#include "content/DynamicBuffer.h"
#include "content/TStream.h"
#include "fuzz/NameSweep.h"

namespace {

// Touches every name, value byte and child; edits a little on the way so the
// overlay is walked too.
void Walk(const ACSChunkPtr& chunk, int depth) {
  const int count = chunk->GetChildCount();
  for (int i = 0; i < count; ++i) {
    const Vak::PString name = chunk->GetChildName(i);
    const ACSChunkPtr child = chunk->FindChild(name);
    const uint8_t* data = child->GetData();
    volatile uint8_t sum = 0;
    for (uint32_t k = 0; data && k < child->GetDataSize(); ++k) sum = static_cast<uint8_t>(sum + data[k]);
    (void)child.GetChildString(name);
    if (child->GetType() == kACSContainer && depth < ChunkFile::kMaxDepth) Walk(child, depth + 1);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fuzz::NameSweep sweep;
  TBuffer in;
  if (size) in.GetBuffer().Write(data, static_cast<uint32_t>(size));
  in.GetBuffer().SetPosition(0);
  MPHandle handle(new TDBBinaryFile);
  auto* file = static_cast<TDBBinaryFile*>(handle.Get());
  file->Read(in);
  ACSChunkPtr root = ACSChunk::AsContainer(file->GetRoot().Get());
  if (root.IsNull()) return 0;
  Walk(root, 0);
  if (root.GetChildCount() > 0) {
    const Vak::PString first = root.GetChildName(0);
    root.SetChildInt(first, 1);
    root.SetChildString("fuzz", "x");
    root.RemoveChild("fuzz");
    Walk(root, 0);
  }
  // What is saved reads back to a tree that saves the same bytes.
  TBuffer out;
  WriteChunkFileBinary(root, out);
  out.GetBuffer().SetPosition(0);
  MPHandle againHandle(new TDBBinaryFile);
  auto* again = static_cast<TDBBinaryFile*>(againHandle.Get());
  again->Read(out);
  TBuffer last;
  WriteChunkFileBinary(again->GetRoot(), last);
  const DynamicBuffer& a = out.GetBuffer();
  const DynamicBuffer& b = last.GetBuffer();
  if (a.Size() != b.Size() || std::memcmp(a.Data(), b.Data(), a.Size()) != 0) __builtin_trap();
  return 0;
}
