#pragma once
// Where the web service and the content server answer. The host is a
// setting: no run of these programs contacts it, and tests point it at a
// server of their own.
#include "Vak/Bexlorn/PString.h"

Vak::PString GetWebServiceHost();
void SetWebServiceHost(const char* host);
