#pragma once
// The config model's message sink: every error, warning and note reported
// while a config is loaded and checked becomes a record naming the container
// or tag it belongs to. A report repeating one already recorded for the same
// owner is dropped. Optionally echoes each report to standard output behind
// the string table's prefix for its severity.
#include <cstdint>
#include <vector>

#include "Vak/Bexlorn/PString.h"

namespace RUZLib {

class Container;
class Tag;

struct ErrorRecord {
  static constexpr int32_t kError = 3;
  static constexpr int32_t kWarning = 2;
  static constexpr int32_t kNote = 0;

  Container* container = nullptr;  // owner when a container reported
  Tag* tag = nullptr;              // owner when a tag reported
  Vak::PString text;
  int32_t severity = kNote;
};

class ErrorHandler {
public:
  using MessageList = std::vector<ErrorRecord*>;

  // Makes the process's handler (echo off, no records); true.
  static bool Create();
  // Deletes the handler with its records; nothing when there is none.
  static void Destroy();
  // The process's handler, or null.
  static ErrorHandler* Instance();

  ErrorHandler() = default;
  ErrorHandler(const ErrorHandler&) = delete;
  ErrorHandler& operator=(const ErrorHandler&) = delete;
  virtual ~ErrorHandler();

  // Deletes every record.
  virtual void Clear();
  // Each reporter: true when recorded, false for a repeat.
  virtual bool ContainerError(const Vak::PString& text, Container* container);
  virtual bool TagError(const Vak::PString& text, Tag* tag);
  virtual bool Error(const Vak::PString& text);
  virtual bool ContainerWarning(const Vak::PString& text, Container* container);
  virtual bool TagWarning(const Vak::PString& text, Tag* tag);
  virtual bool Warning(const Vak::PString& text);
  virtual bool ContainerNote(const Vak::PString& text, Container* container);
  virtual bool TagNote(const Vak::PString& text, Tag* tag);
  virtual bool Note(const Vak::PString& text);
  // Progress hooks ("now exporting the container %s"); they record nothing.
  virtual bool Trace(const char* text, const char* argument);
  virtual bool TraceDetail(const char* text, const char* argument);
  // No record holds this text, whoever owns it.
  virtual bool HasNoMessage(const Vak::PString& text);
  // The list becomes a copy of `messages`; the records change hands.
  virtual void AssignMessages(const MessageList& messages);
  virtual void SetEcho(bool echo);
  // Remove and delete the first record of that owner; the order of the
  // others stays.
  virtual void RemoveTagMessage(Tag* tag);
  virtual void RemoveContainerMessage(Container* container);
  virtual const MessageList& GetMessages();

  bool Echo() const { return echo_; }

private:
  bool Report(const Vak::PString& text, Container* container, Tag* tag, int32_t severity);

  bool echo_ = false;
  MessageList messages_;
};

} // namespace RUZLib
