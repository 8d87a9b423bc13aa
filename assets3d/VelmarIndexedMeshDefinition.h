#pragma once
// The shared, loaded form of one mesh: geometry chunks and their materials,
// influences and skeleton, attachment points and bounds. Filled by the mesh
// readers, read by the instances through the virtual accessors below.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "Vak/Bexlorn/PString.h"
#include "assets3d/OverlappedResource.h"
#include "assets3d/SharedRefArray.h"
#include "assets3d/VLAxisBoxTree.h"
#include "assets3d/VelmarMeshResource.h"
#include "engine/dorvix/DisplayMaterial.h"
#include "engine/dorvix/GeometryChunk.h"
#include "engine/dorvix/Material.h"
#include "engine/fyrmond/InfluenceDefinition.h"
#include "engine/fyrmond/MeshFileSupport.h"
#include "engine/kernelx/MemoryFile.h"
#include "engine/kernelx/OrientedBox.h"
#include "engine/kernelx/Quaternion.h"
#include "engine/kernelx/Vector3.h"

namespace Vak {
class ConfigData;
class Display;
class GeometryConfigData;
class MaterialManager;
class ParticleBone;
class ParticleStructure;
}

class VelmarIndexedMeshDefinition;

// Lets a collision tree read the triangles of a definition's chunks: an
// identifier names chunk (id >> 16) and its triangle (id & 0xFFFF), whose
// indices start at three times that.
class CollisionGeometrySharingInterface : public VLAxisBoxTreeExternalGeometry {
public:
  explicit CollisionGeometrySharingInterface(const VelmarIndexedMeshDefinition& definition)
      : definition_(definition) {}
  bool GetTriangle(uint32_t id, Vak::Vector3 corners[3]) const override;

private:
  const VelmarIndexedMeshDefinition& definition_;
};

class VelmarIndexedMeshDefinition : public Vak::MeshFileSupport {
public:
  // Deeper BONE nesting than this is refused; real skeletons are a few dozen
  // bones deep at most.
  static constexpr unsigned kMaxBoneDepth = 256;

  struct Texture {
    uint32_t kind = 0;
    Vak::PString file;
    float value = 0;
  };
  // A MATL chunk as read, before it is bound.
  struct MaterialRecord {
    Vak::PString decoratedName;
    std::vector<std::pair<Vak::PString, Vak::PString>> properties;
    uint32_t flag = 0;
    float value = 1.0f;
    Vak::DisplayMaterial display;
    std::vector<Texture> textures;
  };
  // What the resource's completion step hands to a bound material.
  struct MaterialBinding {
    std::vector<Texture> textures;
    VelmarMeshResource* resource = nullptr;
    Vak::Material* material = nullptr;  // one reference
    Vak::PString decoratedName;
    Vak::MaterialManager* manager = nullptr;
  };
  struct AttachmentPoint {
    float matrix[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    float position[3] = {0, 0, 0};
    Vak::PString name;
  };

  explicit VelmarIndexedMeshDefinition(const MeshGeometryOptions& options = {});
  VelmarIndexedMeshDefinition(const VelmarIndexedMeshDefinition&) = delete;
  VelmarIndexedMeshDefinition& operator=(const VelmarIndexedMeshDefinition&) = delete;

  virtual ~VelmarIndexedMeshDefinition();
  // The memory file must hold the file (the resource loads it).
  virtual unsigned long* ReadMeshFile(unsigned long* result, Vak::Display* display, Vak::MaterialManager* manager,
                                      VelmarMeshResource* resource, const char* name, uint32_t defaultColour);
  // From a parsed text geometry config (docs/formats/geometry-config.md).
  virtual unsigned long* BuildFromConfig(unsigned long* result, Vak::Display* display, Vak::MaterialManager* manager,
                                         VelmarMeshResource* resource, const Vak::ConfigData& data,
                                         uint32_t defaultColour);
  // Parses the text geometry config `name` (through the resource's database
  // when it has one) and builds from it; the parser's results 2, 3 and 4
  // are passed on.
  virtual unsigned long* LoadConfigFile(unsigned long* result, Vak::Display* display, Vak::MaterialManager* manager,
                                        VelmarMeshResource* resource, const char* name, uint32_t defaultColour);

