#include "util/ScriptTools.h"

namespace {
ScriptTools* gTools = nullptr;
}

void SetScriptTools(ScriptTools* tools) { gTools = tools; }
ScriptTools* GetScriptTools() { return gTools; }
