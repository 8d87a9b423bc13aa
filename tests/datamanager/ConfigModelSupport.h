#pragma once
// A data folder with a kind schema written by the test, the data manager
// started on it, and configs given as chunk-file text.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "assetdb/VADAssetQueries.h"
#include "content/ACSChunkPtr.h"
#include "content/AppGlobals.h"
#include "datamanager/Container.h"
#include "datamanager/MeshData.h"
#include "datamanager/Messages.h"
#include "engine/dorvix/RenderKernel.h"
#include "tests/datamanager/DataManagerSupport.h"

namespace datamanager::test {

// Entry N reads "N" followed by "|" and one conversion per declared
// argument, so a record shows which entry it is and what it was given.
inline std::string ArgumentStringTable() {
  std::map<int, std::string> entries;
  for (const RUZLib::MessageSpec& spec : RUZLib::MessageRegistry()) {
    std::string text = std::to_string(spec.number);
    for (const char* k = spec.kinds; *k; ++k) text += *k == 's' ? "|%s" : *k == 'i' ? "|%d" : "|%g";
    entries[spec.number] = text;
  }
  return StringTableText(entries);
}

// Meshes of the given names load, each listing the given textures and
// attachment points.
class TextureMeshSource : public RUZLib::MeshSource {
public:
  class Model : public RUZLib::MeshModel {
  public:
    Model(std::vector<std::string> textures, std::vector<std::string> attachments)
        : textures_(std::move(textures)), attachments_(std::move(attachments)) {}
    bool IsExpectedInstance() const override { return true; }
    int GetPrimitiveCount() const override { return 1000; }
    int GetLevelCount() const override { return 2; }
    void SetLevel(int) override {}
    std::vector<RUZLib::MeshTextureEntry> GetTextures() const override {
      std::vector<RUZLib::MeshTextureEntry> list;
      for (const std::string& name : textures_) list.push_back({{}, Vak::PString(name.c_str())});
      return list;
    }
    std::vector<Vak::PString> GetUnresolvedNames() const override { return {}; }
    std::vector<std::vector<Vak::PString>> GetMaterialTextureNames() const override { return {}; }
    std::vector<RUZLib::MeshAttachment> GetAttachments() const override {
      std::vector<RUZLib::MeshAttachment> list;
      for (const std::string& name : attachments_) list.push_back({Vak::PString(name.c_str())});
      return list;
    }
    void ApplyLight(Vak::ParallelLight*) override {}
    int AddAnimation(const Vak::PString&) override { return kAdded; }
    uint32_t GetAnimationValue(const Vak::PString&) override { return 0; }

  private:
    std::vector<std::string> textures_;
    std::vector<std::string> attachments_;
  };

  Result Load(const Vak::PString& name, Vak::ResourceDatabase*, Vak::RenderKernel*, bool) override {
    Result result;
    auto it = meshes.find(name.c_str());
    if (it == meshes.end()) return result;
    result.kind = Kind::kGeometry;
    auto points = attachments.find(name.c_str());
    result.model =
        std::make_unique<Model>(it->second, points == attachments.end() ? std::vector<std::string>{} : points->second);
    return result;
  }
  std::map<std::string, std::vector<std::string>> meshes;  // by lower-case resource name
  std::map<std::string, std::vector<std::string>> attachments;  // attachment points, by the same names
};

// Assets the index knows, by config text, and the replacements of obsolete
// ones.
class FakeIndex : public RUZLib::AssetIndexQueries {
public:
  KUID Resolve(const KUID& kuid) override {
    auto it = replacements.find(kuid.ToConfigText().c_str());
    return it == replacements.end() ? kuid : KUID::Parse(it->second.c_str(), false);
  }
  bool GetStatus(const KUID& kuid, VADAssetStatus& status) override {
    auto it = assets.find(kuid.ToConfigText().c_str());
    if (it == assets.end()) return false;
    status.state = it->second.present ? VADAssetStatus::kInstalled : 0;
    status.text0 = it->second.category.c_str();
    return true;
  }
  struct Asset {
    bool present;
    std::string category;
  };
  std::map<std::string, Asset> assets;
  std::map<std::string, std::string> replacements;
};

class ConfigModelFixture : public ::testing::Test {
protected:
  ConfigModelFixture() : kernel_(nullptr, 8.0f) {
    SetMainThread();
    kernel_.Init(nullptr, 0);
    RUZLib::DataManager::SetMeshSource(&meshes_);
  }
  ~ConfigModelFixture() override { RUZLib::DataManager::SetMeshSource(nullptr); }

  // `schema` goes to kind.txt; further data files may be written before
  // Start().
  void Start(const std::string& schema) {
    folder_.WriteData("stringtable.txt", ArgumentStringTable());
    folder_.WriteData("kind.txt", schema);
    manager_ = std::make_unique<StartedDataManager>(folder_);
    ASSERT_TRUE(manager_->Started());
    (*manager_)->SetupScene(&kernel_);
    (*manager_)->LoadSchema();
  }
  void TearDown() override {
    root_.reset();
    manager_.reset();
    EXPECT_EQ(RUZLib::Container::LiveCount(), 0);
    EXPECT_EQ(RUZLib::Tag::LiveCount(), 0);
  }

  ACSChunkPtr Config(const std::string& text) {
    folder_.WriteFile("config.txt", text);
    ACSChunkPtr config;
    EXPECT_TRUE(config.Load(nullptr, (folder_ / "config.txt").c_str()));
    return config;
  }
  // Loads the text into a fresh root kept until the test ends.
  bool Load(const std::string& text) {
    root_ = std::make_unique<RUZLib::Container>();
    config_ = Config(text);
    return root_->Load(config_);
  }
  // The records as "severity:text".
  static std::vector<std::string> Records() {
    std::vector<std::string> list;
    for (const RUZLib::ErrorRecord* record : RUZLib::ErrorHandler::Instance()->GetMessages())
      list.push_back(std::to_string(record->severity) + ":" + record->text.c_str());
    return list;
  }
  static void ClearRecords() { RUZLib::ErrorHandler::Instance()->Clear(); }
  static std::vector<std::string> TagNames(const RUZLib::Container& container) {
    std::vector<std::string> names;
    for (const RUZLib::Tag* tag : container.tags) names.push_back(tag->name.c_str());
    return names;
  }
  RUZLib::DataManager& Manager() { return **manager_; }

  Vak::RenderKernel kernel_;
  TextureMeshSource meshes_;
  DataFolder folder_;
  std::unique_ptr<StartedDataManager> manager_;
  std::unique_ptr<RUZLib::Container> root_;
  ACSChunkPtr config_;
};

} // namespace datamanager::test
