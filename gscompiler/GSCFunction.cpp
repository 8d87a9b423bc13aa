#include "gscompiler/GSCFunction.h"

#include <array>
#include <bit>

#include "Vak/Bexlorn/ByteOrder.h"

namespace GSCompiler {

namespace {

constexpr std::array<int8_t, 256> MakeEffects() {
  std::array<int8_t, 256> e{};
  for (int op : {0, 1, 2, 3, 4, 9, 13, 14, 15, 17, 18, 19, 20, 21, 22, 23, 28, 33, 35, 37, 38, 44, 45, 48, 49, 50,
                 51, 60, 63, 85, 86, 91, 100, 102, 105, 106, 110, 111, 113})
    e[op] = -1;
  for (int op : {10, 11, 30, 31, 32, 39, 40, 72, 73, 88, 89, 103, 104}) e[op] = 1;
  e[41] = 2;
  for (int op : {62, 65, 66, 69, 81, 82, 99, 101}) e[op] = -2;
  for (int op : {61, 64, 68, 71, 80, 84}) e[op] = -3;
  for (int op : {67, 70, 83}) e[op] = -4;
  return e;
}

constexpr std::array<int8_t, 256> kEffects = MakeEffects();

} // namespace

int StackEffect(uint8_t opcode) { return kEffects[opcode]; }

void CodeEmitter::Account(uint32_t at, uint8_t opcode) {
  if (trackLines_ && (lines.empty() || lines.back().line != currentLine)) lines.push_back({at, currentLine});
  Adjust(StackEffect(opcode));
}

void CodeEmitter::Adjust(int n) {
  depth += n;
  if (depth > maxDepth) maxDepth = depth;
}

void CodeEmitter::Emit(uint8_t opcode) {
  Account(code.Length(), opcode);
  code.AppendBytes(&opcode, 1);
}

void CodeEmitter::EmitWord(uint8_t opcode, uint32_t operand) {
  Emit(opcode);
  AppendWord(operand);
}

void CodeEmitter::EmitFloat(float value) { EmitWord(kBcPushWord, std::bit_cast<uint32_t>(value)); }

void CodeEmitter::EmitShort(uint8_t opcode, int64_t operand) {
  Emit(opcode);
  AppendShort(operand);
}

void CodeEmitter::EmitShorts(uint8_t opcode, int64_t first, int64_t second) {
  Emit(opcode);
  AppendShort(first);
  AppendShort(second);
}

void CodeEmitter::AppendShort(int64_t value) {
  if (!FitsShort(value)) flags_ |= kOperandOverflow;
  uint8_t bytes[2];
  Vak::PutLE16(bytes, static_cast<uint16_t>(value));
  code.AppendBytes(bytes, 2);
}

void CodeEmitter::AppendWord(uint32_t value) { code.AppendU32(value); }

uint32_t CodeEmitter::Reserve(uint32_t count) {
  const uint32_t at = code.Length();
  static constexpr uint8_t kZeros[64] = {};
  while (count > 0) {
    const uint32_t n = count < sizeof kZeros ? count : sizeof kZeros;
    code.AppendBytes(kZeros, n);
    count -= n;
  }
  return at;
}

void CodeEmitter::WriteJumpAt(uint32_t at, uint8_t opcode, uint32_t target) {
  Account(at, opcode);
  const uint32_t end = code.Length();
  code.SetPosition(at);
  code.AppendBytes(&opcode, 1);
  code.AppendU32(target);
  code.SetPosition(end);
}

void CodeEmitter::PatchWord(uint32_t at, uint32_t value) {
  const uint32_t end = code.Length();
  code.SetPosition(at);
  code.AppendU32(value);
  code.SetPosition(end);
}

void CodeEmitter::PatchShort(uint32_t at, int64_t value) {
  const uint32_t end = code.Length();
  code.SetPosition(at);
  AppendShort(value);
  code.SetPosition(end);
}

} // namespace GSCompiler
