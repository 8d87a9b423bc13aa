#pragma once
// The kernel's text value. One pointer wide; copies share a heap block whose
// reference count changes with interlocked operations, and a writer copies the
// block first when it is shared. Text is 8-bit (Windows-1252).
//
// Block layout (from Vak::Alloc): {int32 count, uint32 capacity, uint32 length}
// then `capacity` text bytes, zero-terminated at `length`. The handle points at
// the capacity field. Capacity 0 marks the static shared empty block, which is
// never freed (nor counted); comparisons treat it as "no text", unlike an owned
// empty text. Texts carved by a StringArena count down from kCarvedBase.
//
// Threads: copies of one string may be made, written and released on any
// thread; one string object must not be written by two threads at once.
#include <cstdarg>
#include <cstddef>
#include <climits>
#include <cstdint>

namespace Vak {

class PString;

class String {
public:
  String() noexcept;
  String(const String& other) noexcept;
  String(String&& other) noexcept;  // leaves `other` on the shared empty block
  String(const char* text);         // null: the shared empty block
  // At most the first n characters (stops at a terminator); n = ~0u: whole text.
  String(const char* text, unsigned n);
  String(const PString& text);      // null interned string: the shared empty block
  ~String();

  String& operator=(const String& other) noexcept;
  String& operator=(String&& other) noexcept;
  String& operator=(const char* text);  // null: the shared empty block
  String& operator=(const PString& text);

  operator const char*() const noexcept { return Text(); }
  unsigned Size() const noexcept { return Head()->length; }
  // Text bytes of the block, terminator included; 0 for the shared empty block.
  unsigned Capacity() const noexcept { return Head()->capacity; }
  // References to the block (diagnostics and tests).
  int32_t RefCount() const noexcept;

  // Capacity requested for a text of `length` characters: the smallest multiple
  // of 16 that is at least length + 2 (growth in 16-byte steps).
  static constexpr unsigned CapacityFor(unsigned length) { return ((length + 17u) >> 4) << 4; }
  // Longest text a block holds; longer requests throw std::length_error.
  static constexpr unsigned kMaxLength = 0xFFFFFF00u;

protected:
  struct Block {
    int32_t count;
    uint32_t capacity;
    uint32_t length;
    // text follows
    char* Text() noexcept { return reinterpret_cast<char*>(this + 1); }
  };
  struct EmptyStorage;
  static EmptyStorage empty_;

  Block* Head() const noexcept {
    return reinterpret_cast<Block*>(reinterpret_cast<char*>(handle_) - offsetof(Block, capacity));
  }
  const char* Text() const noexcept { return Head()->Text(); }
  char* MutableText() noexcept { return Head()->Text(); }
  bool IsSharedEmpty() const noexcept;

  // Makes the block writable with at least `capacity` bytes. With `keep` the
  // text survives (and the capacity does not shrink); without it the length is 0.
  void Reserve(unsigned capacity, bool keep);
  void Release() noexcept;            // drops this handle's reference
  void MakeEmpty() noexcept;          // release, then the shared empty block
  void SetText(const char* text, std::size_t length);  // null: MakeEmpty
  void InsertText(const char* text, std::size_t length, unsigned position);
  // True when `p` lies inside this string's own block (its text may move).
  bool PointsIntoBlock(const char* p) const noexcept;

private:
  friend class StringArena;
  // The count of a block carved by a StringArena, less its references: such
  // a block goes back to its arena, not to the allocator.
  static constexpr int32_t kCarvedBase = INT32_MIN / 2;

  static uint32_t* HandleOf(Block* block) noexcept { return &block->capacity; }
  static Block* NewBlock(unsigned capacity);

  uint32_t* handle_;
};

// Many texts made at once (a loaded file's fields) carved one after another
// from a few large blocks instead of one heap block each. Each text is an
// ordinary String to its users (a writer copies it first); a large block goes
// back to the heap when the last text carved from it is released, on
// whichever thread, so the arena may go before its texts.
class StringArena {
public:
  StringArena() = default;
  ~StringArena();
  StringArena(const StringArena&) = delete;
  StringArena& operator=(const StringArena&) = delete;

  // At most the first n characters (stops at a terminator), as String(text, n).
  String Make(const char* text, unsigned n);

  // Called by String when a carved text's last reference goes.
  static void Drop(void* block) noexcept;

private:
  struct Chunk;
  Chunk* chunk_ = nullptr;
  char* next_ = nullptr;
  char* end_ = nullptr;
};

// The editing interface over the same one-pointer representation.
class AnsiString : public String {
public:
  enum CompareResult { Less = 0, Equal = 1, Greater = 2 };

