#include "net/DownloadCache.h"

#include <gtest/gtest.h>

#include <string>

#include "net/DownloadTask.h"
#include "net/UrlRecord.h"
#include "tests/platform/os/TempFolder.h"

using platform::test::TempFolder;

namespace {

uint32_t FixedClock() { return 1000; }

class DownloadCacheTest : public ::testing::Test {
protected:
  void SetUp() override { DownloadCache::SetClock(&FixedClock); }
  void TearDown() override { DownloadCache::SetClock(nullptr); }

  std::string Path(const char* name) const { return dir_ / name; }

  TempFolder dir_;
};

} // namespace

TEST_F(DownloadCacheTest, StoredEntriesSurviveALoadAndAnswerLookups) {
  const UrlRecord page("http://Example.com/A/page.HTML");
  const UrlRecord pending("ftp://example.com/big.bin");
  dir_.WriteFile("one.html", "12345");
  {
    DownloadCache cache;
    cache.Load(dir_.Path().c_str());
    cache.Store(page, Path("one.html").c_str(), true);
    cache.Store(pending, Path("two.bin").c_str(), false);
  }
  EXPECT_NE(dir_.ReadFile("cachefile.txt").find("http://example.com/a/page.html"), std::string::npos);

  DownloadCache cache;
  cache.Load(dir_.Path().c_str());
  Vak::File::Path file;
  EXPECT_EQ(cache.Lookup(page, file), DownloadCache::Hit::kComplete);
  EXPECT_EQ(std::string(file), Path("one.html"));
  EXPECT_EQ(cache.Lookup(pending, file), DownloadCache::Hit::kIncomplete);
  EXPECT_EQ(std::string(file), Path("two.bin"));
  EXPECT_EQ(cache.Lookup(UrlRecord("http://example.com/other"), file), DownloadCache::Hit::kMiss);

  const ACSChunkPtr entry = cache.Tree().GetChildContainer(Vak::PString("http://example.com/a/page.html"));
  EXPECT_EQ(entry.GetChildInt(Vak::PString("cachefilesize"), -1), 5);
  EXPECT_EQ(entry.GetChildInt(Vak::PString("cachestate"), -1), DownloadCache::kComplete);
  EXPECT_EQ(entry.GetChildInt(Vak::PString("datedownloaded"), -1), 1000);

  cache.Remove(page);
  EXPECT_FALSE(dir_.Has("one.html"));
  EXPECT_EQ(cache.Lookup(page, file), DownloadCache::Hit::kMiss);
}

TEST_F(DownloadCacheTest, DeferredChangesReachTheFileOnFlush) {
  const UrlRecord page("http://example.com/page.html");
  dir_.WriteFile("one.html", "12345");
  DownloadCache cache;
  cache.Load(dir_.Path().c_str());
  cache.DeferSaves(true);
  cache.Store(page, Path("one.html").c_str(), true);
  EXPECT_FALSE(dir_.Has("cachefile.txt"));
  EXPECT_TRUE(cache.Flush());
  DownloadCache reread;
  reread.Load(dir_.Path().c_str());
  Vak::File::Path file;
  EXPECT_EQ(reread.Lookup(page, file), DownloadCache::Hit::kComplete);
}

TEST_F(DownloadCacheTest, AnFtpPageIsStoredWithItsOwnState) {
  dir_.WriteFile("index.php", "x");
  DownloadCache cache;
  cache.Load(dir_.Path().c_str());
  const UrlRecord url("ftp://example.com/index.php");
  cache.Store(url, Path("index.php").c_str(), true);
  std::string key;
  ASSERT_TRUE(DownloadCache::Key(url, key));
  EXPECT_EQ(cache.Tree().GetChildContainer(Vak::PString(key.c_str())).GetChildInt(Vak::PString("cachestate"), -1),
            DownloadCache::kPageFromFtp);
}

TEST_F(DownloadCacheTest, EntriesNamingFilesOutsideTheFolderAreDroppedUntouched) {
  TempFolder outside;
  outside.WriteFile("victim.txt", "keep me");
  const std::string victim = outside / "victim.txt";
  const std::string names[] = {"../victim.txt", victim, "sub/victim.txt", "..", "."};
  std::string text = "\xEF\xBB\xBF\r\n";
  int n = 0;
  for (const std::string& name : names)
    text += "http://h/" + std::to_string(n++) + " {\r\n  cachefilename \"" + name + "\"\r\n  cachestate 3\r\n}\r\n";
  text += "http://h/good {\r\n  cachefilename \"good.bin\"\r\n  cachestate 3\r\n}\r\n";
  dir_.WriteFile("cachefile.txt", text);

  DownloadCache cache;
  cache.Load(dir_.Path().c_str());
  EXPECT_EQ(cache.Tree().GetChildCount(), 1);
  Vak::File::Path file;
  for (int i = 0; i < n; ++i) {
    const UrlRecord url(("http://h/" + std::to_string(i)).c_str());
    EXPECT_EQ(cache.Lookup(url, file), DownloadCache::Hit::kMiss) << names[i];
    cache.Remove(url);
  }
  EXPECT_EQ(outside.ReadFile("victim.txt"), "keep me");
  EXPECT_EQ(cache.Lookup(UrlRecord("http://h/good"), file), DownloadCache::Hit::kComplete);
}

TEST_F(DownloadCacheTest, UrlsThatCannotBeAChunkNameAreNotCached) {
  DownloadCache cache;
  cache.Load(dir_.Path().c_str());
  const UrlRecord blank("http://h/a b");
  cache.Store(blank, Path("x.bin").c_str(), true);
  Vak::File::Path file;
  EXPECT_EQ(cache.Lookup(blank, file), DownloadCache::Hit::kMiss);
  EXPECT_EQ(cache.Tree().GetChildCount(), 0);
}

TEST(ResultFileExtensionTest, OnlyTheLastComponentsLettersAndDigits) {
  struct Case {
    const char* path;
    const char* ext;
  } cases[] = {
      {"/a/file.txt", "txt"},        {"/a.b/../../x", ""},   {"/dir.d/name", ""},  {"/x.tar.gz", "gz"},
      {"/x.", ""},                   {"/x.t-t", ""},         {"", ""},             {"/a.b\\..\\c", ""},
      {"/file.HTML", "HTML"},
  };
  for (const Case& c : cases) EXPECT_EQ(ResultFileExtension(c.path), c.ext) << c.path;
}
