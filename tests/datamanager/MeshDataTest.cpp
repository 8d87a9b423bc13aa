#include "datamanager/MeshData.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "Vak/Cindrel/ResourceDatabase.h"
#include "content/AppGlobals.h"
#include "datamanager/DataManager.h"
#include "datamanager/ErrorHandler.h"
#include "engine/dorvix/RenderKernel.h"
#include "tests/datamanager/DataManagerSupport.h"

namespace {

using datamanager::test::DataFolder;
using datamanager::test::StartedDataManager;
using RUZLib::Container;
using RUZLib::DataManager;
using RUZLib::ErrorHandler;
using RUZLib::ErrorRecord;
using RUZLib::LODMeshData;
using RUZLib::MeshData;
using RUZLib::MeshModel;
using RUZLib::MeshSource;

// What a fake mesh resource loads as.
struct FakeMesh {
  MeshSource::Kind kind = MeshSource::Kind::kGeometry;
  bool loadFailed = false;
  bool expectedInstance = true;
  std::vector<int> primitives{1000};  // per level
  std::vector<std::string> textures;
  std::vector<std::string> unresolved;
  std::vector<std::vector<std::string>> materials;
  int addResult = MeshModel::kAdded;
};

FakeMesh Resource(MeshSource::Kind kind, bool loadFailed = false) {
  FakeMesh mesh;
  mesh.kind = kind;
  mesh.loadFailed = loadFailed;
  return mesh;
}

std::atomic<int> gModelsAlive{0};

class FakeModel : public MeshModel {
public:
  explicit FakeModel(const FakeMesh& mesh) : mesh_(mesh) { ++gModelsAlive; }
  ~FakeModel() override { --gModelsAlive; }
  bool IsExpectedInstance() const override { return mesh_.expectedInstance; }
  int GetPrimitiveCount() const override { return mesh_.primitives[static_cast<std::size_t>(level_)]; }
  int GetLevelCount() const override { return static_cast<int>(mesh_.primitives.size()); }
  void SetLevel(int level) override { level_ = level; }
  std::vector<RUZLib::MeshTextureEntry> GetTextures() const override {
    std::vector<RUZLib::MeshTextureEntry> list;
    for (const std::string& name : mesh_.textures) list.push_back({{}, Vak::PString(name.c_str())});
    return list;
  }
  std::vector<Vak::PString> GetUnresolvedNames() const override {
    std::vector<Vak::PString> list;
    for (const std::string& name : mesh_.unresolved) list.emplace_back(name.c_str());
    return list;
  }
  std::vector<std::vector<Vak::PString>> GetMaterialTextureNames() const override {
    std::vector<std::vector<Vak::PString>> list;
    for (const auto& material : mesh_.materials) {
      list.emplace_back();
      for (const std::string& name : material) list.back().emplace_back(name.c_str());
    }
    return list;
  }
  std::vector<RUZLib::MeshAttachment> GetAttachments() const override {
    return {{Vak::PString("a.front"), 1, 2, 3}};
  }
  void ApplyLight(Vak::ParallelLight*) override {}
  int AddAnimation(const Vak::PString& name) override {
    added.push_back(name.c_str());
    return mesh_.addResult;
  }
  uint32_t GetAnimationValue(const Vak::PString&) override { return 42; }

