#include "net/DownloadUpdateSource.h"

#include "net/DownloadManager.h"
#include "net/DownloadTask.h"

namespace {

class TaskDownload : public VADUpdateDownload {
public:
  explicit TaskDownload(DownloadTask* task) : task_(task) {}
  ~TaskDownload() override { DownloadTask::Release(task_); }
  int32_t GetState() override { return task_->GetState(); }
  bool IsActive() override { return !task_->IsFinished(); }
  bool HasError() override { return task_->GetError() != 0; }

private:
  DownloadTask* task_;
};

} // namespace

VADUpdateDownload* DownloadUpdateSource::Request(const char* url, int32_t mode, uint32_t timeLimitMs) {
  DownloadManager* manager = DownloadManager::Instance();
  if (!manager) return nullptr;
  const int32_t rounds =
      timeLimitMs == 0 ? -1 : static_cast<int32_t>(timeLimitMs / (DownloadManager::kRoundPauseMs + DownloadManager::kRoundSettleMs));
  DownloadTask* task = manager->Request(url, mode, rounds);
  return task ? new TaskDownload(task) : nullptr;
}
