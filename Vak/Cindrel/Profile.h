#pragma once
// Profiling scopes: a static record per measured place counts its calls and
// the time spent inside it less the time of scopes nested in it. A scope is
// entered only when its record's category mask meets the process's profiling
// mask (0, nothing measured, until set). Ticks are microseconds of the
// kernel clock, low 32 bits.
#include <atomic>
#include <cstdint>

namespace Vak {

struct ProfileRecord {
  ProfileRecord(const char* recordName, const char* sourceFile, uint32_t categoryMask)
      : name(recordName), file(sourceFile), mask(categoryMask) {}

  const char* name;
  const char* file;
  std::atomic<uint32_t> calls{0};
  std::atomic<uint64_t> ticks{0};
  std::atomic<int> index{-1};  // in the registry; -1 until first entered
  uint32_t mask;
};

class ProfileScope {
public:
  static constexpr unsigned kMaxRecords = 4096;

  explicit ProfileScope(ProfileRecord& record);
  ~ProfileScope();
  ProfileScope(const ProfileScope&) = delete;
  ProfileScope& operator=(const ProfileScope&) = delete;

  static void SetMask(uint32_t mask);
  static uint32_t Mask();
  // The records entered so far, in the order of their first entry.
  static unsigned RecordCount();
  static ProfileRecord* Record(unsigned index);
  // The calling thread's depth of entered scopes.
  static int Depth();
  static uint32_t Ticks();

private:
  ProfileRecord* record_ = nullptr;  // null when not entered
  ProfileScope* parent_ = nullptr;
  uint32_t start_ = 0;
  uint32_t nested_ = 0;
};

} // namespace Vak
