#include "assets3d/VelmarIndexedMeshLODDefinition.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "Vak/Bexlorn/ByteOrder.h"
#include "Vak/Bexlorn/CodePage.h"
#include "Vak/Bexlorn/File.h"
#include "Vak/Cindrel/ResourceDatabase.h"
#include "assets3d/MeshFile.h"
#include "engine/elthrac/ParticleBone.h"
#include "engine/kernelx/Matrix3.h"

using Vak::GeometryChunk;
using Vak::MemoryFile;
using Vak::PString;
using Vak::Vector3;
using namespace MeshFile;

namespace {

constexpr uint32_t kLodMesh = Vak::FourCC("LODM");
constexpr uint32_t kMaterialTable = Vak::FourCC("MATT");
constexpr uint32_t kBoneTable = Vak::FourCC("BONT");
constexpr uint32_t kRootBones = Vak::FourCC("RBOT");
constexpr uint32_t kLevel = Vak::FourCC("MESH");
constexpr uint32_t kLevelBones = Vak::FourCC("LODB");
constexpr uint32_t kLevelChunk = Vak::FourCC("LCHK");

// Smallest records, for checking a count against the bytes left.
constexpr uint64_t kMinBone = 4 + 4 + 12 + 36;
constexpr uint64_t kMinMaterial = 12 + 4 + 4 + 4 + 4 + 48 + 4 + 4;
constexpr uint64_t kMinLevel = 12 + 16;
constexpr uint64_t kMinLevelChunk = 12 + 8 + 12;
constexpr uint64_t kGroupHeader = 8;

bool WriteFloats(Vak::File& file, const float* values, unsigned n) {
  for (unsigned i = 0; i < n; ++i)
    if (!file.Write(values[i])) return false;
  return true;
}

// Tag, back-patched size, version, then what `body` writes.
template <class Body>
bool WriteChunk(Vak::File& file, uint32_t tag, uint32_t version, Body body) {
  if (!file.Write(tag)) return false;
  const uint32_t mark = Vak::MeshFileSupport::MarkSizePos(file);
  return file.Write(version) && body() && Vak::MeshFileSupport::WriteSizeAtMark(file, mark);
}

const char* TextOf(const PString& text) { return text.IsNull() ? "" : text.c_str(); }

uint32_t PrimitiveCodeOf(int geometryType) {
  switch (geometryType) {
  case 5: return 0;
  case 3: return 1;
  case 4: return 2;
  case 0: return 4;
  case 1: return 8;
  case 2: return 16;
  default: return 0;
  }
}

void AppendFloat(std::string& out, float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, 4);
  Vak::AppendLE32(out, bits);
}

void AppendVector(std::string& out, const Vector3& v) {
  AppendFloat(out, v.x);
  AppendFloat(out, v.y);
  AppendFloat(out, v.z);
}

} // namespace

VelmarIndexedMeshLODDefinition::VelmarIndexedMeshLODDefinition(const MeshGeometryOptions& options)
    : VelmarIndexedMeshDefinition(options), table_(new SharedRefArray<Vak::Material>) {}

VelmarIndexedMeshLODDefinition::~VelmarIndexedMeshLODDefinition() {
  for (Level& level : levels_) {
    if (level.chunks != nullptr) level.chunks->ReleaseReference();
    if (level.materials != nullptr) level.materials->ReleaseReference();
  }
  table_->ReleaseReference();
}

void VelmarIndexedMeshLODDefinition::EnterLevel(Level& level) {
  std::swap(chunks_, level.chunks);
  std::swap(materials_, level.materials);
  chunkNames_.swap(level.chunkNames);
  positionSums_.swap(level.positionSums);
  std::swap(chunkCount_, level.chunkCount);
  std::swap(maxInfluences_, level.maxInfluences);
  std::swap(maxMatrices_, level.maxMatrices);
  std::swap(hardwareSkinning_, level.hardwareSkinning);
}

void VelmarIndexedMeshLODDefinition::LeaveLevel(Level& level) { EnterLevel(level); }