  virtual int GetPrimitiveType(unsigned chunk) const;
  virtual unsigned GetMaxInfluencesPerVertex() const { return maxInfluences_; }
  // A mesh counts as skinned when this and the influence count are non-zero.
  virtual unsigned GetMaxMatricesPerChunk() const { return maxMatrices_; }
  virtual unsigned GetIndexCount(unsigned chunk) const;
  virtual unsigned GetSecondSize(unsigned chunk) const;
  virtual unsigned GetTextureSetCount(unsigned chunk) const;
  virtual unsigned GetMaxInfluencesOnOneVertex(unsigned chunk) const;
  virtual bool CopyPositions(unsigned chunk, void* out, unsigned stride) const;
  virtual bool CopyTextureSet(unsigned chunk, unsigned set, void* out, unsigned stride) const;
  virtual bool CopyIndices(unsigned chunk, uint16_t* out) const;
  virtual bool CopyNormals(unsigned chunk, void* out, unsigned stride) const;
  // Item 3 instead of 2 when `specular`; without the item every vertex gets `fill`.
  virtual bool CopyColours(unsigned chunk, uint32_t* out, unsigned stride, bool specular, uint32_t fill) const;
  virtual bool CopyFaceNormals(unsigned chunk, Vak::Vector3* out) const;
  virtual Vak::PString GetMaterialName(unsigned material) const;
  virtual const std::vector<Texture>* GetMaterialTextures(unsigned material) const;
  virtual bool GetMaterialFlag(unsigned material) const;
  virtual float GetMaterialValue(unsigned material) const;
  virtual Vak::DisplayMaterial GetDisplayMaterial(unsigned material) const;
  virtual unsigned GetMaterialPropertyCount(unsigned material) const;
  // A new text from Vak::Alloc::New (the caller frees it); the value when
  // `value`, else the name. Null when there is no such property.
  virtual char* CopyMaterialProperty(unsigned material, unsigned property, bool value) const;
  virtual void Reserved() {}
  virtual const std::vector<Vak::PString>& GetUnresolvedNames() const { return unresolved_; }
  virtual Vak::PString GetInfluenceName(unsigned i) const;
  virtual Vak::PString GetInfluenceParentName(unsigned i) const;
  virtual Vak::Vector3 GetInfluencePosition(unsigned i) const;
  virtual Vak::Quaternion GetInfluenceRotation(unsigned i) const;
  virtual unsigned GetInfluenceGroupCount(unsigned i) const;
  virtual unsigned GetInfluenceGroupChunk(unsigned i, unsigned group) const;
  virtual unsigned GetInfluenceGroupEntryCount(unsigned i, unsigned group) const;
  virtual bool CopyInfluenceGroupEntries(unsigned i, unsigned group, Vak::InfluenceDefinition::Entry* out) const;
  virtual Vak::PString GetAttachmentPointName(unsigned i) const;
  virtual Vak::Quaternion GetAttachmentPointRotation(unsigned i) const;
  virtual Vak::Vector3 GetAttachmentPointPosition(unsigned i) const;

  // Writes the influences into the chunks' weight and blend-index items.
  virtual void PrepareInfluences();

