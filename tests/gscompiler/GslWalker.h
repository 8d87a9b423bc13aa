#pragma once
// Test-side reader of a library file: follows the tagged records, checks every
// length against what remains, the padding, "lgbd" and that each count
// matches its entries, and hands back what it read.
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace GslWalker {

struct FunctionRecord {
  std::string name;
  int32_t returnType = 0;
  int32_t returnClass = 0;
  uint32_t flags = 0;
  int32_t slot = 0;
  int32_t words[8] = {};
  std::vector<int32_t> referenceSlots;
  std::vector<uint8_t> code;
  std::vector<std::pair<uint32_t, int32_t>> lines;
  bool initialiser = false;
};

struct ClassBody {
  std::string name;
  uint32_t flags = 0;
  std::vector<std::vector<int32_t>> bases;  // class index, member offset, direct
  std::vector<FunctionRecord> functions;    // the initialiser last
  std::vector<std::vector<int32_t>> members;  // name id, type, class, public, slot
  std::vector<std::pair<int32_t, int32_t>> overrides;
  std::vector<int32_t> layout;                // every word after the tag
};

struct Library {
  uint32_t fileLength = 0;
  uint32_t magic = 0;
  uint32_t versionBits = 0;
  uint32_t textCrc = 0, nameCrc = 0;
  std::string path;
  std::vector<std::pair<uint32_t, uint32_t>> dependencies;
  std::vector<std::string> strings;             // by id
  std::vector<uint32_t> stringOffsets;          // by id
  uint32_t stringDataLength = 0;
  std::vector<std::pair<int32_t, std::string>> classes;  // declaring slot, name
  struct Function {
    int32_t classIndex;
    std::string name;
    int32_t slot;
  };
  std::vector<Function> functions;
  std::vector<ClassBody> bodies;
};

class Reader {
public:
  Reader(const uint8_t* data, size_t size) : data_(data), end_(size) {}

  uint32_t U32() {
    Need(4);
    uint32_t v = data_[at_] | data_[at_ + 1] << 8 | data_[at_ + 2] << 16 | uint32_t{data_[at_ + 3]} << 24;
    at_ += 4;
    return v;
  }
  int32_t I32() { return static_cast<int32_t>(U32()); }
  // A count of entries of `each` bytes that must fit in what remains.
  uint32_t Count(size_t each) {
    const uint32_t n = U32();
    if (each != 0 && n > Remaining() / each) Fail("count " + std::to_string(n) + " exceeds the record");
    return n;
  }
  const uint8_t* Bytes(size_t n) {
    Need(n);
    const uint8_t* p = data_ + at_;
    at_ += n;
    return p;
  }
  size_t At() const { return at_; }
  size_t Remaining() const { return end_ - at_; }

  // Opens a tagged record; its end becomes the reader's end until Close.
  size_t Open(uint32_t tag) {
    const size_t start = at_;
    const uint32_t length = U32();
    if (length < 8 || length > end_ - start) Fail("record length " + std::to_string(length) + " beyond what remains");
    const uint32_t got = U32();
    if (got != tag) Fail("tag " + std::to_string(got) + " where " + std::to_string(tag) + " was expected");
    const size_t outer = end_;
    end_ = start + length;
    return outer;
  }
  void Close(size_t outer) {
    if (at_ != end_) Fail(std::to_string(end_ - at_) + " bytes left in a record");
    end_ = outer;
  }
  void Pad(uint8_t fill, size_t base = 0) {
    while ((at_ - base) % 4 != 0) {
      if (*Bytes(1) != fill) Fail("bad padding byte");
    }
  }
  [[noreturn]] void Fail(const std::string& why) const {
    throw std::runtime_error(why + " at " + std::to_string(at_));
  }

private:
  void Need(size_t n) const {
    if (n > end_ - at_) Fail("truncated");
  }
  const uint8_t* data_;
  size_t end_;
  size_t at_ = 0;
};

inline FunctionRecord ReadFunction(Reader& r, bool initialiser) {
  FunctionRecord f;
  const size_t outer = r.Open(9);
  r.U32();  // name id, resolved by the caller
  f.initialiser = initialiser;
  f.returnType = r.I32();
  f.returnClass = r.I32();
  f.flags = r.U32();
  f.slot = r.I32();
  for (int32_t& w : f.words) w = r.I32();
  if (f.words[7] < 0 || static_cast<size_t>(f.words[7]) > r.Remaining() / 4) r.Fail("r exceeds the record");
  if (initialiser && f.words[7] != 0) r.Fail("an initialiser lists slots");
  for (int32_t i = 0; i < f.words[7]; ++i) f.referenceSlots.push_back(r.I32());
  const uint32_t length = r.Count(1);
  const uint8_t* code = r.Bytes(length);
  f.code.assign(code, code + length);
  r.Pad(0xFF);
  if (!initialiser) {
    if (std::memcmp(r.Bytes(4), "lgbd", 4) != 0) r.Fail("no lgbd");
    const uint32_t lines = r.Count(8);
    for (uint32_t i = 0; i < lines; ++i) {
      const uint32_t offset = r.U32();
      f.lines.emplace_back(offset, r.I32());
    }
    r.Pad(0);
  }
  r.Close(outer);
  return f;
}

// Throws std::runtime_error describing the first fault.
inline Library Walk(const uint8_t* data, size_t size) {
  Library lib;
  Reader r(data, size);
  lib.fileLength = r.U32();
  if (lib.fileLength != size) r.Fail("file length word " + std::to_string(lib.fileLength) + " differs from the size");
  lib.magic = r.U32();
  if (lib.magic != 0xF762575D) r.Fail("bad magic");
  lib.versionBits = r.U32();
  lib.textCrc = r.U32();
  lib.nameCrc = r.U32();
  const uint32_t pathLength = r.Count(1);
  if (pathLength == 0) r.Fail("empty path field");
  const uint8_t* path = r.Bytes(pathLength);
  if (path[pathLength - 1] != 0 || std::memchr(path, 0, pathLength) != path + pathLength - 1)
    r.Fail("path not ended by its zero");
  lib.path.assign(reinterpret_cast<const char*>(path), pathLength - 1);

  size_t outer = r.Open(2);
  for (uint32_t n = r.Count(8); n > 0; --n) {
    const uint32_t text = r.U32();
    lib.dependencies.emplace_back(text, r.U32());
  }
  r.Close(outer);

  outer = r.Open(3);
  const uint32_t strings = r.Count(4);
  for (uint32_t i = 0; i < strings; ++i) lib.stringOffsets.push_back(r.U32());
  const size_t dataStart = r.At();
  const uint8_t* rest = r.Bytes(r.Remaining());
  size_t dataEnd = 0;
  for (uint32_t offset : lib.stringOffsets) {
    const void* zero = offset < r.At() - dataStart ? std::memchr(rest + offset, 0, r.At() - dataStart - offset) : nullptr;
    if (zero == nullptr) r.Fail("string offset " + std::to_string(offset) + " outside the data");
    lib.strings.emplace_back(reinterpret_cast<const char*>(rest + offset));
    dataEnd = std::max(dataEnd, offset + lib.strings.back().size() + 1);
  }
  lib.stringDataLength = static_cast<uint32_t>(dataEnd);
  for (size_t i = dataEnd; i < r.At() - dataStart; ++i)
    if (rest[i] != 0) r.Fail("non-zero byte after the strings");
  if (r.At() % 4 != 0 || r.At() - dataStart - dataEnd >= 4) r.Fail("string padding is not to the next multiple of 4");
  r.Close(outer);

  auto name = [&](uint32_t id) -> std::string {
    if (id >= lib.strings.size()) r.Fail("string id " + std::to_string(id) + " beyond the table");
    return lib.strings[id];
  };

  outer = r.Open(4);
  for (uint32_t n = r.Count(8); n > 0; --n) {
    const int32_t slot = r.I32();
    if (slot < 0 || static_cast<size_t>(slot) >= lib.dependencies.size()) r.Fail("class of an unknown script");
    lib.classes.emplace_back(slot, name(r.U32()));
  }
  r.Close(outer);

  outer = r.Open(5);
  for (uint32_t n = r.Count(12); n > 0; --n) {
    const int32_t cls = r.I32();
    const std::string fn = name(r.U32());
    lib.functions.push_back({cls, fn, r.I32()});
  }
  r.Close(outer);

  outer = r.Open(6);
  for (uint32_t n = r.Count(8); n > 0; --n) {
    ClassBody body;
    const size_t bodyOuter = r.Open(7);
    body.name = name(r.U32());
    body.flags = r.U32();
    for (uint32_t b = r.Count(12); b > 0; --b) body.bases.push_back({r.I32(), r.I32(), r.I32()});

    size_t sub = r.Open(8);
    const uint32_t functions = r.Count(8);
    if (functions == 0) r.Fail("no class initialiser");
    for (uint32_t i = 0; i < functions; ++i) {
      const size_t at = r.At();
      FunctionRecord f = ReadFunction(r, i + 1 == functions);
      f.name = name(data[at + 8] | data[at + 9] << 8 | data[at + 10] << 16 | uint32_t{data[at + 11]} << 24);
      body.functions.push_back(std::move(f));
    }
    r.Close(sub);

    sub = r.Open(10);
    for (uint32_t m = r.Count(20); m > 0; --m) {
      std::vector<int32_t> member;
      for (int k = 0; k < 5; ++k) member.push_back(r.I32());
      name(static_cast<uint32_t>(member[0]));
      body.members.push_back(member);
    }
    r.Close(sub);

    sub = r.Open(11);
    for (uint32_t o = r.Count(8); o > 0; --o) {
      const int32_t fn = r.I32();
      body.overrides.emplace_back(fn, r.I32());
    }
    r.Close(sub);

    sub = r.Open(12);
    body.layout.push_back(r.I32());
    const uint32_t triples = r.Count(12);
    if (triples != 2 * body.bases.size() + 1) r.Fail("layout triples do not match the bases");
    body.layout.push_back(static_cast<int32_t>(triples));
    for (uint32_t t = 0; t < triples * 3; ++t) body.layout.push_back(r.I32());
    const uint32_t refs = r.Count(4);
    body.layout.push_back(static_cast<int32_t>(refs));
    for (uint32_t i = 0; i < refs; ++i) body.layout.push_back(r.I32());
    r.Close(sub);

    r.Close(bodyOuter);
    lib.bodies.push_back(std::move(body));
  }
  r.Close(outer);
  if (r.Remaining() != 0) r.Fail("bytes after the last section");
  return lib;
}

inline Library Walk(const std::vector<uint8_t>& bytes) { return Walk(bytes.data(), bytes.size()); }

} // namespace GslWalker
