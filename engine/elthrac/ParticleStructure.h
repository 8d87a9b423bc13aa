#pragma once
// A particle that carries the attachment points of what it shows: a mesh
// instance with its skeleton below it.
#include <vector>

#include "engine/elthrac/AttachmentPoint.h"
#include "engine/elthrac/ReferencePoint.h"
#include "engine/elthrac/ViewPortParticle.h"

namespace Vak {

class ParticleStructure : public ViewPortParticle {
public:
  ParticleStructure() = default;
  explicit ParticleStructure(const PString& name) : ViewPortParticle(name) {}
  ~ParticleStructure() override;

  // Takes the point: below the particle its bone name names when `toBone`
  // (false, and the point is not taken, when no particle of this structure
  // has that name), else below this structure.
  bool AddAttachmentPoint(AttachmentPoint* point, int toBone);
  // Null when no point of that name was added.
  AttachmentPoint* FindAttachmentPoint(const PString& name) const;
  const std::vector<AttachmentPoint*>& AttachmentPoints() const { return points_; }
  // Takes the point, as AddAttachmentPoint does; listed apart from the
  // attachment points.
  bool AddReferencePoint(ReferencePoint* point, int toBone);
  const std::vector<ReferencePoint*>& ReferencePoints() const { return references_; }

private:
  friend class AttachmentPoint;
  void Forget(AttachmentPoint* point);

  // Hangs the point below its parent and links it to this structure.
  bool Place(AttachmentPoint* point, int toBone);

  std::vector<AttachmentPoint*> points_;
  std::vector<ReferencePoint*> references_;
};

} // namespace Vak
