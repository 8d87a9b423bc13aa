#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "Vak/Bexlorn/Alloc.h"
#include "Vak/Bexlorn/ByteOrder.h"
#include "content/ACSChunk.h"
#include "content/ACSChunkPtr.h"
#include "content/KUID.h"
#include "content/TDBTags.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes IntBytes(std::initializer_list<int32_t> values) {
  Bytes out;
  for (int32_t v : values) {
    Vak::AppendLE32(out, static_cast<uint32_t>(v));
  }
  return out;
}

Bytes FloatBytes(std::initializer_list<float> values) {
  Bytes out;
  for (float f : values) {
    uint32_t u;
    std::memcpy(&u, &f, 4);
    Vak::AppendLE32(out, u);
  }
  return out;
}

Bytes TextBytes(const char* text) { return Bytes(text, text + std::strlen(text) + 1); }

Bytes KUIDBytes(const KUID& kuid) {
  uint32_t packed, content;
  kuid.Pack(packed, content);
  return IntBytes({static_cast<int32_t>(packed), static_cast<int32_t>(content)});
}

ACSRawDataPtr Raw(const Bytes& bytes) {
  return ACSRawDataCore::CreateCopy(static_cast<uint32_t>(bytes.size()), bytes.data());
}

Bytes Of(const ACSRawDataPtr& data) { return data.Data() ? Bytes(data.Data(), data.Data() + data.Size()) : Bytes(); }

ACSChunkPtr Value(int type, const Bytes& bytes) { return ACSChunkPtr(new TDBDataTag(type, Raw(bytes))); }

ACSChunkPtr Container() { return ACSChunkPtr(new TDBContainerTag); }

std::vector<std::string> Names(ACSChunk* chunk) {
  std::vector<std::string> out;
  for (int i = 0; i < chunk->GetChildCount(); ++i) out.push_back(chunk->GetChildName(i).c_str());
  return out;
}

} // namespace

TEST(ChunkTree, NullChunkChainsAndIgnoresEdits) {
  ACSChunkPtr null = ACSChunk::GetNull();
  EXPECT_EQ(null.Get(), ACSChunk::GetNull().Get());
  EXPECT_TRUE(ACSChunk::IsNullChunk(null.Get()));
  EXPECT_EQ(null->GetType(), kACSEmpty);

  ACSChunkPtr root = Container();
  // A lookup that finds nothing gives the null chunk, so chained lookups are safe.
  ACSChunkPtr deep = root->FindChild("a")->FindChild("b")->GetChild("c");
  EXPECT_EQ(deep.Get(), null.Get());

  null->SetChild("x", Container());
  null->SetValue(kACSInt, Raw(IntBytes({1})));
  EXPECT_EQ(null->GetChildCount(), 0);
  EXPECT_EQ(null->GetDataSize(), 0u);
  EXPECT_EQ(null->GetData(), nullptr);
  EXPECT_EQ(null->GetType(), kACSEmpty);
  EXPECT_EQ(null->CreateChunk(kACSContainer, ACSRawDataPtr()).Get(), null.Get());
  // Past the end the name is the empty interned string, not null.
  EXPECT_FALSE(null->GetChildName(0).IsNull());
  EXPECT_STREQ(null->GetChildName(0).c_str(), "");

  ACSChunkPtr value = Value(kACSInt, IntBytes({5}));
  EXPECT_EQ(value->GetChildCount(), 0);
  EXPECT_EQ(value->FindChild("x").Get(), null.Get());
}

TEST(ChunkTree, AsContainerRejectsNullAndEmpty) {
  EXPECT_EQ(ACSChunk::AsContainer(nullptr).Get(), nullptr);
  EXPECT_EQ(ACSChunk::AsContainer(ACSChunk::GetNull().Get()).Get(), nullptr);
  ACSChunkPtr empty = Value(kACSEmpty, {});
  EXPECT_EQ(ACSChunk::AsContainer(empty.Get()).Get(), nullptr);
  ACSChunkPtr root = Container();
  EXPECT_EQ(ACSChunk::AsContainer(root.Get()).Get(), root.Get());
  ACSChunkPtr value = Value(kACSInt, IntBytes({1}));
  EXPECT_EQ(ACSChunk::AsContainer(value.Get()).Get(), value.Get());
}

