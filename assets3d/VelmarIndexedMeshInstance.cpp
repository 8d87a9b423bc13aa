#include "assets3d/VelmarIndexedMeshInstance.h"

#include <algorithm>
#include <cmath>

#include "assets3d/VLAxisBoxTree.h"
#include "assets3d/VelmarGeometryBaseResource.h"
#include "assets3d/VelmarIndexedMeshDefinition.h"
#include "assets3d/VelmarInfluenceMesh.h"
#include "assets3d/VelmarProgressiveMeshDefinition.h"
#include "engine/dorvix/Display.h"
#include "engine/dorvix/RenderKernel.h"
#include "engine/elthrac/Light.h"
#include "engine/elthrac/ParallelLight.h"
#include "engine/elthrac/ParticleBone.h"
#include "engine/elthrac/ViewPoint.h"
#include "engine/kernelx/Bitmap.h"

using Vak::GeometryChunk;
using Vak::Material;
using Vak::Matrix4;
using Vak::Vector3;

namespace {

// Material flag bit 0: the material draws both faces.
constexpr uint32_t kTwoSidedMaterial = 0x1;

// Whether a ray (unit direction) meets the box at all, ahead of its point.
bool RayMeetsBox(const Vak::OrientedBox& box, const Vak::Ray& ray) {
  const Vector3 towards = ray.point - box.Centre();
  float nearest = 0.0f, farthest = 3.4028235e38f;
  for (int k = 0; k < 3; ++k) {
    const Vector3& axis = box.Axis(k);
    const float start = axis.Dot(towards), step = axis.Dot(ray.direction), half = box.Extents()[k];
    if (std::fabs(step) < 1e-12f) {
      if (std::fabs(start) > half) return false;
      continue;
    }
    float t0 = (-half - start) / step, t1 = (half - start) / step;
    if (t0 > t1) std::swap(t0, t1);
    nearest = std::max(nearest, t0);
    farthest = std::min(farthest, t1);
    if (nearest > farthest) return false;
  }
  return true;
}

Matrix4 ScaleMatrix(const Vector3& scale) {
  Matrix4 m;
  m.m[0][0] = scale.x;
  m.m[1][1] = scale.y;
  m.m[2][2] = scale.z;
  return m;
}

template <class T>
SharedRefArray<T>* CopyArray(const SharedRefArray<T>& from, unsigned count) {
  auto* copy = new SharedRefArray<T>;
  copy->Resize(count);
  for (unsigned i = 0; i < count; ++i) {
    T* item = from.Get(i);
    if (item) item->AddReference();
    copy->Set(i, item);
  }
  return copy;
}

} // namespace

VelmarIndexedMeshInstance::VelmarIndexedMeshInstance(Vak::RenderKernel* kernel, VelmarGeometryBaseResource* resource)
    : kernel_(kernel) {
  SetResource(resource);
}

VelmarIndexedMeshInstance::~VelmarIndexedMeshInstance() {
  SetResource(nullptr);
  if (chunks_) {
    for (unsigned i = 0; i < chunks_->Count(); ++i)
      if (GeometryChunk* chunk = chunks_->Get(i); chunk && chunk->GetOwner() == this) chunk->SetOwner(nullptr);
    chunks_->ReleaseReference();
  }
  if (materials_) materials_->ReleaseReference();
  boneParticles_.clear();  // children: deleted with the particle
}

void VelmarIndexedMeshInstance::SetResource(VelmarGeometryBaseResource* resource) {
  // The new one is taken first: it may be the old one, held by this alone.
  if (resource) {
    resource->AddHold();
    resource->Lock();
  }
  if (resource_) {
    resource_->Unlock();
    resource_->ReleaseHold();
  }
  resource_ = resource;
}

// --- Set-up ----------------------------------------------------------------------

void VelmarIndexedMeshInstance::InitFromDefinition(const VelmarIndexedMeshDefinition& definition) {
  ShareArrays(static_cast<unsigned>(std::max(definition.GetChunkCount(), 0)), definition.GetChunks(),
              definition.GetMaterials());
  TakeDefinitionData(definition);
  MakeDynamicChunksOwn();
}

