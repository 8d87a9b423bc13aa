#include "tools/Tool.h"

#include <cstdio>
#include <cstring>

#include "Vak/Bexlorn/CodePage.h"
#include "Vak/Bexlorn/Exception.h"
#include "Vak/Bexlorn/Log.h"
#include "Vak/Bexlorn/OS.h"
#include "Vak/Bexlorn/Options.h"
#include "Vak/Bexlorn/Wildcard.h"
#include "Vak/Cindrel/ResourceSystem.h"
#include "platform/os/FileSystem.h"
#include "platform/os/NativePath.h"
#include "tools/ToolGlobals.h"

namespace Vak {

namespace {

constexpr unsigned kLineBytes = 1024;

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// ".\" for an empty folder, so that every entry names one.
AnsiString FolderOrCurrent(const char* folder) { return *folder ? AnsiString(folder) : AnsiString(".\\"); }

} // namespace

const char* ToolCommand::SwitchValue(char letter) const {
  const auto it = switches.find(letter);
  return it == switches.end() ? "" : static_cast<const char*>(it->second);
}

const PString& ToolArchiveSubstitute() { return ToolGlobals::FrameworkSubstitute(); }

bool MountTarget(const PString& substitute, const char* target) {
  try {
    return File::Subst(substitute, target, true);
  } catch (const Exception&) {
    // A target that is no archive and cannot become one: nothing inside it
    // can be found, read or written.
    return false;
  }
}

Tool::Tool() = default;

Tool::~Tool() { Tool::Shutdown(); }

void Tool::Setup(unsigned mask) {
  command_.expectsCommandWord = (mask & kExpectCommandWord) != 0;
  command_.expectsTarget = (mask & kExpectTarget) != 0;
  command_.searchTarget = (mask & kSearchTarget) != 0;
}

void Tool::Shutdown() {
  resources_.reset();
  os_.reset();
}

void Tool::Init(const char* line, int, const char* extraOptions) {
  commandLine_ = line;
  os_ = std::make_unique<OS>(nullptr, line, nullptr, nullptr);
  Options& options = *os_->GetOptions();
  options.InitFromModule(nullptr, line);
  options.ProcessRaw(kOptionText);
  if (extraOptions) options.ProcessRaw(extraOptions);
  Log::Init(&options);
  Log::SetStream(stdout);
  resources_ = std::make_unique<ResourceSystem>();
  resources_->Init(&options);
}

bool Tool::Run() { return ProcessCommandLine(command_, commandLine_); }

void Tool::PrintUsageOnce() {
  if (usagePrinted_) return;
  usagePrinted_ = true;
  PrintUsage();
}

bool Tool::ProcessCommandLine(ToolCommand& command, const char* line) {
  if (!line) {
    PrintUsageOnce();
    return false;
  }
  const bool parsed = ParseCommand(command, line);
  if ((command.expectsTarget && command.target.Size() == 0) ||
      (command.expectsCommandWord && command.commandWord.Size() == 0)) {
    PrintUsageOnce();
    return false;
  }
  Tool::ApplySwitches(command);
  ExecuteFileList(command);
  if (command.files.Count() == 0) {
    std::printf("- Warning, no input files found: command '%s'\n", line);
    PrintUsageOnce();
    return false;
  }
  if (!ProcessFiles(command)) {
    std::printf("Tool::ProcessCommandLine(): Command execution failed:\n\"%s\"\n\n", line);
    return false;
  }
  return parsed;
}

unsigned Tool::Tokenize(ToolStringArray& out, const char* text, const char* separators, char quote) {
  out.Clear();
  if (!text) return 0;
  const char* p = text;
  for (;;) {
    while (*p && std::strchr(separators, *p)) ++p;
    if (!*p) break;
    if (*p == quote) {
      const char* close = std::strchr(p + 1, quote);
      if (!close) break;
      if (close > p + 1) out.Append(p + 1, static_cast<unsigned>(close - p - 1));
      p = close + 1;
      continue;
    }
    const char* end = p;
    while (*end && *end != quote && !std::strchr(separators, *end)) ++end;
    out.Append(p, static_cast<unsigned>(end - p));
    p = end;
  }
  return out.Count();
}

bool Tool::ParseCommand(ToolCommand& command, const char* line) {
  Tokenize(command.tokens, line, "\r\n ", '"');
  bool result = true;
  uint32_t i = 0;
  for (; i < command.tokens.Count(); ++i) {
    const AnsiString token = command.tokens[i];
    const char* text = token;
    if (text[0] == '-' && text[1]) {
      const char letter = text[1];
      const char* rest = text + 2;
      if (letter == 's') {
        ToolStringArray parts;
        const unsigned n = Tokenize(parts, rest, "=", '"');
        if (n == 1) command.settings[static_cast<const char*>(parts[0])] = "";
        else if (n >= 2) command.settings[static_cast<const char*>(parts[0])] = parts[1];
      } else if (letter == 'x') {
        const bool folder = std::strpbrk(rest, "/\\") != nullptr;
        (folder ? command.excludeFolders : command.excludeNames).Append(rest);
      } else {
        command.switches[letter] = rest;
      }
    } else if (text[0] == '@' && text[1]) {
      result = ReadArgumentFile(command, text + 1) && result;
    } else if (command.expectsCommandWord) {
      command.commandWord = token;
      if (token == "a") command.searchTarget = false;
      command.expectsCommandWord = false;
    } else if (command.expectsTarget) {
      command.target = token;
      command.expectsTarget = false;
    } else {
      break;
    }
  }
  // An argument file leaves the command as it found it, tokens included.
  command.paths.Clear();
  for (; i < command.tokens.Count(); ++i) command.paths.Append(command.tokens[i]);
  if (command.paths.Count() == 0) command.paths.Append("*");
  return result;
}

std::string Tool::ArgumentFileKey(const char* name) {
  const std::string path = platform::ResolvePath(name);
  platform::FileId id;
  if (platform::GetFileId(path.c_str(), id) == platform::Error::None)
    return std::to_string(id.device) + ":" + std::to_string(id.inode);
  // Not a file on the disk (a substitute's, say): its name in one case.
  std::string key(name);
  for (char& c : key) c = IsSeparator(c) ? '/' : CodePage::AsciiLower(c);
  return key;
}

bool Tool::ReadArgumentFile(ToolCommand& command, const char* name) {
  const std::string key = ArgumentFileKey(name);
  File file;
  bool reading = false;
  for (const std::string& open : reading_) reading = reading || open == key;
  if (reading || !file.Open(name, File::kRead).Ok()) {
    std::printf("- Warning, can't open argument file [%s]\n", name);
    return true;
  }
  reading_.push_back(key);
  file.ProbeEncoding();
  const ToolCommand copy = command;
  bool result = true;
  char line[kLineBytes];
  while (file.ReadLine(line, sizeof line) > 0) {
    command = copy;
    command.tokens.Clear();
    command.commandWord = "";
    command.target = "";
    result = ProcessCommandLine(command, line) && result;
  }
  command = copy;
  reading_.pop_back();
  return result;
}

void Tool::ExecuteFileList(ToolCommand& command) {
  const PString& substitute = ToolArchiveSubstitute();
  if (command.searchTarget) MountTarget(substitute, command.target);
  command.files.Clear();
  for (uint32_t i = 0; i < command.paths.Count(); ++i) {
    File::Path folder(command.paths[i]);
    const AnsiString wildcards(folder.GetFileName());
    folder.DelName(true);
    CollectFiles(command, folder, wildcards, folder);
  }
  if (command.searchTarget) File::Subst(substitute, nullptr, false);
}

bool Tool::IsExcluded(const ToolStringArray& patterns, const char* text) {
  for (uint32_t i = 0; i < patterns.Count(); ++i)
    if (MatchWildcard(text, patterns[i], nullptr)) return true;
  return false;
}

void Tool::CollectFiles(ToolCommand& command, const char* folder, const char* wildcards, const char* base) {
  File::Path pattern(folder);
  pattern.AddPath("*");
  File::Find find;
  bool found = false;
  try {
    found = command.searchTarget ? find.Open(pattern, ToolArchiveSubstitute()) : find.Open(pattern);
  } catch (const Exception&) {
    // The target did not mount: nothing to search.
  }
  for (; found; found = find.Next()) {
    const char* name = find.name;
    if (find.attributes & File::Entry::kFolder) {
      // A stored name with an empty component ("C:/x") shows a folder
      // without a name: searching it would search this folder again.
      if (!command.recursive || !*name || std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
      AnsiString inner(folder);
      if (inner.Size() != 0 && !IsSeparator(folder[inner.Size() - 1])) inner += "/";
      inner += name;
      CollectFiles(command, inner, wildcards, base);
      continue;
    }
    if (!MatchWildcard(name, wildcards, nullptr) || IsExcluded(command.excludeNames, name) ||
        IsExcluded(command.excludeFolders, folder))
      continue;
    File::Path destination(command.keepPrefix ? folder : base);
    if (command.HasSwitch('p')) {
      if (command.keepPrefix) {
        destination = base;
        destination.AddPath(command.SwitchValue('p'));
        // The folder's components below those it shares with the base.
        ToolStringArray inner, outer;
        Tokenize(inner, folder, "\\/", '"');
        Tokenize(outer, base, "\\/", '"');
        uint32_t shared = 0;
        while (shared < inner.Count() && shared < outer.Count() &&
               inner[shared].CompareWith(outer[shared]) == AnsiString::Equal)
          ++shared;
        File::Path below;
        for (uint32_t i = shared; i < inner.Count(); ++i) below.AddPath(inner[i]);
        if (below.Length() != 0) destination.AddPath(below);
      } else {
        destination.AddPath(command.SwitchValue('p'));
      }
    }
    ToolFileEntry& entry = command.files.Append(std::make_unique<ToolFileEntry>());
    entry.match = find;
    entry.sourceFolder = FolderOrCurrent(folder);
    entry.destinationFolder = FolderOrCurrent(destination);
  }
  find.Close();
}

bool Tool::ProcessFiles(ToolCommand& command) {
  ApplySwitches(command);
  bool result = true;
  const uint32_t count = command.files.Count();
  for (uint32_t i = 0; i < count; ++i) result = ProcessFile(command, command.files[i]) && result;
  if (count > 0) std::printf("\nProcessed %d files.\n", static_cast<int>(count));
  return result;
}

bool Tool::ProcessFile(ToolCommand&, ToolFileEntry&) { return true; }

void Tool::PrintUsage() {}

void Tool::ApplySwitches(ToolCommand& command) {
  command.recursive = command.HasSwitch('r');
  command.keepPrefix = command.HasSwitch('k');
  command.verbose = command.HasSwitch('v');
}

unsigned Tool::HexDump(File& file, const uint8_t* bytes, unsigned count) {
  static const char kLineBreak[] = "\r\n  ";
  file.Write(kLineBreak, 4, 1);
  for (unsigned i = 0; i < count; ++i) {
    char item[8];
    std::snprintf(item, sizeof item, "0x%02X, ", bytes[i]);
    file.Write(item, 6, 1);
    if ((i + 1) % 16 == 0) file.Write(kLineBreak, 4, 1);
  }
  return count;
}

} // namespace Vak
