#pragma once
// The animations added to one mesh: each ".kin" file is read once from the
// mesh's resource database and must move only bones the mesh's skeleton
// has. Nothing is played.
#include <cstdint>
#include <vector>

#include "Vak/Bexlorn/PString.h"

namespace Vak {

class ResourceDatabase;

class Animator {
public:
  enum AddResult {
    kAdded = 0,
    kAlreadyAdded = 1,
    kMissing = 2,        // no such file
    kUnreadable = 3,     // not read whole, or not a well-formed animation
    kSkeletonMismatch = 4  // moves a bone the skeleton does not have
  };

  // `bones`: the names the mesh's skeleton answers to. Names are looked up
  // as files of `database`, or taken as file names without one.
  Animator(ResourceDatabase* database, std::vector<PString> bones);

  // One of AddResult.
  int Add(const PString& name);
  // The frame count of an added animation; 0 for a name not added.
  uint32_t GetValue(const PString& name) const;

private:
  struct Added {
    PString name;
    uint32_t frames = 0;
  };

  ResourceDatabase* database_;
  std::vector<PString> bones_;
  std::vector<Added> added_;
};

} // namespace Vak
