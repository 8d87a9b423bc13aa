#include "gscompiler/Labels.h"

namespace GSCompiler {

int LabelTable::Create() {
  labels_.push_back({});
  return static_cast<int>(labels_.size()) - 1;
}

int LabelTable::Named(const std::string& name) {
  auto [it, added] = names_.try_emplace(name, 0);
  if (added) it->second = Create();
  return it->second;
}

bool LabelTable::Place(int label, uint32_t offset) {
  Label& l = labels_[label];
  if (l.placed) return false;
  l.placed = true;
  l.offset = offset;
  return true;
}

void LabelTable::Jump(CodeEmitter& code, uint8_t opcode, int label, const char* message, int32_t line) {
  code.Emit(opcode);
  patches_.push_back({label, code.Offset(), message, line});
  code.AppendWord(0);
}

void LabelTable::Clear() {
  labels_.clear();
  names_.clear();
  patches_.clear();
}

} // namespace GSCompiler
