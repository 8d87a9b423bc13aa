// Vertex types from hints, item accessors and what a chunk keeps.
#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

#include "engine/dorvix/Display.h"
#include "engine/dorvix/Material.h"

namespace {

using Vak::StandardChunkHint;
using Vak::VertexType;

StandardChunkHint Hint(uint32_t flags, unsigned sets, unsigned weights = 0, bool tangents = false) {
  StandardChunkHint hint(2, flags);
  hint.textureSets = sets;
  hint.weightsPerVertex = weights;
  hint.tangents = tangents;
  return hint;
}

struct LayoutCase {
  const char* name;
  StandardChunkHint hint;
  std::vector<std::pair<int, int>> offsets;  // item, byte offset
  unsigned stride;
  bool softwareSkinned;
};

TEST(VertexType, FromHint) {
  const uint32_t skinned = StandardChunkHint::kSkinned;
  const uint32_t floats = skinned | StandardChunkHint::kFloatWeights;
  const uint32_t software = skinned | StandardChunkHint::kSoftwareSkinning;
  const LayoutCase cases[] = {
      {"one set", Hint(0, 1), {{1, 0}, {2, 12}, {4, 16}, {15, 28}}, 36, false},
      {"no set", Hint(0, 0), {{1, 0}, {2, 12}, {4, 16}}, 28, false},
      {"three sets and item 27",
       Hint(0, 3, 0, true),
       {{1, 0}, {2, 12}, {4, 16}, {15, 28}, {16, 36}, {17, 44}, {27, 52}},
       64,
       false},
      {"packed weights", Hint(skinned, 1), {{1, 0}, {2, 12}, {4, 16}, {9, 28}, {10, 32}, {15, 36}}, 44, false},
      {"three float weights", Hint(floats, 1, 3), {{1, 0}, {2, 12}, {4, 16}, {7, 28}, {10, 40}, {15, 44}}, 52, false},
      {"no weight count takes one", Hint(floats, 0, 0), {{5, 28}, {10, 32}}, 36, false},
      {"five weights take four", Hint(floats, 0, 5), {{8, 28}, {10, 44}}, 48, false},
      {"skinned in software", Hint(software, 1), {{1, 0}, {2, 12}, {4, 16}, {15, 28}}, 36, true},
      {"nine sets take eight", Hint(0, 9), {{15, 28}, {22, 84}}, 92, false},
  };
  Vak::Material material("m");
  for (const LayoutCase& c : cases) {
    SCOPED_TRACE(c.name);
    VertexType type = Vak::Material::VertexTypeForHint(c.hint);
    for (auto [item, offset] : c.offsets) EXPECT_EQ(type.Offset(item), offset) << "item " << item;
    EXPECT_EQ(type.Stride(), c.stride);
    if (!(c.hint.flags & StandardChunkHint::kSkinned) || c.softwareSkinned) {
      for (int item = Vak::kItemWeights1; item <= Vak::kItemBlendIndices; ++item) {
        EXPECT_FALSE(type.Has(item)) << "item " << item;
      }
    }
    Vak::GeometryChunk* chunk = material.CreateGeometryChunk(4, 7, 6, 2, Vak::Material::kLineList, c.hint);
    ASSERT_NE(chunk, nullptr);
    EXPECT_EQ(chunk->GetVertexType(), type);
    EXPECT_EQ(chunk->GetVertexSize(), c.stride);
    EXPECT_EQ(chunk->IsSoftwareSkinned(), c.softwareSkinned);
    chunk->ReleaseReference();
  }
}

TEST(VertexType, ItemsAreAddedOnce) {
  const std::pair<int, unsigned> sizes[] = {{1, 12}, {2, 4}, {3, 4}, {4, 12}, {5, 4}, {8, 16}, {9, 4}, {10, 4},
                                            {15, 8}, {22, 8}, {27, 12}, {0, 0}, {11, 0}, {23, 0}, {40, 0}};
  for (auto [item, size] : sizes) EXPECT_EQ(VertexType::ItemSize(item), size) << "item " << item;
  VertexType type;
  EXPECT_TRUE(type.Add(Vak::kItemPosition));
  EXPECT_FALSE(type.Add(Vak::kItemPosition));
  EXPECT_FALSE(type.Add(11));
  EXPECT_TRUE(type.Add(Vak::kItemTexCoord0 + 2));
  EXPECT_EQ(type.Stride(), 20u);
  EXPECT_EQ(type.TexCoordSets(), 1u);
  EXPECT_EQ(type.Offset(40), -1);
}

TEST(GeometryChunk, ItemsPointIntoTheVertexData) {
  Vak::Material material("m");
  Vak::GeometryChunk* chunk =
      material.CreateGeometryChunk(3, 1, 3, 1, Vak::Material::kTriangleList, Hint(StandardChunkHint::kSkinned, 2));
  ASSERT_NE(chunk, nullptr);
  auto positions = chunk->GetItem<Vak::Vector3>(Vak::kItemPosition);
  auto second = chunk->GetItem<Vak::TexCoord>(Vak::kItemTexCoord0 + 1);
  auto indices = chunk->GetItem<uint32_t>(Vak::kItemBlendIndices);
  ASSERT_TRUE(positions && second && indices);
  EXPECT_EQ(positions.Stride(), chunk->GetVertexSize());
  for (unsigned v = 0; v < 3; ++v) {
    positions[v] = {float(v), 2, 3};
    second[v] = {0.5f, float(v)};
    indices[v] = 0xFE000000u + v;
  }
  const uint8_t* data = chunk->GetVertexData();
  const unsigned stride = chunk->GetVertexSize();
  float x, u, t;
  uint32_t index;
  std::memcpy(&x, data + 2 * stride + 0, 4);
  std::memcpy(&index, data + 2 * stride + 32, 4);
  std::memcpy(&u, data + 1 * stride + 44, 4);
  std::memcpy(&t, data + 1 * stride + 48, 4);
  EXPECT_EQ(x, 2.0f);
  EXPECT_EQ(index, 0xFE000002u);
  EXPECT_EQ(u, 0.5f);
  EXPECT_EQ(t, 1.0f);
  const Vak::GeometryChunk& readOnly = *chunk;
  EXPECT_EQ(readOnly.GetItem<Vak::Vector3>(Vak::kItemPosition)[1], Vak::Vector3(1, 2, 3));
  // Absent items give nothing.
  EXPECT_FALSE(chunk->GetItem<float>(Vak::kItemWeights1));
  EXPECT_FALSE(chunk->GetItem<Vak::Vector3>(Vak::kItemTangent));
  EXPECT_EQ(chunk->GetIndexCount(), 3u);
  EXPECT_EQ(chunk->GetFaceCount(), 1u);
  EXPECT_EQ(chunk->GetSecondSize(), 1u);
  EXPECT_EQ(chunk->GetFlags(), Vak::GeometryChunk::kTypeTriangleList) << "the hint's skinning bits stay the hint's";
  chunk->ReleaseReference();

  // A chunk without vertices has no items.
  Vak::GeometryChunk* empty = material.CreateGeometryChunk(0, 0, 0, 0, 0, Hint(0, 1));
  ASSERT_NE(empty, nullptr);
  EXPECT_FALSE(empty->GetItem<Vak::Vector3>(Vak::kItemPosition));
  empty->ReleaseReference();
}

TEST(GeometryChunk, PaletteSlotsAndNeighbours) {
  Vak::Material material("m");
  StandardChunkHint hint = Hint(StandardChunkHint::kSkinned, 1);
  hint.matrixLimit = 2;
  Vak::GeometryChunk* chunk = material.CreateGeometryChunk(3, 0, 3, 1, 0, hint);
  ASSERT_NE(chunk, nullptr);
  EXPECT_EQ(chunk->AddInfluenceMatrix(7), 0);
  EXPECT_EQ(chunk->AddInfluenceMatrix(3), 1);
  EXPECT_EQ(chunk->AddInfluenceMatrix(7), 0);  // once per influence
  EXPECT_EQ(chunk->AddInfluenceMatrix(9), -1);  // the palette is full
  EXPECT_EQ(chunk->GetNumInfluenceMatrices(), 2u);
  EXPECT_EQ(chunk->GetInfluenceMatrix(1), 3u);

  auto* first = new Vak::GeometryChunk::FaceNeighborArray(1);
  auto* second = new Vak::GeometryChunk::FaceNeighborArray(1);
  chunk->SetFaceNeighborArray(first);
  EXPECT_EQ(first->ReferenceCountValue(), 2);
  chunk->SetFaceNeighborArray(second);
  EXPECT_EQ(first->ReferenceCountValue(), 1);
  first->ReleaseReference();
  second->ReleaseReference();
  EXPECT_EQ(chunk->GetFaceNeighborArray(), second);  // the chunk's reference keeps it
  chunk->ReleaseReference();
}

TEST(Display, CapabilitiesColoursAndDefault) {
  Vak::Display display;
  EXPECT_FALSE(display.SupportsCapability(26));
  display.SetCapability(26, true);
  display.SetCapability(200, true);
  EXPECT_TRUE(display.SupportsCapability(26));
  EXPECT_FALSE(display.SupportsCapability(25));
  EXPECT_FALSE(display.SupportsCapability(200));
  EXPECT_FALSE(display.SupportsCapability(-1));
  uint32_t colours[] = {0x80112233u, 0xFF0000FFu, 0x00FF0000u};
  display.ConvertColorArray(colours, 2);  // the third stays
  EXPECT_EQ(colours[0], 0x80332211u);
  EXPECT_EQ(colours[1], 0xFFFF0000u);
  EXPECT_EQ(colours[2], 0x00FF0000u);
  EXPECT_EQ(display.GetDefaultColour(), 0xFFFFFFFFu);
}

} // namespace
