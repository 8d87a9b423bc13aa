// Mesh instances: scale and rays, reference points, triangle queries, chunk
// additions and merges, copy-on-write, the collision-tree path, and the
// progressive detail changes.
#include "assets3d/VelmarIndexedMeshInstance.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "assets3d/VelmarGeometryBaseResource.h"
#include "engine/dorvix/RenderKernel.h"
#include "engine/elthrac/ViewPoint.h"
#include "engine/kernelx/Bitmap.h"
#include "tests/assets3d/mesh/IdxmBuilder.h"
#include "tests/assets3d/mesh/MeshLoad.h"

namespace {

using namespace meshtest;
using Vak::GeometryChunk;
using Vak::Vector3;

// A quad drawn two-sided, and a second one two units along x.
std::vector<ChunkGroup> TwoQuads() {
  ChunkGroup a = QuadGroup(), b = QuadGroup();
  a.material.flag = b.material.flag = 1;
  for (Vec3& p : b.geometry.positions) p[0] += 2;
  return {a, b};
}

// A chunk of `positions`, `indices` joined as `kind` (type bits).
GeometryChunk* MakeChunk(const std::vector<Vector3>& positions, const std::vector<uint16_t>& indices, uint32_t kind,
                         unsigned faces = 0) {
  Vak::VertexType type;
  type.Add(Vak::kItemPosition);
  auto* chunk = new GeometryChunk(type, unsigned(positions.size()), 0, unsigned(indices.size()), faces,
                                  GeometryChunk::PrimitiveTypeForTypeBits(kind), Vak::StandardChunkHint());
  for (unsigned i = 0; i < positions.size(); ++i) chunk->GetItem<Vector3>(Vak::kItemPosition)[i] = positions[i];
  for (unsigned i = 0; i < indices.size(); ++i) chunk->GetIndices()[i] = indices[i];
  chunk->SetFlags(kind);
  return chunk;
}

class MeshInstanceTest : public ::testing::Test {
protected:
  // An instance of a definition read from `bytes`, without a resource.
  std::unique_ptr<VelmarIndexedMeshInstance> Instance(const std::string& bytes) {
    EXPECT_EQ(loader_.Indexed(bytes, definition_), 0u);
    auto instance = std::make_unique<VelmarIndexedMeshInstance>(&kernel_, nullptr);
    instance->InitFromDefinition(*definition_);
    return instance;
  }
  static Vak::Ray Down(float x, float y) { return {{x, y, 5}, {0, 0, -1}}; }

