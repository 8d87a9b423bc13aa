#include "Vak/Bexlorn/PString.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace Vak {
namespace {

using Node = PStringCache::Node;

const unsigned char* U(const char* s) { return reinterpret_cast<const unsigned char*>(s); }
std::string Text(const Node* n) { return n ? std::string(n->text, n->length) : std::string("<null>"); }

// Every reference handed out must be accounted for once released.
void ExpectBalanced(PStringCache& cache) {
  PStringCache::Statistics s = cache.GetStatistics();
  EXPECT_EQ(s.references, 0);
  EXPECT_EQ(s.liveNodes, 0);
}

TEST(PStringCacheTest, NodeSizeArithmetic) {
  struct Case { unsigned length, nodeBytes; };
  const Case cases[] = {{0, 32}, {1, 32}, {6, 32}, {7, 48}, {22, 48}, {23, 64}, {38, 64}, {39, 80}, {1000, 1040}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    EXPECT_EQ(PStringCache::NodeBytes(c.length), c.nodeBytes);
    EXPECT_EQ(PStringCache::NodeCapacity(c.length), c.nodeBytes - 24);
    EXPECT_EQ(PStringCache::PhysicalBytes(c.length), c.nodeBytes - 24 + PStringCache::kHeaderBytes);
    EXPECT_GE(PStringCache::NodeCapacity(c.length), c.length + 1);
  }
  EXPECT_EQ(PStringCache::kHeaderBytes, 32u);

  PStringCache cache;
  for (const char* text : {"", "abcdefg", "0123456789012345678901234"}) {
    Node* n = cache.Create(U(text));
    EXPECT_EQ(n->capacity, PStringCache::NodeCapacity(n->length)) << text;
    EXPECT_EQ(n->spare, 0u);
    cache.Destroy(n);
  }
}

TEST(PStringCacheTest, BucketHashesTheLast16Bytes) {
  struct Case { const char* text; unsigned bucket; };
  const Case cases[] = {
      {"", 0}, {"a", 97}, {"ab", 874}, {"Track", 758}, {"assets/00000001/config.chump", 553},
      {"0123456789abcdef", 116}, {"X0123456789abcdef", 116},
  };
  for (const Case& c : cases)
    EXPECT_EQ(PStringCache::Bucket(U(c.text), static_cast<unsigned>(std::strlen(c.text))), c.bucket) << c.text;
}

TEST(PStringCacheTest, EqualTextsShareANodeAndCaseMatters) {
  PStringCache cache;
  Node* a = cache.Create(U("Track"));
  Node* b = cache.Create(U("Track"));
  Node* c = cache.Create(U("track"));
  EXPECT_EQ(a, b);
  EXPECT_NE(a, c);
  EXPECT_EQ(a->count, 2);
  PStringCache::Statistics s = cache.GetStatistics();
  EXPECT_EQ(s.created, 2u);
  EXPECT_EQ(s.hits, 1u);
  EXPECT_EQ(s.references, 3);
  EXPECT_EQ(s.liveNodes, 2);
  // A length-limited lookup meets the same node.
  Node* d = cache.Create(U("Tracks"), 5);
  EXPECT_EQ(d, a);
  for (Node* n : {a, b, c, d}) cache.Destroy(n);
  ExpectBalanced(cache);
}

TEST(PStringCacheTest, ReleasedNodeStaysAndRevivesWithoutAllocation) {
  PStringCache cache;
  Node* n = cache.Create(U("Track"));
  unsigned bucket = PStringCache::Bucket(U("Track"), 5);
  cache.Destroy(n);
  PStringCache::Statistics s = cache.GetStatistics();
  EXPECT_EQ(n->count, 0);
  EXPECT_EQ(s.liveNodes, 0);
  EXPECT_EQ(s.references, 0);
  EXPECT_EQ(cache.ChainLength(bucket), 1u);

  Node* again = cache.Create(U("Track"));
  EXPECT_EQ(again, n);
  PStringCache::Statistics t = cache.GetStatistics();
  EXPECT_EQ(t.hits, s.hits + 1);
  EXPECT_EQ(t.created, s.created);
  EXPECT_EQ(t.liveNodes, 1);
  EXPECT_EQ(n->count, 1);
  cache.Destroy(again);
}

TEST(PStringCacheTest, SameTailSameBucketToldApartAndMovedToFront) {
  PStringCache cache;
  const char* texts[] = {"trains/loco_1/body.im.0123456789abcdef", "X0123456789abcdef", "0123456789abcdef",
                         "YY0123456789abcdef"};
  std::vector<Node*> nodes;
  for (const char* t : texts) {
    EXPECT_EQ(PStringCache::Bucket(U(t), static_cast<unsigned>(std::strlen(t))), 116u) << t;
    nodes.push_back(cache.Create(U(t)));
  }
  EXPECT_EQ(cache.ChainLength(116), 4u);
  for (size_t i = 0; i < nodes.size(); ++i)
    for (size_t j = i + 1; j < nodes.size(); ++j) EXPECT_NE(nodes[i], nodes[j]);

  // The newest node heads the chain; a found node moves to the front.
  EXPECT_EQ(cache.ChainHead(116), nodes.back());
  Node* first = cache.Create(U(texts[0]));
  EXPECT_EQ(first, nodes[0]);
  EXPECT_EQ(cache.ChainHead(116), nodes[0]);
  Node* again = cache.Create(U(texts[0]));
  EXPECT_EQ(again, nodes[0]);
  for (size_t i = 0; i < nodes.size(); ++i) EXPECT_EQ(Text(nodes[i]), texts[i]);

  for (Node* n : nodes) cache.Destroy(n);
  cache.Destroy(first);
  cache.Destroy(again);
  ExpectBalanced(cache);
}

// Names of one family share their tail and so one chain; the look-up index
// must still find each through growth, collection and in-place edits.
TEST(PStringCacheTest, LookupsStayExactThroughGrowthAndCollection) {
  PStringCache cache;
  std::unordered_map<std::string, std::vector<Node*>> held;
  std::mt19937 rng(7);
  for (int step = 0; step < 30000; ++step) {
    std::string name = "assets/" + std::to_string(rng() % 4000) + "/config.chump";
    std::vector<Node*>& refs = held[name];
    switch (rng() % 5) {
      case 0:
      case 1: {
        Node* n = cache.Create(U(name.c_str()));
        ASSERT_EQ(Text(n), name);
        if (!refs.empty()) {
          ASSERT_EQ(n, refs.front());
        }
        refs.push_back(n);
        break;
      }
      case 2:
        if (!refs.empty()) {
          cache.Destroy(refs.back());
          refs.pop_back();
        }
        break;
      case 3:  // an edit that re-interns under another name, then back
        if (refs.size() == 1) {
          Node* upper = cache.ToUpper(refs.back());
          ASSERT_EQ(Text(upper), "ASSETS/" + name.substr(7, name.size() - 20) + "/CONFIG.CHUMP");
          refs.back() = cache.ToLower(upper);
          ASSERT_EQ(Text(refs.back()), name);
        }
        break;
      default:
        for (int k = 0; k < 37; ++k) cache.CollectGarbage();
    }
  }
  for (auto& [name, refs] : held) {
    for (Node* n : refs) cache.Destroy(n);
  }
  for (unsigned b = 0; b < PStringCache::kBuckets; ++b) cache.CollectGarbage();
  for (unsigned b = 0; b < PStringCache::kBuckets; ++b) ASSERT_EQ(cache.ChainLength(b), 0u) << b;
  ExpectBalanced(cache);
  // Everything collected: a name comes back as a new node.
  uint32_t created = cache.GetStatistics().created;
  Node* n = cache.Create(U("assets/1/config.chump"));
  EXPECT_EQ(cache.GetStatistics().created, created + 1);
  cache.Destroy(n);
}

TEST(PStringCacheTest, CollectionVisitsOneBucketPerStep) {
  PStringCache cache;
  EXPECT_EQ(cache.CollectionCursor(), 0u);
  const char* text = "Track";  // bucket 758
  Node* dead = cache.Create(U(text));
  Node* kept = cache.Create(U("0123456789abcdef"));  // bucket 116, stays referenced
  Node* other = cache.Create(U("X0123456789abcdef"));  // bucket 116, released
  cache.Destroy(dead);
  cache.Destroy(other);

  while (cache.CollectionCursor() != 757) cache.CollectGarbage();
  EXPECT_EQ(cache.ChainLength(758), 1u);
  EXPECT_EQ(cache.ChainLength(116), 1u);  // stepped over: the referenced node stays
  EXPECT_EQ(Text(kept), "0123456789abcdef");

  cache.CollectGarbage();  // visits bucket 758 only
  EXPECT_EQ(cache.CollectionCursor(), 758u);
  EXPECT_EQ(cache.ChainLength(758), 0u);

  // The next lookup of the text allocates anew.
  uint32_t created = cache.GetStatistics().created;
  Node* fresh = cache.Create(U(text));
  EXPECT_EQ(cache.GetStatistics().created, created + 1);
  cache.Destroy(fresh);
  cache.Destroy(kept);

  // A whole round of steps frees every released node, wrapping past the end.
  for (unsigned i = 0; i < PStringCache::kBuckets; ++i) cache.CollectGarbage();
  EXPECT_EQ(cache.CollectionCursor(), 758u);
  for (unsigned b = 0; b < PStringCache::kBuckets; ++b) EXPECT_EQ(cache.ChainLength(b), 0u) << b;
  ExpectBalanced(cache);
}

TEST(PStringCacheTest, CreateForms) {
  PStringCache cache;
  struct Case { const char* text; int n; const char* expected; };  // expected null: null node
  const Case cases[] = {
      {"abcdef", 3, "abc"}, {"abcdef", -1, "abcdef"}, {"abc", 10, "abc"}, {"abc", 0, ""},
      {nullptr, -1, nullptr}, {nullptr, 0, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected ? c.expected : "<null>");
    Node* n = cache.CreateLimited(c.text, c.n);
    if (!c.expected) {
      EXPECT_EQ(n, nullptr);
      continue;
    }
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(Text(n), c.expected);
    Node* same = cache.Create(U(c.expected));
    EXPECT_EQ(same, n);
    cache.Destroy(same);
    cache.Destroy(n);
  }
  EXPECT_EQ(cache.Create(nullptr), nullptr);
  EXPECT_EQ(cache.Create(nullptr, 0), nullptr);
  EXPECT_EQ(cache.Create(nullptr, 5), nullptr);
  ExpectBalanced(cache);
}

TEST(PStringCacheTest, DelAndIns) {
  struct Case {
    const char* text;  // null: null node
    const char* insert;
    unsigned position, count;  // insert null: Del(position, count)
    const char* expected;
  };
  const Case cases[] = {
      {"abcdef", nullptr, 3, 100, "abc"},  {"abcdef", nullptr, 2, 2, "abef"}, {"abcdef", nullptr, 0, 6, ""},
      {"abcdef", nullptr, 5, 1, "abcde"},  {"abcdef", nullptr, 2, 4, "ab"},   {"abcdef", nullptr, 6, 1, "abcdef"},
      {"abcdef", nullptr, 1, 0, "abcdef"}, {"abc", "XY", 1, 0, "aXYbc"},      {"abc", "XY", 0, 0, "XYabc"},
      {"abc", "XY", 3, 0, "abcXY"},        {"abc", "XY", 4, 0, "abc"},        {"abc", "", 0, 0, "abc"},
      {nullptr, "XY", 0, 0, "XY"},         {"", "XY", 0, 0, "XY"},
      {"abcdef", "a long insertion that outgrows the block", 3, 0, "abca long insertion that outgrows the blockdef"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text ? c.text : "<null>") + (c.insert ? " ins " : " del ") + std::to_string(c.position));
    PStringCache cache;
    Node* n = c.text ? cache.Create(U(c.text)) : nullptr;
    Node* r = c.insert ? cache.Ins(n, U(c.insert), c.position) : cache.Del(n, c.position, c.count);
    EXPECT_EQ(Text(r), c.expected);
    EXPECT_EQ(r->count, 1);
    if (c.text && std::strcmp(c.text, c.expected) == 0) {
      EXPECT_EQ(r, n);  // returned unchanged
    }
    Node* interned = cache.Create(U(c.expected));
    EXPECT_EQ(interned, r);
    cache.Destroy(interned);
    cache.Destroy(r);
    ExpectBalanced(cache);
  }
  PStringCache cache;
  EXPECT_EQ(cache.Del(nullptr, 0, 1), nullptr);
  EXPECT_EQ(cache.Ins(nullptr, nullptr, 0), nullptr);
}

