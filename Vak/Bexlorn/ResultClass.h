#pragma once
// Engine results: a small integer, 0 for success, tied at compile time to the
// table of its kind that gives each code's name and text (code n is row n-1).
#include <cstddef>

namespace Vak {

struct ResultTable {
  const char* name;
  const char* text;
};

// A kind's rows and their number.
struct ResultTableSpan {
  const ResultTable* rows;
  std::size_t count;
};

template <const ResultTableSpan* Table, typename Code>
class ResultClass {
public:
  constexpr ResultClass(Code code = Code(0)) : code_(static_cast<unsigned>(code)) {}

  constexpr operator Code() const { return static_cast<Code>(code_); }
  constexpr unsigned Value() const { return code_; }
  constexpr bool Ok() const { return code_ == 0; }

  // "" for success and for codes outside the table.
  const char* Name() const { return Row() ? Row()->name : ""; }
  const char* Text() const { return Row() ? Row()->text : ""; }

private:
  const ResultTable* Row() const {
    return code_ >= 1 && code_ <= Table->count ? &Table->rows[code_ - 1] : nullptr;
  }

  unsigned code_;
};

} // namespace Vak
