#pragma once
// The engine's base of command-line tools that work on sets of files: one
// command line becomes switches, a command word, a target (an archive) and
// wildcard paths; argument files ("@name") hold further lines; the matching
// files are collected from the disk or from inside the mounted target and
// handed one by one to the concrete tool.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/PString.h"
#include "Vak/Bexlorn/String.h"
#include "content/GrowArray.h"

namespace Vak {

class OS;
class ResourceSystem;

// A growable array of owned items, one pointer each, that grows by 128 items
// at a time; copies are deep.
template <typename T>
class ToolArray {
public:
  static constexpr unsigned kStep = 128;

  // The capacity after appending `n` items to `count` when they do not fit:
  // (count + n + 128) rounded down to a multiple of 128.
  static constexpr uint32_t GrownCapacity(uint32_t count, uint32_t n) { return (count + n + kStep) / kStep * kStep; }
  static_assert(GrowArray<T*, kStep>::GrownCapacity(0) == GrownCapacity(0, 1) &&
                    GrowArray<T*, kStep>::GrownCapacity(128) == GrownCapacity(128, 1),
                "one item at a time grows by the same rule");

  ToolArray() = default;
  ToolArray(const ToolArray& other) { CopyFrom(other); }
  ToolArray& operator=(const ToolArray& other) {
    if (this != &other) {
      Clear();
      CopyFrom(other);
    }
    return *this;
  }
  ~ToolArray() { Clear(); }

  T& Append(std::unique_ptr<T> item) {
    items_.Append(item.get());
    return *item.release();
  }
  void Clear() {
    for (T* item : items_) delete item;
    items_.Free();
  }
  uint32_t Count() const { return items_.Count(); }
  uint32_t Capacity() const { return items_.Capacity(); }
  T& operator[](uint32_t i) { return *items_[i]; }
  const T& operator[](uint32_t i) const { return *items_[i]; }

private:
  void CopyFrom(const ToolArray& other) {
    for (const T* item : other.items_) Append(std::make_unique<T>(*item));
  }
  GrowArray<T*, kStep> items_;
};

class ToolStringArray : public ToolArray<AnsiString> {
public:
  void Append(const char* text) { ToolArray::Append(std::make_unique<AnsiString>(text)); }
  void Append(const char* text, unsigned length) { ToolArray::Append(std::make_unique<AnsiString>(text, length)); }
};

// One collected file: the match as the search gives it (for a file on the
// disk the stored size equals the size and the stamp, `reserved`, is 0), the
// folder it was found in and the folder it goes to.
struct ToolFileEntry {
  File::Entry match{};
  AnsiString sourceFolder;
  AnsiString destinationFolder;
};

struct ToolCommand {
  ToolStringArray tokens;
  AnsiString commandWord;
  AnsiString target;
  ToolStringArray paths;  // each an optional folder and ';'-separated wildcards
  ToolArray<ToolFileEntry> files;
  std::map<char, AnsiString> switches;  // letter (case-sensitive) to value
  std::map<std::string, AnsiString> settings;
  ToolStringArray excludeNames;    // "-x" patterns without a separator
  ToolStringArray excludeFolders;  // "-x" patterns with one
  bool recursive = false;
  bool verbose = false;
  bool keepPrefix = false;
  bool expectsCommandWord = false;
  bool expectsTarget = false;
  bool searchTarget = false;  // search inside the mounted target, not on the disk

  bool HasSwitch(char letter) const { return switches.count(letter) != 0; }
  // The switch's value; "" when absent.
  const char* SwitchValue(char letter) const;
};

class Tool {
public:
  // Setup's flag mask.
  static constexpr unsigned kExpectCommandWord = 1;
  static constexpr unsigned kExpectTarget = 2;
  static constexpr unsigned kSearchTarget = 4;

  Tool();
  virtual ~Tool();
  Tool(const Tool&) = delete;
  Tool& operator=(const Tool&) = delete;

  virtual void Setup(unsigned mask);
  virtual void Shutdown();
  // Starts the kernel for the tool: options from the running module and the
  // line, the tool's fixed option text and `extraOptions`; the log, also on
  // standard output; the resource system. `line` must outlive the tool.
  virtual void Init(const char* line, int argumentCount, const char* extraOptions);
  virtual bool Run();
  virtual bool ProcessFiles(ToolCommand& command);
  virtual bool ProcessFile(ToolCommand& command, ToolFileEntry& entry);
  virtual void PrintUsage();
  virtual void ApplySwitches(ToolCommand& command);

  bool ProcessCommandLine(ToolCommand& command, const char* line);
  bool ParseCommand(ToolCommand& command, const char* line);
  // Splits `text` at the separators; a quoted run is one token (an empty one
  // none), and an unclosed quote ends the text. Returns the token count.
  static unsigned Tokenize(ToolStringArray& out, const char* text, const char* separators, char quote);
  bool ReadArgumentFile(ToolCommand& command, const char* name);
  void ExecuteFileList(ToolCommand& command);
  void CollectFiles(ToolCommand& command, const char* folder, const char* wildcards, const char* base);
  static bool IsExcluded(const ToolStringArray& patterns, const char* text);
  // Writes the bytes as "0xAB, " items, 16 to a line; returns their count.
  static unsigned HexDump(File& file, const uint8_t* bytes, unsigned count);

  ToolCommand& Command() { return command_; }
  OS* GetOS() const { return os_.get(); }

  static constexpr const char* kOptionText = " +Render=OpenGL,DirectX -HideWindow -Windowed -LogFlush-";

protected:
  // The usage, at most once per tool object.
  void PrintUsageOnce();

private:
  // Identifies an argument file however its name is written.
  static std::string ArgumentFileKey(const char* name);

  const char* commandLine_ = nullptr;
  bool usagePrinted_ = false;
  std::unique_ptr<OS> os_;
  std::unique_ptr<ResourceSystem> resources_;
  ToolCommand command_;
  // Argument files being read: a file that names itself, however
  // indirectly, would otherwise be read without end.
  std::vector<std::string> reading_;
};

// The name under which the target is mounted while files are collected or a
// command runs: "_ToolArc_".
const PString& ToolArchiveSubstitute();
// Mounts the target writable under the substitute; false when it cannot be.
bool MountTarget(const PString& substitute, const char* target);

} // namespace Vak
