#pragma once
// The chunk tree's node interface, its value bytes and value converters.
//
// Counted chunks travel as ACSChunkPtr (content/ACSChunkPtr.h): a slot that
// takes one by value consumes that reference, a slot that returns one hands a
// reference to the caller. Value bytes travel as ACSRawDataPtr handles that
// the receiver copies.
#include <cstddef>
#include <cstdint>

#include "Vak/Bexlorn/PString.h"
#include "content/ReferenceCountMP.h"

class ACSChunk;
class ACSChunkPtr;
class ACSRawDataPtr;

// Value types; the numbers are stored by both file forms.
enum ACSValueType : int32_t {
  kACSEmpty = 0,      // no value
  kACSContainer = 1,  // children, no value
  kACSRaw = 2,        // any bytes
  kACSFloat = 3,      // n x float32
  kACSText = 4,       // UTF-8 text plus one NUL, the NUL counted
  kACSText5 = 5,      // unnamed; the binary file stores it like text
  kACSInt = 6,        // n x int32
  kACSKUID = 7,       // packed word, then content id
};

// Shared, counted value bytes: either a heap block of its own or a view into
// a chunk's storage, kept alive by holding that chunk.
class ACSRawDataCore : public ReferenceCountMP {
public:
  ~ACSRawDataCore() override;

  // Adopts `bytes` (from Vak::Alloc::New); null handle for 0 bytes or null.
  static ACSRawDataPtr Create(uint32_t count, void* bytes);
  // A copy in a block of its own; null handle for 0 bytes or null.
  static ACSRawDataPtr CreateCopy(uint32_t count, const void* bytes);
  // A view of the chunk's value bytes, holding the chunk; null handle when
  // the chunk has none.
  static ACSRawDataPtr FromChunk(ACSChunk* chunk);

  const uint8_t* Data() const { return bytes_; }
  uint32_t Size() const { return count_; }
  bool Owns() const { return owns_ != 0; }

private:
  ACSRawDataCore(uint8_t* bytes, uint32_t count, bool owns) : bytes_(bytes), count_(count), owns_(owns ? 1 : 0) {}

  uint8_t* bytes_;
  uint32_t count_;
  uint8_t owns_;
  MPHandle owner_;  // the ACSChunk the bytes point into, or null
};

// An MPHandle known to hold an ACSRawDataCore.
class ACSRawDataPtr : public MPHandle {
public:
  ACSRawDataPtr() = default;
  explicit ACSRawDataPtr(ACSRawDataCore* core) : MPHandle(core) {}

  ACSRawDataCore* Get() const { return static_cast<ACSRawDataCore*>(MPHandle::Get()); }
  ACSRawDataCore* operator->() const { return Get(); }
  // The bytes and their count; null and 0 for a null handle.
  const uint8_t* Data() const { return Get() ? Get()->Data() : nullptr; }
  uint32_t Size() const { return Get() ? Get()->Size() : 0; }
};

// A node of the chunk tree. The base class is itself the shared null chunk:
// no children, no value, type 0, and edits do nothing.
class ACSChunk : public ReferenceCountMP {
public:
  ACSChunk() = default;
  ~ACSChunk() override;

  // Slots in order.
  virtual ACSChunkPtr FindChild(const Vak::PString& name);
  virtual ACSChunkPtr GetChild(const Vak::PString& name);
  virtual int GetChildCount();
  // The empty interned string past the end.
  virtual Vak::PString GetChildName(int index);
  virtual void SortChildren();
  virtual void SwapChildren(ACSChunkPtr a, ACSChunkPtr b);
  virtual void SetChild(const Vak::PString& name, ACSChunkPtr chunk);
  virtual void RemoveChild(ACSChunkPtr chunk);
  virtual ACSChunkPtr CreateChunk(int type, const ACSRawDataPtr& data);
  virtual const uint8_t* GetData();
  virtual uint32_t GetDataSize();
  virtual int GetType();
  virtual void SetValue(int type, const ACSRawDataPtr& data);

  // The process's null chunk, made on first use and kept to the end.
  static ACSChunkPtr GetNull();
  static bool IsNullChunk(const ACSChunk* chunk);
  // The chunk when it is neither null, the null chunk nor of type 0.
  static ACSChunkPtr AsContainer(ACSChunk* chunk);
  // Deep copy of source into destination; value bytes are shared, not copied.
  static void CopyFrom(ACSChunk* destination, ACSChunk* source);
};

// A value converter between two types. The instances register themselves in
// one process-wide list at static initialisation.
class ACSConverter {
public:
  ACSConverter(int from, int to);
  virtual ~ACSConverter();
  ACSConverter(const ACSConverter&) = delete;
  ACSConverter& operator=(const ACSConverter&) = delete;

  // Replaces `output`; a null output means no value.
  virtual void Convert(const ACSRawDataPtr& input, ACSRawDataPtr& output) const = 0;

  // Same type shares the input; otherwise a direct converter, then the first
  // two-step chain in list order; else no value.
  static void Convert(int from, int to, const ACSRawDataPtr& input, ACSRawDataPtr& output);

  int From() const { return from_; }
  int To() const { return to_; }
  // The list, from the converter constructed last.
  static ACSConverter* First();
  ACSConverter* Next() const { return next_; }

private:
  ACSConverter* previous_ = nullptr;
  ACSConverter* next_ = nullptr;
  int from_;
  int to_;
};

// The number test of text values: optional '-', digits with at most one '.',
// then, only after a '.', at most one "e+" or "e-" exponent with digits;
// trailing spaces and tabs allowed. At least one mantissa digit is required.
bool IsNumberText(const char* text);

// Room for any FormatChunkFloat text with its NUL.
constexpr std::size_t kChunkFloatTextMax = 64;
// The text of one float: "%g", except where that would be an exponent form,
// which neither number test reads; then the shortest positional decimal that
// reads back to the same float, always holding a '.' ("0.00001",
// "100000000000000000000.0"). Infinities and NaN stay as "%g" writes them.
// Returns the length written (out must hold kChunkFloatTextMax bytes).
std::size_t FormatChunkFloat(float value, char* out);
