#pragma once
// Writes a script of exactly `lines` lines, either in the script language or
// as Lua with the same shape line for line: one class (a Lua comment line in
// its place) holding functions of eleven lines each, with declarations,
// arithmetic, a condition, a loop and a return.
#include <string>

namespace bench {

enum class ScriptLanguage { Script, Lua };

inline std::string GenerateScript(ScriptLanguage language, int lines) {
  const bool lua = language == ScriptLanguage::Lua;
  std::string out;
  out += lua ? "-- generated bench script\n" : "class Bench {\n";
  int written = 1;
  for (int n = 0; written + 11 <= lines - 1; ++n, written += 11) {
    const std::string id = std::to_string(n);
    if (lua) {
      out += "function f" + id + "(a, b)\n";
      out += "  local x = a * 3 + b - " + id + "\n";
      out += "  local s = \"text " + id + "\" .. \"more\"\n";
      out += "  if x > 10 and b < 5 then\n";
      out += "    x = x - 1\n";
      out += "  else\n";
      out += "    x = f" + id + "(x, b) + 2.5\n";
      out += "  end\n";
      out += "  while x > 0 do x = x // 2 end\n";
      out += "  return x + " + id + "\n";
      out += "end\n";
    } else {
      out += "  int f" + id + "(int a, int b) {\n";
      out += "    int x = a * 3 + b - " + id + ";\n";
      out += "    string s = \"text " + id + "\" + \"more\";\n";
      out += "    if (x > 10 and b < 5) {\n";
      out += "      x = x - 1;\n";
      out += "    } else {\n";
      out += "      x = f" + id + "(x, b) + 2.5;\n";
      out += "    }\n";
      out += "    while (x > 0) x = x / 2;\n";
      out += "    return x + " + id + ";\n";
      out += "  }\n";
    }
  }
  for (; written < lines - 1; ++written) out += lua ? "-- padding\n" : "  // padding\n";
  out += lua ? "-- end\n" : "};\n";
  return out;
}

} // namespace bench
