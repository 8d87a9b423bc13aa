#include "assetdb/VADThumbnails.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "assetdb/VADAssetIndex.h"
#include "assetdb/VADServices.h"
#include "tests/assetdb/database/IndexFixture.h"
#include "tests/assetdb/database/QuietNetwork.h"

namespace {

const KUID kAsset(1000, 7, 0);

class ThumbnailQueries : public QuietNetwork {
public:
  bool RequestThumbnail(const KUID& kuid) override {
    requested.push_back(kuid);
    return accept;
  }
  std::vector<KUID> requested;
  bool accept = true;
};

class VADThumbnailsTest : public IndexFixture {
protected:
  void SetUp() override {
    IndexFixture::SetUp();
    saved_ = GetVADServices().network;
    GetVADServices().network = &network_;
  }
  void TearDown() override {
    GetVADServices().network = saved_;
    IndexFixture::TearDown();
  }
  // An installed asset in "local/<name>" with that config and files.
  void AddAsset(const std::string& name, const std::string& config, const std::vector<std::string>& files) {
    WriteConfig("local/" + name, config);
    for (const std::string& file : files) root_.WriteFile("local/" + name + "/" + file, "x");
    ASSERT_NE(gVadAssetIndex.Insert(LocalRecord(kAsset, name)), nullptr);
  }
  // The found path relative to the root, or the result when not 1.
  std::string Extract(int size) {
    Vak::File::Path path;
    Vak::String rootName;
    const int result = VADExtractThumbnail(kAsset, size, path, rootName);
    if (result != 1) return "result " + std::to_string(result);
    const std::string root = Root("");
    std::string text(path);
    if (text.compare(0, root.size(), root) == 0) text.erase(0, root.size());
    lastRootName_ = std::string(rootName);
    return text;
  }

  ThumbnailQueries network_;
  VADNetworkService* saved_ = nullptr;
  std::string lastRootName_;
};

TEST_F(VADThumbnailsTest, ArtTextureOfLegacyAssetsFollowsTheSize) {
  const std::vector<std::string> files = {"loco_art/loco_art_icon.texture", "loco_art/loco_art_512.texture"};
  AddAsset("loco", "velmar-build 2.8\r\n", files);
  struct Case {
    int size;
    const char* expected;
  };
  const Case cases[] = {
      {64, "local/loco/loco_art/loco_art_icon.texture"},
      {128, "local/loco/loco_art/loco_art_icon.texture"},
      {129, "local/loco/loco_art/loco_art_512.texture"},
      {240, "local/loco/loco_art/loco_art_512.texture"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    EXPECT_EQ(Extract(c.size), c.expected);
    EXPECT_EQ(lastRootName_, "local");
  }
  EXPECT_TRUE(network_.requested.empty());
}

TEST_F(VADThumbnailsTest, NearestThumbnailEntryWinsAndTheFirstOfATie) {
  AddAsset("wagon",
           "velmar-build 3.5\r\n"
           "thumbnails {\r\n"
           "  0 {\r\n    image \"small.jpg\"\r\n    width 64\r\n    height 48\r\n  }\r\n"
           "  1 {\r\n    image \"large.jpg\"\r\n    width 200\r\n    height 256\r\n  }\r\n"
           "  2 {\r\n    image \"default.jpg\"\r\n  }\r\n"
           "}\r\n",
           {"small.jpg", "large.jpg", "default.jpg"});
  struct Case {
    int size;
    const char* expected;
  };
  const Case cases[] = {
      {160, "local/wagon/small.jpg"},  // 64 and 256 both at distance 192
      {161, "local/wagon/large.jpg"},
      {20, "local/wagon/default.jpg"},  // missing sides count as 32
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    EXPECT_EQ(Extract(c.size), c.expected);
  }
}

TEST_F(VADThumbnailsTest, NamedTexturesAndFallbacks) {
  struct Case {
    const char* label;
    std::string config;
    std::vector<std::string> files;
    const char* expected;
    bool queried;
  };
  const Case cases[] = {
      {"icon texture first", "velmar-build 2.0\r\nicon-texture \"icon.texture\"\r\nface-texture \"face.texture\"\r\n",
       {"icon.texture", "face.texture"}, "local/item/icon.texture", false},
      {"face texture without an icon", "velmar-build 2.0\r\nface-texture \"face.texture\"\r\n", {"face.texture"},
       "local/item/face.texture", false},
      {"a texture's description stands in", "velmar-build 2.0\r\nicon-texture \"icon.texture\"\r\n",
       {"icon.texture.txt"}, "local/item/icon.texture.txt", false},
      {"asset-filename names the art", "velmar-build 2.0\r\nasset-filename \"shed\"\r\n",
       {"shed_art/shed_art_512.texture"}, "local/item/shed_art/shed_art_512.texture", false},
      {"base texture when the art is missing", "velmar-build 2.0\r\n", {"item.texture"}, "local/item/item.texture",
       false},
      {"nothing found asks the station", "velmar-build 2.0\r\n", {}, "result 0", true},
      {"later builds need thumbnails", "velmar-build 2.91\r\n", {"item_art/item_art_512.texture"}, "result 0", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    gVadAssetIndex.Clear();
    network_.requested.clear();
    std::filesystem::remove_all(Root("local/item"));
    AddAsset("item", c.config, c.files);
    EXPECT_EQ(Extract(240), c.expected);
    EXPECT_EQ(!network_.requested.empty(), c.queried);
  }
}

TEST_F(VADThumbnailsTest, CachedImageComesFirstWithoutTheAsset) {
  // The record's folder is missing: the cached image must be found without it.
  ASSERT_NE(gVadAssetIndex.Insert(LocalRecord(kAsset, "gone")), nullptr);
  root_.WriteFile("cache/thumbnails/kuid 1000 7.jpg", "jpeg");
  EXPECT_EQ(Extract(240), "cache/thumbnails/kuid 1000 7.jpg");
  gVadAssetIndex.Clear();
  EXPECT_EQ(Extract(240), "cache/thumbnails/kuid 1000 7.jpg");
  EXPECT_TRUE(network_.requested.empty());
}

TEST_F(VADThumbnailsTest, UnknownAssetStartsAQuery) {
  for (const bool accept : {true, false}) {
    SCOPED_TRACE(accept);
    network_.accept = accept;
    network_.requested.clear();
    EXPECT_EQ(Extract(240), accept ? "result -1" : "result 0");
    ASSERT_EQ(network_.requested.size(), 1u);
    EXPECT_EQ(network_.requested.front(), kAsset);
  }
}

}  // namespace
