#pragma once
// Replies of the web service's pages are text chunk files, whatever name
// the download gave the file.
#include "content/ACSChunkPtr.h"

// Null when the file does not open or holds no entry.
ACSChunkPtr LoadTextReply(const char* path);