TEST(ChunkTree, RawDataFactories) {
  EXPECT_FALSE(ACSRawDataCore::CreateCopy(0, "x"));
  EXPECT_FALSE(ACSRawDataCore::CreateCopy(3, nullptr));
  EXPECT_FALSE(ACSRawDataCore::Create(0, Vak::Alloc::New(4)));  // freed, not leaked
  EXPECT_FALSE(ACSRawDataCore::Create(4, nullptr));

  char text[] = "abc";
  ACSRawDataPtr copy = ACSRawDataCore::CreateCopy(4, text);
  text[0] = 'z';
  EXPECT_STREQ(reinterpret_cast<const char*>(copy.Data()), "abc");
  EXPECT_TRUE(copy->Owns());
  EXPECT_EQ(copy->ReferenceCountValue(), 1);

  EXPECT_FALSE(ACSRawDataCore::FromChunk(Container().Get()));
  EXPECT_FALSE(ACSRawDataCore::FromChunk(ACSChunk::GetNull().Get()));

  // A view keeps its chunk alive after every other holder is gone.
  ACSRawDataPtr view;
  const uint8_t* bytes;
  {
    ACSChunkPtr node = Value(kACSText, TextBytes("kept"));
    bytes = node->GetData();
    view = ACSRawDataCore::FromChunk(node.Get());
  }
  EXPECT_FALSE(view->Owns());
  EXPECT_EQ(view.Data(), bytes);
  EXPECT_EQ(Of(view), TextBytes("kept"));
}

TEST(ChunkTree, ContainerKeepsInsertionOrderAndFindsFirstOfAName) {
  ACSChunkPtr root = Container();
  ACSChunkPtr a1 = Value(kACSInt, IntBytes({1}));
  ACSChunkPtr b = Value(kACSInt, IntBytes({2}));
  ACSChunkPtr a2 = Value(kACSInt, IntBytes({3}));
  root->SetChild("a", a1);
  root->SetChild("b", b);
  root->SetChild("a", a2);
  root->SetChild("c", ACSChunkPtr());  // null is ignored
  EXPECT_EQ(Names(root.Get()), (std::vector<std::string>{"a", "b", "a"}));
  EXPECT_EQ(root->FindChild("a").Get(), a1.Get());
  EXPECT_EQ(root->GetChild("a").Get(), a1.Get());
  EXPECT_EQ(root->FindChild("A").Get(), ACSChunk::GetNull().Get());  // names match exactly
  EXPECT_STREQ(root->GetChildName(3).c_str(), "");
  EXPECT_STREQ(root->GetChildName(-1).c_str(), "");

  root->RemoveChild(a1);
  EXPECT_EQ(Names(root.Get()), (std::vector<std::string>{"b", "a"}));
  EXPECT_EQ(root->FindChild("a").Get(), a2.Get());
  root->RemoveChild(a1);  // no longer there
  root->RemoveChild(ACSChunk::GetNull());
  EXPECT_EQ(root->GetChildCount(), 2);
}

TEST(ChunkTree, SwapChildrenExchangesValuesNotNames) {
  ACSChunkPtr root = Container();
  ACSChunkPtr x = Value(kACSInt, IntBytes({1}));
  ACSChunkPtr y = Value(kACSInt, IntBytes({2}));
  root->SetChild("x", x);
  root->SetChild("y", y);
  root->SwapChildren(x, y);
  EXPECT_EQ(Names(root.Get()), (std::vector<std::string>{"x", "y"}));
  EXPECT_EQ(root->FindChild("x").Get(), y.Get());
  EXPECT_EQ(root->FindChild("y").Get(), x.Get());

  ACSChunkPtr stranger = Value(kACSInt, IntBytes({3}));
  root->SwapChildren(x, stranger);
  root->SwapChildren(x, x);
  EXPECT_EQ(root->FindChild("x").Get(), y.Get());
  EXPECT_EQ(root->FindChild("y").Get(), x.Get());
}

