#include "content/ACSChunk.h"
#include "Vak/Bexlorn/ByteOrder.h"

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Vak/Bexlorn/Alloc.h"
#include "content/ACSChunkPtr.h"
#include "content/KUID.h"

namespace {

using Vak::GetLE32;
using Vak::PutLE32;

// The text of a type-4 value: its bytes up to the first NUL or the count
// (stored bytes need not hold their NUL).
std::string TextOf(const ACSRawDataPtr& value) {
  const char* p = reinterpret_cast<const char*>(value.Data());
  if (!p) return std::string();
  return std::string(p, strnlen(p, value.Size()));
}

ACSRawDataPtr TextValue(const std::string& text) {
  return ACSRawDataCore::CreateCopy(static_cast<uint32_t>(text.size() + 1), text.c_str());
}

ACSRawDataPtr Words(const uint32_t* words, uint32_t count) {
  uint8_t* bytes = static_cast<uint8_t*>(Vak::Alloc::New(count * 4));
  for (uint32_t i = 0; i < count; ++i) PutLE32(bytes + 4 * i, words[i]);
  return ACSRawDataCore::Create(count * 4, bytes);
}

} // namespace

// ---- value bytes ----

ACSRawDataCore::~ACSRawDataCore() {
  if (owns_) Vak::Alloc::Delete(bytes_);
}

ACSRawDataPtr ACSRawDataCore::Create(uint32_t count, void* bytes) {
  if (count == 0 || bytes == nullptr) {
    // Adopting means owning: a block that is not kept is freed.
    Vak::Alloc::Delete(bytes);
    return ACSRawDataPtr();
  }
  return ACSRawDataPtr(new ACSRawDataCore(static_cast<uint8_t*>(bytes), count, true));
}

ACSRawDataPtr ACSRawDataCore::CreateCopy(uint32_t count, const void* bytes) {
  if (count == 0 || bytes == nullptr) return ACSRawDataPtr();
  void* copy = Vak::Alloc::New(count);
  std::memcpy(copy, bytes, count);
  return Create(count, copy);
}

ACSRawDataPtr ACSRawDataCore::FromChunk(ACSChunk* chunk) {
  if (!chunk) return ACSRawDataPtr();
  const uint8_t* bytes = chunk->GetData();
  uint32_t count = chunk->GetDataSize();
  if (!bytes || count == 0) return ACSRawDataPtr();
  auto* core = new ACSRawDataCore(const_cast<uint8_t*>(bytes), count, false);
  core->owner_ = MPHandle(chunk);
  return ACSRawDataPtr(core);
}

// ---- the node interface and the null chunk ----

ACSChunk::~ACSChunk() = default;

ACSChunkPtr ACSChunk::FindChild(const Vak::PString&) { return GetNull(); }
ACSChunkPtr ACSChunk::GetChild(const Vak::PString&) { return GetNull(); }
int ACSChunk::GetChildCount() { return 0; }
Vak::PString ACSChunk::GetChildName(int) { return Vak::PString(""); }
void ACSChunk::SortChildren() {}
void ACSChunk::SwapChildren(ACSChunkPtr, ACSChunkPtr) {}
void ACSChunk::SetChild(const Vak::PString&, ACSChunkPtr) {}
void ACSChunk::RemoveChild(ACSChunkPtr) {}
ACSChunkPtr ACSChunk::CreateChunk(int, const ACSRawDataPtr&) { return GetNull(); }
const uint8_t* ACSChunk::GetData() { return nullptr; }
uint32_t ACSChunk::GetDataSize() { return 0; }
int ACSChunk::GetType() { return kACSEmpty; }
void ACSChunk::SetValue(int, const ACSRawDataPtr&) {}

namespace {

// The process keeps its reference for good: static destructors that still
// walk trees (and so ask for the null chunk) must find it alive.
ACSChunk* NullChunk() {
  static ACSChunk* const chunk = [] {
    auto* made = new ACSChunk;
    made->AddReference();
    return made;
  }();
  return chunk;
}

} // namespace

ACSChunkPtr ACSChunk::GetNull() { return ACSChunkPtr(NullChunk()); }

bool ACSChunk::IsNullChunk(const ACSChunk* chunk) { return chunk == NullChunk(); }

ACSChunkPtr ACSChunk::AsContainer(ACSChunk* chunk) {
  if (!chunk || IsNullChunk(chunk) || chunk->GetType() == kACSEmpty) return ACSChunkPtr();
  return ACSChunkPtr(chunk);
}

