#pragma once
// Class-code lists ("TR;TV;LOC"), patterns over them ("SPLN|TK", "-DIES") and
// the fixed tables that translate between an asset's kind, its legacy
// two-letter category, its class codes, its kind word and region names.
//
// Items and terms compare exactly; a list is ';'-separated, a pattern holds
// '|'-separated alternatives of ';'-separated terms, a leading '-' negates a
// term. Texts in are C strings (null allowed where said); texts out are
// written to an AnsiString or point into the constant tables ("" for none).
#include <string>

#include "Vak/Bexlorn/String.h"

class CategoryList {
public:
  // Lower-cases A-Z and turns every run of separators (blank, tab, CR, LF,
  // '"', '\'', '(', ')', ',', '|') into one ';': "Steam, Loco(UK)" gives
  // "steam;loco;uk;".
  static void Normalise(const char* text, Vak::AnsiString& out);
  // One of the characters Normalise turns into ';'.
  static bool IsSeparator(char c);
  static bool HasItem(const char* list, const char* term);
  // A null pattern matches every list.
  static bool Match(const char* pattern, const char* list);
  // Some alternative of the query has every non-empty term as a substring of
  // the text.
  static bool MatchKeywords(const char* text, const char* query);
  // The term up to its first ';', '|' or end.
  static void FirstAlternative(const char* term, Vak::AnsiString& out);
  // Appends the term (up to ';', '|' or end) after a ';' when the list is not
  // empty; an empty term appends nothing.
  static void AppendTerm(Vak::AnsiString& list, const char* term);
  static void Merge(const char* base, Vak::AnsiString& out, const char* add);
  static void AppendNotIn(const char* source, Vak::AnsiString& out, const char* exclude);
  static void AddHashTags(Vak::AnsiString& out, const char* base, const char* add);

  static const char* CodesForKind(const char* kind, const char* qualifier);
  static const char* KindForCodes(const char* codes);
  static const char* CodesForLegacyCode(const char* kind, const char* code);
  static const char* KindWordForCodes(const char* codes);

  // Appends the words of the text as Normalise writes them, after a ';' when
  // the list is not empty and does not end in one: from an empty list this
  // is Normalise. Keyword lists are built from several texts this way.
  static void AppendWords(Vak::AnsiString& list, const char* text);
  // The same on a list being built, without a temporary.
  static void AppendWords(std::string& list, const char* text);
  // The code is an item of the list. Unlike HasItem a code is never a
  // negated term; a null list or an empty code answers false.
  static bool HasCode(const char* codes, const char* code);
};

bool IsRegionCode(const char* code);
// The two-character code, or "" when no name matches.
const char* RegionCodeForName(const char* name);
