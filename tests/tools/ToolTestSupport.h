#pragma once
// Fixtures of the tool tests: a temporary folder made the working folder for
// the test (the tools resolve their paths against it), and the standard
// output a piece of code printed.
#include <cstdio>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "platform/os/FileSystem.h"
#include "tests/cdp/PackageTestSupport.h"

namespace tooltest {

using cdptest::ListTree;
using cdptest::ReadBytes;
using cdptest::TempFolder;
using cdptest::WriteBytes;

class WorkingFolder {
public:
  explicit WorkingFolder(const std::string& path) {
    platform::CurrentFolder(previous_);
    platform::ChangeFolder(path.c_str());
  }
  ~WorkingFolder() { platform::ChangeFolder(previous_.c_str()); }
  WorkingFolder(const WorkingFolder&) = delete;
  WorkingFolder& operator=(const WorkingFolder&) = delete;

private:
  std::string previous_;
};

inline std::string Printed(const std::function<void()>& run) {
  std::fflush(stdout);
  testing::internal::CaptureStdout();
  try {
    run();
  } catch (...) {
    std::fflush(stdout);
    testing::internal::GetCapturedStdout();
    throw;
  }
  std::fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

} // namespace tooltest
