#include "Vak/Bexlorn/String.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>

#include "Vak/Bexlorn/Alloc.h"
#include "Vak/Bexlorn/CodePage.h"
#include "Vak/Bexlorn/FormatBuffer.h"
#include "Vak/Bexlorn/PString.h"
#include "platform/os/Atomic.h"

namespace Vak {

static_assert(String::CapacityFor(0) == 16 && String::CapacityFor(14) == 16 && String::CapacityFor(15) == 32);
static_assert(String::CapacityFor(String::kMaxLength) >= String::kMaxLength + 2);
static_assert(String::CapacityFor(String::kMaxLength) <= 0xFFFFFFFFu - 12u);

// Constant-initialised, so strings built by other static initialisers find it.
struct alignas(16) String::EmptyStorage {
  Block block;
  char text[4];
};
constinit String::EmptyStorage String::empty_ = {{1, 0, 0}, {0, 0, 0, 0}};

namespace {

unsigned CheckedLength(std::size_t length) {
  if (length > String::kMaxLength) throw std::length_error("Vak::String: text too long");
  return static_cast<unsigned>(length);
}

AnsiString::CompareResult ToResult(int r) {
  return r < 0 ? AnsiString::Less : r == 0 ? AnsiString::Equal : AnsiString::Greater;
}

// `b` null stands for the shared empty block as well as a null text.
AnsiString::CompareResult CompareTexts(const String& a, const char* b, bool ignoreCase) {
  if (a.Capacity() == 0) return b == nullptr ? AnsiString::Equal : AnsiString::Less;
  if (b == nullptr) return AnsiString::Greater;
  return ToResult(ignoreCase ? CodePage::CompareIgnoreCase(a, b) : std::strcmp(a, b));
}

const char* TextOrNull(const String& s) { return s.Capacity() == 0 ? nullptr : static_cast<const char*>(s); }

} // namespace

// ---- String ----------------------------------------------------------------

// The shared empty block is never freed, so its count is not kept up: most
// strings start empty, and the count's cache line is every thread's.
String::String() noexcept : handle_(HandleOf(&empty_.block)) {}

String::String(const String& other) noexcept : handle_(other.handle_) {
  if (!IsSharedEmpty()) platform::AtomicIncrement(Head()->count);
}

String::String(String&& other) noexcept : handle_(other.handle_) { other.handle_ = HandleOf(&empty_.block); }

String::String(const char* text) : String() {
  if (text != nullptr) SetText(text, std::strlen(text));
}

String::String(const char* text, unsigned n) : String() {
  if (text != nullptr) SetText(text, strnlen(text, n));
}

String::String(const PString& text) : String() {
  if (!text.IsNull()) SetText(text.c_str(), text.Length());
}

String::~String() { Release(); }

String& String::operator=(const String& other) noexcept {
  // Reference first, so self-assignment never frees the block.
  if (!other.IsSharedEmpty()) platform::AtomicIncrement(other.Head()->count);
  Release();
  handle_ = other.handle_;
  return *this;
}

String& String::operator=(String&& other) noexcept {
  if (this != &other) {
    Release();
    handle_ = other.handle_;
    other.handle_ = HandleOf(&empty_.block);
  }
  return *this;
}

String& String::operator=(const char* text) {
  if (text == nullptr) MakeEmpty();
  else SetText(text, std::strlen(text));
  return *this;
}

String& String::operator=(const PString& text) {
  if (text.IsNull()) MakeEmpty();
  else SetText(text.c_str(), text.Length());
  return *this;
}

int32_t String::RefCount() const noexcept {
  const int32_t count = platform::AtomicLoad(Head()->count);
  return count < 0 && !IsSharedEmpty() ? count - kCarvedBase : count;
}

bool String::IsSharedEmpty() const noexcept { return Head() == &empty_.block; }

String::Block* String::NewBlock(unsigned capacity) {
  static_assert(offsetof(Block, capacity) == 4 && offsetof(Block, length) == 8);
  static_assert(sizeof(Block) == 12, "text starts two words after the handle");
  void* memory = Alloc::New(static_cast<unsigned>(sizeof(Block)) + capacity);
  Block* block = new (memory) Block{1, capacity, 0};
  block->Text()[0] = '\0';
  return block;
}

void String::Release() noexcept {
  Block* block = Head();
  if (block == &empty_.block) return;  // never freed, whatever its count says
  const int32_t left = platform::AtomicDecrement(block->count);
  if (left == 0) Alloc::Delete(block);
  else if (left == kCarvedBase) StringArena::Drop(block);
}

void String::MakeEmpty() noexcept {
  Release();
  handle_ = HandleOf(&empty_.block);
}

void String::Reserve(unsigned capacity, bool keep) {
  Block* old = Head();
  if (old->capacity != 0 && old->capacity >= capacity && platform::AtomicLoad(old->count) == 1) {
    if (!keep) {
      old->length = 0;
      old->Text()[0] = '\0';
    }
    return;
  }
  Block* block = NewBlock(keep && old->capacity > capacity ? old->capacity : capacity);
  if (keep) {
    block->length = old->length;
    std::memcpy(block->Text(), old->Text(), old->length + 1);
  }
  Release();
  handle_ = HandleOf(block);
}

bool String::PointsIntoBlock(const char* p) const noexcept {
  std::less_equal<const void*> le;
  std::less<const void*> lt;
  const char* begin = reinterpret_cast<const char*>(Head());
  return le(begin, p) && lt(p, Text() + Head()->capacity);
}

void String::SetText(const char* text, std::size_t length) {
  if (text == nullptr) {
    MakeEmpty();
    return;
  }
  unsigned n = CheckedLength(length);
  // A source inside our own block stays alive (and unmoved) through this copy.
  String hold;
  if (PointsIntoBlock(text)) hold = *this;
  Reserve(CapacityFor(n), false);
  Block* block = Head();
  std::memcpy(block->Text(), text, n);
  block->Text()[n] = '\0';
  block->length = n;
}

void String::InsertText(const char* text, std::size_t length, unsigned position) {
  unsigned old = Size();
  if (text == nullptr || length == 0 || position > old) return;
  if (length > kMaxLength - old) throw std::length_error("Vak::String: text too long");
  unsigned n = static_cast<unsigned>(length);
  String hold;
  if (PointsIntoBlock(text)) hold = *this;
  Reserve(CapacityFor(old + n), true);
  Block* block = Head();
  char* t = block->Text();
  std::memmove(t + position + n, t + position, old - position + 1);
  std::memcpy(t + position, text, n);
  block->length = old + n;
}

// ---- StringArena ------------------------------------------------------------

// Each carved text is [owning chunk][block][text and terminator], 8-byte
// aligned; the chunk counts its texts and the arena's hold on it.
struct StringArena::Chunk {
  std::atomic<int64_t> live{1};
};

namespace {

constexpr std::size_t kArenaChunkBytes = std::size_t{1} << 20;
constexpr std::size_t kOwnerBytes = sizeof(void*);

std::size_t CarvedBytes(unsigned length) { return (kOwnerBytes + 12 + length + 1 + 7) & ~std::size_t{7}; }

void DropChunk(std::atomic<int64_t>& live, void* chunk) noexcept {
  if (live.fetch_sub(1, std::memory_order_acq_rel) == 1) std::free(chunk);
}

} // namespace

StringArena::~StringArena() {
  if (chunk_) DropChunk(chunk_->live, chunk_);
}

String StringArena::Make(const char* text, unsigned n) {
  if (text == nullptr) return String();
  const unsigned length = CheckedLength(strnlen(text, n));
  if (length == 0) return String(text, 0);
  const std::size_t bytes = CarvedBytes(length);
  if (static_cast<std::size_t>(end_ - next_) < bytes) {
    const std::size_t size = std::max(kArenaChunkBytes, sizeof(Chunk) + 8 + bytes);
    void* memory = std::malloc(size);
    if (!memory) throw std::bad_alloc();
    if (chunk_) DropChunk(chunk_->live, chunk_);
    chunk_ = new (memory) Chunk;
    next_ = static_cast<char*>(memory) + ((sizeof(Chunk) + 7) & ~std::size_t{7});
    end_ = static_cast<char*>(memory) + size;
  }
  char* at = next_;
  next_ += bytes;
  chunk_->live.fetch_add(1, std::memory_order_relaxed);
  std::memcpy(at, &chunk_, kOwnerBytes);
  String::Block* block = new (at + kOwnerBytes) String::Block{String::kCarvedBase + 1, length + 1, length};
  std::memcpy(block->Text(), text, length);
  block->Text()[length] = '\0';
  String out;
  out.Release();
  out.handle_ = String::HandleOf(block);
  return out;
}

void StringArena::Drop(void* block) noexcept {
  Chunk* chunk;
  std::memcpy(&chunk, static_cast<char*>(block) - kOwnerBytes, kOwnerBytes);
  DropChunk(chunk->live, chunk);
}

// ---- AnsiString --------------------------------------------------------------

void AnsiString::Set(const char* format, va_list args) {
  FormatBuffer buffer(format, args);
  if (buffer.Length() == 0) MakeEmpty();
  else SetText(buffer.Text(), buffer.Length());
}

void AnsiString::Setf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  Set(format, args);
  va_end(args);
}

