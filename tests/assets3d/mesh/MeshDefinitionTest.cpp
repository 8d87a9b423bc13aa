#include <gtest/gtest.h>

#include <cmath>

#include "engine/elthrac/ParticleBone.h"
#include "engine/elthrac/ParticleStructure.h"
#include "tests/assets3d/mesh/IdxmBuilder.h"
#include "tests/assets3d/mesh/MeshLoad.h"

namespace {

using namespace meshtest;

// A skinned quad whose vertices carry weights, on a display that skins.
std::string SkinnedFile(const std::vector<Influence>& influences, uint32_t weights = 4) {
  ChunkGroup g = QuadGroup();
  g.geometry.weights = weights;
  Info info;
  info.maxInfluences = 4;
  info.maxMatrices = 20;
  return IdxmFile({g}, InflChunk(influences), info);
}

Influence On(const char* name, std::vector<Entry> entries, uint32_t chunk = 0) {
  return Influence{name, std::nullopt, {0, 0, 0}, kIdentity9, {Group{chunk, std::move(entries)}}};
}

struct Skinned : Loader {
  Skinned() { display.SetCapability(26, true); }
};

TEST(MeshDefinitionTest, TotalsAndBounds) {
  ChunkGroup a = QuadGroup(), b = QuadGroup();
  b.geometry.positions = {Vec3{-2, 5, 1}, Vec3{3, -1, 0}, Vec3{0, 0, 7}, Vec3{1, 1, -4}};
  Loader loader;
  std::unique_ptr<VelmarIndexedMeshDefinition> def;
  ASSERT_EQ(loader.Indexed(IdxmFile({a, b}), def), 0u);
  EXPECT_EQ(def->GetTotalVertices(), 8);
  EXPECT_EQ(def->GetTotalFaces(), 4);
  EXPECT_EQ(def->GetBoundsMax(), Vak::Vector3(3, 5, 7));
  EXPECT_EQ(def->GetBoundsMin(), Vak::Vector3(-2, -1, -4));

  // Every chunk dropped: no vertex at all.
  ChunkGroup empty = QuadGroup();
  empty.geometry.indices.clear();
  ASSERT_EQ(loader.Indexed(IdxmFile({empty}), def), 0u);
  EXPECT_EQ(def->GetChunkCount(), 0);
  EXPECT_EQ(def->GetBoundsMax(), Vak::Vector3(0, 0, 0));
  EXPECT_EQ(def->GetBoundsMin(), Vak::Vector3(0, 0, 0));
}

TEST(MeshDefinitionTest, TextureScaleOfAQuad) {
  // World edges twice the texture edges: every ratio is 2, and 2 is below
  // eight times the average.
  ChunkGroup g = QuadGroup();
  for (Vec2& uv : g.geometry.uvs) uv = Vec2{uv[0] * 0.5f, uv[1] * 0.5f};
  Loader loader;
  std::unique_ptr<VelmarIndexedMeshDefinition> def;
  ASSERT_EQ(loader.Indexed(IdxmFile({g}), def), 0u);
  EXPECT_FLOAT_EQ(def->GetTextureScale(), 2.0f);

  // A degenerate texture mapping counts nothing.
  for (Vec2& uv : g.geometry.uvs) uv = Vec2{0, 0};
  ASSERT_EQ(loader.Indexed(IdxmFile({g}), def), 0u);
  EXPECT_EQ(def->GetTextureScale(), 0.0f);
}

TEST(MeshDefinitionTest, OrientedBoxHoldsEveryVertex) {
  ChunkGroup a = QuadGroup(), b = QuadGroup();
  b.geometry.positions = {Vec3{3, 3, 3}, Vec3{4, 3, 3}, Vec3{4, 4, 3}, Vec3{3, 4, 5}};
  Loader loader;
  std::unique_ptr<VelmarIndexedMeshDefinition> def;
  ASSERT_EQ(loader.Indexed(IdxmFile({a, b}), def), 0u);
  const Vak::OrientedBox& box = def->GetBounds();
  for (const ChunkGroup* g : {&a, &b})
    for (const Vec3& p : g->geometry.positions) {
      const Vak::Vector3 d = Vak::Vector3(p[0], p[1], p[2]) - box.Centre();
      for (int k = 0; k < 3; ++k) EXPECT_LE(std::fabs(d.Dot(box.Axis(k))), box.Extents()[k] + 1e-4f);
    }
  EXPECT_GT(box.Extents()[0] + box.Extents()[1] + box.Extents()[2], 1.0f);
}

TEST(MeshDefinitionTest, PackedLanes) {
  Skinned loader;
  std::unique_ptr<VelmarIndexedMeshDefinition> def;
  // A stored weight past one, or NaN, must still give a byte.
  ASSERT_EQ(loader.Indexed(SkinnedFile({On("a", {Entry{0, 0.5f}, Entry{1, 1.0f}}),
                                        On("b", {Entry{0, 0.25f}, Entry{2, 7.0f}}),
                                        On("c", {Entry{0, 0.2f}, Entry{2, std::nanf("")}})}),
                           def),
            0u);
  ASSERT_TRUE(def->UsesHardwareSkinning());
  Vak::GeometryChunk* chunk = def->GetChunk(0);
  auto weights = chunk->GetItem<uint32_t>(Vak::kItemPackedWeights);
  auto indices = chunk->GetItem<uint32_t>(Vak::kItemBlendIndices);
  ASSERT_TRUE(weights);
  ASSERT_TRUE(indices);
  const auto* w0 = reinterpret_cast<const uint8_t*>(weights(0));
  const auto* i0 = reinterpret_cast<const uint8_t*>(indices(0));
  const int s1 = 0, s2 = 1, s3 = 2;  // palette slots in the order the influences were added
  EXPECT_EQ(i0[0], 3 * s1);
  EXPECT_EQ(i0[1], 3 * s2);
  EXPECT_EQ(i0[2], 3 * s3);
  EXPECT_EQ(i0[3], 0xFE);
  EXPECT_EQ(w0[0], 127);
  EXPECT_EQ(w0[1], 63);
  EXPECT_EQ(w0[2], 51);
  EXPECT_EQ(w0[3], 0);
  const auto* w2 = reinterpret_cast<const uint8_t*>(weights(2));
  EXPECT_EQ(w2[0], 255);
  EXPECT_EQ(w2[1], 0);
  // A vertex no influence reaches keeps its preset weight.
  EXPECT_EQ(weights[3], 0xff000000u);
  EXPECT_EQ(indices[3], 0u);
}

TEST(MeshDefinitionTest, FloatLanes) {
  Skinned loader;
  loader.resource.options.hardwareAnimationFloatPrecision = {1, 1};
  std::unique_ptr<VelmarIndexedMeshDefinition> def;
  ASSERT_EQ(loader.Indexed(SkinnedFile({On("a", {Entry{0, 0.5f}}), On("b", {Entry{0, 0.25f}})}, 2), def), 0u);
  Vak::GeometryChunk* chunk = def->GetChunk(0);
  auto weights = chunk->GetItem<float>(Vak::kItemWeights2);
  auto indices = chunk->GetItem<uint32_t>(Vak::kItemBlendIndices);
  ASSERT_TRUE(weights);
  EXPECT_EQ(weights(0)[0], 0.5f);
  EXPECT_EQ(weights(0)[1], 0.25f);
  EXPECT_EQ(reinterpret_cast<const uint8_t*>(indices(0))[1], 3);
  // Untouched vertices keep the preset: all weight on the first lane.
  EXPECT_EQ(weights(2)[0], 1.0f);
  EXPECT_EQ(weights(2)[1], 0.0f);
}

// Entries past the chunk's vertices and a fifth influence on one vertex
// have no lane to go to.
TEST(MeshDefinitionTest, InfluencesWithoutALaneAreSkipped) {
  Skinned loader;
  std::unique_ptr<VelmarIndexedMeshDefinition> def;
  std::vector<Influence> influences;
  for (const char* name : {"a", "b", "c", "d", "e"}) influences.push_back(On(name, {Entry{1, 0.2f}}));
  influences.push_back(On("far", {Entry{4, 1.0f}, Entry{60000, 1.0f}}));
  ASSERT_EQ(loader.Indexed(SkinnedFile(influences), def), 0u);
  Vak::GeometryChunk* chunk = def->GetChunk(0);
  auto indices = chunk->GetItem<uint32_t>(Vak::kItemBlendIndices);
  const auto* i1 = reinterpret_cast<const uint8_t*>(indices(1));
  EXPECT_EQ(i1[0], 0);
  EXPECT_EQ(i1[1], 3);
  EXPECT_EQ(i1[2], 6);
  EXPECT_EQ(i1[3], 9) << "the fifth influence leaves the fourth in place";
  for (unsigned v : {0u, 2u, 3u}) EXPECT_EQ(indices[v], 0u) << v;
}

TEST(MeshDefinitionTest, SoftwareSkinningWithoutTheCapability) {
  Loader loader;
  std::unique_ptr<VelmarIndexedMeshDefinition> def;
  ASSERT_EQ(loader.Indexed(SkinnedFile({On("a", {Entry{0, 1}})}), def), 0u);
  EXPECT_FALSE(def->UsesHardwareSkinning());
  EXPECT_EQ(def->GetMatrixLimit(), 25u);
  EXPECT_TRUE(def->GetChunk(0)->IsSoftwareSkinned());
}

TEST(MeshDefinitionTest, DecoratedNamesAndFallBack) {
  {
    Loader loader;
    std::unique_ptr<VelmarIndexedMeshDefinition> def;
    ASSERT_EQ(loader.Indexed(IdxmFile({QuadGroup()}), def), 0u);
    EXPECT_STREQ(def->GetMaterialName(0).c_str(), "*meshes\\body*mat");
    ASSERT_EQ(def->GetPendingBindings().size(), 1u);
    EXPECT_EQ(def->GetPendingBindings()[0].material, def->GetMaterial(0));
  }
  {
    Loader loader;
    loader.resource.fallBack = true;
    loader.manager.SetAnswer("*meshes\\body*mat", Vak::MaterialManager::kNotFound);
    std::unique_ptr<VelmarIndexedMeshDefinition> def;
    ASSERT_EQ(loader.Indexed(IdxmFile({QuadGroup()}), def), 0u);
    EXPECT_STREQ(def->GetMaterial(0)->GetRequestName().c_str(), "*meshes\\body*mat");
    ASSERT_EQ(loader.resource.failed.size(), 1u);
    EXPECT_STREQ(loader.resource.failed[0].c_str(), "*meshes\\body*mat");
  }
  {
    Loader loader;
    loader.manager.SetDefaultAnswer(Vak::MaterialManager::kFailed);
    EXPECT_EQ(loader.Indexed(IdxmFile({QuadGroup()})), 7u);
    ASSERT_EQ(loader.resource.failed.size(), 1u);
  }
}

// Every attachment point in the tree below `p`, listed or not.
unsigned CountPoints(const Vak::Particle& p) {
  unsigned n = dynamic_cast<const Vak::AttachmentPoint*>(&p) ? 1 : 0;
  for (const Vak::Particle* child : p.Children()) n += CountPoints(*child);
  return n;
}

TEST(MeshDefinitionTest, AttachmentPointsOnAStructure) {
  const float h = std::sqrt(0.5f);
  const Vak::Quaternion quarterZ(0, 0, h, h), backZ(0, 0, -h, h);
  const Mat9 minusQuarterZ = {0, 1, 0, -1, 0, 0, 0, 0, 1};
  struct Made {
    const char* name;
    bool listed;
    const char* parent;
    Vak::Vector3 position;
    Vak::Quaternion orientation;
  };
  struct Case {
    const char* what;
    bool skeleton;  // a SKEL in the file, and the same bones in the structure
    std::vector<Attachment> points;
    std::vector<Made> made;
  } cases[] = {
      {"without a skeleton every a-point is listed below the structure",
       false,
       {{"a.door", minusQuarterZ, {1, 2, 3}},
        {"A.Lamp@head", kIdentity9, {4, 5, 6}},
        {"p.ref", kIdentity9, {7, 7, 7}},
        {"b.x", kIdentity9, {8, 8, 8}},
        {"", kIdentity9, {9, 9, 9}}},
       {{"a.door", true, "mesh", {1, 2, 3}, backZ}, {"A.Lamp", true, "mesh", {4, 5, 6}, {}}}},
      {"with a skeleton a point goes below its bone in the bone's frame",
       true,
       {{"a.lamp@head", kIdentity9, {1, 2, 0}}, {"A.hip@hip", kIdentity9, {1, 0, 0}}},
       {{"a.lamp", true, "head", {0, -1, 0}, backZ}, {"A.hip", true, "hip", {1, 0, 0}, {}}}},
      {"with a skeleton a point without its bone is an ordinary child",
       true,
       {{"a.wheel@tail", kIdentity9, {5, 5, 5}}, {"a.plain", minusQuarterZ, {1, 1, 1}}},
       {{"a.wheel", false, "mesh", {5, 5, 5}, {}}, {"a.plain", false, "mesh", {1, 1, 1}, backZ}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string after;
    if (c.skeleton) after += SkelChunk(Bone{"hip", {0, 0, 0}, {0, 0, 0, 1}, {Bone{"head", {0, 2, 0}, {0, 0, h, h}}}});
    after += AtchChunk(c.points);
    Loader loader;
    std::unique_ptr<VelmarIndexedMeshDefinition> def;
    ASSERT_EQ(loader.Indexed(IdxmFile({QuadGroup()}, after), def), 0u);
    ASSERT_EQ(def->GetRootBone() != nullptr, c.skeleton);

    Vak::ParticleStructure structure("mesh");
    if (c.skeleton) {
      auto* hip = new Vak::ParticleBone("hip");
      auto* head = new Vak::ParticleBone("head");
      head->SetPosition({0, 2, 0});
      head->SetOrientation(quarterZ);
      hip->AddChild(head);
      structure.AddChild(hip);
    }
    def->AddAttachmentPoints(structure);
    EXPECT_EQ(CountPoints(structure), c.made.size());
    unsigned listed = 0;
    for (const Made& m : c.made) {
      SCOPED_TRACE(m.name);
      Vak::Particle* p = structure.FindByName(m.name);
      ASSERT_NE(p, nullptr);
      ASSERT_NE(p->Parent(), nullptr);
      EXPECT_STREQ(p->Parent()->GetName().c_str(), m.parent);
      EXPECT_EQ(structure.FindAttachmentPoint(m.name) == p, m.listed);
      listed += m.listed;
      for (int k = 0; k < 3; ++k) EXPECT_NEAR(p->GetPosition()[k], m.position[k], 1e-5f);
      const Vak::Quaternion& q = p->GetOrientation();
      EXPECT_NEAR(q.x, m.orientation.x, 1e-5f);
      EXPECT_NEAR(q.y, m.orientation.y, 1e-5f);
      EXPECT_NEAR(q.z, m.orientation.z, 1e-5f);
      EXPECT_NEAR(q.w, m.orientation.w, 1e-5f);
    }
    EXPECT_EQ(structure.AttachmentPoints().size(), listed);
  }
}

TEST(ProgressiveMeshFileTest, WithoutPminLoadsAsPlain) {
  Loader loader;
  std::unique_ptr<VelmarProgressiveMeshDefinition> def;
  ASSERT_EQ(loader.Progressive(IdxmFile({QuadGroup()}), def), 0u);
  EXPECT_EQ(def->GetChunkCount(), 1);
  EXPECT_EQ(def->GetTops(), nullptr);
  EXPECT_STREQ(def->GetFileName().c_str(), "m.im");
}

TEST(ProgressiveMeshFileTest, EmptyIndexAndStepArraysStayAbsent) {
  Loader loader;
  std::unique_ptr<VelmarProgressiveMeshDefinition> def;
  Pmin p;
  p.groups = {{7, 0}};
  p.tops = {1};
  ASSERT_EQ(loader.Progressive(IdxmFile({QuadGroup()}, PminChunk(p)), def), 0u);
  EXPECT_EQ(def->GetIndices(), nullptr);
  EXPECT_EQ(def->GetSteps(), nullptr);
  ASSERT_NE(def->GetGroups(), nullptr);
  ASSERT_NE(def->GetTops(), nullptr);
  EXPECT_EQ(def->GetTops()[0].groups, def->GetGroups());
}

TEST(ProgressiveMeshFileTest, ChainsPointAtTheRunningSums) {
  Loader loader;
  std::unique_ptr<VelmarProgressiveMeshDefinition> def;
  Pmin p;
  p.indices = {1, 2, 3, 4, 5, 6};
  p.steps = {{0, 0, 0, 2}, {0, 0, 0, 0}, {0, 0, 0, 3}, {0, 0, 0, 1}};
  p.groups = {{0, 1}, {0, 3}, {0, 0}};
  p.tops = {2, 1};
  ASSERT_EQ(loader.Progressive(IdxmFile({QuadGroup()}, PminChunk(p)), def), 0u);
  ASSERT_EQ(def->GetIndexCount(), 6u);
  const uint32_t stepAt[] = {0, 2, 2, 5};
  for (int k = 0; k < 4; ++k) EXPECT_EQ(def->GetSteps()[k].indices, def->GetIndices() + stepAt[k]) << k;
  const uint32_t groupAt[] = {0, 1, 4};
  for (int k = 0; k < 3; ++k) EXPECT_EQ(def->GetGroups()[k].steps, def->GetSteps() + groupAt[k]) << k;
  EXPECT_EQ(def->GetTops()[0].groups, def->GetGroups());
  EXPECT_EQ(def->GetTops()[1].groups, def->GetGroups() + 2);
  EXPECT_EQ(def->GetIndices()[5], 6u);
}

// Sums that leave their arrays, and counts past the data, fail the load.
TEST(ProgressiveMeshFileTest, ChainsAndCountsMustStayInside) {
  Pmin base;
  base.indices = {1, 2};
  base.steps = {{0, 0, 0, 2}};
  base.groups = {{0, 1}};
  base.tops = {1};
  struct Case {
    const char* what;
    std::function<void(Pmin&)> change;
  } cases[] = {
      {"step past the indices", [](Pmin& p) { p.steps[0][3] = 3; }},
      {"step sum wrapping 32 bits", [](Pmin& p) { p.steps = {{0, 0, 0, 0xFFFFFFFFu}, {0, 0, 0, 3}}; }},
      {"group past the steps", [](Pmin& p) { p.groups[0][1] = 2; }},
      {"top past the groups", [](Pmin& p) { p.tops[0] = 2; }},
      {"index count past the data", [](Pmin& p) { p.a = 0x40000000u; }},
      {"top count past the data", [](Pmin& p) { p.d = 1000; }},
      {"version", [](Pmin& p) { p.version = 100; }},
  };
  for (const Case& c : cases) {
    Pmin p = base;
    c.change(p);
    Loader loader;
    std::unique_ptr<VelmarProgressiveMeshDefinition> def;
    EXPECT_EQ(loader.Progressive(IdxmFile({QuadGroup()}, PminChunk(p)), def), 3u) << c.what;
  }
  Loader loader;
  std::unique_ptr<VelmarProgressiveMeshDefinition> def;
  EXPECT_EQ(loader.Progressive(IdxmFile({QuadGroup()}, PminChunk(base)), def), 0u);
}

TEST(ProgressiveMeshFileTest, AMissingFileGivesNoData) {
  Loader loader;
  VelmarProgressiveMeshDefinition def;
  unsigned long result = 99;
  def.ReadMeshFile(&result, &loader.display, &loader.manager, &loader.resource,
                   (loader.folder / "absent.im").c_str(), 0);
  EXPECT_EQ(result, 2u);
}

} // namespace
