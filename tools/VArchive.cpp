#include "tools/VArchive.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>

#include "Vak/Bexlorn/ByteOrder.h"
#include "Vak/Bexlorn/FileSubArchive.h"
#include "Vak/Bexlorn/Time.h"
#include "tools/ToolGlobals.h"

namespace Vak {

namespace {

// The archive whose add runs, for the store's progress hook.
std::atomic<VArchive*> gProgressTarget{nullptr};

// The banner and usage go out once in the process.
std::atomic<bool> gUsagePrinted{false};

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// The text without its leading "./" or ".\" pairs.
const char* SkipCurrentFolder(const char* text) {
  while (text[0] == '.' && IsSeparator(text[1])) text += 2;
  return text;
}

unsigned KiB(uint64_t bytes) { return static_cast<unsigned>(bytes / 1024); }

// The folder joined with the name, as a person reads it ('/' separators).
File::Path Joined(const char* folder, const char* name) {
  File::Path path(folder);
  path.AddPath(name);
  path.ReplaceBackSlashes();
  return path;
}

// A failure of one file.
struct FileError {
  const char* text;
};

// Runs the work of one file; a failure is printed as "Error, %s!".
template <typename Work>
bool Reported(Work work) {
  try {
    work();
    return true;
  } catch (const FileError& error) {
    std::printf("Error, %s!\n", error.text);
    return false;
  }
}

} // namespace

VArchive::VArchive() { Reset(); }

VArchive::~VArchive() { VArchive::Shutdown(); }

void VArchive::Reset() {
  blockPaging_ = false;
  fullPaths_ = true;
  compression_ = false;
  verbose_ = false;
  command_ = kNone;
  lastProgress_ = 0;
  pathPrefixGiven_ = false;
  pathPrefix_ = "";
  totalSize_ = 0;
}

void VArchive::Setup(unsigned mask) {
  buffer_ = std::make_unique<uint8_t[]>(kCopyBufferBytes);
  Reset();
  startTime_ = static_cast<uint32_t>(Time::Ms());
  Tool::Setup(mask);
}

void VArchive::Shutdown() {
  buffer_.reset();
  Tool::Shutdown();
}

void VArchive::ApplySwitches(ToolCommand& command) {
  Tool::ApplySwitches(command);
  verbose_ = command.verbose;
  fullPaths_ = command.HasSwitch('P');
  compression_ = command.HasSwitch('c');
  if (command.HasSwitch('n')) archiveNameAsPrefix_ = true;
  if (command.HasSwitch('p')) {
    pathPrefixGiven_ = true;
    pathPrefix_ = command.SwitchValue('p');
  }
}

int VArchive::StoreProgress(unsigned long input, unsigned long stored) {
  VArchive* archive = gProgressTarget.load();
  return archive ? archive->ShowProgress(input, stored) : 1;
}

bool VArchive::Execute(ToolCommand& command) {
  static const char* const kWords[] = {"a", "e", "l", "b"};
  command_ = kNone;
  for (int i = 0; i < 4; ++i)
    if (command.commandWord.CompareWith(kWords[i]) == AnsiString::Equal) command_ = i + 1;
  if (command_ == kNone) {
    std::printf("VArchive::Execute(): No command specified.\n");
    return false;
  }
  if (command_ == kAdd) {
    gProgressTarget = this;
    FileSubArchive::SetProgress(&StoreProgress);
  }
  if (archiveNameAsPrefix_) {
    pathPrefix_ = command.target;
    pathPrefixGiven_ = true;
  }
  const PString& substitute = ToolGlobals::ArchiveSubstitute();
  targetMounted_ = MountTarget(substitute, command.target);
  const bool result = Tool::ProcessFiles(command);
  File::Subst(substitute, nullptr, false);
  targetMounted_ = false;
  FileSubArchive::SetProgress(nullptr);
  gProgressTarget = nullptr;
  return result;
}

bool VArchive::ProcessFile(ToolCommand& command, ToolFileEntry& entry) {
  if (command_ == kAdd) {
    gProgressTarget = this;
    FileSubArchive::SetProgress(&StoreProgress);
  } else {
    FileSubArchive::SetProgress(nullptr);
  }
  switch (command_) {
    case kAdd:
      return AddFile(command, entry);
    case kExtract:
      return ExtractFile(command, entry);
    case kList:
      ListFile(command, entry);
      return true;
    case kBlocks:
      ListBlocks(command, entry);
      return true;
    default:
      return false;
  }
}

File::Path VArchive::ArchiveEntryName(const ToolCommand& command, const char* source, const char* sourceFolder) {
  const char* name = source;
  if (!command.keepPrefix) name += std::min(std::strlen(sourceFolder), std::strlen(source));
  if (const char* colon = std::strchr(name, ':')) name = colon + 1;
  if (IsSeparator(*name)) ++name;
  File::Path path(name);
  path.Normalize();
  return path;
}

File::Path VArchive::ArchiveFileName(const char* path) {
  File::Path out(path);
  if (out.LastChar() != '\\') out.SetExt("va");
  return out;
}

bool VArchive::IsContainedEntryName(const char* name) {
  if (IsSeparator(name[0]) || std::strchr(name, ':')) return false;
  for (const char* p = name; *p;) {
    const char* end = p;
    while (*end && !IsSeparator(*end)) ++end;
    if (end - p == 2 && p[0] == '.' && p[1] == '.') return false;
    p = *end ? end + 1 : end;
  }
  return true;
}

bool VArchive::Copy(File& in, File& out, uint32_t length, const char* line, uint32_t size) {
  uint32_t done = 0;
  while (done < length) {
    const uint32_t want = std::min(length - done, kCopyBufferBytes);
    const unsigned long got = in.Read(buffer_.get(), want, 1);
    if (got == 0) break;
    if (out.Write(buffer_.get(), got, 1) != got) return false;
    done += static_cast<uint32_t>(got);
    if (verbose_) {
      if (size == 0xFFFFFFFF) std::printf(line, KiB(done));
      else std::printf(line, KiB(done), size ? done * 100.0 / size : 0.0);
    }
  }
  return length == 0xFFFFFFFF || done == length;
}

void VArchive::Transfer(File& in, File& out, uint32_t length, const char* line, uint32_t size) {
  const bool copied = Copy(in, out, length, line, size);
  // Closing an archive's file stores it into the archive.
  const bool written = out.Close() == 0;
  in.Close();
  startTime_ = static_cast<uint32_t>(Time::Ms());
  lastProgress_ = 0;
  std::printf("\n");
  if (!copied) throw FileError{"Cannot read input file"};
  if (!written) throw FileError{"Cannot write output file"};
}

bool VArchive::AddFile(ToolCommand& command, ToolFileEntry& entry) {
  const char* folder = SkipCurrentFolder(entry.sourceFolder);
  File::Path source(folder);
  source.AddPath(entry.match.name);
  const File::Path name = ArchiveEntryName(command, source, folder);
  const uint32_t size = entry.match.size2;
  std::printf("Add: %5uk      /%5uk .. %-50.50s ", 0u, KiB(entry.match.size), static_cast<const char*>(name));
  return Reported([&] {
    File in;
    if (!in.Open(source, File::kRead).Ok()) throw FileError{"Cannot open input file"};
    File out;
    const bool packed = compression_ && entry.match.size > kPlainLimit;
    if (!targetMounted_ || !out.Open(ToolGlobals::ArchiveSubstitute(), name, packed ? 258 : 257).Ok())
      throw FileError{"Cannot open output file"};
    totalSize_ = entry.match.size;
    Transfer(in, out, size, "\rAdd: %5uk", 0xFFFFFFFF);
  });
}

bool VArchive::ExtractFile(ToolCommand&, ToolFileEntry& entry) {
  File::Path destination;
  if (pathPrefixGiven_) {
    destination = pathPrefix_;
    destination.SetExt(nullptr);
    destination.AddPath(entry.destinationFolder);
  } else {
    destination = entry.destinationFolder;
  }
  destination.AddPath(entry.match.name);
  File::Path source(SkipCurrentFolder(entry.sourceFolder));
  source.AddPath(entry.match.name);
  File::Path folder(destination);
  folder.DelName(true);
  const uint32_t size = entry.match.size;
  File::Path shown(destination);
  shown.ReplaceBackSlashes();
  std::printf("%5uk %3.0f%%/%5uk .. %s", verbose_ ? 0u : KiB(size), size && !verbose_ ? 100.0 : 0.0, KiB(size),
              static_cast<const char*>(shown));
  return Reported([&] {
    // A stored name may not reach outside the folder it is extracted to.
    if (!IsContainedEntryName(source)) throw FileError{"Cannot open output file"};
    if (folder.Length() != 0) File::Md(folder);
    File in;
    if (!targetMounted_ || !in.Open(ToolGlobals::ArchiveSubstitute(), source, File::kRead).Ok())
      throw FileError{"Cannot open input file"};
    File out;
    if (!out.Open(destination, 257).Ok()) throw FileError{"Cannot open output file"};
    Transfer(in, out, size, "\r%5uk %3.0f%%", size);
  });
}

void VArchive::ListFile(ToolCommand&, ToolFileEntry& entry) {
  const File::Entry& match = entry.match;
  const double ratio = match.size ? match.size2 * 100.0 / match.size : 0.0;
  std::printf("%5uk/%5uk %3.0f%% %08X .. %s\n", KiB(match.size2), KiB(match.size), ratio, match.reserved,
              static_cast<const char*>(Joined(entry.sourceFolder, match.name)));
}

void VArchive::ListDirectory(const ToolFileEntry& entry) {
  const char* name = entry.match.name;
  if (!verbose_ || !(entry.match.attributes & File::Entry::kFolder) || std::strcmp(name, ".") == 0 ||
      std::strcmp(name, "..") == 0)
    return;
  std::printf(" <DIR>                      .. %s\n", static_cast<const char*>(Joined(entry.sourceFolder, name)));
}

void VArchive::ListBlocks(ToolCommand& command, ToolFileEntry& entry) {
  const File::Path path = Joined(SkipCurrentFolder(entry.sourceFolder), entry.match.name);
  File file;
  const bool opened = command.searchTarget
                          ? targetMounted_ && file.Open(ToolGlobals::ArchiveSubstitute(), path, File::kRead).Ok()
                          : file.Open(path, File::kRead).Ok();
  if (!opened) {
    std::printf("Error, %s!\n", "Cannot open file");
    return;
  }
  std::printf("Block Listing of %s:\n\n", static_cast<const char*>(path));
  uint8_t head[8];
  char id[4];
  if (file.Read(head, 8, 1) != 8 || file.Read(id, 4, 1) != 4) {
    std::printf("FileType: Unknown\n");
    return;
  }
  std::printf("File Type: %4.4s  %8u bytes\n", reinterpret_cast<const char*>(head), GetLE32(head + 4));
  std::printf("File ID: %4.4s\n", id);
  uint32_t total = 4;
  while (file.Read(head, 8, 1) == 8) {
    const uint32_t length = GetLE32(head + 4);
    total += 8 + length;
    std::printf(" - Block: %4.4s - %8u bytes\n", reinterpret_cast<const char*>(head), length);
    file.Seek(static_cast<long>(length), File::kSeekCurrent);
  }
  std::printf(" - Total       - %8u bytes\n", total);
}

bool VArchive::ShowProgress(unsigned long bytes, unsigned long bytesDone) {
  const uint32_t elapsed = static_cast<uint32_t>(Time::Ms()) - startTime_;
  const double firstPercent = bytes ? bytesDone * 100.0 / bytes : 0.0;
  const double secondPercent = totalSize_ ? bytes * 100.0 / totalSize_ : 0.0;
  if (lastProgress_ != 0 && secondPercent < 100.0 && elapsed - lastProgress_ < kProgressIntervalMs) return true;
  lastProgress_ = elapsed;
  if (verbose_) {
    std::printf("\rAdd: %5uk %3.0f%% %5dkbs", KiB(bytes), firstPercent,
                elapsed ? static_cast<int>(bytes / elapsed) : 0);
  } else if (bytesDone != 0) {
    std::printf("\rAdd: %5uk %3.0f%%", KiB(static_cast<uint32_t>(totalSize_ - (bytes - bytesDone))),
                secondPercent >= 100.0 ? firstPercent : secondPercent);
  } else {
    std::printf("\rAdd: %5uk", KiB(bytes));
  }
  return true;
}

const char* VArchive::UsageText() {
  return "Usage: VArchive [Switches] Command Archive [Paths]\n"
         "       VArchive @ArgumentFile\n"
         "\n"
         "Switches:\n"
         "  Switches start with '-' and come before the command.\n"
         "\n"
         "Switch:\n"
         "  -r            Recursive Search\n"
         "  -p            Keep path prefix.\n"
         "  -P            Use Full Paths\n"
         "  -v            Verbose Display\n"
         "  -c            Enable Compression\n"
         "  -n            Use archive name as path prefix\n"
         "  -p<Path>      Use path prefix\n"
         "  -x<Wildcards> Exclude files\n"
         "\n"
         "Command:\n"
         "  a             Add matching wildcards to archive\n"
         "  e             Extract matching wildcards from archive\n"
         "  l             List matching wildcards in archive\n"
         "  b             View blocks in file\n"
         "\n"
         "Paths:\n"
         "  One or more Path arguments, separated by blanks.\n"
         "\n"
         "Path:\n"
         "  [Folder\\]Wildcards\n"
         "\n"
         "Wildcards:\n"
         "  One or more wildcards separated by ';', such as *.txt;*.bmp\n"
         "\n"
         "Example:\n"
         "  VArchive -c -r a MyArchive.va Data\\*.txt;*.bmp;*.*.*\n"
         "  Adds, compressed, every .txt and .bmp file and every file with two\n"
         "  extensions found in Data and below to MyArchive.va in the current folder.\n"
         "\n"
         "Note: By default the path prefix is removed from files.\n";
}

void VArchive::PrintUsage() {
  if (gUsagePrinted.exchange(true)) return;
  std::printf("VArchive - engine archive tool\n\n%s", UsageText());
}

} // namespace Vak
