#include "tools/PatchConverter.h"

#include <cstring>
#include <string>

#include "platform/os/Process.h"
#include "platform/os/Waitable.h"
#include "tools/MD5.h"
#include "tools/PatchFiles.h"

namespace {

constexpr const char* kSourceWork = "srcFile";
constexpr const char* kDestinationWork = "dstFile";
constexpr const char* kDifferenceWork = "difFile";
constexpr const char* kOutputWork = "outFile";

int OperationOf(const char* word) {
  if (!word) return PatchConverter::kNone;
  const Vak::PString text(word);
  if (text.Compare("patchdiff") == 0) return PatchConverter::kPatchDiff;
  if (text.Compare("patchapply") == 0) return PatchConverter::kPatchApply;
  return PatchConverter::kNone;
}

bool OpenIn(Vak::File& file, const Vak::PString& substitute, const char* path) {
  try {
    return file.Open(substitute, path, Vak::File::kRead).Ok();
  } catch (...) {
    return false;
  }
}

// The file name of an archive path without its extension.
std::string BaseName(const Vak::File::Path& path) {
  Vak::File::Path name(path.GetFileName());
  name.SetExt(nullptr);
  return static_cast<const char*>(name);
}

bool Mount(const Vak::PString& name, const char* path) {
  try {
    return Vak::File::Subst(name, path, true);
  } catch (...) {
    return false;
  }
}

void Unmount(const Vak::PString& name) { Vak::File::Subst(name, nullptr, false); }

// Deletes a file that is there; true when none is left.
bool RemoveFile(const char* path) { return !Vak::File::Exists(path).Ok() || Vak::File::Unlink(path); }

} // namespace

struct PatchConverter::PendingDiff {
  std::string path;
  std::string digests;  // old and new, as the patched list holds them
  Vak::File::Path sourceWork;
  Vak::File::Path destinationWork;
  Vak::File::Path difference;
  platform::Process program;
};

PatchConverter::PatchConverter() = default;

PatchConverter::~PatchConverter() {
  // The diff program writes into the working folder: it ends before that goes.
  if (pending_) pending_->program.Wait(platform::kInfinite);
  Abandon();
}

void PatchConverter::PrintMoreUsage() {
  Print("usage: VAConverter patchdiff <old>.va <new>.va <output path> | patchapply <archive>.va <patch set>.va");
}

Vak::File::Path PatchConverter::WorkPath(const char* name) const {
  Vak::File::Path path(programFolder_);
  path.AddPath(name);
  return path;
}

