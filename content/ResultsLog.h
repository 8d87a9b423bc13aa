#pragma once
// The list of lines an operation reports: severity, text and, optionally, the
// property naming the asset concerned. Watchers hear of new lines through
// pipes ("list-updated") and of the log's end ("list-destroyed").
//
// Thread-safe: every operation holds the log's own recursive lock, and
// watchers are called with it held, so they may read the log but must not take
// a lock that a thread adding lines could hold in the other order. Link and
// close pipes of a log that other threads write to under Lock().
#include <atomic>
#include <cstdint>
#include <vector>

#include "Vak/Bexlorn/PString.h"
#include "Vak/Bexlorn/String.h"
#include "Vak/Bexlorn/Sync.h"
#include "content/ACSChunkPtr.h"
#include "content/ChunkedList.h"
#include "content/NuMessage.h"
#include "content/VelmarProperty.h"

class ResultsLog : public NuMessageRecipient {
public:
  enum Severity : int32_t { kNote = 1, kWarning = 2, kError = 3, kResult = 4 };

  struct Line {
    int32_t severity = 0;
    Vak::String text;
    VelmarPropertyPtr property;  // or null
  };
  using Lines = ChunkedList<Line, 13>;

  ResultsLog() = default;
  ResultsLog(const ResultsLog&) = delete;
  // Copies the other log's lines and counters (not its watchers or property
  // context) and marks the lines unseen; locks this log before the other.
  ResultsLog& operator=(const ResultsLog& other);
  // Watchers hear "list-destroyed" first; then the pipes are closed.
  ~ResultsLog() override;

  // Gives the text of an interface-text key; a key without text comes back
  // as it is.
  using TextResolver = Vak::PString (*)(const Vak::PString& key);

  // Stores a line and tells the watchers. The line holds its own reference on
  // `property`; without one it takes the innermost context property. A text
  // that is an interface-text key is first replaced by its text through the
  // resolver. Each child of `parameters` then replaces $(NAME) (any case) by
  // the child's value; the text is otherwise stored as given.
  void AddMessage(int32_t severity, VelmarProperty* property, const char* text,
                  const ACSChunkPtr& parameters = ACSChunkPtr());

  // The process's resolver (the interface text, installed at start-up); null
  // leaves keys as they are.
  static void SetTextResolver(TextResolver resolver);
  static TextResolver GetTextResolver();
  // "$" and then only letters, digits and '_' ("$vad_unreadable_cdp"; not
  // "$(FILE_PATH)").
  static bool IsInterfaceTextKey(const char* text);

  // The property context for lines added without a property of their own.
  void PushProperty(VelmarProperty* property);
  // Nothing when the context is empty.
  void PopProperty();

  // Replaces every "$(name)" of `text`, found without regard to case, by
  // `value`; the search goes on behind each value, so a value holding the
  // same macro stays as it is.
  static void ExpandMacro(const char* value, Vak::AnsiString& text, const char* name);

  // The log's lock, for readers of the lines and for linking pipes.
  void Lock() const;
  void Unlock() const;
  int32_t LockDepth() const { return depth_.load(); }

  // Read under Lock().
  const Lines& GetLines() const { return lines_; }
  uint64_t LineCount() const;
  int32_t GetWarningCount() const;
  int32_t GetErrorCount() const;
  int32_t GetResultCount() const;

  // False once a line is added or the log is assigned; a watcher sets it
  // again when it has copied the new lines.
  bool AllLinesSeen() const;
  void SetAllLinesSeen(bool seen);

private:
  class Hold;

  mutable Vak::CriticalSection section_{"ResultsLog"};
  mutable std::atomic<int32_t> depth_{0};  // changed only by the holder
  Lines lines_;
  int32_t warnings_ = 0;
  int32_t errors_ = 0;
  int32_t results_ = 0;
  uint8_t allLinesSeen_ = 1;
  std::vector<VelmarPropertyPtr> context_;
};
