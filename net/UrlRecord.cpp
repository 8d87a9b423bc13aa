#include "net/UrlRecord.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "Vak/Bexlorn/CodePage.h"

static_assert(sizeof(UrlRecord) == UrlRecord::kRecordBytes, "the fields are packed in order");

namespace {

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

// Copies [from, to) into the field, cut to leave room for the terminator.
template <size_t N> void Put(char (&field)[N], const char* from, const char* to) {
  const size_t n = std::min(static_cast<size_t>(to - from), N - 1);
  std::memcpy(field, from, n);
  field[n] = 0;
}

// The first byte of [p, end) that is one of `stops`, else `end`.
const char* FindAny(const char* p, const char* end, const char* stops) {
  const size_t count = std::strlen(stops);
  while (p < end && !std::memchr(stops, *p, count)) ++p;
  return p;
}

bool SameIgnoringCase(const char* a, const char* b) { return Vak::CodePage::CompareIgnoreCase(a, b) == 0; }

} // namespace

void UrlRecord::Clear() {
  scheme[0] = 0;
  user[0] = 0;
  password[0] = 0;
  host[0] = 0;
  port = 0;
  path[0] = 0;
  query[0] = 0;
}

void UrlRecord::Parse(const char* text) { Parse(text, text ? std::strlen(text) : 0); }

void UrlRecord::Parse(const char* text, size_t length) {
  Clear();
  if (!text) return;
  const char* const end = text + length;
  for (const char* p = text; p < end; ++p)
    if (IsControl(static_cast<unsigned char>(*p))) return;

  const char* p = text;
  const char* stop = FindAny(p, end, "/@:");
  if (end - stop >= 3 && stop[0] == ':' && stop[1] == '/' && stop[2] == '/') {
    Put(scheme, p, stop);
    p = stop + 3;
    stop = FindAny(p, end, "/@:");
  }

  const char* hostStart = p;
  if (stop < end && (*stop == ':' || *stop == '@')) {
    // The last '@' before the path ends the credentials, so a host never
    // holds one (formatted, it would read as credentials).
    const char* slash = FindAny(stop, end, "/");
    const char* at = nullptr;
    for (const char* q = stop; q < slash; ++q)
      if (*q == '@') at = q;
    if (at) {
      Put(user, p, stop);
      if (*stop == ':') {
        const char* next = FindAny(stop + 1, end, "/:@");
        if (next < end && *next == '@') Put(password, stop + 1, next);
      }
      hostStart = at + 1;
    }
  }

  const char* hostEnd = FindAny(hostStart, end, "/:");
  Put(host, hostStart, hostEnd);
  p = hostEnd;
  if (p < end && *p == ':') {
    int32_t value = 0;
    for (++p; p < end && *p >= '0' && *p <= '9'; ++p) {
      value = value * 10 + (*p - '0');
      if (value > kMaxPort) {
        Clear();
        return;
      }
    }
    port = value;
  }

  // The path starts at its '/': anything else between the port and the path
  // would run into the host when formatted.
  p = FindAny(p, end, "/?");
  const char* question = FindAny(p, end, "?");
  Put(path, p, question);
  Put(query, question, end);
}

Vak::PString UrlRecord::Format() const {
  std::string text = scheme[0] ? scheme : "http";
  text += "://";
  if (user[0]) {
    text += user;
    if (password[0]) {
      text += ':';
      text += password;
    }
    text += '@';
  }
  text += host;
  if (port != 0) {
    char number[16];
    std::snprintf(number, sizeof number, ":%d", static_cast<int>(port));
    text += number;
  }
  text += path;
  text += query;
  return Vak::PString(text.c_str());
}

Vak::PString UrlRecord::PathAndQuery() const {
  std::string text = path;
  text += query;
  return Vak::PString(text.c_str());
}

int32_t UrlRecord::GetPort() const {
  if (port != 0) return port;
  if (SameIgnoringCase(scheme, "https")) return 443;
  if (SameIgnoringCase(scheme, "ftp")) return 21;
  return 80;
}

bool UrlRecord::Equals(const UrlRecord& other) const {
  return SameIgnoringCase(scheme, other.scheme) && SameIgnoringCase(user, other.user) &&
         SameIgnoringCase(host, other.host) && std::strcmp(password, other.password) == 0 &&
         std::strcmp(path, other.path) == 0 && std::strcmp(query, other.query) == 0 && port == other.port;
}

void UrlRecord::Merge(const UrlRecord& base) {
  if (!scheme[0]) std::memcpy(scheme, base.scheme, sizeof scheme);
  if (!host[0]) {
    std::memcpy(user, base.user, sizeof user);
    std::memcpy(password, base.password, sizeof password);
    std::memcpy(host, base.host, sizeof host);
    port = base.port;
  }
}

UrlRecord UrlRecord::HostKey(const UrlRecord& source) {
  UrlRecord key = source;
  key.path[0] = 0;
  key.query[0] = 0;
  return key;
}
