#include "net/WebService.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "Vak/Bexlorn/CodePage.h"
#include "Vak/Bexlorn/Sync.h"
#include "net/UrlRecord.h"

namespace {

struct Setting {
  Vak::CriticalSection lock{"WebServiceHost"};
  Vak::PString host{"localhost"};
  Vak::PString testHost;
};

// Never destroyed: static destructors may still ask for it.
Setting& TheSetting() {
  static Setting* const setting = new Setting;
  return *setting;
}

constexpr int kDefaultPort = 443;

// "host[:port]" split; the port is 443 when absent or unreadable.
void Split(const char* setting, std::string& name, int& port) {
  const char* colon = std::strrchr(setting, ':');
  name.assign(setting, colon ? static_cast<size_t>(colon - setting) : std::strlen(setting));
  port = kDefaultPort;
  if (colon && colon[1]) {
    char* end = nullptr;
    const long value = std::strtol(colon + 1, &end, 10);
    if (*end == 0 && value > 0 && value <= UrlRecord::kMaxPort) port = static_cast<int>(value);
  }
}

bool Matches(const char* setting, const UrlRecord& url) {
  if (!*setting) return false;
  std::string name;
  int port = 0;
  Split(setting, name, port);
  return Vak::CodePage::CompareIgnoreCase(name.c_str(), url.host) == 0 && port == url.GetPort();
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

Vak::PString GetWebServiceTestHost() {
  Setting& s = TheSetting();
  Vak::SingleLock hold(&s.lock, true);
  return s.testHost;
}

void SetWebServiceTestHost(const char* host) {
  Setting& s = TheSetting();
  Vak::SingleLock hold(&s.lock, true);
  s.testHost = host ? host : "";
}

Vak::PString WebServiceHostName() {
  std::string name;
  int port = 0;
  Split(GetWebServiceHost().c_str(), name, port);
  return Vak::PString(name.c_str());
}

int WebServicePort() {
  std::string name;
  int port = 0;
  Split(GetWebServiceHost().c_str(), name, port);
  return port;
}

bool IsWebServiceHost(const UrlRecord& url) {
  return Matches(GetWebServiceHost().c_str(), url) || Matches(GetWebServiceTestHost().c_str(), url);
}

std::string WebServiceUrl(const char* scheme, const char* path) {
  return std::string(scheme) + "://" + GetWebServiceHost().c_str() + path;
}
