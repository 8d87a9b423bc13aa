#include "assets3d/VelmarIndexedMeshDefinition.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "Vak/Bexlorn/Alloc.h"
#include "Vak/Bexlorn/ByteOrder.h"
#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/OS.h"
#include "Vak/Bexlorn/Rand.h"
#include "Vak/Bexlorn/String.h"
#include "Vak/Cindrel/ResourceDatabase.h"
#include "assets3d/MeshFile.h"
#include "assets3d/OverlappedResourceSystem.h"
#include "engine/dorvix/Display.h"
#include "engine/dorvix/MaterialManager.h"
#include "engine/elthrac/ParticleBone.h"
#include "engine/elthrac/ParticleStructure.h"
#include "engine/elthrac/ParticleVisibleBoundingBox.h"
#include "engine/fyrmond/GeometryConfigData.h"
#include "engine/kernelx/ConfigParser.h"
#include "engine/kernelx/Matrix3.h"

using Vak::GeometryChunk;
using Vak::MemoryFile;
using Vak::PString;
using Vak::Vector3;
using namespace MeshFile;

namespace {

// Sizes of the smallest records, for the checks that a count's data fits.
constexpr uint64_t kMinString = 4;
constexpr uint64_t kMinInfluence = 2 * kMinString + 12 + 36 + 4;
constexpr uint64_t kGroupHeader = 8;
constexpr uint64_t kEntry = 4 + 4 + 12;
constexpr uint64_t kMinAttachment = kMinString + 36 + 12;

// A weight or colour lane as a fraction of one; a stored NaN counts as none.
float UnitFraction(float v) { return std::isnan(v) ? 0.0f : std::clamp(v, 0.0f, 1.0f); }

// The resource's file name: the name it was loaded by when it has no file
// name of its own.
PString ResourceFile(const VelmarMeshResource* resource) {
  if (resource == nullptr) return PString();
  return resource->GetFileName().IsNull() ? resource->GetName() : resource->GetFileName();
}

// The folder part of a file name, without its trailing separator.
std::string FolderOf(const char* path) {
  const std::string text = path;
  const std::size_t cut = text.find_last_of("\\/");
  return cut == std::string::npos ? std::string() : text.substr(0, cut);
}

// Three floats per vertex into `item` (skipped without it), for as many
// vertices as whole records remain.
void ReadVertexVectors(MemoryFile& file, Vak::VertexItem<Vector3> item, uint32_t vertices) {
  const uint32_t n = std::min(vertices, file.Remaining() / 12);
  if (item) {
    const uint8_t* at = file.Cursor();
    for (uint32_t v = 0; v < n; ++v, at += 12) std::memcpy(item(v), at, 12);
  }
  file.Skip(n * 12);
}

// The copies of a GEOM's arrays into a chunk take their counts by value: the
// reader's own were read through pointers, so any store into the chunk could
// have changed them and each loop reloaded them from memory.

// Positions from records `record` bytes apart, with their sums in double in
// vertex order and their bounds (widened by std::min / std::max).
void CopyInPositions(const uint8_t* in, uint32_t record, uint32_t vertices, Vak::VertexItem<Vector3> pos,
                     double sums[3], Vector3& low, Vector3& high) {
  double x = sums[0], y = sums[1], z = sums[2];
  Vector3 lo = low, hi = high;
  for (uint32_t v = 0; v < vertices; ++v, in += record) {
    Vector3 p;
    std::memcpy(&p, in, 12);
    *pos(v) = p;
    x += p.x;
    y += p.y;
    z += p.z;
    hi = Vector3(std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z));
    lo = Vector3(std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z));
  }
  sums[0] = x;
  sums[1] = y;
  sums[2] = z;
  low = lo;
  high = hi;
}

template <typename T>
void CopyInRecords(const uint8_t* in, uint32_t record, uint32_t vertices, Vak::VertexItem<T> item) {
  for (uint32_t v = 0; v < vertices; ++v, in += record) std::memcpy(item(v), in, sizeof(T));
}

template <typename T>
void FillItem(Vak::VertexItem<T> item, uint32_t vertices, T value) {
  for (uint32_t v = 0; v < vertices; ++v) item[v] = value;
}

// Returns the largest index, checked once after the copy so that the copy
// needs no branch.
uint16_t CopyInIndices(const uint8_t* in, uint32_t count, uint16_t* out) {
  uint16_t largest = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const uint16_t index = Vak::GetLE16(in + 2 * i);
    out[i] = index;
    largest = index > largest ? index : largest;
  }
  return largest;
}

Vak::Colour ReadColour(MemoryFile& file, const Vak::Colour& start, bool& ok) {
  Vak::Colour c = start;
  ok = ok && file.Read(c.r) && file.Read(c.g) && file.Read(c.b);
  return c;
}

int GeometryTypeOf(uint32_t primitive) {
  switch (primitive & 31) {
  case 0: return 5;
  case 1: return 3;
  case 2: return 4;
  case 4: return 0;
  case 8: return 1;
  case 16: return 2;
  default: return -1;
  }
}

} // namespace

VelmarIndexedMeshDefinition::VelmarIndexedMeshDefinition(const MeshGeometryOptions& options)
    : chunks_(new SharedRefArray<GeometryChunk>), materials_(new SharedRefArray<Vak::Material>), options_(options) {}

VelmarIndexedMeshDefinition::~VelmarIndexedMeshDefinition() {
  // A build running on the loader reads the chunks: it ends first.
  collisionRequest_.reset();
  for (MaterialBinding& binding : pendingBindings_)
    if (binding.material != nullptr) binding.material->ReleaseReference();
  chunks_->ReleaseReference();
  materials_->ReleaseReference();
  ReplaceRootBone(nullptr);
}

bool VelmarIndexedMeshDefinition::LoadMemoryFile(VelmarMeshResource* resource, const char* name) {
  PString path(name);
  if (resource != nullptr && resource->GetDatabase() != nullptr) path = resource->GetDatabase()->GetFileName(path);
  Vak::File file;
  if (path.IsNull() || !file.Open(path.c_str(), Vak::File::kRead).Ok()) return false;
  memoryFile_.Open(file, false, 0);
  file.Close();
  return true;
}

void VelmarIndexedMeshDefinition::AskDisplay(Vak::Display* display) {
  capability26_ = display != nullptr && display->SupportsCapability(26);
}

unsigned long VelmarIndexedMeshDefinition::ReadIndexedSequence(Vak::Display* display, Vak::MaterialManager* manager,
                                                               VelmarMeshResource* resource, uint32_t defaultColour) {
  SetReadContext(display, manager, resource, defaultColour);
  MemoryFile& file = memoryFile_;
  if (Result r = ReadContainerHeader(file, kIndexedMesh, containerEnd_); r != kOk) return r;
  unsigned long code = kOk;
  if (*ReadInfoChunk(&code, file) != kOk) return code;
  // Every group needs at least its CHNK, MATL and GEOM headers.
  if (!CountFits(file, static_cast<uint32_t>(chunkCount_), 3 * 12)) return kMalformed;
  chunks_->Resize(0);
  materials_->Resize(0);
  positionSums_.clear();
  for (unsigned i = 0; i < static_cast<unsigned>(chunkCount_);) {
    if (*ReadChunkChunk(&code, file, i) != kOk) return code;
    const GeometryChunk* chunk = chunks_->Get(i);
    if (chunk == nullptr || chunk->GetVertexCount() == 0 || chunk->GetFaceCount() == 0 ||
        chunk->GetIndexCount() == 0) {
      chunks_->Resize(i);
      materials_->Resize(i);
      if (chunkNames_.size() > i) chunkNames_.resize(i);
      if (records_.size() > i) records_.resize(i);
      if (storedRecords_.size() > i) storedRecords_.resize(i);
      if (positionSums_.size() > i) positionSums_.resize(i);
      --chunkCount_;
      continue;
    }
    ++i;
  }
  while (BytesRemain(file)) {
    uint32_t tag = 0;
    if (!PeekTag(file, tag) || (tag != kInfluences && tag != kSkeleton)) break;
    if (*ReadInfluenceChunk(&code, file) != kOk) return code;
  }
  while (BytesRemain(file) && NextTagIs(file, kAttachments))
    if (*ReadAttachmentChunk(&code, file) != kOk) return code;
  return kOk;
}

