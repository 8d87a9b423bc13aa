#include "assetdb/CategoryList.h"

#include <gtest/gtest.h>

#include <cstddef>

namespace {

const char* Shown(const char* text) { return text != nullptr ? text : "(null)"; }

struct TextCase {
  const char* input;
  const char* expected;
};

// The two arguments in call order and the answer.
struct ArgsCase {
  const char* first;
  const char* second;
  bool expected;
};

template <std::size_t N>
void ExpectAnswers(bool (*op)(const char*, const char*), const ArgsCase (&cases)[N]) {
  for (const ArgsCase& c : cases) {
    EXPECT_EQ(op(c.first, c.second), c.expected) << Shown(c.first) << " / " << Shown(c.second);
  }
}

template <std::size_t N>
void ExpectAnswers(const char* (*op)(const char*), const TextCase (&cases)[N]) {
  for (const TextCase& c : cases) EXPECT_STREQ(op(c.input), c.expected) << Shown(c.input);
}

struct LookupCase {
  const char* kind;
  const char* key;
  const char* expected;
};

template <std::size_t N>
void ExpectAnswers(const char* (*op)(const char*, const char*), const LookupCase (&cases)[N]) {
  for (const LookupCase& c : cases) {
    EXPECT_STREQ(op(c.kind, c.key), c.expected) << Shown(c.kind) << " / " << Shown(c.key);
  }
}

// A list operation with two inputs around the output list, which starts as
// `out`.
struct MergeCase {
  const char* first;
  const char* out;
  const char* second;
  const char* expected;
};

template <std::size_t N>
void ExpectMerges(void (*op)(const char*, Vak::AnsiString&, const char*), const MergeCase (&cases)[N]) {
  for (const MergeCase& c : cases) {
    Vak::AnsiString out(c.out);
    op(c.first, out, c.second);
    EXPECT_STREQ(out, c.expected) << Shown(c.first) << " / " << Shown(c.second);
  }
}

TEST(CategoryListTest, NormaliseLowerCasesAndFoldsSeparatorRuns) {
  const TextCase cases[] = {
      {"Steam, Loco(UK)", "steam;loco;uk;"},
      {"  \t\"Steam\"", "steam;"},
      {"one", "one"},
      {"A\r\nB'C'|D", "a;b;c;d"},
      {"x;Y", "x;y"},            // ';' is not a separator
      {"\xC9T\xC9", "\xC9t\xC9"},  // A-Z only
      {"", ""},
      {" ,() ", ""},
  };
  for (const TextCase& c : cases) {
    Vak::AnsiString out("stale");
    CategoryList::Normalise(c.input, out);
    EXPECT_STREQ(out, c.expected) << c.input;
  }
  Vak::AnsiString out("stale");
  CategoryList::Normalise(nullptr, out);
  EXPECT_STREQ(out, "");
}

TEST(CategoryListTest, AppendWordsContinuesAList) {
  struct Case {
    const char* list;
    const char* text;
    const char* expected;
  } const cases[] = {
      {"", "Steam, Loco(UK)", "steam;loco;uk;"},
      {"steam;loco;uk;", "Big Boy", "steam;loco;uk;big;boy"},
      {"steam", "Big Boy ", "steam;big;boy;"},
      {"steam", "  ", "steam"},
      {"steam", nullptr, "steam"},
  };
  for (const Case& c : cases) {
    Vak::AnsiString list(c.list);
    CategoryList::AppendWords(list, c.text);
    EXPECT_STREQ(list, c.expected) << c.list << " + " << Shown(c.text);
  }
}

TEST(CategoryListTest, HasItemComparesWholeItems) {
  const ArgsCase cases[] = {
      {"TR;TV;LOC", "LOC", true},
      {"TR;TV;LOC", "LO", false},
      {"TR;TV;LOC", "-LOC", false},
      {"TR;TV;LOC", "-DIES", true},
      {"TR;TV;LOC", "TR;XX", true},   // the term ends at ';'
      {"TR;TV;LOC", "TV|XX", true},   // ... and at '|'
      {"TR;TV;LOC", "loc", false},    // case matters
      {"TR;TV;LOC", "LOCO", false},
      {"TR|LOC", "LOC", false},       // only the list's first alternative counts
      {"TR;;LOC", "LOC", true},
      {"TR;TV;LOC", "", false},
      {"TR;TV;LOC", "|LOC", false},
      {"TR;TV;LOC", ";LOC", false},
      {"", "LOC", false},
      {nullptr, "LOC", false},
      {nullptr, "-LOC", true},
      {"TR", nullptr, false},
  };
  ExpectAnswers(CategoryList::HasItem, cases);
}

TEST(CategoryListTest, HasCodeTestsOneCodeLiterally) {
  const ArgsCase cases[] = {
      {"BD;IND;ACTV", "ACTV", true},
      {"TR;TV;LOCO", "LOC", false},
      {"TR;TV;LOCO", "-LOC", false},  // a code is never a negation
      {"-LOC;TR", "-LOC", true},
      {"TR;TV", "TR;TV", false},
      {"TR;TV", "", false},
      {nullptr, "SS", false},
      {"SS", nullptr, false},
  };
  ExpectAnswers(CategoryList::HasCode, cases);
}

TEST(CategoryListTest, MatchNeedsEveryTermOfSomeAlternative) {
  const ArgsCase cases[] = {
      {"TX;ENV", "TX;NEV", false},
      {"TX;ENV", "TX;ENV;GRND", true},
      {"SPLN|TK", "TK;RLS", true},
      {"SPLN|TK", "RLS", false},
      {"TX;-ENV", "TX;NEV", true},
      {"TX;-ENV", "TX;ENV", false},
      {"TX;;;ENV", "ENV;TX", true},
      {"XX||YY", "TK", true},  // an empty alternative holds
      {"XX|", "TK", true},
      {"", "TK", true},
      {";;", "TK", true},
      {"TK", "", false},
      {"TK", nullptr, false},
      {"-TK", nullptr, true},
      {nullptr, "TK", true},
      {nullptr, nullptr, true},
  };
  ExpectAnswers(CategoryList::Match, cases);
}

TEST(CategoryListTest, MatchKeywordsFindsSubstrings) {
  const ArgsCase cases[] = {
      {"big;steam;locomotive", "steam;loco", true},
      {"big;steam;locomotive", "steam;diesel", false},
      {"big;steam;locomotive", "diesel|loco", true},
      {"big;steam", "Steam", false},  // case matters
      {"big;steam", "am;;bi", true},
      {"big;steam", "diesel|", true},
      {"big;steam", "", false},
      {"big;steam", nullptr, false},
      {nullptr, "steam", false},
  };
  ExpectAnswers(CategoryList::MatchKeywords, cases);
}

TEST(CategoryListTest, FirstAlternativeAndAppendTerm) {
  const TextCase firsts[] = {
      {"SPLN|TK", "SPLN"}, {"TX;ENV", "TX"}, {"LOC", "LOC"}, {"|TK", ""}, {"", ""}, {nullptr, ""},
  };
  for (const TextCase& c : firsts) {
    Vak::AnsiString out("stale");
    CategoryList::FirstAlternative(c.input, out);
    EXPECT_STREQ(out, c.expected) << Shown(c.input);
  }

  struct AppendCase {
    const char* list;
    const char* term;
    const char* expected;
  } const appends[] = {
      {"", "TR", "TR"},
      {"TR", "TV;LOC", "TR;TV"},
      {"TR", "TV|LOC", "TR;TV"},
      {"TR", ";TV", "TR"},
      {"TR", "|TV", "TR"},
      {"TR", "", "TR"},
      {"TR", nullptr, "TR"},
      {"TR;", "TV", "TR;;TV"},  // the list is taken as it is
  };
  for (const AppendCase& c : appends) {
    Vak::AnsiString list(c.list);
    CategoryList::AppendTerm(list, c.term);
    EXPECT_STREQ(list, c.expected) << c.list << " + " << Shown(c.term);
  }
}

TEST(CategoryListTest, AppendTermCopesWithATermInsideTheList) {
  Vak::AnsiString list("TR;TV");
  CategoryList::AppendTerm(list, static_cast<const char*>(list) + 3);
  EXPECT_STREQ(list, "TR;TV;TV");
}

TEST(CategoryListTest, MergeAddsMissingTerms) {
  const MergeCase cases[] = {
      // first = base, second = add; out is overwritten
      {"TR;TV", "stale", "TV;LOC;TR;DIES", "TR;TV;LOC;DIES"},
      {"TR;TV", "", ";;LOC;;;LOC;", "TR;TV;LOC"},
      {"", "", "TR;TV", "TR;TV"},
      {nullptr, "stale", "TR", "TR"},
      {"TR", "", nullptr, "TR"},
      {"TR", "", "", "TR"},
  };
  ExpectMerges(CategoryList::Merge, cases);
}

TEST(CategoryListTest, AppendNotInKeepsTermsOutsideTheExclusion) {
  const MergeCase cases[] = {
      // first = source, second = exclude; out is appended to
      {"TR;TV;LOC;DIES", "", "TV;DIES", "TR;LOC"},
      {"TR;TV", "BD", "TV", "BD;TR"},
      {"TR;;TV;", "", nullptr, "TR;TV"},
      {"TR;TV", "BD", "TR;TV", "BD"},
      {nullptr, "BD", "TR", "BD"},
  };
  ExpectMerges(CategoryList::AppendNotIn, cases);
}

TEST(CategoryListTest, AddHashTagsTagsFirstAlternatives) {
  const MergeCase cases[] = {
      // first = base, second = add; out is overwritten
      {"steam", "stale", "uk;loco", "steam;#uk;#loco"},
      {"steam;#uk", "", "uk;uk", "steam;#uk"},
      {"", "", "uk|gb;;de", "#uk;#de"},
      {"steam", "", "|uk", "steam"},
      {"steam", "", nullptr, "steam"},
      {nullptr, "", "uk", "#uk"},
  };
  const auto addHashTags = [](const char* base, Vak::AnsiString& out, const char* add) {
    CategoryList::AddHashTags(out, base, add);
  };
  ExpectMerges(addHashTags, cases);
}

TEST(CategoryListTest, MergingIntoItsOwnInput) {
  Vak::AnsiString out("TR;TV");
  CategoryList::Merge(out, out, "LOC");
  EXPECT_STREQ(out, "TR;TV;LOC");
  CategoryList::Merge("BD", out, out);
  EXPECT_STREQ(out, "BD;TR;TV;LOC");
  CategoryList::AppendNotIn(out, out, "TV");
  EXPECT_STREQ(out, "BD;TR;TV;LOC;BD;TR;LOC");
  Vak::AnsiString tags("uk");
  CategoryList::AddHashTags(tags, tags, tags);
  EXPECT_STREQ(tags, "uk;#uk");
}

TEST(CategoryListTest, CodesForKindTakesTheFirstFittingRow) {
  const LookupCase cases[] = {
      {"bridge", "road;tunnels", "SPLN;TUN"},
      {"bridge", "road", "SPLN;BRG"},
      {"bridge", "rails;other", "TK"},
      {"bridge", "nothing;here", "SPLN;BRG"},
      {"bridge", nullptr, "SPLN;BRG"},
      {"traincar", "locomotive", "TR;TV;LOCO"},
      {"traincar", "Tender", "TR;TV;TEND"},  // the qualifier is lower-cased
      {"TrainCar", "", "TR;TV"},             // so is the kind
      {"fixedtrack", "road", "FIXD;SWT"},
      {"mospeedboard", nullptr, "TO;?WS"},
      {"tracksound", nullptr, "CMP;TSND;SD"},
      {"speedboard", nullptr, ""},
      {"", nullptr, ""},
      {nullptr, "road", ""},
  };
  ExpectAnswers(CategoryList::CodesForKind, cases);
}

TEST(CategoryListTest, KindForCodesTakesTheFirstRowWhoseCodesAllOccur) {
  const TextCase cases[] = {
      {"SWT;FIXD;RLS", "fixedtrack"},
      {"SPLN;TUN", "bridge"},
      {"TK;BRG", "bridge"},
      {"TR;TV;LOCO;DIES", "traincar"},
      {"TR;CMP;ESPC", "engine"},
      {"BD;IND;ACTV;FIXD", "industry"},
      {"BD;IND", ""},
      {"", ""},
      {nullptr, ""},
  };
  ExpectAnswers(CategoryList::KindForCodes, cases);
}

TEST(CategoryListTest, CodesForLegacyCodeIgnoresCase) {
  const LookupCase cases[] = {
      // qualifier field is the legacy code
      {"traincar", "ac", "TR;TV;LOC;ELEC"},
      {"TRAINCAR", "AC", "TR;TV;LOC;ELEC"},
      {"scenery", "FT", "FL;SCEN"},
      {"", "FT", "FL;SCEN"},
      {nullptr, "oh", "PP"},
      {"bridge", "ZZ", ""},
      {"bridge", "AC", ""},
      {"", "AC", "TR;TV;LOC;ELEC"},  // no kind given: any row
      {"bridge", "TR", "TK;RLS"},
      {"traincar", nullptr, ""},
  };
  ExpectAnswers(CategoryList::CodesForLegacyCode, cases);
}

TEST(CategoryListTest, KindWordForCodesPrefersWeightThenOrder) {
  const TextCase cases[] = {
      {"BD;IND", "building"},
      {"TX;ENV", "textureenv"},
      {"TX;ENV;GRND", "textureenv"},
      {"TX;NEV", "texturenonenv"},
      {"TR;CMP;MESH", "mesh"},  // earlier row of equal weight
      {"TR;TV;LOCO", "train"},
      {"MS", "misc"},
      {"REGN", "misc"},
      {"", "misc"},
      {nullptr, "misc"},
  };
  ExpectAnswers(CategoryList::KindWordForCodes, cases);
}

TEST(CategoryListTest, RegionCodes) {
  struct Case {
    const char* code;
    bool expected;
  } const cases[] = {
      {"USA", true}, {"US", true}, {"us", false}, {"00", true}, {"ZW", true},
      {"QQ", false}, {"U", false}, {"", false},   {nullptr, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsRegionCode(c.code), c.expected) << Shown(c.code);
  }
}

TEST(CategoryListTest, RegionCodeForNameIgnoresCase) {
  const TextCase cases[] = {
      {"germany", "DE"},   {"Britain", "UK"},        {"GREAT BRITAIN", "GB"}, {"gb", "UK"},
      {"generic", "00"},   {"third_party_usa", "US"}, {"Azerbaidjan", "AZ"},  {"Azerbaijan", ""},
      {"Cocos (Keeling) Is.", "CC"}, {"", ""},       {nullptr, ""},
  };
  ExpectAnswers(RegionCodeForName, cases);
}

} // namespace
