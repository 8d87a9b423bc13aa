// Path edits on whatever text: every edit keeps the path inside its field
// and terminated, and one that fails leaves it as it was. Normalising writes
// only '/' separators and no "." components, and leaves a plain path (single
// separators, no "." or ".." and no trailing separator) as it is; a path made
// relative to a base is what follows that base, which it names without
// regard to case or separator kind; a name joined to a folder and made
// relative to that folder again comes back.
// Input: path '\n' second text (base, name, extension) '\n' edit script.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "Vak/Bexlorn/CodePage.h"
#include "Vak/Bexlorn/Path.h"

using Vak::FilePath;

namespace {

bool IsSep(char c) { return c == '/' || c == '\\'; }

std::vector<std::string> Split(const std::string& input, size_t fields) {
  std::vector<std::string> out;
  size_t start = 0;
  while (out.size() + 1 < fields) {
    const size_t end = input.find('\n', start);
    if (end == std::string::npos) break;
    out.push_back(input.substr(start, end - start));
    start = end + 1;
  }
  out.push_back(start <= input.size() ? input.substr(start) : std::string());
  out.resize(fields);
  return out;
}

void CheckBounds(const FilePath& path) {
  const char* text = path;
  if (strnlen(text, FilePath::kSize) > FilePath::kMaxLength) __builtin_trap();
  const char* name = path.GetFileName();
  if (name < text || name > text + path.Length()) __builtin_trap();
  if (const char* ext = path.GetExt(); ext && (ext < name || ext > text + path.Length())) __builtin_trap();
}

bool Same(const FilePath& a, const FilePath& b) { return std::strcmp(a, b) == 0; }

// Texts equal without regard to case, either separator matching either.
bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (IsSep(a[i]) && IsSep(b[i])) continue;
    if (Vak::CodePage::ToLower(static_cast<unsigned char>(a[i])) !=
        Vak::CodePage::ToLower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

std::string WithoutTrailingSeps(std::string text) {
  while (!text.empty() && IsSep(text.back())) text.pop_back();
  return text;
}

// Components separated by single '/', none of them "." or "..", no '\'.
bool Plain(const std::string& text) {
  if (text.empty() || text.find('\\') != std::string::npos) return false;
  size_t start = text[0] == '/' ? 1 : 0;
  for (;;) {
    const size_t end = text.find('/', start);
    const std::string part = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (part.empty() || part == "." || part == "..") return false;
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

void CheckNormalize(const FilePath& path) {
  FilePath out = path;
  if (!out.Normalize()) {
    if (!Same(out, path)) __builtin_trap();
    return;
  }
  CheckBounds(out);
  const std::string text(out);
  if (text.find('\\') != std::string::npos) __builtin_trap();
  size_t start = 0;
  for (;;) {
    const size_t end = text.find('/', start);
    if (text.compare(start, end == std::string::npos ? std::string::npos : end - start, ".") == 0) __builtin_trap();
    if (end == std::string::npos) break;
    start = end + 1;
  }
  if (Plain(std::string(path)) && !Same(out, path)) __builtin_trap();
}

void CheckRelative(const FilePath& path, const std::string& base) {
  FilePath out = path;
  if (!out.MakeRelativeTo(base.c_str())) {
    if (!Same(out, path)) __builtin_trap();
    return;
  }
  CheckBounds(out);
  const std::string whole(path), rest(out);
  if (rest.size() > whole.size() || whole.compare(whole.size() - rest.size(), rest.size(), rest) != 0) __builtin_trap();
  if (!rest.empty() && IsSep(rest[0])) __builtin_trap();
  // What went is the base and the separators behind it: it ends on a
  // component boundary.
  const std::string gone = whole.substr(0, whole.size() - rest.size());
  if (!rest.empty() && (gone.empty() || !IsSep(gone.back()))) __builtin_trap();
  if (!SameName(WithoutTrailingSeps(gone), WithoutTrailingSeps(base))) __builtin_trap();
}

// folder + '/' + name, then relative to folder again: name without its
// leading separators.
void CheckJoinBack(const std::string& folder, const std::string& name) {
  if (folder.empty() || IsSep(folder.back())) return;
  FilePath joined;
  const std::string base = folder + "/";
  if (!FilePath::Join(joined, base.c_str(), name.c_str())) return;
  CheckBounds(joined);
  std::string expected = name;
  if (!expected.empty() && IsSep(expected[0])) expected.erase(0, 1);
  if (std::string(joined) != base + expected) __builtin_trap();
  if (!joined.MakeRelativeTo(folder.c_str())) __builtin_trap();
  expected.erase(0, expected.find_first_not_of("/\\") == std::string::npos ? expected.size()
                                                                         : expected.find_first_not_of("/\\"));
  if (std::string(joined) != expected) __builtin_trap();
}

void CheckJoin(const std::string& path, const std::string& name) {
  FilePath out("unchanged");
  if (!FilePath::Join(out, path.c_str(), name.c_str())) {
    if (std::strcmp(out, "unchanged") != 0) __builtin_trap();
    return;
  }
  CheckBounds(out);
  const std::string text(out);
  const std::string tail = !name.empty() && IsSep(name[0]) ? name.substr(1) : name;
  if (text.size() < tail.size() || text.compare(text.size() - tail.size(), tail.size(), tail) != 0) __builtin_trap();
}

// Edits picked by the script's bytes, each checked.
void RunScript(FilePath path, const std::string& other, const std::string& script) {
  for (size_t i = 0; i < script.size(); ++i) {
    const uint8_t op = static_cast<uint8_t>(script[i]);
    const uint8_t arg = i + 1 < script.size() ? static_cast<uint8_t>(script[i + 1]) : 0;
    const FilePath before = path;
    bool ok = true;
    switch (op % 20) {
    case 0: ok = path.Add(other.c_str()); break;
    case 1: ok = path.AddPath(other.c_str(), arg % 4 == 0 ? static_cast<size_t>(-1) : arg); break;
    case 2: ok = path.AddSlash(); break;
    case 3: path.DelSlash(); break;
    case 4: path.DelName(arg & 1); break;
    case 5: path.DelPath(); break;
    case 6: path.DelBaseName(); break;
    case 7: path.DelDirs(); break;
    case 8: path.PrevDir(); break;
    case 9: path.Del(arg % 64, static_cast<unsigned>(op) * 7 % 300); break;
    case 10: ok = path.SetExt(arg & 1 ? nullptr : other.c_str()); break;
    case 11: (void)path.IsExt(other.c_str()); break;
    case 12: CheckBounds(path.ExtractFirstPath()); break;
    case 13: ok = path.Normalize(); break;
    case 14: path.ReplaceForwardSlashes(); break;
    case 15: path.ReplaceBackSlashes(); break;
    case 16: ok = path.MakeRelativeTo(other.c_str()); break;
    case 17: ok = FilePath::Join(path, path, other.c_str()); break;
    case 18: ok = FilePath::Join(path, other.c_str(), path); break;
    case 19: {
      const int n = FilePath::SubstNameLength(path);
      if (n > static_cast<int>(path.Length())) __builtin_trap();
      (void)path.LastChar();
      break;
    }
    }
    if (!ok && !Same(path, before)) __builtin_trap();
    CheckBounds(path);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> fields = Split(input, 3);
  // Texts end at a NUL as the callers' do; exact-size copies, so the
  // sanitizer sees a read past the terminator.
  const std::string text(fields[0].c_str()), other(fields[1].c_str());

  FilePath path;
  const bool taken = path.Set(text.c_str());
  if (taken != (text.size() <= FilePath::kMaxLength)) __builtin_trap();
  if (!taken && path.Length() != 0) __builtin_trap();
  if (taken && text != static_cast<const char*>(path)) __builtin_trap();
  CheckBounds(path);

  CheckNormalize(path);
  CheckRelative(path, other);
  CheckJoin(text, other);
  CheckJoinBack(text, other);
  RunScript(path, other, fields[2]);
  return 0;
}
