#include "gscompiler/Driver.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <zlib.h>

#include "Vak/Bexlorn/CodePage.h"
#include "Vak/Bexlorn/File.h"
#include "content/FileHelpers.h"
#include "gscompiler/CodeBuffer.h"
#include "gscompiler/CodeGen.h"
#include "gscompiler/GSSymbol.h"
#include "gscompiler/LibraryWriter.h"
#include "gscompiler/Parser.h"
#include "gscompiler/ScriptFile.h"
#include "gscompiler/Semantic.h"
#include "platform/os/Program.h"

namespace GSCompiler {

namespace {

bool gLeaveToExit = false;

bool IsSeparator(char c) { return c == '\\' || c == '/' || c == ':'; }

// The build log is appended to, never replaced.
constexpr unsigned long kLogMode = Vak::File::kWrite | Vak::File::kOpenAlways;

// Makes `unit` the unit that ReportMessage queues into, for one scope.
class CurrentUnit {
public:
  explicit CurrentUnit(CompileUnit& unit) : saved_(gCurrentUnit) { gCurrentUnit = &unit; }
  ~CurrentUnit() { gCurrentUnit = saved_; }
  CurrentUnit(const CurrentUnit&) = delete;
  CurrentUnit& operator=(const CurrentUnit&) = delete;

private:
  CompileUnit* saved_;
};

std::vector<std::unique_ptr<CompileUnit>>& IncludedUnits() {
  static std::vector<std::unique_ptr<CompileUnit>> units;
  return units;
}

void Queue(MessageSink* sink, const char* text) {
  if (sink != nullptr) sink->Add(text);
}

std::string Lower(const char* text) {
  std::string out(text);
  for (char& c : out) c = Vak::CodePage::AsciiLower(c);
  return out;
}

// `folder` joined with `name`: a separator between them only when the folder
// is not empty and does not end in one. False when it does not fit.
bool JoinFolder(Vak::File::Path& out, const char* folder, const char* name) {
  if (!out.Set(folder)) return false;
  const char last = out.LastChar();
  if (out.Length() > 0 && last != '\\' && last != '/' && !out.Add("/")) return false;
  return out.Add(name);
}

bool Exists(const IncludeFolder& folder, const char* path) {
  if (folder.substitute.Length() == 0) return Vak::File::Exists(path).Ok();
  Vak::PString substitute(folder.substitute);
  return Vak::File::Exists(substitute, path).Ok();
}

// The first include folder that holds the script, as written or in its
// scrambled form, each folder tried with both before the next.
bool FindScript(const char* name, Vak::File::Path& found, Vak::PString& layer) {
  for (const IncludeFolder& folder : Includes()) {
    layer = folder.substitute;
    if (!JoinFolder(found, folder.path, name)) continue;
    if (Exists(folder, found)) return true;
    if (found.IsExt("gs") && found.SetExt("gse") && Exists(folder, found)) return true;
  }
  return false;
}

void PrintMessages(MessageSink& sink, const char* logName, bool silent) {
  Vak::File log;
  const bool logging = logName != nullptr && log.Open(logName, kLogMode).Ok();
  while (const char* text = sink.Take()) {
    if (*text == '\0') break;
    if (logging) {
      log.Write(text, std::strlen(text), 1);
      log.Write("\n", 1, 1);
    }
    if (!silent) std::printf("%s\n", text);
  }
  if (logging) log.Close();
  std::fflush(stdout);
}

void PrintUsage(const char* programPath) {
  const char* program = BareFileNameOf(programPath != nullptr ? programPath : "");
  std::printf("MOXEL VozoVavuri Compiler V%4.2f\n\n", kCompilerVersion);
  std::printf("%s returns number of compile errors\n", program);
  std::printf("%s <option> <option>..\nwhere <option> is one of the following\n\n", program);
  std::printf("<-d> print documentation, u might wanna pipe it to a text document =)\n");
  std::printf("<-s> silent\n");
  std::printf("<-bfilename> dump the build info (compile log) to file\n");
  std::printf("<-ppathname> output path\n");
  std::printf("<-ofilename> output library filename\n");
  std::printf("<filename> input source file\n");
  std::printf("<-ipathname> additional include path\n");
}

} // namespace

bool NameBuffer::Set(const char* text) { return Set(text, std::strlen(text)); }

bool NameBuffer::Set(const char* text, std::size_t length) {
  if (length >= kChars) return false;
  std::memmove(text_, text, length);
  text_[length] = '\0';
  length_ = length;
  return true;
}

bool NameBuffer::Append(const char* text) {
  const std::size_t length = std::strlen(text);
  if (length_ + length >= kChars) return false;
  std::memcpy(text_ + length_, text, length + 1);
  length_ += length;
  return true;
}

bool NameBuffer::AppendPathPart(const char* part) {
  const bool separate = length_ > 0 && text_[length_ - 1] != '\\' && text_[length_ - 1] != '/';
  if (length_ + (separate ? 1 : 0) + std::strlen(part) >= kChars) return false;
  if (separate) Append("/");
  return Append(part);
}

void NameBuffer::BareFileName() {
  const char* bare = BareFileNameOf(text_);
  Set(bare, length_ - static_cast<std::size_t>(bare - text_));
}

const char* BareFileNameOf(const char* path) { return path + FolderPartLength(path); }

std::size_t FolderPartLength(const char* path) {
  std::size_t folder = 0;
  for (std::size_t i = 0; path[i] != '\0'; ++i)
    if (IsSeparator(path[i])) folder = i + 1;
  return folder;
}

uint32_t ReflectedCrc32(const void* data, std::size_t length) {
  uLong crc = crc32(0L, Z_NULL, 0);
  const auto* bytes = static_cast<const Bytef*>(data);
  while (length > 0) {
    const uInt piece = length > 0x40000000u ? 0x40000000u : static_cast<uInt>(length);
    crc = crc32(crc, bytes, piece);
    bytes += piece;
    length -= piece;
  }
  return static_cast<uint32_t>(crc);
}

bool LibraryFileName(const char* sourcePath, const char* outputFolder, NameBuffer& out) {
  const char* folder = outputFolder != nullptr ? outputFolder : sourcePath;
  if (!out.Set(folder, FolderPartLength(folder))) return false;
  std::string name = BareFileNameOf(sourcePath);
  const std::size_t dot = name.rfind('.');
  if (dot != std::string::npos) name.resize(dot);
  return out.AppendPathPart(name.c_str()) && out.Append(".gsl");
}

IncludeList& Includes() {
  static IncludeList list;
  return list;
}

int RunCommandLine(int argc, char** argv) {
  MessageSink sink;
  IncludeList extraIncludes;
  const char* source = nullptr;
  const char* logName = nullptr;
  const char* outputFolder = nullptr;
  bool silent = false;
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i] != nullptr ? argv[i] : "";
    if (argument[0] != '-') {
      source = argument;
      continue;
    }
    switch (argument[1]) {
      case 's': silent = true; break;
      case 'b': logName = argument + 2; break;
      case 'p': outputFolder = argument + 2; break;
      case 'i': AddIncludeFolder(extraIncludes, argument + 2); break;
      case 'd':
        std::printf("%s\n", LanguageDocument());
        std::fflush(stdout);
        return 0;
      default: break;  // -c, -t, -l, -o and anything else change nothing
    }
  }
  int result = 1;
  if (source != nullptr && *source != '\0') {
    result = CompileLibrary(source, outputFolder, extraIncludes, sink);
  } else {
    PrintUsage(argc > 0 ? argv[0] : "");
  }
  PrintMessages(sink, logName, silent);
  return result;
}