TEST(PStringCacheTest, EditInPlaceWhenOnlyReferenceAndRoomy) {
  PStringCache cache;
  Node* n = cache.Create(U("abcdef"));  // capacity 8
  uint32_t created = cache.GetStatistics().created;
  Node* r = cache.Del(n, 3, 100);
  EXPECT_EQ(r, n);  // same block, now "abc", relinked in its new bucket
  EXPECT_EQ(Text(r), "abc");
  EXPECT_EQ(cache.ChainLength(PStringCache::Bucket(U("abcdef"), 6)), 0u);
  EXPECT_EQ(cache.ChainLength(PStringCache::Bucket(U("abc"), 3)), 1u);
  EXPECT_EQ(cache.GetStatistics().created, created + 1);

  // Inserting the node's own text: the source is saved before the block moves.
  r = cache.Ins(r, U(r->text), 1);
  EXPECT_EQ(r, n);
  EXPECT_EQ(Text(r), "aabcbc");
  cache.Destroy(r);
  ExpectBalanced(cache);
}

TEST(PStringCacheTest, EditCopiesWhenSharedOrTooSmall) {
  PStringCache cache;
  // Shared: the other holder keeps the old text.
  Node* n = cache.Create(U("abcdef"));
  cache.AddReference(n);
  Node* r = cache.Del(n, 3, 100);
  EXPECT_NE(r, n);
  EXPECT_EQ(Text(r), "abc");
  EXPECT_EQ(Text(n), "abcdef");
  EXPECT_EQ(n->count, 1);
  cache.Destroy(r);

  // Too small: the old node loses its reference and waits for collection.
  r = cache.Ins(n, U("XYZ"), 6);  // length 9 needs capacity 24, the node has 8
  EXPECT_NE(r, n);
  EXPECT_EQ(Text(r), "abcdefXYZ");
  EXPECT_EQ(n->count, 0);
  EXPECT_EQ(Text(n), "abcdef");
  cache.Destroy(r);
  ExpectBalanced(cache);

  // An edit whose result already exists yields that node; the block edited in
  // place (the revived "abcdef") is freed.
  Node* abc = cache.Create(U("abc"));
  Node* m = cache.Create(U("abcdef"));
  EXPECT_EQ(m, n);
  Node* s = cache.Del(m, 3, 100);
  EXPECT_EQ(s, abc);
  EXPECT_EQ(abc->count, 2);
  EXPECT_EQ(cache.ChainLength(PStringCache::Bucket(U("abcdef"), 6)), 0u);
  cache.Destroy(s);
  cache.Destroy(abc);
  ExpectBalanced(cache);
}

