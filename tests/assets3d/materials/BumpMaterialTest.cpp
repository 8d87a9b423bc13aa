// Light gathering and the calls the bump materials make of the display.
#include <cmath>
#include <numbers>

#include "assets3d/materials/VelmarBumpMaterial.h"
#include "assets3d/materials/VelmarMaterialPlugins.h"
#include "tests/assets3d/materials/MaterialTestSupport.h"

namespace {

using namespace materials_test;
using Vak::Colour;
using Vak::Light;

Light Make(int kind, Colour ambient, Colour diffuse) {
  Light light;
  light.kind = kind;
  light.ambient = ambient;
  light.diffuse = diffuse;
  return light;
}

struct GatherCase {
  const char* what;
  std::vector<Light> lights;
  Colour ambient;
  int parallel;  // index in `lights`, -1 for none
  int spot;
};

TEST(BumpMaterial, GathersLights) {
  const Colour none{0, 0, 0, 0};
  const GatherCase cases[] = {
      {"no lights keeps the global ambient", {}, {0.1f, 0.1f, 0.1f, 1}, -1, -1},
      {"two parallel lights use the brighter",
       {Make(3, {0.1f, 0, 0, 0}, {0.2f, 0.2f, 0.2f, 1}), Make(3, {0, 0.1f, 0, 0}, {0.5f, 0.1f, 0.1f, 1})},
       {0.2f, 0.2f, 0.1f, 1},
       1,
       -1},
      {"a tie keeps the first",
       {Make(3, none, {0.3f, 0, 0, 1}), Make(3, none, {0, 0, 0.3f, 1})}, {0.1f, 0.1f, 0.1f, 1}, 0, -1},
      {"spot lights never add to the ambient sum",
       {Make(2, {0.5f, 0.5f, 0.5f, 0}, {0.1f, 0, 0, 1}), Make(2, {0.5f, 0.5f, 0.5f, 0}, {0.9f, 0, 0, 1})},
       {0.1f, 0.1f, 0.1f, 1},
       -1,
       1},
      {"ambient lights add and are never main",
       {Make(0, {0.2f, 0.3f, 0.4f, 0}, {1, 1, 1, 1})}, {0.3f, 0.4f, 0.5f, 1}, -1, -1},
  };
  for (const GatherCase& c : cases) {
    SCOPED_TRACE(c.what);
    Kernel k;
    k.display().SetGlobalAmbient({0.1f, 0.1f, 0.1f, 1});
    Vak::LightList list;
    for (const Light& light : c.lights) list.push_back(&light);
    const Vak::GatheredLights gathered = Vak::GatherLights(k.display(), list);
    EXPECT_NEAR(gathered.ambient.r, c.ambient.r, 1e-6);
    EXPECT_NEAR(gathered.ambient.g, c.ambient.g, 1e-6);
    EXPECT_NEAR(gathered.ambient.b, c.ambient.b, 1e-6);
    EXPECT_EQ(gathered.parallel, c.parallel < 0 ? nullptr : &c.lights[c.parallel]);
    EXPECT_EQ(gathered.spot, c.spot < 0 ? nullptr : &c.lights[c.spot]);
  }
}

// A material made by its plug-in for the kernel; both released at the end.
template <typename Plugin>
struct Made {
  explicit Made(Kernel& k) : plugin(new Plugin()) {
    material = plugin->CreateMaterial(&k.kernel.GetMaterialManager(), &k.kernel);
  }
  ~Made() {
    if (material) material->ReleaseReference();
    plugin->ReleaseReference();
  }
  Plugin* plugin;
  Vak::Material* material;
};

struct Scene {
  Scene() {
    parallel.kind = Light::kParallel;
    parallel.ambient = {0.1f, 0.1f, 0.1f, 0};
    parallel.diffuse = {0.8f, 0.6f, 0.4f, 1};
    parallel.specular = {1, 1, 1, 1};
    parallel.direction = {0, 0, -2};
    spot.kind = Light::kSpot;
    spot.ambient = {0.7f, 0.7f, 0.7f, 0};
    spot.diffuse = {0.5f, 0.5f, 0.5f, 1};
    spot.specular = {0.2f, 0.4f, 0.6f, 1};
    spot.spotAngle = 60;
    spot.radius = 4;
    spot.position = {1, 2, 3};
    spot.direction = {0, 3, 0};
  }
  Light parallel, spot;
};

void Prepare(Vak::Material& material) {
  Vak::DisplayMaterial look = material.GetDisplayMaterialProperties();
  look.specular = {0.5f, 0.5f, 0.5f, 1};
  material.SetDisplayMaterialProperties(look);
}

Calls ParallelPass() {
  const std::string vtx = "SetLocalConstant:VelmarBump_ParallelLight";
  const std::string pix = "SetConstantRegister:VelmarBumpMat_ParallelLight";
  std::vector<double> world = IdentityArgs();
  return {
      {"ClearStageTexture", {0}},
      {"SetStageTexture", {1}},
      {vtx, {7, 0, 0, -1, 0}},
      {pix, {0, 0.8, 0.6, 0.4, 1}},
      {vtx, {13, 0, 0, 0, 0}},
      {pix, {2, 0.5, 0.5, 0.5, 0.75}},
      {pix, {1, 0.1, 0.1, 0.1, 1}},
      {"SetWorldTransform", world},
      {"BeginCombiner:VelmarBumpMat_ParallelLight", {}},
      {"RenderGeometry:VelmarBump_ParallelLight", {0}},
      {"EndCombiner:VelmarBumpMat_ParallelLight", {}},
  };
}

TEST(BumpMaterial, DrawsTheParallelPass) {
  Kernel k;
  Made<Vak::VelmarBumpMaterialPlugin> made(k);
  ASSERT_NE(made.material, nullptr);
  Prepare(*made.material);
  Scene scene;
  Vak::LightList lights{&scene.parallel};
  Vak::GeometryChunk* chunk = made.material->CreateGeometryChunk(3, 0, 3, 1, 0, Vak::StandardChunkHint());
  k.display().ClearCalls();
  made.material->RenderChunk(k.display(), &k.view, *chunk, lights, Vak::Matrix4());
  Calls expected = ParallelPass();
  expected.push_back({"ClearStageTexture", {1}});
  expected.push_back({"ClearStageTexture", {0}});
  ExpectCalls(k.display().GetCalls(), expected);
  chunk->ReleaseReference();
}

TEST(BumpMaterial, AddsTheSpotPassBlendedAndRestoresBlending) {
  Kernel k;
  Made<Vak::VelmarBumpMaterialPlugin> made(k);
  Prepare(*made.material);
  Scene scene;
  Vak::LightList lights{&scene.spot, &scene.parallel};
  Vak::GeometryChunk* chunk = made.material->CreateGeometryChunk(3, 0, 3, 1, 0, Vak::StandardChunkHint());
  k.display().SetAlphaBlendFunction(2, 5);
  k.display().ClearCalls();
  made.material->RenderChunk(k.display(), &k.view, *chunk, lights, Vak::Matrix4());

  const std::string vtx = "SetLocalConstant:VelmarBump_SpotLight";
  const std::string pix = "SetConstantRegister:VelmarBumpMat_ParallelLight";
  const double cosine = std::cos(60 * std::numbers::pi / 180);
  Calls expected = ParallelPass();
  const Calls spot = {
      {"SetAlphaBlendMode", {1}},
      {"SetAlphaBlendFunction", {4, 1}},
      {vtx, {7, 0, 1, 0, 0}},
      {vtx, {13, 0, 0, 0, 0}},
      {vtx, {5, 1, 2, 3, 0}},
      {vtx, {6, cosine, 0.25, 0, 0}},
      {pix, {0, 0.5, 0.5, 0.5, 1}},
      {pix, {1, 0, 0, 0, 1}},
      {pix, {2, 0.1, 0.2, 0.3, 0.75}},
      {"BeginCombiner:VelmarBumpMat_ParallelLight", {}},
      {"RenderGeometry:VelmarBump_SpotLight", {0}},
      {"EndCombiner:VelmarBumpMat_ParallelLight", {}},
      {"SetAlphaBlendMode", {0}},
      {"SetAlphaBlendFunction", {2, 5}},
      {"ClearStageTexture", {1}},
      {"ClearStageTexture", {0}},
  };
  expected.insert(expected.end(), spot.begin(), spot.end());
  ExpectCalls(k.display().GetCalls(), expected);
  chunk->ReleaseReference();
}

TEST(BumpMaterial, SeveralChunksDrawEveryParallelPassBeforeTheSpotPasses) {
  Kernel k;
  Made<Vak::VelmarBumpMaterialPlugin> made(k);
  Scene scene;
  Vak::LightList withSpot{&scene.parallel, &scene.spot};
  Vak::LightList parallelOnly{&scene.parallel};
  Vak::GeometryChunk* chunks[3];
  for (auto*& chunk : chunks) chunk = made.material->CreateGeometryChunk(3, 0, 3, 1, 0, Vak::StandardChunkHint());
  const Vak::LightList* lights[3] = {&withSpot, &parallelOnly, &withSpot};
  const Vak::Matrix4 transforms[3];
  k.display().ClearCalls();
  made.material->RenderNumChunks(k.display(), &k.view, chunks, lights, transforms, 3);
  const std::string parallel = "RenderGeometry:VelmarBump_ParallelLight";
  const std::string spot = "RenderGeometry:VelmarBump_SpotLight";
  ExpectCalls(Named(k.display().GetCalls(), "RenderGeometry"),
              {{parallel, {0}}, {parallel, {0}}, {parallel, {0}}, {spot, {0}}, {spot, {0}}});
  ExpectCalls(Named(k.display().GetCalls(), "SetAlphaBlendFunction"),
              {{"SetAlphaBlendFunction", {4, 1}}, {"SetAlphaBlendFunction", {0, 0}},
               {"SetAlphaBlendFunction", {4, 1}}, {"SetAlphaBlendFunction", {0, 0}}});
  for (auto* chunk : chunks) chunk->ReleaseReference();
}

TEST(BumpMaterial, DrawsNothingWithoutAView) {
  Kernel k;
  Made<Vak::VelmarBumpMaterialPlugin> made(k);
  Scene scene;
  Vak::LightList lights{&scene.parallel, &scene.spot};
  Vak::GeometryChunk* chunk = made.material->CreateGeometryChunk(3, 0, 3, 1, 0, Vak::StandardChunkHint());
  k.display().ClearCalls();
  made.material->RenderChunk(k.display(), nullptr, *chunk, lights, Vak::Matrix4());
  made.material->RenderPrimitives(k.display(), nullptr, *chunk, lights, Vak::Matrix4(), 0, 1);
  Vak::GeometryChunk* const chunks[1] = {chunk};
  const Vak::LightList* const lists[1] = {&lights};
  const Vak::Matrix4 transforms[1];
  made.material->RenderNumChunks(k.display(), nullptr, chunks, lists, transforms, 1);
  EXPECT_TRUE(k.display().GetCalls().empty()) << Describe(k.display().GetCalls());
  chunk->ReleaseReference();
}

TEST(BumpMaterial, PlacesLightsAndCameraInObjectSpace) {
  Kernel k;
  Made<Vak::VelmarBumpMaterialPlugin> made(k);
  Scene scene;
  scene.parallel.direction = {1, 0, 0};
  Vak::LightList lights{&scene.parallel};
  // The chunk sits at x = 10 turned a quarter round z; the camera at y = 5.
  Vak::Matrix4 transform;
  transform.m[0][0] = 0, transform.m[0][1] = -1, transform.m[1][0] = 1, transform.m[1][1] = 0;
  transform.m[0][3] = 10;
  Vak::Matrix4 view;
  view.m[1][3] = -5;
  k.camera.SetViewTransform(view);
  Vak::GeometryChunk* chunk = made.material->CreateGeometryChunk(3, 0, 3, 1, 0, Vak::StandardChunkHint());
  k.display().ClearCalls();
  made.material->RenderChunk(k.display(), &k.view, *chunk, lights, transform);
  const Calls constants = Named(k.display().GetCalls(), "SetLocalConstant");
  ASSERT_EQ(constants.size(), 2u);
  ExpectCalls(constants, {{"SetLocalConstant:VelmarBump_ParallelLight", {7, 0, -1, 0, 0}},
                          {"SetLocalConstant:VelmarBump_ParallelLight", {13, 5, 10, 0, 0}}});
  chunk->ReleaseReference();
}

struct RustCase {
  float rustAge;
  bool glossDrawn;
  double lerp;
};

TEST(BumpGlossMaterial, GlossFadesWithRustAge) {
  const RustCase cases[] = {{0, true, 1}, {0.25f, true, 0.5}, {0.5f, false, 0}, {0.75f, false, 0}, {1, false, 0}};
  for (const RustCase& c : cases) {
    SCOPED_TRACE(c.rustAge);
    Kernel k;
    Made<Vak::VelmarBumpGlossMaterialPlugin> made(k);
    ASSERT_NE(made.material, nullptr);
    Scene scene;
    Vak::LightList lights{&scene.parallel, &scene.spot};
    Vak::GeometryChunk* chunk = made.material->CreateGeometryChunk(3, 0, 3, 1, 0, Vak::StandardChunkHint());
    ASSERT_TRUE(chunk->SetChunkProperty(Vak::VelmarBumpGlossMaterial::RustAge(), c.rustAge));
    Vak::DisplayMaterial look = made.material->GetDisplayMaterialProperties();
    look.ambient = {0.2f, 0.3f, 0.4f, 1};
    made.material->SetDisplayMaterialProperties(look);
    k.display().ClearCalls();
    made.material->RenderChunk(k.display(), &k.view, *chunk, lights, Vak::Matrix4());
    const Calls& calls = k.display().GetCalls();
    const Calls draws = Named(calls, "RenderGeometry");
    if (c.glossDrawn) {
      ExpectCalls(draws, {{"RenderGeometry:VelmarBumpGloss_ParallelLight", {0}},
                          {"RenderGeometry:VelmarBumpGloss_SpotLight", {0}}});
      ExpectCalls(Named(calls, "SetAlphaBlendFunction"), {{"SetAlphaBlendFunction", {1, 1}},
                                                          {"SetAlphaBlendFunction", {0, 0}}});
      const Calls lerp = Named(calls, "SetConstantRegister:VelmarBumpGlossMat_ParallelLight");
      ASSERT_FALSE(lerp.empty());
      ExpectCalls({lerp.front()}, {{lerp.front().name, {2, c.lerp, c.lerp, c.lerp, c.lerp}}});
    } else {
      EXPECT_TRUE(draws.empty()) << Describe(calls);
    }
    // The ambient colour is (1,1,1,1) only while drawing.
    EXPECT_EQ(made.material->GetDisplayMaterialProperties().ambient, look.ambient);
    chunk->ReleaseReference();
  }
}

TEST(BumpEnvMaterial, EnvironmentMatrix) {
  Kernel k;
  Made<Vak::VelmarBumpEnvMaterialPlugin> made(k);
  ASSERT_NE(made.material, nullptr);
  auto& env = static_cast<Vak::VelmarBumpEnvMaterial&>(*made.material);
  const float rows[4][4] = {{1, 0, 0, 0}, {0, 0, 1, 0}, {0, -1, 0, 0}, {0, 0, 0, 1}};
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_EQ(env.GetEnvironmentMatrix().m[r][c], rows[r][c]) << r << "," << c;

  // The view turns a quarter round z and moves; the stage-1 transform is
  // its rotation transposed, then the environment matrix.
  Vak::Matrix4 view;
  view.m[0][0] = 0, view.m[0][1] = -1, view.m[1][0] = 1, view.m[1][1] = 0;
  view.m[0][3] = 7;
  k.camera.SetViewTransform(view);
  Scene scene;
  Vak::LightList lights{&scene.parallel};
  Vak::GeometryChunk* chunk = made.material->CreateGeometryChunk(3, 0, 3, 1, 0, Vak::StandardChunkHint());
  k.display().ClearCalls();
  made.material->RenderChunk(k.display(), &k.view, *chunk, lights, Vak::Matrix4());
  // (transposed rotation) x environment, worked by hand.
  const std::vector<double> expected{0, 0, 1, 0, -1, 0, 0, 0, 0, -1, 0, 0, 0, 0, 0, 1};
  std::vector<double> args{1};
  args.insert(args.end(), expected.begin(), expected.end());
  ExpectCalls(Named(k.display().GetCalls(), "SetTextureTransform"), {{"SetTextureTransform", args}});
  ExpectCalls(Named(k.display().GetCalls(), "SetDefaultStageTexture"), {{"SetDefaultStageTexture", {3}}});
  chunk->ReleaseReference();
}

} // namespace