unsigned long* VelmarIndexedMeshDefinition::ReadMeshFile(unsigned long* result, Vak::Display* display,
                                                         Vak::MaterialManager* manager, VelmarMeshResource* resource,
                                                         const char*, uint32_t defaultColour) {
  if (manager == nullptr) return Done(result, kNoMaterialManager);
  AskDisplay(display);
  if (capability26_) matrixLimit_ = 24;
  if (unsigned long code = ReadIndexedSequence(display, manager, resource, defaultColour); code != kOk)
    return Done(result, code);
  SumTotals();
  if (memoryFile_.Tell() != containerEnd_) return Done(result, kMalformed);
  BuildSkeletonFromInfluences();
  PrepareInfluences();
  CalculateExtents(true);
  if (OverlappedResourceSystem::Get() != nullptr) RequestCollisionTree();
  memoryFile_.Close();
  return Done(result, kOk);
}

unsigned long* VelmarIndexedMeshDefinition::ReadInfoChunk(unsigned long* result, MemoryFile& file) {
  ChunkHeader h;
  if (Result r = ReadChunkHeader(file, kInfo, containerEnd_, h); r != kOk) return Done(result, r);
  if (h.version < 100 || h.version > 104) return Done(result, kBadVersion);
  uint32_t count = 0;
  bool ok = file.Read(position_.x) && file.Read(position_.y) && file.Read(position_.z) &&
            file.Read(orientation_.x) && file.Read(orientation_.y) && file.Read(orientation_.z) &&
            file.Read(orientation_.w) && file.Read(count);
  maxInfluences_ = maxMatrices_ = 0;
  if (ok && h.version >= 102) ok = file.Read(maxInfluences_) && file.Read(maxMatrices_);
  if (ok && h.version == 104) ok = file.Skip(24);
  if (!ok || count > 0x7FFFFFFF) return Done(result, kMalformed);
  chunkCount_ = static_cast<int>(count);
  return Done(result, kOk);
}

unsigned long* VelmarIndexedMeshDefinition::ReadChunkChunk(unsigned long* result, MemoryFile& file, unsigned slot) {
  ChunkHeader h;
  if (Result r = ReadChunkHeader(file, kChunk, containerEnd_, h); r != kOk) return Done(result, r);
  if (h.version != 100) return Done(result, kBadVersion);
  uint32_t ignored;
  if (!file.Read(ignored)) return Done(result, kMalformed);
  if (*ReadMaterialChunk(result, file, slot) != kOk) return result;
  if (*ReadGeometryChunk(result, file, slot) != kOk) return result;
  if (file.Tell() < h.end && NextTagIs(file, kNeighbours)) return ReadNeighbourChunk(result, file, slot);
  return Done(result, kOk);
}

bool VelmarIndexedMeshDefinition::ReadMaterialFields(MemoryFile& file, MaterialRecord& record) {
  if (!ReadPaddedString(file, record.decoratedName)) return false;
  uint32_t count = 0;
  if (!file.Read(count) || !CountFits(file, count, 2 * kMinString)) return false;
  for (uint32_t i = 0; i < count; ++i) {
    PString key, value;
    if (!ReadPaddedString(file, key) || !ReadPaddedString(file, value)) return false;
    record.properties.emplace_back(key, value);
  }
  bool ok = file.Read(record.flag) && file.Read(record.value);
  Vak::DisplayMaterial& d = record.display;
  d.diffuse = ReadColour(file, d.diffuse, ok);
  d.ambient = ReadColour(file, d.ambient, ok);
  d.specular = ReadColour(file, d.specular, ok);
  d.emissive = ReadColour(file, d.emissive, ok);
  ok = ok && file.Read(d.power) && file.Read(count) && CountFits(file, count, 4 + kMinString + 4);
  if (!ok) return false;
  for (uint32_t i = 0; i < count; ++i) {
    Texture texture;
    if (!file.Read(texture.kind) || !ReadPaddedString(file, texture.file) || !file.Read(texture.value)) return false;
    record.textures.push_back(texture);
  }
  return true;
}

VelmarIndexedMeshDefinition::MaterialRecord VelmarIndexedMeshDefinition::DecorateMaterial(
    const MaterialRecord& stored) const {
  MaterialRecord record = stored;
  const PString resourceFile = ResourceFile(resource_);
  const std::string folder = FolderOf(resourceFile.c_str());
  record.decoratedName = PString(resource_ ? resource_->GetOwnerName().c_str() : "") + "*" + folder.c_str() + "*" +
                         stored.decoratedName;
  for (Texture& texture : record.textures) {
    std::string placed = folder.empty() ? std::string() : folder + "\\";
    placed += FileNamePart(texture.file.c_str());
    texture.file = placed.c_str();
  }
  Vak::DisplayMaterial& d = record.display;
  d.emissive = {d.emissive.r * 0.5f, d.emissive.g * 0.5f, d.emissive.b * 0.5f, d.emissive.a * 0.5f};
  return record;
}

unsigned long* VelmarIndexedMeshDefinition::ReadMaterialChunk(unsigned long* result, MemoryFile& file, unsigned slot) {
  ChunkHeader h;
  if (Result r = ReadChunkHeader(file, kMaterial, containerEnd_, h); r != kOk) return Done(result, r);
  if (h.version != 102 && h.version != 103) return Done(result, kBadVersion);
  MaterialRecord stored;
  if (!ReadMaterialFields(file, stored)) return Done(result, kMalformed);
  MaterialRecord record = DecorateMaterial(stored);
  Vak::DisplayMaterial& d = record.display;
  if (h.version == 102) {
    d.specular = {0, 0, 0, 0};
    d.power = 10.0f;
  } else if (d.power < 10.0f) {
    d.power = 10.0f;
  }
  KeepRecords(slot, record, stored);
  return BindChunkMaterial(result, manager_, resource_, slot, records_[slot]);
}

void VelmarIndexedMeshDefinition::KeepRecords(unsigned slot, const MaterialRecord& bound,
                                              const MaterialRecord& stored) {
  if (records_.size() <= slot) records_.resize(slot + 1);
  if (storedRecords_.size() <= slot) storedRecords_.resize(slot + 1);
  records_[slot] = bound;
  storedRecords_[slot] = stored;
}

unsigned long* VelmarIndexedMeshDefinition::BindChunkMaterial(unsigned long* result, Vak::MaterialManager* manager,
                                                              VelmarMeshResource* resource, unsigned slot,
                                                              const MaterialRecord& record) {
  Vak::Material* material = nullptr;
  if (manager != nullptr) {
    const Vak::MaterialManager::Result found = manager->Load(record.decoratedName, material);
    if (found != Vak::MaterialManager::kOk) {
      if (resource != nullptr) resource->AddFailedMaterialName(record.decoratedName);
      if (resource == nullptr || !resource->AllowsMaterialFallBack())
        return Done(result, found == Vak::MaterialManager::kNotFound ? kMaterialNotFound : kMaterialFailed);
      PString decoration, part;
      Vak::MaterialManager::SplitDecoratedMaterialName(record.decoratedName.c_str(), decoration, part);
      if (manager->Load(decoration + manager->GetFallbackPart(), material) != Vak::MaterialManager::kOk)
        return Done(result, kMaterialFailed);
      material->SetRequestName(record.decoratedName);
    }
    if (resource != nullptr) material->SetResourcePriority(resource->GetPriority());
  } else {
    PString decoration, part;
    Vak::MaterialManager::SplitDecoratedMaterialName(record.decoratedName.c_str(), decoration, part);
    material = new Vak::NullMaterial(part);
    material->SetCreationType(part);
  }
  material->SetDisplayMaterialProperties(record.display);
  material->SetFlags(record.flag != 0 ? material->GetFlags() | 1u : material->GetFlags() & ~1u);
  material->SetValue(record.value);
  for (const auto& [key, value] : record.properties) material->AddProperty(key, value);
  materials_->Set(slot, material);
  material->AddReference();
  pendingBindings_.push_back(MaterialBinding{record.textures, resource, material, record.decoratedName, manager});
  return Done(result, kOk);
}