TEST(PStringCacheTest, CaseConversionUsesWindows1252) {
  struct Case { const char* mixed; const char* lower; const char* upper; };
  const Case cases[] = {
      {"Track 12", "track 12", "TRACK 12"},
      // À É Š Œ Ž Ÿ and their partners; × ÷ ß have none.
      {"\xC0\xE9\x8A\x9C\x8E\xFF\xD7\xF7\xDF", "\xE0\xE9\x9A\x9C\x9E\xFF\xD7\xF7\xDF", "\xC0\xC9\x8A\x8C\x8E\x9F\xD7\xF7\xDF"},
  };
  PStringCache cache;
  for (const Case& c : cases) {
    Node* lower = cache.ToLower(cache.Create(U(c.mixed)));
    EXPECT_EQ(Text(lower), c.lower);
    Node* upper = cache.ToUpper(cache.Create(U(c.mixed)));
    EXPECT_EQ(Text(upper), c.upper);
    cache.Destroy(lower);
    cache.Destroy(upper);
  }
  Node* empty = cache.Create(U(""));
  EXPECT_EQ(cache.ToUpper(empty), empty);
  EXPECT_EQ(cache.ToLower(nullptr), nullptr);
  cache.Destroy(empty);
  ExpectBalanced(cache);
}

TEST(PStringCacheTest, Find) {
  PStringCache cache;
  Node* n = cache.Create(U("abcabc"));
  struct TextCase { const char* what; unsigned start; int expected; };
  const TextCase texts[] = {{"bc", 0, 1}, {"bc", 2, 4}, {"bc", 5, -1}, {"abcabc", 0, 0}, {"x", 0, -1},
                            {"", 3, 3},   {"a", 7, -1}, {nullptr, 0, -1}};
  for (const TextCase& c : texts)
    EXPECT_EQ(PStringCache::Find(n, c.what ? U(c.what) : nullptr, c.start), c.expected)
        << (c.what ? c.what : "<null>") << " from " << c.start;
  struct CharCase { unsigned what, start; int expected; };
  const CharCase chars[] = {{'c', 0, 2}, {'c', 3, 5}, {'c', 6, -1}, {'z', 0, -1}, {0x100 + 'a', 0, -1}, {'a', 99, -1}};
  for (const CharCase& c : chars) EXPECT_EQ(PStringCache::Find(n, c.what, c.start), c.expected) << c.what;
  EXPECT_EQ(PStringCache::Find(nullptr, U("a"), 0), -1);
  EXPECT_EQ(PStringCache::Find(nullptr, 'a', 0), -1);
  cache.Destroy(n);
}

