#pragma once
// The engine's archiver on the tool framework: adds files from the disk to an
// engine archive (a), extracts them (e), lists them (l) and lists the blocks
// of tagged-block files (b).
#include <cstdint>
#include <memory>

#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/String.h"
#include "tools/Tool.h"

namespace Vak {

class VArchive : public Tool {
public:
  enum CommandKind : int32_t { kNone = 0, kAdd = 1, kExtract = 2, kList = 3, kBlocks = 4 };

  static constexpr uint32_t kCopyBufferBytes = 131072;
  // Larger files are stored packed when compression is on.
  static constexpr uint32_t kPlainLimit = 1024;
  // Progress lines closer together than this are dropped.
  static constexpr uint32_t kProgressIntervalMs = 200;

  VArchive();
  ~VArchive() override;

  // Allocates the copy buffer, resets the settings, then the framework's.
  void Setup(unsigned mask) override;
  void Shutdown() override;
  // Runs the command over the collected files with the target mounted; false
  // when there is no known command word or a file could not be added or
  // extracted.
  bool ProcessFiles(ToolCommand& command) override { return Execute(command); }
  bool Execute(ToolCommand& command);
  bool ProcessFile(ToolCommand& command, ToolFileEntry& entry) override;
  void PrintUsage() override;
  void ApplySwitches(ToolCommand& command) override;

  bool AddFile(ToolCommand& command, ToolFileEntry& entry);
  bool ExtractFile(ToolCommand& command, ToolFileEntry& entry);
  void ListFile(ToolCommand& command, ToolFileEntry& entry);
  void ListDirectory(const ToolFileEntry& entry);
  void ListBlocks(ToolCommand& command, ToolFileEntry& entry);
  // The store's progress while a file goes into the archive: the input bytes
  // stored so far and, for a packed file, the stored bytes written (else 0).
  bool ShowProgress(unsigned long bytes, unsigned long bytesDone);

  // The name a file gets inside the archive.
  static File::Path ArchiveEntryName(const ToolCommand& command, const char* source, const char* sourceFolder);
  // The path with the extension "va", unless it ends in '\'.
  static File::Path ArchiveFileName(const char* path);
  // Whether an entry name stays inside the folder it is extracted to: no
  // ".." component, no leading separator, no drive or substitute prefix.
  static bool IsContainedEntryName(const char* name);
  static const char* UsageText();

  int32_t CommandKindValue() const { return command_; }
  bool Compression() const { return compression_; }
  bool FullPaths() const { return fullPaths_; }
  bool ArchiveNameAsPrefix() const { return archiveNameAsPrefix_; }
  bool PathPrefixGiven() const { return pathPrefixGiven_; }
  const AnsiString& PathPrefix() const { return pathPrefix_; }
  bool Verbose() const { return verbose_; }
  const uint8_t* CopyBuffer() const { return buffer_.get(); }
  // The size of the file being added, which the progress lines measure.
  void SetTotalSize(uint32_t bytes) { totalSize_ = bytes; }
  void SetStartTime(uint32_t ms) { startTime_ = ms; }

private:
  void Reset();
  // Copies `length` bytes (all there is when `length` is 0xFFFFFFFF); false
  // on a short read or a failed write. `line` formats the verbose lines.
  bool Copy(File& in, File& out, uint32_t length, const char* line, uint32_t size);
  // Copies, closes both files, restarts the progress clock and ends the
  // file's line; throws when the copy or the close failed.
  void Transfer(File& in, File& out, uint32_t length, const char* line, uint32_t size);
  static int StoreProgress(unsigned long input, unsigned long stored);

  bool blockPaging_ = false;
  bool fullPaths_ = true;
  bool compression_ = false;
  bool archiveNameAsPrefix_ = false;
  bool verbose_ = false;
  int32_t command_ = kNone;
  uint32_t startTime_ = 0;
  uint32_t lastProgress_ = 0;
  bool targetMounted_ = false;  // else names under the substitute would reach the disk
  bool pathPrefixGiven_ = false;
  AnsiString pathPrefix_;
  uint32_t totalSize_ = 0;
  std::unique_ptr<uint8_t[]> buffer_;
};

} // namespace Vak
