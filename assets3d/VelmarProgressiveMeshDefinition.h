#pragma once
// An indexed mesh with the progressive records that its instances use to
// change the level of detail of their index data. Four arrays chain into
// each other by running sums: each step points at its indices, each group at
// its steps, each top record at its groups.
#include <cstdint>
#include <memory>

#include "assets3d/VelmarIndexedMeshDefinition.h"

class VelmarProgressiveMeshDefinition : public VelmarIndexedMeshDefinition {
public:
  struct Step {
    uint32_t values[4] = {};  // the fourth counts the step's indices
    uint32_t* indices = nullptr;
  };
  struct Group {
    uint32_t values[2] = {};  // the second counts the group's steps
    Step* steps = nullptr;
  };
  struct Top {
    uint32_t groupCount = 0;
    Group* groups = nullptr;
  };

  using VelmarIndexedMeshDefinition::VelmarIndexedMeshDefinition;
  ~VelmarProgressiveMeshDefinition() override;

  // Opens the file by `name` itself, through the resource's database when it
  // has one.
  unsigned long* ReadMeshFile(unsigned long* result, Vak::Display* display, Vak::MaterialManager* manager,
                              VelmarMeshResource* resource, const char* name, uint32_t defaultColour) override;
  virtual unsigned long* ReadProgressiveChunk(unsigned long* result, Vak::MemoryFile& file);

  // PMIN's own count; the per-chunk count of the base stays callable.
  using VelmarIndexedMeshDefinition::GetIndexCount;
  uint32_t GetIndexCount() const { return indexCount_; }
  uint32_t GetStepCount() const { return stepCount_; }
  uint32_t GetGroupCount() const { return groupCount_; }
  uint32_t GetTopCount() const { return topCount_; }
  const uint32_t* GetIndices() const { return indices_.get(); }
  const Step* GetSteps() const { return steps_.get(); }
  const Group* GetGroups() const { return groups_.get(); }
  const Top* GetTops() const { return tops_.get(); }

private:
  uint32_t indexCount_ = 0, stepCount_ = 0, groupCount_ = 0, topCount_ = 0;
  std::unique_ptr<uint32_t[]> indices_;
  std::unique_ptr<Step[]> steps_;
  std::unique_ptr<Group[]> groups_;
  std::unique_ptr<Top[]> tops_;
};
