#include "Vak/Bexlorn/FatalError.h"

#include "Vak/Bexlorn/FormatBuffer.h"
#include "Vak/Bexlorn/Version.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

namespace Vak {

namespace {


int AnswerEnd(const Exception&, const char*) { return 1; }

std::atomic<FatalErrorAnswer> gAnswer{AnswerEnd};
std::atomic<FatalErrorLogWriter> gLogWriter{nullptr};
std::atomic<bool> gWindowAvailable{true};
std::atomic<bool> gAccepted{false};
// Serialises the window between threads.
std::mutex gLock;

// The window's list: text added printf-style, split into lines at "\r\n";
// each line goes to the log as it is added.
class ReportList {
public:
  void Add(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    va_list args;
    va_start(args, format);
    FormatBuffer formatted(format, args);
    va_end(args);
    const char* text = formatted.Text();
    for (;;) {
      const char* end = std::strstr(text, "\r\n");
      if (end == nullptr) {
        // What follows the last line end is a line only when it holds something.
        if (*text != '\0') AddLine(text, std::strlen(text));
        return;
      }
      AddLine(text, static_cast<std::size_t>(end - text));
      text = end + 2;
    }
  }

  const std::string& Text() const { return text_; }

private:
  void AddLine(const char* line, std::size_t length) {
    std::string copy(line, length);
    if (FatalErrorLogWriter writer = gLogWriter.load()) writer(copy.c_str());
    text_ += copy;
    text_ += '\n';
  }

  std::string text_;
};

void FillReport(ReportList& list, const Exception& e) {
  if (e.File() != nullptr) list.Add("File: %s\r\n", e.File());
  if (e.Line() > 0) list.Add("Line: %d\r\n", e.Line());
  list.Add("Class: %s\r\n", e.ClassName());
  list.Add("Reason: %s\r\n", e.Reason());
  list.Add("Version: Vak v%s Build %s.%s\r\n", kVersion, kBuild, kBuildSuffix);
  const char* description = e.Description();
  if (description != nullptr && *description != '\0') list.Add("%s", description);
}

} // namespace

int ShowFatalError(const Exception& e) {
  // A second thread arriving while a window shows does not wait for it.
  if (!gWindowAvailable.exchange(false)) return 1;
  std::lock_guard<std::mutex> lock(gLock);
  if (gAccepted.load()) return 1;
  int result = 1;
  try {
    ReportList list;
    FillReport(list, e);
    std::fputs(list.Text().c_str(), stderr);
    std::fflush(stderr);
    // Anything but "continue" ends.
    result = gAnswer.load()(e, list.Text().c_str()) == 0 ? 0 : 1;
    if (result == 1) gAccepted.store(true);
  } catch (...) {
    std::fputs("Fatal Error: An error occurred trying to display the fatal error window! (0)\n", stderr);
    std::fflush(stderr);
    gAccepted.store(true);
    result = 1;
  }
  if (!gAccepted.load()) gWindowAvailable.store(true);
  return result;
}

bool FatalErrorAccepted() { return gAccepted.load(); }

FatalErrorAnswer SetFatalErrorAnswer(FatalErrorAnswer hook) {
  return gAnswer.exchange(hook != nullptr ? hook : AnswerEnd);
}

FatalErrorLogWriter SetFatalErrorLogWriter(FatalErrorLogWriter writer) { return gLogWriter.exchange(writer); }

} // namespace Vak