unsigned long* VelmarIndexedMeshLODDefinition::ReadMeshFile(unsigned long* result, Vak::Display* display,
                                                            Vak::MaterialManager* manager,
                                                            VelmarMeshResource* resource, const char* name,
                                                            uint32_t defaultColour) {
  AskDisplay(display);
  SetReadContext(display, manager, resource, defaultColour);
  if (!LoadMemoryFile(resource, name)) return Done(result, kNoData);
  if (unsigned long code = ReadAll(memoryFile_); code != kOk) return Done(result, code);

  fileName_ = FileNamePart(memoryFile_.Name());
  BuildSkeletonFromBoneTable();
  PrepareInfluences();
  // The current data first, so that the bounds come from its chunks; the
  // definition's own chunk table was empty for the texture scale.
  MakeCurrent(static_cast<unsigned>(distances_.size() - 1));
  bounds_ = Vak::OrientedBox();
  // Settled now: another level's data may be current when it is asked for.
  CalculateExtents(false);
  SettleExtents();
  textureScale_ = 0;
  CollectCulledAttachments();
  memoryFile_.Close();
  return Done(result, kOk);
}

unsigned long VelmarIndexedMeshLODDefinition::ReadAll(MemoryFile& file) {
  if (Result r = ReadContainerHeader(file, kLodMesh, ContainerEndRef()); r != kOk) return r;
  unsigned long code = kOk;
  if (*ReadInfoChunk(&code, file) != kOk) return code;
  if (*ReadMaterialTableChunk(&code, file) != kOk) return code;
  if (*ReadBoneTableChunk(&code, file) != kOk) return code;
  if (*ReadRootBones(&code, file) != kOk) return code;
  if (*ReadAttachmentChunk(&code, file) != kOk) return code;
  if (!CountFits(file, levelCount_, kMinLevel)) return kMalformed;
  levels_.resize(levelCount_);
  for (unsigned i = 0; i < levelCount_; ++i)
    if (*ReadLevelChunk(&code, file, i) != kOk) return code;
  // A named level must name a level the file holds.
  for (const NamedLevel& named : namedLevels_)
    if (named.level >= levels_.size()) return kMalformed;
  if (distances_.empty()) return kMalformed;
  for (Level& level : levels_) {
    level.totalVertices = level.totalFaces = 0;
    for (unsigned c = 0; level.chunks != nullptr && c < level.chunks->Count(); ++c)
      if (const GeometryChunk* chunk = level.chunks->Get(c)) {
        level.totalVertices += static_cast<int>(chunk->GetVertexCount());
        level.totalFaces += static_cast<int>(chunk->GetFaceCount());
      }
  }
  if (file.Tell() != ContainerEnd()) return kMalformed;
  return kOk;
}

unsigned long* VelmarIndexedMeshLODDefinition::ReadInfoChunk(unsigned long* result, MemoryFile& file) {
  ChunkHeader h;
  if (Result r = ReadChunkHeader(file, kInfo, ContainerEnd(), h); r != kOk) return Done(result, r);
  if (h.version != 100) return Done(result, kBadVersion);
  uint32_t calc = 0, named = 0;
  const bool ok = file.Read(position_.x) && file.Read(position_.y) && file.Read(position_.z) &&
                  file.Read(orientation_.x) && file.Read(orientation_.y) && file.Read(orientation_.z) &&
                  file.Read(orientation_.w) && file.Read(levelCount_) && file.Read(calc) && file.Read(offset_) &&
                  file.Read(multiplier_) && file.Read(animationCutOff_) && file.Read(renderCutOff_) &&
                  file.Read(attachmentCutOff_) && file.Read(named) && CountFits(file, named, 8);
  if (!ok) return Done(result, kMalformed);
  calcPoint_ = static_cast<CalcPoint>(calc);
  namedLevels_.clear();
  for (uint32_t i = 0; i < named; ++i) {
    NamedLevel level;
    if (!file.Read(level.level) || !ReadPaddedString(file, level.name)) return Done(result, kMalformed);
    uint8_t animated = 0;
    if (file.Tell() < h.end) file.Read(&animated, 1);
    level.animated = animated != 0;
    namedLevels_.push_back(level);
  }
  return Done(result, file.Tell() == h.end ? kOk : kMalformed);
}

unsigned long* VelmarIndexedMeshLODDefinition::ReadMaterialTableChunk(unsigned long* result, MemoryFile& file) {
  ChunkHeader h;
  if (Result r = ReadChunkHeader(file, kMaterialTable, ContainerEnd(), h); r != kOk) return Done(result, r);
  if (h.version != 100) return Done(result, kBadVersion);
  uint32_t count = 0;
  if (!file.Read(count) || !CountFits(file, count, kMinMaterial)) return Done(result, kMalformed);
  table_->Resize(0);
  stored_.clear();
  // The base binding stores into materials_: here that is the table.
  std::swap(materials_, table_);
  unsigned long code = kOk;
  for (uint32_t i = 0; i < count && code == kOk; ++i) ReadMaterialChunk(&code, file, i);
  std::swap(materials_, table_);
  if (code != kOk) return Done(result, code);
  return Done(result, file.Tell() == h.end ? kOk : kMalformed);
}