bool PatchConverter::ParseArguments(int argc, char** argv) {
  if (argc < 4 || !argv) return false;
  const int operation = OperationOf(argv[1]);
  // Counted before anything is renamed or mounted.
  if (operation == kPatchDiff && argc < 5) return false;
  if (!ConvertBase::ParseArguments(argc, argv)) return false;
  if (operation == kNone) {
    Print("Invalid patch converter operation");
    return false;
  }
  operation_ = operation;

  secondArchivePath_ = argv[3];
  if (!secondArchivePath_.IsExt("va") || !Vak::File::Exists(secondArchivePath_).Ok()) {
    Print("Invalid input archive \"%s\"", argv[3]);
    return false;
  }
  Vak::PString secondName(BaseName(secondArchivePath_).c_str());
  secondName.ToLower();
  secondArchiveWorkingPath_ = secondArchivePath_;
  if (secondName == inputSubstituteName_) {
    // Both archives bear one name: the second is mounted under another.
    Vak::File::Path renamed(secondArchivePath_);
    renamed.DelName(false);
    const std::string file = BaseName(secondArchivePath_) + "-out." + secondArchivePath_.GetExt();
    if (!renamed.Add(file.c_str())) {
      Print("Invalid input archive \"%s\"", argv[3]);
      return false;
    }
    if (Vak::File::Exists(renamed).Ok()) {
      Print("Archive already exists \"%s\"", static_cast<const char*>(renamed));
      return false;
    }
    if (!Vak::File::Rename(secondArchivePath_, renamed)) {
      Print("Unable to rename \"%s\" to \"%s\"", argv[3], static_cast<const char*>(renamed));
      return false;
    }
    secondRenamed_ = true;
    secondArchiveWorkingPath_ = renamed;
    secondName.Setf("%s-out", inputSubstituteName_.c_str());
  }
  secondSubstituteName_ = secondName;
  if (!Mount(secondSubstituteName_, secondArchiveWorkingPath_)) {
    Print("Unable to open archive \"%s\"", static_cast<const char*>(secondArchiveWorkingPath_));
    Abandon();
    return false;
  }
  secondMounted_ = true;

  if (operation_ == kPatchDiff) {
    std::string output;
    for (const char* p = argv[4]; *p; ++p)
      if (*p != '"') output += *p;
    outputPath_ = output.c_str();
    outputFolder_ = outputPath_;
    outputFolder_.AddPath(inputSubstituteName_.c_str());
    // A folder of that name is the user's: work in a fresh one beside it.
    for (unsigned n = 1; Vak::File::Exists(outputFolder_).Ok(); ++n) {
      outputFolder_ = outputPath_;
      const std::string fresh = std::string(inputSubstituteName_.c_str()) + "-" + std::to_string(n);
      outputFolder_.AddPath(fresh.c_str());
    }
    if (!Vak::File::Md(outputFolder_)) {
      Print("Unable to create folder \"%s\"", static_cast<const char*>(outputFolder_));
      Abandon();
      return false;
    }
    outputFolderCreated_ = true;
    workingSubstituteName_.Setf("%s-diff", inputSubstituteName_.c_str());
  } else {
    outputFolder_ = inputArchivePath_;
    outputFolder_.DelName(false);
    workingSubstituteName_.Setf("%s-tmp", inputSubstituteName_.c_str());
  }

  workingArchivePath_ = outputFolder_;
  workingArchivePath_.AddPath(workingSubstituteName_.c_str());
  workingArchivePath_.SetExt("va");
  if (!RemoveFile(workingArchivePath_)) {
    Print("Unable to delete \"%s\"", static_cast<const char*>(workingArchivePath_));
    Abandon();
    return false;
  }
  if (!Mount(workingSubstituteName_, workingArchivePath_)) {
    Print("Unable to create archive \"%s\"", static_cast<const char*>(workingArchivePath_));
    Abandon();
    return false;
  }
  workingMounted_ = true;
  return true;
}

int PatchConverter::ProcessDirectory(const char* path) {
  if (operation_ == kPatchDiff) {
    if (*path && !IsSafeArchivePath(path)) {
      if (!Settle()) return 1;
      Print(">>>> PATH ERROR %s", path);
      return 1;
    }
    Vak::File::Path mirror(outputFolder_);
    mirror.AddPath(path);
    if (!Vak::File::Md(mirror)) {
      if (!Settle()) return 1;
      Print("Unable to create folder \"%s\"", static_cast<const char*>(mirror));
      return 1;
    }
  }
  return ConvertBase::ProcessDirectory(path);
}

int PatchConverter::ProcessFile(const char* path) {
  if (operation_ == kPatchDiff) return DiffFile(path) ? 0 : 1;
  if (operation_ == kPatchApply) {
    if (!PatchFile(path)) fileFailed_ = true;
    return 0;
  }
  return 1;
}

int PatchConverter::RunProgram(const std::vector<std::string>& arguments, bool& started) const {
  platform::Process process;
  started = process.Start(arguments) == platform::Error::None;
  if (!started) return -1;
  if (!process.Wait(platform::kInfinite)) return -1;
  return process.ExitCode();
}