  std::vector<std::string> added;

private:
  FakeMesh mesh_;
  int level_ = 0;
};

class FakeSource : public MeshSource {
public:
  Result Load(const Vak::PString& name, Vak::ResourceDatabase*, Vak::RenderKernel*, bool levelOfDetail) override {
    loads.push_back({name.c_str(), levelOfDetail});
    Result result;
    auto it = meshes.find(name.c_str());
    if (it == meshes.end()) return result;
    result.kind = it->second.kind;
    result.loadFailed = it->second.loadFailed;
    if (result.kind == Kind::kGeometry && !result.loadFailed) result.model = std::make_unique<FakeModel>(it->second);
    return result;
  }
  std::map<std::string, FakeMesh> meshes;  // by lower-case resource name
  std::vector<std::pair<std::string, bool>> loads;
};

// Textures exist when the test says so.
class FakeTextures : public Vak::TextureCollection {
public:
  Vak::Texture* Find(const Vak::PString& name, Vak::ResourceDatabase*) override {
    return present.count(name.c_str()) ? new Vak::Texture(name) : nullptr;
  }
  std::set<std::string> present;
};

// Each entry reads "<number>" followed by one conversion per declared
// argument, so a report shows which entry it is and what it was given.
std::string NumberedStringTable() {
  std::map<int, std::string> entries;
  for (const RUZLib::MessageSpec& spec : RUZLib::MessageRegistry()) {
    std::string text = std::to_string(spec.number);
    for (const char* k = spec.kinds; *k; ++k) text += *k == 's' ? " %s" : *k == 'i' ? " %d" : " %g";
    entries[spec.number] = text;
  }
  return datamanager::test::StringTableText(entries);
}

Vak::PString gKind;
Vak::PString KindOfContainer(Container*) { return gKind; }

alignas(8) char gOwners[4];
Container* C(int i) { return reinterpret_cast<Container*>(&gOwners[i]); }

class MeshDataTest : public ::testing::Test {
protected:
  MeshDataTest() : kernel_(nullptr, 8.0f) {
    SetMainThread();
    folder_.WriteData("stringtable.txt", NumberedStringTable());
    SetDatabaseRootPath(folder_.Path().string().c_str());
    kernel_.Init(nullptr, 0);
    kernel_.SetTextureCollection(&textures_);
    manager_ = std::make_unique<StartedDataManager>(folder_);
    (*manager_)->SetupScene(&kernel_);
    (*manager_)->SetCurrentAsset("asset", "content");
    DataManager::SetMeshSource(&source_);
    DataManager::SetContainerKindFunction(&KindOfContainer);
    gKind = "scenery";
  }
  ~MeshDataTest() override {
    manager_.reset();
    DataManager::SetMeshSource(nullptr);
    DataManager::SetContainerKindFunction(nullptr);
    SetDatabaseRootPath("");
    EXPECT_EQ(gModelsAlive.load(), 0);
  }

  DataManager& Manager() { return **manager_; }
  MeshData* Load(const char* name, Container* container) {
    return Manager().LoadMeshForField(Vak::PString(name), container);
  }
  // The records as "severity:text".
  std::vector<std::string> Records() const {
    std::vector<std::string> list;
    for (const ErrorRecord* record : ErrorHandler::Instance()->GetMessages())
      list.push_back(std::to_string(record->severity) + ":" + record->text.c_str());
    return list;
  }