Vak::StandardChunkHint VelmarIndexedMeshDefinition::ChunkHint(uint32_t sets, uint32_t weights, bool withDatabase) {
  Vak::StandardChunkHint hint(2, 0);
  if (options_.softwareLighting.SetAndTrue()) hint.flags |= Vak::StandardChunkHint::kSoftwareLighting;
  hint.vertexUsage = options_.dynamicVertex.isSet ? options_.dynamicVertex.value : 2;
  hint.indexUsage = options_.dynamicIndex.isSet ? options_.dynamicIndex.value : 2;
  hint.textureSets = sets;
  hint.database = resource_ && withDatabase ? resource_->GetDatabase() : nullptr;
  hint.weightsPerVertex = weights;
  if (weights > 0) {
    if (maxInfluences_ > 0 && maxInfluences_ <= 4 && maxMatrices_ <= matrixLimit_ && capability26_ &&
        !options_.softwareAnimation.SetAndTrue())
      hardwareSkinning_ = true;
    hint.flags |= Vak::StandardChunkHint::kSkinned;
    if (hardwareSkinning_) {
      hint.skinningMode = Vak::StandardChunkHint::kHardwareSkinning;
      hint.matrixLimit = matrixLimit_;
      if (options_.hardwareAnimationFloatPrecision.SetAndTrue()) hint.flags |= Vak::StandardChunkHint::kFloatWeights;
    } else {
      hint.flags |= Vak::StandardChunkHint::kSoftwareSkinning;
    }
  }
  return hint;
}

void VelmarIndexedMeshDefinition::PresetWeights(GeometryChunk& chunk, const Vak::StandardChunkHint& hint,
                                                uint32_t vertices, uint32_t weights) const {
  if (vertices == 0 || !hardwareSkinning_ || weights == 0) return;
  auto blend = chunk.GetItem<uint32_t>(Vak::kItemBlendIndices);
  if (!(hint.flags & Vak::StandardChunkHint::kFloatWeights)) {
    auto packed = chunk.GetItem<uint32_t>(Vak::kItemPackedWeights);
    for (uint32_t v = 0; packed && v < vertices; ++v) packed[v] = 0xff000000u;
  } else {
    auto lanes = chunk.GetItem<float>(Vak::VertexType::WeightItem(std::min(weights, 4u)));
    for (uint32_t v = 0; lanes && v < vertices; ++v) {
      float* w = lanes(v);
      w[0] = 1.0f;
      for (uint32_t k = 1; k < std::min(weights, 4u); ++k) w[k] = 0.0f;
    }
  }
  for (uint32_t v = 0; blend && v < vertices; ++v) blend[v] = 0;
}

unsigned long* VelmarIndexedMeshDefinition::ReadGeometryChunk(unsigned long* result, MemoryFile& file, unsigned slot) {
  return ReadGeometry(result, file, slot, false);
}

unsigned long* VelmarIndexedMeshDefinition::ReadGeometry(unsigned long* result, MemoryFile& file, unsigned slot,
                                                         bool level) {
  ChunkHeader h;
  if (Result r = ReadChunkHeader(file, kGeometry, containerEnd_, h); r != kOk) return Done(result, r);
  if (h.version < 101 || h.version > 201) return Done(result, kBadVersion);
  uint32_t primitive = 0, flags = 0, vertices = 0, second = 0, indices = 0, faces = 0, sets = 1, weights = 0;
  float value = 0;
  bool ok = file.Read(primitive) && (h.version < 201 || file.Read(flags)) && file.Read(value) &&
            file.Read(vertices) && file.Read(second) && file.Read(indices) && file.Read(faces);
  // A level's geometry has one texture set and no colours; its name starts at 103.
  const bool colours = !level && h.version >= 104 && h.version <= 199;
  if (ok && !level && h.version >= 103 && h.version <= 199) ok = file.Read(sets);
  if (ok && h.version >= 102) ok = file.Read(weights);
  if (!ok) return Done(result, kMalformed);
  const int type = GeometryTypeOf(primitive);
  if (type < 0) return Done(result, kMalformed);

  Vak::StandardChunkHint hint = ChunkHint(sets, weights, !level);
  hint.value = value;
  hint.tangents = (flags & 1) != 0;
  PString name;
  if (h.version >= (level ? 103u : 200u) && !ReadPaddedString(file, name)) return Done(result, kMalformed);
  if (name.Length() == 0) name = PString();
  if (chunkNames_.size() <= slot) chunkNames_.resize(slot + 1);
  chunkNames_[slot] = name;

  // Each array must fit in what remains before anything is made for it.
  const uint64_t record = 12 + 8 * uint64_t{sets};
  if (!CountFits(file, vertices, record) || !CountFits(file, indices, 2) || !CountFits(file, faces, 12))
    return Done(result, kMalformed);
  // The index array follows the vertices: each fitting alone is not enough.
  if (uint64_t{vertices} * record + uint64_t{indices} * 2 > file.Remaining()) return Done(result, kMalformed);
  Vak::Material* material = materials_->Get(slot);
  if (material == nullptr) return Done(result, kMalformed);
  GeometryChunk* chunk = material->CreateGeometryChunk(vertices, second, indices, faces, type, hint);
  if (chunk == nullptr) return Done(result, kMalformed);
  chunks_->Set(slot, chunk);

  PresetWeights(*chunk, hint, vertices, weights);
  if (vertices > 0) {
    auto pos = chunk->GetItem<Vector3>(Vak::kItemPosition);
    auto colour = chunk->GetItem<uint32_t>(Vak::kItemColour);
    Vak::VertexItem<Vak::TexCoord> uv[Vak::VertexType::kMaxTexCoordSets];
    const uint32_t usable = std::min<uint32_t>(sets, Vak::VertexType::kMaxTexCoordSets);
    for (uint32_t j = 0; j < usable; ++j) uv[j] = chunk->GetItem<Vak::TexCoord>(Vak::kItemTexCoord0 + int(j));
    // The position sums and bounds are made here, while the positions pass
    // through anyway, rather than in passes of their own after the load.
    PositionSums sums;
    const uint8_t* in = file.Cursor();
    if (pos) CopyInPositions(in, static_cast<uint32_t>(record), vertices, pos, sums.sum, sums.low, sums.high);
    if (colour) FillItem(colour, vertices, defaultColour_);
    for (uint32_t j = 0; j < usable; ++j)
      if (uv[j]) CopyInRecords(in + 12 + 8 * j, static_cast<uint32_t>(record), vertices, uv[j]);
    file.Skip(static_cast<uint32_t>(vertices * record));
    if (positionSums_.size() <= slot) positionSums_.resize(slot + 1);
    positionSums_[slot] = sums;
  }
  if (indices > 0) {
    if (CopyInIndices(file.Cursor(), indices, chunk->GetIndices()) >= vertices) return Done(result, kMalformed);
    file.Skip(indices * 2);
  }
  if (vertices > 0) ReadVertexVectors(file, chunk->GetItem<Vector3>(Vak::kItemNormal), vertices);
  if (colours && vertices > 0 && file.Remaining() / 4 >= vertices) {
    auto colour = chunk->GetItem<uint32_t>(Vak::kItemColour);
    if (colour) {
      std::vector<uint32_t> colours(vertices);
      const uint8_t* at = file.Cursor();
      for (uint32_t v = 0; v < vertices; ++v) colours[v] = Vak::GetLE32(at + 4 * v);
      if (display_ != nullptr) display_->ConvertColorArray(colours.data(), vertices);
      for (uint32_t v = 0; v < vertices; ++v) colour[v] = colours[v];
    }
    file.Skip(vertices * 4);
  }
  if (faces > 0 && file.Remaining() / 12 >= faces) file.Read(chunk->GetFaceNormals(), faces * 12);
  if ((flags & 1) && vertices > 0) ReadVertexVectors(file, chunk->GetItem<Vector3>(Vak::kItemTangent), vertices);
  file.MoveTo(h.end);
  return Done(result, kOk);
}

unsigned long* VelmarIndexedMeshDefinition::ReadNeighbourChunk(unsigned long* result, MemoryFile& file, unsigned slot) {
  ChunkHeader h;
  if (Result r = ReadChunkHeader(file, kNeighbours, containerEnd_, h); r != kOk) return Done(result, r);
  if (h.version != 100) return Done(result, kBadVersion);
  GeometryChunk* chunk = chunks_->Get(slot);
  const uint32_t faces = chunk ? chunk->GetFaceCount() : 0;
  if (faces == 0) return Done(result, kOk);
  if (!CountFits(file, faces, 12)) return Done(result, kMalformed);
  auto* neighbours = new GeometryChunk::FaceNeighborArray(faces);
  const uint8_t* at = file.Cursor();
  for (uint32_t f = 0; f < faces; ++f)
    for (int k = 0; k < 3; ++k) neighbours->records[f].face[k] = Vak::GetLE32(at + 12 * f + 4 * k);
  file.Skip(faces * 12);
  chunk->SetFaceNeighborArray(neighbours);
  neighbours->ReleaseReference();
  return Done(result, kOk);
}

