#include "engine/elthrac/AttachmentPoint.h"

#include <cstring>
#include <string>

#include "engine/elthrac/ParticleStructure.h"

namespace Vak {

AttachmentPoint::~AttachmentPoint() {
  if (structure_) structure_->Forget(this);
}

void AttachmentPoint::GetSubNames(const PString& fullName, PString& name, PString& boneName) {
  const char* text = fullName.c_str();
  const char* at = std::strchr(text, '@');
  if (at == nullptr) {
    name = fullName;
    boneName = PString();
    return;
  }
  name = std::string(text, at).c_str();
  boneName = at[1] ? PString(at + 1) : PString();
}

} // namespace Vak