unsigned long* VelmarIndexedMeshLODDefinition::ReadMaterialChunk(unsigned long* result, MemoryFile& file,
                                                                 unsigned slot) {
  ChunkHeader h;
  if (Result r = ReadChunkHeader(file, kMaterial, ContainerEnd(), h); r != kOk) return Done(result, r);
  if (h.version != 103) return Done(result, kBadVersion);
  MaterialRecord stored;
  if (!ReadMaterialFields(file, stored)) return Done(result, kMalformed);
  if (stored_.size() <= slot) stored_.resize(slot + 1);
  stored_[slot] = stored;
  // The exponent is kept as stored here: no lower bound.
  return BindChunkMaterial(result, ReadManager(), ReadResource(), slot, DecorateMaterial(stored));
}

unsigned long* VelmarIndexedMeshLODDefinition::ReadBoneTableChunk(unsigned long* result, MemoryFile& file) {
  if (!NextTagIs(file, kBoneTable)) return Done(result, kOk);
  ChunkHeader h;
  if (Result r = ReadChunkHeader(file, kBoneTable, ContainerEnd(), h); r != kOk) return Done(result, r);
  if (h.version != 100) return Done(result, kBadVersion);
  uint32_t count = 0;
  if (!file.Read(count) || !CountFits(file, count, kMinBone)) return Done(result, kMalformed);
  bones_.clear();
  for (uint32_t i = 0; i < count; ++i) {
    BoneRecord bone;
    if (!ReadPaddedString(file, bone.name) || !ReadPaddedString(file, bone.parent) ||
        !ReadFloats(file, bone.position, 3) || !ReadFloats(file, bone.matrix, 9))
      return Done(result, kMalformed);
    bones_.push_back(std::move(bone));
  }
  hasBoneTable_ = true;
  return Done(result, file.Tell() == h.end ? kOk : kMalformed);
}

unsigned long* VelmarIndexedMeshLODDefinition::ReadRootBones(unsigned long* result, MemoryFile& file) {
  if (!NextTagIs(file, kRootBones)) return Done(result, kOk);
  ChunkHeader h;
  if (Result r = ReadChunkHeader(file, kRootBones, ContainerEnd(), h); r != kOk) return Done(result, r);
  if (h.version != 100) return Done(result, kBadVersion);
  uint32_t count = 0;
  if (!file.Read(count) || !CountFits(file, count, kMinBone)) return Done(result, kMalformed);
  for (uint32_t i = 0; i < count; ++i) {
    PString name, parentName;
    float position[3], matrix[9];
    if (!ReadPaddedString(file, name) || !ReadPaddedString(file, parentName) || !ReadFloats(file, position, 3) ||
        !ReadFloats(file, matrix, 9))
      return Done(result, kMalformed);
    if (parentName.Length() != 0 && rootBone_ == nullptr) return Done(result, kMalformed);
    auto* bone = new Vak::ParticleBone(name);
    bone->SetPosition(Vector3(position[0], position[1], position[2]));
    Vak::Quaternion rotation;
    rotation.Set(Vak::Matrix3::FromFloats(matrix));
    bone->SetOrientation(rotation);
    if (rootBone_ == nullptr) {
      ReplaceRootBone(bone);
      continue;
    }
    Vak::Particle* parent = parentName.Length() != 0 ? rootBone_->FindByName(parentName) : nullptr;
    (parent != nullptr ? parent : rootBone_)->AddChild(bone);
  }
  return Done(result, file.Tell() == h.end ? kOk : kMalformed);
}