unsigned long* VelmarIndexedMeshDefinition::ReadAttachmentChunk(unsigned long* result, MemoryFile& file) {
  if (!NextTagIs(file, kAttachments)) return Done(result, kOk);
  ChunkHeader h;
  if (Result r = ReadChunkHeader(file, kAttachments, containerEnd_, h); r != kOk) return Done(result, r);
  if (h.version != 100) return Done(result, kBadVersion);
  uint32_t count = 0;
  if (!file.Read(count) || !CountFits(file, count, kMinAttachment)) return Done(result, kMalformed);
  for (uint32_t i = 0; i < count; ++i) {
    AttachmentPoint point;
    if (!ReadPaddedString(file, point.name) || !ReadFloats(file, point.matrix, 9) ||
        !ReadFloats(file, point.position, 3))
      return Done(result, kMalformed);
    attachmentPoints_.push_back(point);
  }
  return Done(result, kOk);
}

unsigned long* VelmarIndexedMeshDefinition::ReadInfluenceChunk(unsigned long* result, MemoryFile& file) {
  uint32_t tag = 0;
  if (!PeekTag(file, tag) || (tag != kInfluences && tag != kSkeleton)) return Done(result, kOk);
  ChunkHeader h;
  if (Result r = ReadChunkHeader(file, tag, containerEnd_, h); r != kOk) return Done(result, r);
  if (h.version != 100) {
    file.StepBack(4);
    return Done(result, kOk);
  }
  if (tag == kSkeleton) return ReadBoneChunk(result, file, nullptr, 0);
  uint32_t count = 0;
  if (!file.Read(count) || !CountFits(file, count, kMinInfluence)) return Done(result, kMalformed);
  for (uint32_t i = 0; i < count; ++i) {
    PString name, parent;
    float position[3], matrix[9];
    uint32_t groups = 0;
    if (!ReadPaddedString(file, name) || !ReadPaddedString(file, parent) || !ReadFloats(file, position, 3) ||
        !ReadFloats(file, matrix, 9) || !file.Read(groups) || !CountFits(file, groups, kGroupHeader))
      return Done(result, kMalformed);
    Vak::InfluenceDefinition influence(name, parent, Vector3(position[0], position[1], position[2]),
                                       Vak::Matrix3::FromFloats(matrix));
    for (uint32_t g = 0; g < groups; ++g) {
      Vak::InfluenceDefinition::Group group;
      if (!ReadInfluenceGroup(file, group)) return Done(result, kMalformed);
      if (group.entries.empty()) continue;
      influence.AddGroup(std::move(group));
    }
    influences_.push_back(std::move(influence));
  }
  if (file.Tell() != h.end) return Done(result, kMalformed);
  return Done(result, kOk);
}

bool VelmarIndexedMeshDefinition::ReadInfluenceGroup(MemoryFile& file, Vak::InfluenceDefinition::Group& group) {
  uint32_t entries = 0;
  if (!file.Read(group.chunk) || !file.Read(entries) || !CountFits(file, entries, kEntry)) return false;
  group.entries.resize(entries);
  for (Vak::InfluenceDefinition::Entry& e : group.entries) {
    file.Read(e.vertex);
    file.Read(e.weight);
    file.Read(&e.offset, 12);
  }
  return true;
}

unsigned long* VelmarIndexedMeshDefinition::ReadBoneChunk(unsigned long* result, MemoryFile& file,
                                                          Vak::ParticleBone* parent, unsigned depth) {
  // Each child recurses: a crafted file must not nest deeper than this.
  if (depth >= kMaxBoneDepth) return Done(result, kMalformed);
  ChunkHeader h;
  if (Result r = ReadChunkHeader(file, kBone, containerEnd_, h); r != kOk) return Done(result, r);
  if (h.version != 1 && h.version != 20 && h.version != 50 && h.version != 100 && h.version != 102)
    return Done(result, kBadVersion);
  PString name;
  float position[3], rotation[4];
  uint32_t children = 0;
  if (!ReadPaddedString(file, name) || !ReadFloats(file, position, 3) || !ReadFloats(file, rotation, 4) ||
      !file.Read(children) || !CountFits(file, children, 12))
    return Done(result, kMalformed);
  auto* bone = new Vak::ParticleBone(name);
  bone->SetPosition(Vector3(position[0], position[1], position[2]));
  bone->SetOrientation(Vak::Quaternion(rotation[0], rotation[1], rotation[2], rotation[3]));
  bone->AttachBoundingBox(new Vak::ParticleVisibleBoundingBox);
  if (parent != nullptr) parent->AddChild(bone);
  else ReplaceRootBone(bone);
  for (uint32_t i = 0; i < children; ++i)
    if (*ReadBoneChunk(result, file, bone, depth + 1) != kOk) return result;
  return Done(result, kOk);
}

void VelmarIndexedMeshDefinition::ReplaceRootBone(Vak::ParticleBone* root) {
  if (rootBone_ != root) delete rootBone_;
  rootBone_ = root;
}

void VelmarIndexedMeshDefinition::BuildSkeletonFromInfluences() {
  if (influences_.empty()) return;
  std::vector<Vak::ParticleBone*> bones;
  std::vector<PString> parents;
  for (const Vak::InfluenceDefinition& influence : influences_) {
    auto* bone = new Vak::ParticleBone(influence.GetName());
    bone->SetPosition(influence.GetPosition());
    bone->SetOrientation(influence.GetRotation());
    bone->FixFrame();
    bones.push_back(bone);
    parents.push_back(influence.GetParentName());
  }
  if (Vak::ParticleBone* root = LinkBones(bones, parents)) ReplaceRootBone(root);
}

Vak::ParticleBone* VelmarIndexedMeshDefinition::LinkBones(const std::vector<Vak::ParticleBone*>& bones,
                                                          std::vector<PString>& parents) {
  Vak::ParticleBone* root = nullptr;
  for (std::size_t i = 0; i < bones.size(); ++i) {
    if (parents[i].Length() != 0) continue;
    if (root == nullptr) root = bones[i];
    else parents[i] = root->GetName();
  }
  if (root == nullptr) {
    for (Vak::ParticleBone* bone : bones) delete bone;
    return nullptr;
  }
  for (std::size_t i = 0; i < bones.size(); ++i) {
    if (bones[i] == root) continue;
    Vak::ParticleBone* parent = nullptr;
    for (Vak::ParticleBone* candidate : bones)
      if (candidate != bones[i] && candidate->GetName() == parents[i]) {
        parent = candidate;
        break;
      }
    if (parent == nullptr) {
      parent = root;
      parents[i] = root->GetName();
    }
    // A bone may not hang below itself through a loop of parent names.
    for (Vak::Particle* up = parent; up != nullptr; up = up->Parent())
      if (up == bones[i]) parent = root;
    parent->AddChild(bones[i]);
  }
  return root;
}

void VelmarIndexedMeshDefinition::AddAttachmentPoints(Vak::ParticleStructure& structure) const {
  for (const AttachmentPoint& record : attachmentPoints_) {
    const char first = record.name.c_str()[0];
    if (first != 'a' && first != 'A') continue;
    PString name, bone;
    Vak::AttachmentPoint::GetSubNames(record.name, name, bone);
    auto* point = new Vak::AttachmentPoint(name, bone);
    Vector3 position(record.position[0], record.position[1], record.position[2]);
    Vak::Quaternion rotation;
    rotation.Set(Vak::Matrix3::FromFloats(record.matrix));
    if (rootBone_ == nullptr) {
      structure.AddAttachmentPoint(point, 0);
    } else if (structure.AddAttachmentPoint(point, 1)) {
      // The file gives the point in the mesh's frame; below a bone it
      // keeps its place.
      point->GlobalToLocal(position, rotation);
    } else {
      structure.AddChild(point);
    }
    point->SetPosition(position);
    point->SetOrientation(rotation);
  }
}

void VelmarIndexedMeshDefinition::SumTotals() {
  totalVertices_ = totalFaces_ = 0;
  for (unsigned i = 0; i < chunks_->Count(); ++i) {
    if (const GeometryChunk* chunk = chunks_->Get(i)) {
      totalVertices_ += static_cast<int>(chunk->GetVertexCount());
      totalFaces_ += static_cast<int>(chunk->GetFaceCount());
    }
  }
}

