#include "gscompiler/Scanner.h"

#include <istream>
#include <streambuf>

#include <FlexLexer.h>

namespace GSCompiler {

ScriptScanner* gCurrentScanner = nullptr;

namespace {

// A read-only stream buffer over bytes that the caller keeps alive.
class MemoryInput : public std::streambuf {
public:
  MemoryInput(const char* text, std::size_t length) {
    char* begin = const_cast<char*>(text);
    setg(begin, begin, begin + length);
  }
};

} // namespace

struct ScriptScanner::Input {
  Input(const char* text, std::size_t length) : buffer(text, length), stream(&buffer) {}
  MemoryInput buffer;
  std::istream stream;
};

ScriptScanner::ScriptScanner(const char* text, std::size_t length)
    : input_(new Input(text, length)), lexer_(new yyFlexLexer(&input_->stream)) {
  // The lexer deletes its current buffer when it is destroyed.
  lexer_->yy_switch_to_buffer(lexer_->yy_create_buffer(&input_->stream, kInputBufferBytes));
}

ScriptScanner::~ScriptScanner() {
  delete lexer_;
  delete input_;
}

int ScriptScanner::Next() { return lexer_->yylex(); }
const char* ScriptScanner::Text() const { return lexer_->YYText(); }
int ScriptScanner::Line() const { return lexer_->lineno(); }

} // namespace GSCompiler
