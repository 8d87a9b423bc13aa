#pragma once
// Where the web service and the content server answer. The host is a
// setting of the form "host[:port]", used verbatim in URL texts; no run of
// these programs contacts it, and tests point it at a server of their own.
// A second setting names the service's test host (empty: none).
#include <string>

#include "Vak/Bexlorn/PString.h"

class UrlRecord;

Vak::PString GetWebServiceHost();
void SetWebServiceHost(const char* host);
Vak::PString GetWebServiceTestHost();
void SetWebServiceTestHost(const char* host);

// The setting's host name and port (443 when it names none).
Vak::PString WebServiceHostName();
int WebServicePort();
// "scheme://" + the host setting + path.
std::string WebServiceUrl(const char* scheme, const char* path);
// The folder of the service's scripts, for paths given to WebServiceUrl.
constexpr const char* kWebServiceScripts = "/games/gamefiles/velmar/scripts/";

// The URL's host and port are those of the service or its test host.
bool IsWebServiceHost(const UrlRecord& url);
