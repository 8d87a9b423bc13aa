#include "content/TStream.h"
#include "Vak/Bexlorn/ByteOrder.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <memory>
#include <string>

#include "content/DynamicBuffer.h"

namespace {

using Vak::GetLE32;
using Vak::GetLE64;
using Vak::PutLE32;
using Vak::PutLE64;

// Strings up to this length are read without a heap block.
constexpr uint32_t kLocalString = 510;
constexpr uint32_t kMaxPString = 0xFFFF;
constexpr uint32_t kMaxString = 0x10000;

// A block of `n` + 1 bytes: on the stack for short texts.
class TextBlock {
public:
  explicit TextBlock(uint32_t n) : data_(n <= kLocalString ? local_ : (heap_.reset(new char[n + 1]), heap_.get())) {}
  char* data() { return data_; }

private:
  char local_[kLocalString + 1];
  std::unique_ptr<char[]> heap_;
  char* data_;
};

} // namespace

// ---- TStream ---------------------------------------------------------------

uint32_t TStream::GetSize() {
  const uint32_t here = Tell();
  Seek(0, kEnd);
  ClearBuffer();
  const uint32_t size = Tell();
  Seek(here, kBegin);
  ClearBuffer();
  return size;
}

uint32_t TStream::ReadBytes(void* out, uint32_t n) {
  if (n <= unread_) {
    std::memcpy(out, buffer_ + offset_, n);
    offset_ += n;
    unread_ -= n;
    return n;
  }
  const uint32_t got = ReadBuffered(n, out);
  if (got < n) SetError(1);
  return got;
}

uint32_t TStream::ReadBuffered(uint32_t n, void* out) {
  uint8_t* p = static_cast<uint8_t*>(out);
  if (n <= unread_) {
    if (n) std::memcpy(p, buffer_ + offset_, n);
    offset_ += n;
    unread_ -= n;
    return n;
  }
  const uint32_t k = unread_;
  if (k) std::memcpy(p, buffer_ + offset_, k);
  offset_ += k;
  unread_ = 0;
  const uint32_t rest = n - k;
  if (rest >= kDirectRead) {
    const uint32_t got = Read(p + k, rest);
    ClearBuffer();
    return k + got;
  }
  // Refill, keeping the bytes just consumed in front so reads can step back
  // over them; only bytes that really came from the device are kept.
  const uint32_t keep = std::min(kPutBack, offset_ - floor_);
  uint32_t start = 0;
  if (keep) {
    std::memmove(buffer_ + kPutBack - keep, buffer_ + offset_ - keep, keep);
    start = kPutBack;
  }
  floor_ = start - keep;
  offset_ = start;
  const uint32_t got = Read(buffer_ + start, kBufferSize - start);
  const uint32_t copied = std::min(rest, got);
  std::memcpy(p + k, buffer_ + start, copied);
  offset_ = start + copied;
  unread_ = got - copied;
  return k + copied;
}

uint32_t TStream::ReadInt() {
  uint8_t bytes[4] = {};
  ReadBytes(bytes, 4);
  return GetLE32(bytes);
}

uint64_t TStream::ReadInt64() {
  uint8_t bytes[8] = {};
  ReadBytes(bytes, 8);
  return GetLE64(bytes);
}

uint8_t TStream::ReadByte() {
  uint8_t value = 0;
  ReadBytes(&value, 1);
  return value;
}

void TStream::DropReadAhead() {
  if (unread_) Seek(0, kCurrent);
  ClearBuffer();
}

uint32_t TStream::WriteBytes(const void* data, uint32_t n) {
  DropReadAhead();
  if (n == 0) return 0;
  return Write(data, n);
}

bool TStream::WriteInt(uint32_t value) {
  uint8_t bytes[4];
  PutLE32(bytes, value);
  return WriteBytes(bytes, 4) == 4;
}

bool TStream::WriteInt64(uint64_t value) {
  uint8_t bytes[8];
  PutLE64(bytes, value);
  return WriteBytes(bytes, 8) == 8;
}

