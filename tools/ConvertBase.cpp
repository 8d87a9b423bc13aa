#include "tools/ConvertBase.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "assetdb/AssetArchiveCache.h"
#include "platform/os/Program.h"

ConvertBase::~ConvertBase() { ReleaseInputDatabase(); }

void ConvertBase::ReleaseInputDatabase() {
  if (inputDatabase_) AssetArchiveCache::Release(inputDatabase_);
  inputDatabase_ = nullptr;
}

void ConvertBase::Print(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::putchar('\n');
  std::fflush(stdout);
}

void ConvertBase::PrintUsage() { Print("usage: VAConverter <operation> <input archive>.va <arguments...>"); }

bool ConvertBase::ParseArguments(int argc, char** argv) {
  if (argc < 4 || !argv) return false;
  programFolder_ = platform::ProgramPath().c_str();
  programFolder_.DelName(false);
  programFolder_.DelSlash();

  inputArchivePath_ = argv[2];
  if (!Vak::File::Exists(inputArchivePath_).Ok()) {
    Print("Failed to find input archive \"%s\"", argv[2]);
    return false;
  }
  if (!inputArchivePath_.IsExt("va")) {
    Print("Invalid input archive \"%s\"", argv[2]);
    return false;
  }
  Vak::File::Path folder(inputArchivePath_);
  folder.DelName(false);
  Vak::File::Path name(inputArchivePath_.GetFileName());
  name.SetExt(nullptr);
  inputSubstituteName_ = Vak::PString(static_cast<const char*>(name));
  inputSubstituteName_.ToLower();
  inputDatabase_ = AssetArchiveCache::Acquire(inputSubstituteName_, folder);
  return true;
}

int ConvertBase::Run() { return ProcessDirectory(""); }

int ConvertBase::ProcessDirectory(const char* path) {
  Vak::File::Path pattern(path);
  pattern.AddPath("*");
  Vak::File::Find find;
  bool found = false;
  try {
    found = find.Open(pattern, inputSubstituteName_);
  } catch (...) {
    if (!Settle()) return 1;
    Print("Unable to open search path \"%s\"", static_cast<const char*>(pattern));
    return 1;
  }
  int result = 0;
  for (; found; found = find.Next()) {
    if (std::strcmp(find.name, ".") == 0 || std::strcmp(find.name, "..") == 0) continue;
    const Vak::File::Path match = find.GetNameAndPath();
    result = (find.attributes & Vak::File::Entry::kFolder) ? ProcessDirectory(match) : ProcessFile(match);
    if (result == 1) break;
  }
  find.Close();
  return result;
}

int ConvertBase::ProcessFile(const char*) { return 0; }