void VelmarIndexedMeshDefinition::PrepareInfluences() {
  // Lanes taken per vertex of each chunk; a vertex has four.
  std::vector<std::vector<uint8_t>> taken(chunks_->Count());
  for (unsigned i = 0; i < influences_.size(); ++i) {
    unsigned bone = i;
    if (boneNames_ != nullptr) {
      const auto at = std::find(boneNames_->begin(), boneNames_->end(), influences_[i].GetName());
      if (at == boneNames_->end()) continue;
      bone = static_cast<unsigned>(at - boneNames_->begin());
    }
    for (const Vak::InfluenceDefinition::Group& group : influences_[i].Groups())
      WriteInfluenceGroup(*chunks_, bone, group, taken);
  }
}

void VelmarIndexedMeshDefinition::WriteInfluenceGroup(SharedRefArray<GeometryChunk>& chunks, unsigned i,
                                                      const Vak::InfluenceDefinition::Group& group,
                                                      std::vector<std::vector<uint8_t>>& taken) {
  GeometryChunk* chunk = chunks.Get(group.chunk);
  if (chunk == nullptr || chunk->IsSoftwareSkinned() || chunk->GetVertexCount() < group.entries.size()) return;
  if (taken.size() <= group.chunk) taken.resize(group.chunk + 1);
  auto blend = chunk->GetItem<uint32_t>(Vak::kItemBlendIndices);
  auto packed = chunk->GetItem<uint32_t>(Vak::kItemPackedWeights);
  int weightItem = 0;
  for (int item = Vak::kItemWeights4; item >= Vak::kItemWeights1 && weightItem == 0; --item)
    if (chunk->GetVertexType().Has(item)) weightItem = item;
  if (!blend) return;
  const int slot = chunk->AddInfluenceMatrix(i);
  if (slot < 0) return;
  const uint8_t index = static_cast<uint8_t>(3 * slot);
  const unsigned floatLanes = weightItem ? unsigned(weightItem - Vak::kItemWeights1 + 1) : 0;
  auto floats = chunk->GetItem<float>(weightItem);
  std::vector<uint8_t>& used = taken[group.chunk];
  used.resize(chunk->GetVertexCount(), 0);
  for (const Vak::InfluenceDefinition::Entry& entry : group.entries) {
    // An entry past the chunk's vertices, or a fifth on one vertex, has no lane.
    if (entry.vertex >= chunk->GetVertexCount() || used[entry.vertex] >= 4) continue;
    const unsigned lane = used[entry.vertex]++;
    auto* indices = reinterpret_cast<uint8_t*>(blend(entry.vertex));
    if (lane == 0) std::memset(indices, 0, 4);
    if (packed) {
      auto* weights = reinterpret_cast<uint8_t*>(packed(entry.vertex));
      if (lane == 0) std::memset(weights, 0, 4);
      weights[lane] = static_cast<uint8_t>(UnitFraction(entry.weight) * 255.0f);
      indices[lane] = index;
      if (lane < 3) indices[lane + 1] = 0xFE;
    } else if (floats && lane < floatLanes) {
      float* weights = floats(entry.vertex);
      if (lane == 0) std::fill(weights, weights + floatLanes, 0.0f);
      weights[lane] = entry.weight;
      indices[lane] = index;
    }
  }
}

namespace {

// The texture scale's running sums, carried from chunk to chunk in order.
struct TextureScaleSums {
  double weighted = 0, total = 0;
  float largest = 0;
};

void AddTextureScale(const GeometryChunk& chunk, TextureScaleSums& sums) {
  // Triangles go a block at a time: their squared edge lengths are gathered
  // first, so that the roots and divisions run over plain arrays; the sums
  // still grow triangle by triangle in index order. The additions wait on
  // one another, so a block's are made during the next block's gathering,
  // which has room for them (two sets of arrays, used in turn).
  constexpr unsigned kBlock = 256;
  float e1[kBlock], e2[kBlock], t1[kBlock], t2[kBlock];
  float r1[kBlock], r2[kBlock], sum[2][kBlock], twice[2][kBlock];
  uint8_t counts[2][kBlock];
  auto pos = chunk.GetItem<Vector3>(Vak::kItemPosition);
  auto uv = chunk.GetItem<Vak::TexCoord>(Vak::kItemTexCoord0);
  const uint16_t* index = chunk.GetIndices();
  if (!pos || !uv || chunk.GetIndexCount() == 0) return;
  // Both items lie in one vertex record: one address per corner serves both.
  const auto* base = reinterpret_cast<const uint8_t*>(pos.Data());
  const std::ptrdiff_t uvAt = reinterpret_cast<const uint8_t*>(uv.Data()) - base;
  const std::size_t stride = pos.Stride();
  const unsigned triangles = chunk.GetIndexCount() / 3;
  // A triangle that does not count adds zero, which leaves a sum as it is
  // (neither sum is ever -0).
  auto add = [&sums](uint8_t counts, float sum, float twice) {
    sums.weighted += counts ? double{sum} : 0.0;
    sums.total += counts ? double{twice} : 0.0;
  };
  unsigned pending = 0, side = 0;  // the block before: its size and arrays
  for (unsigned first = 0; first < triangles; first += kBlock, side ^= 1) {
    const unsigned n = std::min(kBlock, triangles - first);
    const unsigned before = side ^ 1;
    const uint16_t* at = index + 3 * first;
    for (unsigned i = 0; i < n; ++i, at += 3) {
      if (i < pending) add(counts[before][i], sum[before][i], twice[before][i]);
      const uint8_t* f = base + at[0] * stride;
      const uint8_t* d = base + at[1] * stride;
      const uint8_t* y = base + at[2] * stride;
      const Vector3& pf = *reinterpret_cast<const Vector3*>(f);
      const Vector3 a = *reinterpret_cast<const Vector3*>(d) - pf, b = *reinterpret_cast<const Vector3*>(y) - pf;
      const Vak::TexCoord& uf = *reinterpret_cast<const Vak::TexCoord*>(f + uvAt);
      const Vak::TexCoord& ud = *reinterpret_cast<const Vak::TexCoord*>(d + uvAt);
      const Vak::TexCoord& uy = *reinterpret_cast<const Vak::TexCoord*>(y + uvAt);
      const float du1 = ud.u - uf.u, dv1 = ud.v - uf.v;
      const float du2 = uy.u - uf.u, dv2 = uy.v - uf.v;
      e1[i] = a.Dot(a);
      e2[i] = b.Dot(b);
      t1[i] = du1 * du1 + dv1 * dv1;
      t2[i] = du2 * du2 + dv2 * dv2;
    }
    for (unsigned i = n; i < pending; ++i) add(counts[before][i], sum[before][i], twice[before][i]);
    for (unsigned i = 0; i < n; ++i) {
      const float lt1 = std::sqrt(t1[i]), lt2 = std::sqrt(t2[i]);
      const float l1 = std::sqrt(e1[i]), l2 = std::sqrt(e2[i]);
      counts[side][i] = lt1 * lt2 > 0.00001f;
      r1[i] = l1 / lt1;
      r2[i] = l2 / lt2;
      const float w = l1 * l2 * 0.5f;
      sum[side][i] = w * r1[i] + w * r2[i];
      twice[side][i] = 2 * w;
    }
    // The largest ratio does not depend on the order (a NaN never
    // counts), so four runs of it go side by side, written out so that
    // they stay in registers.
    float top[4] = {sums.largest, 0, 0, 0};
    const uint8_t* counted = counts[side];
    auto widen = [&](float& run, unsigned i) {
      const float wider = std::max({run, r1[i], r2[i]});
      run = counted[i] ? wider : run;
    };
    unsigned i = 0;
    for (; i + 4 <= n; i += 4) {
      widen(top[0], i);
      widen(top[1], i + 1);
      widen(top[2], i + 2);
      widen(top[3], i + 3);
    }
    for (; i < n; ++i) widen(top[i & 3], i);
    sums.largest = std::max({top[0], top[1], top[2], top[3]});
    pending = n;
  }
  for (unsigned i = 0; i < pending; ++i) add(counts[side ^ 1][i], sum[side ^ 1][i], twice[side ^ 1][i]);
}

} // namespace