TEST(ChunkTree, CreateChunkAndSetValue) {
  ACSChunkPtr root = Container();
  ACSChunkPtr sub = root->CreateChunk(kACSContainer, Raw(IntBytes({1})));
  EXPECT_EQ(sub->GetType(), kACSContainer);
  EXPECT_EQ(sub->GetDataSize(), 0u);

  ACSRawDataPtr data = Raw(IntBytes({7, 8}));
  ACSChunkPtr value = root->CreateChunk(kACSInt, data);
  EXPECT_EQ(value->GetType(), kACSInt);
  EXPECT_EQ(value->GetData(), data.Data());  // shared, not copied
  EXPECT_EQ(value->GetDataSize(), 8u);

  value->SetValue(kACSText, ACSRawDataPtr());
  EXPECT_EQ(value->GetType(), kACSText);
  EXPECT_EQ(value->GetData(), nullptr);
  EXPECT_EQ(data->ReferenceCountValue(), 1);  // the old value was released
}

namespace {

struct ConvertCase {
  const char* what;
  int from;
  Bytes input;
  int to;
  std::optional<Bytes> expected;  // nullopt: no value
};

} // namespace

TEST(ChunkTree, ConvertersTable) {
  const KUID k56(5, 6, 0);
  const std::vector<ConvertCase> cases = {
      {"text int", kACSText, TextBytes("12"), kACSInt, IntBytes({12})},
      {"text int trailing blanks", kACSText, TextBytes("12 \t "), kACSInt, IntBytes({12})},
      {"text int with junk", kACSText, TextBytes("12abc"), kACSInt, std::nullopt},
      {"text int leading blank", kACSText, TextBytes(" 12"), kACSInt, std::nullopt},
      {"text fraction to int", kACSText, TextBytes("-3.7"), kACSInt, IntBytes({-3})},
      {"text too big for int", kACSText, TextBytes("99999999999"), kACSInt, std::nullopt},
      {"text sign only", kACSText, TextBytes("-"), kACSInt, std::nullopt},
      {"text dot only", kACSText, TextBytes("."), kACSFloat, std::nullopt},
      {"text blanks only", kACSText, TextBytes("  "), kACSFloat, std::nullopt},
      {"text empty", kACSText, TextBytes(""), kACSInt, std::nullopt},
      {"text no bytes", kACSText, {}, kACSInt, std::nullopt},
      {"text float", kACSText, TextBytes("2.5"), kACSFloat, FloatBytes({2.5f})},
      {"text float without dot before e", kACSText, TextBytes("1e5"), kACSFloat, std::nullopt},
      {"text float exponent", kACSText, TextBytes("1.5e+3"), kACSFloat, FloatBytes({1500.0f})},
      {"text float exponent without sign", kACSText, TextBytes("1.5e3"), kACSFloat, std::nullopt},
      {"text float exponent without digits", kACSText, TextBytes("1.5e+"), kACSFloat, std::nullopt},
      {"text two dots", kACSText, TextBytes("1.2.3"), kACSFloat, std::nullopt},
      {"text list is not a number", kACSText, TextBytes("1,2,3"), kACSFloat, std::nullopt},
      {"text kuid", kACSText, TextBytes("<kuid:1:2>"), kACSKUID, KUIDBytes(KUID(1, 2, 0))},
      {"empty text to kuid", kACSText, TextBytes(""), kACSKUID, KUIDBytes(KUID::Null())},
      {"junk text to kuid", kACSText, TextBytes("hello"), kACSKUID, KUIDBytes(KUID::Null())},
      {"int array text", kACSInt, IntBytes({1, 2, 3}), kACSText, TextBytes("1,2,3")},
      {"negative int text", kACSInt, IntBytes({-2147483647 - 1}), kACSText, TextBytes("-2147483648")},
      {"empty int array text", kACSInt, Bytes{1, 2}, kACSText, std::nullopt},
      {"int to float via text", kACSInt, IntBytes({7}), kACSFloat, FloatBytes({7.0f})},
      {"int array to float via text", kACSInt, IntBytes({1, 2, 3}), kACSFloat, std::nullopt},
      {"float array text", kACSFloat, FloatBytes({1.5f, 2.0f}), kACSText, TextBytes("1.5,2")},
      {"short float text", kACSFloat, Bytes{1, 2, 3}, kACSText, std::nullopt},
      {"float to int truncates", kACSFloat, FloatBytes({2.75f}), kACSInt, IntBytes({2})},
      {"negative float to int", kACSFloat, FloatBytes({-3.7f}), kACSInt, IntBytes({-3})},
      {"large float to int by number", kACSFloat, FloatBytes({1234567.0f}), kACSInt, IntBytes({1234567})},
      {"float beyond int", kACSFloat, FloatBytes({3e9f}), kACSInt, std::nullopt},
      {"nan to int", kACSFloat, FloatBytes({std::numeric_limits<float>::quiet_NaN()}), kACSInt, std::nullopt},
      {"float array to int", kACSFloat, FloatBytes({1.0f, 2.0f}), kACSInt, std::nullopt},
      {"kuid text", kACSKUID, KUIDBytes(k56), kACSText, TextBytes("<kuid:5:6>")},
      {"kuid2 text", kACSKUID, KUIDBytes(KUID(5, 6, 3)), kACSText, TextBytes("<kuid2:5:6:3>")},
      {"null kuid text", kACSKUID, KUIDBytes(KUID::Null()), kACSText, TextBytes("<NULL>")},
      {"short kuid text", kACSKUID, IntBytes({1}), kACSText, std::nullopt},
      {"kuid to int via text", kACSKUID, KUIDBytes(k56), kACSInt, std::nullopt},
      {"kuid to float via text", kACSKUID, KUIDBytes(k56), kACSFloat, std::nullopt},
      {"float to kuid via text", kACSFloat, FloatBytes({1.5f}), kACSKUID, KUIDBytes(KUID::Null())},
      {"empty converts to nothing", kACSEmpty, {}, kACSText, std::nullopt},
      {"raw has no text", kACSRaw, Bytes{1, 2, 3}, kACSText, std::nullopt},
      {"type 5 has no text", kACSText5, TextBytes("x"), kACSText, std::nullopt},
      {"container has no text", kACSContainer, {}, kACSText, std::nullopt},
  };
  for (const ConvertCase& c : cases) {
    SCOPED_TRACE(c.what);
    ACSRawDataPtr output = Raw({9});  // replaced in every case
    ACSConverter::Convert(c.from, c.to, Raw(c.input), output);
    if (c.expected) {
      EXPECT_EQ(Of(output), *c.expected);
    } else {
      EXPECT_FALSE(output);
    }
  }
}

