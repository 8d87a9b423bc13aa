#pragma once
// Everything one library gathers while it is compiled: its symbols, the root
// script's record, the classes generated for the root script and the string
// table that the library file stores.
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "gscompiler/BlockMemory.h"
#include "gscompiler/CompileUnit.h"
#include "gscompiler/GSSymbol.h"

namespace GSCompiler {

class GSCClass;

// The library's names, interned into 61 buckets. Ids count from 0 in order of
// first use; the stored order of the texts is bucket by bucket, each chain in
// insertion order (docs/decisions.md).
class StringTable {
public:
  static constexpr unsigned kBuckets = 61;
  // The symbols' hash: h * 3 + each character as a signed byte, from 0.
  static uint32_t Hash(const char* text);

  StringTable();
  // The text's id, entering it with the next id when it is new.
  uint32_t Intern(const char* text);
  uint32_t Count() const { return static_cast<uint32_t>(texts_.size()); }
  const std::string& Text(uint32_t id) const { return texts_[id]; }
  // Ids in the table's internal order.
  std::vector<uint32_t> StoredOrder() const;
  void Clear();

private:
  std::deque<std::string> texts_;                  // by id; entries never move
  std::vector<std::vector<uint32_t>> buckets_;     // chains of ids
  // A large library's chains are long; look-ups go through this instead.
  std::unordered_map<std::string_view, uint32_t> ids_;
};

// Sections 2, 4 and 5 of the library file, read off the symbol table by the
// code generator (or set directly by tests).
struct LibraryDependency {
  uint32_t textCrc = 0;
  uint32_t nameCrc = 0;
};
struct LibraryClassEntry {
  std::string name;
  int32_t declaringSlot = -1;  // -1: its declaring script is unknown
};
struct LibraryFunctionEntry {
  int32_t classIndex = -1;
  std::string signature;
  int32_t virtualSlot = -1;  // -1: no class
};

struct CompileContext {
  CompileContext();
  ~CompileContext();
  CompileContext(const CompileContext&) = delete;
  CompileContext& operator=(const CompileContext&) = delete;

  // Empties everything for the next library.
  void Reset();

  GSSymbolTable symbols;
  Utils::BlockMemory pool;
  // The root script (its symbols are the library's); its text and name CRCs
  // identify the library.
  CompileUnit root;
  // The classes declared in the root script, in declaration order.
  std::vector<std::unique_ptr<GSCClass>> classes;
  StringTable strings;
  int dependentCount = 0;
  int classCount = 0;

  // By dependency slot (the root at 0), by class index, by function index.
  std::vector<LibraryDependency> dependencies;
  std::vector<LibraryClassEntry> knownClasses;
  std::vector<LibraryFunctionEntry> functions;
};

} // namespace GSCompiler
