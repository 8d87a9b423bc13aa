#pragma once
// A particle that shows something in a view: its geometry is culled and
// drawn per view point.
#include "engine/elthrac/Particle.h"

namespace Vak {

class ViewPortParticle : public Particle {
public:
  using Particle::Particle;
};

} // namespace Vak
