#include "assetdb/CategoryList.h"

#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "Vak/Bexlorn/CodePage.h"
#include "Vak/Bexlorn/PString.h"
#include "assetdb/CategoryTables.h"

namespace {

bool IsTermEnd(char c) { return c == '\0' || c == ';' || c == '|'; }

std::size_t TermLength(const char* term) {
  std::size_t n = 0;
  while (!IsTermEnd(term[n])) ++n;
  return n;
}

// The items of a list: it is read up to its first '|'.
std::string_view ItemsOf(const char* list) { return std::string_view(list, std::strcspn(list, "|")); }

// Found as a substring (memchr and memcmp, which the C library vectorises)
// standing between item boundaries; the term holds no ';' or '|', so a match
// so bounded is a whole item.
bool ItemsHold(std::string_view items, const char* term, std::size_t length) {
  const std::string_view wanted(term, length);
  for (std::size_t at = items.find(wanted); at != std::string_view::npos; at = items.find(wanted, at + 1)) {
    const bool starts = at == 0 || items[at - 1] == ';';
    const bool ends = at + length == items.size() || items[at + length] == ';';
    if (starts && ends) return true;
  }
  return false;
}

// A term against a list's items: a leading '-' negates, an empty term fails.
bool TermHolds(std::string_view items, const char* term) {
  if (term[0] == '-') return !TermHolds(items, term + 1);
  const std::size_t length = TermLength(term);
  return length != 0 && ItemsHold(items, term, length);
}

// True when some '|'-alternative of the pattern has every term holding; an
// alternative without terms holds. No allocation: this runs once per record in
// searches.
template <typename TermHolds>
bool SomeAlternativeHolds(const char* pattern, TermHolds holds) {
  const char* p = pattern;
  for (;;) {
    bool all = true;
    for (;;) {
      while (*p == ';') ++p;
      if (*p == '\0' || *p == '|') break;
      const std::size_t length = TermLength(p);
      if (!holds(p, length)) {
        all = false;
        break;
      }
      p += length;
    }
    if (all) return true;
    while (*p != '\0' && *p != '|') ++p;
    if (*p == '\0') return false;
    ++p;
  }
}

// Calls f with each ';'-separated term of a normalised list; runs of ';' are
// skipped and anything after a '|' inside a term is not a term of its own.
template <typename F>
void ForEachTerm(const char* list, F f) {
  if (list == nullptr) return;
  const char* p = list;
  for (;;) {
    while (*p == ';') ++p;
    if (*p == '\0') return;
    f(p);
    while (*p != '\0' && *p != ';') ++p;
  }
}

// Kinds are compared as interned strings; interned on first use so that no
// static initialiser depends on the string cache's.
const Vak::PString* InternedKinds() {
  static const Vak::PString* const kinds = [] {
    auto* interned = new Vak::PString[kKindCategoryRows];
    for (unsigned i = 0; i < kKindCategoryRows; ++i) interned[i] = KindCategoryTable[i].kind;
    return interned;
  }();
  return kinds;
}

} // namespace

void CategoryList::Normalise(const char* text, Vak::AnsiString& out) {
  Vak::AnsiString result;
  AppendWords(result, text);
  out = std::move(result);
}

void CategoryList::AppendWords(Vak::AnsiString& list, const char* text) {
  std::string built(static_cast<const char*>(list), list.Size());
  AppendWords(built, text);
  if (built.size() != list.Size()) list = built.c_str();
}

void CategoryList::AppendWords(std::string& list, const char* text) {
  if (text == nullptr) return;
  const std::size_t start = list.size();
  if (start != 0 && list.back() != ';') list += ';';
  const std::size_t first = list.size();
  bool pending = false;  // a run of separators after a word
  for (const char* p = text; *p != '\0'; ++p) {
    if (CategoryList::IsSeparator(*p)) {
      pending = list.size() != first;
      continue;
    }
    if (pending) list += ';';
    pending = false;
    list += Vak::CodePage::AsciiLower(*p);
  }
  if (list.size() == first) {
    list.resize(start);
    return;
  }
  if (pending) list += ';';
}

bool CategoryList::IsSeparator(char c) {
  switch (c) {
    case ' ': case '\t': case '\r': case '\n': case '"': case '\'': case '(': case ')': case ',': case '|':
      return true;
    default:
      return false;
  }
}

bool CategoryList::HasItem(const char* list, const char* term) {
  if (term != nullptr && term[0] == '-') return !HasItem(list, term + 1);
  if (list == nullptr || term == nullptr) return false;
  return TermHolds(ItemsOf(list), term);
}

bool CategoryList::HasCode(const char* codes, const char* code) {
  if (codes == nullptr || code == nullptr || code[0] == '\0') return false;
  // A code holding ';' or '|' is never one item.
  const std::size_t length = TermLength(code);
  return code[length] == '\0' && ItemsHold(ItemsOf(codes), code, length);
}

