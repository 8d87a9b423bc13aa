#include "assetdb/CategoryTables.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "assetdb/CategoryList.h"

namespace {

TEST(CategoryTablesTest, RowCounts) {
  EXPECT_EQ(kKindCategoryRows, 53u);
  EXPECT_EQ(kLegacyCategoryRows, 162u);
  EXPECT_EQ(kClassKindRows, 26u);
  EXPECT_EQ(kRegionRows, 264u);
  EXPECT_EQ(kCategoryClassRows, 35u);
}

TEST(CategoryTablesTest, EveryKindRowAnswersForItsKindAndQualifier) {
  for (const KindCategoryRow& row : KindCategoryTable) {
    ASSERT_NE(row.kind, nullptr);
    ASSERT_NE(row.qualifier, nullptr);
    EXPECT_STREQ(CategoryList::CodesForKind(row.kind, row.qualifier), row.codes) << row.kind << " / " << row.qualifier;
  }
}

// Where a kind and a legacy code repeat, the later row is shadowed; these
// are the only repeats, and the earlier row's codes answer.
TEST(CategoryTablesTest, EveryLegacyRowAnswersUnlessAnEarlierRowShadowsIt) {
  std::set<std::string> seen;
  std::vector<std::string> shadowed;
  for (const LegacyCategoryRow& row : LegacyCategoryTable) {
    ASSERT_NE(row.kind, nullptr);
    ASSERT_GE(std::strlen(row.code), 2u) << row.code;
    const char* answer = CategoryList::CodesForLegacyCode(row.kind, row.code);
    if (std::strcmp(answer, row.codes) != 0) {
      shadowed.push_back(std::string(row.kind) + " " + row.code + " " + answer);
    }
    EXPECT_TRUE(seen.insert(std::string(row.kind) + " " + row.codes + " " + row.code).second)
        << "repeated row " << row.kind << " " << row.code;
  }
  const std::vector<std::string> expected = {
      "traincar AS TR;TV;TDR",
      "scenery BR BD;RRD",
      "traincar RP TR;TV;RCR;DIES",
  };
  EXPECT_EQ(shadowed, expected);
}

TEST(CategoryTablesTest, EveryClassKindRowAnswersForItsPattern) {
  for (const ClassKindRow& row : ClassKindTable) {
    const char* list = row.pattern != nullptr ? row.pattern : "";
    EXPECT_STREQ(CategoryList::KindWordForCodes(list), row.kindWord) << list;
  }
  const ClassKindRow& last = ClassKindTable[kClassKindRows - 1];
  EXPECT_EQ(last.pattern, nullptr);
  EXPECT_EQ(last.weight, -1);
  EXPECT_STREQ(kFallbackKindWord, "Custom");
}

TEST(CategoryTablesTest, EveryRegionRowAnswersForItsCodeAndName) {
  const unsigned kFirstFurtherName = kRegionRows - 19;
  EXPECT_STREQ(RegionTable[kFirstFurtherName - 1].code, "00");
  std::set<std::string> codes;
  for (unsigned i = 0; i < kRegionRows; ++i) {
    const RegionRow& row = RegionTable[i];
    ASSERT_EQ(std::strlen(row.code), 2u) << row.name;
    EXPECT_TRUE(IsRegionCode(row.code)) << row.code;
    EXPECT_STREQ(RegionCodeForName(row.name), row.code) << row.name;
    if (i < kFirstFurtherName) {
      EXPECT_TRUE(codes.insert(row.code).second) << "repeated code " << row.code;
    } else {
      EXPECT_EQ(codes.count(row.code), 1u) << "further name of an unknown code " << row.code;
    }
  }
}

TEST(CategoryTablesTest, CategoryClassRowsAreComplete) {
  unsigned flagged = 0;
  for (const CategoryClassRow& row : CategoryClassTable) {
    EXPECT_NE(row.codes[0], '\0');
    EXPECT_NE(row.displayName[0], '\0');
    if (row.flag != 0) ++flagged;
  }
  EXPECT_EQ(flagged, 4u);
  EXPECT_STREQ(CategoryClassTable[0].codes, "PST");
  EXPECT_STREQ(CategoryClassTable[kCategoryClassRows - 1].displayName, "Fixed Track");
}

} // namespace