bool TStream::WriteByte(uint8_t value) { return WriteBytes(&value, 1) == 1; }

void TStream::SeekBuffered(int64_t offset, int origin) {
  if (origin == kBegin || origin == kCurrent) {
    const int64_t distance = origin == kCurrent ? offset : offset - int64_t(Tell());
    if (int64_t(offset_) + distance >= int64_t(floor_) && distance <= int64_t(unread_)) {
      offset_ = static_cast<uint32_t>(int64_t(offset_) + distance);
      unread_ = static_cast<uint32_t>(int64_t(unread_) - distance);
      return;
    }
  } else if (origin != kEnd) {
    return;
  }
  Seek(offset, origin);
  ClearBuffer();
}

void TStream::ReadLine(Vak::String& out) {
  std::string line;
  uint8_t end = 0;
  for (uint8_t c; ReadBuffered(1, &c) == 1;) {
    if (c == '\r' || c == '\n') {
      end = c;
      break;
    }
    line.push_back(static_cast<char>(c));
  }
  if (end) {
    uint8_t c;
    if (ReadBuffered(1, &c) == 1 && !((c == '\r' || c == '\n') && c != end)) UnreadChar();
  }
  out = Vak::String(line.c_str(), static_cast<unsigned>(line.size()));
}

uint32_t TStream::WriteSizeMarker() {
  const uint32_t position = Tell();
  WriteInt(kSizeMarker);
  return position;
}

void TStream::WriteIntAt(uint32_t value, uint32_t position) {
  const uint32_t here = Tell();
  SeekBuffered(position, kBegin);
  WriteInt(value);
  SeekBuffered(here, kBegin);
}

void TStream::Printf(const char* format, ...) {
  Vak::AnsiString text;
  va_list args;
  va_start(args, format);
  text.Set(format, args);
  va_end(args);
  if (text.Size()) WriteBytes(static_cast<const char*>(text), text.Size());
}

void TStream::WritePString(const Vak::PString& text) {
  const uint32_t length = text.Length();
  if (length == 0 || length >= kMaxPString) {
    WriteInt(0);
    return;
  }
  WriteInt(length + 1);
  WriteBytes(text.c_str(), length + 1);
}

void TStream::ReadPString(Vak::PString& out) {
  const uint32_t n = ReadInt();
  out = Vak::PString();
  if (n == 0) return;
  if (n > kMaxPString) {
    SeekBuffered(n, kCurrent);
    return;
  }
  TextBlock block(n);
  const uint32_t got = ReadBytes(block.data(), n);
  block.data()[got] = 0;
  out = Vak::PString(block.data());
}

void TStream::WriteString(const Vak::String& text) {
  const uint32_t length = text.Size();
  if (length >= kMaxString) {
    WriteInt(0);
    return;
  }
  WriteInt(length);
  WriteBytes(static_cast<const char*>(text), length);
}

void TStream::ReadString(Vak::String& out) {
  const uint32_t n = ReadInt();
  out = Vak::String();
  if (n == 0) return;
  if (n >= kMaxString) {
    SeekBuffered(n, kCurrent);
    return;
  }
  TextBlock block(n);
  const uint32_t got = ReadBytes(block.data(), n);
  block.data()[got] = 0;
  out = Vak::String(block.data(), got);
}

char TStream::ReadChar() {
  uint8_t c = 0;
  ReadBuffered(1, &c);
  return static_cast<char>(c);
}

void TStream::SkipBlanks() {
  for (uint8_t c; ReadBuffered(1, &c) == 1;) {
    if (c != ' ' && c != '\t') {
      UnreadChar();
      return;
    }
  }
}

// ---- TFile -----------------------------------------------------------------

TFile::~TFile() { Close(); }

void TFile::Truncate() {
  if (!IsOpen()) return;
  const Vak::File::Path path = file_->GetPath();
  const int encoding = file_->GetEncoding();
  file_->Close();
  error_ = 0;
  ClearBuffer();
  file_->Open(path, Vak::File::kWrite | Vak::File::kCreate, encoding);
}

