#pragma once
// A mesh in several levels of detail sharing one material table and one bone
// table: read from and written to "LODM" files (docs/formats/mesh-files.md).
// Each level has its own chunks, a switch distance or a name, and its own
// per-bone influence groups. After a read the definition's current data is
// the last distance-switched level.
#include <cstdint>
#include <memory>
#include <vector>

#include "assets3d/VelmarIndexedMeshDefinition.h"

namespace Vak {
class File;
}

class VelmarIndexedMeshLODDefinition : public VelmarIndexedMeshDefinition {
public:
  enum CalcPoint : uint32_t { kCentre = 0, kNear = 1, kFar = 2 };

  struct NamedLevel {
    uint32_t level = 0;
    Vak::PString name;
    bool animated = false;
  };
  struct Level {
    SharedRefArray<Vak::GeometryChunk>* chunks = nullptr;
    SharedRefArray<Vak::Material>* materials = nullptr;
    std::vector<Vak::PString> chunkNames;
    int chunkCount = 0;
    int totalVertices = 0;
    int totalFaces = 0;
    unsigned maxInfluences = 0;
    unsigned maxMatrices = 0;
    bool hardwareSkinning = false;
    std::vector<PositionSums> positionSums;  // per chunk slot
  };
  struct BoneRecord {
    Vak::PString name;
    Vak::PString parent;
    float position[3] = {0, 0, 0};
    float matrix[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    // The groups of each level that had an LODB, in level order.
    std::vector<std::pair<unsigned, std::vector<Vak::InfluenceDefinition::Group>>> levels;
  };

  explicit VelmarIndexedMeshLODDefinition(const MeshGeometryOptions& options = {});
  ~VelmarIndexedMeshLODDefinition() override;

  // Opens `name` itself (through the resource's database when it has one).
  unsigned long* ReadMeshFile(unsigned long* result, Vak::Display* display, Vak::MaterialManager* manager,
                              VelmarMeshResource* resource, const char* name, uint32_t defaultColour) override;
  void PrepareInfluences() override;
  unsigned long* ReadInfoChunk(unsigned long* result, Vak::MemoryFile& file) override;

  // Builds the levels from a text description naming one mesh file per
  // level (docs/formats/config-text.md).
  virtual unsigned long* ReadLODDescription(unsigned long* result, Vak::Display* display,
                                            Vak::MaterialManager* manager, VelmarMeshResource* resource,
                                            const char* name, uint32_t defaultColour);
  virtual unsigned long* WriteMeshFile(unsigned long* result, Vak::File& file);
  // Appends to each bone of the table the groups of the mesh's influence of
  // its name as the groups of `level` (none when the mesh lacks it).
  virtual void AddLevelInfluences(unsigned level, const VelmarIndexedMeshDefinition& mesh);
  virtual bool WriteInfoChunk(Vak::File& file);
  virtual bool WriteBoneTableChunk(Vak::File& file);
  virtual unsigned long* ReadBoneTableChunk(unsigned long* result, Vak::MemoryFile& file);
  virtual bool WriteMaterialTableChunk(Vak::File& file, const std::vector<Vak::Material*>& table);
  virtual unsigned long* ReadMaterialTableChunk(unsigned long* result, Vak::MemoryFile& file);
  virtual bool WriteMaterialChunk(Vak::File& file, const Vak::Material& material);
  unsigned long* ReadMaterialChunk(unsigned long* result, Vak::MemoryFile& file, unsigned slot) override;
  virtual bool WriteLevelChunk(Vak::File& file, unsigned level, const std::vector<Vak::Material*>& table);
  virtual unsigned long* ReadLevelChunk(unsigned long* result, Vak::MemoryFile& file, unsigned level);
  virtual bool WriteLevelBonesChunk(Vak::File& file, unsigned level);
  virtual unsigned long* ReadLevelBonesChunk(unsigned long* result, Vak::MemoryFile& file, unsigned level,
                                             uint64_t limit);
  virtual bool WriteLevelChunkChunk(Vak::File& file, unsigned level, unsigned slot,
                                    const std::vector<Vak::Material*>& table);
  virtual unsigned long* ReadLevelChunkChunk(unsigned long* result, Vak::MemoryFile& file, unsigned slot,
                                             uint64_t limit);
  virtual bool WriteGeometryChunk(Vak::File& file, const Vak::GeometryChunk* chunk, const Vak::PString& name);
  unsigned long* ReadGeometryChunk(unsigned long* result, Vak::MemoryFile& file, unsigned slot) override;
  virtual bool WriteAttachmentChunk(Vak::File& file);
  virtual bool WriteNeighbourChunk(Vak::File& file, const Vak::GeometryChunk* chunk);
  unsigned long* ReadNeighbourChunk(unsigned long* result, Vak::MemoryFile& file, unsigned slot) override;

  unsigned GetLevelCount() const { return static_cast<unsigned>(levels_.size()); }
  const Level& GetLevel(unsigned i) const { return levels_[i]; }
  const std::vector<float>& GetDistances() const { return distances_; }
  const std::vector<NamedLevel>& GetNamedLevels() const { return namedLevels_; }
  const std::vector<BoneRecord>& GetBoneTable() const { return bones_; }
  const std::vector<Vak::PString>& GetCulledAttachmentNames() const { return culled_; }
  SharedRefArray<Vak::Material>* GetMaterialTable() const { return table_; }
  CalcPoint GetCalcPoint() const { return calcPoint_; }
  float GetOffset() const { return offset_; }
  float GetMultiplier() const { return multiplier_; }
  float GetAnimationCutOff() const { return animationCutOff_; }
  float GetRenderCutOff() const { return renderCutOff_; }
  float GetAttachmentCutOff() const { return attachmentCutOff_; }
  // The level meshes a text description loaded, kept until the resource has
  // bound their materials' textures.
  std::vector<std::unique_ptr<VelmarIndexedMeshDefinition>>& GetLevelDefinitions() { return levelDefinitions_; }

private:
  // The chunk readers of the base work on chunks_ and materials_: a level is
  // read with them pointing at its own tables.
  void EnterLevel(Level& level);
  void LeaveLevel(Level& level);
  unsigned long ReadAll(Vak::MemoryFile& file);
  unsigned long* ReadRootBones(unsigned long* result, Vak::MemoryFile& file);
  bool WriteRootBones(Vak::File& file);
  void BuildSkeletonFromBoneTable();
  void CollectCulledAttachments();
  void MakeCurrent(unsigned level);
  // One level of a text description from the mesh file `file`.
  static unsigned long* LoadLevelMesh(VelmarMeshResource* resource, VelmarIndexedMeshLODDefinition& definition,
                                      unsigned long* result, Vak::Display* display, Vak::MaterialManager* manager,
                                      const char* file, uint32_t defaultColour, bool first);

  std::vector<Level> levels_;
  std::vector<float> distances_;
  std::vector<NamedLevel> namedLevels_;
  std::vector<BoneRecord> bones_;
  bool hasBoneTable_ = false;
  std::vector<Vak::PString> culled_;
  SharedRefArray<Vak::Material>* table_;     // MATT, in file order
  std::vector<MaterialRecord> stored_;       // per MATT entry, as the file held it
  CalcPoint calcPoint_ = kCentre;
  float offset_ = 0;
  float multiplier_ = 1;
  float animationCutOff_ = 0;
  float renderCutOff_ = 0;
  float attachmentCutOff_ = 0;
  uint32_t levelCount_ = 0;
  std::vector<std::unique_ptr<VelmarIndexedMeshDefinition>> levelDefinitions_;
};
