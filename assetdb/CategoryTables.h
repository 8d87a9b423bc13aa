#pragma once
// The fixed tables behind CategoryList: rows in the order they are scanned,
// the first matching row winning. Kind names, codes and region names are kept
// exactly as the system ships them, spellings included.

struct KindCategoryRow {
  const char* kind;       // lower case
  const char* qualifier;  // pattern over the qualifier list; "" for any
  const char* codes;
};

struct LegacyCategoryRow {
  const char* kind;  // "" for any kind
  const char* code;
  const char* codes;
};

struct ClassKindRow {
  const char* pattern;  // null matches every list
  const char* kindWord;
  int weight;
};

struct RegionRow {
  const char* code;  // two characters
  const char* name;
};

struct CategoryClassRow {
  const char* codes;
  const char* displayName;
  int flag;
};

inline constexpr unsigned kKindCategoryRows = 53;
inline constexpr unsigned kLegacyCategoryRows = 162;
inline constexpr unsigned kClassKindRows = 26;
inline constexpr unsigned kRegionRows = 264;
inline constexpr unsigned kCategoryClassRows = 35;

extern const KindCategoryRow KindCategoryTable[kKindCategoryRows];
// Codes of one group are listed one row each; where a kind and code repeat,
// the earlier row answers.
extern const LegacyCategoryRow LegacyCategoryTable[kLegacyCategoryRows];
// The kind word when no row qualifies.
inline constexpr const char* kFallbackKindWord = "Custom";
extern const ClassKindRow ClassKindTable[kClassKindRows];
// After "00" come further names of codes listed earlier.
extern const RegionRow RegionTable[kRegionRows];
// Display names of class-code sets; kept as data, nothing reads it yet.
extern const CategoryClassRow CategoryClassTable[kCategoryClassRows];