uint32_t TFile::Tell() { return file_ ? file_->Tell() - unread_ : 0; }

bool TFile::IsOpen() { return file_ && file_->IsOpen(); }

uint32_t TFile::Write(const void* data, uint32_t n) {
  if (!file_) {
    SetError(1);
    return 0;
  }
  const uint32_t written = static_cast<uint32_t>(file_->Write(data, n, 1));
  if (written != n) SetError(1);
  return written;
}

uint32_t TFile::Read(void* out, uint32_t n) {
  if (!file_) {
    SetError(1);
    return 0;
  }
  const uint32_t got = static_cast<uint32_t>(file_->Read(out, n, 1));
  // Running into the end is how a read-ahead finishes; a failure before the
  // end, or damaged content that ended early, is an error of the device.
  if (file_->ReadFailed() || (got != n && !file_->Eof())) SetError(1);
  return got;
}

void TFile::Seek(int64_t offset, int origin) {
  if (!file_) {
    SetError(1);
    return;
  }
  if (origin == kCurrent) offset -= unread_;
  file_->Seek(static_cast<long>(offset), origin);
}

bool TFile::AtEnd() {
  if (!file_) return true;
  if (unread_) return false;
  return file_->Eof();
}

Vak::File& TFile::GetFile() {
  if (!file_) {
    file_ = new Vak::File;
    owned_ = true;
    ClearBuffer();
  }
  return *file_;
}

bool TFile::Open(const char* path, unsigned long mode, int flags) {
  Close();
  file_ = new Vak::File;
  owned_ = true;
  return file_->Open(path, mode, flags).Ok();
}

void TFile::Close() {
  if (file_) {
    if (owned_) delete file_;
    else if (unread_) file_->Seek(-static_cast<long>(unread_), Vak::File::kSeekCurrent);
  }
  file_ = nullptr;
  owned_ = false;
  error_ = 0;
  ClearBuffer();
}

// ---- TBuffer ---------------------------------------------------------------

TBuffer::TBuffer(DynamicBuffer* buffer, bool owned) : buffer_(buffer), owned_(owned) {
  if (!buffer_) {
    buffer_ = new DynamicBuffer;
    owned_ = true;
  }
}

TBuffer::~TBuffer() {
  if (owned_) delete buffer_;
}

void TBuffer::Truncate() {
  buffer_->SetSize(0);
  buffer_->SetPosition(0);
  error_ = 0;
  ClearBuffer();
}

uint32_t TBuffer::Tell() { return buffer_->Position() - unread_; }

uint32_t TBuffer::Write(const void* data, uint32_t n) { return buffer_->Write(data, n); }

uint32_t TBuffer::Read(void* out, uint32_t n) { return buffer_->Read(out, n); }

void TBuffer::Seek(int64_t offset, int origin) {
  int64_t target;
  if (origin == kBegin) target = offset;
  else if (origin == kCurrent) target = int64_t(Tell()) + offset;
  else if (origin == kEnd) target = int64_t(buffer_->Size()) - offset;
  else return;
  target = std::clamp<int64_t>(target, 0, buffer_->Size());
  buffer_->SetPosition(static_cast<uint32_t>(target));
}

bool TBuffer::AtEnd() { return Tell() >= buffer_->Size(); }

uint32_t TView::Write(const void*, uint32_t) {
  SetError(1);
  return 0;
}

uint32_t TView::Read(void* out, uint32_t n) {
  const uint32_t count = std::min(n, size_ - position_);
  if (count) std::memcpy(out, data_ + position_, count);
  position_ += count;
  return count;
}

void TView::Seek(int64_t offset, int origin) {
  int64_t target;
  if (origin == kBegin) target = offset;
  else if (origin == kCurrent) target = int64_t(Tell()) + offset;
  else if (origin == kEnd) target = int64_t(size_) - offset;
  else return;
  position_ = static_cast<uint32_t>(std::clamp<int64_t>(target, 0, size_));
}