bool CategoryList::Match(const char* pattern, const char* list) {
  if (pattern == nullptr) return true;
  if (list == nullptr) {
    return SomeAlternativeHolds(pattern, [](const char* term, std::size_t) { return HasItem(nullptr, term); });
  }
  // The list's extent once, not once per term: this runs once per record in
  // searches.
  const std::string_view items = ItemsOf(list);
  return SomeAlternativeHolds(pattern, [items](const char* term, std::size_t) { return TermHolds(items, term); });
}

bool CategoryList::MatchKeywords(const char* text, const char* query) {
  if (query == nullptr || query[0] == '\0') return false;
  const std::string_view haystack = text != nullptr ? std::string_view(text) : std::string_view();
  return SomeAlternativeHolds(query, [haystack](const char* term, std::size_t length) {
    return haystack.find(std::string_view(term, length)) != std::string_view::npos;
  });
}

void CategoryList::FirstAlternative(const char* term, Vak::AnsiString& out) {
  if (term == nullptr) {
    out = "";
    return;
  }
  out = Vak::AnsiString(term, static_cast<unsigned>(TermLength(term)));
}

void CategoryList::AppendTerm(Vak::AnsiString& list, const char* term) {
  if (term == nullptr) return;
  const std::size_t length = TermLength(term);
  if (length == 0) return;
  // Copied first: the term may lie inside the list.
  const Vak::AnsiString piece(term, static_cast<unsigned>(length));
  if (list.Size() != 0) list += ";";
  list += piece;
}

// The inputs may point into `out`: results are built aside and assigned last.
void CategoryList::Merge(const char* base, Vak::AnsiString& out, const char* add) {
  Vak::AnsiString result(base);
  ForEachTerm(add, [&result](const char* term) {
    if (!HasItem(result, term)) AppendTerm(result, term);
  });
  out = std::move(result);
}

void CategoryList::AppendNotIn(const char* source, Vak::AnsiString& out, const char* exclude) {
  Vak::AnsiString result(out);
  ForEachTerm(source, [&result, exclude](const char* term) {
    if (!HasItem(exclude, term)) AppendTerm(result, term);
  });
  out = std::move(result);
}

void CategoryList::AddHashTags(Vak::AnsiString& out, const char* base, const char* add) {
  Vak::AnsiString result(base);
  ForEachTerm(add, [&result](const char* term) {
    Vak::AnsiString first;
    FirstAlternative(term, first);
    if (first.Size() == 0) return;
    Vak::AnsiString tag("#");
    tag += first;
    if (!HasItem(result, tag)) AppendTerm(result, tag);
  });
  out = std::move(result);
}

const char* CategoryList::CodesForKind(const char* kind, const char* qualifier) {
  if (kind == nullptr) return "";
  Vak::PString wanted(kind);
  wanted.ToLower();
  Vak::AnsiString qualifiers(qualifier);
  qualifiers.ToLower();
  const Vak::PString* kinds = InternedKinds();
  for (unsigned i = 0; i < kKindCategoryRows; ++i) {
    const KindCategoryRow& row = KindCategoryTable[i];
    if (kinds[i] == wanted && (row.qualifier[0] == '\0' || Match(row.qualifier, qualifiers))) return row.codes;
  }
  return "";
}

const char* CategoryList::KindForCodes(const char* codes) {
  for (const KindCategoryRow& row : KindCategoryTable) {
    if (Match(row.codes, codes)) return row.kind;
  }
  return "";
}

const char* CategoryList::CodesForLegacyCode(const char* kind, const char* code) {
  if (code == nullptr) return "";
  const bool anyKind = kind == nullptr || kind[0] == '\0';
  for (const LegacyCategoryRow& row : LegacyCategoryTable) {
    if (Vak::CodePage::CompareIgnoreCase(row.code, code) != 0) continue;
    if (anyKind || row.kind[0] == '\0' || Vak::CodePage::CompareIgnoreCase(row.kind, kind) == 0) return row.codes;
  }
  return "";
}

const char* CategoryList::KindWordForCodes(const char* codes) {
  int best = -10000;
  const char* word = kFallbackKindWord;
  for (const ClassKindRow& row : ClassKindTable) {
    if (row.weight > best && (row.pattern == nullptr || Match(row.pattern, codes))) {
      best = row.weight;
      word = row.kindWord;
    }
  }
  return word;
}

bool IsRegionCode(const char* code) {
  if (code == nullptr || code[0] == '\0' || code[1] == '\0') return false;
  for (const RegionRow& row : RegionTable) {
    if (row.code[0] == code[0] && row.code[1] == code[1]) return true;
  }
  return false;
}

const char* RegionCodeForName(const char* name) {
  if (name == nullptr) return "";
  for (const RegionRow& row : RegionTable) {
    if (Vak::CodePage::CompareIgnoreCase(row.name, name) == 0) return row.code;
  }
  return "";
}
