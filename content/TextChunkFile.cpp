#include "content/TextChunkFile.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstring>
#include <vector>

#include "Vak/Bexlorn/CodePage.h"
#include "content/ACSFile.h"
#include "content/KUID.h"
#include "content/TStream.h"

namespace {

using ChunkText::ValueKind;

constexpr int kEnd = -1;

// Where the reader takes its bytes: a stream for the single steps, or the
// rest of the stream loaded once for a whole file (no call per byte).
// Get returns kEnd at the end of the input and at a NUL, which stays unread
// so that it ends every read after it too; Unget steps back over a byte Get
// returned.
class StreamSource {
public:
  explicit StreamSource(TStream& stream) : stream_(stream) {}
  int Get() {
    uint8_t c;
    if (stream_.ReadBuffered(1, &c) != 1) return kEnd;
    if (c == 0) {
      stream_.UnreadChar();
      return kEnd;
    }
    return c;
  }
  void Unget() { stream_.UnreadChar(); }
  uint32_t Tell() { return stream_.Tell(); }
  void Seek(uint32_t at) { stream_.SeekBuffered(at, TStream::kBegin); }
  bool ByteOrderMark() {
    uint8_t mark[3];
    return stream_.ReadBuffered(3, mark) == 3 && mark[0] == 0xEF && mark[1] == 0xBB && mark[2] == 0xBF;
  }

private:
  TStream& stream_;
};

class MemorySource {
public:
  MemorySource(const char* begin, const char* end) : begin_(begin), p_(begin), end_(end) {}
  int Get() {
    if (p_ == end_ || *p_ == 0) return kEnd;
    return static_cast<uint8_t>(*p_++);
  }
  void Unget() { --p_; }
  uint32_t Tell() const { return static_cast<uint32_t>(p_ - begin_); }
  void Seek(uint32_t at) { p_ = begin_ + at; }
  bool ByteOrderMark() {
    if (end_ - p_ < 3 || std::memcmp(p_, "\xEF\xBB\xBF", 3) != 0) return false;
    p_ += 3;
    return true;
  }

private:
  const char* begin_;
  const char* p_;
  const char* end_;
};

bool IsBlank(int c) { return c == ' ' || c == '\t'; }
bool IsLineEnd(int c) { return c == '\r' || c == '\n'; }
bool IsDigit(int c) { return c >= '0' && c <= '9'; }

// Skips spaces and tabs (and line ends when asked); returns the byte after
// them, unread.
template <class Source>
int SkipSpace(Source& in, bool lineEnds) {
  for (;;) {
    const int c = in.Get();
    if (c == kEnd) return kEnd;
    if (!IsBlank(c) && !(lineEnds && IsLineEnd(c))) {
      in.Unget();
      return c;
    }
  }
}

template <class Source>
void ReadToken(Source& in, std::string& out) {
  out.clear();
  int c = SkipSpace(in, false);
  if (c == kEnd || IsLineEnd(c) || c == '}') return;
  const bool quoted = c == '"';
  if (quoted) in.Get();
  while ((c = in.Get()) != kEnd) {
    if (quoted) {
      if (c == '"') break;
      if (IsLineEnd(c)) {
        // CR LF and LF CR are one line end; two equal ones are two.
        const int d = in.Get();
        if (d != kEnd && (!IsLineEnd(d) || d == c)) in.Unget();
        out += "\r\n";
        continue;
      }
    } else {
      if (IsLineEnd(c) || c == '}') {
        in.Unget();
        break;
      }
      if (c == '\\') {
        const int d = in.Get();
        if (d == 'n') {
          out += "\r\n";
          continue;
        }
        if (d != kEnd) in.Unget();
      }
    }
    out += static_cast<char>(c);
  }
}

template <class Source>
void ReadValueToken(Source& in, std::string& token) {
  ReadToken(in, token);
  if (!token.empty() && token.back() == '\\') token.pop_back();
}

template <class Source>
void ReadTagName(Source& in, std::string& name) {
  name.clear();
  int c = SkipSpace(in, true);
  if (c == kEnd || c == '}') return;
  while ((c = in.Get()) != kEnd) {
    if (IsBlank(c) || IsLineEnd(c) || c == '}') {
      in.Unget();
      break;
    }
    if (name.size() < ChunkText::kMaxReadName) name += Vak::CodePage::AsciiLower(static_cast<char>(c));
  }
}

template <class Source>
ValueKind Classify(Source& in) {
  const uint32_t start = in.Tell();
  auto restore = [&](ValueKind kind) {
    in.Seek(start);
    return kind;
  };
  int c = SkipSpace(in, false);
  if (c == kEnd || c == '}') return restore(ValueKind::kEmpty);
  if (c == '{') {
    in.Get();
    return ValueKind::kContainer;
  }
  if (IsLineEnd(c)) {
    if (SkipSpace(in, true) == '{') {
      in.Get();
      return ValueKind::kContainer;
    }
    return restore(ValueKind::kEmpty);
  }
  if (c == '"') return restore(ValueKind::kString);
  // A single number: '-', digits and points, then only blanks. A list: only
  // digits, blanks, ',', '-' and '.'. Both up to the line end.
  enum { kSign, kDigits, kTrailing, kNot } single = kSign;
  bool point = false;
  bool list = true;
  while ((c = in.Get()) != kEnd && !IsLineEnd(c)) {
    list = list && (IsDigit(c) || IsBlank(c) || c == ',' || c == '-' || c == '.');
    if (single == kSign && c == '-') {
      single = kDigits;
    } else if ((single == kSign || single == kDigits) && (IsDigit(c) || c == '.')) {
      single = kDigits;
      point = point || c == '.';
    } else if (single != kNot && IsBlank(c)) {
      single = kTrailing;
    } else {
      single = kNot;
    }
    if (single == kNot && !list) break;
  }
  if (single != kNot) return restore(point ? ValueKind::kFloat : ValueKind::kInt);
  return restore(list ? ValueKind::kNumberList : ValueKind::kString);
}

// "%f": the number at the front of the token.
bool ParseFloat(const std::string& token, std::size_t from, std::size_t to, float& out) {
  const char* begin = token.data() + from;
  const char* end = token.data() + to;
  const auto result = std::from_chars(begin, end, out);
  if (result.ptr == begin) return false;
  if (result.ec == std::errc::result_out_of_range) {
    double wide = 0;
    std::from_chars(begin, end, wide);
    out = static_cast<float>(wide);
  }
  return true;
}

// "%d": the C library reads a long and keeps its low 32 bits.
bool ParseInt(const std::string& token, int32_t& out) {
  const char* p = token.data();
  const char* end = p + token.size();
  const bool negative = p < end && *p == '-';
  if (negative) ++p;
  unsigned long long magnitude = 0;
  const auto result = std::from_chars(p, end, magnitude);
  if (result.ptr == p) return false;
  long long value;
  if (result.ec == std::errc::result_out_of_range || magnitude > static_cast<unsigned long long>(LLONG_MAX))
    value = negative ? LLONG_MIN : LLONG_MAX;
  else
    value = negative ? -static_cast<long long>(magnitude) : static_cast<long long>(magnitude);
  out = static_cast<int32_t>(static_cast<uint32_t>(static_cast<unsigned long long>(value)));
  return true;
}

std::size_t CountOf(const std::string& text, const char* what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

void ReadString(ACSChunkPtr& pointer, const Vak::PString& name, std::string& text, bool utf8) {
  using Vak::CodePage::StartsWithIgnoreCase;
  const std::size_t tags = CountOf(text, "<kuid:") + CountOf(text, "<kuid2:");
  if (!text.empty() && tags <= 1 &&
      (StartsWithIgnoreCase(text.c_str(), "<KUID:") || StartsWithIgnoreCase(text.c_str(), "<KUID2:") ||
       StartsWithIgnoreCase(text.c_str(), "<NULL>"))) {
    pointer.SetChildKUID(name, KUID::Parse(text.c_str(), false));
    return;
  }
  if (!utf8) {
    bool ansi = false;
    for (const char c : text) ansi |= static_cast<uint8_t>(c) >= 0x80;
    if (ansi && !AnsiToUtf8InPlace(text)) text.clear();
  }
  pointer.SetChildString(name, text.c_str());
}

// One level up to its '}' or the end. False when the nesting went too deep;
// reading stops there.
template <class Source>
bool ReadLevel(ACSChunkPtr& pointer, Source& in, bool utf8, int depth) {
  if (!utf8) {
    const uint32_t start = in.Tell();
    if (in.ByteOrderMark()) utf8 = true;
    else in.Seek(start);
  }
  std::string tag;
  std::string token;
  std::vector<float> values;
  for (;;) {
    ReadTagName(in, tag);
    if (tag.empty()) return true;
    const Vak::PString name(tag.c_str(), static_cast<unsigned>(tag.size()));
    switch (Classify(in)) {
    case ValueKind::kEmpty: pointer.SetChildNull(name); break;
    case ValueKind::kContainer: {
      if (depth >= ChunkFile::kMaxDepth) return false;
      ACSChunkPtr nested;
      const bool whole = ReadLevel(nested, in, utf8, depth + 1);
      pointer.SetChild(name, nested);
      if (!whole) return false;
      if (SkipSpace(in, true) == '}') in.Get();
      break;
    }
    case ValueKind::kFloat: {
      ReadValueToken(in, token);
      float value;
      if (ParseFloat(token, 0, token.size(), value)) pointer.SetChildFloat(name, value);
      else pointer.SetChildNull(name);
      break;
    }
    case ValueKind::kInt: {
      ReadValueToken(in, token);
      int32_t value;
      if (ParseInt(token, value)) pointer.SetChildInt(name, value);
      else pointer.SetChildNull(name);
      break;
    }
    case ValueKind::kNumberList: {
      ReadValueToken(in, token);
      values.clear();
      for (std::size_t at = 0; at < token.size();) {
        const std::size_t end = token.find_first_of(" ,\t", at);
        const std::size_t to = end == std::string::npos ? token.size() : end;
        float value;
        if (to > at && ParseFloat(token, at, to, value)) values.push_back(value);
        at = to + 1;
      }
      pointer.SetChildFloatArray(name, values.data(), static_cast<uint32_t>(values.size()));
      break;
    }
    case ValueKind::kString:
      ReadToken(in, token);
      ReadString(pointer, name, token, utf8);
      break;
    }
  }
}

// ---- writing ---------------------------------------------------------------

void AppendIndent(std::string& out, int level) { out.append(static_cast<std::size_t>(level) * 2, ' '); }

void AppendName(std::string& out, const char* text, std::size_t length) {
  const std::size_t n = std::min(length, ChunkText::kMaxWrittenName);
  for (std::size_t i = 0; i < n; ++i) {
    const signed char c = static_cast<signed char>(text[i]);
    out += c <= 0x20 ? '_' : Vak::CodePage::AsciiLower(static_cast<char>(c));
  }
}

void AppendValue(std::string& out, const char* text, std::size_t length, bool quote) {
  if (!text || length == 0) return;
  bool wrap = quote;
  for (std::size_t i = 0; i < length && !wrap; ++i) wrap = IsBlank(text[i]) || IsLineEnd(text[i]);
  if (wrap) out += '"';
  for (std::size_t i = 0; i < length; ++i) out += text[i] == '"' ? '\'' : text[i];
  if (wrap) out += '"';
}

void AppendChildren(std::string& out, ACSChunk* container, int level);

void AppendNode(std::string& out, ACSChunk* chunk, const Vak::PString& name, int level) {
  const int type = chunk->GetType();
  if (type == kACSContainer) {
    AppendIndent(out, level);
    AppendName(out, name.c_str(), name.Length());
    out += "\r\n";
    AppendIndent(out, level);
    out += "{\r\n";
    AppendChildren(out, chunk, level + 1);
    AppendIndent(out, level);
    out += '}';
    return;
  }
  ACSRawDataPtr text;
  ACSConverter::Convert(type, kACSText, ACSRawDataCore::FromChunk(chunk), text);
  AppendIndent(out, level);
  AppendName(out, name.c_str(), name.Length());
  const int padding = ChunkText::kValueColumn - 2 * level - static_cast<int>(name.Length());
  out.append(static_cast<std::size_t>(std::max(padding, 1)), ' ');
  if (text.Data()) {
    const char* p = reinterpret_cast<const char*>(text.Data());
    AppendValue(out, p, strnlen(p, text.Size()), type != kACSFloat && type != kACSInt && type != kACSKUID);
  }
}

void AppendChildren(std::string& out, ACSChunk* container, int level) {
  const int count = container->GetChildCount();
  for (int i = 0; i < count; ++i) {
    const Vak::PString name = container->GetChildName(i);
    const ACSChunkPtr child = container->FindChild(name);
    if (child->GetType() == kACSContainer && i != 0) {
      AppendIndent(out, level);
      out += "\r\n";
    }
    AppendNode(out, child.Get(), name, level);
    out += "\r\n";
  }
}

void Flush(TStream& stream, const std::string& out) {
  if (!out.empty()) stream.WriteBytes(out.data(), static_cast<uint32_t>(out.size()));
}

}  // namespace

// ---- reading ---------------------------------------------------------------

void ReadChunkFileText(ACSChunkPtr& pointer, TStream& stream, bool utf8) {
  pointer.Release();
  if (!stream.IsOpen()) return;
  // The rest of the stream in one read; the stream is left just behind what
  // the tree was read from.
  const uint32_t start = stream.Tell();
  std::string text;
  for (uint32_t piece = 4096;; piece = std::min(piece * 2, 1u << 20)) {
    const std::size_t at = text.size();
    text.resize(at + piece);
    const uint32_t got = stream.ReadBuffered(piece, text.data() + at);
    text.resize(at + got);
    if (got < piece) break;
  }
  MemorySource in(text.data(), text.data() + text.size());
  // Too deep a nesting refuses the whole file, as the binary reader does: a
  // tree cut short would pass for a complete one.
  if (!ReadLevel(pointer, in, utf8, 0)) pointer.Release();
  stream.SeekBuffered(start + in.Tell(), TStream::kBegin);
}

ChunkText::ValueKind ClassifyChunkTextValue(TStream& stream) {
  StreamSource in(stream);
  return Classify(in);
}

void ReadChunkTextTagName(TStream& stream, std::string& name) {
  StreamSource in(stream);
  ReadTagName(in, name);
}

void ReadChunkTextValue(TStream& stream, std::string& token) {
  StreamSource in(stream);
  ReadValueToken(in, token);
}

void ReadChunkTextString(TStream& stream, std::string& text) {
  StreamSource in(stream);
  ReadToken(in, text);
}

// ---- writing ---------------------------------------------------------------

void WriteChunkFileText(const ACSChunkPtr& root, TStream& stream) { WriteChunkFileText(root.Get(), stream); }

void WriteChunkFileText(ACSChunk* root, TStream& stream) {
  if (!root || ACSChunk::IsNullChunk(root) || root->GetType() == kACSEmpty) return;
  std::string out = "\xEF\xBB\xBF\r\n";
  AppendChildren(out, root, 0);
  Flush(stream, out);
}

void WriteChunkTextChildren(ACSChunk* container, int level, TStream& stream) {
  std::string out;
  AppendChildren(out, container, level);
  Flush(stream, out);
}

void WriteChunkTextNode(ACSChunk* chunk, const Vak::PString& name, int level, TStream& stream) {
  std::string out;
  AppendNode(out, chunk, name, level);
  Flush(stream, out);
}

void WriteChunkTextValue(const char* text, std::size_t length, bool quote, TStream& stream) {
  std::string out;
  AppendValue(out, text, length, quote);
  Flush(stream, out);
}

std::string NormaliseTagName(const char* name, std::size_t length) {
  std::string out;
  if (name) AppendName(out, name, length);
  return out;
}
