#pragma once
// FTP over a NetConnection: one file at a time in binary passive mode, with
// resume. The data channel is a second transport to the same host
// (NetTransport::Reconnect), so the control transport must be plain TCP.
#include <cstdint>

#include "net/NetConnection.h"

class FTPConnection : public NetConnection {
public:
  // Bytes asked of the data channel at once.
  static constexpr int32_t kDataBlock = 16384;

  // Takes ownership of the control transport (may be null).
  explicit FTPConnection(NetTransport* control = nullptr);
  // Deletes the data transport, then the base deletes the control one.
  ~FTPConnection() override;

  // Under the lock: "quit", then both channels are closed. Safe from a
  // cancelling thread while another thread transfers.
  void Close() override;

  // Reads one reply; true when it carries `code`. A multi-line reply
  // ("<code>-") is read up to its line starting "<code> ".
  bool ExpectReply(int code);
  // Reads the greeting, then "user" and "pass". False, with nothing sent,
  // when either holds CR, LF or NUL.
  bool Login(const char* user, const char* password);
  // "PWD", expecting 257; a failure marks the connection failed.
  bool CheckAlive();
  // Fetches `remotePath` into `localPath` from `offset` on (appending to
  // what the file holds). True when the file is complete: the size reply is
  // reached by the offset, or every byte came and the server confirmed.
  bool Download(int32_t offset, const char* remotePath, const char* localPath);

  const char* GetReplyLine() const { return replyLine_; }
  bool HasFailed() const { return failed_; }

private:
  // Reads one reply; true when it carries one of the codes (0 ends the list).
  bool ExpectOneOf(const int* codes);
  bool Transfer(int32_t offset, const char* remotePath, const char* localPath);
  // Closes and deletes the data transport, under the lock.
  void DropData();

  NetTransport* data_ = nullptr;
  char replyLine_[kLineSize] = {};
  bool failed_ = false;
};
