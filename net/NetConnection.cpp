#include "net/NetConnection.h"

#include <cstdarg>
#include <vector>

#include "Vak/Bexlorn/String.h"

NetConnection::NetConnection(NetTransport* transport) : transport_(transport) {}

NetConnection::~NetConnection() {
  {
    Vak::SingleLock guard(&lock_, true);
    if (transport_) transport_->Close();
  }
  delete transport_;
}

void NetConnection::Close() {
  Vak::SingleLock guard(&lock_, true);
  if (transport_) transport_->Close();
}

int32_t NetConnection::GetStatus() { return transport_ ? transport_->GetStatus() : kNetNoTransport; }

void NetConnection::SetTransport(NetTransport* transport) {
  Vak::SingleLock guard(&lock_, true);
  if (transport_ != transport) delete transport_;
  transport_ = transport;
}

bool NetConnection::ReadLine(char (&buffer)[kLineSize]) {
  for (;;) {
    int length = 0;
    char end = 0;
    char c;
    while (transport_ && transport_->Read(&c, 1) == 1) {
      if (c == '\r' || c == '\n') {
        end = c;
        break;
      }
      if (length < kLineSize - 1) buffer[length++] = c;
    }
    buffer[length] = '\0';
    if (length == 0 && end != 0 && lastLineEnd_ != 0) {
      if (end != lastLineEnd_) {  // the second half of the previous line end
        lastLineEnd_ = 0;
        continue;
      }
      lastLineEnd_ = 0;
      return false;
    }
    if (end != 0) lastLineEnd_ = end;
    return length > 0;
  }
}

bool NetConnection::SendFormatted(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  char small[1024];
  const int length = Vak::Vsnprintf(small, sizeof small, format, args);
  va_end(args);
  bool sent = false;
  if (length >= 0) {
    const char* text = small;
    std::vector<char> large;
    if (length >= static_cast<int>(sizeof small)) {
      large.resize(static_cast<size_t>(length) + 1);
      Vak::Vsnprintf(large.data(), large.size(), format, again);
      text = large.data();
    }
    sent = transport_ && transport_->Write(text, length) == length;
  }
  va_end(again);
  return sent;
}