TEST(PStringCacheTest, GetTextCutsToTheBuffer) {
  PStringCache cache;
  Node* n = cache.Create(U("abcdef"));
  struct Case { Node* node; unsigned size; const char* expected; unsigned copied; };
  const Case cases[] = {{n, 4, "abc", 3}, {n, 7, "abcdef", 6}, {n, 100, "abcdef", 6}, {n, 1, "", 0}, {nullptr, 10, "", 0}};
  for (const Case& c : cases) {
    char buffer[16];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(PStringCache::GetText(c.node, buffer, c.size < sizeof buffer ? c.size : sizeof buffer), c.copied);
    EXPECT_STREQ(buffer, c.expected);
  }
  char untouched = '#';
  EXPECT_EQ(PStringCache::GetText(n, &untouched, 0), 0u);
  EXPECT_EQ(untouched, '#');
  cache.Destroy(n);
}

// --- PString, on the process's cache ---

int32_t CountOf(const PString& s) { return s.GetNode()->count; }

TEST(PStringTest, InterningAndNull) {
  PString a("Track"), b("Track"), c("track"), empty(""), none, fromNull(nullptr);
  EXPECT_EQ(a, b);
  EXPECT_NE(a, c);
  EXPECT_TRUE(none.IsNull());
  EXPECT_TRUE(fromNull.IsNull());
  EXPECT_FALSE(empty.IsNull());
  EXPECT_NE(empty, none);
  EXPECT_STREQ(none.c_str(), "");
  EXPECT_EQ(none.Length(), 0u);
  EXPECT_STREQ(a.c_str(), "Track");
  EXPECT_EQ(a.Length(), 5u);
  EXPECT_EQ(PString::cache(), PString::cache());

  std::unordered_set<PString> set{a, b, c, PString("Track")};
  EXPECT_EQ(set.size(), 2u);
  EXPECT_EQ(set.count(PString("track")), 1u);
}

