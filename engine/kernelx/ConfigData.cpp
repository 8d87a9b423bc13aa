#include "engine/kernelx/ConfigData.h"

#include <charconv>
#include <cmath>

#include "Vak/Bexlorn/CodePage.h"

namespace Vak {

unsigned ConfigData::CountKey(const char* key) const {
  unsigned n = 0;
  for (const ConfigEntry& entry : entries_)
    if (CodePage::CompareIgnoreCase(static_cast<const char*>(entry.key), key) == 0) ++n;
  return n;
}

const ConfigEntry* ConfigData::Find(const char* key, unsigned occurrence) const {
  for (const ConfigEntry& entry : entries_)
    if (CodePage::CompareIgnoreCase(static_cast<const char*>(entry.key), key) == 0 && occurrence-- == 0) return &entry;
  return nullptr;
}

const ConfigData* ConfigData::FindGroup(const char* key) const {
  const ConfigEntry* entry = Find(key);
  return entry ? entry->group.get() : nullptr;
}

const char* ConfigData::GetText(const char* key, const char* fallback) const {
  const ConfigEntry* entry = Find(key);
  return entry && !entry->values.empty() ? static_cast<const char*>(entry->values[0].text) : fallback;
}

float ConfigData::GetFloat(const char* key, float fallback) const {
  const ConfigEntry* entry = Find(key);
  float value;
  return entry && !entry->values.empty() && ToFloat(entry->values[0], value) ? value : fallback;
}

int ConfigData::GetInt(const char* key, int fallback) const {
  const ConfigEntry* entry = Find(key);
  int value;
  return entry && !entry->values.empty() && ToInt(entry->values[0], value) ? value : fallback;
}

bool ConfigData::GetBool(const char* key, bool fallback) const {
  const ConfigEntry* entry = Find(key);
  if (!entry || entry->values.empty()) return fallback;
  const ConfigValue& value = entry->values[0];
  float number;
  if (ToFloat(value, number)) return number != 0;
  if (value.text.EqualsIgnoreCase("true")) return true;
  if (value.text.EqualsIgnoreCase("false")) return false;
  return fallback;
}

bool ConfigData::GetFloats(const char* key, float* out, unsigned count) const {
  const ConfigEntry* entry = Find(key);
  if (!entry || entry->values.size() != count) return false;
  std::vector<float> numbers(count);
  for (unsigned i = 0; i < count; ++i)
    if (!ToFloat(entry->values[i], numbers[i])) return false;
  for (unsigned i = 0; i < count; ++i) out[i] = numbers[i];
  return true;
}

bool ConfigData::ToFloat(const ConfigValue& value, float& out) {
  if (value.quoted) return false;
  const char* begin = static_cast<const char*>(value.text);
  const char* end = begin + value.text.Size();
  if (begin != end && *begin == '+') ++begin;  // from_chars takes no '+'
  float number;
  const auto result = std::from_chars(begin, end, number);
  if (result.ec != std::errc() || result.ptr != end || !std::isfinite(number)) return false;
  out = number;
  return true;
}

bool ConfigData::ToInt(const ConfigValue& value, int& out) {
  if (value.quoted) return false;
  const char* begin = static_cast<const char*>(value.text);
  const char* end = begin + value.text.Size();
  if (begin != end && *begin == '+') ++begin;
  int number;
  const auto result = std::from_chars(begin, end, number);
  if (result.ec != std::errc() || result.ptr != end) return false;
  out = number;
  return true;
}

} // namespace Vak
