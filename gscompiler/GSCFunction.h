#pragma once
// Byte code of one function (or of a class initialiser) with the stack depth
// it reaches and the line table of its instructions.
#include <cstdint>
#include <string>
#include <vector>

#include "gscompiler/CodeBuffer.h"

namespace GSCompiler {

class GSFunctionSymbol;

// The opcodes the generator emits.
enum Opcode : uint8_t {
  kBcIntAdd = 0, kBcIntSub = 1, kBcIntMul = 2, kBcIntDiv = 3, kBcIntMod = 4, kBcIntNeg = 5,
  kBcIntInc = 6, kBcIntDec = 7, kBcIntToFloat = 8, kBcIntCompare = 9, kBcPush0 = 10, kBcPush1 = 11,
  kBcIsZero = 12, kBcBitAnd = 13, kBcBitOr = 14, kBcBitXor = 15, kBcBitNot = 16, kBcShl = 17, kBcShr = 18,
  kBcFloatAdd = 19, kBcFloatSub = 20, kBcFloatMul = 21, kBcFloatDiv = 22, kBcFloatMod = 23, kBcFloatNeg = 24,
  kBcFloatInc = 25, kBcFloatDec = 26, kBcFloatToInt = 27, kBcFloatCompare = 28, kBcFloatNot = 29,
  kBcPushWord = 30, kBcLoad = 31, kBcLoadRef = 32, kBcStore = 33, kBcStoreKeep = 34, kBcStoreRef = 35,
  kBcStoreRefKeep = 36, kBcDrop = 37, kBcDropRef = 38, kBcDup = 39, kBcDupRef = 40, kBcDup2 = 41,
  kBcJump = 43, kBcJumpIfFalsePop = 44, kBcJumpIfFalse = 46, kBcJumpIfTrue = 47,
  kBcLess = 52, kBcLessEqual = 53, kBcGreater = 54, kBcGreaterEqual = 55,
  kBcNewArray = 56, kBcNewRefArray = 57, kBcArraySize = 58, kBcArrayCopy = 59,
  kBcLoadElement = 60, kBcStoreElement = 61, kBcStoreElementKeep = 62,
  kBcLoadRefElement = 63, kBcStoreRefElement = 64, kBcStoreRefElementKeep = 65,
  kBcArrayRange = 69, kBcStoreArrayRange = 70, kBcStoreArrayRangeKeep = 71,
  kBcNewString = 72, kBcPushString = 73, kBcIntToString = 74, kBcBoolToString = 75, kBcFloatToString = 76,
  kBcStringCopy = 77, kBcStringLength = 78, kBcLoadChar = 79, kBcStoreChar = 80, kBcStoreCharKeep = 81,
  kBcStringRange = 82, kBcStoreStringRange = 83, kBcStoreStringRangeKeep = 84,
  kBcStringCompare = 85, kBcConcat = 86, kBcIsClassOf = 87, kBcNewObject = 88, kBcStaticObject = 89,
  kBcCastObject = 90, kBcRefCompare = 91, kBcRefIsNull = 92, kBcRefToCondition = 93,
  kBcCall = 94, kBcCallNative = 95, kBcCallThread = 96,
  kBcLoadMember = 97, kBcLoadRefMember = 98, kBcStoreMember = 99, kBcStoreMemberKeep = 100,
  kBcStoreRefMember = 101, kBcStoreRefMemberKeep = 102, kBcLoadMyMember = 103, kBcLoadMyRefMember = 104,
  kBcStoreMyMember = 105, kBcStoreMyRefMember = 106, kBcStoreMyMemberKeep = 107, kBcStoreMyRefMemberKeep = 108,
  kBcReturn = 109, kBcReturnValue = 110, kBcReturnRef = 111, kBcWait = 112, kBcSwitch = 113,
  kBcCallInherited = 114, kBcNotEqual = 115,
};

// The change of the operand stack's depth that an opcode makes; the calls
// have 0 here and are accounted by their caller.
int StackEffect(uint8_t opcode);

struct LineDebugInfo {
  uint32_t offset;
  int32_t line;
};

class CodeEmitter {
public:
  // An operand that does not fit its 16 bits.
  static constexpr uint32_t kOperandOverflow = 0x100;

  CodeEmitter() : code(CodeBuffer::kFunctionCodeStep) { code.Reset(); }

  // Every instruction appended from now on is entered in the line table.
  void TrackLines(bool on) { trackLines_ = on; }
  void SetLine(int32_t line) { currentLine = line; }

  void Emit(uint8_t opcode);
  void EmitWord(uint8_t opcode, uint32_t operand);
  void EmitFloat(float value);
  // Short operands must fit an i16; otherwise the code is marked failed.
  void EmitShort(uint8_t opcode, int64_t operand);
  void EmitShorts(uint8_t opcode, int64_t first, int64_t second);
  // Raw table bytes of a switch or wait after their opcode.
  void AppendShort(int64_t value);
  void AppendWord(uint32_t value);
  // Reserves bytes to be filled later; the offset of the first.
  uint32_t Reserve(uint32_t count);
  // Writes a jump into reserved bytes, accounted as if appended now.
  void WriteJumpAt(uint32_t at, uint8_t opcode, uint32_t target);
  // Writes a word into code already written (a jump's target, a table entry).
  void PatchWord(uint32_t at, uint32_t value);
  void PatchShort(uint32_t at, int64_t value);
  // Changes the depth by n, outside any opcode (calls, handlers).
  void Adjust(int n);

  uint32_t Offset() const { return code.Length(); }
  bool Failed() const { return (code.Flags() != 0) || (flags_ & kOperandOverflow) != 0; }
  uint32_t Flags() const { return code.Flags() | flags_; }

  CodeBuffer code;
  int depth = 0;
  int maxDepth = 0;
  int32_t currentLine = 0;
  std::vector<LineDebugInfo> lines;

private:
  void Account(uint32_t at, uint8_t opcode);
  static bool FitsShort(int64_t value) { return value >= INT16_MIN && value <= INT16_MAX; }

  bool trackLines_ = false;
  uint32_t flags_ = 0;
};

// One function of a generated class; a native function has no code.
class GSCFunction : public CodeEmitter {
public:
  const GSFunctionSymbol* symbol = nullptr;
  std::string signature;
  int32_t returnType = 0;
  int32_t returnClass = -1;
  uint32_t flags = 0;
  int32_t functionIndex = -1;
  int32_t virtualSlot = -1;
  // Frame counts: c = 1 + parameters, a = locals, b = highest temporary.
  int32_t c = 1;
  int32_t a = 0;
  int32_t b = 0;
  // Parameters and locals of reference type, in that order.
  std::vector<int32_t> referenceSlots;
};

} // namespace GSCompiler
