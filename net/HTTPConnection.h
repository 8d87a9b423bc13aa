#pragma once
// HTTP/1.1 over a NetConnection: GET and multipart POST requests, the
// response header with a jar of four cookies, and bodies that are sized,
// chunked or read to the end of the stream, written into a file.
#include <cstdint>
#include <memory>
#include <string>

#include "Vak/Bexlorn/String.h"
#include "content/ACSChunkPtr.h"
#include "net/NetConnection.h"
#include "net/UrlRecord.h"

namespace Vak {
class File;
} // namespace Vak

class HTTPCookieJar {
public:
  static constexpr int kMaxCookies = 4;
  static constexpr int kNameSize = 32;
  static constexpr int kValueSize = 256;

  HTTPCookieJar() { ClearCookies(); }
  void ClearCookies();
  // Replaces the value of the last cookie of that name (without regard to
  // case; the name takes the new spelling), else appends while fewer than
  // four are kept; a fifth name is dropped. Texts are cut to their fields.
  void SetCookie(const char* name, size_t nameLength, const char* value, size_t valueLength);

  int32_t count;
  char names[kMaxCookies][kNameSize];
  char values[kMaxCookies][kValueSize];
};

class HTTPConnection : public NetConnection, public HTTPCookieJar {
public:
  // Response states.
  enum ResponseState : int32_t { kSuccess = 0, kRedirect = 1, kFailure = 2, kUnreadable = 3 };

  // `peer` names the server (its path and query are dropped); the
  // connection owns `transport` (may be null, set later).
  explicit HTTPConnection(const UrlRecord& peer, NetTransport* transport = nullptr);
  ~HTTPConnection() override;

  // 6 without a transport; a transport status other than 0; else the
  // response state: 0 or 1 give 0, 2 gives 4, 3 gives 7, others 8.
  int32_t GetStatus() override;

  // A GET of the formatted path. Nothing is sent unless GetStatus is 0. A
  // path or host holding CR or LF, which would split the request, closes the
  // connection instead (status 5). True when every line was sent.
  bool SendGet(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // A multipart POST of the form's children: a container child is a file
  // part (its "filename" and "filedata"), any other a plain field. A path,
  // host, field name or file name holding CR or LF closes the connection
  // instead (status 5). True when every byte was sent.
  bool SendPostMultipart(const char* path, const ACSChunkPtr& form);
  // The status line and headers; true unless the response state is 2.
  bool ReadResponseHeader();
  // Writes the body into the file (created or truncated); true when at least
  // one body byte came.
  bool ReadBody(const char* filePath);

  const UrlRecord& GetPeer() const { return peer_; }
  int32_t GetResponseState() const { return responseState_; }
  const char* GetRequestPath() const { return requestPath_; }
  const Vak::String& GetLocation() const { return location_; }
  bool IsClosed() const { return closed_; }
  const Vak::String& GetTransferEncoding() const { return transferEncoding_; }
  uint32_t GetContentLength() const { return static_cast<uint32_t>(expectedLength_); }

  // The boundary between the parts of a POST body.
  static constexpr const char* kBoundary = "1E3N2D4";
  // Bytes asked of the transport at once for a body. Sized bodies never ask
  // past their end, so a kept-alive connection stays at the next response.
  static constexpr int32_t kBodyBlock = 65536;
  // A chunk size longer than this many hex digits is refused.
  static constexpr int kMaxChunkSizeDigits = 8;

private:
  // The request line and headers, then `more`, in one write.
  bool SendRequestHead(const char* method, const char* path, bool keepAlive, const char* more);
  void AppendCookieLine(std::string& head) const;
  void ParseHeaderLine(const char* line);
  // The number of data bytes written, 0 on any error.
  int32_t ReadChunkedBody(Vak::File& file);
  bool ReadSizedBody(Vak::File& file);
  void ReadBodyToClose(Vak::File& file);
  // Drops an LF that pairs the CR just read.
  void ConsumeLineFeedAfterCR();
  // The body block, made at the first body and kept with the connection
  // (pooled connections serve many tasks, each on a thread of its own).
  char* BodyBlock();
  std::unique_ptr<char[]> bodyBlock_;

  UrlRecord peer_;
  int32_t responseState_ = kSuccess;  // nothing read yet: no failure
  char requestPath_[512];
  Vak::String location_;
  bool closed_ = false;
  Vak::String transferEncoding_;
  bool lengthPresent_ = false;  // a Content-Length header with digits came
  bool lengthTooLarge_ = false; // its value passes the signed 32-bit counter
};
