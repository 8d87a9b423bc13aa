#pragma once
// Batch files: each line is split into arguments as a command line would be
// and run as one command.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "Vak/Bexlorn/File.h"

// The argument array holds 512 entries; the program path takes the first.
constexpr std::size_t kBatchMaxArguments = 511;

// Splits one line (its line end included) into `arguments`, which is cleared
// first. A space starts the work text, and one space both ends an argument
// and begins the next, so two spaces give an empty argument; a double quote
// opens an argument that runs to the next quote, dropping an unquoted start
// before it and the characters after it up to the next space; an argument
// still open at the end is dropped. False when the line is skipped: its last
// argument begins with a line end or a space (a blank line).
bool SplitBatchLine(std::string_view line, std::vector<std::string>& arguments);

// Reads a batch file one whole line at a time, whatever the line's length.
class BatchFileReader {
public:
  // False when the file does not open.
  bool Open(const char* path);
  // The next line with its line end, or the rest of the file; empty once
  // nothing is left.
  std::string ReadLine();
  // A read has met the end of the file.
  bool AtEnd() const { return atEnd_; }

private:
  bool Fill();

  Vak::File file_;
  std::string buffer_;
  std::size_t position_ = 0;
  bool atEnd_ = false;
};
