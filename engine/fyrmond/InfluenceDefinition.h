#pragma once
// One bone's pull on the vertices of a skinned mesh: the bone's name and
// its parent's, its rest position and matrix, and per geometry chunk the
// vertices it moves.
#include <cstdint>
#include <utility>
#include <vector>

#include "Vak/Bexlorn/PString.h"
#include "engine/kernelx/Matrix3.h"
#include "engine/kernelx/Quaternion.h"
#include "engine/kernelx/Vector3.h"

namespace Vak {

class InfluenceDefinition {
public:
  struct Entry {
    uint32_t vertex = 0;
    float weight = 0;
    Vector3 offset;  // the vertex in the bone's space
  };
  struct Group {
    uint32_t chunk = 0;
    std::vector<Entry> entries;
  };

  InfluenceDefinition() = default;
  InfluenceDefinition(const PString& name, const PString& parentName, const Vector3& position, const Matrix3& matrix)
      : name_(name), parentName_(parentName), position_(position), matrix_(matrix) {}

  const PString& GetName() const { return name_; }
  const PString& GetParentName() const { return parentName_; }
  void SetParentName(const PString& name) { parentName_ = name; }
  const Vector3& GetPosition() const { return position_; }
  const Matrix3& GetMatrix() const { return matrix_; }
  Quaternion GetRotation() const {
    Quaternion q;
    q.Set(matrix_);
    return q;
  }

  void AddGroup(Group group) { groups_.push_back(std::move(group)); }
  unsigned GetNumGroups() const { return static_cast<unsigned>(groups_.size()); }
  const Group& GetGroup(unsigned i) const { return groups_[i]; }
  const std::vector<Group>& Groups() const { return groups_; }

private:
  PString name_;
  PString parentName_;
  Vector3 position_;
  Matrix3 matrix_;
  std::vector<Group> groups_;
};

} // namespace Vak
