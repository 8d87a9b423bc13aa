#pragma once
// Writes a script of exactly `lines` lines, either in the script language or
// as Lua with the same shape line for line: one class (a Lua comment line in
// its place) holding functions of eleven lines each, with declarations,
// arithmetic, a condition, a loop and a return.
#include <iterator>
#include <string>

namespace bench {

enum class ScriptLanguage { Script, Lua };

inline std::string GenerateScript(ScriptLanguage language, int lines) {
  // One function, line by line in both languages; '@' stands for its number.
  static const char* const kFunction[][2] = {
      {"  int f@(int a, int b) {", "function f@(a, b)"},
      {"    int x = a * 3 + b - @;", "  local x = a * 3 + b - @"},
      {"    string s = \"text @\" + \"more\";", "  local s = \"text @\" .. \"more\""},
      {"    if (x > 10 and b < 5) {", "  if x > 10 and b < 5 then"},
      {"      x = x - 1;", "    x = x - 1"},
      {"    } else {", "  else"},
      {"      x = f@(x, b) + 2.5;", "    x = f@(x, b) + 2.5"},
      {"    }", "  end"},
      {"    while (x > 0) x = x / 2;", "  while x > 0 do x = x // 2 end"},
      {"    return x + @;", "  return x + @"},
      {"  }", "end"},
  };
  constexpr int kFunctionLines = static_cast<int>(std::size(kFunction));
  const int column = language == ScriptLanguage::Lua ? 1 : 0;
  const char* const open[] = {"class Bench {", "-- generated bench script"};
  const char* const pad[] = {"  // padding", "-- padding"};
  const char* const close[] = {"};", "-- end"};

  std::string out = std::string(open[column]) + "\n";
  int written = 1;
  for (int n = 0; written + kFunctionLines <= lines - 1; ++n, written += kFunctionLines) {
    const std::string id = std::to_string(n);
    for (const auto& line : kFunction) {
      for (const char* c = line[column]; *c != '\0'; ++c) {
        if (*c == '@') {
          out += id;
        } else {
          out += *c;
        }
      }
      out += '\n';
    }
  }
  for (; written < lines - 1; ++written) out += std::string(pad[column]) + "\n";
  out += std::string(close[column]) + "\n";
  return out;
}

} // namespace bench