TEST(PStringTest, CopyAndAssignKeepCountsRight) {
  PString a("pstring-test/copy-assign");
  EXPECT_EQ(CountOf(a), 1);
  {
    PString b(a);
    EXPECT_EQ(CountOf(a), 2);
    PString c;
    c = b;
    EXPECT_EQ(CountOf(a), 3);
    c = "pstring-test/other";
    EXPECT_EQ(CountOf(a), 2);
    PString d(std::move(b));
    EXPECT_TRUE(b.IsNull());
    EXPECT_EQ(CountOf(a), 2);
  }
  EXPECT_EQ(CountOf(a), 1);

  PString handle = PString(a);
  PString::Node* node = handle.Detach();
  EXPECT_TRUE(handle.IsNull());
  EXPECT_EQ(node->count, 2);
  PString adopted = PString::Adopt(node);
  EXPECT_EQ(adopted, a);
  EXPECT_EQ(CountOf(a), 2);
}

TEST(PStringTest, AssigningFromItselfKeepsTheLastReference) {
  PStringCache* cache = PString::cache();
  PString s("pstring-test/self-assign");
  PString::Node* node = s.GetNode();
  PStringCache::Statistics before = cache->GetStatistics();

  const PString& alias = s;
  s = alias;
  EXPECT_EQ(s.GetNode(), node);
  EXPECT_EQ(node->count, 1);
  s = s.c_str();  // text read from the node being replaced
  EXPECT_EQ(s.GetNode(), node);
  EXPECT_EQ(node->count, 1);
  PString& same = s;
  s = std::move(same);
  EXPECT_EQ(s.GetNode(), node);

  PStringCache::Statistics after = cache->GetStatistics();
  EXPECT_EQ(after.liveNodes, before.liveNodes);
  EXPECT_EQ(after.references, before.references);
  // A full collection round leaves the node alone: its count never touched 0.
  for (unsigned i = 0; i < PStringCache::kBuckets; ++i) cache->CollectGarbage();
  EXPECT_STREQ(s.c_str(), "pstring-test/self-assign");
  EXPECT_EQ(PString("pstring-test/self-assign").GetNode(), node);
}

