// Finding particles by name in a bone tree, and what a bone keeps.
#include <gtest/gtest.h>

#include "engine/elthrac/ParticleBone.h"

namespace {

using Vak::Particle;
using Vak::ParticleBone;

TEST(Particle, FindByNameSearchesDepthFirst) {
  auto* root = new ParticleBone("root");
  auto* a = new ParticleBone("a");
  auto* b = new ParticleBone("b");
  auto* underA = new ParticleBone("c");
  auto* underB = new ParticleBone("c");
  root->AddChild(a);
  root->AddChild(b);
  a->AddChild(underA);
  b->AddChild(underB);
  struct Case {
    Particle* from;
    const char* name;
    Particle* found;
  } cases[] = {
      {root, "root", root}, {root, "b", b}, {root, "c", underA}, {b, "c", underB},
      {a, "b", nullptr},    {root, "C", nullptr}, {root, "", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.from->FindByName(c.name), c.found);
  }
  delete root;
}

TEST(ParticleBone, FixesItsFrameAndOwnsItsBox) {
  ParticleBone bone("hip");
  bone.SetPosition({1, 2, 3});
  bone.SetOrientation({0, 0, 1, 0});
  bone.FixFrame();
  bone.SetPosition(0, 0, 0);
  EXPECT_EQ(bone.GetFramePosition(), Vak::Vector3(1, 2, 3));
  EXPECT_EQ(bone.GetFrameOrientation(), Vak::Quaternion(0, 0, 1, 0));
  EXPECT_EQ(bone.GetPosition(), Vak::Vector3(0, 0, 0));
  bone.AttachBoundingBox(new Vak::ParticleVisibleBoundingBox());
  bone.AttachBoundingBox(new Vak::ParticleVisibleBoundingBox());  // the first is deleted
  ASSERT_NE(bone.GetBoundingBox(), nullptr);
  EXPECT_TRUE(bone.Children().empty());
}

} // namespace
