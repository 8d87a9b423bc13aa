#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "GSParser.hpp"
#include "gscompiler/Constants.h"
#include "gscompiler/Scanner.h"

namespace {

struct Token {
  int token;
  int line;
  std::string text;
  bool operator==(const Token&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Token& t) {
  return out << "{" << t.token << ", " << t.line << ", \"" << t.text << "\"}";
}

std::vector<Token> Scan(const std::string& text) {
  GSCompiler::ScriptScanner scanner(text.data(), text.size());
  std::vector<Token> tokens;
  while (int token = scanner.Next()) tokens.push_back({token, scanner.Line(), scanner.Text()});
  return tokens;
}

struct ScanCase {
  const char* name;
  std::string input;
  std::vector<Token> tokens;
};

TEST(ScannerTest, TokensAndLines) {
  const ScanCase cases[] = {
      {"hex mark without digits", "0x", {{CONSTANT_INT, 1, "0"}, {IDENTIFIER, 1, "x"}}},
      {"hex", "0x1F 0XaB", {{CONSTANT_HEX, 1, "0x1F"}, {CONSTANT_HEX, 1, "0XaB"}}},
      {"no exponents", "1e5", {{CONSTANT_INT, 1, "1"}, {IDENTIFIER, 1, "e5"}}},
      {"upper-case F is not a suffix", "5.5F", {{CONSTANT_FLOAT, 1, "5.5"}, {IDENTIFIER, 1, "F"}}},
      {"lower-case f is", "5.5f", {{CONSTANT_FLOAT, 1, "5.5f"}}},
      {"floats", ".5 5. 12.25f", {{CONSTANT_FLOAT, 1, ".5"}, {CONSTANT_FLOAT, 1, "5."}, {CONSTANT_FLOAT, 1, "12.25f"}}},
      {"array mark across lines", "int [ \n ] a", {{KEYWORD_INT, 1, "int"}, {SYMBOL_OP_DIM, 2, "[ \n ]"}, {IDENTIFIER, 2, "a"}}},
      {"array mark with tabs", "[\t]", {{SYMBOL_OP_DIM, 1, "[\t]"}}},
      {"brackets with content", "[1]", {{'[', 1, "["}, {CONSTANT_INT, 1, "1"}, {']', 1, "]"}}},
      {"empty character constant", "''", {{SYMBOL_UNKNOWN, 1, "'"}, {SYMBOL_UNKNOWN, 1, "'"}}},
      {"character constants", "'a' L'\\n' 'ab'", {{CONSTANT_CHAR, 1, "'a'"}, {CONSTANT_CHAR, 1, "L'\\n'"}, {CONSTANT_CHAR, 1, "'ab'"}}},
      {"string spanning lines", "\"a\nb\" x", {{CONSTANT_STRING, 2, "\"a\nb\""}, {IDENTIFIER, 2, "x"}}},
      {"back-slash before a line break ends no string", "\"a\\\nb\"\ny",
       {{SYMBOL_UNKNOWN, 1, "\""}, {IDENTIFIER, 1, "a"}, {SYMBOL_UNKNOWN, 1, "\\"}, {IDENTIFIER, 2, "b"},
        {SYMBOL_UNKNOWN, 2, "\""}, {IDENTIFIER, 3, "y"}}},
      {"escaped quote", "L\"a\\\"b\"", {{CONSTANT_STRING, 1, "L\"a\\\"b\""}}},
      {"unterminated string", "\"abc", {{SYMBOL_UNKNOWN, 1, "\""}, {IDENTIFIER, 1, "abc"}}},
      {"two back-slashes", "\\\\ a", {{SYMBOL_UNKNOWN, 1, "\\"}, {SYMBOL_UNKNOWN, 1, "\\"}, {IDENTIFIER, 1, "a"}}},
      {"line comment", "a // b \"c\n d", {{IDENTIFIER, 1, "a"}, {IDENTIFIER, 2, "d"}}},
      {"block comment counts its lines", "a /* x\n\n y */ b", {{IDENTIFIER, 1, "a"}, {IDENTIFIER, 3, "b"}}},
      {"block comments do not nest", "/* /* */ c */", {{IDENTIFIER, 1, "c"}, {'*', 1, "*"}, {'/', 1, "/"}}},
      {"unterminated block comment", "a /* b\nc", {{IDENTIFIER, 1, "a"}}},
      {"line comment marks inside a block comment", "/* // */ e", {{IDENTIFIER, 1, "e"}}},
      {"two-character operators", ">> << ++ -- <= >= == !=",
       {{SYMBOL_RIGHT_SHIFT, 1, ">>"}, {SYMBOL_LEFT_SHIFT, 1, "<<"}, {SYMBOL_INC, 1, "++"}, {SYMBOL_DEC, 1, "--"},
        {SYMBOL_LTE, 1, "<="}, {SYMBOL_GTE, 1, ">="}, {SYMBOL_EQ, 1, "=="}, {SYMBOL_NEQ, 1, "!="}}},
      {"no && or ||", "&&||", {{'&', 1, "&"}, {'&', 1, "&"}, {'|', 1, "|"}, {'|', 1, "|"}}},
      {"single characters", ";:{},=().&!~-+*/%<>^|",
       {{';', 1, ";"}, {':', 1, ":"}, {'{', 1, "{"}, {'}', 1, "}"}, {',', 1, ","}, {'=', 1, "="}, {'(', 1, "("},
        {')', 1, ")"}, {'.', 1, "."}, {'&', 1, "&"}, {'!', 1, "!"}, {'~', 1, "~"}, {'-', 1, "-"}, {'+', 1, "+"},
        {'*', 1, "*"}, {'/', 1, "/"}, {'%', 1, "%"}, {'<', 1, "<"}, {'>', 1, ">"}, {'^', 1, "^"}, {'|', 1, "|"}}},
      {"white space", " \t\r\v\f\n\n z", {{IDENTIFIER, 3, "z"}}},
      {"unknown characters", "@#?$`", {{SYMBOL_UNKNOWN, 1, "@"}, {SYMBOL_UNKNOWN, 1, "#"}, {SYMBOL_UNKNOWN, 1, "?"},
                                       {SYMBOL_UNKNOWN, 1, "$"}, {SYMBOL_UNKNOWN, 1, "`"}}},
      {"bytes above 0x7F", "\x80x\xFF\"\xE9\"", {{SYMBOL_UNKNOWN, 1, "\x80"}, {IDENTIFIER, 1, "x"}, {SYMBOL_UNKNOWN, 1, "\xFF"},
                                                  {CONSTANT_STRING, 1, "\"\xE9\""}}},
      {"a zero byte", std::string("a\0b", 3), {{IDENTIFIER, 1, "a"}, {SYMBOL_UNKNOWN, 1, ""}, {IDENTIFIER, 1, "b"}}},
      {"identifiers", "_a1 Break L x9_", {{IDENTIFIER, 1, "_a1"}, {IDENTIFIER, 1, "Break"}, {IDENTIFIER, 1, "L"}, {IDENTIFIER, 1, "x9_"}}},
      {"keyword prefix is an identifier", "ifx ifs if", {{IDENTIFIER, 1, "ifx"}, {IDENTIFIER, 1, "ifs"}, {KEYWORD_IF, 1, "if"}}},
      {"beyond the int32 range", "4294967295 0xFFFFFFFF", {{CONSTANT_INT, 1, "4294967295"}, {CONSTANT_HEX, 1, "0xFFFFFFFF"}}},
  };
  for (const ScanCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Scan(c.input), c.tokens);
  }
}

TEST(ScannerTest, KeywordsAreCaseSensitiveWords) {
  const struct {
    const char* word;
    int token;
  } keywords[] = {
      {"break", KEYWORD_BREAK},   {"case", KEYWORD_CASE},     {"continue", KEYWORD_CONTINUE}, {"default", KEYWORD_DEFAULT},
      {"else", KEYWORD_ELSE},     {"for", KEYWORD_FOR},       {"goto", KEYWORD_GOTO},         {"if", KEYWORD_IF},
      {"null", KEYWORD_NULL},     {"return", KEYWORD_RETURN}, {"switch", KEYWORD_SWITCH},     {"while", KEYWORD_WHILE},
      {"and", KEYWORD_AND},       {"or", KEYWORD_OR},         {"true", KEYWORD_TRUE},         {"false", KEYWORD_FALSE},
      {"void", KEYWORD_VOID},     {"bool", KEYWORD_BOOL},     {"int", KEYWORD_INT},           {"float", KEYWORD_FLOAT},
      {"string", KEYWORD_STRING}, {"object", KEYWORD_OBJECT}, {"class", KEYWORD_CLASS},       {"include", KEYWORD_INCLUDE},
      {"define", KEYWORD_DEFINE}, {"static", KEYWORD_STATIC}, {"public", KEYWORD_PUBLIC},     {"native", KEYWORD_NATIVE},
      {"final", KEYWORD_FINAL},   {"thread", KEYWORD_THREAD}, {"game", KEYWORD_GAME},         {"size", KEYWORD_SIZE},
      {"isclass", KEYWORD_ISCLASS}, {"copy", KEYWORD_COPY},   {"new", KEYWORD_NEW},           {"me", KEYWORD_ME},
      {"cast", KEYWORD_CAST},     {"wait", KEYWORD_WAIT},     {"on", KEYWORD_ON},
  };
  ASSERT_EQ(std::size(keywords), 39u);
  std::vector<int> seen;
  for (const auto& k : keywords) {
    SCOPED_TRACE(k.word);
    std::string word = k.word;
    EXPECT_EQ(Scan(word), (std::vector<Token>{{k.token, 1, word}}));
    word[0] = static_cast<char>(word[0] - 'a' + 'A');
    EXPECT_EQ(Scan(word), (std::vector<Token>{{IDENTIFIER, 1, word}}));
    for (int token : seen) EXPECT_NE(token, k.token);
    seen.push_back(k.token);
  }
}

TEST(ScannerTest, TokensLongerThanTheInputBufferAndLinesAcrossIt) {
  std::string text(GSCompiler::kInputBufferBytes - 3, ' ');
  text += "\"" + std::string(40000, 's') + "\"\nafter";
  const std::vector<Token> tokens = Scan(text);
  ASSERT_EQ(tokens.size(), 2u);
  EXPECT_EQ(tokens[0].token, CONSTANT_STRING);
  EXPECT_EQ(tokens[0].text.size(), 40002u);
  EXPECT_EQ(tokens[1], (Token{IDENTIFIER, 2, "after"}));
}

TEST(ConstantsTest, IntegersSaturateAtTheInt32Limits) {
  const struct {
    const char* text;
    bool hex;
    int32_t value;
  } cases[] = {
      {"0", false, 0},
      {"2147483647", false, INT32_MAX},
      {"2147483648", false, INT32_MAX},
      {"4294967295", false, INT32_MAX},
      {"99999999999999999999999999", false, INT32_MAX},
      {"007", false, 7},
      {"0x7FFFFFFF", true, INT32_MAX},
      {"0x80000000", true, INT32_MAX},
      {"0xFFFFFFFF", true, INT32_MAX},
      {"0xffffffffffffffffffffff", true, INT32_MAX},
      {"0x1f", true, 31},
      {"0X10", true, 16},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(c.hex ? GSCompiler::HexConstant(c.text) : GSCompiler::DecimalConstant(c.text), c.value);
  }
}

TEST(ConstantsTest, FloatsAreReadAsDoublesAndStoredAsFloats) {
  const float inf = std::numeric_limits<float>::infinity();
  const struct {
    std::string text;
    float value;
  } cases[] = {
      {"5.5", 5.5f},
      {"5.5f", 5.5f},
      {".25", 0.25f},
      {"3.", 3.0f},
      {"0.1", 0.1f},  // the double 0.1 rounded once to float
      {"16777217.0", 16777216.0f},
      {"340282351709131260724621789471329746944.0", std::numeric_limits<float>::max()},
      {"340282356779733661637539395458142568448.0", inf},
      {std::string(400, '9') + ".0", inf},
      {"0." + std::string(400, '0') + "1", 0.0f},
      {"0.000000000000000000000000000000000000000000000001", 0.0f},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 60));
    EXPECT_EQ(std::bit_cast<uint32_t>(GSCompiler::FloatConstant(c.text.c_str())), std::bit_cast<uint32_t>(c.value));
  }
}

TEST(ConstantsTest, UnquoteString) {
  const struct {
    std::string text;
    bool escapes;
    std::string result;
  } cases[] = {
      {"\"abc\"", true, "abc"},
      {"L\"abc\"", true, "abc"},
      {"'x'", true, "x"},
      {"abc", true, ""},
      {"L", true, ""},
      {"\"\"", true, ""},
      {"\"a\\\\b\\n\\t\\v\\r\\f\\b\\a\\'\\\"\"", true, "a\\b\n\t\v\r\f\b\a'\""},
      {"\"a\\qb\"", true, "aqb"},
      {"\"a\\0b\"", true, "a"},
      {"\"ab\\\"", true, "ab"},  // the back-slash ends the text once the quote is gone
      {"\"a\\nb\"", false, "a\\nb"},
      {"\"C:\\Dir\\File.gs\"", false, "C:\\Dir\\File.gs"},
      {"\"abc", true, "abc"},
      {"\"" + std::string(3000, 'z') + "\"", true, std::string(2047, 'z')},
      {"\"" + std::string(2046, 'z') + "\"", true, std::string(2046, 'z')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 60));
    EXPECT_EQ(GSCompiler::UnquoteString(c.text.c_str(), c.escapes), c.result);
  }
}

} // namespace
