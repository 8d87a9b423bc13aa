#include "datamanager/ErrorHandler.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "datamanager/DataManager.h"
#include "datamanager/Messages.h"

namespace RUZLib {

namespace {

ErrorHandler* gErrorHandler = nullptr;

// The echo prefix; empty while no data manager or no such entry exists.
Vak::PString Prefix(int32_t severity) {
  DataManager* manager = DataManager::TryInstance();
  if (!manager) return Vak::PString();
  switch (severity) {
    case ErrorRecord::kError: return manager->GetString(Msg::kErrorPrefix);
    case ErrorRecord::kWarning: return manager->GetString(Msg::kWarningPrefix);
    default: return manager->GetString(Msg::kNotePrefix);
  }
}

} // namespace

bool ErrorHandler::Create() {
  if (!gErrorHandler) gErrorHandler = new ErrorHandler();
  return true;
}

void ErrorHandler::Destroy() {
  delete gErrorHandler;
  gErrorHandler = nullptr;
}

ErrorHandler* ErrorHandler::Instance() { return gErrorHandler; }

ErrorHandler::~ErrorHandler() { Clear(); }

void ErrorHandler::Clear() {
  for (ErrorRecord* record : messages_) delete record;
  messages_.clear();
}

bool ErrorHandler::Report(const Vak::PString& text, Container* container, Tag* tag, int32_t severity) {
  const bool owned = container || tag;
  for (const ErrorRecord* record : messages_) {
    if (!(record->text == text)) continue;
    // An owner repeats only in its own role; a report without owner repeats
    // any record of the same text.
    if (!owned) return false;
    if (container && record->container == container) return false;
    if (tag && record->tag == tag) return false;
  }
  std::string line = Prefix(severity).c_str();
  line += text.c_str();
  if (echo_) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  }
  auto* record = new ErrorRecord;
  record->container = container;
  record->tag = tag;
  record->text = text;
  record->severity = severity;
  messages_.push_back(record);
  return true;
}

bool ErrorHandler::ContainerError(const Vak::PString& text, Container* container) {
  return Report(text, container, nullptr, ErrorRecord::kError);
}
bool ErrorHandler::TagError(const Vak::PString& text, Tag* tag) {
  return Report(text, nullptr, tag, ErrorRecord::kError);
}
bool ErrorHandler::Error(const Vak::PString& text) { return Report(text, nullptr, nullptr, ErrorRecord::kError); }
bool ErrorHandler::ContainerWarning(const Vak::PString& text, Container* container) {
  return Report(text, container, nullptr, ErrorRecord::kWarning);
}
bool ErrorHandler::TagWarning(const Vak::PString& text, Tag* tag) {
  return Report(text, nullptr, tag, ErrorRecord::kWarning);
}
bool ErrorHandler::Warning(const Vak::PString& text) { return Report(text, nullptr, nullptr, ErrorRecord::kWarning); }
bool ErrorHandler::ContainerNote(const Vak::PString& text, Container* container) {
  return Report(text, container, nullptr, ErrorRecord::kNote);
}
bool ErrorHandler::TagNote(const Vak::PString& text, Tag* tag) {
  return Report(text, nullptr, tag, ErrorRecord::kNote);
}
bool ErrorHandler::Note(const Vak::PString& text) { return Report(text, nullptr, nullptr, ErrorRecord::kNote); }

bool ErrorHandler::Trace(const char*, const char*) { return true; }
bool ErrorHandler::TraceDetail(const char*, const char*) { return true; }

bool ErrorHandler::HasNoMessage(const Vak::PString& text) {
  return std::none_of(messages_.begin(), messages_.end(), [&](const ErrorRecord* r) { return r->text == text; });
}

void ErrorHandler::AssignMessages(const MessageList& messages) {
  if (&messages == &messages_) return;
  messages_ = messages;
}

void ErrorHandler::SetEcho(bool echo) { echo_ = echo; }

void ErrorHandler::RemoveTagMessage(Tag* tag) {
  // Null owns nothing: it would pick the first record of a container.
  if (!tag) return;
  auto it = std::find_if(messages_.begin(), messages_.end(), [&](const ErrorRecord* r) { return r->tag == tag; });
  if (it == messages_.end()) return;
  delete *it;
  messages_.erase(it);
}

void ErrorHandler::RemoveContainerMessage(Container* container) {
  if (!container) return;
  auto it = std::find_if(messages_.begin(), messages_.end(),
                         [&](const ErrorRecord* r) { return r->container == container; });
  if (it == messages_.end()) return;
  delete *it;
  messages_.erase(it);
}

const ErrorHandler::MessageList& ErrorHandler::GetMessages() { return messages_; }

} // namespace RUZLib