void VelmarIndexedMeshDefinition::CalculateExtents(bool textureScale) {
  // One chunk at a time, so that its vertices are still in the cache for
  // each step; what spans chunks is carried over in chunk order.
  Vector3 hi(-3.4028235e38f, -3.4028235e38f, -3.4028235e38f), lo(3.4028235e38f, 3.4028235e38f, 3.4028235e38f);
  bool any = false;
  TextureScaleSums sums;
  std::vector<Vector3> corners;
  corners.reserve(8 * std::size_t{chunks_->Count()});
  for (unsigned c = 0; c < chunks_->Count(); ++c) {
    const GeometryChunk* chunk = chunks_->Get(c);
    if (chunk == nullptr) continue;
    auto pos = chunk->GetItem<Vector3>(Vak::kItemPosition);
    Vak::OrientedBox box;
    if (pos) {
      // A chunk's bounds start from the extremes: std::max keeps the first
      // of equal values, so widening by them after the chunks before gives
      // what one fold over all the vertices would.
      const PositionSums& sums = positionSums_[c];
      any = true;
      hi = Vector3(std::max(hi.x, sums.high.x), std::max(hi.y, sums.high.y), std::max(hi.z, sums.high.z));
      lo = Vector3(std::min(lo.x, sums.low.x), std::min(lo.y, sums.low.y), std::min(lo.z, sums.low.z));
      box.SetAroundPoints(pos.Data(), chunk->GetVertexCount(), pos.Stride(), sums.sum);
    }
    if (textureScale) AddTextureScale(*chunk, sums);
    corners.resize(corners.size() + 8);
    box.CalcCorners(&corners[corners.size() - 8]);
  }
  boundsMax_ = any ? hi : Vector3();
  boundsMin_ = any ? lo : Vector3();
  if (textureScale) {
    const double average = sums.total > 0 ? sums.weighted / sums.total : 0;
    textureScale_ = std::min(sums.largest, static_cast<float>(8 * average));
  }
  if (!corners.empty()) bounds_.SetAroundCorners(corners.data(), static_cast<unsigned>(corners.size() / 8));
}

// Accessors for instances and tools.

int VelmarIndexedMeshDefinition::GetPrimitiveType(unsigned chunk) const {
  const GeometryChunk* c = chunks_->Get(chunk);
  return c ? c->GetGeometryType() : 0;
}

unsigned VelmarIndexedMeshDefinition::GetIndexCount(unsigned chunk) const {
  const GeometryChunk* c = chunks_->Get(chunk);
  return c ? c->GetIndexCount() : 0;
}

unsigned VelmarIndexedMeshDefinition::GetSecondSize(unsigned chunk) const {
  const GeometryChunk* c = chunks_->Get(chunk);
  return c ? c->GetSecondSize() : 0;
}

unsigned VelmarIndexedMeshDefinition::GetTextureSetCount(unsigned chunk) const {
  const GeometryChunk* c = chunks_->Get(chunk);
  return c ? std::min<unsigned>(c->GetVertexType().TexCoordSets(), Vak::VertexType::kMaxTexCoordSets) : 0;
}

unsigned VelmarIndexedMeshDefinition::GetMaxInfluencesOnOneVertex(unsigned chunk) const {
  std::vector<unsigned> counts;
  unsigned most = 0;
  for (const Vak::InfluenceDefinition& influence : influences_)
    for (const Vak::InfluenceDefinition::Group& group : influence.Groups()) {
      if (group.chunk != chunk) continue;
      for (const Vak::InfluenceDefinition::Entry& e : group.entries) {
        if (e.vertex >= counts.size()) counts.resize(e.vertex + 1, 0);
        most = std::max(most, ++counts[e.vertex]);
      }
    }
  return most;
}

namespace {

template <class T>
bool CopyItem(const GeometryChunk* chunk, int item, void* out, unsigned stride) {
  if (chunk == nullptr || out == nullptr) return false;
  auto source = chunk->GetItem<T>(item);
  if (!source) return false;
  for (unsigned v = 0; v < chunk->GetVertexCount(); ++v)
    std::memcpy(static_cast<uint8_t*>(out) + std::size_t(v) * stride, source(v), sizeof(T));
  return true;
}

} // namespace

bool VelmarIndexedMeshDefinition::CopyPositions(unsigned chunk, void* out, unsigned stride) const {
  return CopyItem<Vector3>(chunks_->Get(chunk), Vak::kItemPosition, out, stride);
}

bool VelmarIndexedMeshDefinition::CopyTextureSet(unsigned chunk, unsigned set, void* out, unsigned stride) const {
  const GeometryChunk* c = chunks_->Get(chunk);
  if (c == nullptr) return false;
  unsigned found = 0;
  for (int item = Vak::kItemTexCoord0; item <= Vak::kItemTexCoord7; ++item) {
    if (!c->GetVertexType().Has(item)) continue;
    if (found++ == set) return CopyItem<Vak::TexCoord>(c, item, out, stride);
  }
  return false;
}

bool VelmarIndexedMeshDefinition::CopyIndices(unsigned chunk, uint16_t* out) const {
  const GeometryChunk* c = chunks_->Get(chunk);
  if (c == nullptr || out == nullptr) return false;
  std::copy(c->GetIndices(), c->GetIndices() + c->GetIndexCount(), out);
  return true;
}

bool VelmarIndexedMeshDefinition::CopyNormals(unsigned chunk, void* out, unsigned stride) const {
  return CopyItem<Vector3>(chunks_->Get(chunk), Vak::kItemNormal, out, stride);
}

bool VelmarIndexedMeshDefinition::CopyColours(unsigned chunk, uint32_t* out, unsigned stride, bool specular,
                                              uint32_t fill) const {
  const GeometryChunk* c = chunks_->Get(chunk);
  if (c == nullptr || out == nullptr) return false;
  if (CopyItem<uint32_t>(c, specular ? Vak::kItemSpecular : Vak::kItemColour, out, stride)) return true;
  for (unsigned v = 0; v < c->GetVertexCount(); ++v)
    std::memcpy(reinterpret_cast<uint8_t*>(out) + std::size_t(v) * stride, &fill, 4);
  return true;
}

bool VelmarIndexedMeshDefinition::CopyFaceNormals(unsigned chunk, Vector3* out) const {
  const GeometryChunk* c = chunks_->Get(chunk);
  if (c == nullptr || out == nullptr) return false;
  std::copy(c->GetFaceNormals(), c->GetFaceNormals() + c->GetFaceCount(), out);
  return true;
}

PString VelmarIndexedMeshDefinition::GetMaterialName(unsigned material) const {
  return material < records_.size() ? records_[material].decoratedName : PString();
}

const std::vector<VelmarIndexedMeshDefinition::Texture>* VelmarIndexedMeshDefinition::GetMaterialTextures(
    unsigned material) const {
  return material < records_.size() ? &records_[material].textures : nullptr;
}

bool VelmarIndexedMeshDefinition::GetMaterialFlag(unsigned material) const {
  const Vak::Material* m = materials_->Get(material);
  return m != nullptr && (m->GetFlags() & 1u) != 0;
}

float VelmarIndexedMeshDefinition::GetMaterialValue(unsigned material) const {
  const Vak::Material* m = materials_->Get(material);
  return m ? m->GetValue() : 0.0f;
}

Vak::DisplayMaterial VelmarIndexedMeshDefinition::GetDisplayMaterial(unsigned material) const {
  const Vak::Material* m = materials_->Get(material);
  return m ? m->GetDisplayMaterialProperties() : Vak::DisplayMaterial();
}

unsigned VelmarIndexedMeshDefinition::GetMaterialPropertyCount(unsigned material) const {
  const Vak::Material* m = materials_->Get(material);
  return m ? m->GetNumProperties() : 0;
}

char* VelmarIndexedMeshDefinition::CopyMaterialProperty(unsigned material, unsigned property, bool value) const {
  const Vak::Material* m = materials_->Get(material);
  if (m == nullptr || property >= m->GetNumProperties()) return nullptr;
  const PString& text = value ? m->GetPropertyValue(property) : m->GetPropertyName(property);
  char* out = static_cast<char*>(Vak::Alloc::New(text.Length() + 1));
  std::memcpy(out, text.c_str(), text.Length() + 1);
  return out;
}

PString VelmarIndexedMeshDefinition::GetInfluenceName(unsigned i) const {
  return i < influences_.size() ? influences_[i].GetName() : PString();
}

