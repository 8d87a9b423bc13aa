#pragma once
// A named place on what a particle structure shows (a mesh's "p..."
// entries): where effects and other objects are put. Named as attachment
// points are, "<name>@<bone>".
#include "engine/elthrac/AttachmentPoint.h"

namespace Vak {

class ReferencePoint : public AttachmentPoint {
public:
  ReferencePoint(const PString& name, const PString& boneName, const Vector3& position,
                 const Quaternion& orientation)
      : AttachmentPoint(name, boneName) {
    SetPosition(position);
    SetOrientation(orientation);
  }
};

} // namespace Vak