unsigned AnsiString::Add(const char* format, va_list args) {
  FormatBuffer buffer(format, args);
  if (buffer.Length() > 0) InsertText(buffer.Text(), buffer.Length(), Size());
  return buffer.Length();
}

unsigned AnsiString::Addf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  unsigned n = Add(format, args);
  va_end(args);
  return n;
}

AnsiString& AnsiString::operator+=(const String& other) {
  InsertText(other, other.Size(), Size());
  return *this;
}

AnsiString& AnsiString::operator+=(const char* text) {
  if (text != nullptr) InsertText(text, std::strlen(text), Size());
  return *this;
}

void AnsiString::Insert(const char* text, unsigned position) {
  if (text != nullptr) InsertText(text, std::strlen(text), position);
}

void AnsiString::Del(unsigned position, unsigned count) {
  unsigned length = Size();
  if (count == 0 || position >= length) return;
  Reserve(Capacity(), true);
  Block* block = Head();
  char* t = block->Text();
  if (count >= length - position) {
    t[position] = '\0';
    block->length = position;
  } else {
    std::memmove(t + position, t + position + count, length - position - count + 1);
    block->length = length - count;
  }
}

void AnsiString::AssignLeft(const char* text, unsigned n) {
  if (text == nullptr) MakeEmpty();
  else SetText(text, strnlen(text, n));
}

