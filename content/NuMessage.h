#pragma once
// A small message system: recipients receive named messages, and pipes tie
// a sending recipient (the source) to a receiving one. The source keeps its
// pipes in an intrusive list; the receiving side creates and owns each pipe.
//
// Not locked: a source that sends from several threads links, closes and
// sends under its own lock (ResultsLog does).
#include "Vak/Bexlorn/PString.h"

class NuMessagePipe;

class NuMessageData {
public:
  NuMessageData(const Vak::PString& name, void* data) : name_(name), data_(data) {}
  virtual ~NuMessageData() = default;

  const Vak::PString& GetName() const { return name_; }
  // The sending log, or a pipe's receiver.
  void* GetData() const { return data_; }

private:
  Vak::PString name_;
  void* data_;
};

// The message names, interned once for the process.
const Vak::PString& NuMessageListUpdated();    // "list-updated"
const Vak::PString& NuMessageListDestroyed();  // "list-destroyed"
const Vak::PString& NuMessagePipeClosed();     // "pipe-closed"

class NuMessageRecipient {
public:
  NuMessageRecipient() = default;
  NuMessageRecipient(const NuMessageRecipient&) = delete;
  NuMessageRecipient& operator=(const NuMessageRecipient&) = delete;

  // Where messages are forwarded; none here.
  virtual NuMessageRecipient* GetTarget() { return nullptr; }
  // The target's answer when there is a target; otherwise 1.
  virtual int ReceiveMessage(NuMessageData& message);
  // Closes every pipe whose source this is.
  virtual ~NuMessageRecipient();

  // Hands the message to the receiver of every pipe, from the front of the
  // list. A receiver may close or delete the pipe it is called through.
  void SendToPipes(NuMessageData& message);

  NuMessagePipe* FirstPipe() const { return head_; }

private:
  friend class NuMessagePipe;
  NuMessagePipe* head_ = nullptr;
  NuMessagePipe* tail_ = nullptr;
};

class NuMessagePipe {
public:
  // Linked at the front of the source's list.
  NuMessagePipe(NuMessageRecipient* source, NuMessageRecipient* receiver);
  // Closes the pipe when still open, so a pipe never outlives its link.
  ~NuMessagePipe();
  NuMessagePipe(const NuMessagePipe&) = delete;
  NuMessagePipe& operator=(const NuMessagePipe&) = delete;

  // Unlinks the pipe and clears its source; the source, when there was one,
  // gets "pipe-closed" with the receiver as data. Closing twice does nothing.
  void Close();

  NuMessageRecipient* GetSource() const { return source_; }
  NuMessageRecipient* GetReceiver() const { return receiver_; }
  NuMessagePipe* GetNext() const { return next_; }
  NuMessagePipe* GetPrevious() const { return previous_; }
  bool IsLinked() const { return list_ != nullptr; }

private:
  void Unlink();

  NuMessagePipe* previous_ = nullptr;
  NuMessagePipe* next_ = nullptr;
  NuMessageRecipient* list_ = nullptr;  // whose list holds it
  NuMessageRecipient* source_;
  NuMessageRecipient* receiver_;
};
