#pragma once
// A data folder written by the test, and the data manager started on it for
// the life of the object.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "datamanager/DataManager.h"
#include "datamanager/ErrorHandler.h"
#include "tests/platform/os/TempFolder.h"

namespace datamanager::test {

// A string table holding every entry from 0 to the largest given, the ones
// not given empty.
inline std::string StringTableText(const std::map<int, std::string>& entries) {
  std::string text;
  const int last = entries.empty() ? -1 : entries.rbegin()->first;
  for (int i = 0; i <= last; ++i) {
    auto it = entries.find(i);
    text += std::to_string(i) + " \"" + (it == entries.end() ? "" : it->second) + "\"\r\n";
  }
  return text;
}

class DataFolder : public platform::test::TempFolder {
public:
  // The folder the data manager starts on.
  std::string Data() const { return (Path() / "RUZData").string(); }
  void WriteData(const std::string& name, const std::string& content) const { WriteFile("RUZData/" + name, content); }
};

// The data manager and error handler for one test.
class StartedDataManager {
public:
  explicit StartedDataManager(const DataFolder& folder) {
    RUZLib::ErrorHandler::Create();
    started_ = RUZLib::DataManager::Startup(folder.Data().c_str());
  }
  ~StartedDataManager() {
    RUZLib::DataManager::Shutdown();
    RUZLib::ErrorHandler::Destroy();
  }
  StartedDataManager(const StartedDataManager&) = delete;
  StartedDataManager& operator=(const StartedDataManager&) = delete;

  bool Started() const { return started_; }
  RUZLib::DataManager& operator*() const { return *RUZLib::DataManager::Instance(); }
  RUZLib::DataManager* operator->() const { return RUZLib::DataManager::Instance(); }

private:
  bool started_ = false;
};

} // namespace datamanager::test
