// The mesh resources: loading with and without a render kernel, what a load
// leaves behind, completion, the loaded-state answers, and the types found
// by extension through the resource system over a folder database.
#include "assets3d/VelmarGeometryBaseResource.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include "Vak/Bexlorn/Options.h"
#include "Vak/Cindrel/ResourceSystem.h"
#include "Vak/plugins/PluginSystem.h"
#include "assets3d/VelmarDynamicIndexedMeshInstance.h"
#include "assets3d/VelmarIndexedMeshInstance.h"
#include "assets3d/VelmarIndexedMeshLODInstance.h"
#include "assets3d/VelmarResourceDatabase.h"
#include "engine/dorvix/RenderKernel.h"
#include "engine/elthrac/ViewPoint.h"
#include "tests/assets3d/mesh/IdxmBuilder.h"
#include "tests/assets3d/mesh/LodmBuilder.h"
#include "tests/platform/os/TempFolder.h"

namespace {

using namespace meshtest;

std::string TexturedQuad(const std::vector<std::string>& textures) {
  ChunkGroup g = QuadGroup();
  for (const std::string& file : textures) g.material.textures.push_back(Texture{0, file, 1});
  return IdxmFile({g});
}

std::string CutShort(std::string bytes) {
  bytes.resize(bytes.size() / 2);
  return bytes;
}

std::string BadMagic(std::string bytes) {
  bytes[0] = 'X';
  return bytes;
}

// Types registered by this program's own entry, under bare extensions.
class MeshResourceTest : public ::testing::Test {
protected:
  void SetUp() override {
    const std::string group = Vak::ResourceTypeBase::kGroup;
    plugins_.WriteFile("plugins.ini", "+PluginGroup=ResourceTypes:" + group + "\n+Plugin=im:*:" + kIndexedMeshTypeId +
                                          ":" + group + "\n+Plugin=pm:*:" + kProgressiveMeshTypeId + ":" + group +
                                          "\n+Plugin=lm:*:" + kLODMeshTypeId + ":" + group +
                                          "\n+Plugin=lm.txt:*:" + kLODMeshTypeId + ":" + group + "\n");
    Vak::PluginSystem::SetFolders(plugins_.Path().c_str(), plugins_.Path().c_str());
    system_ = std::make_unique<Vak::ResourceSystem>();
    system_->Init(nullptr);
    std::filesystem::create_directories(root_.Path() / "meshdb");
    database_ = std::make_unique<VelmarResourceDatabase>(false, Vak::PString("meshdb"), root_.Path().c_str());
  }
  void TearDown() override {
    for (Vak::Resource* resource : held_) resource->ReleaseReference();
    database_.reset();
    system_.reset();
    Vak::PluginSystem::SetFolders(nullptr, nullptr);
  }

  void Write(const std::string& name, const std::string& bytes) { root_.WriteFile("meshdb/" + name, bytes); }

  // The resource of the name, one use taken; released by the fixture.
  VelmarGeometryBaseResource* Get(const std::string& name) {
    Vak::Resource* resource = database_->Get(Vak::PString(name.c_str()), Vak::ResourceDatabase::kNoQueue);
    if (resource) held_.push_back(resource);
    return dynamic_cast<VelmarGeometryBaseResource*>(resource);
  }
  // Got and locked for the kernel.
  VelmarGeometryBaseResource* Loaded(const std::string& name) {
    VelmarGeometryBaseResource* resource = Get(name);
    if (resource == nullptr) return nullptr;
    resource->SetRenderKernel(&kernel_);
    if (!resource->Lock().Ok()) return nullptr;
    resource->Unlock();
    return resource;
  }