PString VelmarIndexedMeshDefinition::GetInfluenceParentName(unsigned i) const {
  return i < influences_.size() ? influences_[i].GetParentName() : PString();
}

Vector3 VelmarIndexedMeshDefinition::GetInfluencePosition(unsigned i) const {
  return i < influences_.size() ? influences_[i].GetPosition() : Vector3();
}

Vak::Quaternion VelmarIndexedMeshDefinition::GetInfluenceRotation(unsigned i) const {
  return i < influences_.size() ? influences_[i].GetRotation() : Vak::Quaternion();
}

unsigned VelmarIndexedMeshDefinition::GetInfluenceGroupCount(unsigned i) const {
  return i < influences_.size() ? influences_[i].GetNumGroups() : 0;
}

unsigned VelmarIndexedMeshDefinition::GetInfluenceGroupChunk(unsigned i, unsigned group) const {
  return i < influences_.size() && group < influences_[i].GetNumGroups() ? influences_[i].GetGroup(group).chunk : 0;
}

unsigned VelmarIndexedMeshDefinition::GetInfluenceGroupEntryCount(unsigned i, unsigned group) const {
  return i < influences_.size() && group < influences_[i].GetNumGroups()
             ? static_cast<unsigned>(influences_[i].GetGroup(group).entries.size())
             : 0;
}

bool VelmarIndexedMeshDefinition::CopyInfluenceGroupEntries(unsigned i, unsigned group,
                                                            Vak::InfluenceDefinition::Entry* out) const {
  if (i >= influences_.size() || group >= influences_[i].GetNumGroups() || out == nullptr) return false;
  const auto& entries = influences_[i].GetGroup(group).entries;
  std::copy(entries.begin(), entries.end(), out);
  return true;
}

PString VelmarIndexedMeshDefinition::GetAttachmentPointName(unsigned i) const {
  return i < attachmentPoints_.size() ? attachmentPoints_[i].name : PString();
}

Vak::Quaternion VelmarIndexedMeshDefinition::GetAttachmentPointRotation(unsigned i) const {
  Vak::Quaternion q;
  if (i < attachmentPoints_.size()) q.Set(Vak::Matrix3::FromFloats(attachmentPoints_[i].matrix));
  return q;
}

Vector3 VelmarIndexedMeshDefinition::GetAttachmentPointPosition(unsigned i) const {
  if (i >= attachmentPoints_.size()) return Vector3();
  const float* p = attachmentPoints_[i].position;
  return Vector3(p[0], p[1], p[2]);
}

// Building from a text geometry config.

namespace {

// A colour given as floats, in the display's order.
uint32_t PackColour(const float* rgba) {
  auto byte = [](float v) { return static_cast<uint32_t>(std::lround(UnitFraction(v) * 255.0f)); };
  return Vak::Display::ConvertColor(byte(rgba[3]) << 24 | byte(rgba[0]) << 16 | byte(rgba[1]) << 8 | byte(rgba[2]));
}

Vak::Colour ToColour(const float* rgba) { return {rgba[0], rgba[1], rgba[2], rgba[3]}; }

} // namespace

unsigned long* VelmarIndexedMeshDefinition::LoadConfigFile(unsigned long* result, Vak::Display* display,
                                                           Vak::MaterialManager* manager,
                                                           VelmarMeshResource* resource, const char* name,
                                                           uint32_t defaultColour) {
  PString path(name);
  if (resource != nullptr && resource->GetDatabase() != nullptr) path = resource->GetDatabase()->GetFileName(path);
  fileName_ = path;
  if (path.IsNull()) return Done(result, kNoData);
  Vak::ConfigParser parser;
  const int parsed = parser.Parse(path.c_str());
  if (parsed == Vak::ConfigParser::kNoFile || parsed == Vak::ConfigParser::kMalformed ||
      parsed == Vak::ConfigParser::kBadVersion)
    return Done(result, static_cast<unsigned long>(parsed));
  if (parsed != Vak::ConfigParser::kOk) return Done(result, 1);
  if (parser.GetData() == nullptr) return Done(result, kMalformed);
  return BuildFromConfig(result, display, manager, resource, *parser.GetData(), defaultColour);
}

unsigned long* VelmarIndexedMeshDefinition::BuildFromConfig(unsigned long* result, Vak::Display* display,
                                                            Vak::MaterialManager* manager,
                                                            VelmarMeshResource* resource, const Vak::ConfigData& data,
                                                            uint32_t defaultColour) {
  if (manager == nullptr) return Done(result, kNoMaterialManager);
  display_ = display;
  manager_ = manager;
  resource_ = resource;
  defaultColour_ = defaultColour;
  Vak::GeometryConfigData config;
  // What was read before a failure is not a whole mesh, whether or not the
  // config named a maximum vertex count.
  if (!config.Load(data, fileName_.IsNull() ? "" : fileName_.c_str())) return Done(result, kMalformed);
  AskDisplay(display);
  position_ = config.GetPosition();
  orientation_ = config.GetOrientation();
  chunkCount_ = static_cast<int>(config.GetNumChunks());
  maxInfluences_ = config.GetMaxInfluencesPerVertex();
  maxMatrices_ = config.GetMaxMatricesPerChunk();
  chunks_->Resize(0);
  materials_->Resize(0);
  records_.clear();
  storedRecords_.clear();
  chunkNames_.clear();
  positionSums_.clear();
  for (unsigned i = 0; i < config.GetNumChunks(); ++i) {
    if (*CreateMaterial(result, config, i) != kOk) return result;
    if (*BuildConfigChunk(result, config, i) != kOk) return result;
  }
  BuildConfigInfluences(config);
  BuildConfigAttachmentPoints(config);
  SumTotals();
  BuildSkeletonFromInfluences();
  PrepareInfluences();
  CalculateExtents(true);
  return Done(result, kOk);
}

unsigned long* VelmarIndexedMeshDefinition::CreateMaterial(unsigned long* result,
                                                           const Vak::GeometryConfigData& config, unsigned slot) {
  const Vak::GeometryConfigData::Material& in = config.GetChunk(slot).material;
  MaterialRecord record;
  std::vector<const char*> textureNames;
  for (const Vak::AnsiString& name : in.textures) {
    Texture texture;
    texture.file = static_cast<const char*>(name);
    record.textures.push_back(texture);
    textureNames.push_back(name);
  }
  for (const auto& [key, value] : in.properties)
    record.properties.emplace_back(static_cast<const char*>(key), static_cast<const char*>(value));
  record.flag = in.flag;
  record.value = in.value;
  record.display.diffuse = ToColour(in.diffuse);
  record.display.ambient = ToColour(in.ambient);
  record.display.specular = ToColour(in.specular);
  record.display.emissive = ToColour(in.emissive);
  record.display.power = in.exponent * 128.0f;
  const char* type = in.typeName;
  if (std::strstr(type, Vak::Material::DecoratedTypeToken()) != nullptr) {
    record.decoratedName = type;
  } else {
    std::string stem = fileName_.IsNull() ? std::string() : FileNamePart(fileName_.c_str());
    if (const std::size_t dot = stem.rfind('.'); dot != std::string::npos) stem.resize(dot);
    // A draw in the C runtime's rand range, from the kernel's generator.
    const int drawn = Vak::Kernel::GlobalRand().NextInt(0, 0x7fff);
    record.decoratedName.Setf("VelmarIndexedMeshDefinition::CreateMaterial> *%s*%x*%s*", stem.c_str(),
                              static_cast<unsigned>(drawn), type);
    if (!Vak::Material::VerifyDecoratedName(record.decoratedName.c_str(), static_cast<unsigned>(textureNames.size()),
                                            textureNames.data()))
      return Done(result, kMalformed);
  }
  // Stored as a MATL holds it: the type name undecorated, the fourth colour
  // doubled (a MATL's is halved when read).
  MaterialRecord stored = record;
  stored.decoratedName = type;
  Vak::Colour& e = stored.display.emissive;
  e = {e.r * 2, e.g * 2, e.b * 2, e.a * 2};
  KeepRecords(slot, record, stored);
  return BindChunkMaterial(result, manager_, resource_, slot, records_[slot]);
}