  // The chunk readers, in the order the file holds them.
  virtual unsigned long* ReadInfoChunk(unsigned long* result, Vak::MemoryFile& file);
  virtual unsigned long* ReadChunkChunk(unsigned long* result, Vak::MemoryFile& file, unsigned slot);
  virtual unsigned long* ReadGeometryChunk(unsigned long* result, Vak::MemoryFile& file, unsigned slot);
  virtual unsigned long* ReadMaterialChunk(unsigned long* result, Vak::MemoryFile& file, unsigned slot);
  virtual unsigned long* BindChunkMaterial(unsigned long* result, Vak::MaterialManager* manager,
                                           VelmarMeshResource* resource, unsigned slot, const MaterialRecord& record);
  virtual unsigned long* ReadNeighbourChunk(unsigned long* result, Vak::MemoryFile& file, unsigned slot);
  virtual unsigned long* ReadAttachmentChunk(unsigned long* result, Vak::MemoryFile& file);
  // INFL or SKEL.
  virtual unsigned long* ReadInfluenceChunk(unsigned long* result, Vak::MemoryFile& file);
  virtual unsigned long* ReadBoneChunk(unsigned long* result, Vak::MemoryFile& file, Vak::ParticleBone* parent,
                                       unsigned depth);
  // The steps of building from a text geometry config, chunk by chunk.
  virtual unsigned long* CreateMaterial(unsigned long* result, const Vak::GeometryConfigData& config, unsigned slot);
  virtual unsigned long* BuildConfigChunk(unsigned long* result, const Vak::GeometryConfigData& config, unsigned slot);
  virtual void BuildConfigInfluences(const Vak::GeometryConfigData& config);
  virtual void BuildConfigAttachmentPoints(const Vak::GeometryConfigData& config);

  // The texture scale and the oriented box are worked out on first request:
  // validating a mesh asks for neither.
  float GetTextureScale() const {
    SettleExtents();
    return textureScale_;
  }

  // Attachment points whose names start with "a" become attachment points of
  // the instance's particle structure.
  void AddAttachmentPoints(Vak::ParticleStructure& structure) const;

  Vak::MemoryFile& GetMemoryFile() { return memoryFile_; }
  // Loads the file `name` stands for (the resource database's file name
  // when the resource has a database) into the memory file; false when it
  // cannot be opened.
  bool LoadMemoryFile(VelmarMeshResource* resource, const char* name);
  const Vak::Vector3& GetPosition() const { return position_; }
  const Vak::Quaternion& GetOrientation() const { return orientation_; }
  const Vak::Vector3& GetBoundsMax() const { return boundsMax_; }
  const Vak::Vector3& GetBoundsMin() const { return boundsMin_; }
  const Vak::PString& GetFileName() const { return fileName_; }
  void SetFileName(const char* path) { fileName_ = path; }
  int GetChunkCount() const { return chunkCount_; }
  int GetTotalVertices() const { return totalVertices_; }
  int GetTotalFaces() const { return totalFaces_; }
  int GetAttachmentPointCount() const { return static_cast<int>(attachmentPoints_.size()); }
  int GetInfluenceCount() const { return static_cast<int>(influences_.size()); }
  unsigned GetMatrixLimit() const { return matrixLimit_; }
  bool UsesHardwareSkinning() const { return hardwareSkinning_; }
  bool DisplaySupportsSkinning() const { return capability26_; }
  SharedRefArray<Vak::GeometryChunk>* GetChunks() const { return chunks_; }
  SharedRefArray<Vak::Material>* GetMaterials() const { return materials_; }
  Vak::GeometryChunk* GetChunk(unsigned i) const { return chunks_->Get(i); }
  Vak::Material* GetMaterial(unsigned i) const { return materials_->Get(i); }
  const std::vector<Vak::PString>& GetChunkNames() const { return chunkNames_; }
  const std::vector<AttachmentPoint>& GetAttachmentPoints() const { return attachmentPoints_; }
  const std::vector<Vak::InfluenceDefinition>& GetInfluences() const { return influences_; }
  const std::vector<MaterialBinding>& GetPendingBindings() const { return pendingBindings_; }
  // Hands the texture bindings still to run to the caller.
  std::vector<MaterialBinding> TakePendingBindings() {
    std::vector<MaterialBinding> taken;
    taken.swap(pendingBindings_);
    return taken;
  }
  Vak::ParticleBone* GetRootBone() const { return rootBone_; }
  // Hands the skeleton to the caller, which then owns it.
  Vak::ParticleBone* TakeRootBone() {
    Vak::ParticleBone* root = rootBone_;
    rootBone_ = nullptr;
    return root;
  }
  // A chunk slot's material as the file or config gave it, before binding:
  // what a writer stores again. Null for a slot without one.
  const MaterialRecord* GetStoredMaterial(unsigned slot) const {
    return slot < storedRecords_.size() ? &storedRecords_[slot] : nullptr;
  }
  // Influences then weight the chunks with the index of their name in this
  // table (one shared by several meshes) instead of their own position; an
  // influence the table lacks weights nothing. Null: their own position.
  void SetBoneNames(const std::vector<Vak::PString>* names) { boneNames_ = names; }
  const Vak::OrientedBox& GetBounds() const {
    SettleExtents();
    return bounds_;
  }

