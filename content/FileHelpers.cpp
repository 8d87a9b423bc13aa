#include "content/FileHelpers.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Vak/Bexlorn/CodePage.h"
#include "Vak/Bexlorn/Exception.h"
#include "Vak/Bexlorn/FileSubst.h"
#include "content/AppGlobals.h"
#include "content/TextHelpers.h"
#include "content/TStream.h"
#include "platform/os/File.h"
#include "platform/os/FileSystem.h"
#include "content/VelmarEx.h"

namespace {

using Path = Vak::File::Path;

bool IsSep(char c) { return c == '/' || c == '\\'; }

constinit std::atomic<uint32_t> gTemporaryNames{0};

constexpr unsigned kTemporaryTries = 100;
constexpr uint32_t kCopyPiece = 0x1000000;
constexpr unsigned long kCopyReadMode = Vak::File::kRead;                        // 16
constexpr unsigned long kCopyWriteMode = Vak::File::kCreateNew | Vak::File::kWrite;  // 769

// root + folderName + path with a name, else path; the result must be
// absolute. Back-slashes for the file layer.
bool Resolve(const Vak::PString& folderName, const char* path, Path& out) {
  if (!path) return false;
  if (folderName.Length() > 0) {
    out = GetDatabaseRootPath();
    if (!out.AddPath(folderName.c_str()) || !out.AddPath(path)) return false;
  } else if (!out.Set(path)) {
    return false;
  }
  if (!IsAbsolutePath(out)) return false;
  out.ReplaceForwardSlashes();
  return true;
}

// A path inside a substitute, back-slashed.
bool Inner(const char* path, Path& out) {
  if (!path || !out.Set(path)) return false;
  out.ReplaceForwardSlashes();
  return true;
}

// Whether any component of the text is "." or "..".
bool HasDotComponent(const char* text) {
  const char* p = text;
  while (*p) {
    while (IsSep(*p)) ++p;
    const char* end = p;
    while (*end && !IsSep(*end)) ++end;
    const std::size_t n = static_cast<std::size_t>(end - p);
    if ((n == 1 && p[0] == '.') || (n == 2 && p[0] == '.' && p[1] == '.')) return true;
    p = end;
  }
  return false;
}

// Starts a search of pattern, inside the substitute when one is named. An
// unknown substitute means the search cannot start.
bool OpenSearch(Vak::File::Find& find, const Vak::PString& folderName, const char* pattern) {
  try {
    return folderName.Length() > 0 ? find.Open(pattern, folderName) : find.Open(pattern);
  } catch (const Vak::FileEx&) {
    return false;
  }
}

// The pattern that searches a folder found at `find`.
bool SubFolderPattern(const Vak::File::Find& find, Path& pattern) {
  pattern = find.GetNameAndPath();
  return pattern.AddSlash() && pattern.Add("*");
}

bool SearchPattern(const char* path, Path& pattern) {
  return Inner(path, pattern) && pattern.Add("*");
}


uint32_t RotateLeft(uint32_t value, unsigned bits) { return (value << bits) | (value >> (32 - bits)); }

uint32_t ChangeHash(const Vak::PString& folderName, const char* pattern) {
  Vak::File::Find find;
  if (!OpenSearch(find, folderName, pattern)) return 1;
  uint32_t h = 0;
  do {
    if (IsDotName(find.name)) continue;
    if (find.attributes & Vak::File::Entry::kFolder) {
      Path sub;
      const uint32_t subHash = SubFolderPattern(find, sub) ? ChangeHash(folderName, sub) : 1;
      h = (subHash + 11) ^ RotateLeft(h, 6);
    } else {
      // Time and size: a rewritten file changes at least one of them.
      h = RotateLeft(h, 5) ^ (find.written ^ find.size);
    }
  } while (find.Next());
  return h == 0 ? 1 : h;
}

bool HasFiles(const Vak::PString& folderName, const char* pattern) {
  Vak::File::Find find;
  if (!OpenSearch(find, folderName, pattern)) return false;
  do {
    if (IsDotName(find.name)) continue;
    if (!(find.attributes & Vak::File::Entry::kFolder)) return true;
    Path sub;
    if (SubFolderPattern(find, sub) && HasFiles(folderName, sub)) return true;
  } while (find.Next());
  return false;
}

// The file layer takes an unknown substitute for no substitute at all, which
// would reach a path relative to the working folder instead.
bool Listed(const Vak::PString& folderName) { return Vak::FileSubstList::Get().Listed(folderName); }

// Opens the side of a copy: through the substitute when one is named.
bool OpenCopySide(TFile& stream, const Vak::PString& name, const char* path, unsigned long mode) {
  Path inner;
  if (!Inner(path, inner) || (name.Length() > 0 && !Listed(name))) return false;
  Vak::File& file = stream.GetFile();
  const Vak::File::Result result = name.Length() > 0 ? file.Open(name, inner, mode) : file.Open(inner, mode);
  return result.Ok();
}

bool CopyPieces(TFile& from, TFile& to, uint32_t size) {
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[size < kCopyPiece ? size : kCopyPiece]);
  for (uint32_t left = size; left > 0;) {
    const uint32_t piece = left < kCopyPiece ? left : kCopyPiece;
    if (from.ReadBytes(buffer.get(), piece) != piece) return false;
    if (to.WriteBytes(buffer.get(), piece) != piece) return false;
    left -= piece;
  }
  // The file layer buffers writes: what could not be stored shows at close.
  return from.GetError() == 0 && to.GetError() == 0 && to.GetFile().Close() == 0;
}

} // namespace

