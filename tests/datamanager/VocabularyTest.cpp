#include "datamanager/Vocabulary.h"

#include <gtest/gtest.h>

#include <set>

namespace {

namespace Words = RUZLib::Words;

TEST(Vocabulary, WordsAreInternedOncePerText) {
  ASSERT_EQ(Words::Vocabulary().size(), 201u);
  std::set<const void*> nodes;
  for (const Vak::PString* word : Words::Vocabulary()) {
    EXPECT_FALSE(word->IsNull());
    nodes.insert(word->GetNode());
  }
  // 201 different texts, so 201 different nodes.
  EXPECT_EQ(nodes.size(), 201u);
  // A name read from a config matches a word by node.
  EXPECT_EQ(Vak::PString("traincar"), Words::kTraincar);
  EXPECT_EQ(Vak::PString("velmar-build"), Words::kVelmarBuild);
  // Case matters.
  EXPECT_FALSE(Vak::PString("zx") == Words::kZX);
}

TEST(Vocabulary, OrderEndsAndSpecialWords) {
  const auto words = Words::Vocabulary();
  EXPECT_STREQ(words.front()->c_str(), ";");
  EXPECT_STREQ(words[1]->c_str(), "!");
  EXPECT_STREQ(words[2]->c_str(), "\"");
  EXPECT_STREQ(words[words.size() - 2]->c_str(), "texture");
  EXPECT_STREQ(words.back()->c_str(), "qa1");
  // The empty word is a real string, not the null one: a tag without a
  // default compares equal to it.
  EXPECT_FALSE(Words::kEmptyWord.IsNull());
  EXPECT_EQ(Words::kEmptyWord, Vak::PString(""));
}

TEST(Vocabulary, PersonalWordsShareTheVocabularyNodes) {
  ASSERT_EQ(Words::PersonalWords().size(), 8u);
  EXPECT_EQ(Words::kPersonalUsername, Words::kUsername);
  EXPECT_EQ(Words::kPersonalContactEmail, Words::kContactEmail);
  EXPECT_STREQ(Words::PersonalWords().back()->c_str(), "contact-website");
}

} // namespace
