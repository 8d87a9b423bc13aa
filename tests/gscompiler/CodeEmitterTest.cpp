// Stack accounting, the line table, short operands and labels of the byte
// code emitter.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gscompiler/GSCFunction.h"
#include "gscompiler/Labels.h"

namespace GSCompiler {
namespace {

std::vector<uint8_t> Code(const CodeEmitter& e) { return {e.code.Data(), e.code.Data() + e.code.Length()}; }

TEST(CodeEmitterTest, StackEffects) {
  struct Case {
    uint8_t opcode;
    int effect;
  };
  // One row per effect class, including opcodes that are never emitted.
  const Case cases[] = {{0, -1},  {5, 0},   {10, 1},  {30, 1},  {34, 0},  {41, 2},  {42, 0},   {45, -1},
                        {61, -3}, {62, -2}, {66, -2}, {67, -4}, {68, -3}, {70, -4}, {83, -4},  {84, -3},
                        {94, 0},  {99, -2}, {100, -1}, {107, 0}, {112, 0}, {113, -1}, {114, 0}, {115, 0},
                        {116, 0}, {255, 0}};
  for (const Case& c : cases) EXPECT_EQ(StackEffect(c.opcode), c.effect) << int{c.opcode};
}

TEST(CodeEmitterTest, DepthAndLineTable) {
  CodeEmitter e;
  e.TrackLines(true);
  e.SetLine(3);
  e.EmitShort(kBcLoad, 1);    // 0: depth 1
  e.EmitShort(kBcLoad, 2);    // 3: depth 2, same line: no record
  e.SetLine(4);
  e.Emit(kBcIntAdd);          // 6: depth 1
  const uint32_t test = e.Reserve(5);  // 7
  e.SetLine(5);
  e.EmitShorts(kBcCall, -1, 4);  // 12
  e.Adjust(1 - 2);            // a function returning a value, c = 2
  e.SetLine(4);
  e.WriteJumpAt(test, kBcJumpIfFalsePop, e.Offset());
  EXPECT_EQ(e.depth, -1);
  EXPECT_EQ(e.maxDepth, 2);
  const std::vector<std::pair<uint32_t, int32_t>> lines = {{0, 3}, {6, 4}, {12, 5}, {7, 4}};
  ASSERT_EQ(e.lines.size(), lines.size());
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(e.lines[i].offset, lines[i].first);
    EXPECT_EQ(e.lines[i].line, lines[i].second);
  }
  EXPECT_EQ(Code(e), (std::vector<uint8_t>{31, 1, 0, 31, 2, 0, 0, 44, 17, 0, 0, 0, 94, 0xFF, 0xFF, 4, 0}));
}

TEST(CodeEmitterTest, ShortOperandsMustFit) {
  struct Case {
    int64_t value;
    bool fits;
  };
  for (const Case& c : {Case{32767, true}, Case{-32768, true}, Case{32768, false}, Case{-32769, false},
                        Case{65535, false}}) {
    CodeEmitter e;
    e.EmitShort(kBcPushString, c.value);
    EXPECT_EQ(!e.Failed(), c.fits) << c.value;
  }
  CodeEmitter e;
  e.EmitShorts(kBcCall, 0, 40000);
  EXPECT_TRUE(e.Failed());
}

TEST(LabelTableTest, PatchesAndFailures) {
  CodeEmitter e;
  LabelTable labels;
  const int end = labels.Create();
  labels.Jump(e, kBcJump, end, "Break", 1);
  labels.Jump(e, kBcJump, labels.Named("top"), "no matching label", 2);
  EXPECT_TRUE(labels.Place(labels.Named("top"), 0));
  EXPECT_FALSE(labels.Place(labels.Named("top"), 5));  // a name placed twice
  EXPECT_TRUE(labels.Place(end, e.Offset()));
  std::vector<std::string> reports;
  auto report = [&](const char* message, int32_t line) { reports.push_back(message + std::to_string(line)); };
  EXPECT_TRUE(labels.Resolve(e, report));
  EXPECT_EQ(Code(e), (std::vector<uint8_t>{43, 10, 0, 0, 0, 43, 0, 0, 0, 0}));

  // Resolving emptied the table: the name is new again and never placed.
  labels.Jump(e, kBcJump, labels.Named("top"), "no matching label", 9);
  EXPECT_FALSE(labels.Resolve(e, report));
  EXPECT_EQ(reports, std::vector<std::string>{"no matching label9"});
}

} // namespace
} // namespace GSCompiler