void ACSChunk::CopyFrom(ACSChunk* destination, ACSChunk* source) {
  if (!destination || !source) return;
  int type = source->GetType();
  if (type != kACSEmpty) destination->SetValue(type, ACSRawDataCore::FromChunk(source));

  for (int i = destination->GetChildCount() - 1; i >= 0; --i) {
    destination->RemoveChild(destination->FindChild(destination->GetChildName(i)));
  }

  int count = source->GetChildCount();
  for (int i = 0; i < count; ++i) {
    Vak::PString name = source->GetChildName(i);
    ACSChunkPtr child = source->FindChild(name);
    ACSChunkPtr node = destination->CreateChunk(child->GetType(), ACSRawDataPtr());
    CopyFrom(node.Get(), child.Get());
    destination->SetChild(name, std::move(node));
  }
}

// ---- number text ----

bool IsNumberText(const char* text) {
  if (!text) return false;
  const char* p = text;
  if (*p == '-') ++p;
  int mantissaDigits = 0;
  int exponentDigits = 0;
  bool dot = false;
  bool exponent = false;
  for (; *p; ++p) {
    char c = *p;
    if (c >= '0' && c <= '9') {
      (exponent ? exponentDigits : mantissaDigits)++;
    } else if (c == '.') {
      if (dot || exponent) return false;
      dot = true;
    } else if (c == 'e') {
      if (!dot || exponent) return false;
      exponent = true;
      if (p[1] != '+' && p[1] != '-') return false;
      ++p;
    } else if (c == ' ' || c == '\t') {
      break;
    } else {
      return false;
    }
  }
  for (; *p; ++p) {
    if (*p != ' ' && *p != '\t') return false;
  }
  return mantissaDigits > 0 && (!exponent || exponentDigits > 0);
}

std::size_t FormatChunkFloat(float value, char* out) {
  int n = std::snprintf(out, kChunkFloatTextMax, "%g", static_cast<double>(value));
  if (!std::isfinite(value) || !std::strchr(out, 'e')) return static_cast<std::size_t>(n);

  // The fewest significant digits that read back to the same float.
  char scientific[32];
  for (int precision = 0; precision < 9; ++precision) {
    std::snprintf(scientific, sizeof scientific, "%.*e", precision, static_cast<double>(value));
    if (std::strtof(scientific, nullptr) == value) break;
  }
  const char* p = scientific;
  bool negative = *p == '-';
  if (negative) ++p;
  std::string digits;
  for (; *p && *p != 'e'; ++p) {
    if (*p != '.') digits += *p;
  }
  int exponent = std::atoi(p + 1);
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

  std::string text = negative ? "-" : "";
  if (exponent >= 0) {
    std::size_t whole = static_cast<std::size_t>(exponent) + 1;
    if (digits.size() <= whole) {
      text += digits;
      text.append(whole - digits.size(), '0');
      text += ".0";
    } else {
      text.append(digits, 0, whole);
      text += '.';
      text.append(digits, whole, std::string::npos);
    }
  } else {
    text += "0.";
    text.append(static_cast<std::size_t>(-exponent - 1), '0');
    text += digits;
  }
  std::snprintf(out, kChunkFloatTextMax, "%s", text.c_str());
  return text.size();
}

// ---- converters ----

