#pragma once
// A URL held in fixed character fields and copied by value: what every part
// of the network layer carries (requests, tasks, connections, cookies, the
// download station's queue). Each text is cut to fit its field, never
// overflowed. The record is 1060 bytes in memory; it is stored as its Format
// text.
#include <cstddef>
#include <cstdint>

#include "Vak/Bexlorn/PString.h"

class UrlRecord {
public:
  static constexpr size_t kSchemeSize = 32;
  static constexpr size_t kUserSize = 64;
  static constexpr size_t kPasswordSize = 64;
  static constexpr size_t kHostSize = 128;
  static constexpr size_t kPathSize = 256;
  static constexpr size_t kQuerySize = 512;
  // The record's size in memory, fields packed in order.
  static constexpr size_t kRecordBytes =
      kSchemeSize + kUserSize + kPasswordSize + kHostSize + sizeof(int32_t) + kPathSize + kQuerySize;
  // Highest port a text may name.
  static constexpr int32_t kMaxPort = 65535;

  UrlRecord() { Clear(); }
  // Parsed from `text`.
  explicit UrlRecord(const char* text) { Parse(text); }

  // All texts empty, port 0.
  void Clear();

  // Fills the record from a URL text. A text holding a control byte
  // (0x00-0x1F, 0x7F) or naming a port above 65535 leaves the record
  // cleared: these texts end up in request lines. The length form takes the
  // text with an explicit length, so an embedded NUL is seen and refused.
  void Parse(const char* text);
  void Parse(const char* text, size_t length);

  // "scheme://[user[:password]@]host[:port]path[query]"; "http" for an
  // empty scheme.
  Vak::PString Format() const;
  // What a request line carries.
  Vak::PString PathAndQuery() const;
  // The explicit port, else that of the scheme: 443 "https", 21 "ftp", 80.
  int32_t GetPort() const;

  // Scheme, user and host without regard to case; password, path and query
  // exactly; ports as numbers (0 differs from an explicit 80).
  bool Equals(const UrlRecord& other) const;
  // Completes a relative record from `base`: an empty scheme takes the
  // base's; an empty host takes the base's user, password, host and port.
  void Merge(const UrlRecord& base);
  // The server `source` names, for pooling connections and keeping cookies:
  // a copy with path and query emptied.
  static UrlRecord HostKey(const UrlRecord& source);

  char scheme[kSchemeSize];
  char user[kUserSize];
  char password[kPasswordSize];
  char host[kHostSize];
  int32_t port;
  char path[kPathSize];
  char query[kQuerySize];
};