void VelmarIndexedMeshInstance::ShareArrays(unsigned count, SharedRefArray<GeometryChunk>* chunks,
                                            SharedRefArray<Material>* materials) {
  chunkCount_ = count;
  chunks->AddReference();
  materials->AddReference();
  if (chunks_) chunks_->ReleaseReference();
  if (materials_) materials_->ReleaseReference();
  chunks_ = chunks;
  materials_ = materials;
}

void VelmarIndexedMeshInstance::TakeDefinitionData(const VelmarIndexedMeshDefinition& definition) {
  boundsMin_ = definition.GetBoundsMin();
  boundsMax_ = definition.GetBoundsMax();
  boxOf_ = &definition;
  meshName_ = definition.GetFileName();
  while (!ReferencePoints().empty()) delete ReferencePoints().back();
  for (const VelmarIndexedMeshDefinition::AttachmentPoint& entry : definition.GetAttachmentPoints()) {
    const char first = entry.name.c_str()[0];
    if (first != 'p' && first != 'P') continue;
    Vak::PString name, bone;
    Vak::ReferencePoint::GetSubNames(entry.name, name, bone);
    Vak::Quaternion orientation;
    orientation.Set(Vak::Matrix3::FromFloats(entry.matrix));
    const Vector3 position(entry.position[0], entry.position[1], entry.position[2]);
    AddReferencePoint(new Vak::ReferencePoint(name, bone, position, orientation), 0);
  }
  SetName(meshName_);
  UpdateBoundingVolume();
}

GeometryChunk* VelmarIndexedMeshInstance::DuplicateForInstance(const GeometryChunk& chunk) const {
  GeometryChunk* copy = chunk.CreateInstance();
  if (chunk.GetFlags() & kDynamicChunk) copy->DuplicateUnsharedArrays(kernel_ ? &kernel_->GetDisplay() : nullptr);
  return copy;
}

void VelmarIndexedMeshInstance::MakeDynamicChunksOwn() {
  bool madePrivate = false;
  for (unsigned i = 0; i < chunks_->Count(); ++i) {
    const GeometryChunk* chunk = chunks_->Get(i);
    if (chunk == nullptr || !(chunk->GetFlags() & kDynamicChunk)) continue;
    if (!madePrivate) {
      MakeChunksPrivate();
      madePrivate = true;
    }
    chunks_->Set(i, DuplicateForInstance(*chunks_->Get(i)));
  }
}

void VelmarIndexedMeshInstance::CompleteCreation(const VelmarIndexedMeshDefinition& definition) {
  CreateSkeleton(definition);
  definition.AddAttachmentPoints(*this);
}

void VelmarIndexedMeshInstance::CreateSkeleton(const VelmarIndexedMeshDefinition& definition) {
  const Vak::ParticleBone* bones = definition.GetRootBone();
  if (bones == nullptr) return;
  Vak::Particle* root = bones->Clone();
  if (root == nullptr) return;
  AddChild(root);
  boneParticles_ = VelmarInfluenceMesh::FindChunkBones(definition.GetChunkNames(), chunkCount_, root);
}

// --- Copy on write ---------------------------------------------------------------

void VelmarIndexedMeshInstance::MakeChunksPrivate() {
  SharedRefArray<GeometryChunk>* own = CopyArray(*chunks_, chunks_->Count());
  chunks_->ReleaseReference();
  chunks_ = own;
}

void VelmarIndexedMeshInstance::MakeMaterialsPrivate() {
  SharedRefArray<Material>* own = CopyArray(*materials_, materials_->Count());
  materials_->ReleaseReference();
  materials_ = own;
}

void VelmarIndexedMeshInstance::DuplicateChunk(unsigned index) {
  if (chunks_ == nullptr || index >= chunkCount_ || chunks_->Get(index) == nullptr) return;
  if (!IsPrivate(chunks_)) MakeChunksPrivate();
  // The duplicate is for changing: its arrays are its own.
  GeometryChunk* copy = DuplicateForInstance(*chunks_->Get(index));
  Vak::Display* display = kernel_ ? &kernel_->GetDisplay() : nullptr;
  copy->DuplicateVertexArray(0, display);
  copy->DuplicateIndexArray(display);
  chunks_->Set(index, copy);
}