void LeaveMemoryToExit(bool leave) { gLeaveToExit = leave; }

int CompileLibrary(const char* sourcePath, const char* outputFolder, const IncludeList& extraIncludes,
                   MessageSink& sink) {
  IncludeList& includes = Includes();
  includes.clear();
  const std::string folder(sourcePath, FolderPartLength(sourcePath));
  AddIncludeFolder(includes, folder.c_str());
  includes.insert(includes.end(), extraIncludes.begin(), extraIncludes.end());

  auto owned = std::make_unique<CompileContext>();
  CompileContext& context = *owned;
  struct Release {
    std::unique_ptr<CompileContext>& context;
    ~Release() {
      if (!platform::kUnderSanitizer && gLeaveToExit) {
        // Still reachable from here, never freed: the process ends next.
        static std::vector<std::unique_ptr<CompileUnit>>* leftUnits = nullptr;
        static CompileContext* leftContext = nullptr;
        leftUnits = new std::vector<std::unique_ptr<CompileUnit>>(std::move(IncludedUnits()));
        leftContext = context.release();
        (void)leftUnits;
        (void)leftContext;
      }
      IncludedUnits().clear();
    }
  } release{owned};
  const int errors = Build(BareFileNameOf(sourcePath), context, &sink);
  if (errors != 0) return errors;

  CodeBuffer library(CodeBuffer::kLibraryStep);
  if (!WriteLibrary(library, context, &sink, sourcePath)) {
    sink.Add("Internal Compiler Error.\n");
    return 1;
  }
  // Written beside the earlier file and renamed over it only when complete.
  NameBuffer output;
  if (!LibraryFileName(sourcePath, outputFolder, output) ||
      !WriteWholeFile(output.Text(), library.Data(), library.Length())) {
    sink.Add("Unable to open output file.\n");
    return 1;
  }
  return 0;
}

