// Skinned instances: chunks added and merged with their influences, the
// refusals that leave the instance as it was, and duplicates and copies that
// skin apart from their source and leave the definition's chunks alone.
#include "assets3d/VelmarDynamicIndexedMeshInstance.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "engine/dorvix/RenderKernel.h"
#include "engine/dorvix/VertexProgram.h"
#include "engine/elthrac/Particle.h"
#include "tests/assets3d/mesh/IdxmBuilder.h"
#include "tests/assets3d/mesh/MeshLoad.h"

namespace {

using namespace meshtest;
using Vak::GeometryChunk;
using Vak::PString;
using Vak::Vector3;
using ChunkInfluences = VelmarInfluenceMesh::ChunkInfluences;

void ExpectNear(const Vector3& a, const Vector3& b) {
  EXPECT_NEAR(a.x, b.x, 1e-5f);
  EXPECT_NEAR(a.y, b.y, 1e-5f);
  EXPECT_NEAR(a.z, b.z, 1e-5f);
}

Vector3 PositionOf(const GeometryChunk* chunk, unsigned vertex) {
  return chunk->GetItem<Vector3>(Vak::kItemPosition)[vertex];
}

std::array<uint8_t, 4> LanesOf(GeometryChunk* chunk, unsigned vertex) {
  const auto* lanes = reinterpret_cast<const uint8_t*>(chunk->GetUDwordArray(Vak::kItemBlendIndices)(vertex));
  return {lanes[0], lanes[1], lanes[2], lanes[3]};
}

// A chunk of `type` with `vertices` vertices along x and the blend lanes
// given per vertex (when the type has them).
GeometryChunk* MakeChunk(const Vak::VertexType& type, unsigned vertices,
                         const std::vector<std::array<uint8_t, 4>>& lanes = {}) {
  auto* chunk = new GeometryChunk(type, vertices, 0, 3, 0, 0, Vak::StandardChunkHint());
  chunk->SetFlags(GeometryChunk::kTypeTriangleList);
  for (unsigned v = 0; v < vertices; ++v) chunk->GetItem<Vector3>(Vak::kItemPosition)[v] = {float(v), 0, 0};
  for (unsigned v = 0; v < lanes.size() && v < vertices; ++v)
    std::copy(lanes[v].begin(), lanes[v].end(), reinterpret_cast<uint8_t*>(chunk->GetUDwordArray(10)(v)));
  return chunk;
}

// Releases a test's chunk.
struct Held {
  GeometryChunk* chunk;
  ~Held() { chunk->ReleaseReference(); }
  GeometryChunk* operator->() const { return chunk; }
};

// A quad skinned by "root", whose records place the vertices where the
// quad has them, and "arm" below it with none. Palette form: the display
// skins by matrix palette.
class DynamicInstanceTest : public ::testing::Test {
protected:
  // `moreBones` more bones without records hang below "root".
  template <class Instance = VelmarDynamicIndexedMeshInstance>
  std::unique_ptr<Instance> Skinned(bool palette, unsigned moreBones = 0) {
    loader_.display.SetCapability(26, palette);
    ChunkGroup g = QuadGroup();
    g.geometry.weights = 4;
    Info info;
    info.maxInfluences = 4;
    info.maxMatrices = 20;
    Group records{0, {}};
    for (uint32_t v = 0; v < 4; ++v) records.entries.push_back(Entry{v, 1, g.geometry.positions[v]});
    std::vector<Influence> bones = {Influence{"root", std::nullopt, {0, 0, 0}, kIdentity9, {records}},
                                    Influence{"arm", "root", {1, 0, 0}, kIdentity9, {}}};
    for (unsigned b = 0; b < moreBones; ++b)
      bones.push_back(Influence{"b" + std::to_string(b), "root", {0, 0, 0}, kIdentity9, {}});
    const std::string bytes = IdxmFile({g}, InflChunk(bones), info);
    EXPECT_EQ(loader_.Indexed(bytes, definition_), 0u);
    auto instance = std::make_unique<Instance>(&kernel_, nullptr);
    instance->InitFromDefinition(*definition_);
    EXPECT_TRUE(instance->InitSkin(*definition_));
    return instance;
  }
  GeometryChunk* DefinitionChunk() const { return definition_->GetChunks()->Get(0); }
  // Poses a copy of a posed instance and skins both; each moves on its own.
  template <class Instance>
  void CheckCopies() {
    for (const bool palette : {false, true}) {
      SCOPED_TRACE(palette ? "palette" : "software");
      auto instance = Skinned<Instance>(palette);
      const Vector3 rest = PositionOf(DefinitionChunk(), 1);
      // The source stands posed when it is copied.
      instance->GetRootParticle()->SetPosition(0, 0, 5);
      instance->UpdateSkin(1);
      std::unique_ptr<Instance> copy(static_cast<Instance*>(instance->Clone()));
      ASSERT_NE(copy->GetRootParticle(), nullptr);
      EXPECT_NE(copy->GetRootParticle(), instance->GetRootParticle());
      EXPECT_EQ(copy->GetRootParticle()->Parent(), copy.get());
      copy->UpdateSkin(1);
      copy->GetRootParticle()->SetPosition(0, 0, -5);
      copy->UpdateSkin(2);
      instance->DuplicateChunk(0);
      instance->UpdateSkin(2);
      // Where vertex 1 ends up: the palette form's chunk matrix placed over
      // the rest position.
      auto placed = [&](Instance& which) {
        GeometryChunk* chunk = which.GetTriangleChunk(0);
        if (!palette) return PositionOf(chunk, 1);
        EXPECT_EQ(chunk->GetAssignedMatrix(0), &which.GetBones()[0].current) << "its own bones";
        return chunk->GetAssignedMatrix(0)->TransformPoint(rest);
      };
      ExpectNear(placed(*instance), {1, 0, 5});
      ExpectNear(placed(*copy), {1, 0, -5});
      ExpectNear(PositionOf(DefinitionChunk(), 1), rest);
      EXPECT_NE(instance->GetTriangleChunk(0), DefinitionChunk());
      EXPECT_NE(copy->GetTriangleChunk(0), instance->GetTriangleChunk(0));
    }
  }

