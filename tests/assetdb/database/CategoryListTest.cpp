#include "assetdb/CategoryList.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct TextCase {
  const char* input;
  const char* expected;
};

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
    EXPECT_STREQ(list, c.expected) << c.list << " + " << (c.text ? c.text : "(null)");
  }
}

struct ListTermCase {
  const char* list;
  const char* term;
  bool expected;
};

TEST(CategoryListTest, HasItemComparesWholeItems) {
  const ListTermCase cases[] = {
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
  for (const ListTermCase& c : cases) {
    EXPECT_EQ(CategoryList::HasItem(c.list, c.term), c.expected)
        << (c.list ? c.list : "(null)") << " / " << (c.term ? c.term : "(null)");
  }
}

TEST(CategoryListTest, HasCodeTestsOneCodeLiterally) {
  const ListTermCase cases[] = {
      {"BD;IND;ACTV", "ACTV", true},
      {"TR;TV;LOCO", "LOC", false},
      {"TR;TV;LOCO", "-LOC", false},  // a code is never a negation
      {"-LOC;TR", "-LOC", true},
      {"TR;TV", "TR;TV", false},
      {"TR;TV", "", false},
      {nullptr, "SS", false},
      {"SS", nullptr, false},
  };
  for (const ListTermCase& c : cases) {
    EXPECT_EQ(CategoryList::HasCode(c.list, c.term), c.expected)
        << (c.list ? c.list : "(null)") << " / " << (c.term ? c.term : "(null)");
  }
}

struct PatternCase {
  const char* pattern;
  const char* list;
  bool expected;
};

TEST(CategoryListTest, MatchNeedsEveryTermOfSomeAlternative) {
  const PatternCase cases[] = {
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
  for (const PatternCase& c : cases) {
    EXPECT_EQ(CategoryList::Match(c.pattern, c.list), c.expected)
        << (c.pattern ? c.pattern : "(null)") << " / " << (c.list ? c.list : "(null)");
  }
}

TEST(CategoryListTest, MatchKeywordsFindsSubstrings) {
  const PatternCase cases[] = {
      // pattern field is the query, list field the text
      {"steam;loco", "big;steam;locomotive", true},
      {"steam;diesel", "big;steam;locomotive", false},
      {"diesel|loco", "big;steam;locomotive", true},
      {"Steam", "big;steam", false},  // case matters
      {"am;;bi", "big;steam", true},
      {"diesel|", "big;steam", true},
      {"", "big;steam", false},
      {nullptr, "big;steam", false},
      {"steam", nullptr, false},
  };
  for (const PatternCase& c : cases) {
    EXPECT_EQ(CategoryList::MatchKeywords(c.list, c.pattern), c.expected)
        << (c.pattern ? c.pattern : "(null)") << " in " << (c.list ? c.list : "(null)");
  }
}

TEST(CategoryListTest, FirstAlternativeAndAppendTerm) {
  const TextCase firsts[] = {
      {"SPLN|TK", "SPLN"}, {"TX;ENV", "TX"}, {"LOC", "LOC"}, {"|TK", ""}, {"", ""}, {nullptr, ""},
  };
  for (const TextCase& c : firsts) {
    Vak::AnsiString out("stale");
    CategoryList::FirstAlternative(c.input, out);
    EXPECT_STREQ(out, c.expected) << (c.input ? c.input : "(null)");
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
    EXPECT_STREQ(list, c.expected) << c.list << " + " << (c.term ? c.term : "(null)");
  }
}

TEST(CategoryListTest, AppendTermCopesWithATermInsideTheList) {
  Vak::AnsiString list("TR;TV");
  CategoryList::AppendTerm(list, static_cast<const char*>(list) + 3);
  EXPECT_STREQ(list, "TR;TV;TV");
}

struct MergeCase {
  const char* first;
  const char* out;
  const char* second;
  const char* expected;
};

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
  for (const MergeCase& c : cases) {
    Vak::AnsiString out(c.out);
    CategoryList::Merge(c.first, out, c.second);
    EXPECT_STREQ(out, c.expected) << (c.first ? c.first : "(null)") << " + " << (c.second ? c.second : "(null)");
  }
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
  for (const MergeCase& c : cases) {
    Vak::AnsiString out(c.out);
    CategoryList::AppendNotIn(c.first, out, c.second);
    EXPECT_STREQ(out, c.expected) << (c.first ? c.first : "(null)") << " - " << (c.second ? c.second : "(null)");
  }
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
  for (const MergeCase& c : cases) {
    Vak::AnsiString out(c.out);
    CategoryList::AddHashTags(out, c.first, c.second);
    EXPECT_STREQ(out, c.expected) << (c.first ? c.first : "(null)") << " + " << (c.second ? c.second : "(null)");
  }
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

struct KindCase {
  const char* kind;
  const char* qualifier;
  const char* expected;
};

TEST(CategoryListTest, CodesForKindTakesTheFirstFittingRow) {
  const KindCase cases[] = {
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
  for (const KindCase& c : cases) {
    EXPECT_STREQ(CategoryList::CodesForKind(c.kind, c.qualifier), c.expected)
        << (c.kind ? c.kind : "(null)") << " / " << (c.qualifier ? c.qualifier : "(null)");
  }
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
  for (const TextCase& c : cases) {
    EXPECT_STREQ(CategoryList::KindForCodes(c.input), c.expected) << (c.input ? c.input : "(null)");
  }
}

TEST(CategoryListTest, CodesForLegacyCodeIgnoresCase) {
  const KindCase cases[] = {
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
  for (const KindCase& c : cases) {
    EXPECT_STREQ(CategoryList::CodesForLegacyCode(c.kind, c.qualifier), c.expected)
        << (c.kind ? c.kind : "(null)") << " / " << (c.qualifier ? c.qualifier : "(null)");
  }
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
  for (const TextCase& c : cases) {
    EXPECT_STREQ(CategoryList::KindWordForCodes(c.input), c.expected) << (c.input ? c.input : "(null)");
  }
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
    EXPECT_EQ(IsRegionCode(c.code), c.expected) << (c.code ? c.code : "(null)");
  }
}

TEST(CategoryListTest, RegionCodeForNameIgnoresCase) {
  const TextCase cases[] = {
      {"germany", "DE"},   {"Britain", "UK"},        {"GREAT BRITAIN", "GB"}, {"gb", "UK"},
      {"generic", "00"},   {"third_party_usa", "US"}, {"Azerbaidjan", "AZ"},  {"Azerbaijan", ""},
      {"Cocos (Keeling) Is.", "CC"}, {"", ""},       {nullptr, ""},
  };
  for (const TextCase& c : cases) {
    EXPECT_STREQ(RegionCodeForName(c.input), c.expected) << (c.input ? c.input : "(null)");
  }
}

} // namespace
