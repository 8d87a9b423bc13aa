#include "engine/kernelx/ConfigParser.h"

#include <new>
#include <string>

#include "Vak/Bexlorn/CodePage.h"
#include "engine/kernelx/WholeFile.h"

namespace Vak {
namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsKeyStart(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool IsKeyChar(char c) { return IsKeyStart(c) || (c >= '0' && c <= '9'); }
bool IsNumberStart(char c) { return (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+'; }
bool IsNumberChar(char c) { return IsNumberStart(c) || c == 'e' || c == 'E'; }

class Reader {
public:
  Reader(const char* text, std::size_t length) : p_(text), end_(text + length) {}

  unsigned Line() const { return line_; }

  // Spaces and "//" comments.
  void Skip() {
    while (p_ != end_) {
      if (*p_ == '\n') {
        ++line_;
        ++p_;
      } else if (IsSpace(*p_)) {
        ++p_;
      } else if (*p_ == '/' && end_ - p_ >= 2 && p_[1] == '/') {
        while (p_ != end_ && *p_ != '\n') ++p_;
      } else {
        break;
      }
    }
  }

  bool AtEnd() { Skip(); return p_ == end_; }
  char Peek() { Skip(); return p_ == end_ ? '\0' : *p_; }

  bool ReadKey(AnsiString& key) {
    Skip();
    if (p_ == end_ || !IsKeyStart(*p_)) return false;
    const char* start = p_;
    while (p_ != end_ && IsKeyChar(*p_)) ++p_;
    key = AnsiString(start, static_cast<unsigned>(p_ - start));
    return true;
  }

  // A number token that must read whole as a number, or a quoted text on
  // one line with \" and \\ as its only escapes.
  bool ReadValue(ConfigValue& value) {
    Skip();
    if (p_ == end_) return false;
    if (*p_ == '"') {
      std::string text;
      for (++p_;; ++p_) {
        if (p_ == end_ || *p_ == '\n' || *p_ == '\0') return false;
        if (*p_ == '"') break;
        if (*p_ == '\\') {
          if (end_ - p_ < 2 || (p_[1] != '"' && p_[1] != '\\')) return false;
          ++p_;
        }
        text += *p_;
      }
      ++p_;
      value.text = AnsiString(text.c_str(), static_cast<unsigned>(text.size()));
      value.quoted = true;
      return true;
    }
    const char* start = p_;
    while (p_ != end_ && IsNumberChar(*p_)) ++p_;
    value.text = AnsiString(start, static_cast<unsigned>(p_ - start));
    value.quoted = false;
    float number;
    return ConfigData::ToFloat(value, number);
  }

  bool Take(char c) {
    if (Peek() != c) return false;
    ++p_;
    return true;
  }

private:
  const char* p_;
  const char* end_;
  unsigned line_ = 1;
};

// Entries up to the end of the text (depth 0) or up to the closing brace.
bool ReadEntries(Reader& reader, ConfigData& data, unsigned depth) {
  for (;;) {
    const char next = reader.Peek();
    if (reader.AtEnd()) return depth == 0;
    if (next == '}') {
      if (depth == 0) return false;
      reader.Take('}');
      return true;
    }
    ConfigEntry entry;
    if (!reader.ReadKey(entry.key)) return false;
    while (IsNumberStart(reader.Peek()) || reader.Peek() == '"') {
      ConfigValue value;
      if (!reader.ReadValue(value)) return false;
      entry.values.push_back(std::move(value));
    }
    if (reader.Take('{')) {
      if (depth + 1 > ConfigParser::kMaxDepth) return false;
      entry.group = std::make_unique<ConfigData>();
      if (!ReadEntries(reader, *entry.group, depth + 1)) return false;
    }
    data.Add(std::move(entry));
  }
}

} // namespace

int ConfigParser::Parse(const char* path) {
  data_.reset();
  errorLine_ = 0;
  std::string bytes;
  try {
    if (!path || !ReadWholeFile(path, bytes) || bytes.empty()) return kNoFile;
  } catch (const std::bad_alloc&) {
    return kFailed;
  }
  return ParseText(bytes.data(), bytes.size());
}

int ConfigParser::ParseText(const char* text, std::size_t length) {
  data_.reset();
  errorLine_ = 0;
  if (!text || length == 0) return kNoFile;
  try {
    Reader reader(text, length);
    auto data = std::make_unique<ConfigData>();
    AnsiString key;
    ConfigValue version;
    float number = 0;
    if (!reader.ReadKey(key) || !key.EqualsIgnoreCase("version") || !reader.ReadValue(version) ||
        !ConfigData::ToFloat(version, number)) {
      errorLine_ = reader.Line();
      return kMalformed;
    }
    if (!(number >= 1.0f && number < 2.0f)) return kBadVersion;
    data->SetVersion(number);
    if (!ReadEntries(reader, *data, 0)) {
      errorLine_ = reader.Line();
      return kMalformed;
    }
    if (data->GetCount() > 0) data_ = std::move(data);
    return kOk;
  } catch (const std::bad_alloc&) {
    return kFailed;
  }
}

} // namespace Vak
