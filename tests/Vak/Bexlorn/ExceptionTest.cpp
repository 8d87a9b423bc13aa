#include "Vak/Bexlorn/Exception.h"

#include <cstring>
#include <string>

#include <gtest/gtest.h>

namespace {

TEST(ExceptionTest, FreshExceptionAnswers) {
  Vak::Exception e("Vak/Bexlorn/File", 42, "Read() File is not open");
  EXPECT_STREQ(e.ClassName(), "Unknown");
  EXPECT_FALSE(e.IsHardwareException());
  EXPECT_STREQ(e.Description(), "No call stack available\r\n");
  EXPECT_STREQ(e.Reason(), "Read() File is not open");
  EXPECT_STREQ(e.File(), "Vak/Bexlorn/File");
  EXPECT_EQ(e.Line(), 42);
}

TEST(ExceptionTest, NullReasonAndFileAreEmpty) {
  Vak::Exception e(nullptr, 0, nullptr);
  EXPECT_STREQ(e.Reason(), "");
  EXPECT_EQ(e.File(), nullptr);
}

TEST(ExceptionTest, FileExFromExceptionKeepsFieldsAndAnswersFile) {
  Vak::Exception e("src", 7, "x");
  e.SetReason("Subst(%s) Closing non-existant subst?", "data");
  Vak::FileEx f(e);
  EXPECT_STREQ(f.ClassName(), "File");
  EXPECT_STREQ(f.Reason(), "Subst(data) Closing non-existant subst?");
  EXPECT_STREQ(f.Description(), "No call stack available\r\n");
  EXPECT_STREQ(f.File(), "src");
  EXPECT_EQ(f.Line(), 7);
  EXPECT_FALSE(f.IsHardwareException());
}

TEST(ExceptionTest, CopyAndAssignmentAreIndependentValues) {
  Vak::Exception a("a.cpp", 1, "first");
  Vak::Exception b(a);
  Vak::Exception c("c.cpp", 3, "third");
  c = b;
  a.SetReason("changed");
  EXPECT_STREQ(a.Reason(), "changed");
  EXPECT_STREQ(b.Reason(), "first");
  EXPECT_STREQ(c.Reason(), "first");
  EXPECT_STREQ(c.File(), "a.cpp");
  EXPECT_EQ(c.Line(), 1);
  EXPECT_STREQ(c.Description(), "No call stack available\r\n");
}

TEST(ExceptionTest, ThrownByValueAndCaughtThroughBase) {
  try {
    throw Vak::FileEx("f", 9, "Open() Subst not found");
  } catch (const Vak::Exception& e) {
    EXPECT_STREQ(e.ClassName(), "File");
    EXPECT_STREQ(e.Reason(), "Open() Subst not found");
  }
  // The thrown object is a copy: the original may be gone when it is caught.
  try {
    Vak::FileEx local("f", 9, "copied");
    throw local;
  } catch (const Vak::FileEx& e) {
    EXPECT_STREQ(e.Reason(), "copied");
    EXPECT_EQ(e.Line(), 9);
  }
  try {
    throw Vak::Exception("g", 2, "plain");
  } catch (const Vak::FileEx&) {
    FAIL() << "a plain exception is not a file exception";
  } catch (const Vak::Exception& e) {
    EXPECT_STREQ(e.ClassName(), "Unknown");
  }
}

// Reasons longer than the 256-character area are cut at 255, never overflow.
TEST(ExceptionTest, LongReasonsAreCut) {
  const std::string longText(1000, 'r');
  const std::string cut(Vak::Exception::kReasonSize - 1, 'r');

  Vak::Exception built("f", 1, longText.c_str());
  EXPECT_EQ(built.Reason(), cut);
  EXPECT_STREQ(built.Description(), "No call stack available\r\n");

  Vak::Exception formatted("f", 1, "");
  formatted.SetReason("%s-%s", longText.c_str(), longText.c_str());
  EXPECT_EQ(formatted.Reason(), cut);

  Vak::Exception exact("f", 1, cut.c_str());
  EXPECT_EQ(exact.Reason(), cut);
}

TEST(ExceptionTest, SetReasonMayUseTheCurrentReason) {
  Vak::Exception e("f", 1, "inner");
  e.SetReason("outer(%s) %d", e.Reason(), 5);
  EXPECT_STREQ(e.Reason(), "outer(inner) 5");
}

} // namespace