  // The collision tree is built at most once: on the background loader when
  // the process has one, else at once.
  void RequestCollisionTree();
  // A tree over every triangle of every chunk (three consecutive indices);
  // null when there is none to build.
  std::unique_ptr<VLAxisBoxTree> BuildCollisionTree();
  // The tree, requested when there is none yet; null when the build failed.
  const VLAxisBoxTree* GetCollisionTree();
  // The tree when one is built (collecting a finished background build);
  // requests none.
  const VLAxisBoxTree* FindCollisionTree();

protected:
  // What the read of a chunk's positions gathers for the post-load steps.
  struct PositionSums {
    double sum[3] = {0, 0, 0};  // in vertex order
    Vak::Vector3 low{3.4028235e38f, 3.4028235e38f, 3.4028235e38f};
    Vak::Vector3 high{-3.4028235e38f, -3.4028235e38f, -3.4028235e38f};
  };

  // A MATL's fields as stored: the name undecorated, colours and textures
  // untouched.
  static bool ReadMaterialFields(Vak::MemoryFile& file, MaterialRecord& record);
  // The bound form: decorated name, textures placed beside the resource's
  // file, the fourth colour halved.
  MaterialRecord DecorateMaterial(const MaterialRecord& stored) const;
  // `level`: the level-of-detail layout (one texture set, no colours, a
  // name from 103 on, no resource database in the hint).
  unsigned long* ReadGeometry(unsigned long* result, Vak::MemoryFile& file, unsigned slot, bool level);
  // Links the bones by parent name (empty for none) and returns the root, or
  // null after deleting them all when no bone lacks a parent. `parents` ends
  // with the names each bone was linked under.
  static Vak::ParticleBone* LinkBones(const std::vector<Vak::ParticleBone*>& bones,
                                      std::vector<Vak::PString>& parents);
  // One bone's group into `chunks`; `taken` counts the lanes used per vertex.
  // One stored influence group (chunk, entry count, entries); false when it
  // does not fit in what is left.
  static bool ReadInfluenceGroup(Vak::MemoryFile& file, Vak::InfluenceDefinition::Group& group);
  static void WriteInfluenceGroup(SharedRefArray<Vak::GeometryChunk>& chunks, unsigned bone,
                                  const Vak::InfluenceDefinition::Group& group,
                                  std::vector<std::vector<uint8_t>>& taken);
  void SetReadContext(Vak::Display* display, Vak::MaterialManager* manager, VelmarMeshResource* resource,
                      uint32_t defaultColour) {
    display_ = display;
    manager_ = manager;
    resource_ = resource;
    defaultColour_ = defaultColour;
  }
  Vak::MaterialManager* ReadManager() const { return manager_; }
  VelmarMeshResource* ReadResource() const { return resource_; }
  uint64_t& ContainerEndRef() { return containerEnd_; }

