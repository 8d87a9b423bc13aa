#pragma once
// The scanner of one script: flex's scanner class over the script's text in
// memory, read through one input buffer of kInputBufferBytes.
#include <cstddef>
#include <istream>
#include <streambuf>

#ifndef yyFlexLexerOnce
#include <FlexLexer.h>
#endif

namespace GSCompiler {

inline constexpr int kInputBufferBytes = 16384;

// A read-only stream buffer over bytes that the caller keeps alive.
class MemoryInput : public std::streambuf {
public:
  MemoryInput(const char* text, std::size_t length) {
    char* begin = const_cast<char*>(text);
    setg(begin, begin, begin + length);
  }
};

class ScriptScanner {
public:
  ScriptScanner(const char* text, std::size_t length);
  ScriptScanner(const ScriptScanner&) = delete;
  ScriptScanner& operator=(const ScriptScanner&) = delete;

  // The next token, 0 at the end of the text.
  int Next() { return lexer_.yylex(); }
  const char* Text() const { return lexer_.YYText(); }
  int Line() const { return lexer_.lineno(); }

private:
  MemoryInput input_;
  std::istream stream_;
  yyFlexLexer lexer_;
};

// The scanner of the script being parsed, while one is.
extern ScriptScanner* gCurrentScanner;

} // namespace GSCompiler
