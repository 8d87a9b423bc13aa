#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/UserNameLookup.h"
#include "net/WebService.h"
#include "tests/net/TestBytes.h"

namespace {

using blocktest::ReadBlock;
using blocktest::WriteBlock;
using nettest::Bytes;
using nettest::PText;

struct StoredRecord {
  std::string name;
  int32_t recordId;
  int32_t userId;
};

Bytes Block(uint32_t format, uint32_t count, const std::vector<StoredRecord>& records) {
  Bytes b;
  Vak::AppendLE32(b, format);
  Vak::AppendLE32(b, count);
  for (const StoredRecord& r : records) {
    if (r.name.empty())
      Vak::AppendLE32(b, 0);
    else
      PText(b, r.name);
    Vak::AppendLE32(b, static_cast<uint32_t>(r.recordId));
    Vak::AppendLE32(b, static_cast<uint32_t>(r.userId));
  }
  return b;
}

// Three records; record and user ids differ, so their order is checked.
Bytes ThreeRecordBlock() { return Block(0, 3, {{"alice", 7, 1001}, {"bob smith", 8, 1002}, {"carol", 9, 1003}}); }

std::vector<int32_t> Waiting(UserNameLookup& lookup) {
  std::vector<int32_t> ids;
  for (int32_t id : lookup.WaitingIds()) ids.push_back(id);
  return ids;
}

TEST(UserNameLookupTest, StoredBlockReadsBackAndRewritesByteForByte) {
  const Bytes expected = {
      0, 0, 0, 0,                                   // format word
      3, 0, 0, 0,                                   // records
      6, 0, 0, 0, 'a', 'l', 'i', 'c', 'e', 0,       // name
      7, 0, 0, 0,                                   // record id
      0xE9, 0x03, 0, 0,                             // user id 1001
      10, 0, 0, 0, 'b', 'o', 'b', ' ', 's', 'm', 'i', 't', 'h', 0,
      8, 0, 0, 0,
      0xEA, 0x03, 0, 0,
      6, 0, 0, 0, 'c', 'a', 'r', 'o', 'l', 0,
      9, 0, 0, 0,
      0xEB, 0x03, 0, 0,
  };
  ASSERT_EQ(expected, ThreeRecordBlock());
  UserNameLookup lookup;
  ASSERT_TRUE(ReadBlock(lookup, expected));
  EXPECT_EQ(lookup.RecordCount(), 3u);
  EXPECT_STREQ(lookup.GetName(1002).c_str(), "bob smith");
  EXPECT_STREQ(lookup.GetName(7).c_str(), "#7") << "the record id is not the user id";
  EXPECT_EQ(WriteBlock(lookup), expected);
}

TEST(UserNameLookupTest, NamesAreStoredInLowerCase) {
  UserNameLookup lookup;
  ASSERT_TRUE(ReadBlock(lookup, Block(0, 2, {{"Dave_X", 1, 2001}, {"\xC9MILE", 2, 2002}})));
  EXPECT_STREQ(lookup.GetName(2001).c_str(), "dave_x");
  // ASCII letters only: stored names do not depend on the code page.
  EXPECT_STREQ(lookup.GetName(2002).c_str(), "\xC9mile");
  EXPECT_EQ(WriteBlock(lookup), Block(0, 2, {{"dave_x", 1, 2001}, {"\xC9mile", 2, 2002}}));
}

TEST(UserNameLookupTest, RefusedBlocksLeaveTheCacheEmpty) {
  std::vector<std::pair<std::string, Bytes>> cases = {
      {"format word 1", Block(1, 3, {{"alice", 7, 1001}, {"bob smith", 8, 1002}, {"carol", 9, 1003}})},
      {"record id -1", Block(0, 2, {{"alice", 7, 1001}, {"bob", -1, 1002}})},
      {"empty name of user -1", Block(0, 2, {{"alice", 7, 1001}, {"", 8, -1}})},
      {"count 100000, nothing after", Block(0, 100000, {})},
      {"count 2^31 - 1, nothing after", Block(0, 0x7FFFFFFF, {})},
      {"count 4, three records", Block(0, 4, {{"alice", 7, 1001}, {"bob smith", 8, 1002}, {"carol", 9, 1003}})},
  };
  const Bytes whole = ThreeRecordBlock();
  for (size_t n = 0; n < whole.size(); ++n)
    cases.emplace_back("first " + std::to_string(n) + " bytes", Bytes(whole.begin(), whole.begin() + n));
  Bytes longName = Block(0, 1, {});
  Vak::AppendLE32(longName, 0x00100000);  // a name length past the end
  longName.insert(longName.end(), 12, 'x');
  cases.emplace_back("name longer than the rest", longName);

  for (const auto& [name, bytes] : cases) {
    SCOPED_TRACE(name);
    UserNameLookup lookup;
    ASSERT_TRUE(ReadBlock(lookup, ThreeRecordBlock()));
    EXPECT_FALSE(ReadBlock(lookup, bytes));
    EXPECT_EQ(lookup.RecordCount(), 0u);
    EXPECT_STREQ(lookup.GetName(1001).c_str(), "#1001");
  }
}

TEST(UserNameLookupTest, GetNameAnswersFromFixedNamesTheCacheOrTheQueue) {
  UserNameLookup lookup;
  ASSERT_TRUE(ReadBlock(lookup, ThreeRecordBlock()));
  struct Case {
    int32_t userId;
    const char* name;
    bool queued;
  } cases[] = {
      {0, "-", false},         {-2, "unknown", false},  {-7, "Moxel", false},     {523, "Moxel", false},
      {30501, "Moxel", false}, {401543, "Moxel", false}, {1003, "carol", false}, {4242, "#4242", true},
      {-1, "Moxel", false},    {44179, "Moxel", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.userId);
    EXPECT_STREQ(lookup.GetName(c.userId).c_str(), c.name);
    const std::vector<int32_t> waiting = Waiting(lookup);
    EXPECT_EQ(!waiting.empty() && waiting.back() == c.userId, c.queued);
  }
  // Asked again, a queued id is not queued twice.
  lookup.GetName(4242);
  EXPECT_EQ(Waiting(lookup), std::vector<int32_t>{4242});
}

TEST(UserNameLookupTest, TheWaitingQueueDropsItsOldestPast33Ids) {
  UserNameLookup lookup;
  std::vector<int32_t> asked;
  for (int32_t id = 100; id < 134; ++id) {
    EXPECT_STREQ(lookup.GetName(id).c_str(), ("#" + std::to_string(id)).c_str());
    asked.push_back(id);
  }
  // The 34th id pushed the first out.
  EXPECT_EQ(Waiting(lookup), std::vector<int32_t>(asked.begin() + 1, asked.end()));
  // The dropped id was forgotten, so asking again queues it anew (and drops
  // the next oldest); an id still waiting is not queued again.
  lookup.GetName(100);
  lookup.GetName(120);
  std::vector<int32_t> expected(asked.begin() + 2, asked.end());
  expected.push_back(100);
  EXPECT_EQ(Waiting(lookup), expected);
}

TEST(UserNameLookupTest, ReadAndResetEmptyTheQueues) {
  UserNameLookup lookup;
  lookup.GetName(5000);
  ASSERT_TRUE(ReadBlock(lookup, ThreeRecordBlock()));
  EXPECT_TRUE(Waiting(lookup).empty());
  lookup.GetName(5001);
  lookup.Reset();
  EXPECT_TRUE(Waiting(lookup).empty());
  EXPECT_EQ(lookup.RecordCount(), 0u);
}

TEST(UserNameLookupTest, TheLookupPageIsOnTheWebServicesHost) {
  const Vak::PString before = GetWebServiceHost();
  SetWebServiceHost("names.test");
  EXPECT_STREQ(UserNameLookup().LookupUrl().Format().c_str(), "http://names.test/velmar/GameFiles/user_lookup.php");
  SetWebServiceHost(before.c_str());
}

} // namespace
