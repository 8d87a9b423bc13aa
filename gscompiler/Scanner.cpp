#include "gscompiler/Scanner.h"

namespace GSCompiler {

ScriptScanner* gCurrentScanner = nullptr;

ScriptScanner::ScriptScanner(const char* text, std::size_t length)
    : input_(text, length), stream_(&input_), lexer_(&stream_) {
  // The lexer deletes its current buffer when it is destroyed.
  lexer_.yy_switch_to_buffer(lexer_.yy_create_buffer(&stream_, kInputBufferBytes));
}

} // namespace GSCompiler
