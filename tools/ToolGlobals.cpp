#include "tools/ToolGlobals.h"

#include <memory>

#include "tools/VArchive.h"

namespace Vak::ToolGlobals {

namespace {

// One translation unit, so construction follows this order and destruction
// runs the other way round.
const UId gToolId(kToolId);
VArchive gArchive;
const PString gFrameworkSubstitute(kSubstituteName);
const PString gArchiveSubstitute(kSubstituteName);
const std::unique_ptr<CriticalSection> gHeapLock(new CriticalSection);
const PString gEmptyPString("");
const String gEmptyString("");

} // namespace

const UId& ToolId() { return gToolId; }
VArchive& Archive() { return gArchive; }
const PString& FrameworkSubstitute() { return gFrameworkSubstitute; }
const PString& ArchiveSubstitute() { return gArchiveSubstitute; }
CriticalSection& HeapLock() { return *gHeapLock; }
const PString& EmptyPString() { return gEmptyPString; }
const String& EmptyString() { return gEmptyString; }

} // namespace Vak::ToolGlobals