namespace {

ACSConverter* gFirstConverter = nullptr;

class ACSConverter_TextInt final : public ACSConverter {
public:
  ACSConverter_TextInt() : ACSConverter(kACSText, kACSInt) {}
  void Convert(const ACSRawDataPtr& input, ACSRawDataPtr& output) const override {
    output.Reset();
    std::string text = TextOf(input);
    if (!IsNumberText(text.c_str())) return;
    // The whole part, as "%d" reads it; out of range is no number at all.
    errno = 0;
    long long v = std::strtoll(text.c_str(), nullptr, 10);
    if (errno == ERANGE || v < INT32_MIN || v > INT32_MAX) return;
    uint32_t word = static_cast<uint32_t>(static_cast<int32_t>(v));
    output = Words(&word, 1);
  }
};

class ACSConverter_TextFloat final : public ACSConverter {
public:
  ACSConverter_TextFloat() : ACSConverter(kACSText, kACSFloat) {}
  void Convert(const ACSRawDataPtr& input, ACSRawDataPtr& output) const override {
    output.Reset();
    std::string text = TextOf(input);
    if (!IsNumberText(text.c_str())) return;
    float f = std::strtof(text.c_str(), nullptr);
    uint32_t word;
    std::memcpy(&word, &f, 4);
    output = Words(&word, 1);
  }
};

class ACSConverter_TextKUID final : public ACSConverter {
public:
  ACSConverter_TextKUID() : ACSConverter(kACSText, kACSKUID) {}
  void Convert(const ACSRawDataPtr& input, ACSRawDataPtr& output) const override {
    std::string text = TextOf(input);
    KUID kuid = KUID::Parse(text.c_str(), false);
    uint32_t words[2];
    kuid.Pack(words[0], words[1]);
    output = Words(words, 2);
  }
};

class ACSConverter_IntText final : public ACSConverter {
public:
  ACSConverter_IntText() : ACSConverter(kACSInt, kACSText) {}
  void Convert(const ACSRawDataPtr& input, ACSRawDataPtr& output) const override {
    output.Reset();
    uint32_t count = input.Size() / 4;
    if (count == 0) return;
    std::string text;
    char item[16];
    for (uint32_t i = 0; i < count; ++i) {
      std::snprintf(item, sizeof item, "%d", static_cast<int32_t>(GetLE32(input.Data() + 4 * i)));
      if (i) text += ',';
      text += item;
    }
    output = TextValue(text);
  }
};

class ACSConverter_FloatText final : public ACSConverter {
public:
  ACSConverter_FloatText() : ACSConverter(kACSFloat, kACSText) {}
  void Convert(const ACSRawDataPtr& input, ACSRawDataPtr& output) const override {
    output.Reset();
    uint32_t count = input.Size() / 4;
    if (count == 0) return;
    std::string text;
    char item[kChunkFloatTextMax];
    for (uint32_t i = 0; i < count; ++i) {
      FormatChunkFloat(std::bit_cast<float>(GetLE32(input.Data() + 4 * i)), item);
      if (i) text += ',';
      text += item;
    }
    output = TextValue(text);
  }
};

class ACSConverter_KUIDText final : public ACSConverter {
public:
  ACSConverter_KUIDText() : ACSConverter(kACSKUID, kACSText) {}
  void Convert(const ACSRawDataPtr& input, ACSRawDataPtr& output) const override {
    output.Reset();
    if (input.Size() < 8) return;
    KUID kuid = KUID::Unpack(GetLE32(input.Data()), GetLE32(input.Data() + 4));
    output = TextValue(kuid.ToConfigText().c_str());
  }
};

// A float reads as an int by its number, not through its "%g" text (which
// would read 1234567.0 as 1). Like the text route, only a single float is a
// number; the fraction is cut off toward zero.
class ACSConverter_FloatInt final : public ACSConverter {
public:
  ACSConverter_FloatInt() : ACSConverter(kACSFloat, kACSInt) {}
  void Convert(const ACSRawDataPtr& input, ACSRawDataPtr& output) const override {
    output.Reset();
    if (input.Size() / 4 != 1) return;
    double v = std::trunc(static_cast<double>(std::bit_cast<float>(GetLE32(input.Data()))));
    if (!(v >= INT32_MIN && v <= INT32_MAX)) return;
    uint32_t word = static_cast<uint32_t>(static_cast<int32_t>(v));
    output = Words(&word, 1);
  }
};

// Constructed in this order, each pushed at the front of the list.
ACSConverter_TextInt gTextInt;
ACSConverter_TextFloat gTextFloat;
ACSConverter_TextKUID gTextKUID;
ACSConverter_IntText gIntText;
ACSConverter_FloatText gFloatText;
ACSConverter_KUIDText gKUIDText;
ACSConverter_FloatInt gFloatInt;

} // namespace

ACSConverter::ACSConverter(int from, int to) : from_(from), to_(to) {
  next_ = gFirstConverter;
  if (next_) next_->previous_ = this;
  gFirstConverter = this;
}

ACSConverter::~ACSConverter() {
  if (previous_) previous_->next_ = next_;
  else gFirstConverter = next_;
  if (next_) next_->previous_ = previous_;
}

ACSConverter* ACSConverter::First() { return gFirstConverter; }

void ACSConverter::Convert(int from, int to, const ACSRawDataPtr& input, ACSRawDataPtr& output) {
  if (from == to) {
    output = input;
    return;
  }
  output.Reset();
  if (from == kACSEmpty) return;
  for (ACSConverter* c = gFirstConverter; c; c = c->next_) {
    if (c->from_ == from && c->to_ == to) {
      c->Convert(input, output);
      return;
    }
  }
  for (ACSConverter* a = gFirstConverter; a; a = a->next_) {
    if (a->from_ != from) continue;
    for (ACSConverter* b = gFirstConverter; b; b = b->next_) {
      if (b->from_ != a->to_ || b->to_ != to) continue;
      ACSRawDataPtr middle;
      a->Convert(input, middle);
      b->Convert(middle, output);
      return;
    }
  }
}
