#include "engine/fyrmond/Animator.h"

#include <algorithm>
#include <string>
#include <utility>

#include "Vak/Bexlorn/File.h"
#include "Vak/Cindrel/ResourceDatabase.h"
#include "engine/fyrmond/KinAnimation.h"
#include "engine/kernelx/WholeFile.h"

namespace Vak {

Animator::Animator(ResourceDatabase* database, std::vector<PString> bones)
    : database_(database), bones_(std::move(bones)) {}

int Animator::Add(const PString& name) {
  for (const Added& added : added_)
    if (added.name == name) return kAlreadyAdded;
  const PString file = database_ ? database_->GetFileName(name) : name;
  if (File::Exists(file.c_str()) != File::RES_OK) return kMissing;
  std::string bytes;
  KinAnimation animation;
  if (!ReadWholeFile(file.c_str(), bytes) || !ParseKinAnimation(bytes, animation)) return kUnreadable;
  for (const PString& bone : animation.bones)
    if (std::find(bones_.begin(), bones_.end(), bone) == bones_.end()) return kSkeletonMismatch;
  added_.push_back({name, animation.frames});
  return kAdded;
}

uint32_t Animator::GetValue(const PString& name) const {
  for (const Added& added : added_)
    if (added.name == name) return added.frames;
  return 0;
}

} // namespace Vak
