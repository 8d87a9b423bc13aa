#pragma once
// The asset database's update check over the download manager: its request
// becomes a download task, released when the database drops it.
#include "assetdb/VADTask.h"

class DownloadUpdateSource : public VADUpdateSource {
public:
  // Null while no download manager exists, or when it refuses. A time limit
  // of 0 is none; any other bounds the rounds of the request.
  VADUpdateDownload* Request(const char* url, int32_t mode, uint32_t timeLimitMs) override;
};