unsigned long* VelmarIndexedMeshLODDefinition::ReadLevelChunk(unsigned long* result, MemoryFile& file,
                                                              unsigned index) {
  ChunkHeader h;
  if (Result r = ReadChunkHeader(file, kLevel, ContainerEnd(), h); r != kOk) return Done(result, r);
  if (h.version != 100) return Done(result, kBadVersion);
  Level& level = levels_[index];
  uint32_t count = 0;
  float distance = 0;
  if (!file.Read(count) || !file.Read(level.maxInfluences) || !file.Read(level.maxMatrices) ||
      !file.Read(distance) || !CountFits(file, count, kMinLevelChunk))
    return Done(result, kMalformed);
  level.hardwareSkinning = level.maxInfluences > 0 && level.maxInfluences <= influenceLimit_ &&
                           level.maxMatrices <= matrixLimit_ && capability26_ &&
                           !options_.softwareAnimation.SetAndTrue();
  if (distance != -1.0f) {
    if (!distances_.empty() && distance < distances_.back()) return Done(result, kMalformed);
    distances_.push_back(distance);
    if (distances_.size() != index + 1) return Done(result, kMalformed);
  } else {
    bool named = false;
    for (const NamedLevel& n : namedLevels_) named = named || n.level == index;
    if (!named) return Done(result, kMalformed);
  }
  level.chunks = new SharedRefArray<GeometryChunk>;
  level.materials = new SharedRefArray<Vak::Material>;
  level.chunkCount = static_cast<int>(count);
  EnterLevel(level);
  unsigned long code = kOk;
  ReadLevelBonesChunk(&code, file, index, h.end);
  for (unsigned j = 0; code == kOk && j < static_cast<unsigned>(chunkCount_);) {
    if (*ReadLevelChunkChunk(&code, file, j, h.end) != kOk) break;
    const GeometryChunk* chunk = chunks_->Get(j);
    if (chunk == nullptr || chunk->GetVertexCount() == 0 || chunk->GetFaceCount() == 0 ||
        chunk->GetIndexCount() == 0) {
      chunks_->Resize(j);
      materials_->Resize(j);
      if (chunkNames_.size() > j) chunkNames_.resize(j);
      if (positionSums_.size() > j) positionSums_.resize(j);
      --chunkCount_;
      continue;
    }
    ++j;
  }
  LeaveLevel(level);
  if (code != kOk) return Done(result, code);
  return Done(result, file.Tell() == h.end ? kOk : kMalformed);
}

unsigned long* VelmarIndexedMeshLODDefinition::ReadLevelBonesChunk(unsigned long* result, MemoryFile& file,
                                                                   unsigned level, uint64_t limit) {
  if (!NextTagIs(file, kLevelBones)) return Done(result, kOk);
  ChunkHeader h;
  if (Result r = ReadChunkHeader(file, kLevelBones, limit, h); r != kOk) return Done(result, r);
  if (h.version != 100) return Done(result, kBadVersion);
  for (BoneRecord& bone : bones_) {
    uint32_t groups = 0;
    if (!file.Read(groups) || !CountFits(file, groups, kGroupHeader)) return Done(result, kMalformed);
    std::vector<Vak::InfluenceDefinition::Group> set;
    for (uint32_t g = 0; g < groups; ++g) {
      Vak::InfluenceDefinition::Group group;
      if (!ReadInfluenceGroup(file, group)) return Done(result, kMalformed);
      if (group.entries.empty()) continue;
      set.push_back(std::move(group));
    }
    bone.levels.emplace_back(level, std::move(set));
  }
  return Done(result, file.Tell() == h.end ? kOk : kMalformed);
}

unsigned long* VelmarIndexedMeshLODDefinition::ReadLevelChunkChunk(unsigned long* result, MemoryFile& file,
                                                                   unsigned slot, uint64_t limit) {
  ChunkHeader h;
  if (Result r = ReadChunkHeader(file, kLevelChunk, limit, h); r != kOk) return Done(result, r);
  if (h.version != 100) return Done(result, kBadVersion);
  uint32_t ignored = 0, material = 0;
  if (!file.Read(ignored) || !file.Read(material)) return Done(result, kMalformed);
  // The index comes from the file: it must name an entry of the table.
  Vak::Material* shared = table_->Get(material);
  if (shared == nullptr) return Done(result, kMalformed);
  shared->AddReference();
  materials_->Set(slot, shared);
  if (*ReadGeometryChunk(result, file, slot) != kOk) return result;
  if (file.Tell() < h.end && *ReadNeighbourChunk(result, file, slot) != kOk) return result;
  return Done(result, file.Tell() == h.end ? kOk : kMalformed);
}

unsigned long* VelmarIndexedMeshLODDefinition::ReadGeometryChunk(unsigned long* result, MemoryFile& file,
                                                                 unsigned slot) {
  return ReadGeometry(result, file, slot, true);
}

