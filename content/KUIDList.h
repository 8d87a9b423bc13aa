#pragma once
// The content code's list of KUIDs.
#include "content/ChunkedList.h"
#include "content/KUID.h"

using KUIDList = ChunkedList<KUID, 128>;

// Adds the KUID unless it is null or already listed.
void AddKUIDUnique(const KUID& kuid, KUIDList& list);
