#pragma once
// The engine's path value: a fixed 260-character field (259 characters and a
// terminator) edited in place. Both separators, '\' and '/', are accepted
// everywhere; a colon ends a drive letter ('C:') or a substitute name
// ('data:'). Code names this type `Vak::File::Path` (Vak/Bexlorn/File.h).
//
// Every edit is bounded by the field: an edit whose result would not fit
// leaves the path unchanged and returns false. Construction or assignment from
// a text longer than 259 characters leaves the path empty; use Set to learn
// whether the text was taken.
#include <cstddef>
#include <string>

namespace Vak {

class FilePath {
public:
  static constexpr unsigned kSize = 260;
  static constexpr unsigned kMaxLength = kSize - 1;

  FilePath() noexcept { text_[0] = 0; }
  FilePath(const char* text) noexcept { Set(text); }  // over-long text: ""
  FilePath& operator=(const char* text) noexcept {
    Set(text);
    return *this;
  }
  // Null gives "". Over kMaxLength characters: the path becomes "" and false.
  bool Set(const char* text) noexcept;

  operator const char*() const noexcept { return text_; }
  unsigned Length() const noexcept;
  char LastChar() const noexcept;

  // Appends the text as it is.
  bool Add(const char* text) noexcept;
  // Appends a component with one separator between ('/' when one is needed);
  // at most `count` characters of the text after its skipped separators.
  bool AddPath(const char* text, std::size_t count = static_cast<std::size_t>(-1)) noexcept;
  // Appends '/' when the path does not end in a separator. An empty path stays
  // empty: it names the current folder, and "/" would name the root.
  bool AddSlash() noexcept;
  void DelSlash() noexcept;

  // Keeps the text up to the last separator or colon (the separator goes too
  // with dropSeparator; a colon always stays). No separator or colon: "".
  void DelName(bool dropSeparator) noexcept;
  // Keeps only the name part.
  void DelPath() noexcept;
  // Removes the name part's text before its last '.' ("dir/name.txt" gives
  // "dir/.txt"); without a '.' the name part goes.
  void DelBaseName() noexcept;
  // Keeps the root and the name part ("C:\a\b\c.txt" gives "C:c.txt",
  // "\a\b\c" gives "\c", "a\b\c" gives "c").
  void DelDirs() noexcept;
  // Removes the folder component before the name part ("a/b/c" gives "a/c").
  void PrevDir() noexcept;
  // Deletes `count` characters from `position`; a range past the end cuts.
  void Del(unsigned position, unsigned count) noexcept;

  // Replaces or adds the extension ("dds" or ".dds"); null only removes it.
  bool SetExt(const char* ext) noexcept;
  // The extension equals `ext` (one leading '.' ignored) without regard to
  // case. False for a null ext.
  bool IsExt(const char* ext) const noexcept;
  // The name part: after the last separator or colon (the whole text without).
  const char* GetFileName() const noexcept;
  // After the name part's last '.'; null when the name part has none.
  const char* GetExt() const noexcept;

  // Takes off the first component (without drive, substitute prefix or
  // separators) and returns it; the path keeps what follows its separator.
  FilePath ExtractFirstPath() noexcept;
  // Resolves "." and ".." components; writes '/' separators. A leading ".."
  // that nothing precedes is kept. False (path unchanged) only if the result
  // would not fit.
  bool Normalize() noexcept;
  void ReplaceForwardSlashes() noexcept;  // '/' -> '\'
  void ReplaceBackSlashes() noexcept;     // '\' -> '/'
  // When the path lies inside `base` (components compared without regard to
  // case, either separator), it becomes the rest after base and its
  // separators, and true. Otherwise (or for a null or empty base) false and
  // the path is unchanged.
  bool MakeRelativeTo(const char* base) noexcept;

  // out := the folder part of path (up to its last separator) + name. A bare
  // word names a substitute: "data" and "x.txt" give "data:/x.txt". One
  // leading separator of name is skipped. False (out unchanged) when the
  // result would not fit.
  static bool Join(FilePath& out, const char* path, const char* name) noexcept;

  // Length of the substitute name that starts the path (the text before its
  // first colon), or -1 when the path names none: no colon, an empty name, or
  // a drive letter ("C:" followed by a separator), or a leading separator.
  static int SubstNameLength(const char* path) noexcept;

private:
  char text_[kSize];
};

// For paths kept in a std::string (no length bound): folder and name with one
// separator between, none where either is empty or the folder already ends in
// one. Null is "". Texts that are stored take '\'.
std::string JoinPath(const char* folder, const char* name, char separator = '/');

} // namespace Vak
