#pragma once
// Byte streams of the content code: a device interface with a 4096-byte
// read-ahead buffer, typed little-endian helpers on top, and two devices:
// TFile over an engine file, TBuffer over a DynamicBuffer.
//
// The logical position is the device position minus the unread buffered
// bytes. Every write helper first moves the device back to the logical
// position, so reads and writes may be mixed freely.
#include <cstdint>

#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/PString.h"
#include "Vak/Bexlorn/String.h"
#include "content/KUID.h"

class DynamicBuffer;

class TStream {
public:
  static constexpr uint32_t kBufferSize = 4096;
  // Bytes kept in front of a refill so that reads can step back over them.
  static constexpr uint32_t kPutBack = 16;
  // Requests of this size or more bypass the read-ahead buffer.
  static constexpr uint32_t kDirectRead = kBufferSize - kPutBack;
  // Placeholder of a length field that is patched once the body is written.
  static constexpr uint32_t kSizeMarker = 0xFEEDCEEB;

  enum Origin { kBegin = 0, kCurrent = 1, kEnd = 2 };

  TStream() = default;
  virtual ~TStream() = default;
  TStream(const TStream&) = delete;
  TStream& operator=(const TStream&) = delete;

  // Device operations.
  virtual void Truncate() = 0;
  virtual uint32_t Tell() = 0;
  virtual bool IsOpen() = 0;
  virtual uint32_t GetSize();
  virtual uint32_t Write(const void* data, uint32_t n) = 0;
  virtual uint32_t Read(void* out, uint32_t n) = 0;
  // Moves the device only; the caller clears the read-ahead afterwards.
  // Origin 2 counts back from the end.
  virtual void Seek(int64_t offset, int origin) = 0;
  virtual bool AtEnd() = 0;
  // The bytes from the logical position to the end where the device holds
  // them in memory (they stay valid while it lives); null otherwise.
  virtual const uint8_t* InPlace(uint32_t& left) {
    left = 0;
    return nullptr;
  }

  // Sticky: 0 while all is well.
  int GetError() const { return error_; }

  // Reads through the buffer. A request that comes up short sets the error
  // flag; the bytes not delivered are left as they were.
  uint32_t ReadBytes(void* out, uint32_t n);
  // Up to n bytes through the buffer; the count delivered. Reaching the end
  // is not an error here.
  uint32_t ReadBuffered(uint32_t n, void* out);
  // 0 (or the bytes that came) when the stream ends early.
  uint32_t ReadInt();
  uint64_t ReadInt64();
  uint8_t ReadByte();

  uint32_t WriteBytes(const void* data, uint32_t n);
  bool WriteInt(uint32_t value);
  bool WriteInt64(uint64_t value);
  bool WriteByte(uint8_t value);

  // Buffer-aware seek: stays inside the buffered bytes when it can.
  void SeekBuffered(int64_t offset, int origin);
  void Skip(int64_t offset, int origin) { SeekBuffered(offset, origin); }

  // One line without its end (CR, LF, CR LF or LF CR).
  void ReadLine(Vak::String& out);

  // The position of the placeholder written.
  uint32_t WriteSizeMarker();
  // Writes `value` at `position` and returns to the current position.
  void WriteIntAt(uint32_t value, uint32_t position);

  void Printf(const char* format, ...) __attribute__((format(printf, 2, 3)));

  // Length with the terminator, then the text and the terminator; empty or
  // 0xFFFF bytes and longer: the length 0 alone.
  void WritePString(const Vak::PString& text);
  void ReadPString(Vak::PString& out);
  // Length then the bytes; 0x10000 bytes and longer: the length 0 alone.
  void WriteString(const Vak::String& text);
  void ReadString(Vak::String& out);

  KUID ReadKUID() { return KUID::Read(*this); }
  void WriteKUID(const KUID& kuid) { kuid.Write(*this); }

  // For the text reader: one byte (0 at the end, where the position does not
  // move, so no step back follows it), a step back, and skipping spaces and
  // tabs.
  char ReadChar();
  void UnreadChar() { SeekBuffered(-1, kCurrent); }
  void SkipBlanks();

  // Unread bytes in the read-ahead buffer.
  uint32_t Buffered() const { return unread_; }
  // Moves the device back to the logical position and empties the buffer.
  void DropReadAhead();

protected:
  void ClearBuffer() {
    unread_ = 0;
    offset_ = 0;
    floor_ = 0;
  }
  void SetError(int code) {
    if (error_ == 0) error_ = code;
  }

  uint32_t unread_ = 0;
  uint32_t offset_ = 0;  // next unread byte
  uint32_t floor_ = 0;   // first byte that holds data (put-back area)
  uint8_t buffer_[kBufferSize];
  int error_ = 0;
};

// A stream over an engine file, owned or borrowed.
class TFile : public TStream {
public:
  TFile() = default;
  // A borrowed file stays open when the stream closes.
  explicit TFile(Vak::File* file, bool owned = false) : file_(file), owned_(owned) {}
  ~TFile() override;

  void Truncate() override;
  uint32_t Tell() override;
  bool IsOpen() override;
  uint32_t Write(const void* data, uint32_t n) override;
  uint32_t Read(void* out, uint32_t n) override;
  void Seek(int64_t offset, int origin) override;
  bool AtEnd() override;

  // The file object, made (and owned) on first use.
  Vak::File& GetFile();
  // `flags` is the file's text encoding. True when the file opened.
  bool Open(const char* path, unsigned long mode, int flags = Vak::File::kEncoding8Bit);
  void Close();

private:
  Vak::File* file_ = nullptr;
  bool owned_ = false;
};

// A read-only stream over borrowed bytes, which must outlive it: the index
// file's blocks are read where the file was loaded, without a copy.
class TView : public TStream {
public:
  TView(const uint8_t* data, uint32_t size) : data_(data), size_(size) {}

  void Truncate() override {}
  uint32_t Tell() override { return position_ - unread_; }
  bool IsOpen() override { return true; }
  uint32_t GetSize() override { return size_; }
  uint32_t Write(const void* data, uint32_t n) override;
  uint32_t Read(void* out, uint32_t n) override;
  void Seek(int64_t offset, int origin) override;
  bool AtEnd() override { return Tell() >= size_; }

  const uint8_t* InPlace(uint32_t& left) override {
    const uint32_t at = Tell();
    left = size_ - at;
    return data_ + at;
  }

private:
  const uint8_t* data_;
  uint32_t size_;
  uint32_t position_ = 0;
};

// A stream over memory.
class TBuffer : public TStream {
public:
  // Borrows `buffer`; without one the stream makes and owns its own.
  explicit TBuffer(DynamicBuffer* buffer = nullptr, bool owned = false);
  ~TBuffer() override;

  void Truncate() override;
  uint32_t Tell() override;
  bool IsOpen() override { return true; }
  uint32_t Write(const void* data, uint32_t n) override;
  uint32_t Read(void* out, uint32_t n) override;
  void Seek(int64_t offset, int origin) override;
  bool AtEnd() override;

  DynamicBuffer& GetBuffer() { return *buffer_; }

private:
  DynamicBuffer* buffer_;
  bool owned_;
};