void VelmarIndexedMeshInstance::DuplicateMaterial(unsigned index) {
  if (materials_ == nullptr || index >= chunkCount_ || materials_->Get(index) == nullptr) return;
  Material* copy = materials_->Get(index)->Duplicate();
  if (copy == nullptr) return;
  if (!IsPrivate(materials_)) MakeMaterialsPrivate();
  materials_->Set(index, copy);
}

bool VelmarIndexedMeshInstance::OwnedElsewhere(const GeometryChunk& chunk, const void* self) {
  return chunk.GetOwner() != nullptr && chunk.GetOwner() != self;
}

bool VelmarIndexedMeshInstance::AddChunk(GeometryChunk* chunk, Material* material) {
  if (chunk == nullptr || chunks_ == nullptr || materials_ == nullptr) return false;
  if ((chunk->GetFlags() & kPaletteChunk) || OwnedElsewhere(*chunk, this)) return false;
  GeometryChunk* added = nullptr;
  if (chunk->GetFlags() & kDynamicChunk) {
    added = DuplicateForInstance(*chunk);
  } else {
    chunk->AddReference();
    added = chunk;
  }
  AppendChunkEntry(added, material);
  return true;
}

void VelmarIndexedMeshInstance::AppendChunkEntry(GeometryChunk* added, Material* material) {
  added->SetOwner(this);
  SharedRefArray<GeometryChunk>* chunks = CopyArray(*chunks_, chunkCount_);
  SharedRefArray<Material>* materials = CopyArray(*materials_, chunkCount_);
  chunks->Set(chunkCount_, added);
  if (material) material->AddReference();
  materials->Set(chunkCount_, material);
  chunks_->ReleaseReference();
  materials_->ReleaseReference();
  chunks_ = chunks;
  materials_ = materials;
  ++chunkCount_;
}

bool VelmarIndexedMeshInstance::MergeChunk(GeometryChunk* chunk, unsigned index) {
  if (chunk == nullptr || (chunk->GetFlags() & kPaletteChunk)) return false;
  GeometryChunk* merged = MergedChunk(*chunk, index);
  if (merged == nullptr) return false;
  if (!IsPrivate(chunks_)) MakeChunksPrivate();
  chunks_->Set(index, merged);
  return true;
}

GeometryChunk* VelmarIndexedMeshInstance::MergedChunk(const GeometryChunk& chunk, unsigned index) const {
  if (chunks_ == nullptr || index >= chunkCount_ || OwnedElsewhere(chunk, this)) return nullptr;
  const GeometryChunk* target = chunks_->Get(index);
  if (target == nullptr || !(target->GetFlags() & kTriangleListChunk)) return nullptr;
  const Material* material = materials_ ? materials_->Get(index) : nullptr;
  if (target->GetNumPasses() != 1 || chunk.GetNumPasses() != 1 || (material && material->GetNumPasses() != 1))
    return nullptr;
  if (!(target->GetVertexType() == chunk.GetVertexType())) return nullptr;
  GeometryChunk* merged = target->CreateInstance();
  if (!merged->AppendChunk(chunk, kernel_ ? &kernel_->GetDisplay() : nullptr)) {
    merged->ReleaseReference();
    return nullptr;
  }
  return merged;
}

// --- Copies ----------------------------------------------------------------------

Vak::Particle* VelmarIndexedMeshInstance::Clone() const {
  auto* copy = new VelmarIndexedMeshInstance(kernel_, resource_);
  copy->CopyInstance(*this);
  return copy;
}

void VelmarIndexedMeshInstance::CopyInstance(const VelmarIndexedMeshInstance& from) {
  CopyParticleState(from);
  CopyGeometryState(from);
  CopyLightTargetState(from);
  ShareArrays(from.chunkCount_, from.chunks_, from.materials_);
  opacity_ = from.opacity_;
  scale_ = from.scale_;
  boundsMin_ = from.boundsMin_;
  boundsMax_ = from.boundsMax_;
  boxOf_ = from.boxOf_;
  meshName_ = from.meshName_;
  mipBias_ = from.mipBias_;
  UpdateBoundingVolume();
  MakeDynamicChunksOwn();
}

// --- Scale and bounds ------------------------------------------------------------

void VelmarIndexedMeshInstance::SetScale(const Vector3& scale) {
  scale_ = scale;
  UpdateBoundingVolume();
}

const Vak::OrientedBox& VelmarIndexedMeshInstance::Box() const {
  static const Vak::OrientedBox none;
  return boxOf_ ? boxOf_->GetBounds() : none;
}

