#include "Vak/Bexlorn/Options.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Vak/Bexlorn/ByteOrder.h"
#include "Vak/Bexlorn/CodePage.h"
#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/Wildcard.h"
#include "platform/os/Program.h"

namespace Vak {
namespace {

// The C locale's white space (line ends included).
bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsPrefix(char c) { return c == '/' || c == '-' || c == '+'; }

std::string Lower(const char* text, std::size_t length) {
  std::string out(text, length);
  for (char& c : out) c = static_cast<char>(CodePage::ToLower(static_cast<unsigned char>(c)));
  return out;
}

bool IsWord(const char* text, const char* word) { return CodePage::CompareIgnoreCase(text, word) == 0; }

// Decimal digits after optional white space; saturates rather than wrapping.
unsigned ParseNumber(const char* text) {
  while (IsSpace(*text)) ++text;
  if (*text == '+') ++text;
  unsigned long long n = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    n = n * 10 + static_cast<unsigned>(*text - '0');
    if (n > 0xFFFFFFFFull) return 0xFFFFFFFFu;
  }
  return static_cast<unsigned>(n);
}

} // namespace

Options::~Options() {
  while (head_) {
    Entry* next = head_->next;
    delete head_;
    head_ = next;
  }
}

void Options::Set(const char* key, unsigned keyLength, const char* value, unsigned valueLength, bool append,
                  Pending& pending) {
  std::string lowered = Lower(key, keyLength);
  Entry* entry = FindLowered(lowered);
  if (!entry) {
    entry = new Entry;
    entry->key = lowered.c_str();
    entry->previous = tail_;
    (tail_ ? tail_->next : head_) = entry;
    tail_ = entry;
    ++count_;
    byKey_.emplace(std::string_view(entry->key, entry->key.Size()), entry);
  }
  // The old text may be gone: a cursor into it must not survive.
  entry->cursor = nullptr;
  auto it = pending.empty() ? pending.end() : pending.find(entry);
  if (!append || (it == pending.end() && entry->value.Size() == 0)) {
    if (it != pending.end()) pending.erase(it);
    entry->value = AnsiString(value, valueLength);
    return;
  }
  if (it == pending.end()) it = pending.emplace(entry, std::string(entry->value, entry->value.Size())).first;
  it->second += ',';
  it->second.append(value, valueLength);
}

void Options::ProcessRaw(const char* text) {
  if (!text) return;
  Pending pending;
  const char* p = text;
  for (;;) {
    while (IsSpace(*p)) ++p;
    if (!*p) break;
    const bool append = *p == '+';
    if (IsPrefix(*p)) ++p;
    const char* key = p;
    while (*p && !IsSpace(*p) && *p != '=' && *p != '-' && *p != '+') ++p;
    const unsigned keyLength = static_cast<unsigned>(p - key);
    const char* value = p;
    unsigned valueLength = 0;
    if (*p == '=') {
      ++p;
      while (IsSpace(*p)) ++p;
      if (*p == '\'' || *p == '"') {
        value = ++p;
        while (*p && *p != '\'' && *p != '"') ++p;
        valueLength = static_cast<unsigned>(p - value);
        if (*p) ++p;
      } else {
        value = p;
        while (*p && !(IsSpace(p[0]) && IsPrefix(p[1]))) ++p;
        const char* end = p;
        while (end > value && IsSpace(end[-1])) --end;
        valueLength = static_cast<unsigned>(end - value);
      }
    } else if (*p == '-' || *p == '+') {
      valueLength = 1;
      ++p;
    }
    // A lone prefix or '=' names nothing.
    if (keyLength != 0) Set(key, keyLength, value, valueLength, append, pending);
  }
  for (auto& [entry, value] : pending) entry->value = AnsiString(value.c_str(), static_cast<unsigned>(value.size()));
}

Options::Entry* Options::Find(const char* key) const {
  if (!key) return nullptr;
  return FindLowered(Lower(key, std::strlen(key)));
}

Options::Entry* Options::FindLowered(std::string_view key) const {
  auto it = byKey_.find(key);
  return it == byKey_.end() ? nullptr : it->second;
}

bool Options::Get(const char* key, bool& value) const {
  const Entry* e = Find(key);
  if (!e) return false;
  const char* v = e->value;
  if (*v == '-' || IsWord(v, "false") || IsWord(v, "off")) {
    value = false;
  } else if (*v == '+' || IsWord(v, "true") || IsWord(v, "on")) {
    value = true;
  } else {
    value = !value;  // a bare switch (or an unknown word) flips the default
  }
  return true;
}

