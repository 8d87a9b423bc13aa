// The index file: round trips, the header's checks, the older layouts and
// damaged record tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "Vak/Bexlorn/ByteOrder.h"
#include "assetdb/KuidBaseFile.h"
#include "assetdb/PersistentRecordList.h"
#include "assetdb/VADAssetIndex.h"
#include "assetdb/VADDatabaseFile.h"
#include "assetdb/VADDependencyTable.h"
#include "assetdb/VADLog.h"
#include "content/ACSFile.h"
#include "content/AppGlobals.h"
#include "content/FileHelpers.h"
#include "content/TStreamObfuscated.h"
#include "platform/os/File.h"
#include "tests/assetdb/database/IndexFileSupport.h"
#include "tests/assetdb/database/IndexFixture.h"

namespace {

using indexfile::Bytes;

Bytes Image(TBuffer& stream) {
  const DynamicBuffer& b = stream.GetBuffer();
  return Bytes(b.Data(), b.Data() + b.Size());
}

Bytes WriteIndex() {
  TBuffer stream;
  EXPECT_TRUE(gVadAssetIndex.WriteDatabase(stream));
  return Image(stream);
}

bool ReadIndex(const Bytes& bytes) {
  TBuffer stream;
  if (!bytes.empty()) stream.GetBuffer().Write(bytes.data(), static_cast<uint32_t>(bytes.size()));
  stream.GetBuffer().SetPosition(0);
  return gVadAssetIndex.ReadDatabase(stream);
}

// Every field of a record, set apart from a new record's value.
VADAssetInfo FullRecord(const KUID& kuid, const char* name) {
  VADAssetInfo r;
  r.kuid = kuid;
  r.categoryClasses = "SS;TO";
  r.name = name;
  r.regionList = "GB;DE";
  r.eraList = "1950;1960";
  r.keywords = "blue;steam";
  r.editingPath = "editing\\e1";
  r.archivePath = "assets/a1";
  r.archiveName = "builtin\\1";
  r.localPath = "local\\hash-01\\a1";
  r.mapKuid = KUID(7, 8, 0);
  r.flags = 0xFF;
  r.stateFlags = 0xFF;
  r.obsoleteStamp = gVadAssetIndex.ObsoleteGeneration();
  r.permissions = 0x1F;
  r.hasScripts = 1;
  r.sizeOnDisk = 123456;
  r.build = 3.505f;
  r.localRating = 4;
  r.firstInstalled = 0x112233445566LL;
  r.lastInstalled = -5;
  r.description = "a description";
  r.secondaryName = "second name";
  r.contentHash = -77;
  return r;
}

void ExpectSameRecord(const VADAssetInfo& a, const VADAssetInfo& b) {
  EXPECT_EQ(a.kuid, b.kuid);
  EXPECT_STREQ(indexfile::Text(a.categoryClasses), indexfile::Text(b.categoryClasses));
  EXPECT_STREQ(indexfile::Text(a.name), indexfile::Text(b.name));
  EXPECT_STREQ(indexfile::Text(a.regionList), indexfile::Text(b.regionList));
  EXPECT_STREQ(indexfile::Text(a.eraList), indexfile::Text(b.eraList));
  EXPECT_STREQ(indexfile::Text(a.keywords), indexfile::Text(b.keywords));
  EXPECT_STREQ(indexfile::Text(a.editingPath), indexfile::Text(b.editingPath));
  EXPECT_STREQ(indexfile::Text(a.archivePath), indexfile::Text(b.archivePath));
  EXPECT_STREQ(a.archiveName.c_str(), b.archiveName.c_str());
  EXPECT_STREQ(indexfile::Text(a.localPath), indexfile::Text(b.localPath));
  EXPECT_EQ(a.mapKuid, b.mapKuid);
  EXPECT_EQ(a.flags, b.flags);
  EXPECT_EQ(a.stateFlags, b.stateFlags);
  EXPECT_EQ(a.obsoleteStamp, b.obsoleteStamp);
  EXPECT_EQ(a.permissions, b.permissions);
  EXPECT_EQ(a.hasScripts, b.hasScripts);
  EXPECT_EQ(a.sizeOnDisk, b.sizeOnDisk);
  EXPECT_EQ(a.build, b.build);
  EXPECT_EQ(a.localRating, b.localRating);
  EXPECT_EQ(a.firstInstalled, b.firstInstalled);
  EXPECT_EQ(a.lastInstalled, b.lastInstalled);
  EXPECT_STREQ(indexfile::Text(a.description), indexfile::Text(b.description));
  EXPECT_STREQ(indexfile::Text(a.secondaryName), indexfile::Text(b.secondaryName));
  EXPECT_EQ(a.contentHash, b.contentHash);
}

// What an index file carries besides its records.
struct Scalars {
  const char* text0 = "kept text";
  const char* text1 = "kept too";
  uint8_t byte0 = 1;
  uint8_t textureOption = 1;
  uint32_t latestBuild = 40000;
  uint32_t indexBuild = 39000;
  int64_t serverTime = 1700000000;
  int64_t timeMarker = 1600000000;
  uint8_t rebuilt = 1;
};

// Files of any version, written by the layout tables with their gates run
// backwards: what a version lacks is not written.
Bytes WriteVersion(uint32_t v, const std::vector<VADAssetInfo>& records, const Scalars& s,
                   indexfile::FakeNetwork& network) {
  TBuffer file;
  file.WriteInt(vad_file::kMagic);
  file.WriteInt(v);
  file.WriteInt(0);  // patched below
  TStreamObfuscated out;
  out.Open(true, &file, v >= 34 ? TStreamObfuscated::kScrambled : TStreamObfuscated::kPlain);
  auto b = [&out](bool value) { out.WriteByte(value ? 1 : 0); };

  out.WriteInt(static_cast<uint32_t>(records.size()));
  for (const VADAssetInfo& r : records) {
    out.WriteKUID(r.kuid);
    for (const Vak::String* text : {&r.categoryClasses, &r.name, &r.regionList, &r.eraList, &r.keywords,
                                    &r.editingPath, &r.archivePath})
      out.WriteString(*text);
    out.WritePString(r.archiveName);
    out.WriteString(r.localPath);
    out.WriteKUID(r.mapKuid);
    for (int bit = 0; bit < 8; ++bit) b(r.flags & (1 << bit));
    for (int bit = 0; bit < 8; ++bit) {
      if (bit == 4 && v <= 27) continue;
      if (bit == 7 && v <= 22) continue;
      b(r.stateFlags & (1 << bit));
    }
    if (v > 22) b(r.obsoleteStamp == gVadAssetIndex.ObsoleteGeneration());
    for (int bit : {2, 3, 4}) b(r.permissions & (1 << bit));
    if (v > 28) {
      b(r.permissions & 1);
      b(r.permissions & 2);
    }
    if (v > 32) b(r.hasScripts);
    out.WriteInt(static_cast<uint32_t>(r.sizeOnDisk));
    uint32_t bits;
    std::memcpy(&bits, &r.build, 4);
    out.WriteInt(bits);
    out.WriteByte(r.localRating);
    indexfile::PutInt64(out, r.firstInstalled);
    indexfile::PutInt64(out, r.lastInstalled);
    out.WriteString(r.description);
    out.WriteString(r.secondaryName);
    if (v > 20) out.WriteInt(static_cast<uint32_t>(r.contentHash));
  }
  KuidTable tableA, tableB;
  tableA.Insert(KUID(1, 1, 0), KUID(1, 2, 0));
  tableB.Insert(KUID(3, 1, 0), KUID(3, 2, 0));
  tableA.Write(out);
  if (v > 25) tableB.Write(out);
  VADDependencyTable().Write(out);
  network.WriteUserNames(out);
  if (v >= 35) VADLog::Instance().Write(out);
  if (v > 23) out.WritePString(Vak::PString(s.text0));
  if (v > 35) {
    out.WritePString(Vak::PString(s.text1));
    b(s.byte0);
  }
  if (v > 24) b(s.textureOption);
  if (v > 29) {
    out.WriteInt(s.latestBuild);
    out.WriteInt(s.indexBuild);
  }
  if (v > 30) indexfile::PutInt64(out, s.serverTime);
  ACSChunkPtr settings, global;
  settings.MakeContainer();
  settings.SetChildString("language", "english");
  global.MakeContainer();
  global.SetChildInt("counter", 5);
  if (v >= 27) WriteChunkFileBinary(settings, out);
  WriteChunkFileBinary(global, out);
  PersistentRecordList::Global().Write(out);
  if (v <= 31) out.WriteInt(0xDEADBEEF);
  if (v > 31) indexfile::PutInt64(out, s.timeMarker);
  network.WriteStation(out);
  out.WriteInt(0);
  out.WriteInt(static_cast<uint32_t>(network.status));
  uint32_t value;
  std::memcpy(&value, &network.value, 4);
  out.WriteInt(value);
  for (int i = 0; i < 12; ++i) out.WriteByte(0);
  b(s.rebuilt);
  out.Open(false, nullptr, TStreamObfuscated::kPlain);
  file.DropReadAhead();
  Bytes bytes = Image(file);
  Vak::PutLE32(bytes.data() + 8, static_cast<uint32_t>(bytes.size()));
  return bytes;
}

class IndexFileTest : public IndexFixture {
protected:
  void SetUp() override {
    IndexFixture::SetUp();
    SetBuildNumber(0);
    gVadAssetIndex.RaiseObsoleteGeneration();
    network_.users = {{"alice", 12, 1}, {"bob", 13, 0}};
    network_.lastFile = "last.cdp";
    network_.stationTime = 0x0102030405LL;
    network_.urls = {"http://example.invalid/a", "http://example.invalid/b"};
    network_.status = 3;
    network_.value = 86400.5f;
    KuidBaseFile::Reset();
  }
  void TearDown() override {
    KuidBaseFile::Reset();
    IndexFixture::TearDown();
  }
  // The network blocks the double holds, to compare after a read.
  indexfile::FakeNetwork Expected() const { return network_; }

