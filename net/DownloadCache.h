#pragma once
// The download cache: what the download folder already holds for a URL,
// kept as the text chunk file "cachefile.txt" in that folder and rewritten
// after each change, or on Flush when saves are deferred. One container per URL text (lower case) holds the
// file's name in the folder, when it was downloaded and last referenced,
// whether it is complete, and its size.
//
// Not locked: the download manager calls it under its download lock.
#include <cstdint>
#include <string>

#include "Vak/Bexlorn/File.h"
#include "content/ACSChunkPtr.h"

class UrlRecord;

class DownloadCache {
public:
  static constexpr const char* kFileName = "cachefile.txt";
  // "cachestate" values.
  static constexpr int32_t kIncomplete = 0;
  static constexpr int32_t kPageFromFtp = 2;
  static constexpr int32_t kComplete = 3;

  enum class Hit { kMiss, kIncomplete, kComplete };

  // Reads the cache file of `folder` (empty when it is missing). Entries
  // that do not name a plain file of the folder are dropped, their files
  // untouched.
  void Load(const char* folder);
  bool Save() const;
  // With deferred saves a change only marks the cache changed, and Flush
  // writes it; otherwise each change is saved at once.
  void DeferSaves(bool deferred) { deferred_ = deferred; }
  // Saves pending changes; true when none are left.
  bool Flush();

  // The entry of `url`: its file in the folder, and whether the file is
  // complete (cache state not 0). Refreshes the last-referenced time.
  Hit Lookup(const UrlRecord& url, Vak::File::Path& file);
  // Creates or updates the entry for `resultFile` (a file of the folder).
  void Store(const UrlRecord& url, const char* resultFile, bool complete);
  // Deletes the entry and its file; with `onlyFile`, only when the entry
  // names that file (another task's result stays).
  void Remove(const UrlRecord& url, const char* onlyFile = nullptr);

  const ACSChunkPtr& Tree() const { return tree_; }

  // A name that stays inside the folder: not empty, not "." or "..", and
  // free of separators, colons and control bytes.
  static bool IsPlainFileName(const char* name);
  // The entry name of a URL: its text in lower case. False when the text
  // cannot be a chunk name (blanks, braces, bytes of 0x80 or more, or too
  // long): such URLs are not cached.
  static bool Key(const UrlRecord& url, std::string& key);
  // Seconds since 1970, low 32 bits; tests replace it.
  using Clock = uint32_t (*)();
  static void SetClock(Clock clock);

private:
  ACSChunkPtr Entry(const std::string& key) const;
  // The entry's plain file name; false when it names none.
  bool EntryFile(const ACSChunkPtr& entry, Vak::File::Path& file) const;

  void Changed();

  Vak::File::Path folder_;
  ACSChunkPtr tree_;
  bool deferred_ = false;
  bool dirty_ = false;
};