int Build(const char* scriptName, CompileContext& context, MessageSink* sink) {
  std::string name = scriptName;
  // "x.gse" is searched as "x.gs"; the search falls back to the scrambled form.
  if (!name.empty() && name.back() == 'e') name.pop_back();

  IncludedUnits().clear();
  context.Reset();
  context.root.symbols = &context.symbols;
  context.root.sink = sink;

  const int errors = CompileSource(name.c_str(), context, context.root, true);
  if (errors != 0) {
    Queue(sink, "\nBuild Failed...");
    return errors;
  }
  if (!GenerateLibraryCode(context)) {
    Queue(sink, "\nInternal Code Generation Error...");
    return 1;
  }
  return 0;
}

int CompileSource(const char* scriptName, CompileContext& context, CompileUnit& unit, bool root) {
  char* name = unit.pool.Frames().StrDup(Lower(scriptName).c_str());
  unit.name = name != nullptr ? name : "";
  const int loaded = LoadSource(unit.name, unit);
  if (loaded != 0) return loaded;

  GSSymbolTable& symbols = *unit.symbols;
  const char* bare = BareFileNameOf(unit.name);
  // Counted apart as well, so that the reset before the checks keeps it.
  int internalErrors = 0;
  if (symbols.EnterDependent(bare, unit.textCrc, unit.nameCrc, context.dependentCount) == nullptr) {
    Queue(unit.sink, "Internal Compiler Error.");
    ++unit.errors;
    ++internalErrors;
  } else {
    ++context.dependentCount;
  }

  bool includeFailed = false;
  for (const SyntaxNode* node = unit.tree; node != nullptr; node = node->next) {
    if (node->nodeClass != NodeClass::Declaration || node->kind != kDeclInclude) continue;
    const char* included = node->child[0] != nullptr && node->child[0]->text != nullptr ? node->child[0]->text : "";
    if (symbols.FindDependent(BareFileNameOf(included)) != nullptr) continue;
    // Kept until the library is written: its symbols point into its tree.
    IncludedUnits().push_back(std::make_unique<CompileUnit>());
    CompileUnit& includedUnit = *IncludedUnits().back();
    includedUnit.symbols = unit.symbols;
    includedUnit.sink = unit.sink;
    const int errors = CompileSource(included, context, includedUnit, false);
    if (errors != 0) includeFailed = true;
    unit.errors += errors;
  }

  GSDependentSymbol* script = symbols.FindDependent(bare);
  symbols.ResolveScript(script);
  if (includeFailed) return unit.errors;
  if (unit.tree == nullptr) return 1;
  symbols.SetCurrentScript(script);
  unit.errors = 0;
  return CheckSemantics(unit, !root) + internalErrors;
}

int LoadSource(const char* scriptName, CompileUnit& unit) {
  const char* name = unit.pool.Frames().StrDup(scriptName);
  if (name == nullptr) name = scriptName;
  Vak::File::Path path;
  Vak::PString layer;
  ScriptFile script;
  const bool found = FindScript(name, path, layer);
  if (!found || !script.Load(layer.c_str(), path)) {
    CurrentUnit current(unit);
    ReportMessage("Could not read file %s %s.", layer.Length() > 0 ? layer.c_str() : "", name);
    ++unit.errors;
    return 1;
  }
  const char* text = script.GetText();
  if (text == nullptr) return 1;
  const uint32_t length = script.GetPlainLength();
  const int parsed = ParseText(unit, text, length);
  unit.errors += parsed;
  if (parsed == 0) {
    unit.textCrc = ReflectedCrc32(text, length);
    const std::string bare = Lower(BareFileNameOf(name));
    unit.nameCrc = ReflectedCrc32(bare.data(), bare.size());
  }
  return parsed;
}

} // namespace GSCompiler
