#pragma once
// VAConverter's converter: patchdiff compares an old and a new engine
// archive and writes a patch set (an archive of added files, difference
// files and three list files); patchapply applies a patch set to an archive
// and replaces it with the result. Changed files are compared by MD5 and
// turned into differences by external programs found beside the converter.
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "tools/ConvertBase.h"
#include "tools/PatchFiles.h"
#include "tools/PatchSet.h"

class PatchConverter : public ConvertBase {
public:
  enum Operation { kNone = 0, kPatchDiff = 1, kPatchApply = 2 };

  PatchConverter();
  // Undoes what an unfinished run left mounted or renamed.
  ~PatchConverter() override;

  void PrintUsage() override { PrintMoreUsage(); }
  virtual void PrintMoreUsage();
  bool ParseArguments(int argc, char** argv) override;
  int Run() override;
  int ProcessDirectory(const char* path) override;
  int ProcessFile(const char* path) override;
  bool Settle() override;

  // One file of patchdiff; false stops the walk. A changed file's
  // difference is made while the walk goes on over unchanged files: anything
  // else waits for it first (Settle), so the run's output and its stops stay
  // in walk order.
  bool DiffFile(const char* path);
  // One file of patchapply; false when the file could not be carried into
  // the result (the walk goes on, the run fails).
  bool PatchFile(const char* path);

  int GetOperation() const { return operation_; }
  const PatchMap& Added() const { return added_; }
  const PatchMap& Patched() const { return patched_; }
  const PatchMap& Deleted() const { return deleted_; }
  const Vak::File::Path& OutputFolder() const { return outputFolder_; }
  const Vak::File::Path& WorkingArchivePath() const { return workingArchivePath_; }

private:
  Vak::File::Path WorkPath(const char* name) const;
  // Starts a program with its arguments and waits; its exit status, or -1
  // when it did not start or its status cannot be read. `started` tells
  // which.
  int RunProgram(const std::vector<std::string>& arguments, bool& started) const;
  // A changed pair whose difference is being made.
  struct PendingDiff;
  // Writes the work files of a changed pair and starts the diff program;
  // FinishDiff waits for it and stores its difference in the working archive.
  bool StartDiff(const char* path, const FileBytes& oldContent, const FileBytes& newContent, PendingDiff& diff);
  bool FinishDiff(PendingDiff& diff);
  void ReadList(const char* name, bool patched, PatchMap& map);
  bool AddFile(const std::string& path, const std::string& digest);
  bool WriteLists();
  int Finalise(int result);
  // Unmounts and removes what this run made, and gives the second archive
  // its name back; false when that rename failed.
  bool Abandon();
  bool RestoreSecondArchive();
  void SwapArchives();

  int operation_ = kNone;
  Vak::File::Path secondArchivePath_;
  Vak::File::Path secondArchiveWorkingPath_;
  Vak::PString secondSubstituteName_;
  Vak::File::Path outputFolder_;
  Vak::PString workingSubstituteName_;
  Vak::File::Path workingArchivePath_;
  bool secondPass_ = false;
  PatchMap added_;
  PatchMap patched_;
  PatchMap deleted_;

  Vak::File::Path outputPath_;  // patchdiff: where the diff archive goes
  bool secondRenamed_ = false;
  bool secondMounted_ = false;
  bool workingMounted_ = false;
  bool outputFolderCreated_ = false;
  bool fileFailed_ = false;           // patchapply
  std::set<std::string> patchedMet_;  // patched paths the walk met
  FileBytes content_;                 // kept from file to file
  FileBytes otherContent_;
  std::unique_ptr<PendingDiff> pending_;
};
