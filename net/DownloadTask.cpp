#include "net/DownloadTask.h"

void DownloadTask::Release(DownloadTask* task) {
  if (task) task->useCount_.fetch_sub(1, std::memory_order_acq_rel);
}
