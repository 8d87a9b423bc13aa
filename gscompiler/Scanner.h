#pragma once
// The scanner of one script: flex's scanner class over the script's text in
// memory, read through one input buffer of kInputBufferBytes.
#include <cstddef>

class yyFlexLexer;

namespace GSCompiler {

inline constexpr int kInputBufferBytes = 16384;

class ScriptScanner {
public:
  // The text must outlive the scanner.
  ScriptScanner(const char* text, std::size_t length);
  ScriptScanner(const ScriptScanner&) = delete;
  ScriptScanner& operator=(const ScriptScanner&) = delete;
  ~ScriptScanner();

  // The next token, 0 at the end of the text.
  int Next();
  // The text of the last token.
  const char* Text() const;
  // Line breaks matched so far, plus one.
  int Line() const;

private:
  struct Input;
  Input* input_;
  yyFlexLexer* lexer_;
};

// The scanner of the script being parsed, while one is.
extern ScriptScanner* gCurrentScanner;

} // namespace GSCompiler
