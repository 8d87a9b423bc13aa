#include "datamanager/ErrorHandler.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "tests/datamanager/DataManagerSupport.h"

namespace {

using RUZLib::Container;
using RUZLib::ErrorHandler;
using RUZLib::ErrorRecord;
using RUZLib::Tag;

// Owners are only compared by address.
alignas(8) char gOwners[4];
Container* C(int i) { return reinterpret_cast<Container*>(&gOwners[i]); }
Tag* T(int i) { return reinterpret_cast<Tag*>(&gOwners[i]); }

enum Reporter { kContainerError, kTagError, kError, kContainerWarning, kTagWarning, kWarning, kContainerNote,
                kTagNote, kNote };

struct Step {
  Reporter reporter;
  const char* text;
  int owner;  // index into gOwners; ignored by the ownerless reporters
  bool recorded;
};

struct Expected {
  char role;  // 'c' container, 't' tag, '-' none
  int owner;
  const char* text;
  int severity;
};

struct Sequence {
  const char* name;
  std::vector<Step> steps;
  std::vector<Expected> records;
};

bool Report(ErrorHandler& handler, const Step& step) {
  const Vak::PString text(step.text);
  switch (step.reporter) {
    case kContainerError: return handler.ContainerError(text, C(step.owner));
    case kTagError: return handler.TagError(text, T(step.owner));
    case kError: return handler.Error(text);
    case kContainerWarning: return handler.ContainerWarning(text, C(step.owner));
    case kTagWarning: return handler.TagWarning(text, T(step.owner));
    case kWarning: return handler.Warning(text);
    case kContainerNote: return handler.ContainerNote(text, C(step.owner));
    case kTagNote: return handler.TagNote(text, T(step.owner));
    case kNote: return handler.Note(text);
  }
  return false;
}

const Sequence kSequences[] = {
    {"same text, same owner, same role records once",
     {{kContainerError, "x", 0, true}, {kContainerError, "x", 0, false}},
     {{'c', 0, "x", 3}}},
    {"a repeat is a repeat whatever the severity",
     {{kContainerError, "x", 0, true}, {kContainerWarning, "x", 0, false}, {kContainerNote, "x", 0, false}},
     {{'c', 0, "x", 3}}},
    {"two owners record twice",
     {{kContainerError, "x", 0, true}, {kContainerError, "x", 1, true}},
     {{'c', 0, "x", 3}, {'c', 1, "x", 3}}},
    {"the same address as container and as tag is two owners",
     {{kContainerWarning, "x", 0, true}, {kTagWarning, "x", 0, true}, {kTagError, "x", 0, false}},
     {{'c', 0, "x", 2}, {'t', 0, "x", 2}}},
    {"other texts of one owner all record",
     {{kTagError, "x", 0, true}, {kTagError, "y", 0, true}},
     {{'t', 0, "x", 3}, {'t', 0, "y", 3}}},
    {"ownerless after a tag record is dropped",
     {{kTagError, "x", 2, true}, {kError, "x", 0, false}, {kWarning, "x", 0, false}, {kNote, "x", 0, false}},
     {{'t', 2, "x", 3}}},
    {"ownerless twice records once",
     {{kWarning, "x", 0, true}, {kWarning, "x", 0, false}},
     {{'-', 0, "x", 2}}},
    {"an owner is not stopped by an ownerless record",
     {{kError, "x", 0, true}, {kContainerError, "x", 0, true}},
     {{'-', 0, "x", 3}, {'c', 0, "x", 3}}},
    {"notes are kept with severity 0",
     {{kNote, "n", 0, true}, {kTagNote, "n2", 1, true}, {kContainerNote, "n3", 1, true}},
     {{'-', 0, "n", 0}, {'t', 1, "n2", 0}, {'c', 1, "n3", 0}}},
};

void PrintTo(const Sequence& s, std::ostream* os) { *os << s.name; }

class ErrorHandlerSequences : public ::testing::TestWithParam<Sequence> {};

TEST_P(ErrorHandlerSequences, RecordsAndResults) {
  ErrorHandler handler;
  const Sequence& sequence = GetParam();
  for (std::size_t i = 0; i < sequence.steps.size(); ++i)
    EXPECT_EQ(Report(handler, sequence.steps[i]), sequence.steps[i].recorded) << "step " << i;
  const auto& records = handler.GetMessages();
  ASSERT_EQ(records.size(), sequence.records.size());
  for (std::size_t i = 0; i < records.size(); ++i) {
    const Expected& expected = sequence.records[i];
    EXPECT_STREQ(records[i]->text.c_str(), expected.text) << i;
    EXPECT_EQ(records[i]->severity, expected.severity) << i;
    EXPECT_EQ(records[i]->container, expected.role == 'c' ? C(expected.owner) : nullptr) << i;
    EXPECT_EQ(records[i]->tag, expected.role == 't' ? T(expected.owner) : nullptr) << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Table, ErrorHandlerSequences, ::testing::ValuesIn(kSequences),
                         [](const auto& info) {
                           std::string name;
                           for (const char* c = info.param.name; *c; ++c)
                             name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
                           return name;
                         });

TEST(ErrorHandler, RemoveContainerMessageTakesOnlyTheFirstOfThatOwner) {
  ErrorHandler handler;
  handler.ContainerError("a", C(0));
  handler.TagError("b", T(0));
  handler.ContainerWarning("c", C(0));
  handler.ContainerError("d", C(1));
  handler.RemoveContainerMessage(C(0));
  std::vector<std::string> texts;
  for (const ErrorRecord* record : handler.GetMessages()) texts.push_back(record->text.c_str());
  EXPECT_EQ(texts, (std::vector<std::string>{"b", "c", "d"}));
  handler.RemoveContainerMessage(C(0));
  handler.RemoveContainerMessage(C(3));  // none: nothing
  texts.clear();
  for (const ErrorRecord* record : handler.GetMessages()) texts.push_back(record->text.c_str());
  EXPECT_EQ(texts, (std::vector<std::string>{"b", "d"}));
  // Null owns no record.
  handler.RemoveTagMessage(nullptr);
  handler.RemoveContainerMessage(nullptr);
  EXPECT_EQ(handler.GetMessages().size(), 2u);
  handler.RemoveTagMessage(T(0));
  ASSERT_EQ(handler.GetMessages().size(), 1u);
  EXPECT_STREQ(handler.GetMessages()[0]->text.c_str(), "d");
  // A removed record no longer stops a repeat.
  EXPECT_TRUE(handler.ContainerError("a", C(0)));
}

TEST(ErrorHandler, HasNoMessageAssignAndClear) {
  ErrorHandler handler;
  handler.TagWarning("w", T(1));
  EXPECT_FALSE(handler.HasNoMessage("w"));
  EXPECT_TRUE(handler.HasNoMessage("v"));
  ErrorHandler::MessageList handed{new ErrorRecord{C(2), nullptr, "h", ErrorRecord::kError}};
  handler.Clear();
  handler.AssignMessages(handed);
  ASSERT_EQ(handler.GetMessages().size(), 1u);
  EXPECT_FALSE(handler.ContainerError("h", C(2)));
  EXPECT_TRUE(handler.Trace("now exporting the container %s", "c"));
  EXPECT_TRUE(handler.TraceDetail("we're now doing the tag: %s", "t"));
  EXPECT_EQ(handler.GetMessages().size(), 1u);
  handler.Clear();
  EXPECT_TRUE(handler.GetMessages().empty());
}

TEST(ErrorHandler, CreateDestroyInstance) {
  EXPECT_EQ(ErrorHandler::Instance(), nullptr);
  EXPECT_TRUE(ErrorHandler::Create());
  ASSERT_NE(ErrorHandler::Instance(), nullptr);
  EXPECT_FALSE(ErrorHandler::Instance()->Echo());
  ErrorHandler::Instance()->Error("kept until destroyed");
  ErrorHandler::Destroy();
  EXPECT_EQ(ErrorHandler::Instance(), nullptr);
  ErrorHandler::Destroy();  // nothing
}

struct EchoCase {
  bool echo;
  Reporter reporter;
  const char* expected;
};

TEST(ErrorHandler, EchoPrintsThePrefixAndTheText) {
  datamanager::test::DataFolder folder;
  folder.WriteData("stringtable.txt", [] {
    return datamanager::test::StringTableText({{125, "E> "}, {126, "W> "}, {127, "N> "}});
  }());
  datamanager::test::StartedDataManager manager(folder);
  ASSERT_TRUE(manager.Started());
  const EchoCase cases[] = {
      {true, kContainerError, "E> text\n"}, {true, kTagWarning, "W> text\n"}, {true, kNote, "N> text\n"},
      {false, kContainerError, ""},         {true, kTagError, "E> text\n"},
  };
  for (const EchoCase& c : cases) {
    ErrorHandler handler;
    handler.SetEcho(c.echo);
    ::testing::internal::CaptureStdout();
    EXPECT_TRUE(Report(handler, {c.reporter, "text", 0, true}));
    EXPECT_FALSE(Report(handler, {c.reporter, "text", 0, false}));  // a repeat echoes nothing
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.expected);
  }
}

TEST(ErrorHandler, ShortStringTableEchoesWithoutPrefix) {
  datamanager::test::DataFolder folder;
  folder.WriteData("stringtable.txt", datamanager::test::StringTableText({{0, "zero"}}));
  datamanager::test::StartedDataManager manager(folder);
  ASSERT_TRUE(manager.Started());
  ErrorHandler handler;
  handler.SetEcho(true);
  ::testing::internal::CaptureStdout();
  EXPECT_TRUE(handler.ContainerError("text", C(0)));
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "text\n");
}

} // namespace
