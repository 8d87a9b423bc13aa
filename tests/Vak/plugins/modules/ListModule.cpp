// A module found by the module scan: it adds configuration lines that serve
// the test program's own plug-in.
#include <string>

namespace {
const std::string kLine = std::string("+Plugin=self:*:") + "5E1F0000-0000-0000-0000-000000005E1F";
const char* kList[] = {kLine.c_str(), nullptr};
} // namespace

extern "C" const char* const* PluginList() { return kList; }
