#pragma once
// The process-wide log: one log file, an optional console stream and any
// number of named clients, each with its own level threshold and outputs.
//
// A line of level L goes through a client when the client's threshold is at
// least L and it has an output on; LogClient::Output applies that rule.
// Prefixed lines look like
//   "? 00001A2B Warn   0:05.2 Net             : text\r\n"
// (level character, thread id, level name, minutes:seconds since Init, the
// client's name cut or padded to 15).
#include <cstdarg>
#include <cstdint>
#include <cstdio>

#include "Vak/Bexlorn/String.h"

namespace Vak {

class Options;

enum LogLevel : int { kLogNone = 0, kLogErr = 1, kLogWarn = 2, kLogDiag = 3, kLogProg = 4 };

class LogClient {
public:
  // Output flags.
  static constexpr uint8_t kOutputFile = 0x01;
  static constexpr uint8_t kOutputDebugger = 0x02;  // no debugger output here: kept, written nowhere
  static constexpr uint8_t kOutputWindow = 0x08;    // no window writer here: kept, written nowhere
  // Format flags.
  static constexpr uint8_t kFormatNewline = 0x01;
  static constexpr uint8_t kFormatPrefix = 0x02;

  static constexpr int kDefaultThreshold = kLogWarn;

  LogClient(const LogClient&) = delete;
  LogClient& operator=(const LogClient&) = delete;

  const char* Name() const { return name_; }
  int Threshold() const { return threshold_; }
  void SetThreshold(int level) { threshold_ = level; }
  // The level of the line OutputString writes.
  int Level() const { return level_; }
  void SetLevel(int level) { level_ = level; }
  uint8_t Outputs() const { return outputs_; }
  void SetOutputs(uint8_t outputs) { outputs_ = outputs; }
  uint8_t Format() const { return format_; }
  void SetFormat(uint8_t format) { format_ = format; }

  // Whether a line of `level` goes through: the threshold is at least the
  // level and an output is on.
  bool Passes(int level) const;
  // The whole rule: writes the line at `level` when it passes. The current
  // level is left alone, so threads sharing a client do not race on it.
  void Output(int level, const char* format, ...) __attribute__((format(printf, 3, 4)));
  // Formats and writes one line at the current level, unchecked.
  void OutputString(const char* format, ...) __attribute__((format(printf, 2, 3)));

private:
  friend class Log;
  explicit LogClient(const char* name);
  void Write(int level, const char* format, va_list args) __attribute__((format(printf, 3, 0)));
  // One "Log" option value after the name: "Diag", "file=off", ...
  void Configure(const char* field, unsigned length);

  String name_;
  int32_t threshold_ = kDefaultThreshold;
  int32_t level_ = kLogNone;
  uint8_t busy_ = 0;  // set while this client's line goes into the file
  uint8_t outputs_ = kOutputFile | kOutputDebugger;
  uint8_t format_;
};

class Log {
public:
  static constexpr const char* kDefaultFileName = "VakLog.txt";

  // Opens the log from the options (null: the defaults): LogFlush,
  // LogDisplayModuleName, LogAnsi, LogFile, NoLog, LogStdOut, LogStdErr and
  // the list option Log ("Name:Level:setting=on|off,..."). Nothing happens
  // when the log is already open.
  static void Init(Options* options);
  // Writes "End.\r\n", closes the file and deletes every client; clients
  // handed out before are gone.
  static void Shutdown();
  // For the fatal-error path: "Shutdown.\r\n", then the file is closed.
  static void WriteShutdown();

  // Copies of every line go to `stream` as well (null: none).
  static void SetStream(FILE* stream);
  // The client of that name (compared without regard to case), created with
  // the defaults when absent. Valid until Shutdown.
  static LogClient* GetClient(const char* name);

  static bool IsInitialised();
  // Initialised without a file (no name, NoLog, or the file did not open).
  static bool IsDisabled();

  // " !?+-" and "None", "Err ", "Warn", "Diag", "Prog"; a level outside 0..4
  // counts as the nearest one.
  static char LevelChar(int level);
  static const char* LevelName(int level);

private:
  friend class LogClient;
  static void WriteLine(LogClient& client, const char* text, unsigned length);
  // One value of the Log option: "Name:field:field...".
  static void ConfigureClient(const char* value);
};

} // namespace Vak