TEST(PStringTest, SetfAndAdd) {
  PString s("old");
  s.Setf("%s", "");
  EXPECT_TRUE(s.IsNull());  // null, not the "" node

  s.Setf("%s-%d", "loco", 7);
  EXPECT_EQ(s, PString("loco-7"));
  s.Setf("%s!", s.c_str());  // formatted from its own text
  EXPECT_EQ(s, PString("loco-7!"));

  PString t;
  EXPECT_EQ(t.Addf("abc"), 3u);
  EXPECT_EQ(t, PString("abc"));
  EXPECT_EQ(t.Addf("-%d", 12), 3u);
  EXPECT_EQ(t, PString("abc-12"));
  EXPECT_EQ(t.Addf("%s", ""), 0u);
  EXPECT_EQ(t, PString("abc-12"));
}

TEST(PStringTest, Ordering) {
  struct Case { const char* left; const char* right; bool less; };
  const Case cases[] = {
      {nullptr, nullptr, false}, {nullptr, "", true}, {"", nullptr, false}, {"", "a", true},
      {"a", "b", true},          {"b", "a", false},   {"a", "a", false},   {"a", "ab", true},
      {"ab", "a", false},        {"Z", "a", true},    {"\xE9", "z", false}, {"z", "\xE9", true},
  };
  for (const Case& c : cases) {
    PString l(c.left), r(c.right);
    EXPECT_EQ(l < r, c.less) << (c.left ? c.left : "<null>") << " < " << (c.right ? c.right : "<null>");
  }
}

