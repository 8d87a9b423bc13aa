// Class-code lists and patterns come from configs inside packages. Input:
// pattern '\n' list (without a newline, the whole input is both). Normalising
// leaves no separator but ';', no A-Z, the same characters otherwise, and is
// idempotent; an item test agrees with a plain split of the list, a negated
// term with its negation; a pattern of one term agrees with the item test, an
// alternative with the and of its terms, a pattern with the or of its
// alternatives; a keyword query agrees with substring searches in the same
// way. Both the list as given and its normalised form are matched.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Vak/Bexlorn/CodePage.h"
#include "assetdb/CategoryList.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

std::string Normalised(const std::string& text) {
  Vak::AnsiString out;
  CategoryList::Normalise(text.c_str(), out);
  return std::string(out, out.Size());
}

void CheckNormalise(const std::string& text) {
  const std::string out = Normalised(text);
  Check(out.size() <= text.size());
  std::string kept, expected;
  for (char c : out) {
    Check(!CategoryList::IsSeparator(c) && !(c >= 'A' && c <= 'Z'));
    if (c != ';') kept += c;
  }
  for (char c : text)
    if (!CategoryList::IsSeparator(c) && c != ';') expected += Vak::CodePage::AsciiLower(c);
  Check(kept == expected);
  // A ';' of the input itself is an ordinary character, so only a text
  // without one shows how separator runs collapse.
  if (text.find(';') == std::string::npos) {
    Check(out.find(";;") == std::string::npos);
    Check(out.empty() || out[0] != ';');
    const bool trailingRun = !text.empty() && CategoryList::IsSeparator(text.back()) && !expected.empty();
    Check(trailingRun == (!out.empty() && out.back() == ';'));
  }
  Check(Normalised(out) == out);
}

// The list's items up to its first '|', compared with the term up to its
// first ';' or '|'.
bool SplitHasItem(std::string_view list, std::string_view term) {
  term = term.substr(0, term.find_first_of(";|"));
  if (term.empty()) return false;
  list = list.substr(0, list.find('|'));
  for (;;) {
    const size_t semi = list.find(';');
    if (list.substr(0, semi) == term) return true;
    if (semi == std::string_view::npos) return false;
    list.remove_prefix(semi + 1);
  }
}

bool HasItem(const std::string& list, std::string_view term) {
  return CategoryList::HasItem(list.c_str(), std::string(term).c_str());
}

bool Match(std::string_view pattern, const std::string& list) {
  return CategoryList::Match(std::string(pattern).c_str(), list.c_str());
}

bool MatchKeywords(const std::string& text, std::string_view query) {
  return CategoryList::MatchKeywords(text.c_str(), std::string(query).c_str());
}

// A non-empty term without ';' or '|'.
void CheckTerm(std::string_view term, const std::string& list) {
  const bool has = HasItem(list, term);
  if (term[0] != '-') Check(has == SplitHasItem(list, term));
  Check(HasItem(list, "-" + std::string(term)) == !has);
  // A term that ends where it starts is empty, whatever follows.
  Check(!HasItem(list, ";" + std::string(term)) && !HasItem(list, "|" + std::string(term)));
  Check(Match(term, list) == has);
}

// Pieces of a text between separators, empty ones included.
std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> pieces;
  for (;;) {
    const size_t at = text.find(separator);
    pieces.push_back(text.substr(0, at));
    if (at == std::string_view::npos) return pieces;
    text.remove_prefix(at + 1);
  }
}

// An alternative without terms holds, as do the rest.
void CheckPattern(std::string_view pattern, const std::string& list) {
  bool any = false;
  for (std::string_view alternative : Split(pattern, '|')) {
    bool all = true;
    for (std::string_view term : Split(alternative, ';')) {
      if (term.empty()) continue;
      CheckTerm(term, list);
      all = all && HasItem(list, term);
    }
    Check(Match(alternative, list) == all);
    any = any || all;
  }
  Check(Match(pattern, list) == any);
}

void CheckKeywords(const std::string& text, std::string_view query) {
  bool any = false;
  for (std::string_view alternative : Split(query, '|')) {
    bool all = true;
    for (std::string_view term : Split(alternative, ';')) {
      if (term.empty()) continue;
      const bool found = text.find(term) != std::string::npos;
      Check(MatchKeywords(text, term) == found);
      all = all && found;
    }
    if (!alternative.empty()) Check(MatchKeywords(text, alternative) == all);
    any = any || all;
  }
  Check(MatchKeywords(text, query) == (any && !query.empty()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string input(reinterpret_cast<const char*>(data), size);
  input = input.substr(0, input.find('\0'));
  const size_t newline = input.find('\n');
  const std::string pattern = newline == std::string::npos ? input : input.substr(0, newline);
  const std::string list = newline == std::string::npos ? input : input.substr(newline + 1);

  CheckNormalise(input);
  CheckNormalise(list);
  const std::string normalised = Normalised(list);
  for (const std::string& l : {list, normalised}) {
    CheckPattern(pattern, l);
    CheckKeywords(l, pattern);
    Check(CategoryList::Match(nullptr, l.c_str()));
  }
  Check(!CategoryList::HasItem(nullptr, pattern.c_str()) || (!pattern.empty() && pattern[0] == '-'));
  return 0;
}
