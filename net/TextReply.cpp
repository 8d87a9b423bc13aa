#include "net/TextReply.h"

#include "Vak/Bexlorn/File.h"
#include "content/TStream.h"
#include "content/TextChunkFile.h"

ACSChunkPtr LoadTextReply(const char* path) {
  ACSChunkPtr reply;
  Vak::File file;
  if (!path || !file.Open(path, Vak::File::kReadStored).Ok()) return reply;
  TFile stream(&file);
  ReadChunkFileText(reply, stream, false);
  return reply;
}
