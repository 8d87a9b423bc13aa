#include "content/NuMessage.h"

const Vak::PString& NuMessageListUpdated() {
  static const Vak::PString name("list-updated");
  return name;
}

const Vak::PString& NuMessageListDestroyed() {
  static const Vak::PString name("list-destroyed");
  return name;
}

const Vak::PString& NuMessagePipeClosed() {
  static const Vak::PString name("pipe-closed");
  return name;
}

int NuMessageRecipient::ReceiveMessage(NuMessageData& message) {
  NuMessageRecipient* target = GetTarget();
  return target ? target->ReceiveMessage(message) : 1;
}

NuMessageRecipient::~NuMessageRecipient() {
  // Each Close unlinks its pipe, so the list shrinks until it is empty.
  while (head_) head_->Close();
}

void NuMessageRecipient::SendToPipes(NuMessageData& message) {
  NuMessagePipe* pipe = head_;
  while (pipe) {
    // Taken first: the receiver may unlink or delete the pipe it hears through.
    NuMessagePipe* next = pipe->GetNext();
    if (NuMessageRecipient* receiver = pipe->GetReceiver()) receiver->ReceiveMessage(message);
    pipe = next;
  }
}

NuMessagePipe::NuMessagePipe(NuMessageRecipient* source, NuMessageRecipient* receiver)
    : source_(source), receiver_(receiver) {
  if (!source) return;
  list_ = source;
  next_ = source->head_;
  if (next_) {
    next_->previous_ = this;
  } else {
    source->tail_ = this;
  }
  source->head_ = this;
}

NuMessagePipe::~NuMessagePipe() { Close(); }

void NuMessagePipe::Unlink() {
  if (!list_) return;
  if (previous_) {
    previous_->next_ = next_;
  } else {
    list_->head_ = next_;
  }
  if (next_) {
    next_->previous_ = previous_;
  } else {
    list_->tail_ = previous_;
  }
  previous_ = nullptr;
  next_ = nullptr;
  list_ = nullptr;
}

void NuMessagePipe::Close() {
  NuMessageRecipient* source = source_;
  source_ = nullptr;
  Unlink();
  if (source) {
    NuMessageData message(NuMessagePipeClosed(), receiver_);
    source->ReceiveMessage(message);
  }
}
