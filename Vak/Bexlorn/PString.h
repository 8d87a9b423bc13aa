#pragma once
// Interned string: one pointer to a node of the process's PStringCache, or
// null. Equal texts share a node, so equality is a pointer comparison and a
// PString is a cheap map key. Null reads as ""; the text "" has a node of its
// own, distinct from null.
#include <cstdarg>
#include <cstddef>
#include <functional>

#include "Vak/Bexlorn/PStringCache.h"

namespace Vak {

class PString {
public:
  using Node = PStringCache::Node;

  constexpr PString() = default;
  PString(const char* text);  // null gives the null string
  // At most n characters of the text (fewer when it is shorter); a null text
  // gives the null string.
  PString(const char* text, unsigned n);
  PString(const PString& other);
  PString(PString&& other) noexcept : node_(other.node_) { other.node_ = nullptr; }
  ~PString();

  PString& operator=(const PString& other);
  PString& operator=(PString&& other) noexcept;
  PString& operator=(const char* text);

  // The process's cache, created on first use (thread-safe, usable from static
  // initialisers) and never destroyed.
  static PStringCache* cache();

  // For code that works on nodes through the cache's operations: Adopt takes
  // over one reference, Detach hands the string's reference to the caller.
  static PString Adopt(Node* node);
  Node* Detach();

  // Formatted text; an empty result gives the null string.
  void Setf(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // Appends formatted text; returns the characters added.
  unsigned Add(const char* format, va_list args) __attribute__((format(printf, 2, 0)));
  unsigned Addf(const char* format, ...) __attribute__((format(printf, 2, 3)));

  // Null sorts first; otherwise unsigned byte order of the texts.
  bool operator<(const PString& other) const;
  // Case-insensitive, -1/0/1. Null equals a null or empty text.
  int Compare(const char* text) const;
  // Null equals only null.
  bool EqualsIgnoreCase(const PString& other) const;
  // Without regard to case. The null string equals only a null pointer, and a
  // null pointer equals only the null string ("" is not null).
  bool EqualsIgnoreCase(const char* text) const;

  // Replace the string by the cache's lower-/upper-case node.
  void ToLower();
  void ToUpper();
  // Keep the first / last n characters; nothing when n is not below the length.
  void Left(unsigned n);
  void Right(unsigned n);

  const char* c_str() const { return node_ ? node_->text : ""; }
  unsigned Length() const { return node_ ? node_->length : 0; }
  Node* GetNode() const { return node_; }
  bool IsNull() const { return node_ == nullptr; }
  bool operator==(const PString& other) const { return node_ == other.node_; }

private:
  static void Release(Node* node);

  Node* node_ = nullptr;
};

// The left side with the right side appended; a null or empty right side
// appends nothing.
PString operator+(const PString& left, const char* right);
PString operator+(const PString& left, const PString& right);

// The interned strings that kernel start-up assigns and shutdown releases.
class PredefinedStrings {
public:
  static constexpr unsigned kCount = 21;
  static constexpr const char* kTexts[kCount] = {
      "OnMinZoom",      "OnMaxZoom",        "OnMinPitch",       "OnMaxPitch",     "OnMinYaw",
      "OnMaxYaw",       "OnMinRoll",        "OnMaxRoll",        "OnMinTargetPitch", "OnMaxTargetPitch",
      "OnMinTargetYaw", "OnMaxTargetYaw",   "undefined",        "default",        "MCP",
      "NULL",           "BaseLandscape",    "Sky",              "Main_void",      "UserInterface",
      "",
  };

  static void Assign();   // interns the texts in order
  static void Release();  // makes them null again
  // The string of a text of kTexts (null outside Assign .. Release).
  static const PString& Get(unsigned index);
};

} // namespace Vak

template <>
struct std::hash<Vak::PString> {
  size_t operator()(const Vak::PString& s) const noexcept { return std::hash<const void*>()(s.GetNode()); }
};
