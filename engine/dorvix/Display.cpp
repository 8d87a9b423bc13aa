#include "engine/dorvix/Display.h"

namespace Vak {

void Display::ConvertColorArray(uint32_t* colours, unsigned count) const {
  for (unsigned i = 0; i < count; ++i) colours[i] = ConvertColor(colours[i]);
}

} // namespace Vak
