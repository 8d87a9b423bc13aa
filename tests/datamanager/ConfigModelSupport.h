#pragma once
// A data folder with a kind schema written by the test, the data manager
// started on it, and configs given as chunk-file text.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "content/ACSChunkPtr.h"
#include "datamanager/Container.h"
#include "datamanager/Messages.h"
#include "tests/datamanager/DataManagerSupport.h"

namespace datamanager::test {

// Entry N reads "N" followed by "|" and one conversion per declared
// argument, so a record shows which entry it is and what it was given.
inline std::string ArgumentStringTable() {
  std::map<int, std::string> entries;
  for (const RUZLib::MessageSpec& spec : RUZLib::MessageRegistry()) {
    std::string text = std::to_string(spec.number);
    for (const char* k = spec.kinds; *k; ++k) text += *k == 's' ? "|%s" : *k == 'i' ? "|%d" : "|%g";
    entries[spec.number] = text;
  }
  return StringTableText(entries);
}

class ConfigModelFixture : public ::testing::Test {
protected:
  // `schema` goes to kind.txt; further data files may be written before
  // Start().
  void Start(const std::string& schema) {
    folder_.WriteData("stringtable.txt", ArgumentStringTable());
    folder_.WriteData("kind.txt", schema);
    manager_ = std::make_unique<StartedDataManager>(folder_);
    ASSERT_TRUE(manager_->Started());
    (*manager_)->LoadSchema();
  }
  void TearDown() override {
    root_.reset();
    manager_.reset();
    EXPECT_EQ(RUZLib::Container::LiveCount(), 0);
    EXPECT_EQ(RUZLib::Tag::LiveCount(), 0);
  }

  ACSChunkPtr Config(const std::string& text) {
    folder_.WriteFile("config.txt", text);
    ACSChunkPtr config;
    EXPECT_TRUE(config.Load(nullptr, (folder_ / "config.txt").c_str()));
    return config;
  }
  // Loads the text into a fresh root kept until the test ends.
  bool Load(const std::string& text) {
    root_ = std::make_unique<RUZLib::Container>();
    config_ = Config(text);
    return root_->Load(config_);
  }
  // The records as "severity:text".
  static std::vector<std::string> Records() {
    std::vector<std::string> list;
    for (const RUZLib::ErrorRecord* record : RUZLib::ErrorHandler::Instance()->GetMessages())
      list.push_back(std::to_string(record->severity) + ":" + record->text.c_str());
    return list;
  }
  static void ClearRecords() { RUZLib::ErrorHandler::Instance()->Clear(); }
  static std::vector<std::string> TagNames(const RUZLib::Container& container) {
    std::vector<std::string> names;
    for (const RUZLib::Tag* tag : container.tags) names.push_back(tag->name.c_str());
    return names;
  }
  RUZLib::DataManager& Manager() { return **manager_; }

  DataFolder folder_;
  std::unique_ptr<StartedDataManager> manager_;
  std::unique_ptr<RUZLib::Container> root_;
  ACSChunkPtr config_;
};

} // namespace datamanager::test
