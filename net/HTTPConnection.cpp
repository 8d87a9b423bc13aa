#include "net/HTTPConnection.h"

#include <cstdarg>
#include <cstring>

#include "Vak/Bexlorn/CodePage.h"
#include "Vak/Bexlorn/File.h"
#include "content/AppGlobals.h"
#include "content/DynamicBuffer.h"
#include "content/TStream.h"

namespace {

// A prefix match without regard to case in which '?' matches any one
// character.
bool MatchesPrefix(const char* line, const char* pattern) {
  for (; *pattern; ++line, ++pattern) {
    if (!*line) return false;
    if (*pattern != '?' && Vak::CodePage::AsciiLower(*line) != Vak::CodePage::AsciiLower(*pattern)) return false;
  }
  return true;
}

bool HoldsLineBreak(const char* text) { return text && strpbrk(text, "\r\n") != nullptr; }

void CopyCut(char* field, size_t size, const char* text, size_t length) {
  if (length > size - 1) length = size - 1;
  memcpy(field, text, length);
  field[length] = '\0';
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool WriteAll(Vak::File& file, const char* data, int32_t length) {
  return file.Write(data, static_cast<unsigned long>(length), 1) == static_cast<unsigned long>(length);
}

bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

} // namespace

void HTTPCookieJar::ClearCookies() {
  count = 0;
  memset(names, 0, sizeof names);
  memset(values, 0, sizeof values);
}

void HTTPCookieJar::SetCookie(const char* name, size_t nameLength, const char* value, size_t valueLength) {
  char key[kNameSize];
  CopyCut(key, sizeof key, name, nameLength);
  int slot = -1;
  for (int i = 0; i < count; ++i) {
    if (Vak::CodePage::CompareIgnoreCase(names[i], key) == 0) slot = i;
  }
  if (slot < 0) {
    if (count >= kMaxCookies) return;
    slot = count++;
  }
  memcpy(names[slot], key, sizeof key);
  CopyCut(values[slot], kValueSize, value, valueLength);
}

HTTPConnection::HTTPConnection(const UrlRecord& peer, NetTransport* transport)
    : NetConnection(transport), peer_(UrlRecord::HostKey(peer)) {
  requestPath_[0] = '\0';
}

HTTPConnection::~HTTPConnection() = default;

int32_t HTTPConnection::GetStatus() {
  if (!transport_) return kNetNoTransport;
  const int32_t status = transport_->GetStatus();
  if (status != kNetOk) return status;
  switch (responseState_) {
  case kSuccess:
  case kRedirect:
    return kNetOk;
  case kFailure:
    return kNetHTTPError;
  case kUnreadable:
    return kNetReadFailed;
  default:
    return kNetOther;
  }
}

void HTTPConnection::AppendCookieLine(std::string& head) const {
  if (count == 0) return;
  head += "Cookie: ";
  for (int i = 0; i < count; ++i) {
    if (i > 0) head += ";";
    head += names[i];
    head += "=";
    head += values[i];
  }
  head += "\r\n";
}

bool HTTPConnection::SendRequestHead(const char* method, const char* path, bool keepAlive, const char* more) {
  const Vak::String program = GetProgramName();
  const int build = static_cast<int>(GetBuildNumber());
  // One write for the whole head: a segment per line would wake the server
  // for each.
  std::string head = std::string(method) + " " + path + " HTTP/1.1\r\n";
  char line[1024];
  Vak::Sprintf(line, "User-Agent: %s/%d (VRS) %s/%d\r\n", static_cast<const char*>(program), build,
               static_cast<const char*>(program), build);
  head += line;
  head += "Host: ";
  head += peer_.host;
  head += "\r\n";
  if (keepAlive) {
    head += "Proxy-Connection: Keep-Alive\r\nConnection: Keep-Alive\r\n";
  } else {
    head += "Connection: Close\r\nContent-type: multipart/form-data, boundary=";
    head += kBoundary;
    head += "\r\n";
  }
  AppendCookieLine(head);
  head += more;
  const int32_t length = static_cast<int32_t>(head.size());
  return transport_ && transport_->Write(head.data(), length) == length;
}

bool HTTPConnection::SendGet(const char* format, ...) {
  if (GetStatus() != kNetOk) return false;
  char path[2048];
  va_list args;
  va_start(args, format);
  Vak::Vsnprintf(path, sizeof path, format, args);
  va_end(args);
  Vak::Sprintf(requestPath_, "%s", path);
  if (HoldsLineBreak(path) || HoldsLineBreak(peer_.host)) {
    Close();
    return false;
  }
  const bool sent = SendRequestHead("GET", path, true, "\r\n");
  bytesReceived_ = 0;
  expectedLength_ = 0;
  return sent;
}

bool HTTPConnection::SendPostMultipart(const char* path, const ACSChunkPtr& form) {
  if (!path) path = "";
  Vak::Sprintf(requestPath_, "%s", path);
  bool refused = HoldsLineBreak(path) || HoldsLineBreak(peer_.host);
  const int children = form.IsNull() ? 0 : form.GetChildCount();
  for (int i = 0; i < children && !refused; ++i) {
    refused = HoldsLineBreak(form.GetChildName(i).c_str());
    const ACSChunkPtr part = form.GetChildContainerAt(i);
    if (!part.IsNull()) refused = refused || HoldsLineBreak(part.GetChildString("filename").c_str());
  }
  if (refused) {
    Close();
    return false;
  }

  DynamicBuffer memory(512);
  TBuffer body(&memory);
  auto text = [&body](const char* bytes) { body.Write(bytes, static_cast<uint32_t>(strlen(bytes))); };
  for (int i = 0; i < children; ++i) {
    const Vak::PString name = form.GetChildName(i);
    const ACSChunkPtr part = form.GetChildContainerAt(i);
    text("--");
    text(kBoundary);
    text("\r\n");
    Vak::AnsiString line;
    if (!part.IsNull()) {
      const ACSRawDataPtr data = part.GetChildData("filedata");
      line.Setf("content-disposition: form-data; name=\"%s\"; filename=\"%s\"\r\n", name.c_str(),
                part.GetChildString("filename").c_str());
      text(static_cast<const char*>(line));
      text("Content-type: application/binary\r\n");
      text("Content-Transfer-Encoding: binary\r\n");
      line.Setf("Content-Length: %d\r\n", static_cast<int>(data.Size()));
      text(static_cast<const char*>(line));
      text("\r\n");
      if (data.Size() > 0) body.Write(data.Data(), data.Size());
      text("\r\n");
    } else {
      line.Setf("content-disposition: form-data; name=\"%s\"\r\n", name.c_str());
      text(static_cast<const char*>(line));
      text("\r\n");
      const Vak::PString value = form.GetChildString(name);
      body.Write(value.c_str(), static_cast<uint32_t>(strlen(value.c_str())));
      text("\r\n");
    }
  }
  text("--");
  text(kBoundary);
  text("--\r\n");

  const int32_t size = static_cast<int32_t>(memory.Size());
  char length[48];
  Vak::Sprintf(length, "Content-length: %i\r\n\r\n", size);
  const bool sent = SendRequestHead("POST", path, false, length) && transport_->Write(memory.Data(), size) == size;
  bytesReceived_ = 0;
  expectedLength_ = 0;
  return sent;
}

void HTTPConnection::ParseHeaderLine(const char* line) {
  if (MatchesPrefix(line, "HTTP/?.? 2?? ")) {
    responseState_ = kSuccess;
  } else if (MatchesPrefix(line, "HTTP/?.? 3?? ")) {
    responseState_ = kRedirect;
  } else if (MatchesPrefix(line, "HTTP/?.? 4?? ") || MatchesPrefix(line, "HTTP/?.? 5?? ")) {
    responseState_ = kFailure;
  } else if (MatchesPrefix(line, "Set-Cookie: ")) {
    const char* name = line + strlen("Set-Cookie: ");
    const char* equals = strchr(name, '=');
    const size_t nameLength = equals ? static_cast<size_t>(equals - name) : strlen(name);
    const char* value = equals ? equals + 1 : name + nameLength;
    SetCookie(name, nameLength, value, strcspn(value, ";"));
  } else if (MatchesPrefix(line, "Location: ")) {
    location_ = line + strlen("Location: ");
  } else if (MatchesPrefix(line, "Transfer-Encoding: ")) {
    transferEncoding_ = line + strlen("Transfer-Encoding: ");
  } else if (MatchesPrefix(line, "Content-Length: ")) {
    const char* digits = line + strlen("Content-Length: ");
    int64_t value = 0;
    int count = 0;
    for (; *digits >= '0' && *digits <= '9'; ++digits, ++count) {
      if (value <= INT32_MAX) value = value * 10 + (*digits - '0');
    }
    lengthPresent_ = count > 0;
    lengthTooLarge_ = value > INT32_MAX;
    expectedLength_ = lengthTooLarge_ ? 0 : static_cast<int32_t>(value);
  } else if (MatchesPrefix(line, "Proxy-Connection: close") || MatchesPrefix(line, "Connection: close")) {
    closed_ = true;
  }
}

void HTTPConnection::ConsumeLineFeedAfterCR() {
  char next;
  if (transport_ && transport_->Peek(&next, 1) == 1 && next == '\n') transport_->Read(&next, 1);
}

bool HTTPConnection::ReadResponseHeader() {
  location_ = "";
  transferEncoding_ = "";
  expectedLength_ = 0;
  lengthPresent_ = false;
  lengthTooLarge_ = false;
  responseState_ = kFailure;
  char line[kLineSize];
  if (!ReadLine(line)) {
    responseState_ = kUnreadable;
    return false;
  }
  do {
    ParseHeaderLine(line);
  } while (ReadLine(line));
  if (lastLineEnd_ == '\r') {
    ConsumeLineFeedAfterCR();
    lastLineEnd_ = 0;
  }
  return responseState_ != kFailure;
}

bool HTTPConnection::ReadBody(const char* filePath) {
  if (GetStatus() != kNetOk) return false;
  Vak::File file;
  if (!file.Open(filePath, Vak::File::kWrite | Vak::File::kCreate).Ok()) return false;
  bool complete = true;
  if (Vak::CodePage::CompareIgnoreCase(static_cast<const char*>(transferEncoding_), "chunked") == 0) {
    bytesReceived_ = ReadChunkedBody(file);
  } else if (lengthTooLarge_) {
    complete = false;
  } else if (lengthPresent_) {
    complete = ReadSizedBody(file);
  } else {
    ReadBodyToClose(file);
  }
  return file.Close() == 0 && complete && bytesReceived_ != 0;
}

char* HTTPConnection::BodyBlock() {
  if (!bodyBlock_) bodyBlock_.reset(new char[kBodyBlock]);  // left unfilled: every read writes before it is used
  return bodyBlock_.get();
}

bool HTTPConnection::ReadSizedBody(Vak::File& file) {
  char* const block = BodyBlock();
  while (bytesReceived_ < expectedLength_) {
    const int32_t remaining = expectedLength_ - bytesReceived_;
    const int32_t n = transport_->Read(block, remaining < kBodyBlock ? remaining : kBodyBlock);
    if (n <= 0) return false;
    if (!WriteAll(file, block, n)) return false;
    bytesReceived_ += n;
  }
  return true;
}

void HTTPConnection::ReadBodyToClose(Vak::File& file) {
  char* const block = BodyBlock();
  for (;;) {
    const int32_t n = transport_->Read(block, kBodyBlock);
    if (n <= 0) break;
    if (!WriteAll(file, block, n)) break;
    bytesReceived_ += n;
    if (bytesReceived_ < 0) break;
  }
  closed_ = true;
}

int32_t HTTPConnection::ReadChunkedBody(Vak::File& file) {
  enum State { kSize, kExtension, kData, kDataEnd, kTrailer };
  char* const block = BodyBlock();
  State state = kSize;
  int64_t size = 0;
  int digits = 0;
  int64_t total = 0;
  int64_t remaining = 0;
  int trailerBytes = 0;
  char pairOf = 0;  // a line end whose other half, when it comes next, belongs to it

  // The line end that closes a size line.
  auto endSizeLine = [&](char c) -> bool {
    if (total + size > INT32_MAX) return false;
    pairOf = c;
    remaining = size;
    state = size > 0 ? kData : kTrailer;
    trailerBytes = 0;
    return true;
  };

  for (;;) {
    if (state == kData && pairOf == 0) {
      const int32_t want = remaining < kBodyBlock ? static_cast<int32_t>(remaining) : kBodyBlock;
      const int32_t n = transport_->Read(block, want);
      if (n <= 0) return 0;
      if (!WriteAll(file, block, n)) return 0;
      remaining -= n;
      total += n;
      if (remaining == 0) state = kDataEnd;
      continue;
    }
    char c;
    if (transport_->Read(&c, 1) != 1) return 0;
    if (pairOf != 0) {
      const bool pair = IsLineEnd(c) && c != pairOf;
      pairOf = 0;
      if (pair) continue;
    }
    switch (state) {
    case kSize:
      if (HexDigit(c) >= 0) {
        if (++digits > kMaxChunkSizeDigits) return 0;
        size = size * 16 + HexDigit(c);
      } else if (c == ';') {
        state = kExtension;
      } else if (IsLineEnd(c)) {
        if (!endSizeLine(c)) return 0;
      } else if (c != ' ' && c != '\t') {
        return 0;
      }
      break;
    case kExtension:
      if (IsLineEnd(c) && !endSizeLine(c)) return 0;
      break;
    case kData:  // the first data byte, read while looking for a pair
      if (!WriteAll(file, &c, 1)) return 0;
      --remaining;
      ++total;
      if (remaining == 0) state = kDataEnd;
      break;
    case kDataEnd:
      if (!IsLineEnd(c)) return 0;
      pairOf = c;
      state = kSize;
      size = 0;
      digits = 0;
      break;
    case kTrailer:
      if (!IsLineEnd(c)) {
        ++trailerBytes;
      } else if (trailerBytes == 0) {
        if (c == '\r') ConsumeLineFeedAfterCR();
        return static_cast<int32_t>(total);
      } else {
        pairOf = c;
        trailerBytes = 0;
      }
      break;
    }
  }
}