void AnsiString::RemoveChars(const char* set) {
  if (set == nullptr || *set == '\0' || Size() == 0) return;
  Reserve(Capacity(), true);
  Block* block = Head();
  char* t = block->Text();
  unsigned kept = 0;
  for (unsigned i = 0; i < block->length; ++i) {
    if (std::strchr(set, t[i]) == nullptr) t[kept++] = t[i];
  }
  t[kept] = '\0';
  block->length = kept;
}

AnsiString AnsiString::Token(const char* separators) {
  AnsiString token;
  if (separators == nullptr) separators = "";
  const char* t = Text();
  std::size_t start = std::strspn(t, separators);
  std::size_t end = start + std::strcspn(t + start, separators);
  if (end != start) token = AnsiString(t + start, static_cast<unsigned>(end - start));
  if (end != 0) Del(0, static_cast<unsigned>(end));
  return token;
}

int AnsiString::Find(unsigned character, unsigned start) const {
  unsigned length = Size();
  if (Capacity() == 0 || start >= length) return -1;
  const char* t = Text();
  const void* hit = std::memchr(t + start, static_cast<unsigned char>(character), length - start);
  return hit == nullptr ? -1 : static_cast<int>(static_cast<const char*>(hit) - t);
}

int AnsiString::Find(const char* text, unsigned start) const {
  unsigned length = Size();
  if (text == nullptr || *text == '\0' || start >= length) return -1;
  std::string_view haystack(Text(), length);
  std::size_t at = haystack.find(text, start);
  return at == std::string_view::npos ? -1 : static_cast<int>(at);
}

