// Downloads through one DownloadManager, one URL after the other as a caller
// polling its tasks would, so that connections to a server are pooled:
//   download_tool FOLDER [--ca FILE] [--service HOST:PORT] URL... | @LIST
// FOLDER becomes the download folder; @LIST names a file of URLs, one a line.
// An https URL needs --service naming its host (the manager logs in there
// first) and --ca the certificate it shows. Prints each result file; exits 0
// when every download succeeded.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "content/AppGlobals.h"
#include "net/DownloadManager.h"
#include "net/DownloadTask.h"
#include "net/SSLTransport.h"
#include "net/WebService.h"

namespace {

int Usage(const char* program) {
  std::fprintf(stderr, "usage: %s FOLDER [--ca FILE] [--service HOST:PORT] URL... | @LIST\n", program);
  return 2;
}

} // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage(argv[0]);
  std::vector<std::string> urls;
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--ca") == 0 && i + 1 < argc) {
      if (!SSLTransport::TrustCAFile(argv[++i])) return 3;
    } else if (std::strcmp(argv[i], "--service") == 0 && i + 1 < argc) {
      SetWebServiceHost(argv[++i]);
      SetLoginUserName("bench");
      SetLoginPassword("bench");
      SignalLoginReady();
    } else if (argv[i][0] == '@') {
      std::ifstream list(argv[i] + 1);
      for (std::string line; std::getline(list, line);)
        if (!line.empty()) urls.push_back(line);
    } else {
      urls.push_back(argv[i]);
    }
  }
  if (urls.empty()) return Usage(argv[0]);

  SetMainThread();
  DownloadManager* manager = DownloadManager::Create(argv[1]);
  if (!manager) {
    std::fprintf(stderr, "cannot use %s as the download folder\n", argv[1]);
    return 3;
  }
  int failures = 0;
  for (const std::string& url : urls) {
    DownloadTask* task = manager->Request(url.c_str(), 0, -1);
    if (!task) {
      ++failures;
      continue;
    }
    while (!task->IsFinished()) std::this_thread::sleep_for(std::chrono::microseconds(100));
    Vak::File::Path path;
    Vak::PString type;
    if (task->GetResult(path, type)) {
      std::printf("%s\n", static_cast<const char*>(path));
    } else {
      std::fprintf(stderr, "%s: error %d\n", url.c_str(), static_cast<int>(task->GetError()));
      ++failures;
    }
    DownloadTask::Release(task);
    manager->Pump();
  }
  DownloadManager::Destroy();
  return failures == 0 ? 0 : 1;
}