bool PatchConverter::DiffFile(const char* path) {
  if (!IsSafeArchivePath(path)) {
    if (!Settle()) return false;
    Print(">>>> PATH ERROR %s", path);
    return false;
  }
  Vak::File walked;
  Vak::File other;
  OpenIn(walked, inputSubstituteName_, path);
  OpenIn(other, secondSubstituteName_, path);
  // Both missing: nothing to record. In the second pass a file both archives
  // hold was handled by the first.
  if (!walked.IsOpen()) {
    if (!other.IsOpen()) return true;
    Settle();
    return false;
  }
  if (secondPass_ && other.IsOpen()) return true;

  // Digests come from the bytes read; the work files are written only for
  // the diff program.
  FileBytes& content = content_;
  const bool walkedRead = ReadWholeFile(walked, content);
  const Vak::PString oldDigest = walkedRead ? BufferMD5Hex(content.data(), content.size()) : Vak::PString();
  FileBytes& otherContent = otherContent_;
  Vak::PString newDigest;
  bool otherRead = true;
  if (walkedRead && other.IsOpen()) {
    otherRead = ReadWholeFile(other, otherContent);
    if (otherRead) newDigest = BufferMD5Hex(otherContent.data(), otherContent.size());
  }
  // An unchanged pair leaves no trace: the pending difference need not end.
  // A digest that could not be had never counts as equal.
  const bool digested = !oldDigest.IsNull() && !(other.IsOpen() && newDigest.IsNull());
  if (walkedRead && otherRead && digested && other.IsOpen() && oldDigest == newDigest) return true;

  if (!Settle()) return false;
  if (!walkedRead || !otherRead) {
    Print(">>>> READ ERROR %s", path);
    return false;
  }
  if (!digested) {
    Print(">>>> MD5 ERROR %s", path);
    return false;
  }

  if (!other.IsOpen() && !secondPass_) {
    deleted_[path] = oldDigest.c_str();
    Print("Removed %s", path);
    return true;
  }
  if (!other.IsOpen()) {
    if (!WriteBufferToArchive(workingSubstituteName_, path, content.data(), content.size())) {
      Print(">>>> WRITE ERROR %s", path);
      return false;
    }
    added_[path] = oldDigest.c_str();
    Print("Added %s", path);
    return true;
  }

  auto diff = std::make_unique<PendingDiff>();
  diff->path = path;
  diff->digests = std::string(oldDigest.c_str()) + '\n' + newDigest.c_str();
  diff->sourceWork = WorkPath(kSourceWork);
  diff->destinationWork = WorkPath(kDestinationWork);
  if (!StartDiff(path, content, otherContent, *diff)) {
    Vak::File::Unlink(diff->sourceWork);
    Vak::File::Unlink(diff->destinationWork);
    return false;
  }
  pending_ = std::move(diff);
  return true;
}

bool PatchConverter::Settle() {
  if (!pending_) return true;
  const std::unique_ptr<PendingDiff> diff = std::move(pending_);
  const bool ok = FinishDiff(*diff);
  Vak::File::Unlink(diff->sourceWork);
  Vak::File::Unlink(diff->destinationWork);
  if (ok) {
    patched_[diff->path] = diff->digests;
    Print("Diffed %s", diff->path.c_str());
  }
  return ok;
}

bool PatchConverter::StartDiff(const char* path, const FileBytes& oldContent, const FileBytes& newContent,
                               PendingDiff& diff) {
  if (!WritePlainFile(Vak::PString(), diff.sourceWork, oldContent.data(), oldContent.size()) ||
      !WritePlainFile(Vak::PString(), diff.destinationWork, newContent.data(), newContent.size())) {
    Print(">>>> WRITE ERROR %s", path);
    return false;
  }
  diff.difference = outputFolder_;
  diff.difference.AddPath(path);
  if (!diff.difference.Add(".diff") || !RemoveFile(diff.difference)) {
    Print(">>>> DIFF ERROR %s", path);
    return false;
  }
  Vak::File::Path program(programFolder_);
  program.AddPath("../../tools/VelmarPatch/bin/vdiffl-w32.exe");
  if (diff.program.Start({static_cast<const char*>(program), static_cast<const char*>(diff.sourceWork),
                          static_cast<const char*>(diff.destinationWork),
                          static_cast<const char*>(diff.difference)}) != platform::Error::None) {
    Print(">>>> DIFF ERROR %s", path);
    return false;
  }
  return true;
}

bool PatchConverter::FinishDiff(PendingDiff& diff) {
  const char* path = diff.path.c_str();
  // A status that cannot be read counts as failure.
  const int code = diff.program.Wait(platform::kInfinite) ? diff.program.ExitCode() : -1;
  if (code != 0 || !Vak::File::Exists(diff.difference).Ok()) {
    Print(">>>> DIFF ERROR %s", path);
    Print(">>>> EXIT CODE:  %d", code);
    return false;
  }
  if (!CopyArchiveFile(Vak::PString(), diff.difference, workingSubstituteName_, path)) {
    Print(">>>> WRITE ERROR %s", path);
    return false;
  }
  if (!Vak::File::Unlink(diff.difference)) {
    Print("Unable to delete \"%s\"", static_cast<const char*>(diff.difference));
    return false;
  }
  return true;
}

