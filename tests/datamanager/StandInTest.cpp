// The render and 3-D core stand-ins, as far as the data manager leans on
// them: ownership of particles, scenes and counted references.
#include <gtest/gtest.h>

#include "engine/dorvix/RenderKernel.h"
#include "engine/elthrac/Particle.h"

namespace {

// Counts its destruction.
class Probe : public Vak::Particle {
public:
  explicit Probe(int& deleted) : deleted_(deleted) {}
  ~Probe() override { ++deleted_; }

private:
  int& deleted_;
};

TEST(StandIns, ParticlesOwnTheirChildrenAndLeaveTheirParent) {
  int deleted = 0;
  auto* root = new Vak::Particle();
  auto* other = new Vak::Particle();
  auto* child = new Probe(deleted);
  root->AddChild(child);
  other->AddChild(child);  // moves
  EXPECT_TRUE(root->Children().empty());
  EXPECT_EQ(child->Parent(), other);
  delete child;  // leaves its parent
  EXPECT_TRUE(other->Children().empty());
  other->AddChild(new Probe(deleted));
  other->AddChild(new Probe(deleted));
  delete other;
  EXPECT_EQ(deleted, 3);
  delete root;
}

TEST(StandIns, SceneGraphLinksAndPurges) {
  int deleted = 0;
  Vak::SceneGraph first;
  Vak::SceneGraph second;
  auto* scene = new Probe(deleted);
  first.AddScene(scene);
  first.AddScene(scene);
  EXPECT_EQ(first.SceneCount(), 1u);
  second.AddScene(scene);  // an element is a scene of one graph
  EXPECT_FALSE(first.Contains(scene));
  EXPECT_TRUE(second.Contains(scene));
  EXPECT_FALSE(first.Unlink(scene));
  second.QueueDeletion(scene);
  EXPECT_FALSE(second.Contains(scene));
  EXPECT_EQ(deleted, 0);
  second.PurgeDeleted();
  EXPECT_EQ(deleted, 1);
  // A scene deleted while linked leaves the graph.
  auto* linked = new Probe(deleted);
  first.AddScene(linked);
  delete linked;
  EXPECT_EQ(first.SceneCount(), 0u);
}

TEST(StandIns, KernelReferencesAndLookups) {
  Vak::RenderKernel kernel(nullptr, 8.0f);
  EXPECT_EQ(kernel.GetSharedTextureCollection().Get(0), nullptr);
  ASSERT_TRUE(kernel.Init(nullptr, 0));
  Vak::Texture* texture = kernel.GetSharedTextureCollection().Get(0);
  ASSERT_NE(texture, nullptr);
  Vak::Material* material = nullptr;
  ASSERT_EQ(kernel.GetMaterialManager().Load("Lib.m.notex", material), Vak::MaterialManager::kOk);
  EXPECT_STREQ(material->GetName().c_str(), "Lib.m.notex");
  EXPECT_TRUE(material->BindTexture(9, texture));
  EXPECT_FALSE(material->BindTexture(Vak::Material::kTextureSlots, texture));
  EXPECT_EQ(texture->ReferenceCountValue(), 3);
  material->ReleaseReference();
  EXPECT_EQ(texture->ReferenceCountValue(), 2);
  texture->ReleaseReference();
  // Without a database no texture is found by name.
  EXPECT_EQ(kernel.GetTextureCollection().Find("a.texture", nullptr), nullptr);
}

} // namespace
