#include "Vak/Bexlorn/Wildcard.h"

#include "Vak/Bexlorn/CodePage.h"

namespace Vak {

namespace {

bool IsSep(char c) { return c == '/' || c == '\\'; }

bool Same(char a, char b) {
  return CodePage::ToLower(static_cast<unsigned char>(a)) == CodePage::ToLower(static_cast<unsigned char>(b));
}

const char* SkipCurrentFolder(const char* s) { return (s[0] == '.' && IsSep(s[1])) ? s + 2 : s; }

// End of one alternative of the name part.
bool AtAlternativeEnd(const char* p) { return *p == 0 || *p == ';'; }

struct Cursor {
  const char* n;              // name position
  const char* p;              // pattern position
  const char* star = nullptr; // the most recent star that took a character's place
  const char* starName = nullptr;

  // One step over a name character that is not the end and a pattern
  // character that is not the end of the part being matched. False: mismatch.
  bool Step() {
    const char c = *p;
    if (c == '*') {
      if (IsSep(*n)) {
        ++p;  // a star never crosses a separator
      } else if (!Same(*n, p[1])) {
        ++n;  // the star takes the character
      } else {
        star = p;
        starName = n;
        ++p;
      }
      return true;
    }
    if (c == '?') {
      if (IsSep(*n)) return false;
    } else if (IsSep(c)) {
      if (!IsSep(*n)) return false;
    } else if (!Same(*n, c)) {
      return false;
    }
    ++n;
    ++p;
    return true;
  }

  // Returns to the saved star with the name one character further on.
  bool Backtrack() {
    if (!star) return false;
    n = starName + 1;
    p = star;
    star = nullptr;
    return true;
  }
};

} // namespace

bool MatchWildcard(const char* name, const char* pattern, const char** directoryEnd) {
  if (directoryEnd) *directoryEnd = nullptr;
  if (!name || !pattern) return false;
  name = SkipCurrentFolder(name);
  pattern = SkipCurrentFolder(pattern);

  Cursor m{name, pattern};

  const char* lastSep = nullptr;
  for (const char* q = pattern; *q; ++q) {
    if (IsSep(*q)) lastSep = q;
  }
  if (lastSep) {
    while (m.p <= lastSep) {
      if ((!*m.n || !m.Step()) && !m.Backtrack()) return false;
    }
    // The folder components are fixed by their separators: no later mismatch
    // can move them.
    m.star = nullptr;
    if (directoryEnd && !*m.p) *directoryEnd = m.n > name ? m.n - 1 : nullptr;
  }
  const char* const restart = m.n;

  for (;;) {
    if (!*m.n) {
      const char* p = m.p;
      if (AtAlternativeEnd(p)) return true;
      if (*p == '*' && (AtAlternativeEnd(p + 1) || (p[1] == '.' && AtAlternativeEnd(p + 2)))) return true;
      if (m.Backtrack()) continue;
    } else if (AtAlternativeEnd(m.p)) {
      if (IsSep(*m.n)) {
        // The pattern matched a folder of the name; this alternative fails.
        if (directoryEnd && !*directoryEnd) *directoryEnd = m.n;
      } else if (m.Backtrack()) {
        continue;
      }
    } else if (m.Step() || m.Backtrack()) {
      continue;
    }
    // Next alternative, from the restart point.
    while (*m.p && *m.p != ';') ++m.p;
    if (!*m.p) return false;
    ++m.p;
    m.n = restart;
    m.star = nullptr;
  }
}

} // namespace Vak