bool PatchConverter::PatchFile(const char* path) {
  if (!IsSafeArchivePath(path)) {
    Print(">>>> PATH ERROR %s", path);
    return false;
  }
  if (deleted_.count(path)) {
    Print("Removed %s", path);
    return true;
  }
  const auto patched = patched_.find(path);
  if (patched == patched_.end()) {
    if (!CopyArchiveFile(inputSubstituteName_, path, workingSubstituteName_, path)) {
      Print(">>>> WRITE ERROR %s", path);
      return false;
    }
    Print("Unchanged %s", path);
    return true;
  }
  patchedMet_.insert(path);

  Vak::File input;
  Vak::File difference;
  if (!OpenIn(input, inputSubstituteName_, path) || !OpenIn(difference, secondSubstituteName_, path)) {
    Print(">>>> OPEN ERROR %s", path);
    return false;
  }
  const Vak::File::Path sourceWork = WorkPath(kSourceWork);
  const Vak::File::Path differenceWork = WorkPath(kDifferenceWork);
  const Vak::File::Path outputWork = WorkPath(kOutputWork);
  FileBytes content;
  if (!ReadWholeFile(input, content)) {
    Print(">>>> READ ERROR %s", path);
    return false;
  }
  if (!WritePlainFile(Vak::PString(), sourceWork, content.data(), content.size())) {
    Print(">>>> WRITE ERROR %s", path);
    return false;
  }
  // Patching another version of the file would give a wrong one.
  const Vak::PString oldDigest = FileMD5Hex(sourceWork);
  if (oldDigest.IsNull() || PatchedOldDigest(patched->second) != oldDigest.c_str()) {
    Print(">>>> MD5 ERROR %s", path);
    return false;
  }
  if (!ReadWholeFile(difference, content)) {
    Print(">>>> READ ERROR %s", path);
    return false;
  }
  if (!WritePlainFile(Vak::PString(), differenceWork, content.data(), content.size()) ||
      !RemoveFile(outputWork)) {
    Print(">>>> WRITE ERROR %s", path);
    return false;
  }

  Vak::File::Path program(programFolder_);
  program.AddPath("vpatchl-w32.exe");
  bool started = false;
  const int code = RunProgram({static_cast<const char*>(program), static_cast<const char*>(sourceWork),
                               static_cast<const char*>(differenceWork), static_cast<const char*>(outputWork)},
                              started);
  if (!started) {
    Print(">>>> PATCH ERROR %s", path);
    return false;
  }
  if (code != 0) {
    Print(">>>> PATCH ERROR %s", path);
    Print(">>>> EXIT CODE:  %d", code);
    return false;
  }
  const Vak::PString newDigest = FileMD5Hex(outputWork);
  if (newDigest.IsNull() || PatchedNewDigest(patched->second) != newDigest.c_str()) {
    Print(">>>> MD5 ERROR %s", path);
    return false;
  }
  if (!CopyArchiveFile(Vak::PString(), outputWork, workingSubstituteName_, path)) {
    Print(">>>> WRITE ERROR %s", path);
    return false;
  }
  Vak::File::Unlink(differenceWork);
  Vak::File::Unlink(sourceWork);
  Vak::File::Unlink(outputWork);
  Print("Patched %s", path);
  return true;
}

void PatchConverter::ReadList(const char* name, bool patched, PatchMap& map) {
  Vak::File list;
  if (!OpenIn(list, secondSubstituteName_, name)) return;
  FileBytes content;
  if (!ReadWholeFile(list, content)) return;
  ParsePatchList(reinterpret_cast<const char*>(content.data()), content.size(), patched, map);
}

bool PatchConverter::AddFile(const std::string& path, const std::string& digest) {
  if (!IsSafeArchivePath(path.c_str())) {
    Print(">>>> PATH ERROR %s", path.c_str());
    return false;
  }
  Vak::File source;
  if (!OpenIn(source, secondSubstituteName_, path.c_str())) {
    Print(">>>> OPEN ERROR %s", path.c_str());
    return false;
  }
  FileBytes content;
  if (!ReadWholeFile(source, content)) {
    Print(">>>> READ ERROR %s", path.c_str());
    return false;
  }
  if (digest != BufferMD5Hex(content.data(), content.size()).c_str()) {
    Print(">>>> MD5 ERROR %s", path.c_str());
    return false;
  }
  if (!WriteBufferToArchive(workingSubstituteName_, path.c_str(), content.data(), content.size())) {
    Print(">>>> WRITE ERROR %s", path.c_str());
    return false;
  }
  return true;
}

void PatchConverter::SwapArchives() {
  std::swap(inputArchivePath_, secondArchiveWorkingPath_);
  std::swap(inputSubstituteName_, secondSubstituteName_);
}

