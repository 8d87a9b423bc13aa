// The asset database's conversion task over the real texture service: the
// resource type registered through this program's own VakGetPlugins, the
// package's resource database, the description under its working name.
#include "assets3d/TextureConversion.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Vak/Bexlorn/Options.h"
#include "Vak/Cindrel/ResourceSystem.h"
#include "Vak/plugins/PluginSystem.h"
#include "assetdb/AssetArchiveCache.h"
#include "assets3d/VelmarResourceDatabaseServices.h"
#include "content/ResultsLog.h"
#include "tests/assetdb/database/IndexFixture.h"
#include "tests/assets3d/texture/TextureFile.h"

namespace {

std::vector<std::string> Texts(ResultsLog& log) {
  std::vector<std::string> texts;
  log.Lock();
  for (const ResultsLog::Line& line : log.GetLines()) texts.push_back(line.text.Size() ? static_cast<const char*>(line.text) : "");
  log.Unlock();
  return texts;
}

class ConversionTest : public IndexFixture {
protected:
  void SetUp() override {
    IndexFixture::SetUp();
    SetMainThread();
    const std::string group = Vak::ResourceTypeBase::kGroup;
    plugins_.WriteFile("plugins.ini", "+PluginGroup=ResourceTypes:" + group + "\n+Plugin=" + kConvertTexExtension +
                                          ":*:" + kConvertTexTypeId + ":" + group + "\n");
    Vak::PluginSystem::SetFolders(plugins_.Path().c_str(), plugins_.Path().c_str());
    system_ = std::make_unique<Vak::ResourceSystem>();
    system_->Init(&options_);
    VADSetTextureService(&service_);
  }
  void TearDown() override {
    VADSetTextureService(nullptr);
    AssetArchiveCache::Purge();
    system_.reset();
    Vak::PluginSystem::SetFolders(nullptr, nullptr);
    IndexFixture::TearDown();
  }

  platform::test::TempFolder plugins_;
  Vak::Options options_;
  std::unique_ptr<Vak::ResourceSystem> system_;
  VelmarResourceDatabaseServices databases_;
  VelmarTextureService service_;
  ResultsLog log_;
};

TEST_F(ConversionTest, EveryDescriptionUnderTheFolderBecomesATexture) {
  const imagefiles::Image wall = imagefiles::Pattern(128, 128, 0);
  root_.WriteFile("local/a/wall.tga", imagefiles::Tga(wall, 24, true));
  root_.WriteFile("local/a/wall.texture.txt", "Primary=wall.tga\n");
  root_.WriteFile("local/a/sub/glass.bmp", imagefiles::Bmp(imagefiles::Pattern(8, 8, 1), 32));
  root_.WriteFile("local/a/sub/glass.texture.txt", "Primary=glass.bmp\nAutoMip=box\n");
  ASSERT_EQ(VADConvertTextures(Vak::PString(), Root("local/a").c_str(), log_), 2) << ::testing::PrintToString(Texts(log_));
  EXPECT_TRUE(Texts(log_).empty());
  EXPECT_TRUE(root_.Has("local/a/wall.texture.txt"));
  EXPECT_TRUE(root_.Has("local/a/sub/glass.texture.txt"));

  // "-Compression=auto": an opaque texture above 64 pixels is DXT1; the
  // task's "-Automip=none" stands unless the description asks for mips.
  const texturetest::TextureFile wallFile = texturetest::ReadTextureFile(root_.ReadFile("local/a/wall.texture"));
  ASSERT_TRUE(wallFile.ok);
  EXPECT_EQ(wallFile.code, 10u);
  ASSERT_EQ(wallFile.levels.size(), 1u);
  root_.WriteFile("wall.dds", texturetest::Dds(wallFile.levels[0], 10));
  const std::vector<uint32_t> decoded = texturetest::Decode(root_, "wall.dds");
  ASSERT_EQ(decoded.size(), wall.pixels.size());
  double total = 0;
  for (std::size_t i = 0; i < decoded.size(); ++i)
    for (int channel = 0; channel < 3; ++channel)
      total += std::abs(static_cast<int>((decoded[i] >> (8 * channel)) & 0xFF) -
                        static_cast<int>((wall.pixels[i] >> (8 * channel)) & 0xFF));
  EXPECT_LE(total / (3.0 * decoded.size()), 8.0);

  const texturetest::TextureFile glassFile = texturetest::ReadTextureFile(root_.ReadFile("local/a/sub/glass.texture"));
  ASSERT_TRUE(glassFile.ok);
  EXPECT_EQ(glassFile.code, 1u) << "8 x 8 with alpha stays uncompressed";
  EXPECT_EQ(glassFile.levels.size(), 4u);

  // Converting again reads the descriptions afresh.
  root_.WriteFile("local/a/wall.texture.txt", "Primary=wall.tga\nFileCompression=none\n");
  ASSERT_EQ(VADConvertTextures(Vak::PString(), Root("local/a").c_str(), log_), 2);
  EXPECT_EQ(texturetest::ReadTextureFile(root_.ReadFile("local/a/wall.texture")).code, 3u);
}

TEST_F(ConversionTest, ADescriptionNamingAMissingImageFailsTheLoad) {
  root_.WriteFile("local/b/roof.texture.txt", "Primary=nothere.tga\n");
  EXPECT_EQ(VADConvertTextures(Vak::PString(), Root("local/b").c_str(), log_), 1);
  EXPECT_EQ(Texts(log_), (std::vector<std::string>{"Unable to load source texture '" + Root("local/b/roof.texture.txt") +
                                                        "' in subst 'local'",
                                                    "$vad_texture_compress_err"}));
  EXPECT_TRUE(root_.Has("local/b/roof.texture.txt"));
  EXPECT_FALSE(root_.Has("local/b/roof.texture"));
}

} // namespace

// The running program's plug-in entry ("*").
extern "C" __attribute__((visibility("default"))) void VakGetPlugins() { RegisterTextureResourceTypes(); }
