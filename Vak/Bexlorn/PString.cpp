#include "Vak/Bexlorn/PString.h"

#include <array>
#include <cstring>

#include "Vak/Bexlorn/CodePage.h"
#include "Vak/Bexlorn/FormatBuffer.h"

namespace Vak {

namespace {

const unsigned char* Bytes(const char* text) { return reinterpret_cast<const unsigned char*>(text); }

} // namespace

PStringCache* PString::cache() {
  // Deliberately never destroyed: strings held by other statics are released by
  // their destructors at exit, in an order no one controls.
  static PStringCache* const instance = new PStringCache;
  return instance;
}

void PString::Release(Node* node) {
  if (node) cache()->Destroy(node);
}

PString::PString(const char* text) : node_(text ? cache()->Create(Bytes(text)) : nullptr) {}

PString::PString(const char* text, unsigned n)
    : node_(text ? cache()->CreateLimited(text, static_cast<int>(n > PStringCache::kMaxLength ? PStringCache::kMaxLength : n))
                 : nullptr) {}

PString::PString(const PString& other) : node_(other.node_) {
  if (node_) cache()->AddReference(node_);
}

PString::~PString() { Release(node_); }

// The new reference is taken before the old one goes, so assigning a string
// that shares (or is) this one never lets the node's count touch 0.
PString& PString::operator=(const PString& other) {
  Node* old = node_;
  if (other.node_) cache()->AddReference(other.node_);
  node_ = other.node_;
  Release(old);
  return *this;
}

PString& PString::operator=(PString&& other) noexcept {
  if (this != &other) {
    Node* old = node_;
    node_ = other.node_;
    other.node_ = nullptr;
    Release(old);
  }
  return *this;
}

// Interned before the old node is released: the text may be this string's own.
PString& PString::operator=(const char* text) {
  Node* old = node_;
  node_ = text ? cache()->Create(Bytes(text)) : nullptr;
  Release(old);
  return *this;
}

PString PString::Adopt(Node* node) {
  PString s;
  s.node_ = node;
  return s;
}

PString::Node* PString::Detach() {
  Node* node = node_;
  node_ = nullptr;
  return node;
}

void PString::Setf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  // Formatted before the old node goes: the arguments may be this string's text.
  FormatBuffer text(format, args);
  va_end(args);
  Node* old = node_;
  node_ = text.Length() ? cache()->Create(Bytes(text.Text()), text.Length()) : nullptr;
  Release(old);
}

unsigned PString::Add(const char* format, va_list args) {
  FormatBuffer text(format, args);
  if (text.Length() == 0) return 0;
  node_ = cache()->Ins(node_, Bytes(text.Text()), Length());
  return text.Length();
}

unsigned PString::Addf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  unsigned n = Add(format, args);
  va_end(args);
  return n;
}

bool PString::operator<(const PString& other) const {
  if (!node_) return other.node_ != nullptr;
  if (!other.node_ || node_ == other.node_) return false;
  unsigned a = node_->length, b = other.node_->length;
  int r = std::memcmp(node_->text, other.node_->text, a < b ? a : b);
  return r < 0 || (r == 0 && a < b);
}

int PString::Compare(const char* text) const {
  if (!node_) return text && *text ? -1 : 0;
  if (!text) return node_->length ? 1 : 0;
  int r = CodePage::CompareIgnoreCase(node_->text, text);
  return (r > 0) - (r < 0);
}

bool PString::EqualsIgnoreCase(const PString& other) const {
  if (node_ == other.node_) return true;
  if (!node_ || !other.node_ || node_->length != other.node_->length) return false;
  return CodePage::CompareIgnoreCase(node_->text, other.node_->text) == 0;
}

bool PString::EqualsIgnoreCase(const char* text) const {
  if (!node_ || !text) return !node_ && !text;
  return CodePage::CompareIgnoreCase(node_->text, text) == 0;
}

void PString::ToLower() {
  if (node_) node_ = cache()->ToLower(node_);
}

void PString::ToUpper() {
  if (node_) node_ = cache()->ToUpper(node_);
}

void PString::Left(unsigned n) {
  unsigned length = Length();
  if (n < length) node_ = cache()->Del(node_, n, length - n);
}

void PString::Right(unsigned n) {
  unsigned length = Length();
  if (n < length) node_ = cache()->Del(node_, 0, length - n);
}

PString operator+(const PString& left, const char* right) {
  PString result(left);
  if (right && *right) {
    PString::Node* node = result.Detach();
    result = PString::Adopt(PString::cache()->Ins(node, Bytes(right), left.Length()));
  }
  return result;
}

PString operator+(const PString& left, const PString& right) {
  // A copy of the right side keeps its text alive while the left side's node
  // is edited, even when both are the same string.
  PString tail(right);
  return left + (tail.IsNull() ? nullptr : tail.c_str());
}

namespace {

std::array<PString, PredefinedStrings::kCount> gPredefined;

} // namespace

void PredefinedStrings::Assign() {
  for (unsigned i = 0; i < kCount; ++i) gPredefined[i] = kTexts[i];
}

void PredefinedStrings::Release() {
  for (PString& s : gPredefined) s = PString();
}

const PString& PredefinedStrings::Get(unsigned index) { return gPredefined.at(index); }

} // namespace Vak