int PatchConverter::Run() {
  int result = 1;
  if (operation_ == kPatchApply) {
    ReadList(kAddedFilesList, false, added_);
    ReadList(kDeletedFilesList, false, deleted_);
    ReadList(kPatchedFilesList, true, patched_);
    for (const auto& [path, digest] : added_)
      if (!AddFile(path, digest)) fileFailed_ = true;
    result = ConvertBase::Run();
    for (const auto& entry : patched_) {
      if (patchedMet_.count(entry.first)) continue;
      Print(">>>> OPEN ERROR %s", entry.first.c_str());
      fileFailed_ = true;
    }
    if (fileFailed_) result = 1;
  } else if (operation_ == kPatchDiff) {
    secondPass_ = false;
    result = ConvertBase::Run();
    if (!Settle()) result = 1;
    if (result == 0) {
      SwapArchives();
      secondPass_ = true;
      result = ConvertBase::Run();
      if (!Settle()) result = 1;
      SwapArchives();
    }
  } else {
    return 1;
  }
  return Finalise(result);
}

bool PatchConverter::WriteLists() {
  const struct {
    const char* name;
    const PatchMap& map;
  } lists[] = {{kAddedFilesList, added_}, {kDeletedFilesList, deleted_}, {kPatchedFilesList, patched_}};
  for (const auto& list : lists) {
    const std::string bytes = FormatPatchList(list.map);
    if (!WritePlainFile(workingSubstituteName_, list.name, reinterpret_cast<const uint8_t*>(bytes.data()),
                        bytes.size())) {
      Print("Unable to write \"%s\"", list.name);
      return false;
    }
  }
  return true;
}

bool PatchConverter::RestoreSecondArchive() {
  if (secondMounted_) Unmount(secondSubstituteName_);
  secondMounted_ = false;
  if (!secondRenamed_) return true;
  if (!Vak::File::Rename(secondArchiveWorkingPath_, secondArchivePath_)) {
    Print("Unable to rename \"%s\" to \"%s\"", static_cast<const char*>(secondArchiveWorkingPath_),
          static_cast<const char*>(secondArchivePath_));
    return false;
  }
  secondRenamed_ = false;
  return true;
}

bool PatchConverter::Abandon() {
  if (workingMounted_) {
    Unmount(workingSubstituteName_);
    workingMounted_ = false;
    if (!outputFolderCreated_ && !Vak::File::Unlink(workingArchivePath_))
      Print("Unable to delete \"%s\"", static_cast<const char*>(workingArchivePath_));
  }
  if (outputFolderCreated_) {
    if (!Vak::File::Prune(outputFolder_)) Print("Unable to delete \"%s\"", static_cast<const char*>(outputFolder_));
    outputFolderCreated_ = false;
  }
  return RestoreSecondArchive();
}

int PatchConverter::Finalise(int result) {
  if (!RestoreSecondArchive()) result = 1;
  if (result != 0) {
    Abandon();
    return 1;
  }
  if (operation_ == kPatchDiff) {
    if (!WriteLists()) {
      Abandon();
      return 1;
    }
    Unmount(workingSubstituteName_);
    workingMounted_ = false;
    Vak::File::Path target(workingArchivePath_);
    target.PrevDir();
    if (!Vak::File::Rename(workingArchivePath_, target)) {
      // The working folder keeps the only copy.
      Print("Unable to rename \"%s\" to \"%s\"", static_cast<const char*>(workingArchivePath_),
            static_cast<const char*>(target));
      outputFolderCreated_ = false;
      return 1;
    }
    outputFolderCreated_ = false;
    if (!Vak::File::Prune(outputFolder_)) {
      Print("Unable to delete \"%s\"", static_cast<const char*>(outputFolder_));
      return 1;
    }
    return 0;
  }
  // patchapply: the result replaces the input archive in one rename.
  ReleaseInputDatabase();
  Unmount(inputSubstituteName_);
  Unmount(workingSubstituteName_);
  workingMounted_ = false;
  if (!Vak::File::Rename(workingArchivePath_, inputArchivePath_)) {
    Print("Unable to rename \"%s\" to \"%s\"", static_cast<const char*>(workingArchivePath_),
          static_cast<const char*>(inputArchivePath_));
    if (!Vak::File::Unlink(workingArchivePath_))
      Print("Unable to delete \"%s\"", static_cast<const char*>(workingArchivePath_));
    return 1;
  }
  return 0;
}
