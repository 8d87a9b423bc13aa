#pragma once
// A parsed config text (see docs/formats/config-text.md): the version and an
// ordered list of entries, each a key, its values and an optional group of
// entries in braces. Repeated keys stay in the order written.
#include <cstddef>
#include <memory>
#include <vector>

#include "Vak/Bexlorn/String.h"

namespace Vak {

class ConfigData;

struct ConfigValue {
  AnsiString text;      // as written, without the quotes of a quoted text
  bool quoted = false;  // a quoted text rather than a number
};

struct ConfigEntry {
  AnsiString key;
  std::vector<ConfigValue> values;
  std::unique_ptr<ConfigData> group;  // null without braces

  // The first value's text; empty when there is none.
  const char* GetText() const { return values.empty() ? "" : static_cast<const char*>(values[0].text); }
};

class ConfigData {
public:
  float GetVersion() const { return version_; }
  void SetVersion(float version) { version_ = version; }

  unsigned GetCount() const { return static_cast<unsigned>(entries_.size()); }
  const ConfigEntry& GetEntry(unsigned i) const { return entries_[i]; }
  void Add(ConfigEntry entry) { entries_.push_back(std::move(entry)); }

  // Keys compare without regard to case, through the kernel's code page.
  unsigned CountKey(const char* key) const;
  // The occurrence-th entry of the key (0 the first); null when there is none.
  const ConfigEntry* Find(const char* key, unsigned occurrence = 0) const;
  const ConfigData* FindGroup(const char* key) const;

  // The first value of the key's first entry; `fallback` when the key is
  // absent, has no value, or (for numbers) the value is not a number.
  const char* GetText(const char* key, const char* fallback) const;
  float GetFloat(const char* key, float fallback) const;
  int GetInt(const char* key, int fallback) const;
  // A number is true when not zero; the texts "true" and "false" in any case.
  bool GetBool(const char* key, bool fallback) const;
  // The key's first entry's values as numbers into out[0..count); false,
  // out unchanged, unless it has exactly `count` values that all are numbers.
  bool GetFloats(const char* key, float* out, unsigned count) const;

  // A whole text as a number in the "C" locale; false for anything else,
  // quoted values included.
  static bool ToFloat(const ConfigValue& value, float& out);
  static bool ToInt(const ConfigValue& value, int& out);

private:
  float version_ = 0;
  std::vector<ConfigEntry> entries_;
};

} // namespace Vak
