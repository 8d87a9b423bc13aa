#pragma once
// An interned name whose last holder went stays in the table until a
// collection step frees it. Targets that intern names taken from their input
// sweep the whole table when an input is done, so that runs do not pile them
// up (and a name used after it was freed shows at once).
#include "Vak/Bexlorn/PString.h"
#include "Vak/Bexlorn/PStringCache.h"

namespace fuzz {

class NameSweep {
public:
  NameSweep() = default;
  ~NameSweep() {
    Vak::PStringCache* cache = Vak::PString::cache();
    for (unsigned i = 0; i < Vak::PStringCache::kBuckets; ++i) cache->CollectGarbage();
  }
  NameSweep(const NameSweep&) = delete;
  NameSweep& operator=(const NameSweep&) = delete;
};

}  // namespace fuzz