TEST(PStringTest, CompareAndEqualsIgnoreCase) {
  struct Case { const char* left; const char* right; int compare; bool equals; };
  const Case cases[] = {
      {nullptr, nullptr, 0, true}, {nullptr, "", 0, false},     {nullptr, "a", -1, false},
      {"", nullptr, 0, false},     {"a", nullptr, 1, false},    {"", "", 0, true},
      {"abc", "ABC", 0, true},     {"abc", "abd", -1, false},   {"b", "A", 1, false},
      {"Track", "Tracks", -1, false}, {"\xC9t\xE9", "\xE9T\xC9", 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.left ? c.left : "<null>") + " vs " + (c.right ? c.right : "<null>"));
    PString l(c.left);
    EXPECT_EQ(l.Compare(c.right), c.compare);
    EXPECT_EQ(l.EqualsIgnoreCase(PString(c.right)), c.equals);
  }
}

TEST(PStringTest, PredefinedStrings) {
  const char* const expected[] = {"OnMinZoom", "OnMaxZoom", "OnMinPitch", "OnMaxPitch", "OnMinYaw", "OnMaxYaw",
                                  "OnMinRoll", "OnMaxRoll", "OnMinTargetPitch", "OnMaxTargetPitch",
                                  "OnMinTargetYaw", "OnMaxTargetYaw", "undefined", "default", "MCP", "NULL",
                                  "BaseLandscape", "Sky", "Main_void", "UserInterface", ""};
  ASSERT_EQ(PredefinedStrings::kCount, std::size(expected));
  PredefinedStrings::Assign();
  for (unsigned i = 0; i < PredefinedStrings::kCount; ++i) {
    EXPECT_STREQ(PredefinedStrings::kTexts[i], expected[i]);
    EXPECT_EQ(PredefinedStrings::Get(i), PString(expected[i])) << i;
  }
  EXPECT_FALSE(PredefinedStrings::Get(20).IsNull());
  int32_t count = CountOf(PredefinedStrings::Get(17));
  PredefinedStrings::Assign();  // again: same nodes, no extra references
  EXPECT_EQ(CountOf(PredefinedStrings::Get(17)), count);
  PredefinedStrings::Release();
  for (unsigned i = 0; i < PredefinedStrings::kCount; ++i) EXPECT_TRUE(PredefinedStrings::Get(i).IsNull());
  EXPECT_THROW(PredefinedStrings::Get(PredefinedStrings::kCount), std::out_of_range);
}

TEST(PStringTest, ThreadsShareNodesAndCollectSafely) {
  PStringCache* cache = PString::cache();
  PStringCache::Statistics before = cache->GetStatistics();
  constexpr int kThreads = 8, kRounds = 3000, kNames = 48;
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, cache, &mismatches] {
      std::vector<PString> held;
      for (int i = 0; i < kRounds; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "pstring-test/MT/<KUID2:%d:%d:1>", (i * 7 + t) % kNames, i % 3);
        PString s(name);
        PString copy = s;
        if (copy != PString(name) || std::strcmp(copy.c_str(), name) != 0) ++mismatches;
        if (i % 5 == 0) {
          copy.Addf("/%d", t);
          if (copy.Compare(name) <= 0) ++mismatches;
        }
        if (i % 4 == 0) {
          PString lower = PString::Adopt(cache->ToLower(PString(s).Detach()));
          if (lower.Compare(name) != 0 || lower == s) ++mismatches;
          PString mine;  // usually the only reference: edited in place
          mine.Setf("%s#%d", name, t);
          mine.Addf("+");
          if (mine.Length() != std::strlen(name) + 3 + (t >= 10)) ++mismatches;
        }
        if (i % 7 == 0) held.push_back(s);
        if (i % 11 == 0 && !held.empty()) held.erase(held.begin());
        if (i % 3 == 0) cache->CollectGarbage();
      }
      for (const PString& h : held)
        if (std::strncmp(h.c_str(), "pstring-test/MT/", 16) != 0) ++mismatches;
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(mismatches.load(), 0);
  PStringCache::Statistics after = cache->GetStatistics();
  EXPECT_EQ(after.references, before.references);
  EXPECT_EQ(after.liveNodes, before.liveNodes);
}

} // namespace
} // namespace Vak