  Loader loader_;
  Vak::RenderKernel kernel_{nullptr, 1.0f};
  std::unique_ptr<VelmarIndexedMeshDefinition> definition_;
};

TEST_F(MeshInstanceTest, ScaleSetsTheFlagAndScalesRays) {
  auto instance = Instance(IdxmFile(TwoQuads()));
  struct Case {
    Vector3 scale;
    bool scaled;
    bool hits;
    float distance;
  } cases[] = {
      {{2, 2, 2}, true, true, 2.5f},  // the ray's point is divided by the scale
      {{1, 1, 1}, false, true, 5.0f},
      {{1, 0, 1}, true, false, 0},
      {{0, 0, 0}, true, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.scale.x << "," << c.scale.y << "," << c.scale.z);
    instance->SetScale(c.scale);
    EXPECT_EQ(instance->IsScaled(), c.scaled);
    EXPECT_EQ(instance->GetScale(), c.scale);
    float distance = 1000;
    Vak::TriangleRef hit;
    EXPECT_EQ(instance->TestRayCollision(Down(0.2f, 0.1f), distance, hit), c.hits);
    if (c.hits) {
      EXPECT_FLOAT_EQ(distance, c.distance);
    }
  }
}

TEST_F(MeshInstanceTest, ReferencePointsComeFromNamesStartingWithP) {
  auto instance = Instance(IdxmFile(
      {QuadGroup()}, AtchChunk({Attachment{"pA"}, Attachment{"Pb@hip"}, Attachment{"a.track"}, Attachment{"q"},
                                Attachment{"xp"}, Attachment{"P"}})));
  std::vector<std::string> names, bones;
  for (const Vak::ReferencePoint* point : instance->GetReferencePoints()) {
    names.push_back(point->GetName().c_str());
    bones.push_back(point->GetBoneName().c_str());
  }
  EXPECT_EQ(names, (std::vector<std::string>{"pA", "Pb", "P"}));
  EXPECT_EQ(bones, (std::vector<std::string>{"", "hip", ""}));
}

TEST_F(MeshInstanceTest, TriangleCornersFollowThePrimitiveKind) {
  auto instance = Instance(IdxmFile({QuadGroup()}));
  // Index i names vertex i, so a corner's vertex is its index position.
  std::vector<Vector3> positions;
  for (int i = 0; i < 6; ++i) positions.push_back({float(i), float(i * i), 0});
  struct Case {
    const char* name;
    uint32_t kind;
    unsigned triangle;
    unsigned corners[3];
  } cases[] = {
      {"list", GeometryChunk::kTypeTriangleList, 1, {3, 4, 5}},
      {"strip, even", GeometryChunk::kTypeTriangleStrip, 2, {2, 3, 4}},
      {"strip, odd swaps corners 1 and 2", GeometryChunk::kTypeTriangleStrip, 1, {1, 3, 2}},
      {"fan", GeometryChunk::kTypeTriangleFan, 2, {0, 3, 4}},
      {"other", GeometryChunk::kTypeLineList, 4, {4, 4, 4}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GeometryChunk* chunk = MakeChunk(positions, {0, 1, 2, 3, 4, 5}, c.kind);
    ASSERT_TRUE(instance->AddChunk(chunk, nullptr));
    chunk->ReleaseReference();
    const unsigned index = instance->GetChunkCount() - 1;
    for (unsigned k = 0; k < 3; ++k) {
      unsigned vertex = 99;
      ASSERT_TRUE(instance->GetTriangleVertexIndex(c.triangle, index, k, vertex));
      EXPECT_EQ(vertex, c.corners[k]) << "corner " << k;
    }
  }
}

TEST_F(MeshInstanceTest, FaceNormalsAndCentres) {
  auto instance = Instance(IdxmFile({QuadGroup()}));
  struct Case {
    const char* name;
    std::vector<Vector3> corners;
    Vector3 normal;
  } cases[] = {
      {"counter-clockwise", {{0, 0, 0}, {2, 0, 0}, {0, 2, 0}}, {0, 0, 1}},
      {"clockwise", {{0, 0, 0}, {0, 3, 0}, {3, 0, 0}}, {0, 0, -1}},
      {"degenerate", {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}}, {1, 0, 0}},
      {"a point", {{1, 1, 1}, {1, 1, 1}, {1, 1, 1}}, {1, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GeometryChunk* chunk = MakeChunk(c.corners, {0, 1, 2}, GeometryChunk::kTypeTriangleList);
    ASSERT_TRUE(instance->AddChunk(chunk, nullptr));
    chunk->ReleaseReference();
    const unsigned index = instance->GetChunkCount() - 1;
    EXPECT_EQ(instance->GetTriangleFaceNormal(0, index), c.normal);
    const Vector3 centre = instance->GetTriangleCentre(0, index);
    EXPECT_FLOAT_EQ(centre.x, (c.corners[0].x + c.corners[1].x + c.corners[2].x) * 0.33333334f);
  }
  // A chunk with face normals answers them as stored.
  EXPECT_EQ(instance->GetTriangleFaceNormal(1, 0), Vector3(0, 0, 1));
}

// Draws in as many passes as it is told.
class PassesMaterial : public Vak::Material {
public:
  PassesMaterial() : Material(Vak::PString("passes")) {}
  unsigned GetNumPasses() const override { return passes; }
  unsigned passes = 1;
};

TEST_F(MeshInstanceTest, TriangleQueriesReadThroughTheIndexArray) {
  auto instance = Instance(IdxmFile({QuadGroup()}));
  Vak::VertexType full;
  full.Add(Vak::kItemPosition);
  full.Add(Vak::kItemColour);
  full.Add(Vak::kItemTexCoord0);
  const Vector3 positions[] = {{0, 0, 0}, {0, 2, 0}, {2, 0, 0}, {2, 3, 0}, {6, 0, 0}};
  // A strip of triangles (0 1 2), (1 3 2), (2 3 4) over vertices carrying
  // their own number in u and colour; a list (0 2 1), (3 4 2) of positions
  // alone, without a material.
  auto* strip = new GeometryChunk(full, 5, 0, 5, 0, GeometryChunk::PrimitiveTypeForTypeBits(GeometryChunk::kTypeTriangleStrip),
                                  Vak::StandardChunkHint());
  strip->SetFlags(GeometryChunk::kTypeTriangleStrip);
  for (unsigned i = 0; i < 5; ++i) {
    strip->GetItem<Vector3>(Vak::kItemPosition)[i] = positions[i];
    strip->GetItem<uint32_t>(Vak::kItemColour)[i] = 0xFF000000u | i;
    strip->GetItem<Vak::TexCoord>(Vak::kItemTexCoord0)[i] = {float(i), 10.0f * float(i)};
    strip->GetIndices()[i] = uint16_t(i);
  }
  // Edge 2 of triangle 0 borders the list's triangle 0 (chunk 2); the
  // strip's inner edges border each other.
  auto* neighbours = new GeometryChunk::FaceNeighborArray(3);
  neighbours->records[0] = {{0xFFFFFFFFu, 0x00010001u, 0x00020000u}};
  neighbours->records[1] = {{0xFFFFFFFFu, 0x00010002u, 0x00010000u}};
  neighbours->records[2] = {{0x00010001u, 0xFFFFFFFFu, 0xFFFFFFFFu}};
  strip->SetFaceNeighborArray(neighbours);
  neighbours->ReleaseReference();
  auto* material = new PassesMaterial;
  ASSERT_TRUE(instance->AddChunk(strip, material));
  material->ReleaseReference();
  strip->ReleaseReference();
  GeometryChunk* list =
      MakeChunk({std::begin(positions), std::end(positions)}, {0, 2, 1, 3, 4, 2}, GeometryChunk::kTypeTriangleList);
  ASSERT_TRUE(instance->AddChunk(list, nullptr));
  list->ReleaseReference();

  constexpr unsigned kNone = ~0u;
  struct Case {
    unsigned chunk, triangle;
    float area;
    bool visible;
    unsigned vertices[3];    // kNone: no texture coordinates or colours
    uint32_t neighbours[3];  // chunk << 16 | triangle; kNone: none
  } cases[] = {
      {1, 0, 2, true, {0, 1, 2}, {kNone, 0x00010001u, 0x00020000u}},
      {1, 1, 3, true, {1, 3, 2}, {kNone, 0x00010002u, 0x00010000u}},
      {1, 2, 6, true, {2, 3, 4}, {0x00010001u, kNone, kNone}},
      {2, 0, 2, false, {kNone, kNone, kNone}, {kNone, kNone, kNone}},
      {2, 1, 6, false, {kNone, kNone, kNone}, {kNone, kNone, kNone}},
      {3, 0, 0, false, {kNone, kNone, kNone}, {kNone, kNone, kNone}},  // past the chunks
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "chunk " << c.chunk << ", triangle " << c.triangle);
    EXPECT_FLOAT_EQ(instance->GetTriangleArea(c.triangle, c.chunk), c.area);
    EXPECT_EQ(instance->IsTriangleVisible(c.triangle, c.chunk), c.visible);
    for (unsigned k = 0; k < 3; ++k) {
      SCOPED_TRACE(testing::Message() << "corner " << k);
      float u = -1, v = -1;
      uint32_t colour = 0;
      const bool has = c.vertices[k] != kNone;
      ASSERT_EQ(instance->GetTriangleTexCoord(c.triangle, c.chunk, k, u, v), has);
      ASSERT_EQ(instance->GetTriangleColour(c.triangle, c.chunk, k, colour), has);
      if (has) {
        EXPECT_EQ(u, float(c.vertices[k]));
        EXPECT_EQ(v, 10.0f * float(c.vertices[k]));
        EXPECT_EQ(colour, 0xFF000000u | c.vertices[k]);
      }
      Vak::TriangleRef neighbour;
      ASSERT_EQ(instance->GetTriangleNeighbour(c.triangle, c.chunk, k, neighbour), c.neighbours[k] != kNone);
      if (c.neighbours[k] != kNone) {
        EXPECT_EQ(neighbour.geometry, instance.get());
        EXPECT_EQ(neighbour.chunk, c.neighbours[k] >> 16);
        EXPECT_EQ(neighbour.triangle, c.neighbours[k] & 0xFFFFu);
      }
    }
  }
  // Past the strip's three triangles.
  EXPECT_FALSE(instance->IsTriangleVisible(3, 1));
  EXPECT_EQ(instance->GetTriangleArea(3, 1), 0.0f);
}

TEST_F(MeshInstanceTest, RefusedChunksLeaveTheInstanceAsItWas) {
  auto instance = Instance(IdxmFile({QuadGroup()}));
  const std::vector<Vector3> tri = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
  GeometryChunk* target = MakeChunk(tri, {0, 1, 2}, GeometryChunk::kTypeTriangleList);
  auto* material = new PassesMaterial;
  ASSERT_TRUE(instance->AddChunk(target, material));
  material->ReleaseReference();
  const unsigned last = instance->GetChunkCount() - 1;
  int elsewhere = 0;
  struct Case {
    const char* name;
    std::function<void(GeometryChunk&)> prepare;
    unsigned index;
    bool add, merge;
    unsigned targetPasses = 1, materialPasses = 1;
  } cases[] = {
      {"acceptable", [](GeometryChunk&) {}, last, true, true},
      {"palette chunk", [](GeometryChunk& c) { c.SetFlags(c.GetFlags() | 0x40); }, last, false, false},
      {"owned elsewhere", [&](GeometryChunk& c) { c.SetOwner(&elsewhere); }, last, false, false},
      {"index past the count", [](GeometryChunk&) {}, 1000, true, false},
      {"target no triangle list", [](GeometryChunk&) {}, 0, true, false},
      {"two passes", [](GeometryChunk& c) { c.SetNumPasses(2); }, last, true, false},
      {"target in two passes", [](GeometryChunk&) {}, last, true, false, 2, 1},
      {"target's material in two passes", [](GeometryChunk&) {}, last, true, false, 1, 2},
  };
  // The file's chunk is joined as a strip.
  instance->GetChunks()->Get(0)->SetFlags(GeometryChunk::kTypeTriangleStrip);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    instance->GetChunks()->Get(last)->SetNumPasses(c.targetPasses);
    material->passes = c.materialPasses;
    for (bool merging : {false, true}) {
      GeometryChunk* chunk = MakeChunk(tri, {0, 1, 2}, GeometryChunk::kTypeTriangleList);
      c.prepare(*chunk);
      const auto* chunksBefore = instance->GetChunks();
      const unsigned countBefore = instance->GetChunkCount();
      const bool done = merging ? instance->MergeChunk(chunk, c.index) : instance->AddChunk(chunk, nullptr);
      EXPECT_EQ(done, merging ? c.merge : c.add) << (merging ? "merge" : "add");
      if (!done) {
        EXPECT_EQ(instance->GetChunks(), chunksBefore);
        EXPECT_EQ(instance->GetChunkCount(), countBefore);
      }
      chunk->SetOwner(nullptr);
      chunk->ReleaseReference();
    }
    instance->GetChunks()->Get(last)->SetNumPasses(1);
    material->passes = 1;
  }
  // Another vertex type is refused too; the merges above grew the target.
  Vak::VertexType other;
  other.Add(Vak::kItemPosition);
  other.Add(Vak::kItemNormal);
  auto* odd = new GeometryChunk(other, 3, 0, 3, 0, 0, Vak::StandardChunkHint());
  odd->SetFlags(GeometryChunk::kTypeTriangleList);
  EXPECT_FALSE(instance->MergeChunk(odd, last));
  odd->ReleaseReference();
  EXPECT_EQ(instance->GetChunks()->Get(last)->GetVertexCount(), 6u);
  EXPECT_EQ(target->GetVertexCount(), 3u) << "the merge went into a duplicate";
  target->ReleaseReference();
  // An instance without arrays takes nothing.
  VelmarIndexedMeshInstance empty(&kernel_, nullptr);
  GeometryChunk* chunk = MakeChunk(tri, {0, 1, 2}, GeometryChunk::kTypeTriangleList);
  EXPECT_FALSE(empty.AddChunk(chunk, nullptr));
  chunk->ReleaseReference();
}

TEST_F(MeshInstanceTest, ChunksFromAFileMergeWhenTheyAreTriangleLists) {
  // A skinned chunk's hint asks for software skinning with its bit 2; the
  // chunk's own flags say only how its indices join.
  struct Case {
    const char* name;
    uint32_t primitive;
    bool skinned;
    bool merges;
  } cases[] = {
      {"list", 4, false, true},
      {"strip", 8, false, false},
      {"software-skinned list", 4, true, true},
      {"software-skinned strip", 8, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ChunkGroup g = QuadGroup();
    g.geometry.primitive = c.primitive;
    Info info;
    if (c.skinned) {
      g.geometry.weights = 4;
      info.maxInfluences = 4;
      info.maxMatrices = 20;
    }
    auto instance = Instance(IdxmFile({g}, "", info));
    GeometryChunk* target = instance->GetChunks()->Get(0);
    ASSERT_EQ(target->IsSoftwareSkinned(), c.skinned);
    EXPECT_EQ(target->GetTypeBits(), c.primitive);
    GeometryChunk* chunk = target->CreateInstance();
    EXPECT_EQ(instance->MergeChunk(chunk, 0), c.merges);
    EXPECT_EQ(instance->GetChunks()->Get(0)->GetVertexCount(), c.merges ? 8u : 4u);
    chunk->ReleaseReference();
  }
}

TEST_F(MeshInstanceTest, ChangesLeaveTheDefinitionsArraysAlone) {
  struct Case {
    const char* name;
    std::function<VelmarIndexedMeshInstance*(VelmarIndexedMeshInstance&)> change;
  } cases[] = {
      {"DuplicateChunk",
       [](VelmarIndexedMeshInstance& i) {
         i.DuplicateChunk(0);
         i.DuplicateChunk(7);  // past the count: nothing
         return &i;
       }},
      {"MakeMaterialsPrivate",
       [](VelmarIndexedMeshInstance& i) {
         i.MakeMaterialsPrivate();
         return &i;
       }},
      {"Clone", [](VelmarIndexedMeshInstance& i) { return static_cast<VelmarIndexedMeshInstance*>(i.Clone()); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ChunkGroup dynamic = QuadGroup();
    auto instance = Instance(IdxmFile({QuadGroup(), dynamic}));
    GeometryChunk* first = definition_->GetChunk(0);
    Vak::Material* material = definition_->GetMaterial(0);
    const Vector3 corner = first->GetItem<Vector3>(Vak::kItemPosition)[1];
    VelmarIndexedMeshInstance* changed = c.change(*instance);
    std::unique_ptr<VelmarIndexedMeshInstance> own(changed == instance.get() ? nullptr : changed);
    // Writing through the instance's chunk and material reaches only them
    // when they are its own.
    changed->GetMaterials()->Get(0)->SetValue(7.0f);
    if (changed->GetChunks()->Get(0) != first)
      changed->GetChunks()->Get(0)->GetItem<Vector3>(Vak::kItemPosition)[1] = {9, 9, 9};
    EXPECT_EQ(definition_->GetChunk(0), first);
    EXPECT_EQ(definition_->GetMaterial(0), material);
    EXPECT_EQ(definition_->GetChunks()->Count(), 2u);
    EXPECT_EQ(first->GetItem<Vector3>(Vak::kItemPosition)[1], corner);
    if (std::string(c.name) == "DuplicateChunk") {
      EXPECT_NE(changed->GetChunks()->Get(0), first);
    }
  }
}

TEST_F(MeshInstanceTest, ProjectedVerticesTurnWithoutTheMatrixTranslation) {
  auto instance = Instance(IdxmFile(TwoQuads()));
  // A quarter turn about z; the matrix's own move and the offset's z count
  // for nothing.
  const Vak::Matrix4 matrix =
      Vak::Matrix4::FromRotationTranslation(Vak::Quaternion(0, 0, 0.70710678f, 0.70710678f), {100, 200, 300});
  std::vector<std::pair<float, float>> points;
  instance->ProjectVertices(matrix, {10, 20, 30}, [&](float x, float y) { points.emplace_back(x, y); });
  const std::pair<float, float> expected[] = {{10, 20}, {10, 21}, {9, 21}, {9, 20},
                                              {10, 22}, {10, 23}, {9, 23}, {9, 22}};
  ASSERT_EQ(points.size(), std::size(expected));
  for (std::size_t i = 0; i < points.size(); ++i) {
    EXPECT_NEAR(points[i].first, expected[i].first, 1e-5f) << i;
    EXPECT_NEAR(points[i].second, expected[i].second, 1e-5f) << i;
  }
}

TEST_F(MeshInstanceTest, ABitmapReachesTheTextureInTheDisplaysFormat) {
  auto instance = Instance(IdxmFile({QuadGroup()}));
  instance->MakeMaterialsPrivate();
  auto* material = new PassesMaterial;
  instance->GetMaterials()->Set(0, material);
  auto* texture = new Vak::Texture(Vak::PString("skin.texture"));
  material->SetTexture(0, texture, 1);
  texture->ReleaseReference();
  using Format = Vak::Bitmap::Format;
  using Vak::DisplayFormat;
  struct Case {
    const char* name;
    Format format;
    unsigned material, slot;
    bool set;
    DisplayFormat shown;
  } cases[] = {
      {"argb", Vak::Bitmap::kFormatARGB, 0, 0, true, DisplayFormat::kARGB8888},
      {"xrgb", Vak::Bitmap::kFormatXRGB, 0, 0, true, DisplayFormat::kXRGB8888},
      {"format 5, not in the table", Vak::Bitmap::kFormatCompressed, 0, 0, false, DisplayFormat::kXRGB8888},
      {"a slot without a texture", Vak::Bitmap::kFormatARGB, 0, 1, false, DisplayFormat::kXRGB8888},
      {"a material past the chunks", Vak::Bitmap::kFormatARGB, 1, 0, false, DisplayFormat::kXRGB8888},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const unsigned updates = texture->GetBitmapUpdates();
    const Vak::Bitmap bitmap = c.format == Vak::Bitmap::kFormatCompressed ? Vak::Bitmap(2, 2, std::size_t(8))
                                                                          : Vak::Bitmap(2, 2, c.format);
    EXPECT_EQ(instance->SetTextureFromBitmap(0, 0, c.material, c.slot, bitmap), c.set);
    EXPECT_EQ(texture->GetBitmapUpdates(), updates + (c.set ? 1 : 0));
    EXPECT_EQ(texture->GetBitmapFormat(), c.shown);
  }
  EXPECT_FALSE(instance->SetTextureFromFile(0, 0, 0, 0, (loader_.folder / "none.tga").c_str()));
  EXPECT_EQ(texture->GetBitmapUpdates(), 2u);
}

// A material that copies itself with its value.
class CopyableMaterial : public Vak::Material {
public:
  CopyableMaterial() : Material(Vak::PString("copyable")) {}
  Vak::Material* Duplicate() const override {
    auto* copy = new CopyableMaterial;
    copy->SetValue(GetValue());
    return copy;
  }
};

TEST_F(MeshInstanceTest, ADuplicatedMaterialIsTheInstancesAlone) {
  auto instance = Instance(IdxmFile({QuadGroup(), QuadGroup()}));
  auto* copyable = new CopyableMaterial;
  copyable->SetValue(3);
  definition_->GetMaterials()->Set(0, copyable);
  const Vak::Material* plain = definition_->GetMaterial(1);
  const auto* shared = instance->GetMaterials();
  instance->DuplicateMaterial(1);  // no duplicate to be had: stays shared
  instance->DuplicateMaterial(2);  // past the count
  EXPECT_EQ(instance->GetMaterials(), shared);
  instance->DuplicateMaterial(0);
  Vak::Material* own = instance->GetMaterials()->Get(0);
  ASSERT_NE(own, copyable);
  EXPECT_NE(instance->GetMaterials(), definition_->GetMaterials());
  EXPECT_EQ(own->GetValue(), 3.0f);
  own->SetValue(7);
  EXPECT_EQ(definition_->GetMaterial(0), copyable);
  EXPECT_EQ(copyable->GetValue(), 3.0f);
  EXPECT_EQ(instance->GetMaterials()->Get(1), plain);
  EXPECT_EQ(definition_->GetMaterial(1), plain);
}

TEST_F(MeshInstanceTest, DynamicChunksAreTheInstancesOwn) {
  // Dynamic vertex data: a dynamic chunk's instance changes its vertices.
  loader_.resource.options.dynamicVertex = {1, 1};
  ASSERT_EQ(loader_.Indexed(IdxmFile({QuadGroup(), QuadGroup()}), definition_), 0u);
  const GeometryChunk* plain = definition_->GetChunk(0);
  GeometryChunk* dynamic = definition_->GetChunk(1);
  dynamic->SetFlags(dynamic->GetFlags() | VelmarIndexedMeshInstance::kDynamicChunk);
  VelmarIndexedMeshInstance instance(&kernel_, nullptr);
  instance.InitFromDefinition(*definition_);
  std::unique_ptr<VelmarIndexedMeshInstance> copy(static_cast<VelmarIndexedMeshInstance*>(instance.Clone()));
  GeometryChunk* extra = dynamic->CreateInstance();
  ASSERT_TRUE(instance.AddChunk(extra, nullptr));
  struct Case {
    const char* name;
    const GeometryChunk* own;
    const GeometryChunk* source;
  } cases[] = {
      {"made from the definition", instance.GetChunks()->Get(1), dynamic},
      {"a copy's", copy->GetChunks()->Get(1), instance.GetChunks()->Get(1)},
      {"added", instance.GetChunks()->Get(2), extra},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_NE(c.own, c.source);
    EXPECT_NE(c.own->GetVertexData(), c.source->GetVertexData()) << "dynamic vertex data of its own";
    EXPECT_EQ(c.own->GetIndices(), c.source->GetIndices()) << "static index data shared";
  }
  EXPECT_EQ(instance.GetChunks()->Get(0), plain);
  EXPECT_EQ(copy->GetChunks()->Get(0), plain);
  EXPECT_EQ(definition_->GetChunk(1), dynamic);
  extra->ReleaseReference();
}

TEST_F(MeshInstanceTest, TheCollisionTreeNamesTheSameTriangleAsEveryTriangle) {
  const std::string bytes = IdxmFile(TwoQuads());
  // Without a tree: every triangle is tried.
  auto plain = Instance(bytes);
  // With one: the instance of an indexed-mesh resource whose definition
  // has built its tree.
  const std::string path = loader_.Save(bytes);
  VelmarIndexedMeshResource resource(Vak::PString(path.c_str()), nullptr);
  resource.AddHold();  // never freed by the instance's release
  resource.SetRenderKernel(&kernel_);
  ASSERT_TRUE(resource.Load(path.c_str()).Ok());
  ASSERT_NE(resource.GetDefinition()->GetCollisionTree(), nullptr);
  std::unique_ptr<VelmarIndexedMeshInstance> treed(resource.CreateMeshInstance());
  ASSERT_NE(treed, nullptr);
  struct Case {
    float x, y;
    unsigned chunk, triangle;
  } cases[] = {{0.75f, 0.25f, 0, 0}, {0.25f, 0.75f, 0, 1}, {2.75f, 0.25f, 1, 0}, {2.25f, 0.75f, 1, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.x << "," << c.y);
    for (VelmarIndexedMeshInstance* instance : {plain.get(), treed.get()}) {
      float distance = 1000;
      Vak::TriangleRef hit;
      ASSERT_TRUE(instance->TestRayCollision(Down(c.x, c.y), distance, hit));
      EXPECT_FLOAT_EQ(distance, 5.0f);
      EXPECT_EQ(hit.geometry, instance);
      EXPECT_EQ(hit.chunk, c.chunk);
      EXPECT_EQ(hit.triangle, c.triangle);
      // Nothing nearer than the distance given is found.
      distance = 4.0f;
      EXPECT_FALSE(instance->TestRayCollision(Down(c.x, c.y), distance, hit));
    }
  }
  treed.reset();
}

// Keeps the transform of every chunk it draws.
class RecordingMaterial : public Vak::Material {
public:
  RecordingMaterial() : Material(Vak::PString("recording")) {}
  void RenderChunk(Vak::Display&, Vak::View*, GeometryChunk&, const Vak::LightList&,
                   const Vak::Matrix4& transform) override {
    drawn.push_back(transform.Translation());
  }
  std::vector<Vector3> drawn;
};

TEST_F(MeshInstanceTest, CullAndRenderFollowTheBonesCulledThisFrame) {
  Geometry onHip = Quad();
  onHip.name = "hip";
  ChunkGroup group;
  group.geometry = onHip;
  auto instance = Instance(IdxmFile({group}, SkelChunk(Bone{"root", {0, 0, 0}, {0, 0, 0, 1}, {Bone{"hip", {1, 2, 3}}}})));
  instance->CompleteCreation(*definition_);
  ASSERT_EQ(instance->GetBoneParticles().size(), 1u);
  ASSERT_NE(instance->GetBoneParticles()[0], nullptr);
  instance->MakeMaterialsPrivate();
  auto* material = new RecordingMaterial;
  instance->GetMaterials()->Set(0, material);
  Vak::ViewPoint view(&kernel_.GetDisplay());
  view.SetEyePosition({100, 0, 0});
  struct Case {
    const char* name;
    float opacity;
    bool boneShown;
    bool added;
    size_t drawn;
  } cases[] = {
      {"shown", 1.0f, true, true, 1},
      {"bone hidden: its chunk is not drawn", 1.0f, false, true, 0},
      {"transparent: not added", 0.0f, true, false, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    view.NextFrame();
    material->drawn.clear();
    instance->SetOpacity(c.opacity);
    EXPECT_EQ(instance->GetChunks()->Get(0)->GetOpacity(), c.opacity);
    instance->GetBoneParticles()[0]->SetFlag(Vak::Element::kShown, c.boneShown);
    const unsigned activations = material->GetActivationCount();
    instance->Cull(view, Vak::Matrix4::Identity());
    EXPECT_EQ(instance->GetLastCulledFrame(), view.GetCurrentFrame());
    EXPECT_EQ(view.Added().size(), c.added ? 1u : 0u);
    EXPECT_EQ(material->GetActivationCount(), activations + (c.added ? 1 : 0));
    if (c.added) {
      EXPECT_NE(instance->GetStoredMatrix(&view), nullptr);
    }
    instance->Render(view, kernel_.GetDisplay(), Vak::Matrix4::Identity());
    ASSERT_EQ(material->drawn.size(), c.drawn);
    if (c.drawn) {
      EXPECT_EQ(material->drawn[0], Vector3(1, 2, 3)) << "the bone's transform";
    }
  }
  // 100 units away: three doublings past 16.
  EXPECT_EQ(material->GetActiveMipLevel(), 3);
}

// --- Progressive ---------------------------------------------------------------

struct Detail {
  int level, total;
  unsigned indexCount, vertexCount;
  uint16_t index5;
};

class ProgressiveInstanceTest : public ::testing::Test {
protected:
  std::unique_ptr<VelmarProgressiveMeshInstance> Instance(const Pmin& records) {
    EXPECT_EQ(loader_.Progressive(IdxmFile({QuadGroup()}, PminChunk(records)), definition_), 0u);
    auto instance = std::make_unique<VelmarProgressiveMeshInstance>(&kernel_, nullptr);
    instance->InitFromDefinition(*definition_);
    return instance;
  }
  static Detail Now(const VelmarProgressiveMeshInstance& instance) {
    const GeometryChunk* chunk = instance.GetChunks()->Get(0);
    return {instance.GetLevel(), instance.GetTotal(), chunk->GetIndexCount(), chunk->GetVertexCount(),
            chunk->GetIndices()[5]};
  }

  Loader loader_;
  Vak::RenderKernel kernel_{nullptr, 1.0f};
  std::unique_ptr<VelmarProgressiveMeshDefinition> definition_;
};

// Top record 2 removes the second triangle (one vertex, index 5 moved down
// by one); top record 1 removes the first; record 0 is the base.
Pmin TwoSteps() {
  Pmin p;
  p.indices = {5};
  p.steps = {{0, 1, 0, 0}, {1, 1, 1, 1}};
  p.groups = {{0, 1}, {0, 1}};
  p.tops = {0, 1, 1};
  return p;
}

void ExpectDetail(const Detail& got, const Detail& want) {
  EXPECT_EQ(got.level, want.level);
  EXPECT_EQ(got.total, want.total);
  EXPECT_EQ(got.indexCount, want.indexCount);
  EXPECT_EQ(got.vertexCount, want.vertexCount);
  EXPECT_EQ(got.index5, want.index5);
}

TEST_F(ProgressiveInstanceTest, DetailChangesStepThroughTheLevels) {
  auto instance = Instance(TwoSteps());
  ExpectDetail(Now(*instance), {2, 2, 6, 4, 3});
  EXPECT_NE(instance->GetChunks()->Get(0)->GetIndices(), definition_->GetChunk(0)->GetIndices())
      << "the instance edits its own index data";
  struct Case {
    const char* name;
    std::function<void(VelmarProgressiveMeshInstance&)> change;
    Detail after;
  } cases[] = {
      {"lower to what is shown", [](auto& i) { i.LowerDetail(2); }, {2, 2, 6, 4, 3}},
      {"lower by one triangle", [](auto& i) { i.LowerDetail(1); }, {1, 1, 3, 3, 2}},
      {"lower below the smallest total", [](auto& i) { i.LowerDetail(-5); }, {0, 0, 0, 3, 2}},
      {"lower at level 0", [](auto& i) { i.LowerDetail(0); }, {0, 0, 0, 3, 2}},
      {"raise by one", [](auto& i) { i.RaiseDetail(1); }, {1, 1, 3, 3, 2}},
      {"raise past the top", [](auto& i) { i.RaiseDetail(100); }, {2, 2, 6, 4, 3}},
      {"through the detail interface", [](auto& i) { i.SetDetail(0); }, {0, 0, 0, 3, 2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.change(*instance);
    ExpectDetail(Now(*instance), c.after);
  }
  EXPECT_EQ(definition_->GetChunk(0)->GetIndexCount(), 6u);
  EXPECT_EQ(definition_->GetChunk(0)->GetIndices()[5], 3u);
  EXPECT_FALSE(instance->AddChunk(definition_->GetChunk(0), nullptr));
  EXPECT_FALSE(instance->MergeChunk(definition_->GetChunk(0), 0));
}

TEST_F(ProgressiveInstanceTest, ACloneKeepsItsDetailAndChangesApart) {
  auto instance = Instance(TwoSteps());
  instance->LowerDetail(1);
  std::unique_ptr<VelmarProgressiveMeshInstance> copy(
      static_cast<VelmarProgressiveMeshInstance*>(instance->Clone()));
  ExpectDetail(Now(*copy), {1, 1, 3, 3, 2});
  copy->LowerDetail(0);
  ExpectDetail(Now(*copy), {0, 0, 0, 3, 2});
  ExpectDetail(Now(*instance), {1, 1, 3, 3, 2});
  // The copy's index data keeps what lowering took away.
  copy->RaiseDetail(100);
  ExpectDetail(Now(*copy), {2, 2, 6, 4, 3});
  ExpectDetail(Now(*instance), {1, 1, 3, 3, 2});
  EXPECT_EQ(definition_->GetChunk(0)->GetIndexCount(), 6u);
  EXPECT_EQ(definition_->GetChunk(0)->GetIndices()[5], 3u);
}

TEST_F(ProgressiveInstanceTest, RecordsFromTheFileAreKeptInsideTheChunk) {
  struct Case {
    const char* name;
    Pmin records;
    Detail lowered;
  } cases[] = {
      // More than the chunk holds: the counts stop at 0.
      {"counts past the chunk", [] { Pmin p = TwoSteps(); p.steps[1] = {9, 0, 1, 1}; p.steps[0] = {0, 7, 0, 0};
         return p; }(), {0, 0, 0, 0, 2}},
      // Positions past the index array are skipped, the others moved.
      {"position past the indices", [] { Pmin p = TwoSteps(); p.indices = {6000, 5}; p.steps[1] = {1, 1, 1, 2};
         return p; }(), {0, 0, 0, 3, 2}},
      // An index value is not moved below 0.
      {"offset past the index", [] { Pmin p = TwoSteps(); p.steps[1] = {1, 1, 50, 1}; return p; }(),
       {0, 0, 0, 3, 0}},
      // A group naming a chunk the mesh lacks changes nothing.
      {"chunk past the count", [] { Pmin p = TwoSteps(); p.groups[1] = {3, 1}; return p; }(), {0, 0, 3, 4, 3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto instance = Instance(c.records);
    instance->LowerDetail(-100);
    ExpectDetail(Now(*instance), c.lowered);
    const GeometryChunk* chunk = instance->GetChunks()->Get(0);
    EXPECT_LE(chunk->GetIndexCount(), chunk->GetIndexCapacity());
    EXPECT_LE(chunk->GetVertexCount(), chunk->GetVertexCapacity());
  }
}

} // namespace
