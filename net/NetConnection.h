#pragma once
// The protocol clients' base: an owned transport guarded by a critical
// section, with line reading and formatted sending.
#include <cstdint>

#include "Vak/Bexlorn/Sync.h"
#include "net/NetTransport.h"

class NetConnection {
public:
  static constexpr int kLineSize = 512;

  // Takes ownership of `transport` (may be null).
  explicit NetConnection(NetTransport* transport = nullptr);
  // Closes the transport under the lock, then deletes it.
  virtual ~NetConnection();
  NetConnection(const NetConnection&) = delete;
  NetConnection& operator=(const NetConnection&) = delete;

  // Under the lock, closes the transport (it stays owned). Safe from a
  // cancelling thread while another thread reads.
  virtual void Close();
  // 6 without a transport, else the transport's status.
  virtual int32_t GetStatus();

  // One line without its line end, at most kLineSize - 1 characters kept
  // (the rest of a longer line is read and dropped). A CR LF or LF CR pair
  // is one line end; an empty line that ends like the line before it is a
  // real empty line. True when the line is not empty.
  bool ReadLine(char (&buffer)[kLineSize]);
  // Formats printf-style and writes the text with one Write; true when every
  // byte was sent.
  bool SendFormatted(const char* format, ...) __attribute__((format(printf, 2, 3)));

  NetTransport* GetTransport() const { return transport_; }
  // Takes ownership; a transport held before is deleted.
  void SetTransport(NetTransport* transport);
  int32_t GetBytesReceived() const { return bytesReceived_; }
  int32_t GetExpectedLength() const { return expectedLength_; }

protected:
  NetTransport* transport_;
  Vak::CriticalSection lock_;
  int32_t bytesReceived_ = 0;   // body bytes of the current response
  int32_t expectedLength_ = 0;  // the response's announced length
  char lastLineEnd_ = 0;        // CR or LF that ended the previous line
};