TEST(ChunkTree, ConvertingToTheSameTypeSharesTheBytes) {
  ACSRawDataPtr input = Raw(Bytes{1, 2, 3});
  ACSRawDataPtr output;
  ACSConverter::Convert(kACSRaw, kACSRaw, input, output);
  EXPECT_EQ(output.Get(), input.Get());
  ACSConverter::Convert(kACSEmpty, kACSEmpty, ACSRawDataPtr(), output);
  EXPECT_FALSE(output);
}

TEST(ChunkTree, ConverterListRunsFromTheLastConstructed) {
  std::vector<std::pair<int, int>> order;
  for (ACSConverter* c = ACSConverter::First(); c; c = c->Next()) order.emplace_back(c->From(), c->To());
  const std::vector<std::pair<int, int>> expected = {
      {kACSFloat, kACSInt}, {kACSKUID, kACSText}, {kACSFloat, kACSText}, {kACSInt, kACSText},
      {kACSText, kACSKUID}, {kACSText, kACSFloat}, {kACSText, kACSInt},
  };
  EXPECT_EQ(order, expected);
}

TEST(ChunkTree, IsNumberText) {
  const std::vector<std::pair<const char*, bool>> cases = {
      {"0", true},         {"-12", true},    {"1.", true},       {".5", true},      {"-0.25 \t", true},
      {"1.5e-3", true},    {"1.5e+10", true}, {"", false},       {"-", false},      {".", false},
      {"-.", false},       {"1e+5", false},   {"1.5e5", false},  {"1.5e+", false},  {"1.5e+3e+1", false},
      {"1.5E+3", false},   {"1 2", false},    {" 1", false},     {"+1", false},     {"1,2", false},
      {"inf", false},      {"nan", false},    {"1.2.3", false},  {"1.5e+3.", false}, {"--1", false},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(IsNumberText(text), expected) << text;
  EXPECT_FALSE(IsNumberText(nullptr));
}

TEST(ChunkTree, FloatTextKeepsPercentGExceptExponentForms) {
  const std::vector<std::pair<float, const char*>> cases = {
      {1.5f, "1.5"},
      {2.0f, "2"},
      {-0.25f, "-0.25"},
      {999999.0f, "999999"},
      {0.0001f, "0.0001"},
      {1e-5f, "0.00001"},
      {-2.5e-7f, "-0.00000025"},
      {1e6f, "1000000.0"},
      {1234567.0f, "1234567.0"},
      {123456789.0f, "123456790.0"},
      {1e20f, "100000000000000000000.0"},
      {std::numeric_limits<float>::infinity(), "inf"},
  };
  for (const auto& [value, expected] : cases) {
    char text[kChunkFloatTextMax];
    std::size_t n = FormatChunkFloat(value, text);
    EXPECT_STREQ(text, expected);
    EXPECT_EQ(n, std::strlen(expected));
  }
}

// What the text file's reader takes as a float: optional '-', digits and
// '.', at least one '.'.
static bool LooksLikeTextFileFloat(const char* text) {
  const char* p = text + (*text == '-');
  return *p && std::strspn(p, "0123456789.") == std::strlen(p) && std::strchr(p, '.');
}

TEST(ChunkTree, FloatTextReadsBackUnderTheNumberTests) {
  std::mt19937 random(1234);
  std::vector<float> values = {FLT_MAX, -FLT_MAX, FLT_MIN, FLT_TRUE_MIN, -FLT_TRUE_MIN, 1e-5f, 3e38f, 8388607.5f};
  for (int i = 0; i < 20000; ++i) {
    uint32_t bits = random();
    float f;
    std::memcpy(&f, &bits, 4);
    if (std::isfinite(f)) values.push_back(f);
  }
  for (float f : values) {
    char text[kChunkFloatTextMax];
    char percentG[64];
    FormatChunkFloat(f, text);
    std::snprintf(percentG, sizeof percentG, "%g", static_cast<double>(f));
    ASSERT_TRUE(IsNumberText(text)) << text;
    if (std::strchr(percentG, 'e')) {
      ASSERT_TRUE(LooksLikeTextFileFloat(text)) << text;
      ASSERT_EQ(std::strtof(text, nullptr), f) << text;
      float scanned = 0;
      ASSERT_EQ(std::sscanf(text, "%f", &scanned), 1);
      ASSERT_EQ(scanned, f) << text;
      ASSERT_LT(std::strlen(text), kChunkFloatTextMax);
    } else {
      ASSERT_STREQ(text, percentG);
    }
  }
}

TEST(ChunkTree, SortOrdersByUnsignedBytes) {
  ACSChunkPtr root = Container();
  for (const char* name : {"b", "a", "ab", "B", "\xE9", ""}) root->SetChild(name, Value(kACSInt, IntBytes({1})));
  root->SortChildren();
  EXPECT_EQ(Names(root.Get()), (std::vector<std::string>{"", "B", "a", "ab", "b", "\xE9"}));
}

TEST(ChunkTree, SortLargeListsKeepsNamesWithTheirChildren) {
  for (int size : {0, 1, 10, 11, 12, 500, 3000}) {
    SCOPED_TRACE(size);
    std::mt19937 random(static_cast<unsigned>(size));
    ACSChunkPtr root = Container();
    std::vector<std::string> expected;
    for (int i = 0; i < size; ++i) {
      // Short names over a small alphabet give many duplicates.
      std::string name;
      for (int n = 1 + static_cast<int>(random() % 3); n > 0; --n) name += static_cast<char>('a' + random() % 4);
      expected.push_back(name);
      root->SetChild(name.c_str(), Value(kACSText, TextBytes(name.c_str())));
    }
    root->SortChildren();
    std::sort(expected.begin(), expected.end());
    ASSERT_EQ(Names(root.Get()), expected);
    for (int i = 0; i < size; ++i) {
      ASSERT_STREQ(reinterpret_cast<const char*>(root->FindChild(root->GetChildName(i))->GetData()),
                   root->GetChildName(i).c_str());
    }
  }
}

TEST(ChunkTree, DeepCopyIsIndependentAndSharesValueBytes) {
  ACSChunkPtr source = Container();
  ACSChunkPtr x = Value(kACSInt, IntBytes({1}));
  source->SetChild("x", x);
  ACSChunkPtr y = Container();
  y->SetChild("z", Value(kACSText, TextBytes("zed")));
  y->SetChild("w", Container());
  source->SetChild("y", y);

  ACSChunkPtr copy = Container();
  copy->SetChild("old", Value(kACSInt, IntBytes({9})));
  ACSChunk::CopyFrom(copy.Get(), source.Get());

  EXPECT_EQ(Names(copy.Get()), (std::vector<std::string>{"x", "y"}));
  ACSChunkPtr cx = copy->FindChild("x");
  EXPECT_NE(cx.Get(), x.Get());
  EXPECT_EQ(cx->GetData(), x->GetData());  // bytes shared
  ACSChunkPtr cy = copy->FindChild("y");
  EXPECT_NE(cy.Get(), y.Get());
  EXPECT_EQ(Names(cy.Get()), (std::vector<std::string>{"z", "w"}));
  EXPECT_EQ(cy->FindChild("w")->GetType(), kACSContainer);
  EXPECT_EQ(cy->FindChild("z")->GetData(), y->FindChild("z")->GetData());

  // Edits of either side stay on that side.
  cy->SetChild("new", Container());
  y->RemoveChild(y->FindChild("z"));
  EXPECT_EQ(y->GetChildCount(), 1);
  EXPECT_EQ(cy->GetChildCount(), 3);
  // The copy keeps the bytes alive after the source is gone.
  source.Release();
  x.Release();
  y.Release();
  EXPECT_EQ(Of(ACSRawDataCore::FromChunk(cx.Get())), IntBytes({1}));
}

TEST(ChunkTree, DeepCopyLooksChildrenUpByName) {
  ACSChunkPtr source = Container();
  source->SetChild("d", Value(kACSInt, IntBytes({1})));
  source->SetChild("d", Value(kACSInt, IntBytes({2})));
  ACSChunkPtr copy = Container();
  ACSChunk::CopyFrom(copy.Get(), source.Get());
  ASSERT_EQ(copy->GetChildCount(), 2);
  // Both entries find the first "d".
  EXPECT_EQ(copy->FindChild("d")->GetDataSize(), 4u);
  EXPECT_EQ(Of(ACSRawDataCore::FromChunk(copy->FindChild("d").Get())), IntBytes({1}));
  copy->RemoveChild(copy->FindChild("d"));
  EXPECT_EQ(Of(ACSRawDataCore::FromChunk(copy->FindChild("d").Get())), IntBytes({1}));
}

TEST(ChunkTree, LookupByIndexScalesToManyChildren) {
  constexpr int kChildren = 100000;
  ACSChunkPtr root = Container();
  std::vector<Vak::PString> names;
  names.reserve(kChildren);
  for (int i = 0; i < kChildren; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "c%d", i);
    names.emplace_back(name);
    root->SetChild(names.back(), Value(kACSInt, IntBytes({i})));
  }
  // Name at an index, then the child by that name: the walk the writers do.
  for (int i = 0; i < kChildren; ++i) {
    Vak::PString name = root->GetChildName(i);
    ASSERT_EQ(name, names[static_cast<size_t>(i)]);
    ACSChunkPtr child = root->FindChild(name);
    ASSERT_EQ(Of(ACSRawDataCore::FromChunk(child.Get())), IntBytes({i}));
  }
  // Removing keeps the index right for what stays.
  root->RemoveChild(root->FindChild(names[0]));
  root->RemoveChild(root->FindChild(names[kChildren / 2]));
  EXPECT_EQ(root->GetChildCount(), kChildren - 2);
  EXPECT_EQ(root->FindChild(names[0]).Get(), ACSChunk::GetNull().Get());
  EXPECT_EQ(Of(ACSRawDataCore::FromChunk(root->FindChild(names[kChildren - 1]).Get())), IntBytes({kChildren - 1}));
  EXPECT_EQ(Of(ACSRawDataCore::FromChunk(root->FindChild(names[kChildren / 2 + 1]).Get())),
            IntBytes({kChildren / 2 + 1}));
  // A duplicate appended later does not hide the first of its name.
  root->SetChild(names[7], Value(kACSInt, IntBytes({-1})));
  EXPECT_EQ(Of(ACSRawDataCore::FromChunk(root->FindChild(names[7]).Get())), IntBytes({7}));
  root->SortChildren();
  EXPECT_STREQ(root->GetChildName(0).c_str(), "c1");
  EXPECT_EQ(Of(ACSRawDataCore::FromChunk(root->FindChild(names[1]).Get())), IntBytes({1}));
}
