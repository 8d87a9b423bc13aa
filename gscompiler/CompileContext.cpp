#include "gscompiler/CompileContext.h"

#include "gscompiler/GSCClass.h"

namespace GSCompiler {

uint32_t StringTable::Hash(const char* text) {
  uint32_t h = 0;
  for (const char* c = text; *c != '\0'; ++c) h = h * 3 + static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(*c)));
  return h;
}

StringTable::StringTable() : buckets_(kBuckets) {}

uint32_t StringTable::Intern(const char* text) {
  if (const auto found = ids_.find(text); found != ids_.end()) return found->second;
  const auto id = static_cast<uint32_t>(texts_.size());
  ids_.emplace(texts_.emplace_back(text), id);
  buckets_[Hash(text) % kBuckets].push_back(id);
  return id;
}

std::vector<uint32_t> StringTable::StoredOrder() const {
  std::vector<uint32_t> order;
  order.reserve(texts_.size());
  for (const auto& chain : buckets_) order.insert(order.end(), chain.begin(), chain.end());
  return order;
}

void StringTable::Clear() {
  ids_.clear();
  texts_.clear();
  buckets_.assign(kBuckets, {});
}

CompileContext::CompileContext() {
  pool.Setup(Utils::BlockMemory::kUnitThreshold, sizeof(SyntaxNode), Utils::BlockMemory::kUnitBlocksPerChunk);
  root.symbols = &symbols;
}

CompileContext::~CompileContext() = default;

void CompileContext::Reset() {
  symbols.Clear();
  classes.clear();
  strings.Clear();
  dependentCount = 0;
  classCount = 0;
  dependencies.clear();
  knownClasses.clear();
  functions.clear();
}

} // namespace GSCompiler
