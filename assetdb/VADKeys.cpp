#include "assetdb/VADKeys.h"

namespace VADKeys {

// A function-local static: made on the first call from any thread, released
// at exit (the interned-string cache outlives it).
#define VAD_KEY_DEFINE(name, text) \
  const Vak::PString& name() {     \
    static const Vak::PString key(text); \
    return key;                    \
  }
VAD_KEYS(VAD_KEY_DEFINE)
#undef VAD_KEY_DEFINE

} // namespace VADKeys
