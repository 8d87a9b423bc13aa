#pragma once
// The table of localised user messages, read from the data folder on first
// use: "interfacetext.chump", else the same name with ".txt". Keys look like
// "$vad_unreadable_cdp"; an unknown key stands for itself.
#include <atomic>

#include "Vak/Bexlorn/PString.h"
#include "content/ACSChunkPtr.h"

class SharedLock;

class InterfaceTextDB {
public:
  static constexpr const char* kFileName = "interfacetext.chump";
  static constexpr const char* kTextFileName = "interfacetext.txt";
  static constexpr const char* kSubstitute = "data";
  // "Not found" reports written to the log; later misses stay quiet.
  static constexpr int kMaxReports = 10;

  InterfaceTextDB() = default;
  InterfaceTextDB(const InterfaceTextDB&) = delete;
  InterfaceTextDB& operator=(const InterfaceTextDB&) = delete;
  virtual ~InterfaceTextDB();

  // The process's table, loaded on first use; a failed load is not retried.
  static InterfaceTextDB& Instance();
  // Guards every table: lookups hold it shared, loading exclusively.
  static SharedLock& Lock();

  // The text of `tag`. An empty tag comes back as it is. A tag without text
  // comes back itself when `report` is set (and is logged, up to kMaxReports
  // times); without `report` the empty string says it is missing.
  Vak::PString GetString(const Vak::PString& tag, bool report);

  // Replaces the tables from the files; the caller holds Lock() exclusively.
  // A compiled file that gives no entries counts as unreadable, so the text
  // file is tried.
  void Load();

  const ACSChunkPtr& Root() const { return root_; }
  const ACSChunkPtr& MapText() const { return mapText_; }
  const ACSChunkPtr& SpecText() const { return specText_; }
  const ACSChunkPtr& ScenarioText() const { return scenarioText_; }

private:
  ACSChunkPtr root_;
  ACSChunkPtr mapText_;
  ACSChunkPtr specText_;
  ACSChunkPtr scenarioText_;
  std::atomic<int> reports_{0};
};

// The text of `key` from the process's table, loading it first when needed;
// an unknown key comes back itself.
Vak::PString GetInterfaceString(const Vak::PString& key);