unsigned long* VelmarIndexedMeshLODDefinition::ReadNeighbourChunk(unsigned long* result, MemoryFile& file,
                                                                  unsigned slot) {
  return VelmarIndexedMeshDefinition::ReadNeighbourChunk(result, file, slot);
}

void VelmarIndexedMeshLODDefinition::BuildSkeletonFromBoneTable() {
  if (!hasBoneTable_ || bones_.empty()) return;
  std::vector<Vak::ParticleBone*> created;
  std::vector<PString> parents;
  for (const BoneRecord& record : bones_) {
    auto* bone = new Vak::ParticleBone(record.name);
    bone->SetPosition(Vector3(record.position[0], record.position[1], record.position[2]));
    Vak::Quaternion rotation;
    rotation.Set(Vak::Matrix3::FromFloats(record.matrix));
    bone->SetOrientation(rotation);
    created.push_back(bone);
    parents.push_back(record.parent);
  }
  Vak::ParticleBone* root = LinkBones(created, parents);
  if (root == nullptr) return;
  // The names each bone was linked under are what a write gives back.
  for (std::size_t i = 0; i < bones_.size(); ++i) bones_[i].parent = parents[i];
  ReplaceRootBone(root);
}

void VelmarIndexedMeshLODDefinition::PrepareInfluences() {
  std::vector<std::vector<std::vector<uint8_t>>> taken(levels_.size());
  for (unsigned b = 0; b < bones_.size(); ++b)
    for (const auto& [level, groups] : bones_[b].levels) {
      if (level >= levels_.size() || levels_[level].chunks == nullptr) continue;
      for (const Vak::InfluenceDefinition::Group& group : groups)
        WriteInfluenceGroup(*levels_[level].chunks, b, group, taken[level]);
    }
}

void VelmarIndexedMeshLODDefinition::CollectCulledAttachments() {
  static constexpr char kMarker[] = ":cull";
  culled_.clear();
  for (AttachmentPoint& point : attachmentPoints_) {
    std::string name = TextOf(point.name);
    const std::size_t at = Vak::CodePage::AsciiLowered(name).find(kMarker);
    if (at == std::string::npos) continue;
    name.erase(at, sizeof(kMarker) - 1);
    point.name = name.c_str();
    culled_.push_back(point.name);
  }
}

void VelmarIndexedMeshLODDefinition::MakeCurrent(unsigned index) {
  Level& level = levels_[index];
  level.chunks->AddReference();
  level.materials->AddReference();
  chunks_->ReleaseReference();
  materials_->ReleaseReference();
  chunks_ = level.chunks;
  materials_ = level.materials;
  chunkCount_ = level.chunkCount;
  totalVertices_ = level.totalVertices;
  totalFaces_ = level.totalFaces;
  hardwareSkinning_ = level.hardwareSkinning;
  chunkNames_ = level.chunkNames;
  positionSums_ = level.positionSums;
}

// Writing.

unsigned long* VelmarIndexedMeshLODDefinition::WriteMeshFile(unsigned long* result, Vak::File& file) {
  if (levels_.empty()) return Done(result, kNothingToWrite);
  // Each distinct material once, numbered by its first use.
  std::vector<Vak::Material*> table;
  for (const Level& level : levels_)
    for (unsigned c = 0; level.materials != nullptr && c < level.materials->Count(); ++c) {
      Vak::Material* material = level.materials->Get(c);
      if (material != nullptr && std::find(table.begin(), table.end(), material) == table.end())
        table.push_back(material);
    }
  if (!file.Write(kMagic)) return Done(result, kNoData);
  const uint32_t mark = MarkSizePos(file);
  bool ok = file.Write(kLodMesh) && WriteInfoChunk(file) && WriteMaterialTableChunk(file, table);
  if (ok && hasBoneTable_) ok = WriteBoneTableChunk(file);
  else if (ok && rootBone_ != nullptr) ok = WriteRootBones(file);
  if (ok && !attachmentPoints_.empty()) ok = WriteAttachmentChunk(file);
  for (unsigned i = 0; ok && i < levels_.size(); ++i) ok = WriteLevelChunk(file, i, table);
  if (!ok || !WriteSizeAtMark(file, mark)) return Done(result, kNoData);
  return Done(result, kOk);
}