int AnsiString::FindIgnoreCase(const char* text, unsigned textLength, const char* pattern, unsigned patternLength) {
  if (text == nullptr || pattern == nullptr || patternLength == 0 || patternLength > textLength) return -1;
  for (unsigned i = 0; i + patternLength <= textLength; ++i) {
    unsigned j = 0;
    while (j < patternLength && CodePage::ToLower(static_cast<unsigned char>(text[i + j])) ==
                                    CodePage::ToLower(static_cast<unsigned char>(pattern[j])))
      ++j;
    if (j == patternLength) return static_cast<int>(i);
  }
  return -1;
}

int AnsiString::FindIgnoreCase(const char* text, unsigned textLength, unsigned character) {
  if (text == nullptr) return -1;
  unsigned char c = CodePage::ToLower(static_cast<unsigned char>(character));
  for (unsigned i = 0; i < textLength; ++i) {
    if (CodePage::ToLower(static_cast<unsigned char>(text[i])) == c) return static_cast<int>(i);
  }
  return -1;
}

void AnsiString::MapBytes(unsigned char (*map)(unsigned char)) {
  if (Size() == 0) return;
  Reserve(Capacity(), true);
  Block* block = Head();
  char* t = block->Text();
  for (unsigned i = 0; i < block->length; ++i) t[i] = static_cast<char>(map(static_cast<unsigned char>(t[i])));
}

void AnsiString::ToLower() { MapBytes(&CodePage::ToLower); }

void AnsiString::ToUpper() { MapBytes(&CodePage::ToUpper); }

AnsiString AnsiString::Left(unsigned n) const {
  if (n >= Size()) return *this;
  return AnsiString(Text(), n);
}

AnsiString AnsiString::Right(unsigned n) const {
  unsigned length = Size();
  if (n >= length) return *this;
  return AnsiString(Text() + (length - n), n);
}

void AnsiString::SetUnicode(const char16_t* text, int length) {
  if (text == nullptr) {
    MakeEmpty();
    return;
  }
  std::size_t n = length < 0 ? std::char_traits<char16_t>::length(text) : static_cast<std::size_t>(length);
  std::string converted;
  CodePage::Utf16ToAnsi(text, n, converted, '?');
  SetText(converted.c_str(), std::strlen(converted.c_str()));
}

AnsiString::CompareResult AnsiString::CompareWith(const char* text) const { return CompareTexts(*this, text, false); }

AnsiString::CompareResult AnsiString::CompareWith(const String& other) const {
  return CompareTexts(*this, TextOrNull(other), false);
}

AnsiString::CompareResult AnsiString::CompareWithIgnoreCase(const String& other) const {
  return CompareTexts(*this, TextOrNull(other), true);
}

AnsiString::CompareResult AnsiString::CompareWithIgnoreCase(const char* text) const {
  return CompareTexts(*this, text, true);
}

// ---- free functions ------------------------------------------------------------

bool operator==(const String& a, const String& b) { return CompareTexts(a, TextOrNull(b), false) == AnsiString::Equal; }
bool operator==(const String& a, const char* b) { return CompareTexts(a, b, false) == AnsiString::Equal; }
bool operator!=(const String& a, const String& b) { return !(a == b); }
bool operator!=(const String& a, const char* b) { return !(a == b); }

String operator+(const String& a, const char* b) {
  AnsiString result(a);
  result += b;
  return result;
}

String operator+(const String& a, const String& b) {
  AnsiString result(a);
  result += b;
  return result;
}

int Vsnprintf(char* buffer, std::size_t size, const char* format, va_list args) {
  if (buffer == nullptr || size == 0) return format == nullptr ? 0 : std::vsnprintf(nullptr, 0, format, args);
  if (format == nullptr) {
    buffer[0] = '\0';
    return 0;
  }
  int n = std::vsnprintf(buffer, size, format, args);
  if (n < 0) buffer[0] = '\0';
  return n;
}

int Snprintf(char* buffer, std::size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = Vsnprintf(buffer, size, format, args);
  va_end(args);
  return n;
}

} // namespace Vak