  Loader loader_;
  Vak::RenderKernel kernel_{nullptr, 1.0f};
  std::unique_ptr<VelmarIndexedMeshDefinition> definition_;
};

Vak::VertexType Positions() {
  Vak::VertexType type;
  type.Add(Vak::kItemPosition);
  return type;
}

Vak::VertexType PositionsAndLanes() {
  Vak::VertexType type = Positions();
  type.Add(Vak::kItemBlendIndices);
  return type;
}

TEST_F(DynamicInstanceTest, RefusedSkinnedChunksLeaveTheInstanceAsItWas) {
  int elsewhere = 0;
  struct Case {
    const char* name;
    bool palette;        // the instance's form
    int type;            // 0 positions, 1 with lanes, 2 the instance's own
    uint32_t flags;      // added to the chunk's
    bool owned;          // by another holder
    std::vector<const char*> boneNames;
    const char* recordBone;  // null: no records
    bool merge;
    unsigned index;
  } cases[] = {
      {"palette flag the first chunk lacks", false, 0, 0x40, false, {}, nullptr, false, 0},
      {"a bone list the first chunk lacks", false, 0, 0, false, {"root"}, nullptr, false, 0},
      {"records of an unknown bone", false, 0, 0, false, {}, "ghost", false, 0},
      {"owned elsewhere", false, 0, 0, true, {}, "root", false, 0},
      {"no bone list where the first chunk has one", true, 1, 0, false, {}, nullptr, false, 0},
      {"no bone indices", true, 0, 0, false, {"root"}, nullptr, false, 0},
      {"an unknown bone name", true, 1, 0, false, {"root", "ghost"}, nullptr, false, 0},
      {"merge: records of an unknown bone", false, 2, 0, false, {}, "ghost", true, 0},
      {"merge: index past the chunks", false, 2, 0, false, {}, "root", true, 1},
      {"merge: another vertex type", false, 0, 0, false, {}, "root", true, 0},
      {"merge: palette flag the first chunk lacks", false, 2, 0x40, false, {}, "root", true, 0},
      {"merge: no vertex program", true, 2, 0, false, {"root"}, nullptr, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto instance = Skinned(c.palette);
    const Vak::VertexType type =
        c.type == 0 ? Positions() : c.type == 1 ? PositionsAndLanes() : instance->GetTriangleChunk(0)->GetVertexType();
    Held chunk{MakeChunk(type, 3)};
    chunk->SetFlags(chunk->GetFlags() | c.flags);
    if (c.owned) chunk->SetOwner(&elsewhere);
    ChunkInfluences influences;
    for (const char* name : c.boneNames) influences.boneNames.emplace_back(name);
    if (c.recordBone) influences.influences.push_back({PString(c.recordBone), {{0, 1, {1, 2, 3}}}});
    const auto* chunks = instance->GetChunks();
    const GeometryChunk* first = instance->GetTriangleChunk(0);
    const bool done = c.merge ? instance->MergeSkinnedChunk(chunk.chunk, c.index, influences)
                              : instance->AddSkinnedChunk(chunk.chunk, nullptr, influences);
    EXPECT_FALSE(done);
    EXPECT_EQ(instance->GetChunkCount(), 1u);
    EXPECT_EQ(instance->GetChunks(), chunks);
    EXPECT_EQ(instance->GetTriangleChunk(0), first);
    EXPECT_EQ(instance->GetBones()[0].groups[0].entries.size(), 1u) << "no records taken";
  }
}

TEST_F(DynamicInstanceTest, SoftwareChunksSkinWithTheirRecords) {
  auto instance = Skinned(false);
  const Vak::VertexType own = instance->GetTriangleChunk(0)->GetVertexType();
  Held added{MakeChunk(Positions(), 3)};
  Held merged{MakeChunk(own, 2)};
  // Added: record 0 lands on vertex 1 of the new chunk. Merged: record 1
  // lands after the quad's four vertices.
  ChunkInfluences forAdd{{}, {{PString("root"), {{0, 1, {7, 0, 0}}}}}, 1};
  ChunkInfluences forMerge{{}, {{PString("root"), {{1, 1, {9, 0, 0}}}}}, 0};
  ASSERT_TRUE(instance->AddSkinnedChunk(added.chunk, nullptr, forAdd));
  ASSERT_TRUE(instance->MergeSkinnedChunk(merged.chunk, 0, forMerge));
  ASSERT_EQ(instance->GetChunkCount(), 2u);
  EXPECT_EQ(instance->GetTriangleChunk(0)->GetVertexCount(), 6u);
  instance->GetRootParticle()->SetPosition(0, 0, 5);
  instance->UpdateSkin(1);
  ExpectNear(PositionOf(instance->GetTriangleChunk(1), 1), {7, 0, 5});
  ExpectNear(PositionOf(instance->GetTriangleChunk(1), 0), {0, 0, 0});
  ExpectNear(PositionOf(instance->GetTriangleChunk(0), 5), {9, 0, 5});
  ExpectNear(PositionOf(instance->GetTriangleChunk(0), 1), {1, 0, 5});
  // The caller's chunks and the definition's keep their positions.
  ExpectNear(PositionOf(added.chunk, 1), {1, 0, 0});
  ExpectNear(PositionOf(merged.chunk, 1), {1, 0, 0});
  ExpectNear(PositionOf(DefinitionChunk(), 1), {1, 0, 0});
}

TEST_F(DynamicInstanceTest, PaletteChunksTakeTheInstancesSlots) {
  auto instance = Skinned(true);
  const auto& bones = instance->GetBones();
  ASSERT_EQ(bones[0].name, PString("root"));
  // Added: its own slots 0 and 2 are both "arm"; slot 5 (lane 15) is past
  // its list and 254 names no slot.
  Held added{MakeChunk(PositionsAndLanes(), 2, {{0, 3, 6, 15}, {6, 0, 0, 254}})};
  ASSERT_TRUE(instance->AddSkinnedChunk(added.chunk, nullptr, {{PString("arm"), PString("root"), PString("arm")}, {}, 0}));
  GeometryChunk* own = instance->GetTriangleChunk(1);
  ASSERT_EQ(own->GetNumInfluenceMatrices(), 2u);
  EXPECT_EQ(own->GetInfluenceMatrix(0), 1u);
  EXPECT_EQ(own->GetInfluenceMatrix(1), 0u);
  EXPECT_EQ(own->GetAssignedMatrix(0), &bones[1].current);
  EXPECT_EQ(own->GetAssignedMatrix(1), &bones[0].current);
  EXPECT_EQ(LanesOf(own, 0), (std::array<uint8_t, 4>{0, 3, 0, 15}));
  EXPECT_EQ(LanesOf(own, 1), (std::array<uint8_t, 4>{0, 0, 0, 254}));
  EXPECT_EQ(own->GetVertexDataDirtyCount(0), 1u);
  EXPECT_EQ(LanesOf(added.chunk, 0), (std::array<uint8_t, 4>{0, 3, 6, 15})) << "the caller's chunk is left alone";

  // Merged: the quad's palette holds "root" in slot 0, so "arm" comes next;
  // only the appended vertices are rewritten, and the program must reach the
  // quad's four vertices.
  GeometryChunk* target = instance->GetTriangleChunk(0);
  Vak::VertexProgram program(nullptr, "lib", "skin");
  target->SetVertexProgram(&program);
  const std::array<uint8_t, 4> quadLanes = LanesOf(target, 0);
  Held merged{MakeChunk(target->GetVertexType(), 2, {{0, 3, 0, 0}, {3, 3, 0, 0}})};
  const ChunkInfluences names{{PString("arm"), PString("root")}, {}, 0};
  program.SetIndexRange(3);
  EXPECT_FALSE(instance->MergeSkinnedChunk(merged.chunk, 0, names));
  program.SetIndexRange(4);
  ASSERT_TRUE(instance->MergeSkinnedChunk(merged.chunk, 0, names));
  GeometryChunk* result = instance->GetTriangleChunk(0);
  ASSERT_EQ(result->GetVertexCount(), 6u);
  EXPECT_EQ(LanesOf(result, 0), quadLanes);
  EXPECT_EQ(LanesOf(result, 4), (std::array<uint8_t, 4>{3, 0, 3, 3}));
  EXPECT_EQ(LanesOf(result, 5), (std::array<uint8_t, 4>{0, 0, 3, 3}));
  EXPECT_EQ(result->GetAssignedMatrix(1), &bones[1].current);
  EXPECT_EQ(DefinitionChunk()->GetVertexCount(), 4u);
}

TEST_F(DynamicInstanceTest, APaletteHoldsTheSlotsALaneReaches) {
  // A lane holds 3 x slot in a byte: slot 85 (lane 255) is the last.
  struct Case {
    unsigned bones;
    bool added;
  } cases[] = {{86, true}, {87, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bones);
    auto instance = Skinned(true, 85);
    ASSERT_EQ(instance->GetBones().size(), 87u);
    ChunkInfluences influences;
    for (unsigned b = 0; b < c.bones; ++b) influences.boneNames.push_back(instance->GetBones()[b].name);
    Held chunk{MakeChunk(PositionsAndLanes(), 1, {{255, 0, 3, 6}})};
    EXPECT_EQ(instance->AddSkinnedChunk(chunk.chunk, nullptr, influences), c.added);
    ASSERT_EQ(instance->GetChunkCount(), c.added ? 2u : 1u);
    if (c.added) {
      EXPECT_EQ(instance->GetTriangleChunk(1)->GetNumInfluenceMatrices(), 86u);
    }
  }
}

TEST_F(DynamicInstanceTest, CopiesSkinApartFromTheirSourceAndTheDefinition) {
  {
    SCOPED_TRACE("indexed");
    CheckCopies<VelmarDynamicIndexedMeshInstance>();
  }
  SCOPED_TRACE("progressive");
  CheckCopies<VelmarDynamicProgressiveMeshInstance>();
}

} // namespace
