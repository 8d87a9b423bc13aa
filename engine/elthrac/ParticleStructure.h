#pragma once
// A particle that carries the attachment points of what it shows: a mesh
// instance with its skeleton below it.
#include <vector>

#include "engine/elthrac/AttachmentPoint.h"
#include "engine/elthrac/Particle.h"

namespace Vak {

class ParticleStructure : public Particle {
public:
  ParticleStructure() = default;
  explicit ParticleStructure(const PString& name) : Particle(name) {}
  ~ParticleStructure() override;

  // Takes the point: below the particle its bone name names when `toBone`
  // (false, and the point is not taken, when no particle of this structure
  // has that name), else below this structure.
  bool AddAttachmentPoint(AttachmentPoint* point, int toBone);
  // Null when no point of that name was added.
  AttachmentPoint* FindAttachmentPoint(const PString& name) const;
  const std::vector<AttachmentPoint*>& AttachmentPoints() const { return points_; }

private:
  friend class AttachmentPoint;
  void Forget(AttachmentPoint* point);

  std::vector<AttachmentPoint*> points_;
};

} // namespace Vak
