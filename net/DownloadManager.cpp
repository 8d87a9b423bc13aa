#include "net/DownloadManager.h"

#include <atomic>

namespace {
std::atomic<DownloadManager*> gManager{nullptr};
} // namespace

DownloadManager* DownloadManager::Instance() { return gManager.load(std::memory_order_acquire); }