void VelmarIndexedMeshInstance::UpdateBoundingVolume() {
  Vak::OrientedBox volume;
  if (!IsScaled()) {
    const Vector3 axes[3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    volume.Set((boundsMin_ + boundsMax_) * 0.5f, axes, (boundsMax_ - boundsMin_) * 0.5f);
  } else {
    const Vak::OrientedBox& box = Box();
    const Vector3 axes[3] = {box.Axis(0), box.Axis(1), box.Axis(2)};
    const Vector3& e = box.Extents();
    volume.Set((boundsMin_ + boundsMax_) * 0.5f, axes, {e.x * scale_.x, e.y * scale_.y, e.z * scale_.z});
  }
  SetBoundingVolume(volume);
}

// --- Queries ---------------------------------------------------------------------

int VelmarIndexedMeshInstance::GetPrimitiveCount() const {
  int total = 0;
  if (chunks_ == nullptr) return 0;
  for (unsigned i = 0; i < chunkCount_; ++i)
    if (const GeometryChunk* chunk = chunks_->Get(i)) total += static_cast<int>(chunk->GetPrimitiveCount());
  return total;
}

void VelmarIndexedMeshInstance::ProjectVertices(const Matrix4& matrix, const Vector3& offset,
                                                const ProjectionSink& sink) const {
  if (chunks_ == nullptr) return;
  const Vak::Matrix3 rotation = matrix.Rotation();
  for (unsigned i = 0; i < chunkCount_; ++i) {
    const GeometryChunk* chunk = chunks_->Get(i);
    if (chunk == nullptr) continue;
    const auto positions = chunk->GetItem<Vector3>(Vak::kItemPosition);
    if (!positions) continue;
    for (unsigned v = 0; v < chunk->GetVertexCount(); ++v) {
      const Vector3 p = rotation * positions[v];
      sink(p.x + offset.x, p.y + offset.y);
    }
  }
}

bool VelmarIndexedMeshInstance::SetTextureFromFile(int first, int second, unsigned material, unsigned texture,
                                                   const char* file) {
  Vak::Bitmap bitmap;
  if (file == nullptr || !bitmap.Load(file)) return false;
  return SetTextureFromBitmap(first, second, material, texture, bitmap);
}

bool VelmarIndexedMeshInstance::SetTextureFromBitmap(int first, int second, unsigned material, unsigned texture,
                                                     const Vak::Bitmap& bitmap) {
  Material* m = materials_ ? materials_->Get(material) : nullptr;
  Vak::Texture* target = m ? m->GetTexture(texture) : nullptr;
  if (target == nullptr) return false;
  Vak::DisplayFormat format;
  switch (static_cast<int>(bitmap.GetFormat())) {
  case 1: format = Vak::DisplayFormat::kCompressed; break;
  case 2: format = Vak::DisplayFormat::kARGB8888; break;
  case 3: format = Vak::DisplayFormat::kXRGB8888; break;
  case 4: format = Vak::DisplayFormat::kRGB565; break;
  default: return false;
  }
  return target->SetFromBitmap(first, second, bitmap, format);
}

void VelmarIndexedMeshInstance::SetOpacity(float opacity) {
  opacity_ = opacity;
  Vak::Display* display = kernel_ ? &kernel_->GetDisplay() : nullptr;
  if (chunks_)
    for (unsigned i = 0; i < chunkCount_; ++i)
      if (GeometryChunk* chunk = chunks_->Get(i)) chunk->SetOpacity(opacity, display);
  Particle::SetOpacity(opacity);
}

bool VelmarIndexedMeshInstance::UpdateLighting(bool force) {
  if (!force && !NeedsLightingUpdate()) return false;
  SetNeedsLightingUpdate(false);
  return true;
}

// --- Cull and draw ---------------------------------------------------------------

void VelmarIndexedMeshInstance::Cull(Vak::ViewPoint& viewPoint, const Matrix4& parent) {
  Particle::Cull(viewPoint, parent);
  if (GetLastCulledFrame() != viewPoint.GetCurrentFrame() || opacity_ <= 0.0f) return;
  const int mip = viewPoint.CalcWantedMipLevelsForCull(GetCulledTransform(), mipBias_);
  if (materials_)
    for (unsigned i = 0; i < chunkCount_; ++i)
      if (Material* material = materials_->Get(i)) material->Activate(mip);
  viewPoint.AddInstance(this, GetCulledTransform());
  StoreMatrix(&viewPoint, GetCulledTransform());
}

void VelmarIndexedMeshInstance::Render(Vak::ViewPoint& viewPoint, Vak::Display& display, const Matrix4& transform) {
  RenderChunks(viewPoint, display, transform, chunkCount_, chunks_, materials_, boneParticles_);
}

void VelmarIndexedMeshInstance::RenderChunks(Vak::ViewPoint& viewPoint, Vak::Display& display,
                                             const Matrix4& transform, unsigned count,
                                             SharedRefArray<GeometryChunk>* chunks,
                                             SharedRefArray<Material>* materials,
                                             const std::vector<Vak::Particle*>& bones) {
  const Matrix4 placed = IsScaled() ? transform * ScaleMatrix(scale_) : transform;
  UpdateLighting(false);
  if (chunks == nullptr) return;
  for (unsigned i = 0; i < count; ++i) {
    GeometryChunk* chunk = chunks->Get(i);
    Material* material = materials ? materials->Get(i) : nullptr;
    if (bones.empty()) {
      RenderOneChunk(display, chunk, material, placed);
      continue;
    }
    // A skinned-by-bone chunk follows its bone, when that was culled now.
    const Vak::Particle* bone = i < bones.size() ? bones[i] : nullptr;
    if (bone == nullptr || bone->GetLastCulledFrame() != viewPoint.GetCurrentFrame()) continue;
    RenderOneChunk(display, chunk, material, bone->GetCulledTransform());
  }
}

void VelmarIndexedMeshInstance::RenderOneChunk(Vak::Display& display, GeometryChunk* chunk, Material* material,
                                               const Matrix4& transform) {
  if (chunk == nullptr || material == nullptr || chunk->GetPrimitiveCount() == 0) return;
  Vak::LightList lights;
  Vak::Light light;
  if (const Vak::ParallelLight* parallel = GetLight()) {
    light.kind = Vak::Light::kParallel;
    light.ambient = parallel->Ambient();
    light.diffuse = parallel->Diffuse();
    light.specular = parallel->Specular();
    light.direction = parallel->GetOrientation().Rotate({0, 0, 1});
    lights.push_back(&light);
  }
  material->RenderChunk(display, nullptr, *chunk, lights, transform);
}

// --- Rays ------------------------------------------------------------------------

bool VelmarIndexedMeshInstance::TestRayCollision(const Vak::Ray& given, float& distance, Vak::TriangleRef& hit) {
  Vak::Ray ray = given;
  if (IsScaled()) {
    if (scale_.x == 0.0f || scale_.y == 0.0f || scale_.z == 0.0f) return false;
    ray.point = {ray.point.x / scale_.x, ray.point.y / scale_.y, ray.point.z / scale_.z};
    ray.direction = {ray.direction.x / scale_.x, ray.direction.y / scale_.y, ray.direction.z / scale_.z};
    ray.direction.Normalise();
  }
  if (!RayMeetsBox(Box(), ray)) return false;
  auto* indexed = dynamic_cast<VelmarIndexedMeshResource*>(resource_);
  VelmarIndexedMeshDefinition* definition = indexed ? indexed->GetDefinition() : nullptr;
  if (const VLAxisBoxTree* tree = definition ? definition->FindCollisionTree() : nullptr) {
    VLAxisBoxTree::RayResult result;
    if (!tree->RayQuery(ray.point, ray.point + ray.direction * kRayReach, result)) return false;
    const float at = result.fraction * kRayReach;
    if (!(at < distance)) return false;
    // The identifier names the chunk and the triangle in it.
    const auto id = static_cast<uint32_t>(result.id);
    distance = at;
    hit = {this, id & 0xFFFFu, id >> 16};
    return true;
  }
  return TestEveryTriangle(ray, distance, hit);
}

bool VelmarIndexedMeshInstance::TestEveryTriangle(const Vak::Ray& ray, float& distance, Vak::TriangleRef& hit) {
  bool found = false;
  for (unsigned c = 0; c < chunkCount_; ++c) {
    const unsigned triangles = GetTriangleCount(c);
    for (unsigned t = 0; t < triangles; ++t) {
      Vector3 corners[3];
      if (!GetTriangleVertices(t, c, corners)) continue;
      float at = 0, u = 0, v = 0;
      if (!VLAxisBoxTree::RayHitsTriangle(ray.point, ray.direction, distance, corners[0], corners[1], corners[2],
                                          IsTriangleTwoSided(t, c), at, u, v) ||
          !(at < distance))
        continue;
      distance = at;
      hit = {this, t, c};
      found = true;
    }
  }
  return found;
}

// --- Triangles -------------------------------------------------------------------

GeometryChunk* VelmarIndexedMeshInstance::GetTriangleChunk(unsigned chunk) const {
  return chunks_ && chunk < chunkCount_ ? chunks_->Get(chunk) : nullptr;
}

unsigned VelmarIndexedMeshInstance::GetTriangleCount(unsigned chunk) const {
  const GeometryChunk* c = GetTriangleChunk(chunk);
  if (c == nullptr) return 0;
  const unsigned n = c->GetIndexCount();
  switch (GeometryChunk::TypeBitsForPrimitiveType(c->GetGeometryType())) {
  case GeometryChunk::kTypeTriangleList: return n / 3;
  case GeometryChunk::kTypeTriangleStrip:
  case GeometryChunk::kTypeTriangleFan: return n > 2 ? n - 2 : 0;
  default: return c->GetPrimitiveCount();
  }
}

Material* VelmarIndexedMeshInstance::GetTriangleMaterial(unsigned, unsigned chunk) const {
  return materials_ && chunk < chunkCount_ ? materials_->Get(chunk) : nullptr;
}

unsigned VelmarIndexedMeshInstance::GetTriangleIndexPosition(unsigned triangle, unsigned chunk, unsigned corner) const {
  const GeometryChunk* c = GetTriangleChunk(chunk);
  // The kind as the chunk's indices join.
  switch (c ? GeometryChunk::TypeBitsForPrimitiveType(c->GetGeometryType()) : 0u) {
  case GeometryChunk::kTypeTriangleList: return 3 * triangle + corner;
  case GeometryChunk::kTypeTriangleStrip:
    // Odd triangles of a strip turn the other way round.
    if (triangle % 2 == 1 && corner != 0) corner = 3 - corner;
    return triangle + corner;
  case GeometryChunk::kTypeTriangleFan: return corner == 0 ? 0 : triangle + corner;
  default: return triangle;
  }
}

bool VelmarIndexedMeshInstance::GetTriangleVertexIndex(unsigned triangle, unsigned chunk, unsigned corner,
                                                       unsigned& vertex) const {
  const GeometryChunk* c = GetTriangleChunk(chunk);
  if (c == nullptr || corner > 2) return false;
  const unsigned position = GetTriangleIndexPosition(triangle, chunk, corner);
  if (position >= c->GetIndexCount()) return false;
  vertex = c->GetIndices()[position];
  return vertex < c->GetVertexCapacity();
}

bool VelmarIndexedMeshInstance::GetTriangleVertex(unsigned triangle, unsigned chunk, unsigned corner,
                                                  Vector3& position) const {
  return GetCornerItem(triangle, chunk, corner, Vak::kItemPosition, position);
}

bool VelmarIndexedMeshInstance::GetTriangleVertices(unsigned triangle, unsigned chunk, Vector3 corners[3]) const {
  for (unsigned k = 0; k < 3; ++k)
    if (!GetTriangleVertex(triangle, chunk, k, corners[k])) return false;
  return true;
}

template <class T>
bool VelmarIndexedMeshInstance::GetCornerItem(unsigned triangle, unsigned chunk, unsigned corner, int item,
                                              T& out) const {
  unsigned vertex = 0;
  if (!GetTriangleVertexIndex(triangle, chunk, corner, vertex)) return false;
  const auto items = GetTriangleChunk(chunk)->GetItem<T>(item);
  if (!items) return false;
  out = items[vertex];
  return true;
}

bool VelmarIndexedMeshInstance::GetTriangleVertexNormal(unsigned triangle, unsigned chunk, unsigned corner,
                                                        Vector3& normal) const {
  return GetCornerItem(triangle, chunk, corner, Vak::kItemNormal, normal);
}

bool VelmarIndexedMeshInstance::GetTriangleTexCoord(unsigned triangle, unsigned chunk, unsigned corner, float& u,
                                                    float& v) const {
  Vak::TexCoord coord;
  if (!GetCornerItem(triangle, chunk, corner, Vak::kItemTexCoord0, coord)) return false;
  u = coord.u;
  v = coord.v;
  return true;
}

bool VelmarIndexedMeshInstance::GetTriangleColour(unsigned triangle, unsigned chunk, unsigned corner,
                                                  uint32_t& colour) const {
  return GetCornerItem(triangle, chunk, corner, Vak::kItemColour, colour);
}

bool VelmarIndexedMeshInstance::GetTriangleNeighbour(unsigned triangle, unsigned chunk, unsigned edge,
                                                     Vak::TriangleRef& neighbour) const {
  const GeometryChunk* c = GetTriangleChunk(chunk);
  const GeometryChunk::FaceNeighborArray* array = c ? c->GetFaceNeighborArray() : nullptr;
  if (array == nullptr || edge > 2 || triangle >= array->records.size()) return false;
  const uint32_t packed = array->records[triangle].face[edge];
  if (packed == kNoNeighbour) return false;
  neighbour = {const_cast<VelmarIndexedMeshInstance*>(this), packed & 0xFFFFu, packed >> 16};
  return true;
}

Vector3 VelmarIndexedMeshInstance::GetTriangleFaceNormal(unsigned triangle, unsigned chunk) const {
  const GeometryChunk* c = GetTriangleChunk(chunk);
  if (c != nullptr && triangle < c->GetFaceCount()) return c->GetFaceNormals()[triangle];
  Vector3 corners[3];
  if (!GetTriangleVertices(triangle, chunk, corners)) return {1, 0, 0};
  Vector3 normal = (corners[1] - corners[0]).Cross(corners[2] - corners[0]);
  const float squared = normal.Dot(normal);
  if (!(squared > 1e-9f)) return {1, 0, 0};
  return normal * (1.0f / std::sqrt(squared));
}

Vector3 VelmarIndexedMeshInstance::GetTriangleCentre(unsigned triangle, unsigned chunk) const {
  Vector3 corners[3];
  if (!GetTriangleVertices(triangle, chunk, corners)) return {};
  return (corners[0] + corners[1] + corners[2]) * 0.33333334f;
}

float VelmarIndexedMeshInstance::GetTriangleArea(unsigned triangle, unsigned chunk) const {
  Vector3 corners[3];
  if (!GetTriangleVertices(triangle, chunk, corners)) return 0;
  return 0.5f * (corners[1] - corners[0]).Cross(corners[2] - corners[0]).Length();
}

bool VelmarIndexedMeshInstance::IsTriangleTwoSided(unsigned triangle, unsigned chunk) const {
  const Material* material = GetTriangleMaterial(triangle, chunk);
  return material != nullptr && (material->GetFlags() & kTwoSidedMaterial) != 0;
}

bool VelmarIndexedMeshInstance::IsTriangleVisible(unsigned triangle, unsigned chunk) const {
  return triangle < GetTriangleCount(chunk) && GetTriangleMaterial(triangle, chunk) != nullptr;
}

// --- Progressive -----------------------------------------------------------------

VelmarProgressiveMeshInstance::VelmarProgressiveMeshInstance(Vak::RenderKernel* kernel,
                                                             VelmarGeometryBaseResource* resource)
    : VelmarIndexedMeshInstance(kernel, resource) {}

void VelmarProgressiveMeshInstance::InitFromDefinition(const VelmarIndexedMeshDefinition& definition) {
  VelmarIndexedMeshInstance::InitFromDefinition(definition);
  MakeEveryChunkOwn();
  definition_ = dynamic_cast<const VelmarProgressiveMeshDefinition*>(&definition);
  level_ = definition_ && definition_->GetTopCount() > 0 ? static_cast<int>(definition_->GetTopCount()) - 1 : 0;
  total_ = GetPrimitiveCount();
  InitScalableDetail(definition.GetTotalFaces());
}

void VelmarProgressiveMeshInstance::MakeEveryChunkOwn() {
  // Detail changes edit the counts and the index data.
  MakeChunksPrivate();
  Vak::Display* display = kernel_ ? &kernel_->GetDisplay() : nullptr;
  for (unsigned i = 0; i < chunks_->Count(); ++i)
    if (GeometryChunk* chunk = chunks_->Get(i)) {
      GeometryChunk* own = chunk->CreateInstance();
      own->DuplicateIndexArray(display);
      chunks_->Set(i, own);
    }
}

Vak::Particle* VelmarProgressiveMeshInstance::Clone() const {
  auto* copy = new VelmarProgressiveMeshInstance(kernel_, resource_);
  copy->CopyProgressive(*this);
  return copy;
}

void VelmarProgressiveMeshInstance::CopyProgressive(const VelmarProgressiveMeshInstance& from) {
  CopyInstance(from);
  // The copy shows the same detail with index data of its own.
  MakeEveryChunkOwn();
  definition_ = from.definition_;
  level_ = from.level_;
  total_ = from.total_;
  CopyScalableDetail(from);
}

void VelmarProgressiveMeshInstance::ApplyDetail(int detail) {
  if (detail < total_)
    LowerDetail(detail);
  else
    RaiseDetail(detail);
}

int VelmarProgressiveMeshInstance::LevelTriangles(unsigned level) const {
  if (definition_ == nullptr || level >= definition_->GetTopCount()) return 0;
  const VelmarProgressiveMeshDefinition::Top& top = definition_->GetTops()[level];
  int64_t triangles = 0;
  for (uint32_t g = 0; g < top.groupCount; ++g) {
    const VelmarProgressiveMeshDefinition::Group& group = top.groups[g];
    for (uint32_t s = 0; s < group.values[1]; ++s) triangles += group.steps[s].values[1];
  }
  return static_cast<int>(std::min<int64_t>(triangles, INT32_MAX));
}

void VelmarProgressiveMeshInstance::ApplyLevel(unsigned level, bool remove) {
  if (definition_ == nullptr || level >= definition_->GetTopCount()) return;
  const VelmarProgressiveMeshDefinition::Top& top = definition_->GetTops()[level];
  for (uint32_t g = 0; g < top.groupCount; ++g) {
    const VelmarProgressiveMeshDefinition::Group& group = top.groups[g];
    GeometryChunk* chunk = group.values[0] < chunkCount_ ? chunks_->Get(group.values[0]) : nullptr;
    if (chunk == nullptr) continue;
    uint16_t* indices = chunk->GetIndices();
    for (uint32_t s = 0; s < group.values[1]; ++s) {
      const VelmarProgressiveMeshDefinition::Step& step = group.steps[s];
      const int64_t vertices = step.values[0], indexCount = 3 * int64_t{step.values[1]}, offset = step.values[2];
      const int64_t sign = remove ? -1 : 1;
      // File records are not trusted: counts stay within 0 and the arrays,
      // and only positions inside the index array are moved.
      chunk->SetVertexCount(static_cast<unsigned>(
          std::clamp<int64_t>(chunk->GetVertexCount() + sign * vertices, 0, chunk->GetVertexCapacity())));
      chunk->SetIndexCount(static_cast<unsigned>(
          std::clamp<int64_t>(chunk->GetIndexCount() + sign * indexCount, 0, chunk->GetIndexCapacity())));
      if (step.indices == nullptr) continue;
      for (uint32_t k = 0; k < step.values[3]; ++k) {
        const uint32_t position = step.indices[k];
        if (position >= chunk->GetIndexCapacity()) continue;
        indices[position] = static_cast<uint16_t>(std::clamp<int64_t>(indices[position] + sign * offset, 0, 0xFFFF));
      }
    }
  }
}

void VelmarProgressiveMeshInstance::LowerDetail(int target) {
  while (level_ > 0) {
    const int removed = LevelTriangles(static_cast<unsigned>(level_));
    if (total_ - removed < target) break;
    ApplyLevel(static_cast<unsigned>(level_), true);
    total_ = std::max(0, total_ - removed);
    --level_;
    if (total_ <= target) break;
  }
}

void VelmarProgressiveMeshInstance::RaiseDetail(int target) {
  while (total_ < target && definition_ != nullptr && level_ + 1 < static_cast<int>(definition_->GetTopCount())) {
    ++level_;
    ApplyLevel(static_cast<unsigned>(level_), false);
    total_ += LevelTriangles(static_cast<unsigned>(level_));
  }
}
