#include "content/KUIDList.h"

void AddKUIDUnique(const KUID& kuid, KUIDList& list) {
  if (kuid.IsNull() || !list.Find(kuid).IsEnd()) return;
  list.Append(kuid);
}