  AnsiString() noexcept = default;
  AnsiString(const String& other) noexcept : String(other) {}
  AnsiString(String&& other) noexcept : String(static_cast<String&&>(other)) {}
  AnsiString(const char* text) : String(text) {}
  AnsiString(const char* text, unsigned n) : String(text, n) {}
  AnsiString(const PString& text) : String(text) {}

  AnsiString& operator=(const String& other) noexcept { String::operator=(other); return *this; }
  AnsiString& operator=(String&& other) noexcept { String::operator=(static_cast<String&&>(other)); return *this; }
  AnsiString& operator=(const char* text) { String::operator=(text); return *this; }
  AnsiString& operator=(const PString& text) { String::operator=(text); return *this; }

  // Formatted text; an empty result leaves the shared empty block.
  void Set(const char* format, va_list args) __attribute__((format(printf, 2, 0)));
  void Setf(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // Appends formatted text; returns the characters added (0 when none).
  unsigned Add(const char* format, va_list args) __attribute__((format(printf, 2, 0)));
  unsigned Addf(const char* format, ...) __attribute__((format(printf, 2, 3)));

  // Appending or inserting the string's own text (or a part of it) is safe.
  AnsiString& operator+=(const String& other);
  AnsiString& operator+=(const char* text);
  // Nothing happens for a null or empty text or a position beyond the length.
  void Insert(const char* text, unsigned position);
  // Deletes up to `count` characters at `position`; nothing when position >= length.
  void Del(unsigned position, unsigned count);
  // At most the first n characters of `text` (stops at its terminator).
  void AssignLeft(const char* text, unsigned n);
  // Removes every character that occurs in `set`.
  void RemoveChars(const char* set);
  // Splits off the first run of non-separators after leading separators; the
  // string keeps the rest, starting with the separator that ended the token.
  AnsiString Token(const char* separators);

  // Index of the byte (low 8 bits of `character`) at or after start; -1 if
  // absent or start >= length.
  int Find(unsigned character, unsigned start) const;
  // Index of the first occurrence of `text` at or after start; -1 if absent,
  // for a null or empty text, or start >= length.
  int Find(const char* text, unsigned start) const;
  // Case-insensitive search in the first textLength bytes of `text` (which may
  // hold zeros); -1 if absent, for null pointers or an empty pattern.
  static int FindIgnoreCase(const char* text, unsigned textLength, const char* pattern, unsigned patternLength);
  static int FindIgnoreCase(const char* text, unsigned textLength, unsigned character);

  // Case folding in place through the Windows-1252 table.
  void ToLower();
  void ToUpper();
  // The first or last min(n, length) characters as a new string.
  AnsiString Left(unsigned n) const;
  AnsiString Right(unsigned n) const;
  // Converts UTF-16 to Windows-1252 ('?' for characters it lacks); length -1:
  // zero-terminated; null: the shared empty block. Stops at an embedded zero.
  void SetUnicode(const char16_t* text, int length);

  // The shared empty block is less than any text and equal only to itself (or
  // to a null text); otherwise unsigned bytes, or case-folded through the table.
  CompareResult CompareWith(const char* text) const;
  CompareResult CompareWith(const String& other) const;
  CompareResult CompareWithIgnoreCase(const String& other) const;
  CompareResult CompareWithIgnoreCase(const char* text) const;
  bool EqualsIgnoreCase(const String& other) const { return CompareWithIgnoreCase(other) == Equal; }
  bool EqualsIgnoreCase(const char* text) const { return CompareWithIgnoreCase(text) == Equal; }

private:
  // Rewrites every byte through `map` (copying a shared block first).
  void MapBytes(unsigned char (*map)(unsigned char));
};

// Byte comparison yields (not) equal, with the shared-empty rule above.
bool operator==(const String& a, const String& b);
bool operator==(const String& a, const char* b);
bool operator!=(const String& a, const String& b);
bool operator!=(const String& a, const char* b);

// A shared copy of `a` with `b` appended.
String operator+(const String& a, const char* b);
String operator+(const String& a, const String& b);

// Formats into `buffer` of `size` bytes, cut to size - 1 characters and always
// terminated (size 0 writes nothing). Returns the length the whole text would
// have, so a result >= size means it was cut; negative on a format error.
int Snprintf(char* buffer, std::size_t size, const char* format, ...) __attribute__((format(printf, 3, 4)));
int Vsnprintf(char* buffer, std::size_t size, const char* format, va_list args) __attribute__((format(printf, 3, 0)));

// Sprintf takes only arrays, whose size bounds the output as in Snprintf.
template <std::size_t N>
__attribute__((format(printf, 2, 3))) int Sprintf(char (&buffer)[N], const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = Vsnprintf(buffer, N, format, args);
  va_end(args);
  return n;
}

} // namespace Vak
