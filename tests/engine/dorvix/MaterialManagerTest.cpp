// The manager's answers, decorated names, and what a material keeps.
#include <gtest/gtest.h>

#include "engine/dorvix/Material.h"
#include "engine/dorvix/MaterialManager.h"

namespace {

using Vak::MaterialManager;

struct AnswerCase {
  const char* name;
  MaterialManager::Result result;
};

TEST(MaterialManager, AnswersAsSet) {
  MaterialManager manager;
  manager.SetAnswer("o*f*missing.m", MaterialManager::kNotFound);
  manager.SetAnswer("o*f*broken.m", MaterialManager::kFailed);
  const AnswerCase cases[] = {
      {"o*f*brick.m", MaterialManager::kOk},
      {"o*f*missing.m", MaterialManager::kNotFound},
      {"o*f*broken.m", MaterialManager::kFailed},
      {"", MaterialManager::kNotFound},
  };
  for (const AnswerCase& c : cases) {
    SCOPED_TRACE(c.name);
    Vak::Material* material = reinterpret_cast<Vak::Material*>(1);
    EXPECT_EQ(manager.Load(c.name, material), c.result);
    if (c.result == MaterialManager::kOk) {
      ASSERT_NE(material, nullptr);
      EXPECT_STREQ(material->GetName().c_str(), c.name);
      EXPECT_EQ(material->ReferenceCountValue(), 1);
      material->ReleaseReference();
    } else {
      EXPECT_EQ(material, nullptr);
    }
  }
  ASSERT_EQ(manager.Requested().size(), 4u);
  EXPECT_STREQ(manager.Requested()[1].c_str(), "o*f*missing.m");

  manager.SetDefaultAnswer(MaterialManager::kFailed);
  Vak::Material* material = nullptr;
  EXPECT_EQ(manager.Load("o*f*other.m", material), MaterialManager::kFailed);
  EXPECT_EQ(manager.Load("o*f*brick.m", material), MaterialManager::kFailed);
  manager.SetAnswer("o*f*brick.m", MaterialManager::kOk);
  EXPECT_EQ(manager.Load("o*f*brick.m", material), MaterialManager::kOk);
  material->ReleaseReference();
  EXPECT_STREQ(manager.GetFallbackPart().c_str(), "default.m.notex");
}

struct SplitCase {
  const char* decorated;
  const char* decoration;
  const char* material;
  bool decoratedName;
};

TEST(MaterialManager, SplitDecoratedMaterialName) {
  const SplitCase cases[] = {
      {"owner*folder*brick.m.tbumptex", "owner*folder*", "brick.m.tbumptex", true},
      {"*file*1a*m.notex*", "*file*1a*", "m.notex", true},
      {"owner**brick", "owner**", "brick", true},
      {"plain.m.notex", "", "plain.m.notex", false},
      {"plain*", "", "plain", false},
      {"", "", "", false},
      {nullptr, "", "", false},
  };
  for (const SplitCase& c : cases) {
    SCOPED_TRACE(c.decorated ? c.decorated : "(null)");
    Vak::PString decoration = "x", material = "y";
    EXPECT_EQ(MaterialManager::SplitDecoratedMaterialName(c.decorated, decoration, material), c.decoratedName);
    EXPECT_STREQ(decoration.c_str(), c.decoration);
    EXPECT_STREQ(material.c_str(), c.material);
  }
}

TEST(Material, VerifyDecoratedName) {
  const char* both[] = {"a.texture", "b.texture"};
  const char* oneEmpty[] = {"a.texture", ""};
  EXPECT_STREQ(Vak::Material::DecoratedTypeToken(), "*");
  EXPECT_TRUE(Vak::Material::VerifyDecoratedName("o*f*m.notex", 0, nullptr));
  EXPECT_TRUE(Vak::Material::VerifyDecoratedName("o*f*m.notex", 2, both));
  EXPECT_FALSE(Vak::Material::VerifyDecoratedName("o*f*m.notex", 2, oneEmpty));
  EXPECT_FALSE(Vak::Material::VerifyDecoratedName("o*f*m.notex", 1, nullptr));
  EXPECT_FALSE(Vak::Material::VerifyDecoratedName("m.notex", 0, nullptr));
  EXPECT_FALSE(Vak::Material::VerifyDecoratedName(nullptr, 0, nullptr));
}

TEST(Material, KeepsWhatIsSet) {
  Vak::NullMaterial material("o*f*m.notex");
  EXPECT_EQ(material.GetValue(), 1.0f);
  EXPECT_EQ(material.GetFlags(), 0u);
  EXPECT_EQ(material.GetDisplayMaterialProperties(), Vak::DisplayMaterial());
  Vak::DisplayMaterial lit;
  lit.specular = {0.5f, 0.5f, 0.5f, 1};
  lit.power = 10;
  material.SetDisplayMaterialProperties(lit);
  material.AddProperty("b", "2");
  material.AddProperty("a", "1");
  material.SetCreationType("m.notex");
  material.SetRequestName("o*f*first.m");
  material.SetResourcePriority(3.5f);
  EXPECT_EQ(material.GetDisplayMaterialProperties(), lit);
  ASSERT_EQ(material.GetNumProperties(), 2u);
  EXPECT_STREQ(material.GetPropertyName(0).c_str(), "b");
  EXPECT_STREQ(material.GetPropertyValue(1).c_str(), "1");
  EXPECT_STREQ(material.GetCreationType().c_str(), "m.notex");
  EXPECT_STREQ(material.GetRequestName().c_str(), "o*f*first.m");
  EXPECT_EQ(material.GetResourcePriority(), 3.5f);
}

} // namespace
