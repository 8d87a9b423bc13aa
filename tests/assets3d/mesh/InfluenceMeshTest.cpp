// Skinning: bone binding, the rigid bone matrices and the software vertex
// positions of a two-bone arm against hand-computed positions, the frame
// stamps, and records that point past a chunk.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "assets3d/VelmarInfluenceMesh.h"
#include "engine/elthrac/Particle.h"

namespace {

using Vak::GeometryChunk;
using Vak::InfluenceDefinition;
using Vak::Particle;
using Vak::PString;
using Vak::Quaternion;
using Vak::Vector3;

const float kHalfRoot2 = std::sqrt(0.5f);
const Quaternion kQuarterAboutZ{0, 0, kHalfRoot2, kHalfRoot2};

void ExpectNear(const Vector3& a, const Vector3& b, const char* what) {
  EXPECT_NEAR(a.x, b.x, 1e-5f) << what;
  EXPECT_NEAR(a.y, b.y, 1e-5f) << what;
  EXPECT_NEAR(a.z, b.z, 1e-5f) << what;
}

// Two bones: "root" at the origin and "arm" 2 along x from it. Vertex 0
// hangs on the root, vertex 1 on the arm, vertex 2 half on each; the arm
// then turns a quarter about z and the whole moves 5 up.
struct Pose {
  Vector3 rest;
  Vector3 posed;
};
const Pose kPoses[] = {
    {{1, 0, 0}, {1, 0, 5}},
    {{3, 0, 0}, {2, 1, 5}},
    {{1, 1, 0}, {1, 0, 5}},
};

InfluenceDefinition Bone(const char* name, const char* parent, Vector3 position,
                         std::vector<InfluenceDefinition::Entry> entries, uint32_t chunk = 0) {
  InfluenceDefinition bone{PString(name), PString(parent), position, Vak::Matrix3()};
  bone.AddGroup({chunk, std::move(entries)});
  return bone;
}

// Offsets in each bone's space of the rest positions above.
std::vector<InfluenceDefinition> ArmBones() {
  return {Bone("root", "", {0, 0, 0}, {{0, 1, {1, 0, 0}}, {2, 0.5f, {1, 1, 0}}}),
          Bone("arm", "root", {2, 0, 0}, {{1, 1, {1, 0, 0}}, {2, 0.5f, {-1, 1, 0}}})};
}

struct Scene {
  std::unique_ptr<Particle> root = std::make_unique<Particle>(PString("root"));
  Particle* arm = new Particle(PString("arm"));
  Scene() {
    arm->SetPosition(2, 0, 0);
    root->AddChild(arm);
  }
  void Pose() {
    arm->SetOrientation(kQuarterAboutZ);
    root->SetPosition(0, 0, 5);
  }
};

struct Mesh {
  SharedRefArray<GeometryChunk> chunks;
  GeometryChunk* chunk;
  explicit Mesh(unsigned vertices = 3, unsigned indices = 3) {
    Vak::VertexType type;
    type.Add(Vak::kItemPosition);
    chunk = new GeometryChunk(type, vertices, 0, indices, 0, 0, Vak::StandardChunkHint());
    chunks.Set(0, chunk);
    for (unsigned i = 0; i < vertices && i < 3; ++i) Position(i) = kPoses[i].rest;
  }
  Vector3& Position(unsigned v) { return chunk->GetItem<Vector3>(Vak::kItemPosition)[v]; }
};

// Where the arm fixture's vertex v is drawn: the software form's own
// position, or the rigid form's bone matrices blended over the rest position
// as the display would.
Vector3 Drawn(const VelmarInfluenceMesh& skin, Mesh& mesh, bool rigid, unsigned v) {
  if (!rigid) return mesh.Position(v);
  static const float kWeights[3][2] = {{1, 0}, {0, 1}, {0.5f, 0.5f}};
  const auto& b = skin.GetBones();
  return b[0].current.TransformPoint(kPoses[v].rest) * kWeights[v][0] +
         b[1].current.TransformPoint(kPoses[v].rest) * kWeights[v][1];
}

TEST(InfluenceMesh, BindBonesBindsTheRootByNameAndTheRestBelowIt) {
  std::vector<InfluenceDefinition> bones = ArmBones();
  bones.push_back(Bone("ghost", "arm", {0, 0, 0}, {}));
  Mesh mesh;
  VelmarInfluenceMesh skin;
  skin.LoadInfluences(3, bones.data(), false, 1, &mesh.chunks);
  Scene scene;
  skin.BindBones(scene.root.get());
  ASSERT_NE(skin.GetRootBone(), nullptr);
  EXPECT_EQ(skin.GetRootBone()->name, PString("root"));
  EXPECT_EQ(skin.GetRootBone()->particle, scene.root.get());
  EXPECT_EQ(skin.GetBones()[1].particle, scene.arm);
  EXPECT_EQ(skin.GetBones()[2].particle, nullptr);
}

TEST(InfluenceMesh, TwoBonesMoveTheirVerticesInBothForms) {
  for (const bool rigid : {false, true}) {
    SCOPED_TRACE(rigid ? "rigid" : "software");
    std::vector<InfluenceDefinition> bones = ArmBones();
    Mesh mesh;
    VelmarInfluenceMesh skin;
    skin.LoadInfluences(2, bones.data(), rigid, 1, &mesh.chunks);
    Scene scene;
    skin.BindBones(scene.root.get());
    scene.Pose();
    skin.UpdateSkin(1, &mesh.chunks, 1, 0);
    for (unsigned v = 0; v < 3; ++v)
      ExpectNear(Drawn(skin, mesh, rigid, v), kPoses[v].posed, std::to_string(v).c_str());
    if (rigid) ExpectNear(mesh.Position(1), kPoses[1].rest, "rigid positions stay");
  }
}

TEST(InfluenceMesh, AScalingParticleScalesItsOwnBoneUnlessFixed) {
  // The posed arm of kPoses with one bone's particle a scaling one: the
  // scale applies in that bone's space to its own offsets, not to the
  // bones below it.
  struct Case {
    const char* name;
    bool onRoot;
    bool fixed;
    Vector3 scale;
    Vector3 posed[3];
  } cases[] = {
      // Arm offset (1, 0, 0) becomes (2, 0, 0), turned to (0, 2, 0); vertex
      // 2 is half (1, 1, 5) and half (-1, -2, 5) from the arm's (-2, 3, 0).
      {"arm", false, false, {2, 3, 1}, {{1, 0, 5}, {2, 2, 5}, {0, -0.5f, 5}}},
      {"arm, fixed", false, true, {2, 3, 1}, {{1, 0, 5}, {2, 1, 5}, {1, 0, 5}}},
      // The root's offsets double; the arm below keeps its size.
      {"root", true, false, {2, 2, 2}, {{2, 0, 5}, {2, 1, 5}, {1.5f, 0.5f, 5}}},
  };
  for (const Case& c : cases) {
    for (const bool rigid : {false, true}) {
      SCOPED_TRACE(testing::Message() << c.name << (rigid ? ", rigid" : ", software"));
      std::vector<InfluenceDefinition> bones = ArmBones();
      Mesh mesh;
      VelmarInfluenceMesh skin;
      skin.LoadInfluences(2, bones.data(), rigid, 1, &mesh.chunks);
      auto* scaling = new Vak::ScalingParticle(PString(c.onRoot ? "root" : "arm"));
      std::unique_ptr<Particle> root(c.onRoot ? scaling : new Particle(PString("root")));
      Particle* arm = c.onRoot ? new Particle(PString("arm")) : scaling;
      arm->SetPosition(2, 0, 0);
      root->AddChild(arm);
      skin.BindBones(root.get());
      scaling->SetScale(c.scale);
      scaling->SetFixed(c.fixed);
      arm->SetOrientation(kQuarterAboutZ);
      root->SetPosition(0, 0, 5);
      skin.UpdateSkin(1, &mesh.chunks, 1, 0);
      for (unsigned v = 0; v < 3; ++v) ExpectNear(Drawn(skin, mesh, rigid, v), c.posed[v], std::to_string(v).c_str());
    }
  }
}

TEST(InfluenceMesh, BonesWithoutParticlesKeepTheMeshAsItIs) {
  // No particle of either name, and a bone whose parent is missing: each
  // keeps its vertices where the mesh has them.
  std::vector<InfluenceDefinition> bones = ArmBones();
  bones[1].SetParentName(PString("shoulder"));
  for (const bool rigid : {false, true}) {
    SCOPED_TRACE(rigid ? "rigid" : "software");
    Mesh mesh;
    VelmarInfluenceMesh skin;
    skin.LoadInfluences(2, bones.data(), rigid, 1, &mesh.chunks);
    Particle elsewhere{PString("other")};
    skin.BindBones(&elsewhere);
    skin.UpdateSkin(1, &mesh.chunks, 0, 0);
    const auto& b = skin.GetBones();
    for (unsigned v = 0; v < 3; ++v) {
      const Vector3 at =
          rigid ? b[v == 1 ? 1 : 0].current.TransformPoint(kPoses[v].rest) : mesh.Position(v);
      ExpectNear(at, kPoses[v].rest, std::to_string(v).c_str());
    }
  }
}

TEST(InfluenceMesh, AMissingParentHangsBelowTheRoot) {
  std::vector<InfluenceDefinition> bones = ArmBones();
  bones[1].SetParentName(PString("shoulder"));
  Mesh mesh;
  VelmarInfluenceMesh skin;
  skin.LoadInfluences(2, bones.data(), false, 1, &mesh.chunks);
  Particle root{PString("root")};
  skin.BindBones(&root);
  root.SetPosition(0, 0, 5);
  skin.UpdateSkin(1, &mesh.chunks, 0, 0);
  ExpectNear(mesh.Position(1), {3, 0, 5}, "the arm follows the root");
}

TEST(InfluenceMesh, AStampRecomputesOnceAndStampZeroEveryTime) {
  struct Case {
    uint32_t first, second;
    bool again;
  };
  const Case cases[] = {{7, 7, false}, {0, 0, true}, {7, 8, true}, {0, 7, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.first << " then " << c.second);
    std::vector<InfluenceDefinition> bones = ArmBones();
    Mesh mesh;
    VelmarInfluenceMesh skin;
    skin.LoadInfluences(2, bones.data(), false, 1, &mesh.chunks);
    Scene scene;
    skin.BindBones(scene.root.get());
    skin.UpdateSkin(1, &mesh.chunks, c.first, 0);
    ExpectNear(mesh.Position(0), {1, 0, 0}, "first");
    scene.root->SetPosition(0, 0, 5);
    skin.UpdateSkin(1, &mesh.chunks, c.second, 0);
    ExpectNear(mesh.Position(0), {1, 0, c.again ? 5.0f : 0.0f}, "second");
  }
}

TEST(InfluenceMesh, RecordsPastTheChunkAreIgnored) {
  // Record 3 of a 3-vertex chunk, and one of a chunk the level lacks.
  std::vector<InfluenceDefinition> bones = ArmBones();
  bones[0].AddGroup({0, {{3, 1, {9, 9, 9}}}});
  bones[1].AddGroup({5, {{0, 1, {9, 9, 9}}}});
  Mesh mesh;
  uint16_t* indices = mesh.chunk->GetIndices();
  indices[0] = indices[1] = indices[2] = 0xABCD;
  VelmarInfluenceMesh skin;
  skin.LoadInfluences(2, bones.data(), false, 1, &mesh.chunks);
  skin.BindBones(nullptr);
  skin.UpdateSkin(1, &mesh.chunks, 0, 0);
  for (unsigned v = 0; v < 3; ++v) ExpectNear(mesh.Position(v), kPoses[v].rest, std::to_string(v).c_str());
  EXPECT_EQ(indices[0], 0xABCD);
  EXPECT_EQ(indices[2], 0xABCD);
}

TEST(InfluenceMesh, ALevelWithoutInfluencesIsLeftAlone) {
  std::vector<InfluenceDefinition> bones = ArmBones();
  Mesh mesh;
  VelmarInfluenceMesh skin;
  skin.LoadInfluences(2, bones.data(), false, 1, &mesh.chunks);
  skin.BindBones(nullptr);
  skin.UpdateSkin(1, &mesh.chunks, 0, 3);
  for (unsigned v = 0; v < 3; ++v) ExpectNear(mesh.Position(v), kPoses[v].rest, std::to_string(v).c_str());
}

} // namespace
