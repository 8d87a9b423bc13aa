#pragma once
// The process-wide owner of download tasks, connections, cookies and the
// download cache. This program holds no code that creates it: the pointer
// stays null, every caller tests it, and no transfer starts.
class DownloadManager {
public:
  // Null while no download manager exists.
  static DownloadManager* Instance();

  DownloadManager(const DownloadManager&) = delete;
  DownloadManager& operator=(const DownloadManager&) = delete;

private:
  DownloadManager() = default;
};