unsigned long* VelmarIndexedMeshDefinition::BuildConfigChunk(unsigned long* result,
                                                             const Vak::GeometryConfigData& config, unsigned slot) {
  const Vak::GeometryConfigData::Chunk& in = config.GetChunk(slot);
  const uint32_t vertices = in.GetVertexCount(), indices = in.GetIndexCount(), faces = in.GetFaceNormalCount();
  const uint32_t sets = in.texCoordSets, weights = in.weightsPerVertex;
  const Vak::StandardChunkHint hint = ChunkHint(sets, weights, true);
  if (chunkNames_.size() <= slot) chunkNames_.resize(slot + 1);
  const char* name = in.name;
  chunkNames_[slot] = *name == 0 ? PString() : PString(name);
  Vak::Material* material = materials_->Get(slot);
  if (material == nullptr) return Done(result, kMalformed);
  GeometryChunk* chunk = material->CreateGeometryChunk(vertices, in.secondSize, indices, faces, 0, hint);
  if (chunk == nullptr) return Done(result, kMalformed);
  chunks_->Set(slot, chunk);

  PresetWeights(*chunk, hint, vertices, weights);
  PositionSums sums;
  if (auto pos = chunk->GetItem<Vector3>(Vak::kItemPosition); pos && vertices > 0)
    CopyInPositions(reinterpret_cast<const uint8_t*>(in.positions.data()), sizeof(Vector3), vertices, pos, sums.sum,
                    sums.low, sums.high);
  if (positionSums_.size() <= slot) positionSums_.resize(slot + 1);
  positionSums_[slot] = sums;
  const uint32_t usable = std::min<uint32_t>(sets, Vak::VertexType::kMaxTexCoordSets);
  for (uint32_t j = 0; j < usable; ++j)
    if (auto uv = chunk->GetItem<Vak::TexCoord>(Vak::kItemTexCoord0 + int(j)))
      for (uint32_t v = 0; v < vertices; ++v) {
        const float* at = &in.texCoords[2 * (std::size_t{v} * sets + j)];
        *uv(v) = {at[0], at[1]};
      }
  if (indices > 0) std::copy(in.indices.begin(), in.indices.end(), chunk->GetIndices());
  if (auto normal = chunk->GetItem<Vector3>(Vak::kItemNormal))
    for (uint32_t v = 0; v < vertices && v < in.normals.size(); ++v) *normal(v) = in.normals[v];
  auto diffuse = chunk->GetItem<uint32_t>(Vak::kItemColour);
  auto specular = chunk->GetItem<uint32_t>(Vak::kItemSpecular);
  const bool coloured = in.colours.size() >= std::size_t{8} * vertices && vertices > 0;
  for (uint32_t v = 0; v < vertices; ++v) {
    if (diffuse) diffuse[v] = coloured ? PackColour(&in.colours[8 * v]) : defaultColour_;
    if (specular && coloured) specular[v] = PackColour(&in.colours[8 * v + 4]);
  }
  if (faces > 0) std::copy(in.faceNormals.begin(), in.faceNormals.end(), chunk->GetFaceNormals());
  return Done(result, kOk);
}

void VelmarIndexedMeshDefinition::BuildConfigInfluences(const Vak::GeometryConfigData& config) {
  for (unsigned i = 0; i < config.GetNumInfluences(); ++i) {
    const Vak::GeometryConfigData::Influence& in = config.GetInfluence(i);
    Vak::InfluenceDefinition influence(static_cast<const char*>(in.name), static_cast<const char*>(in.parentName),
                                       in.position, in.matrix);
    // As INFL: a group without entries is not kept.
    for (const Vak::InfluenceDefinition::Group& group : in.groups)
      if (!group.entries.empty()) influence.AddGroup(group);
    influences_.push_back(std::move(influence));
  }
}

void VelmarIndexedMeshDefinition::BuildConfigAttachmentPoints(const Vak::GeometryConfigData& config) {
  for (unsigned i = 0; i < config.GetNumAttachmentPoints(); ++i) {
    const Vak::GeometryConfigData::AttachmentPoint& in = config.GetAttachmentPoint(i);
    AttachmentPoint point;
    point.name = static_cast<const char*>(in.name);
    in.orientation.GetMatrix().ToFloats(point.matrix);
    point.position[0] = in.position.x;
    point.position[1] = in.position.y;
    point.position[2] = in.position.z;
    attachmentPoints_.push_back(point);
  }
}

bool CollisionGeometrySharingInterface::GetTriangle(uint32_t id, Vector3 corners[3]) const {
  const unsigned chunk = id >> 16;
  if (chunk >= static_cast<unsigned>(std::max(definition_.GetChunkCount(), 0))) return false;
  const GeometryChunk* c = definition_.GetChunk(chunk);
  if (c == nullptr) return false;
  const auto positions = c->GetItem<Vector3>(Vak::kItemPosition);
  const std::size_t first = 3 * std::size_t(id & 0xFFFF);
  if (!positions || first + 3 > c->GetIndexCount()) return false;
  for (int k = 0; k < 3; ++k) {
    const unsigned index = c->GetIndices()[first + k];
    if (index >= c->GetVertexCount()) return false;
    corners[k] = positions[index];
  }
  return true;
}

std::unique_ptr<VLAxisBoxTree> VelmarIndexedMeshDefinition::BuildCollisionTree() {
  if (!collisionSharing_) collisionSharing_ = std::make_unique<CollisionGeometrySharingInterface>(*this);
  auto tree = std::make_unique<VLAxisBoxTree>();
  tree->BeginBuild(collisionSharing_.get());
  for (int chunk = 0; chunk < chunkCount_; ++chunk) {
    const GeometryChunk* c = chunks_->Get(static_cast<unsigned>(chunk));
    if (c == nullptr) continue;
    const unsigned triangles = c->GetIndexCount() / 3;
    for (unsigned t = 0; t < triangles; ++t) {
      // A triangle the identifier cannot name (past the chunk or triangle
      // limit) or whose corners cannot be read goes in with an identifier
      // the tree refuses and counts: never under another triangle's.
      uint32_t id = UINT32_MAX;
      Vector3 corners[3];
      if (static_cast<uint32_t>(chunk) < VLAxisBoxTree::kChunkLimit && t < VLAxisBoxTree::kTrianglesPerChunk) {
        const uint32_t named = static_cast<uint32_t>(chunk) << 16 | t;
        if (collisionSharing_->GetTriangle(named, corners)) id = named;
      }
      tree->AddTriangle(corners[0], corners[1], corners[2], id);
    }
  }
  if (!tree->FinishBuild()) return nullptr;
  return tree;
}

class VelmarIndexedMeshDefinition::CollisionRequest : public OverlappedResource {
public:
  CollisionRequest(OverlappedResourceSystem* loader, VelmarIndexedMeshDefinition& definition)
      : OverlappedResource(loader, &definition.collisionLink_), definition_(definition) {}
  // A queued build never runs, a running one ends, before this part goes.
  ~CollisionRequest() override {
    if (GetState() == kQueued || GetState() == kRunning) GetSystem()->CancelOrWait(this);
  }
  bool Load() override {
    tree_ = definition_.BuildCollisionTree();
    return true;
  }
  std::unique_ptr<VLAxisBoxTree> TakeTree() { return std::move(tree_); }

private:
  VelmarIndexedMeshDefinition& definition_;
  std::unique_ptr<VLAxisBoxTree> tree_;
};

void VelmarIndexedMeshDefinition::RequestCollisionTree() {
  if (collisionTree_ || collisionRequested_) return;
  collisionRequested_ = true;
  if (OverlappedResourceSystem* loader = OverlappedResourceSystem::Get()) {
    auto request = std::make_unique<CollisionRequest>(loader, *this);
    request->SetName(fileName_.c_str());
    if (loader->Submit(request.get())) {
      collisionRequest_ = std::move(request);
      return;
    }
  }
  // Without a loader, or with its queue full, the tree is built here.
  collisionTree_ = BuildCollisionTree();
}

const VLAxisBoxTree* VelmarIndexedMeshDefinition::GetCollisionTree() {
  if (collisionTree_) return collisionTree_.get();
  RequestCollisionTree();
  return FindCollisionTree();
}

const VLAxisBoxTree* VelmarIndexedMeshDefinition::FindCollisionTree() {
  if (collisionTree_) return collisionTree_.get();
  if (collisionRequest_ && collisionRequest_->GetState() == OverlappedResource::kDone) {
    collisionRequest_->GetSystem()->Collect(collisionRequest_.get());
    collisionTree_ = collisionRequest_->TakeTree();
    collisionRequest_.reset();
  }
  return collisionTree_.get();
}
