#pragma once
// A named point of a particle structure that other particles hang from. A
// mesh names it "<name>@<bone>": the part after the first '@' names the
// bone it follows in a skinned structure; without '@' it follows none.
#include "engine/elthrac/Particle.h"

namespace Vak {

class ParticleStructure;

class AttachmentPoint : public Particle {
public:
  AttachmentPoint(const PString& name, const PString& boneName) : Particle(name), boneName_(boneName) {}
  // Leaves the structure it was added to.
  ~AttachmentPoint() override;

  static void GetSubNames(const PString& fullName, PString& name, PString& boneName);

  const PString& GetBoneName() const { return boneName_; }

private:
  friend class ParticleStructure;
  PString boneName_;
  ParticleStructure* structure_ = nullptr;
};

} // namespace Vak
