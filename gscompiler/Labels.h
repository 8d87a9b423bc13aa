#pragma once
// The labels of one function and the jumps that wait for them.
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "gscompiler/GSCFunction.h"

namespace GSCompiler {

class LabelTable {
public:
  struct Patch {
    int label;
    uint32_t operandOffset;
    const char* message;
    int32_t line;
  };

  // A label without a name (break and continue targets).
  int Create();
  // The label of a goto or label statement, created when first named.
  int Named(const std::string& name);
  // False when the label was placed before (a label name used twice).
  bool Place(int label, uint32_t offset);
  // Appends a jump to the label with a zero target, patched at Resolve.
  void Jump(CodeEmitter& code, uint8_t opcode, int label, const char* message, int32_t line);
  // Writes every patched target. An unplaced label is reported through
  // `unplaced` (message, line) and fails; the table is emptied either way.
  template <class Report>
  bool Resolve(CodeEmitter& code, Report&& unplaced) {
    bool ok = true;
    for (const Patch& p : patches_) {
      const Label& l = labels_[p.label];
      if (!l.placed) {
        unplaced(p.message, p.line);
        ok = false;
        break;
      }
      code.PatchWord(p.operandOffset, l.offset);
    }
    Clear();
    return ok;
  }
  void Clear();

private:
  struct Label {
    bool placed = false;
    uint32_t offset = 0;
  };
  std::vector<Label> labels_;
  std::unordered_map<std::string, int> names_;
  std::vector<Patch> patches_;
};

} // namespace GSCompiler
