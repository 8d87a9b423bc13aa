#include "assetdb/PersistentRecordList.h"

#include <vector>

#include "Vak/Bexlorn/OS.h"
#include "Vak/Bexlorn/Rand.h"
#include "assetdb/VADLock.h"
#include "content/TStream.h"

namespace {

// Version, flag, value, two string lengths, id, KUID count, end marker.
constexpr uint32_t kSmallestRecord = 4 + 1 + 4 + 4 + 4 + 4 + 4 + 4;

uint32_t Remaining(TStream& stream, uint32_t size) {
  const uint32_t here = stream.Tell();
  return here < size ? size - here : 0;
}

// A length, then that many bytes; false when the length passes the end of
// the stream or `limit`. `out` holds the bytes and a terminator.
bool ReadCounted(TStream& stream, uint32_t size, uint32_t limit, std::vector<char>& out) {
  const uint32_t n = stream.ReadInt();
  if (stream.GetError() || n > limit || n > Remaining(stream, size)) return false;
  out.assign(n + 1, 0);
  return stream.ReadBytes(out.data(), n) == n;
}

void WriteCounted(TStream& stream, const char* text, uint32_t n) {
  stream.WriteInt(n);
  stream.WriteBytes(text, n);
}

} // namespace

PersistentRecord::PersistentRecord() : id(Vak::Kernel::GlobalRand().NextInt(0, 0x7fffffff)) {}

bool PersistentRecord::Read(TStream& stream, uint32_t size) {
  if (stream.ReadInt() != kVersion) return false;
  flagB = stream.ReadByte() != 0;
  stored = true;
  value = stream.ReadInt();
  std::vector<char> bytes;
  // A path that does not fit the field is refused whole: cutting it would
  // point the record at another file.
  if (!ReadCounted(stream, size, Vak::File::Path::kMaxLength, bytes) || !path.Set(bytes.data())) return false;
  if (!ReadCounted(stream, size, UINT32_MAX, bytes)) return false;
  // The string form carries texts shorter than 64 KiB; a longer one reads as
  // empty, as TStream::ReadString gives it.
  text = bytes.size() <= 0x10000 ? Vak::String(bytes.data(), static_cast<unsigned>(bytes.size() - 1)) : Vak::String();
  id = static_cast<int32_t>(stream.ReadInt());
  const uint32_t count = stream.ReadInt();
  if (stream.GetError() || count > Remaining(stream, size) / 8) return false;
  for (uint32_t i = 0; i < count; ++i) {
    const KUID kuid = stream.ReadKUID();
    if (!kuid.IsNull()) kuids.Append(kuid);
  }
  return stream.ReadInt() == kEndMarker && !stream.GetError();
}

void PersistentRecord::Write(TStream& stream) const {
  stream.WriteInt(kVersion);
  stream.WriteByte(flagA || flagB ? 1 : 0);
  stream.WriteInt(value);
  WriteCounted(stream, path, path.Length());
  stream.WriteString(text);
  stream.WriteInt(static_cast<uint32_t>(id));
  stream.WriteInt(static_cast<uint32_t>(kuids.Count()));
  for (const KUID& kuid : kuids) stream.WriteKUID(kuid);
  stream.WriteInt(kEndMarker);
}

PersistentRecordList& PersistentRecordList::Global() {
  // Never deleted: exit-time code may still ask it; FreeBlocks runs at exit.
  static PersistentRecordList* list = new PersistentRecordList;
  return *list;
}

bool PersistentRecordList::Read(TStream& stream) {
  Clear();
  const uint32_t size = stream.GetSize();
  const uint32_t version = stream.ReadInt();
  const uint32_t count = stream.ReadInt();
  bool ok = !stream.GetError() && version == kVersion && count <= Remaining(stream, size) / kSmallestRecord;
  for (uint32_t i = 0; ok && i < count; ++i) ok = Add()->Read(stream, size);
  if (!ok) Clear();
  return ok;
}

void PersistentRecordList::Write(TStream& stream) const {
  uint32_t count = 0;
  for (const PersistentRecord* record : records_)
    if (record->stored) ++count;
  stream.WriteInt(kVersion);
  stream.WriteInt(count);
  for (const PersistentRecord* record : records_)
    if (record->stored) record->Write(stream);
}

void PersistentRecordList::Clear() {
  for (PersistentRecord* record : records_) delete record;
  records_.Clear();
}

bool PersistentRecordList::Contains(const KUID& kuid) const {
  VADLock lock;
  lock.Acquire(false);
  for (const PersistentRecord* record : records_)
    if (!record->kuids.Find(kuid).IsEnd()) return true;
  return false;
}

PersistentRecord* PersistentRecordList::Add() {
  PersistentRecord* record = new PersistentRecord;
  try {
    records_.Append(record);
  } catch (...) {
    delete record;
    throw;
  }
  return record;
}
