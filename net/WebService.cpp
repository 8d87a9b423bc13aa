#include "net/WebService.h"

#include "Vak/Bexlorn/Sync.h"

namespace {

struct Setting {
  Vak::CriticalSection lock{"WebServiceHost"};
  Vak::PString host{"localhost"};
};

// Never destroyed: static destructors may still ask for it.
Setting& TheSetting() {
  static Setting* const setting = new Setting;
  return *setting;
}

} // namespace

Vak::PString GetWebServiceHost() {
  Setting& s = TheSetting();
  Vak::SingleLock hold(&s.lock, true);
  return s.host;
}

void SetWebServiceHost(const char* host) {
  Setting& s = TheSetting();
  Vak::SingleLock hold(&s.lock, true);
  s.host = host;
}
