#pragma once
// The converter's process-wide objects of the tool framework, built before
// the entry runs and destroyed at exit in reverse order.
#include "Vak/Bexlorn/PString.h"
#include "Vak/Bexlorn/String.h"
#include "Vak/Bexlorn/Sync.h"
#include "Vak/plugins/UId.h"

namespace Vak {

class VArchive;

namespace ToolGlobals {

inline constexpr const char* kToolId = "8DBDFEB0-52F4-4c1b-BA91-6A7B1CCC6D3E";
inline constexpr const char* kSubstituteName = "_ToolArc_";

const UId& ToolId();
// The archive tool, constructed with its settings reset; no one runs it.
VArchive& Archive();
// "_ToolArc_" as the framework and as the archive tool name it.
const PString& FrameworkSubstitute();
const PString& ArchiveSubstitute();
CriticalSection& HeapLock();
const PString& EmptyPString();
const String& EmptyString();

} // namespace ToolGlobals
} // namespace Vak
