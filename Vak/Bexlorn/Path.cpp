#include "Vak/Bexlorn/Path.h"

#include <cstring>

#include "Vak/Bexlorn/CodePage.h"

namespace Vak {

namespace {

bool IsSep(char c) { return c == '/' || c == '\\'; }
bool IsSepOrColon(char c) { return IsSep(c) || c == ':'; }

// Index of the last character of text[0, length) that satisfies `match`, or -1.
template <class Match>
int FindLast(const char* text, unsigned length, Match match) {
  for (unsigned i = length; i > 0; --i) {
    if (match(text[i - 1])) return static_cast<int>(i - 1);
  }
  return -1;
}

// Length of a caller's text, looking no further than one character past what
// a path can hold.
std::size_t BoundedLength(const char* text) { return strnlen(text, FilePath::kSize); }

} // namespace

bool FilePath::Set(const char* text) noexcept {
  if (!text) {
    text_[0] = 0;
    return true;
  }
  const std::size_t length = BoundedLength(text);
  if (length > kMaxLength) {
    text_[0] = 0;
    return false;
  }
  std::memmove(text_, text, length);  // text may be our own
  text_[length] = 0;
  return true;
}

unsigned FilePath::Length() const noexcept { return static_cast<unsigned>(std::strlen(text_)); }

char FilePath::LastChar() const noexcept {
  const unsigned length = Length();
  return length ? text_[length - 1] : 0;
}

bool FilePath::Add(const char* text) noexcept {
  if (!text) return true;
  const unsigned length = Length();
  const std::size_t n = BoundedLength(text);
  if (length + n > kMaxLength) return false;
  std::memmove(text_ + length, text, n);
  text_[length + n] = 0;
  return true;
}

bool FilePath::AddPath(const char* text, std::size_t count) noexcept {
  if (!text) text = "";
  const unsigned length = Length();
  const bool separator = length > 0 && !IsSep(text_[length - 1]);
  if (length > 0) {
    while (count > 0 && IsSep(*text)) {
      ++text;
      --count;
    }
  }
  // Measured before anything is written: the text may lie in this path.
  const std::size_t n = strnlen(text, count < kSize ? count : kSize);
  if (length + (separator ? 1 : 0) + n > kMaxLength) return false;
  unsigned end = length;
  if (separator) {
    std::memmove(text_ + end + 1, text, n);
    text_[end++] = '/';
  } else {
    std::memmove(text_ + end, text, n);
  }
  text_[end + n] = 0;
  return true;
}

bool FilePath::AddSlash() noexcept {
  const unsigned length = Length();
  if (length == 0 || IsSep(text_[length - 1])) return true;
  if (length + 1 > kMaxLength) return false;
  text_[length] = '/';
  text_[length + 1] = 0;
  return true;
}

void FilePath::DelSlash() noexcept {
  const unsigned length = Length();
  if (length > 0 && IsSep(text_[length - 1])) text_[length - 1] = 0;
}

void FilePath::DelName(bool dropSeparator) noexcept {
  const int last = FindLast(text_, Length(), IsSepOrColon);
  if (last < 0) {
    text_[0] = 0;
    return;
  }
  const bool keep = text_[last] == ':' || !dropSeparator;
  text_[keep ? last + 1 : last] = 0;
}

void FilePath::DelPath() noexcept {
  const unsigned length = Length();
  const int last = FindLast(text_, length, IsSepOrColon);
  if (last < 0) return;
  std::memmove(text_, text_ + last + 1, length - last);  // terminator included
}

void FilePath::DelBaseName() noexcept {
  const unsigned length = Length();
  const unsigned name = static_cast<unsigned>(FindLast(text_, length, IsSepOrColon) + 1);
  const int dot = FindLast(text_ + name, length - name, [](char c) { return c == '.'; });
  if (dot < 0) {
    text_[name] = 0;
    return;
  }
  Del(name, static_cast<unsigned>(dot));
}

void FilePath::DelDirs() noexcept {
  const unsigned length = Length();
  const char* colon = std::strchr(text_, ':');
  unsigned rootEnd;  // the root is text_[0, rootEnd); separators from there on go
  if (colon && IsSep(colon[1])) {
    rootEnd = static_cast<unsigned>(colon - text_) + 1;  // "C:", its separator goes too
  } else if (colon) {
    const char* sep = std::strpbrk(text_, "\\/");
    if (!sep) return;
    rootEnd = static_cast<unsigned>(sep - text_) + 1;
  } else {
    rootEnd = IsSep(text_[0]) ? 1 : 0;
  }
  const int last = FindLast(text_, length, IsSep);
  if (last < 0 || static_cast<unsigned>(last) < rootEnd) return;
  const unsigned name = static_cast<unsigned>(last) + 1;
  std::memmove(text_ + rootEnd, text_ + name, length - name + 1);
}

void FilePath::PrevDir() noexcept {
  const unsigned length = Length();
  const int last = FindLast(text_, length, IsSep);
  if (last < 0) return;
  // The component before the name starts after the previous separator or colon.
  const unsigned start = static_cast<unsigned>(FindLast(text_, static_cast<unsigned>(last), IsSepOrColon) + 1);
  Del(start, static_cast<unsigned>(last) + 1 - start);
}

void FilePath::Del(unsigned position, unsigned count) noexcept {
  const unsigned length = Length();
  if (count == 0 || position >= length) return;
  if (count >= length - position) {
    text_[position] = 0;
    return;
  }
  std::memmove(text_ + position, text_ + position + count, length - position - count + 1);
}

bool FilePath::SetExt(const char* ext) noexcept {
  const unsigned length = Length();
  const int last = FindLast(text_, length, [](char c) { return c == '.' || IsSep(c); });
  const unsigned cut = (last >= 0 && text_[last] == '.') ? static_cast<unsigned>(last) : length;
  std::size_t added = 0;
  bool dot = false;
  std::size_t n = 0;
  if (ext) {
    n = BoundedLength(ext);
    dot = ext[0] != '.';
    added = n + (dot ? 1 : 0);
  }
  if (cut + added > kMaxLength) return false;
  // ext may lie in this path; move it before the dot can overwrite it.
  std::memmove(text_ + cut + (dot ? 1 : 0), ext ? ext : "", n);
  if (dot) text_[cut] = '.';
  text_[cut + added] = 0;
  return true;
}

bool FilePath::IsExt(const char* ext) const noexcept {
  if (!ext) return false;
  const int last = FindLast(text_, Length(), [](char c) { return c == '.' || IsSep(c); });
  if (last < 0 || text_[last] != '.') return false;
  if (*ext == '.') ++ext;
  return CodePage::CompareIgnoreCase(text_ + last + 1, ext) == 0;
}

const char* FilePath::GetFileName() const noexcept {
  // The index first: a name without separator has none (-1), and text_ - 1
  // is outside the field.
  return text_ + (FindLast(text_, Length(), IsSepOrColon) + 1);
}

const char* FilePath::GetExt() const noexcept {
  const char* name = GetFileName();
  const char* dot = std::strrchr(name, '.');
  return dot ? dot + 1 : nullptr;
}

FilePath FilePath::ExtractFirstPath() noexcept {
  unsigned start = 0;
  unsigned i = 0;
  for (; text_[i]; ++i) {
    const char c = text_[i];
    if (c == ':') {
      start = i + 1;
    } else if (IsSep(c)) {
      if (i == start) {
        start = i + 1;
      } else {
        break;
      }
    }
  }
  FilePath component;
  std::memcpy(component.text_, text_ + start, i - start);
  component.text_[i - start] = 0;
  if (text_[i]) {
    Del(0, i + 1);
  } else {
    text_[0] = 0;
  }
  return component;
}

bool FilePath::Normalize() noexcept {
  char copy[kSize];
  std::memcpy(copy, text_, Length() + 1);
  FilePath out;
  bool ok = true;
  if (IsSep(copy[0])) ok = out.Add("/");
  char* token = copy;
  while (ok && *token) {
    while (IsSep(*token)) ++token;
    if (!*token) break;
    char* end = token;
    while (*end && !IsSep(*end)) ++end;
    const bool more = *end != 0;
    *end = 0;
    if (std::strcmp(token, ".") == 0) {
      // dropped
    } else if (std::strcmp(token, "..") == 0) {
      const char* colon = std::strchr(out.text_, ':');
      const char* rest = colon ? colon + 1 : out.text_;
      if (IsSep(*rest)) ++rest;
      if (!*rest) {
        ok = out.AddPath("..");  // nothing to go up from: keep it
      } else {
        const char last = out.LastChar();
        if (!IsSepOrColon(last)) ok = out.Add("/");
        out.PrevDir();
      }
    } else {
      ok = out.AddPath(token);
    }
    token = more ? end + 1 : end;
  }
  if (!ok) return false;
  *this = out;
  return true;
}

void FilePath::ReplaceForwardSlashes() noexcept {
  for (char* p = text_; *p; ++p) {
    if (*p == '/') *p = '\\';
  }
}

void FilePath::ReplaceBackSlashes() noexcept {
  for (char* p = text_; *p; ++p) {
    if (*p == '\\') *p = '/';
  }
}

bool FilePath::MakeRelativeTo(const char* base) noexcept {
  if (!base || !*base) return false;
  const std::size_t baseLength = BoundedLength(base);
  if (baseLength > kMaxLength) return false;
  unsigned i = 0;
  for (; i < baseLength; ++i) {
    const char a = text_[i];
    const char b = base[i];
    if (!a) {
      // The path is the base without its trailing separators.
      while (IsSep(base[i])) ++i;
      if (i < baseLength) return false;
      text_[0] = 0;
      return true;
    }
    if (IsSep(a) && IsSep(b)) continue;
    if (CodePage::ToLower(static_cast<unsigned char>(a)) != CodePage::ToLower(static_cast<unsigned char>(b))) {
      return false;
    }
  }
  // Base must end on a component boundary of the path.
  if (!IsSep(base[baseLength - 1]) && text_[i] && !IsSep(text_[i])) return false;
  while (IsSep(text_[i])) ++i;
  Del(0, i);
  return true;
}

bool FilePath::Join(FilePath& out, const char* path, const char* name) noexcept {
  FilePath result;  // out may alias path or name
  if (!result.Set(path)) return false;
  const int last = FindLast(result.text_, result.Length(), IsSep);
  if (last >= 0) {
    result.text_[last + 1] = 0;
  } else if (result.text_[0]) {
    if (result.text_[0] != '.' && !std::strchr(result.text_, ':') && !result.Add(":")) return false;
    if (!result.Add("/")) return false;
  }
  if (name && IsSep(*name)) ++name;
  if (!result.Add(name)) return false;
  out = result;
  return true;
}

int FilePath::SubstNameLength(const char* path) noexcept {
  // A leading separator makes the path absolute here, as a drive letter would.
  if (!path || IsSep(path[0])) return -1;
  const char* colon = std::strchr(path, ':');
  if (!colon || colon == path) return -1;
  if (colon == path + 1 && IsSep(colon[1])) return -1;
  return static_cast<int>(colon - path);
}

std::string JoinPath(const char* folder, const char* name, char separator) {
  std::string out = folder ? folder : "";
  if (!out.empty() && name && *name && !IsSep(out.back())) out += separator;
  if (name) out += name;
  return out;
}

} // namespace Vak
