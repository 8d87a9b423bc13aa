#pragma once
// The base of VAConverter's converters: the common arguments, the program's
// own folder, the input archive mounted through the archive cache under its
// lower-case name, and a recursive walk of that archive that hands each
// folder and file to the converter.
#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/PString.h"

namespace Vak {
class ResourceDatabase;
}

class ConvertBase {
public:
  ConvertBase() = default;
  // Gives back the use of the input archive's database.
  virtual ~ConvertBase();
  ConvertBase(const ConvertBase&) = delete;
  ConvertBase& operator=(const ConvertBase&) = delete;

  virtual void PrintUsage();
  // argv[1] is the operation word, argv[2] the input archive.
  virtual bool ParseArguments(int argc, char** argv);
  // Walks the input archive from its root.
  virtual int Run();
  // 1 from a handler stops the walk.
  virtual int ProcessDirectory(const char* path);
  virtual int ProcessFile(const char* path);
  // Completes work a handler left running before the walk reports anything;
  // false when that work failed, which stops the walk.
  virtual bool Settle() { return true; }

  const Vak::File::Path& ProgramFolder() const { return programFolder_; }
  const Vak::File::Path& InputArchivePath() const { return inputArchivePath_; }
  const Vak::PString& InputSubstituteName() const { return inputSubstituteName_; }
  Vak::ResourceDatabase* InputDatabase() const { return inputDatabase_; }

protected:
  // One line on standard output, flushed.
  static void Print(const char* format, ...) __attribute__((format(printf, 1, 2)));
  // Gives back the input database's use and forgets it.
  void ReleaseInputDatabase();

  Vak::File::Path programFolder_;
  Vak::File::Path inputArchivePath_;
  Vak::PString inputSubstituteName_;
  Vak::ResourceDatabase* inputDatabase_ = nullptr;
};
