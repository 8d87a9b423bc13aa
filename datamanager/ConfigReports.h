#pragma once
// How the config model reports: a string-table entry formatted with its
// arguments, handed to the error handler in the owner's role. Nothing is
// recorded while the process has no error handler.
#include "datamanager/DataManager.h"
#include "datamanager/ErrorHandler.h"

namespace RUZLib::Report {

template <typename... Args>
bool TagError(Tag* tag, Msg id, const Args&... args) {
  ErrorHandler* handler = ErrorHandler::Instance();
  return handler && handler->TagError(DataManager::Instance()->Format(id, args...), tag);
}
template <typename... Args>
bool TagWarning(Tag* tag, Msg id, const Args&... args) {
  ErrorHandler* handler = ErrorHandler::Instance();
  return handler && handler->TagWarning(DataManager::Instance()->Format(id, args...), tag);
}
template <typename... Args>
bool ContainerError(Container* container, Msg id, const Args&... args) {
  ErrorHandler* handler = ErrorHandler::Instance();
  return handler && handler->ContainerError(DataManager::Instance()->Format(id, args...), container);
}
template <typename... Args>
bool Error(Msg id, const Args&... args) {
  ErrorHandler* handler = ErrorHandler::Instance();
  return handler && handler->Error(DataManager::Instance()->Format(id, args...));
}
template <typename... Args>
bool Warning(Msg id, const Args&... args) {
  ErrorHandler* handler = ErrorHandler::Instance();
  return handler && handler->Warning(DataManager::Instance()->Format(id, args...));
}
inline void Trace(const char* text, const Vak::PString& argument) {
  if (ErrorHandler* handler = ErrorHandler::Instance()) handler->Trace(text, argument.c_str());
}

} // namespace RUZLib::Report
