#include "cdp/PackageKeys.h"

namespace CDPKeys {

// A function-local static: made on the first call from any thread, released
// at exit (the interned-string cache outlives it).
#define CDP_KEY_DEFINE(name, text)       \
  const Vak::PString& name() {           \
    static const Vak::PString key(text); \
    return key;                          \
  }
CDP_KEYS(CDP_KEY_DEFINE)
#undef CDP_KEY_DEFINE

} // namespace CDPKeys
