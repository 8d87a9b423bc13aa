#include "content/TextChunkFile.h"

#include <charconv>
#include <algorithm>
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

// The next byte; kEnd at the end of the input or at a NUL, which stays
// unread so that it ends every read after it too.
int Get(TStream& stream) {
  uint8_t c;
  if (stream.ReadBuffered(1, &c) != 1) return kEnd;
  if (c == 0) {
    stream.UnreadChar();
    return kEnd;
  }
  return c;
}

// Steps back over a byte Get returned (never after kEnd).
void Unget(TStream& stream) { stream.UnreadChar(); }

bool IsBlank(int c) { return c == ' ' || c == '\t'; }
bool IsLineEnd(int c) { return c == '\r' || c == '\n'; }
bool IsDigit(int c) { return c >= '0' && c <= '9'; }

// Skips spaces and tabs (and line ends when asked); returns the byte after
// them, unread.
int SkipSpace(TStream& stream, bool lineEnds) {
  for (;;) {
    const int c = Get(stream);
    if (c == kEnd) return kEnd;
    if (!IsBlank(c) && !(lineEnds && IsLineEnd(c))) {
      Unget(stream);
      return c;
    }
  }
}

void ReadToken(TStream& stream, std::string& out) {
  out.clear();
  int c = SkipSpace(stream, false);
  if (c == kEnd || IsLineEnd(c) || c == '}') return;
  const bool quoted = c == '"';
  if (quoted) Get(stream);
  while ((c = Get(stream)) != kEnd) {
    if (quoted) {
      if (c == '"') break;
      if (IsLineEnd(c)) {
        // CR LF and LF CR are one line end; two equal ones are two.
        const int d = Get(stream);
        if (d != kEnd && (!IsLineEnd(d) || d == c)) Unget(stream);
        out += "\r\n";
        continue;
      }
    } else {
      if (IsLineEnd(c) || c == '}') {
        Unget(stream);
        break;
      }
      if (c == '\\') {
        const int d = Get(stream);
        if (d == 'n') {
          out += "\r\n";
          continue;
        }
        if (d != kEnd) Unget(stream);
      }
    }
    out += static_cast<char>(c);
  }
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

bool StartsWithIgnoreCase(const std::string& text, const char* prefix) {
  const std::size_t n = std::strlen(prefix);
  return text.size() >= n && Vak::CodePage::CompareIgnoreCaseN(text.c_str(), prefix, n) == 0;
}

void ReadString(ACSChunkPtr& pointer, const Vak::PString& name, std::string& text, bool utf8) {
  const std::size_t tags = CountOf(text, "<kuid:") + CountOf(text, "<kuid2:");
  if (!text.empty() && tags <= 1 &&
      (StartsWithIgnoreCase(text, "<KUID:") || StartsWithIgnoreCase(text, "<KUID2:") ||
       StartsWithIgnoreCase(text, "<NULL>"))) {
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

// One level up to its '}' or the end. False when the nesting went too deep:
// reading stops there with what was read so far.
bool ReadLevel(ACSChunkPtr& pointer, TStream& stream, bool utf8, int depth) {
  if (!utf8) {
    const uint32_t start = stream.Tell();
    uint8_t mark[3];
    if (stream.ReadBuffered(3, mark) == 3 && mark[0] == 0xEF && mark[1] == 0xBB && mark[2] == 0xBF)
      utf8 = true;
    else
      stream.SeekBuffered(start, TStream::kBegin);
  }
  std::string tag;
  std::string token;
  std::vector<float> values;
  for (;;) {
    ReadChunkTextTagName(stream, tag);
    if (tag.empty()) return true;
    const Vak::PString name(tag.c_str(), static_cast<unsigned>(tag.size()));
    switch (ClassifyChunkTextValue(stream)) {
    case ValueKind::kEmpty: pointer.SetChildNull(name); break;
    case ValueKind::kContainer: {
      if (depth >= ChunkFile::kMaxDepth) return false;
      ACSChunkPtr nested;
      const bool whole = ReadLevel(nested, stream, utf8, depth + 1);
      pointer.SetChild(name, nested);
      if (!whole) return false;
      if (SkipSpace(stream, true) == '}') Get(stream);
      break;
    }
    case ValueKind::kFloat: {
      ReadChunkTextValue(stream, token);
      float value;
      if (ParseFloat(token, 0, token.size(), value)) pointer.SetChildFloat(name, value);
      else pointer.SetChildNull(name);
      break;
    }
    case ValueKind::kInt: {
      ReadChunkTextValue(stream, token);
      int32_t value;
      if (ParseInt(token, value)) pointer.SetChildInt(name, value);
      else pointer.SetChildNull(name);
      break;
    }
    case ValueKind::kNumberList: {
      ReadChunkTextValue(stream, token);
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
      ReadChunkTextString(stream, token);
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
    if (c <= 0x20) out += '_';
    else if (c >= 'A' && c <= 'Z') out += static_cast<char>(c - 'A' + 'a');
    else out += static_cast<char>(c);
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
  ReadLevel(pointer, stream, utf8, 0);
}

ChunkText::ValueKind ClassifyChunkTextValue(TStream& stream) {
  const uint32_t start = stream.Tell();
  auto restore = [&](ValueKind kind) {
    stream.SeekBuffered(start, TStream::kBegin);
    return kind;
  };
  int c = SkipSpace(stream, false);
  if (c == kEnd || c == '}') return restore(ValueKind::kEmpty);
  if (c == '{') {
    Get(stream);
    return ValueKind::kContainer;
  }
  if (IsLineEnd(c)) {
    if (SkipSpace(stream, true) == '{') {
      Get(stream);
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
  while ((c = Get(stream)) != kEnd && !IsLineEnd(c)) {
    list = list && (IsDigit(c) || IsBlank(c) || c == ',' || c == '-' || c == '.');
    if (single == kSign && c == '-') single = kDigits;
    else if ((single == kSign || single == kDigits) && (IsDigit(c) || c == '.')) {
      single = kDigits;
      point = point || c == '.';
    } else if (single != kNot && IsBlank(c)) single = kTrailing;
    else single = kNot;
    if (single == kNot && !list) break;
  }
  if (single != kNot) return restore(point ? ValueKind::kFloat : ValueKind::kInt);
  return restore(list ? ValueKind::kNumberList : ValueKind::kString);
}

void ReadChunkTextTagName(TStream& stream, std::string& name) {
  name.clear();
  int c = SkipSpace(stream, true);
  if (c == kEnd || c == '}') return;
  while ((c = Get(stream)) != kEnd) {
    if (IsBlank(c) || IsLineEnd(c) || c == '}') {
      Unget(stream);
      break;
    }
    if (name.size() < ChunkText::kMaxReadName)
      name += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  }
}

void ReadChunkTextValue(TStream& stream, std::string& token) {
  ReadToken(stream, token);
  if (!token.empty() && token.back() == '\\') token.pop_back();
}

void ReadChunkTextString(TStream& stream, std::string& text) { ReadToken(stream, text); }

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