bool Options::Get(const char* key, String& value) const {
  const Entry* e = Find(key);
  if (!e) return false;
  value = e->value;
  return true;
}

bool Options::Get(const char* key, unsigned int& value, unsigned int defaultValue) const {
  const Entry* e = Find(key);
  if (!e) {
    value = defaultValue;
    return false;
  }
  value = ParseNumber(e->value);
  return true;
}

bool Options::Get(const char* key) const {
  bool value = false;
  Get(key, value);
  return value;
}

const char* Options::GetString(const char* key) const {
  const Entry* e = Find(key);
  return e ? static_cast<const char*>(e->value) : nullptr;
}

void Options::SetSeparators(const char* key, const char* separators) {
  Entry* e = Find(key);
  if (!e) return;
  e->separators = separators;
  e->cursor = e->value;
}

bool Options::GetNext(const char* key, String& value) {
  Entry* e = Find(key);
  if (!e || !e->cursor) return false;
  const char* separators = e->separators;
  const char* start = e->cursor;
  const char* p = start + std::strcspn(start, separators);
  if (p == start) return false;
  const char* end = p;
  while (end > start && IsSpace(end[-1])) --end;
  value = String(start, static_cast<unsigned>(end - start));
  while (*p && (IsSpace(*p) || std::strchr(separators, *p))) ++p;
  e->cursor = p;
  return true;
}

bool Options::GetNext(const char* key, unsigned int& value) {
  String item;
  if (!GetNext(key, item)) return false;
  value = ParseNumber(item);
  return true;
}

AnsiString Options::ProgramBase(const char* programPath) {
  FilePath path(programPath);
  path.DelPath();
  path.SetExt(nullptr);
  AnsiString base(path.GetFileName());
  if (base.Size() >= 3 && IsWord(static_cast<const char*>(base) + base.Size() - 3, "_7s")) {
    base = base.Left(base.Size() - 3);
  }
  return base;
}

void Options::ProcessEnvironment(const char* name) {
  std::string text;
  if (platform::GetEnvironment(name, text)) ProcessRaw(text.c_str());
}

bool Options::ProcessFile(const char* path) {
  File file;
  if (file.Open(path, File::kRead) != File::RES_OK) return false;
  file.ProbeEncoding();
  const bool wide = file.GetEncoding() == File::kEncodingUtf16;
  std::vector<char> bytes;
  char block[4096];
  for (;;) {
    unsigned long n = file.Read(block, sizeof block, 1);
    if (n == 0) break;
    bytes.insert(bytes.end(), block, block + n);
  }
  file.Close();
  if (!wide) {
    bytes.push_back(0);
    ProcessRaw(bytes.data());
    return true;
  }
  std::u16string units(bytes.size() / 2, u'\0');
  const auto* raw = reinterpret_cast<const uint8_t*>(bytes.data());
  for (std::size_t i = 0; i < units.size(); ++i) units[i] = static_cast<char16_t>(GetLE16(raw + 2 * i));
  std::string text;
  CodePage::Utf16ToAnsi(units.data(), units.size(), text, '?');
  ProcessRaw(text.c_str());
  return true;
}

void Options::Init(const char* appName, const char* programPath) {
  FilePath working;
  if (File::GetCwd(working)) working.AddSlash();
  FilePath programFolder(programPath);
  programFolder.DelName(false);
  // A path without a folder names the working folder.
  if (programFolder.Length() == 0) programFolder = working;

  AnsiString appKey(appName);
  appKey += "Options";
  AnsiString programKey = ProgramBase(programPath);
  programKey += "Options";
  const bool sameKeys = appKey.EqualsIgnoreCase(programKey);

  // A variable is read once even when two of the names coincide, so that its
  // appending items do not count twice.
  ProcessEnvironment("Options");
  if (!appKey.EqualsIgnoreCase("Options")) ProcessEnvironment(appKey);
  if (!sameKeys && !programKey.EqualsIgnoreCase("Options")) ProcessEnvironment(programKey);

  auto readIn = [&](const FilePath& folder) {
    FilePath path(folder);
    if (path.AddPath(appKey + ".txt")) ProcessFile(path);
    path = folder;
    if (!sameKeys && path.AddPath(programKey + ".txt")) ProcessFile(path);
  };
  if (programFolder.Length() != 0) readIn(programFolder);
  if (working.Length() != 0 && !MatchWildcard(working, programFolder, nullptr)) readIn(working);
}

void Options::InitFromModule(const char* appName, const char* text) {
  Init(appName, platform::ProgramPath().c_str());
  ProcessRaw(text ? text : "");
}

} // namespace Vak