  // Post-load steps, run after a read that ended at the container's end.
  void SumTotals();
  void BuildSkeletonFromInfluences();
  // The bounds now; the oriented box and, when asked, the texture scale
  // when first asked for, from the chunks as they are then (a definition's
  // chunks are not changed after its load).
  void CalculateExtents(bool textureScale);
  void SettleExtents() const;
  // The reads every indexed mesh file starts with: header, INFO, the chunk
  // groups, then INFL or SKEL and ATCH while bytes remain.
  unsigned long ReadIndexedSequence(Vak::Display* display, Vak::MaterialManager* manager,
                                    VelmarMeshResource* resource, uint32_t defaultColour);
  void AskDisplay(Vak::Display* display);
  void ReplaceRootBone(Vak::ParticleBone* root);
  uint64_t ContainerEnd() const { return containerEnd_; }
  bool BytesRemain(const Vak::MemoryFile& file) const { return file.Tell() < containerEnd_; }

  Vak::Vector3 position_;
  Vak::Quaternion orientation_;
  Vak::Vector3 boundsMax_;
  Vak::Vector3 boundsMin_;
  Vak::PString fileName_;
  int chunkCount_ = 0;
  int totalVertices_ = 0;
  int totalFaces_ = 0;
  unsigned maxInfluences_ = 0;
  unsigned maxMatrices_ = 0;
  unsigned influenceLimit_ = 4;
  unsigned matrixLimit_ = 25;
  bool hardwareSkinning_ = false;
  bool capability26_ = false;
  SharedRefArray<Vak::GeometryChunk>* chunks_;
  SharedRefArray<Vak::Material>* materials_;
  std::vector<AttachmentPoint> attachmentPoints_;
  std::vector<Vak::PString> unresolved_;
  Vak::MemoryFile memoryFile_;
  std::vector<MaterialBinding> pendingBindings_;
  std::vector<Vak::InfluenceDefinition> influences_;
  std::vector<Vak::PString> chunkNames_;
  Vak::ParticleBone* rootBone_ = nullptr;
  MeshGeometryOptions options_;
  mutable float textureScale_ = 0;
  mutable Vak::OrientedBox bounds_;

private:
  // The creation hint of a chunk of `sets` texture sets and `weights`
  // weights a vertex; decides hardware skinning on the first skinned chunk.
  Vak::StandardChunkHint ChunkHint(uint32_t sets, uint32_t weights, bool withDatabase);
  // A hardware-skinned chunk's vertices start fully on matrix 0.
  void KeepRecords(unsigned slot, const MaterialRecord& bound, const MaterialRecord& stored);
  void PresetWeights(Vak::GeometryChunk& chunk, const Vak::StandardChunkHint& hint, uint32_t vertices,
                     uint32_t weights) const;

  // What a read needs besides the file.
  Vak::Display* display_ = nullptr;
  Vak::MaterialManager* manager_ = nullptr;
  VelmarMeshResource* resource_ = nullptr;
  uint32_t defaultColour_ = 0;
  uint64_t containerEnd_ = 0;
  std::vector<MaterialRecord> records_;  // per material slot, for the accessors
  std::vector<MaterialRecord> storedRecords_;  // per material slot, unbound
  const std::vector<Vak::PString>* boneNames_ = nullptr;
  std::unique_ptr<CollisionGeometrySharingInterface> collisionSharing_;
  std::unique_ptr<VLAxisBoxTree> collisionTree_;
  bool collisionRequested_ = false;
  // The background build, until its completion is collected.
  class CollisionRequest;
  std::unique_ptr<CollisionRequest> collisionRequest_;
  OverlappedResourceLink collisionLink_;
  // What CalculateExtents left for SettleExtents.
  mutable std::mutex extentsLock_;
  mutable std::atomic<bool> extentsPending_{false};
  bool scalePending_ = false;

protected:
  std::vector<PositionSums> positionSums_;  // per chunk slot
};