  DataFolder folder_;
  Vak::RenderKernel kernel_;
  FakeTextures textures_;
  FakeSource source_;
  std::unique_ptr<StartedDataManager> manager_;
};

struct ExtensionCase {
  const char* name;
  float build;
  bool loaded;       // an object comes back
  bool levelOfDetail;
  std::vector<std::string> records;
};

TEST_F(MeshDataTest, ExtensionTable) {
  FakeMesh mesh;
  mesh.textures = {"t.texture"};
  mesh.primitives = {1000, 500};
  source_.meshes["body.im"] = mesh;
  source_.meshes["a.lm"] = mesh;
  source_.meshes["a.lm.txt"] = mesh;
  source_.meshes["p.pm"] = Resource(MeshSource::Kind::kProgressive);
  const ExtensionCase cases[] = {
      {"body.IM", 3.1f, true, false, {}},
      {"a.lm", 3.1f, true, true, {}},
      {"a.lm.txt", 3.1f, true, true, {}},
      {"a.txt", 3.1f, false, false, {}},
      {"a.xyz", 3.1f, false, false, {}},
      {"", 3.1f, false, false, {}},
      {"noextension", 3.1f, false, false, {}},
      {"p.pm", 2.9f, false, false, {"3:122"}},
      {"p.pm", 2.8f, false, false, {"2:122"}},
      // The 0.1 added before truncating lifts 2.8999 to 290, not 2.899.
      {"p.pm", 2.8999f, false, false, {"3:122"}},
      {"p.pm", 2.899f, false, false, {"2:122"}},
  };
  for (const ExtensionCase& c : cases) {
    ErrorHandler::Instance()->Clear();
    Manager().meshFailureReported = false;
    Manager().currentBuild = c.build;
    MeshData* object = Load(c.name, C(0));
    EXPECT_EQ(object != nullptr, c.loaded) << c.name;
    if (object) {
      EXPECT_EQ(object->IsLevelOfDetail(), c.levelOfDetail) << c.name;
      EXPECT_EQ(Manager().CurrentObject(), object);
      EXPECT_EQ(object->Parent(), Manager().GetRootParticle());
      EXPECT_TRUE(object->IsMarked(Vak::Particle::kMarkCurrent));
    }
    EXPECT_EQ(Records(), c.records) << c.name;
  }
  // A progressive mesh is loaded, then dropped, and always marks the failure.
  EXPECT_TRUE(Manager().meshFailureReported);
}

TEST_F(MeshDataTest, AbsoluteNamesAreMadeRelativeToTheContentFolder) {
  source_.meshes["asset\\body.im"] = FakeMesh{};
  const std::string absolute = folder_.Path().string() + "/content/asset/body.im";
  EXPECT_NE(Load(absolute.c_str(), C(0)), nullptr);
  ASSERT_EQ(source_.loads.size(), 1u);
  EXPECT_EQ(source_.loads[0].first, "asset\\body.im");
  EXPECT_STREQ(Manager().CurrentObject()->GetMeshPath().c_str(), "asset\\body.im");
}

TEST_F(MeshDataTest, AnimationBeforeAnyMeshReportsOnce) {
  EXPECT_EQ(Load("walk.kin", C(0)), nullptr);
  EXPECT_EQ(Load("run.kin", C(0)), nullptr);
  EXPECT_EQ(Records(), (std::vector<std::string>{"3:88 walk.kin"}));
  EXPECT_TRUE(Manager().meshFailureReported);
}

TEST_F(MeshDataTest, AnimationAfterAFailedMeshReportsNothingMore) {
  EXPECT_EQ(Load("missing.im", C(0)), nullptr);
  EXPECT_EQ(Records(), (std::vector<std::string>{"3:131 missing.im"}));
  EXPECT_TRUE(Manager().meshFailureReported);
  EXPECT_EQ(Load("walk.kin", C(0)), nullptr);
  EXPECT_EQ(Records().size(), 1u);
}

TEST_F(MeshDataTest, MissingResourceReportsUnlessOwnerlessOrMeshAsset) {
  // The built-in source finds nothing, as in a program without mesh formats.
  DataManager::SetMeshSource(nullptr);
  EXPECT_EQ(Load("content\\asset\\body.im", C(0)), nullptr);
  EXPECT_EQ(Records(), (std::vector<std::string>{"3:131 asset\\body.im"}));
  ErrorHandler::Instance()->Clear();
  EXPECT_EQ(Load("body.im", nullptr), nullptr);
  Manager().meshAssetSeen = true;
  EXPECT_EQ(Load("body.im", C(1)), nullptr);
  EXPECT_TRUE(Records().empty());
  Manager().meshAssetSeen = false;
}

TEST_F(MeshDataTest, WrongResourcesAndFailedLoads) {
  source_.meshes["other.im"] = Resource(MeshSource::Kind::kOther);
  source_.meshes["failed.im"] = Resource(MeshSource::Kind::kGeometry, true);
  FakeMesh wrongInstance;
  wrongInstance.expectedInstance = false;
  source_.meshes["wrong.lm"] = wrongInstance;
  source_.meshes["p.lm"] = Resource(MeshSource::Kind::kProgressive);
  EXPECT_EQ(Load("other.im", C(0)), nullptr);
  EXPECT_EQ(Load("failed.im", C(0)), nullptr);
  EXPECT_EQ(Load("wrong.lm", C(0)), nullptr);
  EXPECT_EQ(Load("p.lm", C(0)), nullptr);
  EXPECT_EQ(Records(), (std::vector<std::string>{"3:131 other.im", "3:132 failed.im", "3:132 wrong.lm",
                                                 "3:131 p.lm"}));
  EXPECT_TRUE(Manager().LoadedObjects().empty());
}

TEST_F(MeshDataTest, SecondLoadForOneContainerDeletesTheFirst) {
  source_.meshes["a.im"] = FakeMesh{};
  source_.meshes["b.im"] = FakeMesh{};
  MeshData* first = Load("a.im", C(0));
  ASSERT_NE(first, nullptr);
  MeshData* other = Load("a.im", C(1));
  ASSERT_NE(other, nullptr);
  EXPECT_FALSE(first->IsMarked(Vak::Particle::kMarkCurrent));
  EXPECT_EQ(gModelsAlive.load(), 2);
  MeshData* second = Load("b.im", C(0));
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(gModelsAlive.load(), 2);
  EXPECT_EQ(Manager().LoadedObjects().at(C(0)), second);
  EXPECT_EQ(Manager().LoadedObjects().size(), 2u);
  EXPECT_EQ(Manager().GetRootParticle()->Children().size(), 2u);
  Manager().RemoveLoadedObject(C(1));
  EXPECT_EQ(gModelsAlive.load(), 1);
  Manager().PurgeLoadedData();
  EXPECT_EQ(gModelsAlive.load(), 0);
  EXPECT_EQ(Manager().CurrentObject(), nullptr);
  EXPECT_TRUE(Manager().GetRootParticle()->Children().empty());
}

struct DetailCase {
  const char* name;
  const char* kind;
  std::vector<int> primitives;
  bool textures;
  std::vector<std::string> records;
};

TEST_F(MeshDataTest, LevelOfDetailChecks) {
  const DetailCase cases[] = {
      {"plain", "scenery", {2000, 500}, true, {}},
      {"one level", "scenery", {2000}, true, {"2:200 d.lm"}},
      {"few primitives at the last level", "scenery", {2000, 299}, true, {"2:201 d.lm"}},
      {"no textures and no animations", "scenery", {2000, 300}, false, {"2:202 d.lm"}},
      {"all three", "scenery", {10}, false, {"2:202 d.lm", "2:200 d.lm", "2:201 d.lm"}},
      {"traincar", "traincar", {10}, false, {}},
      {"bogey", "bogey", {10}, false, {}},
      {"interior", "interior", {10}, false, {}},
      {"pantograph", "pantograph", {10}, false, {}},
      {"drivercharacter", "drivercharacter", {10}, false, {}},
  };
  for (const DetailCase& c : cases) {
    ErrorHandler::Instance()->Clear();
    gKind = c.kind;
    FakeMesh mesh;
    mesh.primitives = c.primitives;
    if (c.textures) mesh.textures = {"t.bmp"};
    source_.meshes["asset\\d.lm"] = mesh;
    EXPECT_NE(Load("asset\\d.lm", C(0)), nullptr) << c.name;
    EXPECT_EQ(Records(), c.records) << c.name;
  }
}

TEST_F(MeshDataTest, TextureListsAndDescriptions) {
  // Descriptions live under the database root and the content folder.
  folder_.WriteFile("content/present.texture.txt", "Alpha=x.tga\r\nPrimary=Present.TGA\r\n");
  folder_.WriteFile("content/present.tga", "");
  folder_.WriteFile("content/missing.texture.txt", "Primary=gone.tga\r\n");
  folder_.WriteFile("content/last.texture.txt", "Alpha=x.tga\r\nPrimary=lastgone.tga");
  folder_.WriteFile("content/plain.txt", "Primary=plaingone.bmp\n");
  textures_.present = {"present.texture", "missing.texture", "last.texture", "plain.txt"};
  FakeMesh mesh;
  mesh.textures = {"sub/dir/present.texture", "flat.bmp"};
  mesh.materials = {{"present.texture", "missing.texture"}, {"last.texture", "plain.txt", "absent.bmp"}};
  mesh.unresolved = {"asset/lost.texture"};
  source_.meshes["asset\\m.im"] = mesh;
  MeshData* object = Load("asset\\m.im", C(0));
  ASSERT_NE(object, nullptr);
  const std::string root = folder_.Path().string();
  EXPECT_EQ(Records(), (std::vector<std::string>{
                           "3:144 lost.texture asset\\m.im",
                           "3:133 " + root + "/content/gone.tga",
                           "3:133 " + root + "/content/lastgone.tga",
                           "3:133 " + root + "/content/plaingone.bmp",
                           "3:133 absent.bmp",
                       }));
  ASSERT_EQ(object->GetTextureCount(), 2);
  EXPECT_STREQ(object->GetTextures()[0].fileName.c_str(), "present.texture");
  EXPECT_STREQ(object->GetTextures()[1].fileName.c_str(), "flat.bmp");
  ASSERT_EQ(object->GetAttachmentCount(), 1);
  EXPECT_STREQ(object->GetAttachments()[0].name.c_str(), "a.front");
  EXPECT_TRUE(Manager().IsFileReferenced("present.texture", "queues"));
  EXPECT_FALSE(Manager().IsFileReferenced("other.texture", "queues"));
}

struct AnimationCase {
  int addResult;
  bool kept;
  std::vector<std::string> records;
};

TEST_F(MeshDataTest, AnimationAddResults) {
  const AnimationCase cases[] = {
      {0, true, {}},
      {1, true, {}},
      {2, false, {"3:142 asset\\walk.kin"}},
      {3, false, {"3:141 asset\\walk.kin"}},
      {4, false, {"3:140 asset\\walk.kin"}},
  };
  for (const AnimationCase& c : cases) {
    ErrorHandler::Instance()->Clear();
    FakeMesh mesh;
    mesh.addResult = c.addResult;
    source_.meshes["body.im"] = mesh;
    MeshData* object = Load("body.im", C(0));
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(Load("asset\\Walk.KIN", C(1)), nullptr);
    EXPECT_EQ(Records(), c.records) << c.addResult;
    auto* model = static_cast<FakeModel*>(object->GetInstance());
    EXPECT_EQ(model->added, (std::vector<std::string>{"asset\\walk.kin"}));
    ASSERT_EQ(object->GetAnimations().size(), c.kept ? 1u : 0u);
    if (c.kept) {
      EXPECT_EQ(object->GetAnimations()[0].value, 42u);
    }
  }
}

TEST_F(MeshDataTest, AnimationWithoutAnimatorReportsTheAnimationPath) {
  MeshData orphan;
  EXPECT_FALSE(orphan.LoadAnimation("walk.kin", &orphan));
  EXPECT_EQ(Records(), (std::vector<std::string>{"3:143 walk.kin"}));
}

TEST_F(MeshDataTest, LoadFromAnotherThreadRunsWhenTheMainThreadRunsTheScheduler) {
  source_.meshes["t.im"] = FakeMesh{};
  MeshData object;
  std::atomic<int> result{-1};
  std::thread poster([&] { result = object.Load("t.im", C(0)) ? 1 : 0; });
  // The main thread runs queued jobs; the poster is released once its job
  // has run here.
  while (result.load() < 0) JobScheduler::Instance().RunPending(0);
  poster.join();
  EXPECT_EQ(result.load(), 1);
  ASSERT_EQ(source_.loads.size(), 1u);
  EXPECT_NE(object.GetInstance(), nullptr);
}

TEST(MeshDataHelpers, PrimaryImageOfADescription) {
  const struct {
    const char* text;
    bool found;
    const char* image;
  } cases[] = {
      {"Primary=A.TGA\r\nAlpha=b.tga\r\n", true, "a.tga"},
      {"Alpha=b.tga\nPrimary=last.bmp", true, "last.bmp"},
      {"primary=lower.bmp\n", false, ""},
      {" Primary=indented.bmp\n", false, ""},
      {"", false, ""},
      {"Primary=\n", true, ""},
  };
  for (const auto& c : cases) {
    std::string image;
    EXPECT_EQ(RUZLib::FindPrimaryImage(c.text, image), c.found) << c.text;
    if (c.found) {
      EXPECT_EQ(image, c.image) << c.text;
    }
  }
  EXPECT_STREQ(RUZLib::WithoutFirstFolder("a\\b\\c.im").c_str(), "b\\c.im");
  EXPECT_STREQ(RUZLib::WithoutFirstFolder("c.im").c_str(), "c.im");
}

} // namespace
