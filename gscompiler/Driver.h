#pragma once
// The compiler's outer layer: the command line, the include search, loading
// a script into the scanner, the order in which the scripts of one library
// are compiled, and the naming and writing of the library file.
//
// The compiler keeps its include list and the current scanner and unit in
// globals: one compilation at a time per process.
#include <cstddef>
#include <cstdint>

#include "gscompiler/CompileContext.h"
#include "gscompiler/CompileUnit.h"
#include "gscompiler/IncludeFolder.h"
#include "gscompiler/MessageSink.h"

namespace GSCompiler {

inline constexpr float kCompilerVersion = 1.02f;

// A file name under construction, bounded: an edit that would not fit
// leaves the text unchanged and answers false.
class NameBuffer {
public:
  static constexpr std::size_t kChars = 2048;

  NameBuffer() { text_[0] = '\0'; }
  bool Set(const char* text);
  bool Set(const char* text, std::size_t length);
  bool Append(const char* text);
  // Appends '/' when the text is not empty and does not end in a separator,
  // then the part.
  bool AppendPathPart(const char* part);
  // Cuts the text, in place, to what follows its last '\', '/' or ':'.
  void BareFileName();

  const char* Text() const { return text_; }
  std::size_t Length() const { return length_; }

private:
  char text_[kChars];
  std::size_t length_ = 0;
};

// What follows the last '\', '/' or ':' of the path.
const char* BareFileNameOf(const char* path);
// The length of the folder part: up to and including the last '\', '/' or
// ':' (0 when there is none).
std::size_t FolderPartLength(const char* path);

// CRC-32 of IEEE 802.3 (reflected, polynomial 0xEDB88320, start and end
// complemented): the library identifier's words. Not the kernel's archive
// checksum, which runs most significant bit first.
uint32_t ReflectedCrc32(const void* data, std::size_t length);

// The library file's name: the folder part of `outputFolder` when one is
// given, else of the source path, then the source's file name without its
// extension, then ".gsl". False when it does not fit.
bool LibraryFileName(const char* sourcePath, const char* outputFolder, NameBuffer& out);

// The global search list, in search order.
IncludeList& Includes();

// The whole command line, program path first. The number of compile errors;
// 1 when only the usage text was printed; 0 after -d.
int RunCommandLine(int argc, char** argv);

// For a program that ends right after its one compile: the compile's
// memory is then left to the process's end, which takes it back at once,
// rather than freed block by block. Off by default; sanitizer builds always
// free.
void LeaveMemoryToExit(bool leave);

// Compiles one library and writes it beside the source or into the output
// folder. The number of errors; 0 when the library was written.
int CompileLibrary(const char* sourcePath, const char* outputFolder, const IncludeList& extraIncludes,
                   MessageSink& sink);

// Compiles the root script and its includes into the context and generates
// the code. The number of errors.
int Build(const char* scriptName, CompileContext& context, MessageSink* sink);

// Compiles one script of the context's library, the scripts it includes
// first; its error count.
int CompileSource(const char* scriptName, CompileContext& context, CompileUnit& unit, bool root);

// Finds, reads, scans and parses one script into the unit: 0 on success.
int LoadSource(const char* scriptName, CompileUnit& unit);

// The language document that -d prints.
const char* LanguageDocument();

} // namespace GSCompiler