bool VelmarIndexedMeshLODDefinition::WriteInfoChunk(Vak::File& file) {
  return WriteChunk(file, kInfo, 100, [&] {
    bool ok = file.Write(position_.x) && file.Write(position_.y) && file.Write(position_.z) &&
              file.Write(orientation_.x) && file.Write(orientation_.y) && file.Write(orientation_.z) &&
              file.Write(orientation_.w) && file.Write(static_cast<uint32_t>(levels_.size())) &&
              file.Write(static_cast<uint32_t>(calcPoint_)) && file.Write(offset_) && file.Write(multiplier_) &&
              file.Write(animationCutOff_) && file.Write(renderCutOff_) && file.Write(attachmentCutOff_) &&
              file.Write(static_cast<uint32_t>(namedLevels_.size()));
    for (const NamedLevel& named : namedLevels_) {
      const uint8_t animated = named.animated ? 1 : 0;
      ok = ok && file.Write(named.level) && WritePaddedString(file, TextOf(named.name)) &&
           file.Write(&animated, 1, 1) == 1;
    }
    return ok;
  });
}

bool VelmarIndexedMeshLODDefinition::WriteBoneTableChunk(Vak::File& file) {
  return WriteChunk(file, kBoneTable, 100, [&] {
    bool ok = file.Write(static_cast<uint32_t>(bones_.size()));
    for (const BoneRecord& bone : bones_)
      ok = ok && WritePaddedString(file, TextOf(bone.name)) && WritePaddedString(file, TextOf(bone.parent)) &&
           WriteFloats(file, bone.position, 3) && WriteFloats(file, bone.matrix, 9);
    return ok;
  });
}

bool VelmarIndexedMeshLODDefinition::WriteRootBones(Vak::File& file) {
  std::vector<const Vak::ParticleBone*> order;
  std::vector<const Vak::Particle*> stack{rootBone_};
  while (!stack.empty()) {
    const Vak::Particle* at = stack.back();
    stack.pop_back();
    if (const auto* bone = dynamic_cast<const Vak::ParticleBone*>(at)) order.push_back(bone);
    for (auto child = at->Children().rbegin(); child != at->Children().rend(); ++child) stack.push_back(*child);
  }
  return WriteChunk(file, kRootBones, 100, [&] {
    bool ok = file.Write(static_cast<uint32_t>(order.size()));
    for (const Vak::ParticleBone* bone : order) {
      float matrix[9];
      bone->GetOrientation().GetMatrix().ToFloats(matrix);
      const Vector3& p = bone->GetPosition();
      const float position[3] = {p.x, p.y, p.z};
      ok = ok && WritePaddedString(file, TextOf(bone->GetName())) &&
           WritePaddedString(file, bone == rootBone_ || bone->Parent() == nullptr ? ""
                                                                                 : TextOf(bone->Parent()->GetName())) &&
           WriteFloats(file, position, 3) && WriteFloats(file, matrix, 9);
    }
    return ok;
  });
}

bool VelmarIndexedMeshLODDefinition::WriteMaterialTableChunk(Vak::File& file,
                                                             const std::vector<Vak::Material*>& table) {
  return WriteChunk(file, kMaterialTable, 100, [&] {
    bool ok = file.Write(static_cast<uint32_t>(table.size()));
    for (const Vak::Material* material : table) ok = ok && WriteMaterialChunk(file, *material);
    return ok;
  });
}

bool VelmarIndexedMeshLODDefinition::WriteMaterialChunk(Vak::File& file, const Vak::Material& material) {
  // A material read from a file goes back as the file held it.
  MaterialRecord record;
  bool found = false;
  for (unsigned i = 0; i < table_->Count() && i < stored_.size() && !found; ++i)
    if (table_->Get(i) == &material) {
      record = stored_[i];
      found = true;
    }
  if (!found) {
    record.decoratedName = material.GetRequestName().Length() != 0 ? material.GetRequestName() : material.GetName();
    for (unsigned p = 0; p < material.GetNumProperties(); ++p)
      record.properties.emplace_back(material.GetPropertyName(p), material.GetPropertyValue(p));
    record.flag = material.GetFlags() & 1u;
    record.value = material.GetValue();
    record.display = material.GetDisplayMaterialProperties();
    Vak::Colour& e = record.display.emissive;
    e = {e.r * 2, e.g * 2, e.b * 2, e.a * 2};
  }
  return WriteChunk(file, kMaterial, 103, [&] {
    bool ok = WritePaddedString(file, TextOf(record.decoratedName)) &&
              file.Write(static_cast<uint32_t>(record.properties.size()));
    for (const auto& [key, value] : record.properties)
      ok = ok && WritePaddedString(file, TextOf(key)) && WritePaddedString(file, TextOf(value));
    const Vak::DisplayMaterial& d = record.display;
    ok = ok && file.Write(record.flag) && file.Write(record.value);
    for (const Vak::Colour* c : {&d.diffuse, &d.ambient, &d.specular, &d.emissive})
      ok = ok && file.Write(c->r) && file.Write(c->g) && file.Write(c->b);
    ok = ok && file.Write(d.power) && file.Write(static_cast<uint32_t>(record.textures.size()));
    for (const Texture& t : record.textures)
      ok = ok && file.Write(t.kind) && WritePaddedString(file, TextOf(t.file)) && file.Write(t.value);
    return ok;
  });
}

