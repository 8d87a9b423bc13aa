#include "net/FTPConnection.h"

#include <memory>

#include "Vak/Bexlorn/File.h"
#include "net/FTPReply.h"

FTPConnection::FTPConnection(NetTransport* control) : NetConnection(control) {}

FTPConnection::~FTPConnection() { DropData(); }

void FTPConnection::Close() {
  Vak::SingleLock hold(&lock_, true);
  if (transport_) {
    SendFormatted("quit\r\n");
    transport_->Close();
  }
  if (data_) data_->Close();
}

bool FTPConnection::ExpectReply(int code) {
  const int codes[] = {code, 0};
  return ExpectOneOf(codes);
}

bool FTPConnection::ExpectOneOf(const int* codes) {
  if (!ReadLine(replyLine_)) return false;
  for (const int* code = codes; *code; ++code) {
    switch (FTPReply::Classify(replyLine_, *code)) {
    case FTPReply::LineKind::kFinal:
      return true;
    case FTPReply::LineKind::kContinued:
      while (ReadLine(replyLine_))
        if (FTPReply::Classify(replyLine_, *code) == FTPReply::LineKind::kFinal) return true;
      return false;
    case FTPReply::LineKind::kOther:
      break;
    }
  }
  return false;
}

bool FTPConnection::Login(const char* user, const char* password) {
  if (!FTPReply::IsSafeArgument(user) || !FTPReply::IsSafeArgument(password)) return false;
  return SendFormatted("user %s\r\n", user) && ExpectReply(220) && ExpectReply(331) &&
         SendFormatted("pass %s\r\n", password) && ExpectReply(230);
}

bool FTPConnection::CheckAlive() {
  if (SendFormatted("PWD\r\n") && ExpectReply(257)) return true;
  failed_ = true;
  return false;
}

bool FTPConnection::Download(int32_t offset, const char* remotePath, const char* localPath) {
  const bool done = Transfer(offset, remotePath, localPath);
  DropData();
  return done;
}

bool FTPConnection::Transfer(int32_t offset, const char* remotePath, const char* localPath) {
  bytesReceived_ = offset;
  expectedLength_ = 0;
  if (offset < 0 || !FTPReply::IsSafeArgument(remotePath) || !transport_) return false;
  Vak::File file;
  const unsigned long mode = offset != 0 ? Vak::File::kWrite | Vak::File::kOpenAlways : Vak::File::kWrite | Vak::File::kCreate;
  if (!file.Open(localPath, mode).Ok()) return false;
  if (offset != 0) file.Seek(0, Vak::File::kSeekEnd);

  if (!SendFormatted("type i\r\n") || !SendFormatted("pasv\r\n") || !SendFormatted("size %s\r\n", remotePath))
    return false;
  int32_t port = 0;
  if (!ExpectReply(200) || !ExpectReply(227) || !FTPReply::ParsePassivePort(replyLine_, port)) return false;
  NetTransport* data = transport_->Reconnect(port);
  {
    Vak::SingleLock hold(&lock_, true);
    data_ = data;
  }
  if (!data || data->GetStatus() != 0) return false;

  if (!ExpectReply(213)) return false;
  int32_t size = 0;
  // Without a size that fits, no transfer can tell it is complete.
  if (FTPReply::ParseSize(replyLine_, size) != FTPReply::SizeKind::kSize) return false;
  expectedLength_ = size;
  if (offset >= size) return true;

  if (offset != 0 && !(SendFormatted("rest %d\r\n", offset) && ExpectReply(350))) return false;
  static const int kRetrCodes[] = {150, 125, 0};
  if (!SendFormatted("retr %s\r\n", remotePath) || !ExpectOneOf(kRetrCodes)) return false;

  const std::unique_ptr<char[]> block(new char[kDataBlock]);  // unfilled: each read writes before use
  char* const buffer = block.get();
  while (bytesReceived_ < size) {
    const int32_t want = size - bytesReceived_ < kDataBlock ? size - bytesReceived_ : kDataBlock;
    const int32_t got = data->Read(buffer, want);
    if (got <= 0) return false;
    if (file.Write(buffer, static_cast<unsigned long>(got), 1) != static_cast<unsigned long>(got)) return false;
    bytesReceived_ += got;
  }
  if (!file.Flush() || file.Close() != 0) return false;
  DropData();
  return ExpectReply(226);
}

void FTPConnection::DropData() {
  Vak::SingleLock hold(&lock_, true);
  if (!data_) return;
  data_->Close();
  delete data_;
  data_ = nullptr;
}
