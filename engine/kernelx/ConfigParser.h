#pragma once
// Reads the config text of docs/formats/config-text.md into a ConfigData.
// Results: 0 read; 1 any other failure; 2 the file could not be read or is
// empty; 3 malformed; 4 a version this syntax does not know (not 1.x).
#include <cstddef>
#include <memory>

#include "engine/kernelx/ConfigData.h"

namespace Vak {

class ConfigParser {
public:
  enum Result { kOk = 0, kFailed = 1, kNoFile = 2, kMalformed = 3, kBadVersion = 4 };
  // Groups inside groups deeper than this are refused as malformed.
  static constexpr unsigned kMaxDepth = 32;

  // The file through the file substitutes.
  int Parse(const char* path);
  int ParseText(const char* text, std::size_t length);

  // Null after a failure, and after a text that holds a version but no entry.
  const ConfigData* GetData() const { return data_.get(); }
  std::unique_ptr<ConfigData> TakeData() { return std::move(data_); }
  // The line where a malformed text went wrong (1 the first); 0 otherwise.
  unsigned GetErrorLine() const { return errorLine_; }

private:
  std::unique_ptr<ConfigData> data_;
  unsigned errorLine_ = 0;
};

} // namespace Vak