bool VelmarIndexedMeshLODDefinition::WriteLevelChunk(Vak::File& file, unsigned index,
                                                     const std::vector<Vak::Material*>& table) {
  const Level& level = levels_[index];
  const unsigned count = level.chunks ? level.chunks->Count() : 0;
  const float distance = index < distances_.size() ? distances_[index] : -1.0f;
  return WriteChunk(file, kLevel, 100, [&] {
    bool ok = file.Write(static_cast<uint32_t>(count)) && file.Write(uint32_t{level.maxInfluences}) &&
              file.Write(uint32_t{level.maxMatrices}) && file.Write(distance);
    if (ok && hasBoneTable_) ok = WriteLevelBonesChunk(file, index);
    for (unsigned c = 0; ok && c < count; ++c) ok = WriteLevelChunkChunk(file, index, c, table);
    return ok;
  });
}

bool VelmarIndexedMeshLODDefinition::WriteLevelBonesChunk(Vak::File& file, unsigned level) {
  return WriteChunk(file, kLevelBones, 100, [&] {
    std::string out;
    for (const BoneRecord& bone : bones_) {
      const std::vector<Vak::InfluenceDefinition::Group>* groups = nullptr;
      for (const auto& [at, set] : bone.levels)
        if (at == level) groups = &set;
      Vak::AppendLE32(out, groups ? static_cast<uint32_t>(groups->size()) : 0);
      for (unsigned g = 0; groups && g < groups->size(); ++g) {
        const Vak::InfluenceDefinition::Group& group = (*groups)[g];
        Vak::AppendLE32(out, group.chunk);
        Vak::AppendLE32(out, static_cast<uint32_t>(group.entries.size()));
        for (const Vak::InfluenceDefinition::Entry& e : group.entries) {
          Vak::AppendLE32(out, e.vertex);
          AppendFloat(out, e.weight);
          AppendVector(out, e.offset);
        }
      }
    }
    return file.Write(out.data(), out.size(), 1) == out.size();
  });
}

bool VelmarIndexedMeshLODDefinition::WriteLevelChunkChunk(Vak::File& file, unsigned index, unsigned slot,
                                                          const std::vector<Vak::Material*>& table) {
  const Level& level = levels_[index];
  const Vak::Material* material = level.materials ? level.materials->Get(slot) : nullptr;
  const auto at = std::find(table.begin(), table.end(), material);
  const uint32_t materialIndex = at == table.end() ? 0 : static_cast<uint32_t>(at - table.begin());
  const GeometryChunk* chunk = level.chunks->Get(slot);
  const PString name = slot < level.chunkNames.size() ? level.chunkNames[slot] : PString();
  return WriteChunk(file, kLevelChunk, 100, [&] {
    return file.Write(uint32_t{slot}) && file.Write(materialIndex) && WriteGeometryChunk(file, chunk, name) &&
           (chunk == nullptr || chunk->GetFaceNeighborArray() == nullptr || WriteNeighbourChunk(file, chunk));
  });
}

