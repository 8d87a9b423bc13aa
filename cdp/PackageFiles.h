#pragma once
// An asset's folder as a package holds it: a "files" container with a
// container per sub-folder and a value per file, named by the folder or file
// name. Packing reads a folder into such a tree, checking looks at a folder's
// names before a commit, extracting writes a tree back to disk.
//
// File values are stored as they are, or with the compression "LZSS" as a
// 32-bit little-endian size followed by one LZSS block of level 9.
#include <cstdint>
#include <memory>

#include "Vak/Bexlorn/PString.h"
#include "Vak/Bexlorn/String.h"
#include "content/ACSChunkPtr.h"

class ResultsLog;

// One file as a value chunk in `out`, read through `substitute` when it is
// not empty. False, with the reason in the log, when it cannot be read, is too
// large for a package or the compression is unknown.
bool ReadPackageFile(ResultsLog& log, const Vak::PString& substitute, const char* fileName,
                     const Vak::PString& compression, ACSChunkPtr& out);
// Every entry under `folder` into `files`, recursively. Each unreadable
// folder and each name or extension a package cannot hold is logged, and the
// walk goes on; true when every entry went in.
bool PackFolderFiles(ACSChunkPtr& files, const char* folder, const Vak::PString& substitute, ResultsLog& log,
                     const Vak::PString& compression);
// The same walk without reading; every finding is an error. True when none.
bool CheckFolderFiles(const char* folder, ResultsLog& log);
// Extracts the tree into `folder` (made when missing). Children whose names
// a package cannot hold are skipped. Stops at the first failure, whose text
// goes to `error`. Compressed files are decoded side by side once their
// stored bytes reach kParallelDecodeBytes; what reaches the disk, and where
// a failure stops, is as when they are decoded one after another.
constexpr uint64_t kParallelDecodeBytes = 64 * 1024;
bool WritePackageFiles(Vak::String& error, const ACSChunkPtr& files, const char* folder,
                       const Vak::PString& compression);
// One file from its stored value; a file that fails to decode is not left
// behind.
bool WritePackageFile(Vak::String& error, const ACSChunkPtr& data, const char* path,
                      const Vak::PString& compression);

// One of the file extensions a package carries (any case).
bool IsPackageFileType(const char* name);
// Files packing and checking pass over without a word.
bool IsIgnoredPackageFile(const char* name);
// A file or folder name a package can hold.
bool IsValidPackageName(const char* name);
// A relative path without empty, "." or ".." (or any dots-only) components,
// which therefore stays below the folder it is taken from.
bool IsSafePackagePath(const char* path);

// Codes the file values of trees packed without compression into their
// "LZSS" form, in place: the bytes packing with that compression gives. The
// trees handed over are coded in batches on helper threads while the caller
// goes on reading; values change only inside Add, Finish and the destructor,
// on the calling thread, and a tree must not change otherwise until Finish.
class PackageEncoder {
public:
  PackageEncoder();
  ~PackageEncoder();
  PackageEncoder(const PackageEncoder&) = delete;
  PackageEncoder& operator=(const PackageEncoder&) = delete;

  void Add(const ACSChunkPtr& files);
  // Codes what is left, side by side once it reaches kParallelDecodeBytes.
  // False when a value could not be coded; it is then left as it was.
  bool Finish();

private:
  struct Queue;
  // Starts the pending batch, helping with it when `help`.
  void Launch(bool help);
  // Waits for the running batch and puts its values in.
  void Complete();

  std::unique_ptr<Queue> pending_;
  std::unique_ptr<Queue> running_;
  int helpers_ = 0;
  bool ok_ = true;
};
