#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gscompiler/CompileUnit.h"
#include "gscompiler/MessageSink.h"
#include "gscompiler/Queue.h"

namespace {

using GSCompiler::CompileUnit;
using GSCompiler::MessageSink;

std::vector<std::string> Drain(MessageSink& sink) {
  std::vector<std::string> texts;
  while (const char* text = sink.Take()) texts.emplace_back(text);
  return texts;
}

TEST(QueueTest, GrowsByItsStepAndKeepsTheOrderOfAWrappedRing) {
  Utils::Queue<int> queue;
  EXPECT_EQ(queue.Capacity(), 0u);
  for (int i = 0; i < 128; ++i) ASSERT_TRUE(queue.Push(i));
  EXPECT_EQ(queue.Capacity(), 128u);
  int value = -1;
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(queue.Pop(value));
  for (int i = 128; i < 133; ++i) ASSERT_TRUE(queue.Push(i));  // wraps to the start
  EXPECT_EQ(queue.ReadIndex(), 5u);
  EXPECT_EQ(queue.WriteIndex(), 5u);
  EXPECT_EQ(queue.Count(), 128u);
  ASSERT_TRUE(queue.Push(133));  // full: grows
  EXPECT_EQ(queue.Capacity(), 256u);
  EXPECT_EQ(queue.ReadIndex(), 0u);
  EXPECT_EQ(queue.WriteIndex(), 129u);
  for (int expected = 5; expected <= 133; ++expected) {
    ASSERT_TRUE(queue.Pop(value));
    EXPECT_EQ(value, expected);
  }
  EXPECT_FALSE(queue.Pop(value));
}

TEST(MessageSinkTest, KeepsCopiesInOrderAndDropsWhatThePoolCannotHold) {
  MessageSink sink;
  std::string text = "first";
  EXPECT_TRUE(sink.Add(text.c_str()));
  text[0] = 'F';  // the sink holds its own copy
  EXPECT_FALSE(sink.Add(std::string(2048, 'x').c_str()));
  EXPECT_TRUE(sink.Add(std::string(2047, 'y').c_str()));
  for (int i = 0; i < 300; ++i) EXPECT_TRUE(sink.Add(std::to_string(i).c_str()));
  EXPECT_EQ(sink.Entries().Capacity(), 384u);
  const std::vector<std::string> texts = Drain(sink);
  ASSERT_EQ(texts.size(), 302u);
  EXPECT_EQ(texts[0], "first");
  EXPECT_EQ(texts[1], std::string(2047, 'y'));
  EXPECT_EQ(texts[2], "0");
  EXPECT_EQ(texts[301], "299");
}

TEST(ReportTest, ErrorsCarryTheScriptNameAndLineAndAreCounted) {
  MessageSink sink;
  CompileUnit unit;
  unit.name = "x.gs";
  unit.sink = &sink;
  struct Case {
    bool isError;
    bool isWarning;
    int line;
    std::string message;
    std::string queued;
  };
  const std::string longText(300, 'm');
  const Case cases[] = {
      {true, false, 4, "parse error, line 4", "x.gs(4) : parse error, line 4"},
      {false, true, 12, "unused", "x.gs(12) : unused"},
      {false, false, 0, "", "x.gs(0) : "},
      {true, false, 1, longText, "x.gs(1) : " + std::string(255, 'm')},
  };
  for (const Case& c : cases) GSCompiler::ReportError(&unit, c.isError, c.isWarning, c.line, "%s", c.message.c_str());
  const std::vector<std::string> texts = Drain(sink);
  ASSERT_EQ(texts.size(), std::size(cases));
  for (std::size_t i = 0; i < texts.size(); ++i) EXPECT_EQ(texts[i], cases[i].queued) << i;
  EXPECT_EQ(unit.errors, 2);
  EXPECT_EQ(unit.warnings, 1);

  unit.sink = nullptr;  // counted, not queued
  GSCompiler::ReportError(&unit, true, false, 3, "lost");
  EXPECT_EQ(unit.errors, 3);
}

TEST(ReportTest, MessagesGoAsTheyAreToTheSinkOfTheCurrentUnit) {
  MessageSink sink;
  CompileUnit unit;
  unit.sink = &sink;
  GSCompiler::ReportMessage("dropped: no unit is being compiled");
  GSCompiler::gCurrentUnit = &unit;
  GSCompiler::ReportMessage("Could not read file %s %s.", "", "a.gs");
  GSCompiler::ReportMessage("%s", std::string(400, 'n').c_str());
  GSCompiler::gCurrentUnit = nullptr;
  EXPECT_EQ(Drain(sink), (std::vector<std::string>{"Could not read file  a.gs.", std::string(255, 'n')}));
  EXPECT_EQ(unit.errors, 0);
}

} // namespace
