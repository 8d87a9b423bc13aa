// Attachment points: their two sub-names, how a structure takes them, and
// the turn from a global pose into a parent's frame.
#include <gtest/gtest.h>

#include <cmath>

#include "engine/elthrac/ParticleBone.h"
#include "engine/elthrac/ParticleStructure.h"

namespace {

using Vak::AttachmentPoint;
using Vak::ParticleBone;
using Vak::ParticleStructure;
using Vak::PString;
using Vak::Quaternion;
using Vak::Vector3;

TEST(AttachmentPoint, SubNames) {
  struct Case {
    const char* full;
    const char* name;
    const char* bone;  // null: no bone name
  } cases[] = {
      {"a.door", "a.door", nullptr},  {"a.lamp@head", "a.lamp", "head"}, {"a.x@", "a.x", nullptr},
      {"@hip", "", "hip"},            {"a@b@c", "a", "b@c"},             {"", "", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.full);
    PString name, bone;
    AttachmentPoint::GetSubNames(c.full, name, bone);
    EXPECT_STREQ(name.c_str(), c.name);
    if (c.bone) EXPECT_STREQ(bone.c_str(), c.bone);
    else EXPECT_TRUE(bone.IsNull());
  }
}

TEST(ParticleStructure, TakesPointsBelowItselfOrTheirBone) {
  struct Case {
    const char* bone;  // the point's bone name
    int toBone;
    bool taken;
    const char* parent;  // where a taken point hangs
  } cases[] = {
      {nullptr, 0, true, "mesh"}, {"head", 0, true, "mesh"},   {"head", 1, true, "head"},
      {"hip", 1, true, "hip"},    {"tail", 1, false, nullptr}, {nullptr, 1, false, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.bone ? c.bone : "(none)") << " " << c.toBone);
    ParticleStructure structure("mesh");
    auto* hip = new ParticleBone("hip");
    hip->AddChild(new ParticleBone("head"));
    structure.AddChild(hip);
    auto* point = new AttachmentPoint("a.p", c.bone ? PString(c.bone) : PString());
    EXPECT_EQ(structure.AddAttachmentPoint(point, c.toBone), c.taken);
    if (!c.taken) {
      EXPECT_EQ(point->Parent(), nullptr);
      EXPECT_TRUE(structure.AttachmentPoints().empty());
      delete point;
      continue;
    }
    ASSERT_NE(point->Parent(), nullptr);
    EXPECT_STREQ(point->Parent()->GetName().c_str(), c.parent);
    EXPECT_EQ(structure.FindAttachmentPoint("a.p"), point);
  }
}

TEST(ParticleStructure, ADeletedPointLeavesItsList) {
  ParticleStructure structure;
  auto* bone = new ParticleBone("b");
  structure.AddChild(bone);
  auto* point = new AttachmentPoint("a.p", "b");
  ASSERT_TRUE(structure.AddAttachmentPoint(point, 1));
  delete bone;  // takes the point with it
  EXPECT_TRUE(structure.AttachmentPoints().empty());
  EXPECT_EQ(structure.FindAttachmentPoint("a.p"), nullptr);
}

void ExpectNear(const Vector3& got, const Vector3& want) {
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(got[k], want[k], 1e-5f) << k;
}

TEST(Particle, GlobalToLocalUndoesEveryAncestor) {
  const float h = std::sqrt(0.5f);
  const Quaternion quarterZ(0, 0, h, h);  // +90 degrees about z
  ParticleStructure top("top");
  top.SetPosition({10, 0, 0});
  auto* bone = new ParticleBone("bone");
  bone->SetPosition({0, 2, 0});
  bone->SetOrientation(quarterZ);
  top.AddChild(bone);
  auto* point = new AttachmentPoint("a.p", PString());
  bone->AddChild(point);

  // Global (11, 2, 0) is one along x from the bone at (10, 2, 0); in the
  // bone's turned frame that is one along -y.
  Vector3 position(11, 2, 0);
  Quaternion orientation = quarterZ;
  point->GlobalToLocal(position, orientation);
  ExpectNear(position, {0, -1, 0});
  EXPECT_NEAR(orientation.w, 1.0f, 1e-6f);
  EXPECT_NEAR(orientation.z, 0.0f, 1e-6f);

  // A particle without a parent keeps the pose.
  AttachmentPoint alone("a.q", PString());
  position = {1, 2, 3};
  orientation = quarterZ;
  alone.GlobalToLocal(position, orientation);
  EXPECT_EQ(position, Vector3(1, 2, 3));
  EXPECT_EQ(orientation, quarterZ);
}

} // namespace
