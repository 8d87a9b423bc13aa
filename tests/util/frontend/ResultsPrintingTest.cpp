#include <gtest/gtest.h>

#include <string>

#include "content/ResultsLog.h"
#include "tests/util/frontend/PrintedLog.h"
#include "util/AssetReports.h"

namespace {

TEST(ResultsPrintingTest, EmptyLogPrintsOnlyTheCountLine) {
  ResultsLog log;
  EXPECT_EQ(PrintedLog(log), "OK (0 Errors, 0 Warnings)\n");
}

TEST(ResultsPrintingTest, PrefixesAssetAndCounts) {
  ResultsLog log;
  log.AddMessage(ResultsLog::kNote, nullptr, "a note");
  log.AddMessage(ResultsLog::kWarning, nullptr, "a warning");
  AddAssetError(log, "an error", KUID(414141, 7, 0));
  AddAssetError(log, "versioned", KUID(414141, 7, 3));
  AddAssetError(log, "null", KUID::Null());
  log.AddMessage(ResultsLog::kResult, nullptr, "a result");
  log.AddMessage(9, nullptr, "odd severity");
  log.AddMessage(ResultsLog::kError, nullptr, "two lines\n");
  // "OK" even with errors counted.
  EXPECT_EQ(PrintedLog(log),
            "; <NULL> : a note\n"
            "! <NULL> : a warning\n"
            "- <kuid:414141:7> : an error\n"
            "- <kuid2:414141:7:3> : versioned\n"
            "- <NULL> : null\n"
            "+ <NULL> : a result\n"
            "<NULL> : odd severity\n"
            "- <NULL> : two lines\n\n"
            "OK (4 Errors, 1 Warnings)\n");
}

} // namespace
