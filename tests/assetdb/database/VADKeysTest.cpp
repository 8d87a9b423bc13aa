#include "assetdb/VADKeys.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

namespace {

struct Key {
  const char* accessor;
  const Vak::PString& (*get)();
  const char* text;
};

const std::vector<Key>& AllKeys() {
#define VAD_KEY_ROW(name, text) {#name, &VADKeys::name, text},
  static const std::vector<Key> keys = {VAD_KEYS(VAD_KEY_ROW)};
#undef VAD_KEY_ROW
  return keys;
}

TEST(VADKeysTest, EachKeyIsTheInternedFormOfItsText) {
  std::set<std::string> texts;
  for (const Key& key : AllKeys()) {
    SCOPED_TRACE(key.accessor);
    const Vak::PString& got = key.get();
    EXPECT_STREQ(got.c_str(), key.text);
    EXPECT_EQ(&got, &key.get()) << "one object per key";
    EXPECT_TRUE(got == Vak::PString(key.text)) << "a look-up by text meets the same node";
    EXPECT_TRUE(texts.insert(key.text).second) << "a text listed twice must be one key";
    // Keys are lower case, the interface-text keys start with '$'.
    for (const char* p = key.text; *p; ++p) EXPECT_FALSE(*p >= 'A' && *p <= 'Z');
  }
  // The vocabulary: 57 distinct texts (the empty placeholder included).
  EXPECT_EQ(texts.size(), 57u);
  EXPECT_EQ(std::count_if(texts.begin(), texts.end(), [](const std::string& t) { return !t.empty() && t[0] == '$'; }),
            9);
}

} // namespace