  platform::test::TempFolder plugins_;
  platform::test::TempFolder root_;
  std::unique_ptr<Vak::ResourceSystem> system_;
  std::unique_ptr<VelmarResourceDatabase> database_;
  Vak::RenderKernel kernel_{nullptr, 8.0f};
  std::vector<Vak::Resource*> held_;
};

TEST_F(MeshResourceTest, TypesAreFoundByTheBareExtension) {
  Write("a/body.im", IdxmFile({QuadGroup()}));
  Write("a/BODY2.IM", IdxmFile({QuadGroup()}));
  Write("a/lod.pm", IdxmFile({QuadGroup()}));
  Write("a/levels.lm", LodmFile(LevelsAt({10, 50})));
  struct Case {
    const char* name;
    const std::type_info& resource;
    const std::type_info& instance;
  } cases[] = {
      {"a\\body.im", typeid(VelmarIndexedMeshResource), typeid(VelmarIndexedMeshInstance)},
      {"a\\BODY2.IM", typeid(VelmarIndexedMeshResource), typeid(VelmarIndexedMeshInstance)},
      {"a\\lod.pm", typeid(VelmarProgressiveMeshResource), typeid(VelmarProgressiveMeshInstance)},
      {"a\\levels.lm", typeid(VelmarIndexedMeshLODResource), typeid(VelmarIndexedMeshLODInstance)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    VelmarGeometryBaseResource* resource = Loaded(c.name);
    ASSERT_NE(resource, nullptr);
    EXPECT_EQ(typeid(*resource), c.resource);
    std::unique_ptr<VelmarIndexedMeshInstance> instance(resource->CreateMeshInstance());
    ASSERT_NE(instance, nullptr);
    EXPECT_EQ(typeid(*instance), c.instance);
    EXPECT_EQ(instance->GetPrimitiveCount(), 2);
    EXPECT_EQ(instance->GetResource(), resource);
    // Named after the file it was read from.
    const std::string file = c.name + 2;
    const std::string meshName = instance->GetMeshName().IsNull() ? "" : instance->GetMeshName().c_str();
    EXPECT_EQ(meshName.substr(meshName.size() - std::min(meshName.size(), file.size())), file);
  }
}

TEST_F(MeshResourceTest, SkinnedMeshesGiveTheirDynamicInstances) {
  ChunkGroup g = QuadGroup();
  g.geometry.weights = 4;
  Info skinned;
  skinned.maxInfluences = 4;
  skinned.maxMatrices = 20;
  auto skin = [&](std::optional<std::string> parent) {
    return IdxmFile({g}, InflChunk({Influence{"bone", parent, {0, 0, 0}, kIdentity9, {Group{0, {Entry{0, 1}}}}}}),
                    skinned);
  };
  Write("s/skin.im", skin(std::nullopt));
  Write("s/skin.pm", skin(std::nullopt));
  Write("s/rootless.im", skin("ghost"));
  Write("s/rootless.pm", skin("ghost"));
  Lodm levels = LevelsAt({10});
  levels.bont = std::vector<BoneRecord>{{"root", ""}};
  Write("s/skin.lm", LodmFile(levels));
  levels.bont = std::vector<BoneRecord>{{"arm", "ghost"}};
  Write("s/rootless.lm", LodmFile(levels));
  struct Case {
    const char* name;
    const std::type_info* instance;  // null: none
  } cases[] = {
      {"s\\skin.im", &typeid(VelmarDynamicIndexedMeshInstance)},
      {"s\\skin.pm", &typeid(VelmarDynamicProgressiveMeshInstance)},
      {"s\\skin.lm", &typeid(VelmarDynamicIndexedMeshLODInstance)},
      {"s\\rootless.im", nullptr},
      {"s\\rootless.pm", nullptr},
      {"s\\rootless.lm", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    VelmarGeometryBaseResource* resource = Loaded(c.name);
    ASSERT_NE(resource, nullptr);
    std::unique_ptr<VelmarIndexedMeshInstance> instance(resource->CreateMeshInstance());
    if (c.instance == nullptr) {
      EXPECT_EQ(instance, nullptr);
      continue;
    }
    ASSERT_NE(instance, nullptr);
    EXPECT_EQ(typeid(*instance), *c.instance);
    auto* bones = dynamic_cast<VelmarInfluenceMesh*>(instance.get());
    ASSERT_NE(bones, nullptr);
    ASSERT_NE(bones->GetRootBone(), nullptr);
    EXPECT_NE(bones->GetRootBone()->particle, nullptr) << "bound to the skeleton below the instance";
    EXPECT_EQ(bones->GetRootParticle()->Parent(), instance.get());
  }
}

TEST_F(MeshResourceTest, InstancesNeedAKernel) {
  Write("s/plain.im", IdxmFile({QuadGroup()}));
  VelmarGeometryBaseResource* plain = Loaded("s\\plain.im");
  ASSERT_NE(plain, nullptr);
  plain->SetRenderKernel(nullptr);
  EXPECT_EQ(plain->CreateMeshInstance(), nullptr);
}

TEST_F(MeshResourceTest, LoadsThatFailLeaveNoDefinition) {
  const std::string sound = TexturedQuad({});
  const std::string levels = LodmFile(LevelsAt({10, 50}));
  struct Case {
    const char* name;
    bool levelOfDetail;
    std::string bytes;  // empty: no file
    bool kernel;
    bool loads;
    bool manager = true;
  } cases[] = {
      {"sound", false, sound, true, true},
      {"no render kernel", false, sound, false, false},
      {"cut short", false, CutShort(sound), true, false},
      {"bad magic", false, BadMagic(sound), true, false},
      {"wrong container", false, Container("PMIN", ""), true, false},
      {"levels: sound", true, levels, true, true},
      {"levels: no render kernel", true, levels, false, false},
      {"levels: no material manager", true, levels, true, false, false},
      {"levels: cut short", true, CutShort(levels), true, false},
      {"levels: bad magic", true, BadMagic(levels), true, false},
      {"levels: an indexed mesh file", true, sound, true, false},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = "f" + std::to_string(n++) + (c.levelOfDetail ? ".lm" : ".im");
    root_.WriteFile(file, c.bytes);
    Vak::RenderKernel kernel(nullptr, 8.0f);
    kernel.SetWithoutMaterialManager(!c.manager);
    const Vak::PString name((root_ / file).c_str());
    std::unique_ptr<VelmarGeometryBaseResource> made;
    if (c.levelOfDetail) {
      made = std::make_unique<VelmarIndexedMeshLODResource>(name, nullptr);
    } else {
      made = std::make_unique<VelmarIndexedMeshResource>(name, nullptr);
    }
    VelmarGeometryBaseResource& resource = *made;
    if (c.kernel) resource.SetRenderKernel(&kernel);
    resource.AddFailedMaterialName(Vak::PString("stale"));
    EXPECT_EQ(resource.Load((root_ / file).c_str()).Ok(), c.loads);
    EXPECT_EQ(resource.GetDefinition() != nullptr, c.loads);
    EXPECT_TRUE(resource.GetFailedMaterials().empty()) << "every load starts by clearing them";
    if (!c.loads) {
      EXPECT_EQ(resource.CalculateDataSize(), 0u);
    }
    if (!c.kernel) {
      EXPECT_TRUE(kernel.GetMaterialManager().Requested().empty()) << "nothing was made";
    }
  }
}

TEST_F(MeshResourceTest, DataSizeCountsTheDefinitionAndItsChunks) {
  const std::string bytes = IdxmFile({QuadGroup(), QuadGroup()}, AtchChunk({Attachment{"a.track0"}}));
  root_.WriteFile("d.im", bytes);
  VelmarIndexedMeshResource resource(Vak::PString((root_ / "d.im").c_str()), nullptr);
  resource.SetRenderKernel(&kernel_);
  ASSERT_TRUE(resource.Load((root_ / "d.im").c_str()).Ok());
  const VelmarIndexedMeshDefinition& d = *resource.GetDefinition();
  std::size_t expected = sizeof(VelmarIndexedMeshDefinition) + sizeof(VelmarIndexedMeshDefinition::AttachmentPoint);
  for (unsigned i = 0; i < 2; ++i)
    expected += std::size_t(d.GetChunk(i)->GetVertexSize()) * 4 + 2 * 6;
  EXPECT_EQ(resource.CalculateDataSize(), expected);
  EXPECT_EQ(resource.CalculateSize(), sizeof(VelmarIndexedMeshResource));
}

TEST_F(MeshResourceTest, ProgressiveIndexDataIsDynamicUnlessTheOptionsSayOtherwise) {
  root_.WriteFile("p.pm", IdxmFile({QuadGroup()}));
  struct Case {
    const char* name;
    MeshGeometryOption dynamicIndex;
    int indexUsage;
  } cases[] = {
      {"left unset", {0, 0}, 1},
      {"set to false", {0, 1}, 0},
      {"set to true", {1, 1}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    VelmarProgressiveMeshResource resource(Vak::PString((root_ / "p.pm").c_str()), nullptr);
    resource.SetRenderKernel(&kernel_);
    MeshGeometryOptions options;
    options.dynamicIndex = c.dynamicIndex;
    resource.SetGeometryOptions(options);
    ASSERT_TRUE(resource.Load((root_ / "p.pm").c_str()).Ok());
    EXPECT_EQ(resource.GetDefinition()->GetChunk(0)->GetHint().indexUsage, c.indexUsage);
    EXPECT_EQ(resource.GetGeometryOptions().dynamicIndex.isSet, c.dynamicIndex.isSet) << "the resource's own stay";
  }
  // The indexed resource leaves an unset option to the definition.
  VelmarIndexedMeshResource indexed(Vak::PString((root_ / "p.pm").c_str()), nullptr);
  indexed.SetRenderKernel(&kernel_);
  ASSERT_TRUE(indexed.Load((root_ / "p.pm").c_str()).Ok());
  EXPECT_EQ(indexed.GetDefinition()->GetChunk(0)->GetHint().indexUsage, 2);
}

TEST_F(MeshResourceTest, BinaryLoadsClearTheFailedMaterialNames) {
  root_.WriteFile("m.im", IdxmFile({QuadGroup()}));
  struct Case {
    const char* name;
    Vak::MaterialManager::Result answer;
    bool fallBack;
    bool loads;
    std::size_t failed;
  } cases[] = {
      {"material found", Vak::MaterialManager::kOk, false, true, 0},
      {"not found, no fall-back", Vak::MaterialManager::kNotFound, false, false, 1},
      {"not found, fall-back", Vak::MaterialManager::kNotFound, true, true, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Vak::RenderKernel kernel(nullptr, 8.0f);
    // The name the reader asks for: owner (none), the file's folder, the material.
    const std::string decorated = "*" + root_.Path().string() + "*mat";
    kernel.GetMaterialManager().SetAnswer(Vak::PString(decorated.c_str()), c.answer);
    VelmarIndexedMeshResource resource(Vak::PString((root_ / "m.im").c_str()), nullptr);
    resource.SetRenderKernel(&kernel);
    resource.SetMaterialFallBack(c.fallBack);
    for (int round = 0; round < 2; ++round) {
      resource.AddFailedMaterialName(Vak::PString("stale"));
      EXPECT_EQ(resource.Load((root_ / "m.im").c_str()).Ok(), c.loads);
      ASSERT_EQ(resource.GetFailedMaterials().size(), c.failed);
      if (c.failed) {
        EXPECT_EQ(resource.GetFailedMaterials()[0].c_str(), decorated);
      }
    }
  }
}

TEST_F(MeshResourceTest, CompletionHandsTexturesOverAndMakesEveryChunksBuffers) {
  Write("t/car.im", IdxmFile({QuadGroup(), [] {
                                ChunkGroup g = QuadGroup();
                                g.material.textures = {Texture{0, "art\\paint.texture", 0.5f}, Texture{1, "glass.texture", 1}};
                                return g;
                              }()}));
  VelmarGeometryBaseResource* resource = Loaded("t\\car.im");
  ASSERT_NE(resource, nullptr);
  const VelmarIndexedMeshDefinition& d = *resource->GetDefinition();
  EXPECT_TRUE(d.GetMaterial(0)->GetTextureList().empty());
  const std::vector<Vak::Texture*>& list = d.GetMaterial(1)->GetTextureList();
  ASSERT_EQ(list.size(), 2u);
  EXPECT_STREQ(list[0]->GetName().c_str(), "t\\paint.texture") << "placed in the mesh's folder";
  EXPECT_STREQ(list[1]->GetName().c_str(), "t\\glass.texture");
  EXPECT_EQ(d.GetMaterial(1)->GetTexture(1), list[1]);
  for (unsigned i = 0; i < 2; ++i) EXPECT_EQ(d.GetChunk(i)->GetBufferInitCount(), 1u);

  // One chunk refusing its buffers does not fail the completion.
  root_.WriteFile("r.im", IdxmFile({QuadGroup(), QuadGroup()}));
  VelmarIndexedMeshResource direct(Vak::PString((root_ / "r.im").c_str()), nullptr);
  direct.SetRenderKernel(&kernel_);
  ASSERT_TRUE(direct.Load((root_ / "r.im").c_str()).Ok());
  direct.GetDefinition()->GetChunk(0)->SetRefuseBuffers(true);
  EXPECT_TRUE(direct.LoadComplete().Ok());
  EXPECT_EQ(direct.GetDefinition()->GetChunk(1)->GetBufferInitCount(), 1u);
}

TEST_F(MeshResourceTest, LoadAllLoadsPendingTextures) {
  Write("u/car.im", TexturedQuad({"found.texture", "missing.texture"}));
  Write("u/found.texture", "x");
  VelmarGeometryBaseResource* resource = Loaded("u\\car.im");
  ASSERT_NE(resource, nullptr);
  EXPECT_FALSE(resource->LoadAll()) << "a texture that fails fails the result";
  const std::vector<Vak::Texture*>& list = resource->GetDefinition()->GetMaterial(0)->GetTextureList();
  ASSERT_EQ(list.size(), 2u);
  EXPECT_TRUE(list[0]->IsLoaded());
  EXPECT_TRUE(list[1]->HasFailed());

  Write("v/car.im", TexturedQuad({"found.texture"}));
  Write("v/found.texture", "x");
  VelmarGeometryBaseResource* good = Loaded("v\\car.im");
  ASSERT_NE(good, nullptr);
  EXPECT_TRUE(good->LoadAll());
  EXPECT_EQ(good->IsAllLoaded(), Vak::Resource::RES_OK);
}

TEST_F(MeshResourceTest, AllLoadedFollowsTheMaterialAndTextureStates) {
  using Texture = Vak::Texture;
  struct FailedImage : Vak::Resource {
    FailedImage() : Resource(Vak::PString("img"), nullptr) { SetState(kInvalid); }
  } failedImage;
  struct Case {
    const char* name;
    std::function<void(Vak::Material&, std::vector<Texture*>&)> setUp;  // textures pending in the list
    unsigned expected;
  } cases[] = {
      {"every material loaded",
       [](Vak::Material&, std::vector<Texture*>& t) {
         for (Texture* texture : t) texture->SetLoadState(Texture::kLoaded);
       },
       0},
      {"a material in another state", [](Vak::Material& m, std::vector<Texture*>&) { m.SetState(1); }, 1},
      {"loading textures with a failed one", [](Vak::Material&, std::vector<Texture*>& t) { t[0]->SetLoadState(Texture::kFailed); }, 1},
      {"loading textures whose image failed",
       [&](Vak::Material&, std::vector<Texture*>& t) { t[0]->SetResource(&failedImage); }, 1},
      {"loading textures still pending", [](Vak::Material&, std::vector<Texture*>&) {}, 5},
      {"the first pending texture decides",
       [](Vak::Material&, std::vector<Texture*>& t) {
         t[0]->SetLoadState(Texture::kLoaded);
         t[1]->SetLoadState(Texture::kFailed);
       },
       1},
  };
  failedImage.AddHold();  // never freed by a release below
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string name = "w" + std::to_string(n++);
    Write(name + "/car.im", TexturedQuad({"a.texture", "b.texture"}));
    VelmarGeometryBaseResource* resource = Loaded(name + "\\car.im");
    ASSERT_NE(resource, nullptr);
    Vak::Material& material = *resource->GetDefinition()->GetMaterial(0);
    std::vector<Texture*> list = material.GetTextureList();
    ASSERT_EQ(list.size(), 2u);
    ASSERT_EQ(material.GetState(), Vak::Material::kLoadingTextures);
    c.setUp(material, list);
    EXPECT_EQ(static_cast<unsigned>(resource->IsAllLoaded()), c.expected);
  }
  // Not loaded yet: the engine's answer.
  Write("x/car.im", TexturedQuad({}));
  VelmarGeometryBaseResource* idle = Get("x\\car.im");
  ASSERT_NE(idle, nullptr);
  EXPECT_EQ(idle->IsAllLoaded(), Vak::Resource::RES_PARTIAL_LOAD);
}

TEST_F(MeshResourceTest, InstancesTakeReferencePointsFromPNamedAttachments) {
  Write("r/car.im", IdxmFile({QuadGroup()}, AtchChunk({Attachment{"pfx.smoke", kIdentity9, {1, 2, 3}},
                                                       Attachment{"Plate"}, Attachment{"a.track0"},
                                                       Attachment{"b.other"}})));
  VelmarGeometryBaseResource* resource = Loaded("r\\car.im");
  ASSERT_NE(resource, nullptr);
  std::unique_ptr<VelmarIndexedMeshInstance> instance(resource->CreateMeshInstance());
  ASSERT_NE(instance, nullptr);
  std::vector<std::string> names;
  for (const auto& point : instance->GetReferencePoints()) names.push_back(point->GetName().c_str());
  EXPECT_EQ(names, (std::vector<std::string>{"pfx.smoke", "Plate"}));
  EXPECT_EQ(instance->GetReferencePoints()[0]->GetPosition().z, 3.0f);
  EXPECT_EQ(resource->GetLockCount(), 1) << "the instance keeps the resource locked";
  instance.reset();
  EXPECT_EQ(resource->GetLockCount(), 0);
}

// --- Level of detail -------------------------------------------------------------

// A manager that makes a material of another type at every second request.
class AlternatingManager : public Vak::MaterialManager {
public:
  Result Load(const Vak::PString& name, Vak::Material*& out) override {
    out = (count_++ % 2 == 0) ? new Vak::Material(name) : new Vak::NullMaterial(name);
    return kOk;
  }

private:
  int count_ = 0;
};

TEST_F(MeshResourceTest, TheTextFormLoadsThroughTheDescriptionReaderAndKeepsTheFailedNames) {
  // Without its description the text load fails, keeping the names of an
  // earlier load.
  VelmarIndexedMeshLODResource resource(Vak::PString((root_ / "none.lm").c_str()), nullptr);
  resource.SetRenderKernel(&kernel_);
  resource.AddFailedMaterialName(Vak::PString("earlier"));
  EXPECT_FALSE(resource.LoadTxt((root_ / "none.lm.txt").c_str()).Ok());
  EXPECT_EQ(resource.GetDefinition(), nullptr);
  ASSERT_EQ(resource.GetFailedMaterials().size(), 1u);
  EXPECT_STREQ(resource.GetFailedMaterials()[0].c_str(), "earlier");

  // The resource system finds a description by the name without ".txt".
  Write("d/lod.lm.txt", "not a description");
  Vak::Resource* found = database_->Get(Vak::PString("d\\lod.lm"), Vak::ResourceDatabase::kNoQueue);
  ASSERT_NE(found, nullptr);
  held_.push_back(found);
  EXPECT_EQ(typeid(*found), typeid(VelmarIndexedMeshLODResource));
  EXPECT_TRUE(found->IsTextForm());
}

TEST_F(MeshResourceTest, CompletionSharesEqualMaterialsAcrossLevels) {
  Material textured;
  textured.textures = {Texture{0, "a.texture", 1}};
  Material named;
  named.name = "other";
  Material valued;
  valued.value = 2;
  Material flagged;
  flagged.flag = 1;
  Material otherTexture;
  otherTexture.textures = {Texture{0, "b.texture", 1}};
  struct Case {
    const char* name;
    Material first, second;
    bool alternateTypes;
    bool shared;
  } cases[] = {
      {"equal", Material{}, Material{}, false, true},
      {"equal with textures", textured, textured, false, true},
      {"another name", Material{}, named, false, false},
      {"another value", Material{}, valued, false, false},
      {"another flag", Material{}, flagged, false, false},
      {"another texture", textured, otherTexture, false, false},
      {"a texture against none", Material{}, textured, false, false},
      {"another type", Material{}, Material{}, true, false},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Three levels: the first and third draw with the first material, the
    // second with the second.
    Lodm m = LevelsAt({10, 50, 90});
    m.materials = {c.first, c.second};
    m.levels[1].chunks[0].material = 1;
    const std::string name = "s" + std::to_string(n++);
    Write(name + "/lod.lm", LodmFile(m));
    AlternatingManager alternating;
    if (c.alternateTypes) kernel_.SetMaterialManager(&alternating);
    VelmarGeometryBaseResource* resource = Loaded(name + "\\lod.lm");
    kernel_.SetMaterialManager(nullptr);
    ASSERT_NE(resource, nullptr);
    const VelmarIndexedMeshLODDefinition& d = *static_cast<VelmarIndexedMeshLODResource*>(resource)->GetLODDefinition();
    ASSERT_EQ(d.GetLevelCount(), 3u);
    Vak::Material* first = d.GetLevel(0).materials->Get(0);
    EXPECT_EQ(d.GetLevel(1).materials->Get(0) == first, c.shared);
    EXPECT_NE(d.GetMaterialTable()->Get(0), d.GetMaterialTable()->Get(1)) << "two materials were made";
    EXPECT_EQ(d.GetLevel(2).materials->Get(0), first);
    for (unsigned level = 0; level < 3; ++level)
      EXPECT_EQ(d.GetLevel(level).chunks->Get(0)->GetBufferInitCount(), 1u) << "every level's buffers";
  }
}

TEST_F(MeshResourceTest, LevelOfDetailDataSizeSumsEveryLevel) {
  Lodm m = LevelsAt({10, 50, -1});
  m.info.named = {NamedLevel{2, "collision"}};
  m.levels[0].chunks = {LevelChunk{}, LevelChunk{}};
  m.levels[1].chunks = {LevelChunk{0, Grid(3)}};
  m.bont = std::vector<BoneRecord>{{"root", ""}};
  m.levels[0].bones = std::vector<std::vector<Group>>{{Group{0, {Entry{0, 1}, Entry{1, 1}}}}};
  m.attachments = {Attachment{"a.track0"}};
  root_.WriteFile("size.lm", LodmFile(m));
  VelmarIndexedMeshLODResource resource(Vak::PString((root_ / "size.lm").c_str()), nullptr);
  resource.SetRenderKernel(&kernel_);
  ASSERT_TRUE(resource.Load((root_ / "size.lm").c_str()).Ok());
  const VelmarIndexedMeshLODDefinition& d = *resource.GetLODDefinition();
  ASSERT_EQ(d.GetLevelCount(), 3u);
  // Vertices and indices of every level: two quads, a 3 x 3 grid, a quad.
  const unsigned counts[][2] = {{4, 6}, {4, 6}, {9, 24}, {4, 6}};
  const Vak::GeometryChunk* chunks[] = {d.GetLevel(0).chunks->Get(0), d.GetLevel(0).chunks->Get(1),
                                        d.GetLevel(1).chunks->Get(0), d.GetLevel(2).chunks->Get(0)};
  std::size_t expected = 4 * d.GetDistances().capacity() + 3 * sizeof(VelmarIndexedMeshLODDefinition::Level) +
                         sizeof(VelmarIndexedMeshLODDefinition::NamedLevel) +
                         sizeof(VelmarIndexedMeshLODDefinition::BoneRecord) + sizeof(Vak::InfluenceDefinition::Group) +
                         2 * sizeof(Vak::InfluenceDefinition::Entry) +
                         sizeof(VelmarIndexedMeshDefinition::AttachmentPoint);
  for (unsigned i = 0; i < 4; ++i) {
    ASSERT_NE(chunks[i], nullptr);
    ASSERT_EQ(chunks[i]->GetVertexCount(), counts[i][0]);
    expected += std::size_t(chunks[i]->GetVertexSize()) * counts[i][0] + 2 * counts[i][1];
  }
  EXPECT_EQ(resource.CalculateDataSize(), expected);
  EXPECT_EQ(resource.CalculateSize(), Vak::Resource::kUnknownSize) << "the engine's own answer";
}

TEST_F(MeshResourceTest, LevelOfDetailInstancesSwitchLevels) {
  Lodm m = LevelsAt({10, 50, -1});
  m.info.named = {NamedLevel{2, "collision"}};
  m.materials = {Material{}, Material{}};
  m.materials[1].name = "far";
  m.levels[1].chunks = {LevelChunk{1, Grid(3)}};
  m.levels[2].chunks = {LevelChunk{}, LevelChunk{}};
  Write("i/lod.lm", LodmFile(m));
  auto* resource = static_cast<VelmarIndexedMeshLODResource*>(Loaded("i\\lod.lm"));
  ASSERT_NE(resource, nullptr);
  std::unique_ptr<VelmarIndexedMeshInstance> made(resource->CreateMeshInstance());
  auto* instance = dynamic_cast<VelmarIndexedMeshLODInstance*>(made.get());
  ASSERT_NE(instance, nullptr);
  EXPECT_EQ(instance->GetLevelCount(), 3);
  EXPECT_EQ(instance->GetLevel(), 0) << "the first level is shown first";
  EXPECT_EQ(instance->GetLevelPrimitiveCount(0), 2);
  const VelmarIndexedMeshLODDefinition& d = *resource->GetLODDefinition();
  struct Case {
    int asked, shown, primitives;
  } cases[] = {{1, 1, 8}, {2, 2, 4}, {0, 0, 2}, {7, 2, 4}, {-3, 0, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.asked);
    instance->SetLevel(c.asked);
    EXPECT_EQ(instance->GetLevel(), c.shown);
    EXPECT_EQ(instance->GetLevelPrimitiveCount(c.shown), c.primitives);
    EXPECT_EQ(instance->GetLevelMaterials(c.shown), d.GetLevel(static_cast<unsigned>(c.shown)).materials);
    // Collisions and edits see the level named "collision" whatever is shown.
    EXPECT_EQ(instance->GetChunkCount(), 2u);
    EXPECT_EQ(instance->GetMaterials(), d.GetLevel(2).materials);
  }

  // No instance without a kernel.
  resource->SetRenderKernel(nullptr);
  EXPECT_EQ(resource->CreateMeshInstance(), nullptr);
}

TEST_F(MeshResourceTest, ALevelOfDetailCopyKeepsItsLevelAndChangesApart) {
  Lodm m = LevelsAt({10, 50, -1});
  m.info.named = {NamedLevel{2, "collision"}};
  Write("c/lod.lm", LodmFile(m));
  auto* resource = static_cast<VelmarIndexedMeshLODResource*>(Loaded("c\\lod.lm"));
  ASSERT_NE(resource, nullptr);
  const VelmarIndexedMeshLODDefinition& d = *resource->GetLODDefinition();
  std::unique_ptr<VelmarIndexedMeshInstance> made(resource->CreateMeshInstance());
  auto* instance = dynamic_cast<VelmarIndexedMeshLODInstance*>(made.get());
  ASSERT_NE(instance, nullptr);
  struct Case {
    const char* name;
    bool fixed;
    int level;  // the copy's, before its first cull
  } cases[] = {{"chosen", false, 0}, {"fixed", true, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.fixed) instance->SetLevel(1);
    instance->ApplyDetail(30);
    ASSERT_EQ(instance->GetLevel(), 1);
    std::unique_ptr<VelmarIndexedMeshLODInstance> copy(instance->Clone());
    EXPECT_EQ(typeid(*copy), typeid(VelmarIndexedMeshLODInstance));
    EXPECT_EQ(copy->GetLevel(), c.level);
    EXPECT_EQ(copy->IsLevelFixed(), c.fixed);
    EXPECT_EQ(copy->GetDetail(), 30.0f);
    EXPECT_EQ(copy->GetCollisionLevel(), 2);
    EXPECT_EQ(copy->GetChunks(), d.GetLevel(2).chunks);
    // The copy's detail and level are its own.
    copy->ApplyDetail(200);
    EXPECT_EQ(copy->GetLevel(), c.fixed ? 1 : 0);
    copy->SetLevel(2);
    copy->MakeAllLevelMaterialsPrivate();
    EXPECT_EQ(instance->GetLevel(), 1);
    EXPECT_EQ(instance->GetDetail(), 30.0f);
    for (int l = 0; l < instance->GetLevelCount(); ++l)
      EXPECT_EQ(instance->GetLevelMaterials(l), d.GetLevel(static_cast<unsigned>(l)).materials) << l;
  }
}

TEST_F(MeshResourceTest, AFixedSkinnedLevelIsSkinnedOnEveryCull) {
  // Two software-skinned levels whose "root" records put the quad where it
  // is; bones stop animating below detail 45.
  Lodm m = LevelsAt({10, 50});
  m.info.offset = 5;
  m.info.animationCutOff = 50;
  m.info.renderCutOff = 0;
  m.bont = std::vector<BoneRecord>{{"root", ""}, {"b.arm", "root"}};
  Group records{0, {}};
  for (uint32_t v = 0; v < 4; ++v) records.entries.push_back(Entry{v, 1, Quad().positions[v]});
  for (Level& level : m.levels) level.bones = std::vector<std::vector<Group>>{{records}, {}};
  Write("f/skin.lm", LodmFile(m));
  VelmarGeometryBaseResource* resource = Loaded("f\\skin.lm");
  ASSERT_NE(resource, nullptr);
  struct Case {
    const char* name;
    bool fixed;
    float heights[3];  // of vertex 1 after each cull, the root raised 1, 2, 3
  } cases[] = {{"chosen: skinned once more after the bones stop", false, {1, 1, 1}}, {"fixed", true, {1, 2, 3}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<VelmarIndexedMeshInstance> made(resource->CreateMeshInstance());
    auto* instance = dynamic_cast<VelmarDynamicIndexedMeshLODInstance*>(made.get());
    ASSERT_NE(instance, nullptr);
    ASSERT_NE(instance->GetRootParticle(), nullptr);
    if (c.fixed) instance->SetLevel(1);
    Vak::ViewPoint view(&kernel_.GetDisplay());
    const Vak::Vector3 centre = (instance->GetBoundsMin() + instance->GetBoundsMax()) * 0.5f;
    view.SetEyePosition(centre + Vak::Vector3(300 * instance->GetMultiplier(), 0, 0));
    for (int frame = 0; frame < 3; ++frame) {
      SCOPED_TRACE(frame);
      instance->GetRootParticle()->SetPosition(0, 0, float(frame + 1));
      view.NextFrame();
      instance->Cull(view, Vak::Matrix4::Identity());
      ASSERT_EQ(view.Added().size(), 1u);
      ASSERT_EQ(instance->GetLevel(), 1);
      EXPECT_FALSE(instance->GetState() & VelmarDynamicIndexedMeshLODInstance::kBonesAnimated);
      const Vak::Vector3 at = instance->GetLevelData(1).chunks->Get(0)->GetItem<Vak::Vector3>(Vak::kItemPosition)[1];
      EXPECT_EQ(at, Vak::Vector3(1, 0, c.heights[frame]));
    }
  }
}

TEST_F(MeshResourceTest, AnInstanceHoldsAndLocksOneResourceAtATime) {
  Write("r/a.im", IdxmFile({QuadGroup()}));
  Write("r/b.im", IdxmFile({QuadGroup()}));
  VelmarGeometryBaseResource* a = Loaded("r\\a.im");
  VelmarGeometryBaseResource* b = Loaded("r\\b.im");
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  const int32_t locks[] = {a->GetLockCount(), b->GetLockCount()};
  const uint32_t holds[] = {a->GetReferenceCount(), b->GetReferenceCount()};
  std::unique_ptr<VelmarIndexedMeshInstance> instance(a->CreateMeshInstance());
  ASSERT_NE(instance, nullptr);
  struct Case {
    const char* name;
    VelmarGeometryBaseResource* given;  // to SetResource, after the first
    int a, b;                           // locks and holds above the start
  } cases[] = {
      {"made from a", nullptr, 1, 0}, {"given b", b, 0, 1}, {"given b again", b, 0, 1},
      {"given none", nullptr, 0, 0},  {"given a", a, 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (std::string(c.name) != "made from a") instance->SetResource(c.given);
    EXPECT_EQ(instance->GetResource(), c.given ? c.given : c.a ? a : nullptr);
    EXPECT_EQ(a->GetLockCount(), locks[0] + c.a);
    EXPECT_EQ(a->GetReferenceCount(), holds[0] + uint32_t(c.a));
    EXPECT_EQ(b->GetLockCount(), locks[1] + c.b);
    EXPECT_EQ(b->GetReferenceCount(), holds[1] + uint32_t(c.b));
  }
  instance.reset();
  EXPECT_EQ(a->GetLockCount(), locks[0]);
  EXPECT_EQ(a->GetReferenceCount(), holds[0]);

  // Given again the resource it alone holds, the instance keeps it alive.
  VelmarIndexedMeshInstance holder(&kernel_, new VelmarIndexedMeshResource(Vak::PString("lone.im"), nullptr));
  VelmarGeometryBaseResource* lone = holder.GetResource();
  lone->ReleaseHold();  // the maker's
  ASSERT_EQ(lone->GetReferenceCount(), 1u);
  holder.SetResource(lone);
  EXPECT_EQ(holder.GetResource(), lone);
  EXPECT_EQ(lone->GetReferenceCount(), 1u);
}

// Records each chunk it is asked to draw by its vertex count.
class RecordingMaterial : public Vak::Material {
public:
  RecordingMaterial() : Vak::Material(Vak::PString("recording")) {}
  void RenderChunk(Vak::Display& display, Vak::View*, Vak::GeometryChunk& chunk, const Vak::LightList&,
                   const Vak::Matrix4&) override {
    display.Record("RenderChunk", {double(chunk.GetVertexCount())});
  }
};

// Two levels switched at 10 and 50, no level named "collision"; a culled
// attachment; a root bone with an animated child.
class LevelOfDetailInstanceTest : public MeshResourceTest {
protected:
  void SetUp() override {
    MeshResourceTest::SetUp();
    Lodm m = LevelsAt({10, 50});
    m.levels[1].chunks = {LevelChunk{0, Grid(3)}};
    m.info.offset = 5;
    m.info.animationCutOff = 50;
    m.info.attachmentCutOff = 10;
    m.info.renderCutOff = 2;
    m.attachments = {Attachment{"a.lamp:cull"}};
    m.bont = std::vector<BoneRecord>{{"root", ""}, {"b.arm", "root"}};
    Write("l/skin.lm", LodmFile(m));
    resource_ = Loaded("l\\skin.lm");
    ASSERT_NE(resource_, nullptr);
    made_.reset(resource_->CreateMeshInstance());
    instance_ = dynamic_cast<VelmarDynamicIndexedMeshLODInstance*>(made_.get());
    ASSERT_NE(instance_, nullptr);
  }
  VelmarGeometryBaseResource* resource_ = nullptr;
  std::unique_ptr<VelmarIndexedMeshInstance> made_;
  VelmarDynamicIndexedMeshLODInstance* instance_ = nullptr;
};

TEST_F(LevelOfDetailInstanceTest, WithoutACollisionLevelTheLastIsUsed) {
  EXPECT_EQ(instance_->GetCollisionLevel(), 1);
  EXPECT_EQ(instance_->GetPrimitiveCount(), 8);
  EXPECT_EQ(instance_->GetLevel(), 0);
}

TEST_F(LevelOfDetailInstanceTest, DetailShowsAttachmentsAnimatesBonesAndPicksTheLevel) {
  // The attachment point made below the instance at its creation.
  ASSERT_EQ(instance_->GetAttachments().size(), 1u);
  Vak::Particle* lamp = instance_->GetAttachments()[0];
  EXPECT_EQ(lamp->GetName(), Vak::PString("a.lamp"));
  Vak::Particle* arm = instance_->FindByName(Vak::PString("b.arm"));
  ASSERT_NE(arm, nullptr);
  using I = VelmarIndexedMeshLODInstance;
  struct Case {
    float detail;
    bool shown, animated, drawn;
    int level;
  } cases[] = {
      // Near enough for level 0 (switch distance 10 is detail 100).
      {200, true, true, true, 0},
      // Animation cut-off 50 with offset 5: on above 55, off below 45, kept between.
      {60, true, true, true, 1}, {50, true, true, true, 1}, {44, true, false, true, 1},
      {50, true, false, true, 1}, {56, true, true, true, 1},
      // Attachment cut-off 10: hidden at 10, shown at 10.5.
      {10.5f, true, false, true, 1}, {10, false, false, true, 1},
      // Render cut-off 2.
      {2, false, false, true, 1}, {1.5f, false, false, false, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.detail);
    EXPECT_EQ(instance_->ApplyDetail(c.detail), c.drawn);
    EXPECT_EQ(lamp->HasFlag(Vak::Element::kShown), c.shown);
    EXPECT_EQ(arm->IsMarked(I::kAnimated), c.animated);
    EXPECT_EQ((instance_->GetState() & VelmarDynamicIndexedMeshLODInstance::kBonesAnimated) != 0, c.animated);
    EXPECT_EQ(instance_->GetLevel(), c.level);
  }
}

TEST_F(LevelOfDetailInstanceTest, CullPicksTheLevelThatRenderDraws) {
  Vak::Display& display = kernel_.GetDisplay();
  Vak::ViewPoint view(&display);
  Vak::Particle* lamp = instance_->GetAttachments().at(0);
  Vak::Particle* arm = instance_->FindByName(Vak::PString("b.arm"));
  ASSERT_NE(arm, nullptr);
  const Vak::Vector3 centre = (instance_->GetBoundsMin() + instance_->GetBoundsMax()) * 0.5f;
  // Each level's material records what it draws.
  instance_->MakeAllLevelMaterialsPrivate();
  for (int l = 0; l < instance_->GetLevelCount(); ++l)
    instance_->GetLevelData(l).materials->Set(0, new RecordingMaterial);
  // The detail value is 1000 over the eye's distance divided by the
  // multiplier; level 0 up to 10 units away, the last beyond. Attachments show above detail 10 (nearer
  // than 100), bones animate above 55 and stop below 45, and nothing is
  // drawn below detail 2 (beyond 500).
  struct Case {
    float distance;
    bool added;
    int level;
    unsigned vertices;  // of the chunk drawn
    bool shown, animated;
  } cases[] = {
      {5, true, 0, 4, true, true},   {30, true, 1, 9, true, false}, {15, true, 1, 9, true, true},
      {200, true, 1, 9, false, false}, {600, false, 1, 0, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.distance);
    view.NextFrame();
    view.SetEyePosition(centre + Vak::Vector3(c.distance * instance_->GetMultiplier(), 0, 0));
    instance_->Cull(view, Vak::Matrix4::Identity());
    EXPECT_EQ(instance_->GetLastCulledFrame(), view.GetCurrentFrame());
    ASSERT_EQ(view.Added().size(), c.added ? 1u : 0u);
    EXPECT_EQ(instance_->GetLevel(), c.level);
    EXPECT_EQ(lamp->HasFlag(Vak::Element::kShown), c.shown);
    EXPECT_EQ(arm->IsMarked(VelmarIndexedMeshLODInstance::kAnimated), c.animated);
    if (!c.added) continue;
    EXPECT_EQ(instance_->GetLevelMaterials(c.level)->Get(0)->GetActiveMipLevel(), -1);
    EXPECT_NE(instance_->GetStoredMatrix(&view), nullptr);
    EXPECT_FALSE(instance_->GetState() & VelmarDynamicIndexedMeshLODInstance::kBonesNeedUpdate) << "skinned first";
    display.ClearCalls();
    instance_->Render(view, display, Vak::Matrix4::Identity());
    std::vector<double> drawn;
    for (const Vak::Display::Call& call : display.GetCalls())
      if (call.name == "RenderChunk") drawn.push_back(call.args.at(0));
    EXPECT_EQ(drawn, std::vector<double>{double(c.vertices)});
    EXPECT_EQ(instance_->GetDirtyCount(), c.level == 0 ? 1u : 0u) << "the drawn level's lighting is worked out";
  }
  // A fixed level is drawn at every distance.
  instance_->SetLevel(1);
  view.NextFrame();
  view.SetEyePosition(centre + Vak::Vector3(5 * instance_->GetMultiplier(), 0, 0));
  instance_->Cull(view, Vak::Matrix4::Identity());
  EXPECT_EQ(instance_->GetLevel(), 1);
  // A transparent instance is not culled.
  instance_->SetOpacity(0);
  view.NextFrame();
  view.SetEyePosition(centre + Vak::Vector3(5, 0, 0));
  instance_->Cull(view, Vak::Matrix4::Identity());
  EXPECT_EQ(instance_->GetLastCulledFrame(), 0u);
  EXPECT_TRUE(view.Added().empty());
}

TEST_F(LevelOfDetailInstanceTest, CullMeasuresTheEyeInTheInstancesOwnFrame) {
  Vak::ViewPoint view(&kernel_.GetDisplay());
  const Vak::Vector3 centre = (instance_->GetBoundsMin() + instance_->GetBoundsMax()) * 0.5f;
  // Turned a quarter about z and moved, below a parent moved elsewhere.
  instance_->SetPosition(300, 0, 0);
  instance_->SetOrientation(Vak::Quaternion(0, 0, 0.70710678f, 0.70710678f));
  const Vak::Matrix4 parent = Vak::Matrix4::FromRotationTranslation(Vak::Quaternion(), {0, 400, 0});
  const Vak::Matrix4 toWorld = parent * instance_->GetLocalTransform();
  struct Case {
    float distance;  // from the centre along the mesh's own x
    bool added;
    int level;
  } cases[] = {{5, true, 0}, {30, true, 1}, {600, false, 1}, {5, true, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.distance);
    view.NextFrame();
    view.SetEyePosition(toWorld.TransformPoint(centre + Vak::Vector3(c.distance * instance_->GetMultiplier(), 0, 0)));
    instance_->Cull(view, parent);
    EXPECT_EQ(view.Added().size(), c.added ? 1u : 0u);
    EXPECT_EQ(instance_->GetLevel(), c.level);
  }
}

TEST_F(LevelOfDetailInstanceTest, EditsReachTheLevels) {
  const VelmarIndexedMeshLODDefinition& d =
      *static_cast<VelmarIndexedMeshLODResource*>(resource_)->GetLODDefinition();
  const Vak::Vector3 extents = instance_->GetBoundingVolume().Extents();
  instance_->SetScale({2, 2, 2});
  EXPECT_TRUE(instance_->IsScaled());
  EXPECT_EQ(instance_->GetBoundingVolume().Extents(), extents) << "the bounds stay the definition's";
  instance_->SetOpacity(0.5f);
  for (int l = 0; l < instance_->GetLevelCount(); ++l)
    EXPECT_EQ(instance_->GetLevelData(l).chunks->Get(0)->GetOpacity(), 0.5f) << l;
  Vak::GeometryChunk* chunk = instance_->GetLevelData(0).chunks->Get(0);
  EXPECT_FALSE(instance_->AddChunk(chunk, nullptr));
  EXPECT_FALSE(instance_->MergeChunk(chunk, 0));
  EXPECT_FALSE(instance_->AddSkinnedChunk(chunk, nullptr, {}));
  EXPECT_EQ(instance_->GetChunkCount(), 1u);

  instance_->MakeChunksPrivate();
  EXPECT_EQ(instance_->GetLevelData(1).chunks, instance_->GetChunks()) << "the collision level's";
  instance_->MakeAllLevelMaterialsPrivate();
  for (int l = 0; l < instance_->GetLevelCount(); ++l)
    EXPECT_NE(instance_->GetLevelData(l).materials, d.GetLevel(static_cast<unsigned>(l)).materials) << l;
  EXPECT_EQ(instance_->GetMaterials(), instance_->GetLevelData(1).materials);
  EXPECT_EQ(instance_->GetChunks(), instance_->GetLevelData(1).chunks);
}

TEST_F(LevelOfDetailInstanceTest, CloneFindsItsOwnAttachmentsAndBones) {
  std::unique_ptr<VelmarIndexedMeshLODInstance> copy(instance_->Clone());
  auto* skinned = dynamic_cast<VelmarDynamicIndexedMeshLODInstance*>(copy.get());
  ASSERT_NE(skinned, nullptr);
  ASSERT_EQ(copy->GetAttachments().size(), 1u);
  EXPECT_EQ(copy->GetAttachments()[0]->Parent(), copy.get());
  ASSERT_NE(skinned->GetRootBone(), nullptr);
  ASSERT_NE(skinned->GetRootBone()->particle, nullptr);
  EXPECT_NE(skinned->GetRootBone()->particle, instance_->GetRootBone()->particle);
  EXPECT_EQ(copy->GetCollisionLevel(), 1);
  EXPECT_EQ(copy->GetDirtyCount(), instance_->GetDirtyCount());
}

TEST_F(LevelOfDetailInstanceTest, DirtyLevelsCountDown) {
  EXPECT_EQ(instance_->GetDirtyCount(), 2u) << "every level starts dirty";
  struct Step {
    int level;
    bool force, updated;
    unsigned dirty;
  } steps[] = {{0, false, true, 1}, {0, false, false, 1}, {0, true, true, 1}, {1, false, true, 0}, {5, true, false, 0}};
  for (const Step& s : steps) {
    SCOPED_TRACE(s.level);
    EXPECT_EQ(instance_->UpdateLevelLighting(s.level, s.force), s.updated);
    EXPECT_EQ(instance_->GetDirtyCount(), s.dirty);
  }
  instance_->MarkAllLevelsDirty();
  EXPECT_EQ(instance_->GetDirtyCount(), 2u);
  instance_->UpdateAllLevelLighting(false, true);
  EXPECT_EQ(instance_->GetDirtyCount(), 1u);
  instance_->UpdateAllLevelLighting(false, false);
  EXPECT_EQ(instance_->GetDirtyCount(), 0u);
  instance_->SetLight(nullptr);
  EXPECT_EQ(instance_->GetDirtyCount(), 2u) << "new lights make every level dirty";
}

} // namespace

// The running program's plug-in entry ("*").
extern "C" __attribute__((visibility("default"))) void VakGetPlugins() { RegisterMeshResourceTypes(); }