bool VelmarIndexedMeshLODDefinition::WriteGeometryChunk(Vak::File& file, const GeometryChunk* chunk,
                                                        const PString& name) {
  return WriteChunk(file, kGeometry, 201, [&] {
    std::string out;
    if (chunk == nullptr) {
      // An empty slot still gets a whole header, so the reader takes its
      // counts from here and not from the bytes after it.
      for (int i = 0; i < 2; ++i) Vak::AppendLE32(out, 0);
      AppendFloat(out, 0.0f);
      for (int i = 0; i < 5; ++i) Vak::AppendLE32(out, 0);
      return file.Write(out.data(), out.size(), 1) == out.size() && WritePaddedString(file, "");
    }
    const uint32_t code = PrimitiveCodeOf(chunk->GetGeometryType());
    const bool third = chunk->GetVertexType().Has(Vak::kItemTangent);
    const uint32_t vertices = chunk->GetVertexCount();
    Vak::AppendLE32(out, code);
    Vak::AppendLE32(out, third ? 1 : 0);
    AppendFloat(out, chunk->GetHint().value);
    Vak::AppendLE32(out, vertices);
    Vak::AppendLE32(out, (code & 3) != 0 ? 0 : chunk->GetSecondSize());
    Vak::AppendLE32(out, chunk->GetIndexCount());
    Vak::AppendLE32(out, chunk->GetFaceCount());
    Vak::AppendLE32(out, chunk->GetHint().weightsPerVertex);
    if (file.Write(out.data(), out.size(), 1) != out.size() || !WritePaddedString(file, TextOf(name))) return false;
    auto pos = chunk->GetItem<Vector3>(Vak::kItemPosition);
    auto uv = chunk->GetItem<Vak::TexCoord>(Vak::kItemTexCoord0);
    auto normal = chunk->GetItem<Vector3>(Vak::kItemNormal);
    auto tangent = chunk->GetItem<Vector3>(Vak::kItemTangent);
    const Vector3 zero;
    const Vak::TexCoord none{};
    // The arrays go into one buffer of their exact size, field by field
    // through a cursor: appending four bytes at a time cost more than the
    // write itself.
    const uint32_t indices = chunk->GetIndexCount(), faces = chunk->GetFaceCount();
    const std::size_t perVertex = third ? 12 + 8 + 12 + 12 : 12 + 8 + 12;
    const std::size_t size = std::size_t{vertices} * perVertex + std::size_t{indices} * 2 + std::size_t{faces} * 12;
    if (size == 0) return true;
    std::unique_ptr<uint8_t[]> data(new uint8_t[size]);
    uint8_t* at = data.get();
    auto put = [&at](float value) {
      uint32_t bits;
      std::memcpy(&bits, &value, 4);
      Vak::PutLE32(at, bits);
      at += 4;
    };
    auto putVector = [&put](const Vector3& v) {
      put(v.x);
      put(v.y);
      put(v.z);
    };
    for (uint32_t v = 0; v < vertices; ++v) {
      putVector(pos ? *pos(v) : zero);
      const Vak::TexCoord& t = uv ? *uv(v) : none;
      put(t.u);
      put(t.v);
    }
    for (unsigned i = 0; i < indices; ++i, at += 2) Vak::PutLE16(at, chunk->GetIndices()[i]);
    for (uint32_t v = 0; v < vertices; ++v) putVector(normal ? *normal(v) : zero);
    for (unsigned f = 0; f < faces; ++f) putVector(chunk->GetFaceNormals()[f]);
    for (uint32_t v = 0; third && v < vertices; ++v) putVector(tangent ? *tangent(v) : zero);
    return file.Write(data.get(), size, 1) == size;
  });
}

bool VelmarIndexedMeshLODDefinition::WriteAttachmentChunk(Vak::File& file) {
  return WriteChunk(file, kAttachments, 100, [&] {
    bool ok = file.Write(static_cast<uint32_t>(attachmentPoints_.size()));
    for (const AttachmentPoint& point : attachmentPoints_)
      ok = ok && WritePaddedString(file, TextOf(point.name)) && WriteFloats(file, point.matrix, 9) &&
           WriteFloats(file, point.position, 3);
    return ok;
  });
}

bool VelmarIndexedMeshLODDefinition::WriteNeighbourChunk(Vak::File& file, const GeometryChunk* chunk) {
  return WriteChunk(file, kNeighbours, 100, [&] {
    std::string out;
    const GeometryChunk::FaceNeighborArray* neighbours = chunk->GetFaceNeighborArray();
    for (unsigned f = 0; f < chunk->GetFaceCount() && f < neighbours->records.size(); ++f)
      for (uint32_t face : neighbours->records[f].face) Vak::AppendLE32(out, face);
    return out.empty() || file.Write(out.data(), out.size(), 1) == out.size();
  });
}