  indexfile::FakeNetwork network_;
  indexfile::NetworkScope scope_{&network_};
};

TEST_F(IndexFileTest, RoundTripKeepsEveryFieldAndBlock) {
  VADAssetInfo a = FullRecord(KUID(100, 1, 0), "alpha");
  // What the dependency table says of it: dependencies, no dependants.
  a.permissions = 0x1D;
  VADAssetInfo b = FullRecord(KUID(-3, 2, 127), "beta");
  b.archivePath = "";
  b.flags = 0x7F;
  b.stateFlags = 0xFE;
  b.obsoleteStamp = 0;
  b.permissions = 0x0C;
  b.hasScripts = 0;
  gVadAssetIndex.Insert(a);
  gVadAssetIndex.Insert(b);
  gVadAssetIndex.TableA().Insert(KUID(5, 1, 0), KUID(5, 2, 0));
  gVadAssetIndex.TableB().Insert(KUID(6, 1, 0), KUID(6, 3, 0));
  KUIDList deps;
  deps.Append(KUID(5, 2, 0));
  VADDependencyTable::Instance().SetDependencies(a.kuid, deps);
  gVadAssetIndex.storedText[0] = "first";
  gVadAssetIndex.storedText[1] = "second";
  gVadAssetIndex.storedByte[0] = 1;
  gVadAssetIndex.storedByte[1] = 1;
  gVadAssetIndex.latestBuild = 41000;
  gVadAssetIndex.indexBuild = 40000;
  gVadAssetIndex.serverTime = 1234567890123LL;
  gVadAssetIndex.SetTimeMarker(1500000000);
  gVadAssetIndex.SetRebuiltFlag(1);
  gVadAssetIndex.settings.MakeContainer();
  gVadAssetIndex.settings.SetChildString("language", "english");
  gVadAssetIndex.globalData.MakeContainer();
  gVadAssetIndex.globalData.SetChildInt("counter", 9);

  const Bytes first = WriteIndex();
  const indexfile::FakeNetwork sent = Expected();
  network_ = indexfile::FakeNetwork();
  ASSERT_TRUE(ReadIndex(first));

  ASSERT_EQ(gVadAssetIndex.RecordCount(), 2u);
  ExpectSameRecord(*gVadAssetIndex.Find(a.kuid), a);
  ExpectSameRecord(*gVadAssetIndex.Find(b.kuid), b);
  EXPECT_EQ(gVadAssetIndex.TableA().Lookup(KUID(5, 1, 0)), KUID(5, 2, 0));
  EXPECT_EQ(gVadAssetIndex.TableB().Lookup(KUID(6, 1, 0)), KUID(6, 3, 0));
  KUIDList readDeps;
  VADDependencyTable::Instance().GetDependencies(a.kuid, readDeps);
  ASSERT_EQ(readDeps.Count(), 1u);
  EXPECT_STREQ(gVadAssetIndex.storedText[0].c_str(), "first");
  EXPECT_STREQ(gVadAssetIndex.storedText[1].c_str(), "second");
  EXPECT_EQ(gVadAssetIndex.storedByte[0], 1);
  EXPECT_EQ(gVadAssetIndex.storedByte[1], 1);
  EXPECT_EQ(gVadAssetIndex.latestBuild, 41000u);
  EXPECT_EQ(gVadAssetIndex.indexBuild, 40000u);
  EXPECT_EQ(GetBuildNumber(), 41000u);
  EXPECT_EQ(gVadAssetIndex.serverTime, 1234567890123LL);
  EXPECT_EQ(GetServerTime(), 1234567890123LL);
  EXPECT_EQ(gVadAssetIndex.TimeMarker(), 1500000000);
  EXPECT_EQ(gVadAssetIndex.RebuiltFlag(), 1);
  EXPECT_STREQ(gVadAssetIndex.settings.GetChildString("language").c_str(), "english");
  EXPECT_EQ(gVadAssetIndex.settingsPresent, 1);
  EXPECT_EQ(gVadAssetIndex.globalData.GetChildInt("counter", 0), 9);
  EXPECT_EQ(network_.users, sent.users);
  EXPECT_EQ(network_.lastFile, sent.lastFile);
  EXPECT_EQ(network_.stationTime, sent.stationTime);
  EXPECT_EQ(network_.urls, sent.urls);
  EXPECT_EQ(network_.status, sent.status);
  EXPECT_EQ(network_.value, sent.value);

  // Everything read goes out again as it came.
  EXPECT_EQ(indexfile::PlainBody(WriteIndex()), indexfile::PlainBody(first));
}

TEST_F(IndexFileTest, SecondWriteHasTheSameSizeAndDiffersOnlyAfterTheHeader) {
  gVadAssetIndex.Insert(FullRecord(KUID(100, 1, 0), "alpha"));
  const Bytes first = WriteIndex();
  const Bytes second = WriteIndex();
  ASSERT_EQ(first.size(), second.size());
  EXPECT_EQ(Vak::GetLE32(first.data()), vad_file::kMagic);
  EXPECT_EQ(Vak::GetLE32(first.data() + 4), vad_file::kVersion);
  EXPECT_EQ(Vak::GetLE32(first.data() + 8), first.size());
  EXPECT_TRUE(std::equal(first.begin(), first.begin() + 12, second.begin()));
  EXPECT_NE(Vak::GetLE32(first.data() + 12), Vak::GetLE32(second.data() + 12));
  EXPECT_EQ(indexfile::PlainBody(first), indexfile::PlainBody(second));
}

// An index without records once wrote nothing, and the empty file lost the
// settings and the tables at the next start.
TEST_F(IndexFileTest, IndexWithoutRecordsWritesAWholeFile) {
  gVadAssetIndex.settings.MakeContainer();
  gVadAssetIndex.settings.SetChildString("language", "german");
  gVadAssetIndex.TableA().Insert(KUID(5, 1, 0), KUID(5, 2, 0));
  const std::string path = Root("assets.tdx");
  ASSERT_TRUE(WriteDatabaseFile(path.c_str()));
  EXPECT_GT(root_.ReadFile("assets.tdx").size(), vad_file::kHeaderBytes);
  gVadAssetIndex.Clear();
  ASSERT_TRUE(ReadDatabaseFile(path.c_str()));
  EXPECT_EQ(gVadAssetIndex.RecordCount(), 0u);
  EXPECT_STREQ(gVadAssetIndex.settings.GetChildString("language").c_str(), "german");
  EXPECT_EQ(gVadAssetIndex.TableA().Lookup(KUID(5, 1, 0)), KUID(5, 2, 0));
}

// Files an install left to its batch's sync reach the disk before the
// index that lists them.
TEST_F(IndexFileTest, WriterFlushesDeferredSyncsFirst) {
  platform::SyncBatch batch;
  const std::string config = Root("config.txt");
  ASSERT_TRUE(WriteWholeFile(config.c_str(), "kind \"scenery\"\n", 16));
  ASSERT_TRUE(platform::HasDeferredSyncs());
  ASSERT_TRUE(WriteDatabaseFile(Root("assets.tdx").c_str()));
  EXPECT_FALSE(platform::HasDeferredSyncs());
}

TEST_F(IndexFileTest, WriterBringsTheKuidBaseUpToDate) {
  root_.WriteFile("settings/.keep", "");
  KuidBaseFile::Init(root_.Path().c_str());
  WriteIndex();
  EXPECT_EQ(KuidBaseFile::Base(), KUID(-2, 1000, 127));
}

TEST_F(IndexFileTest, HeaderChecksRefuseTheFile) {
  gVadAssetIndex.Insert(FullRecord(KUID(100, 1, 0), "alpha"));
  const Bytes good = WriteIndex();
  struct Case {
    const char* what;
    uint32_t offset;
    uint32_t value;
  };
  const Case cases[] = {
      {"magic", 0, 0xCEEBA2DC},
      {"size too small", 8, static_cast<uint32_t>(good.size() - 1)},
      {"size too large", 8, static_cast<uint32_t>(good.size() + 1)},
      {"version 19", 4, 19},
      {"version 37", 4, 37},
  };
  for (const Case& c : cases) {
    Bytes bad = good;
    Vak::PutLE32(bad.data() + c.offset, c.value);
    EXPECT_FALSE(ReadIndex(bad)) << c.what;
    EXPECT_EQ(gVadAssetIndex.RecordCount(), 0u) << c.what;
  }
  EXPECT_FALSE(ReadIndex(Bytes()));
  EXPECT_FALSE(ReadIndex(Bytes(good.begin(), good.begin() + 8)));
}

// The body cut anywhere, with the size field telling the truth: never a
// crash, and a failure whenever a deciding block is cut.
TEST_F(IndexFileTest, TruncatedBodiesFailCleanly) {
  gVadAssetIndex.Insert(FullRecord(KUID(100, 1, 0), "alpha"));
  gVadAssetIndex.Insert(FullRecord(KUID(100, 2, 0), "beta"));
  gVadAssetIndex.settings.MakeContainer();
  gVadAssetIndex.settings.SetChildString("language", "english");
  const Bytes good = WriteIndex();
  // The persistent record list is the last block that decides.
  for (uint32_t cut = 16; cut < good.size(); ++cut) {
    Bytes bad(good.begin(), good.begin() + cut);
    Vak::PutLE32(bad.data() + 8, cut);
    if (!ReadIndex(bad)) {
      EXPECT_EQ(gVadAssetIndex.RecordCount(), 0u) << cut;
    }
  }
  Bytes bad(good.begin(), good.begin() + good.size() / 2);
  Vak::PutLE32(bad.data() + 8, static_cast<uint32_t>(bad.size()));
  EXPECT_FALSE(ReadIndex(bad));
}

// One record per KUID and no null KUID: Find, Remove and Merge rely on it.
TEST_F(IndexFileTest, RecordTableWithNullOrRepeatedKuidIsMalformed) {
  const VADAssetInfo a = FullRecord(KUID(100, 1, 0), "alpha");
  const VADAssetInfo b = FullRecord(KUID(100, 2, 0), "beta");
  const VADAssetInfo null = FullRecord(KUID::Null(), "nothing");
  const VADAssetInfo again = FullRecord(KUID(100, 1, 0), "alpha again");
  struct Case {
    const char* what;
    std::vector<VADAssetInfo> records;
    bool reads;
  };
  const Case cases[] = {
      {"distinct", {a, b}, true},
      {"null KUID", {a, null}, false},
      {"repeated KUID", {a, b, again}, false},
  };
  for (const Case& c : cases) {
    const Bytes bytes = WriteVersion(36, c.records, Scalars(), network_);
    EXPECT_EQ(ReadIndex(bytes), c.reads) << c.what;
    EXPECT_EQ(gVadAssetIndex.RecordCount(), c.reads ? c.records.size() : 0u) << c.what;
  }
}

// A file with its body replaced by `plain`, scrambled with the file's seed.
Bytes WithBody(const Bytes& file, Bytes plain) {
  const uint32_t seed = Vak::GetLE32(file.data() + 12);
  TStreamObfuscated::ScrambleBlock(16, plain.data(), static_cast<uint32_t>(plain.size()), seed);
  Bytes out(file.begin(), file.begin() + 16);
  out.insert(out.end(), plain.begin(), plain.end());
  Vak::PutLE32(out.data() + 8, static_cast<uint32_t>(out.size()));
  return out;
}

// Where the first record's name text and its first flag byte lie in a plain
// body.
std::size_t NameTextAt() { return 4 + 8 + 4 + 4 + std::strlen("SS;TO"); }
std::size_t FlagsAt(const VADAssetInfo& r) {
  std::size_t at = 4 + 8;
  for (const Vak::String* text : {&r.categoryClasses, &r.name, &r.regionList, &r.eraList, &r.keywords,
                                  &r.editingPath, &r.archivePath})
    at += 4 + text->Size();
  at += 4 + (r.archiveName.Length() ? r.archiveName.Length() + 1 : 0);
  return at + 4 + r.localPath.Size() + 8;
}

// A file read and written again without a question about its records comes
// out as one whose records were made first, also where the stored bytes are
// not in the writer's own form.
TEST_F(IndexFileTest, RecordsNeverAskedForAreWrittenAsMadeOnes) {
  VADAssetInfo a = FullRecord(KUID(100, 1, 0), "alpha");
  const VADAssetInfo b = FullRecord(KUID(100, 2, 0), "beta");
  VADAssetInfo noArchive = a;
  noArchive.archivePath = "";
  VADAssetInfo unset = a;
  unset.obsoleteStamp = 0;
  struct Case {
    const char* what;
    VADAssetInfo first;
    std::function<void(Bytes&)> damage;
  };
  const Case cases[] = {
      {"as the writer writes it", a, nullptr},
      {"obsolete answer unset", unset, nullptr},
      {"archive bits without an archive path", noArchive, nullptr},
      {"a flag byte above 1", a, [&a](Bytes& body) { body[FlagsAt(a)] = 2; }},
      {"a text cut by a zero byte", a, [](Bytes& body) { body[NameTextAt() + 2] = 0; }},
  };
  for (const Case& c : cases) {
    Bytes image = WriteVersion(36, {c.first, b}, Scalars(), network_);
    if (c.damage) {
      Bytes body = indexfile::PlainBody(image);
      c.damage(body);
      image = WithBody(image, body);
    }
    ASSERT_TRUE(ReadIndex(image)) << c.what;
    const Bytes untouched = indexfile::PlainBody(WriteIndex());
    ASSERT_TRUE(ReadIndex(image)) << c.what;
    ASSERT_NE(gVadAssetIndex.Find(c.first.kuid), nullptr) << c.what;
    const Bytes made = indexfile::PlainBody(WriteIndex());
    EXPECT_EQ(untouched, made) << c.what;
  }
}

TEST_F(IndexFileTest, OlderVersionsReadWithTheirGatedItemsAbsent) {
  const VADAssetInfo full = FullRecord(KUID(100, 1, 0), "alpha");
  const Scalars s;
  for (uint32_t v = 20; v <= 36; ++v) {
    SCOPED_TRACE(v);
    SetBuildNumber(0);
    const Bytes bytes = WriteVersion(v, {full}, s, network_);
    ASSERT_TRUE(ReadIndex(bytes));
    const VADAssetInfo* r = gVadAssetIndex.Find(full.kuid);
    ASSERT_NE(r, nullptr);
    uint8_t state = 0xFF;
    if (v <= 27) state &= ~0x10;
    if (v <= 22) state &= ~0x80;
    EXPECT_EQ(r->stateFlags, state);
    EXPECT_EQ(r->flags, 0xFF);
    EXPECT_EQ(r->obsoleteStamp, v > 22 ? gVadAssetIndex.ObsoleteGeneration() : 0u);
    EXPECT_EQ(r->permissions, v > 28 ? 0x1F : 0x1C);
    EXPECT_EQ(r->hasScripts, v > 32 ? 1 : 0);
    EXPECT_EQ(r->contentHash, v > 20 ? full.contentHash : 0);
    EXPECT_EQ(r->lastInstalled, full.lastInstalled);
    EXPECT_STREQ(indexfile::Text(r->secondaryName), indexfile::Text(full.secondaryName));
    EXPECT_EQ(gVadAssetIndex.TableA().Lookup(KUID(1, 1, 0)), KUID(1, 2, 0));
    EXPECT_EQ(gVadAssetIndex.TableB().Lookup(KUID(3, 1, 0)), v > 25 ? KUID(3, 2, 0) : KUID::Null());
    EXPECT_STREQ(gVadAssetIndex.storedText[0].c_str(), v > 23 ? s.text0 : "");
    EXPECT_STREQ(gVadAssetIndex.storedText[1].c_str(), v > 35 ? s.text1 : "");
    EXPECT_EQ(gVadAssetIndex.storedByte[1], v > 24 ? 1 : 0);
    EXPECT_EQ(gVadAssetIndex.latestBuild, v > 29 ? s.latestBuild : VADAssetIndex::kInitialBuild);
    EXPECT_EQ(gVadAssetIndex.indexBuild, v > 29 ? s.indexBuild : VADAssetIndex::kInitialBuild);
    EXPECT_EQ(gVadAssetIndex.serverTime, v > 30 ? s.serverTime : 0);
    EXPECT_EQ(gVadAssetIndex.TimeMarker(), v > 31 ? s.timeMarker : VADAssetIndex::kTimeMarkerUnset);
    EXPECT_EQ(gVadAssetIndex.settingsPresent, 1);
    EXPECT_STREQ(gVadAssetIndex.settings.GetChildString("language").c_str(), v >= 27 ? "english" : "");
    EXPECT_EQ(gVadAssetIndex.globalData.GetChildInt("counter", 0), 5);
    EXPECT_EQ(gVadAssetIndex.RebuiltFlag(), 1);
    EXPECT_EQ(network_.users.size(), 2u);
    EXPECT_EQ(network_.urls.size(), 2u);
    EXPECT_EQ(network_.status, 3);
  }
}

TEST_F(IndexFileTest, SeedStartsAtVersion34) {
  const VADAssetInfo full = FullRecord(KUID(100, 1, 0), "alpha");
  const Bytes v33 = WriteVersion(33, {full}, Scalars(), network_);
  const Bytes v34 = WriteVersion(34, {full}, Scalars(), network_);
  // Version 33: the record count follows the header in plain.
  EXPECT_EQ(Vak::GetLE32(v33.data() + 12), 1u);
  // Version 34: four bytes of seed, then the same body scrambled.
  EXPECT_EQ(v34.size(), v33.size() + 4);
  EXPECT_EQ(indexfile::PlainBody(v34), indexfile::PlainBody(v33));
  EXPECT_NE(Bytes(v34.begin() + 16, v34.end()), Bytes(v33.begin() + 12, v33.end()));
}

TEST_F(IndexFileTest, OldIndexBuildIsRaisedAndDirtiesTheIndex) {
  Scalars s;
  s.latestBuild = 38000;
  s.indexBuild = 38000;
  const Bytes bytes = WriteVersion(36, {FullRecord(KUID(100, 1, 0), "alpha")}, s, network_);
  gVadAssetIndex.ClearDirtyFlags();
  ASSERT_TRUE(ReadIndex(bytes));
  EXPECT_EQ(gVadAssetIndex.indexBuild, VADAssetIndex::kInitialBuild);
  EXPECT_TRUE(gVadAssetIndex.DirtyFlags() & VADAssetIndex::kDirtyRecords);
}

} // namespace