bool IsExtension(const char* path, const char* ext) {
  if (!path || !ext) return false;
  if (*ext == '.') ++ext;
  const std::size_t pathLength = std::strlen(path);
  const std::size_t extLength = std::strlen(ext);
  if (pathLength < extLength + 1) return false;
  const char* tail = path + pathLength - extLength - 1;
  if (*tail != '.') return false;
  return Vak::CodePage::AsciiEqualsIgnoreCase(tail + 1, ext, extLength);
}

bool NextExtension(const char*& cursor, const char* path) {
  if (!cursor) {
    const char* dot = path ? std::strrchr(path, '.') : nullptr;
    if (!dot) return false;
    cursor = dot + 1;
  } else if (*cursor == '.') {
    ++cursor;
  }
  return *cursor != '\0';
}

bool IsDotName(const char* name) {
  return name && name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

bool IsAbsolutePath(const char* text) {
  if (!text || !*text) return false;
  if (IsSep(text[0])) return true;
  return text[1] == ':' && IsSep(text[2]);
}

Vak::String SanitiseFileName(const char* text) {
  std::string out(text ? text : "");
  for (char& c : out) {
    const bool keep = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ' ';
    if (!keep) c = '_';
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return Vak::String(out.c_str());
}

bool ArchiveFileExists(const char* name) {
  Path path = GetDatabaseRootPath();
  if (!name || path.Length() == 0 || !path.AddPath(name) || !path.Add(".va")) return false;
  path.ReplaceForwardSlashes();
  return Vak::File::Exists(path).Ok();
}

uint32_t FolderChangeHash(const Vak::PString& folderName, const char* path) {
  Path pattern;
  return SearchPattern(path, pattern) ? ChangeHash(folderName, pattern) : 1;
}

bool FolderHasFiles(const Vak::PString& folderName, const char* path) {
  Path pattern;
  if (!Inner(path, pattern)) return false;
  const std::size_t n = pattern.Length();
  const char last = n > 0 ? static_cast<const char*>(pattern)[n - 1] : '\\';
  if (folderName.Length() == 0 && IsAbsolutePath(path) && last != '\\' && last != '/') {
    // A path without its closing separator: the entry itself, never the
    // neighbours whose names begin with it (nor a listing of all of them).
    platform::FileInfo info;
    if (platform::Stat(pattern, info) != platform::Error::None) return false;
    if (!info.isFolder) return true;  // a file is no empty leftover
    if (!pattern.Add("\\")) return false;
  }
  return pattern.Add("*") && HasFiles(folderName, pattern);
}

bool MakeFolderPath(const Vak::PString& folderName, const char* path) {
  Path full;
  if (!Resolve(folderName, path, full)) return false;
  // Mostly the folder is there already: one look instead of one per part.
  platform::FileInfo info;
  if (platform::Stat(full, info) == platform::Error::None && info.isFolder) return true;
  return Vak::File::Md(full);
}

bool RenameInRoot(const Vak::PString& fromName, const char* from, const Vak::PString& toName, const char* to) {
  Path fromPath, toPath;
  return Resolve(fromName, from, fromPath) && Resolve(toName, to, toPath) && Vak::File::Rename(fromPath, toPath);
}

bool RenameFile(const char* from, const char* to) {
  const Vak::PString none;
  return RenameInRoot(none, from, none, to);
}

bool FileExists(const Vak::PString& folderName, const char* path) {
  Path inner;
  if (!Inner(path, inner)) return false;
  if (folderName.Length() > 0) {
    if (!Listed(folderName)) return false;
    Vak::PString substitute(folderName);
    return Vak::File::Exists(substitute, inner).Ok();
  }
  if (!IsAbsolutePath(path)) return true;
  return Vak::File::Exists(inner).Ok();
}

bool DeleteInsideDatabaseRoot(const Vak::PString& folderName, const char* path) {
  if (!path || !*path) return false;
  const Path root = GetDatabaseRootPath();
  if (root.Length() == 0) return false;
  Path full;
  if (!Resolve(folderName, path, full)) return false;
  // Strictly inside the root, with nothing that could climb back out of it.
  Path rest(full);
  if (!rest.MakeRelativeTo(root) || rest.Length() == 0 || HasDotComponent(rest)) return false;
  return Vak::File::Prune(full) || Vak::File::Unlink(full);
}

bool CreateTemporaryFilePath(const Vak::PString& folderName, const char* folder, const char* prefix,
                             const char* extension, const char* preferredName, Vak::File::Path& path,
                             bool (*claimed)(const char* path)) {
  const uint32_t counter = ++gTemporaryNames;
  if (!folder || !MakeFolderPath(folderName, folder)) return false;
  Path base(folder);
  if (base.Length() > 0 && !base.AddSlash()) return false;
  const bool hasExtension = extension && *extension;

  const Vak::String preferred = SanitiseFileName(preferredName);
  if (preferred.Size() > 0) {
    Path candidate(base);
    if (candidate.Add(preferred) && (!hasExtension || candidate.Add(extension)) && !(claimed && claimed(candidate))) {
      // An empty leftover of the same name must not block the name; a name
      // that is free needs no clearing.
      if (FileExists(folderName, candidate) && !FolderHasFiles(folderName, candidate))
        DeleteInsideDatabaseRoot(folderName, candidate);
      if (!FileExists(folderName, candidate)) {
        path = candidate;
        return true;
      }
    }
  }

  for (unsigned attempt = 0; attempt < kTemporaryTries; ++attempt) {
    char random[9];
    for (int i = 0; i < 8; ++i) {
      const int v = SharedRandNextInt(0, 35);
      random[i] = static_cast<char>(v < 10 ? '0' + v : 'a' + (v - 10));
    }
    random[8] = '\0';
    char number[16];
    std::snprintf(number, sizeof number, "%u", counter);
    Path candidate(base);
    if (!candidate.Add(prefix ? prefix : "") || !candidate.Add(random) || !candidate.Add(number)) break;
    if (hasExtension && (!candidate.Add(".") || !candidate.Add(extension))) break;
    if (!FileExists(folderName, candidate)) {
      path = candidate;
      return true;
    }
  }
  VelmarLogError("CreateTemporaryFilePath> unable to form valid temp path in 100 tries, at path '%s' with prefix '%s'",
                 folder, prefix ? prefix : "");
  return false;
}

bool IsCachePath(const char* text) { return text && MatchesPatternIgnoreAsciiCase("/cache/", text, true); }

bool CopyFileStream(const Vak::PString& fromName, const char* from, const Vak::PString& toName, const char* to) {
  TFile source;
  if (!OpenCopySide(source, fromName, from, kCopyReadMode)) return false;
  TFile destination;
  if (!OpenCopySide(destination, toName, to, kCopyWriteMode)) return false;
  if (CopyPieces(source, destination, source.GetSize())) return true;
  // A partial copy must not pass for the file.
  destination.Close();
  Path inner;
  Inner(to, inner);
  std::string target = toName.Length() > 0 ? std::string(toName.c_str()) + ":" + inner.operator const char*()
                                           : std::string(inner);
  Vak::File::Unlink(target.c_str());
  return false;
}

namespace {

// False, nothing changed, when the temporary cannot be made or the path is a
// link; else `written` tells whether the new content is in place.
bool ReplaceThroughTemporary(const char* path, const void* data, std::size_t size, bool& written) {
  std::string folder(path);
  const std::size_t cut = folder.find_last_of("\\/:");
  const std::string name = cut == std::string::npos ? folder : folder.substr(cut + 1);
  folder = cut == std::string::npos ? std::string() : folder.substr(0, cut + 1);
  std::vector<platform::FolderEntry> entries;
  platform::ListFolder(folder.empty() ? "." : folder.c_str(), entries,
                       [&name](const char* entry) { return name == entry; });
  if (!entries.empty() && entries.front().info.isLink) return false;
  std::string temp;
  platform::File out;
  if (Vak::File::CreateTemporary(folder, out, temp, platform::File::Access::Write) != platform::Error::None)
    return false;
  written = size == 0 || out.Write(data, size) == platform::Error::None;
  written = written && out.SyncOrDefer() == platform::Error::None;
  written = out.Close() == platform::Error::None && written;
  written = written && platform::Rename(temp.c_str(), path) == platform::Error::None;
  if (!written) platform::DeleteFile(temp.c_str());
  return true;
}

} // namespace

bool WriteWholeFile(const char* path, const void* data, std::size_t size) {
  if (!path) return false;
  bool written = false;
  if (ReplaceThroughTemporary(path, data, size, written)) return written;
  Vak::File file;
  if (!file.Open(path, Vak::File::kWrite | Vak::File::kCreate).Ok()) return false;
  written = size == 0 || file.Write(data, size, 1) == size;
  written = file.Flush() && written;
  return file.Close() == 0 && written;
}
