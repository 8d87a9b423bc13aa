#include "engine/kernelx/ResourceFile.h"

#include "Vak/Bexlorn/ByteOrder.h"
#include "Vak/Bexlorn/File.h"

namespace Vak {

uint32_t ResourceFileWriter::MarkSizePos(File& file) {
  const uint32_t mark = file.Tell();
  file.Write(uint32_t{0});
  return mark;
}

bool ResourceFileWriter::WriteSizeAtMark(File& file, uint32_t mark) {
  const uint32_t here = file.Tell();
  if (here < mark + 4) return false;
  file.Seek(static_cast<long>(mark), File::kSeekBegin);
  const bool ok = file.Write(here - mark - 4);
  file.Seek(static_cast<long>(here), File::kSeekBegin);
  return ok && file.Tell() == here;
}

bool ResourceFileWriter::BeginFile(uint32_t type) {
  if (!WriteU32(kMagic)) return false;
  marks_.push_back(MarkSizePos(file_));
  return WriteU32(type);
}

bool ResourceFileWriter::BeginChunk(uint32_t tag, uint32_t version) {
  if (!WriteU32(tag)) return false;
  marks_.push_back(MarkSizePos(file_));
  return WriteU32(version);
}

bool ResourceFileWriter::End() {
  if (marks_.empty()) return Check(false);
  const uint32_t mark = marks_.back();
  marks_.pop_back();
  return Check(WriteSizeAtMark(file_, mark));
}

bool ResourceFileWriter::Write(const void* data, std::size_t size) {
  if (size == 0) return !failed_;
  return Check(file_.Write(data, size, 1) == size);
}

bool ResourceFileWriter::WriteU32(uint32_t value) { return Check(file_.Write(value)); }

bool ReadResourceFileHeader(const uint8_t* data, std::size_t size, uint32_t& type, std::size_t& end) {
  if (data == nullptr || size < 12 || GetLE32(data) != ResourceFileWriter::kMagic) return false;
  const uint32_t length = GetLE32(data + 4);
  if (length < 4 || length > size - 8) return false;
  type = GetLE32(data + 8);
  end = 8 + std::size_t{length};
  return true;
}

bool ReadResourceChunks(const uint8_t* data, std::size_t begin, std::size_t end, std::vector<ResourceChunk>& chunks) {
  std::size_t pos = begin;
  while (pos < end) {
    if (end - pos < 12) return false;
    ResourceChunk chunk;
    chunk.tag = GetLE32(data + pos);
    const uint32_t length = GetLE32(data + pos + 4);
    if (length < 4 || length > end - pos - 8) return false;
    chunk.version = GetLE32(data + pos + 8);
    chunk.payload = pos + 12;
    chunk.end = pos + 8 + length;
    chunks.push_back(chunk);
    pos = chunk.end;
  }
  return pos == end;
}

} // namespace Vak
