#include "Vak/Bexlorn/Log.h"

#include <atomic>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Vak/Bexlorn/CodePage.h"
#include "Vak/Bexlorn/FatalError.h"
#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/FormatBuffer.h"
#include "Vak/Bexlorn/Options.h"
#include "Vak/Bexlorn/Sync.h"
#include "Vak/Bexlorn/Time.h"
#include "Vak/Bexlorn/Version.h"
#include "platform/os/Thread.h"

namespace Vak {

namespace {


const char kLevelChars[] = " !?+-";
const char* const kLevelNames[] = {"None", "Err ", "Warn", "Diag", "Prog"};
constexpr int kMaxLevel = kLogProg;

const char kExceptionHandler[] = "ExceptionHandler";

struct LogState {
  // Never deleted: a line written by another thread while the log shuts down
  // still finds its lock.
  CriticalSection lock{"Log"};
  std::vector<LogClient*> clients;
  File* file = nullptr;
  std::atomic<bool> fileOpen{false};  // read without the lock to skip formatting
  std::atomic<FILE*> stream{nullptr};
  double start = 0;
  std::atomic<bool> started{false};
  bool initialised = false;
  bool disabled = false;
  bool flush = true;
  bool displayModuleName = true;
};

LogState& State() {
  static LogState* state = new LogState;
  return *state;
}

int ClampLevel(int level) { return level < 0 ? 0 : level > kMaxLevel ? kMaxLevel : level; }

// Field of `length` characters equal to `word` without regard to case.
bool FieldIs(const char* field, unsigned length, const char* word) {
  return std::strlen(word) == length && CodePage::CompareIgnoreCaseN(field, word, length) == 0;
}

void WriteFatalLine(const char* line) {
  LogState& state = State();
  // Held across the write so Shutdown cannot delete the client meanwhile.
  SingleLock guard(&state.lock, true);
  Log::GetClient(kExceptionHandler)->Output(kLogErr, "%s", line);
}

} // namespace

// --- LogClient --------------------------------------------------------------

LogClient::LogClient(const char* name)
    : name_(name), format_(kFormatNewline | (State().displayModuleName ? kFormatPrefix : 0)) {}

bool LogClient::Passes(int level) const { return threshold_ >= level && outputs_ != 0; }

void LogClient::Output(int level, const char* format, ...) {
  if (!Passes(level)) return;
  va_list args;
  va_start(args, format);
  Write(level, format, args);
  va_end(args);
}

void LogClient::OutputString(const char* format, ...) {
  va_list args;
  va_start(args, format);
  Write(level_, format, args);
  va_end(args);
}

void LogClient::Write(int level, const char* format, va_list args) {
  LogState& state = State();
  const bool toFile = (outputs_ & kOutputFile) && state.fileOpen.load(std::memory_order_relaxed);
  if (!toFile && state.stream.load(std::memory_order_relaxed) == nullptr) return;

  char prefix[128];
  int prefixLength = 0;
  if (format_ & kFormatPrefix) {
    double elapsed = 0;
    if (state.started.load(std::memory_order_acquire)) elapsed = Time::GetSeconds() - state.start;
    if (!(elapsed > 0)) elapsed = 0;
    double minutes = std::floor(elapsed / 60.0);
    double seconds = elapsed - minutes * 60.0;
    if (seconds < 0) seconds = 0;
    // A remainder that prints as 60.0 is the next whole minute.
    if (seconds >= 59.9) {
      char printed[16];
      std::snprintf(printed, sizeof printed, "%04.1f", seconds);
      if (std::strcmp(printed, "60.0") >= 0) {
        minutes += 1;
        seconds = 0;
      }
    }
    prefixLength = std::snprintf(prefix, sizeof prefix, "%c %08X %s %3.0f:%04.1f %-15.15s : ", Log::LevelChar(level),
                                 platform::CurrentThreadId(), Log::LevelName(level), minutes, seconds,
                                 static_cast<const char*>(name_));
    if (prefixLength < 0) prefixLength = 0;
    if (prefixLength >= static_cast<int>(sizeof prefix)) prefixLength = sizeof prefix - 1;
  }
  FormatBuffer message(format, args);

  // The whole line in one piece, on the stack when it fits.
  char local[sizeof prefix + FormatBuffer::kLocalSize + 2];
  std::unique_ptr<char[]> heap;
  char* line = local;
  const std::size_t room = static_cast<std::size_t>(prefixLength) + message.Length() + 3;
  if (room > sizeof local) {
    heap.reset(new char[room]);
    line = heap.get();
  }
  std::size_t length = static_cast<std::size_t>(prefixLength);
  std::memcpy(line, prefix, length);
  std::memcpy(line + length, message.Text(), message.Length());
  length += message.Length();
  if (format_ & kFormatNewline) {
    line[length++] = '\r';
    line[length++] = '\n';
  }
  line[length] = '\0';
  Log::WriteLine(*this, line, static_cast<unsigned>(length));
}

void LogClient::Configure(const char* field, unsigned length) {
  for (int level = 0; level <= kMaxLevel; ++level) {
    // The level names without the padding of "Err ".
    static const char* const kWords[] = {"None", "Err", "Warn", "Diag", "Prog"};
    if (FieldIs(field, length, kWords[level])) {
      threshold_ = level;
      return;
    }
  }
  const char* equals = static_cast<const char*>(std::memchr(field, '=', length));
  const unsigned nameLength = equals ? static_cast<unsigned>(equals - field) : length;
  const bool on = !(equals && FieldIs(equals, length - nameLength, "=off"));
  uint8_t* flags = nullptr;
  uint8_t bit = 0;
  if (FieldIs(field, nameLength, "mono")) flags = &outputs_, bit = kOutputDebugger;
  else if (FieldIs(field, nameLength, "window")) flags = &outputs_, bit = kOutputWindow;
  else if (FieldIs(field, nameLength, "file")) flags = &outputs_, bit = kOutputFile;
  else if (FieldIs(field, nameLength, "newlines")) flags = &format_, bit = kFormatNewline;
  else if (FieldIs(field, nameLength, "displaymodulename")) flags = &format_, bit = kFormatPrefix;
  if (!flags) return;
  *flags = on ? (*flags | bit) : (*flags & ~bit);
}

// --- Log --------------------------------------------------------------------

void Log::WriteLine(LogClient& client, const char* text, unsigned length) {
  LogState& state = State();
  if (client.outputs_ & LogClient::kOutputFile) {
    SingleLock guard(&state.lock, true);
    if (state.file && !client.busy_) {
      struct Busy {
        uint8_t& flag;
        explicit Busy(uint8_t& f) : flag(f) { flag = 1; }
        ~Busy() { flag = 0; }
      } busy(client.busy_);
      state.file->WriteText(text);
      if (state.flush) state.file->Flush();
    }
  }
  if (FILE* stream = state.stream.load(std::memory_order_relaxed)) {
    std::fwrite(text, 1, length, stream);
  }
}

void Log::Init(Options* options) {
  LogState& state = State();
  SingleLock guard(&state.lock, true);
  if (state.initialised) return;

  state.start = Time::GetSeconds();
  state.started.store(true, std::memory_order_release);

  char banner[256];
  // The build date and time are 8-bit text whatever the file's encoding.
  std::snprintf(banner, sizeof banner, "Vak v%s Build %s.%s on %s at %s.\r\n\r\n", kVersion, kBuild, kBuildSuffix,
                __DATE__, __TIME__);

  String fileName(kDefaultFileName);
  bool ansi = false;
  bool noLog = false;
  if (options) {
    options->Get("LogFlush", state.flush);
    options->Get("LogDisplayModuleName", state.displayModuleName);
    ansi = options->Find("LogAnsi") != nullptr;
    options->Get("LogFile", fileName);
    noLog = options->Find("NoLog") != nullptr;
  }

  state.disabled = true;
  if (fileName.Size() > 0) {
    auto file = std::make_unique<File>();
    if (file->Open(fileName, File::kWrite | File::kCreate, ansi ? File::kEncoding8Bit : File::kEncodingUtf16).Ok()) {
      if (!ansi) {
        static const uint8_t kByteOrderMark[2] = {0xFF, 0xFE};
        file->Write(kByteOrderMark, sizeof kByteOrderMark, 1);
      }
      file->WriteText(banner);
      if (noLog) {
        file->WriteText("Log Disabled.\r\n");
        file->Close();
      } else {
        file->WriteText("Begin:\r\n");
        file->Flush();
        state.file = file.release();
        state.fileOpen.store(true);
        state.disabled = false;
      }
    }
  }

  if (options) {
    if (options->Find("LogStdOut")) state.stream.store(stdout);
    if (options->Find("LogStdErr")) state.stream.store(stderr);
  }

  for (LogClient* client : state.clients) {
    client->format_ = state.displayModuleName ? (client->format_ | LogClient::kFormatPrefix)
                                              : (client->format_ & ~LogClient::kFormatPrefix);
  }

  if (options) {
    options->SetSeparators("Log", ",");
    String value;
    while (options->GetNext("Log", value)) ConfigureClient(value);
  }

  state.initialised = true;
  SetFatalErrorLogWriter(&WriteFatalLine);
}

void Log::Shutdown() {
  LogState& state = State();
  FatalErrorLogWriter previous = SetFatalErrorLogWriter(nullptr);
  if (previous != &WriteFatalLine) SetFatalErrorLogWriter(previous);

  SingleLock guard(&state.lock, true);
  state.initialised = false;
  if (state.file) {
    state.fileOpen.store(false);
    state.file->WriteText("End.\r\n");
    state.file->Close();
    delete state.file;
    state.file = nullptr;
  }
  for (LogClient* client : state.clients) delete client;
  state.clients.clear();
  // Back to the state before Init, so a later Init starts afresh.
  state.started.store(false);
  state.start = 0;
  state.disabled = false;
  state.flush = true;
  state.displayModuleName = true;
  state.stream.store(nullptr);
}

void Log::WriteShutdown() {
  LogState& state = State();
  SingleLock guard(&state.lock, true);
  if (!state.file) return;
  state.fileOpen.store(false);
  state.file->WriteText("Shutdown.\r\n");
  state.file->Close();
  delete state.file;
  state.file = nullptr;
}

void Log::SetStream(FILE* stream) { State().stream.store(stream); }

LogClient* Log::GetClient(const char* name) {
  if (!name) name = "";
  LogState& state = State();
  SingleLock guard(&state.lock, true);
  for (LogClient* client : state.clients) {
    if (CodePage::CompareIgnoreCase(client->name_, name) == 0) return client;
  }
  state.clients.push_back(new LogClient(name));
  return state.clients.back();
}

void Log::ConfigureClient(const char* value) {
  const char* colon = std::strchr(value, ':');
  const unsigned nameLength = colon ? static_cast<unsigned>(colon - value) : static_cast<unsigned>(std::strlen(value));
  if (nameLength == 0) return;
  const std::string name(value, nameLength);
  LogClient* client = Log::GetClient(name.c_str());
  while (colon) {
    const char* field = colon + 1;
    colon = std::strchr(field, ':');
    const unsigned length = colon ? static_cast<unsigned>(colon - field) : static_cast<unsigned>(std::strlen(field));
    client->Configure(field, length);
  }
}

bool Log::IsInitialised() {
  LogState& state = State();
  SingleLock guard(&state.lock, true);
  return state.initialised;
}

bool Log::IsDisabled() {
  LogState& state = State();
  SingleLock guard(&state.lock, true);
  return state.initialised && state.disabled;
}

char Log::LevelChar(int level) { return kLevelChars[ClampLevel(level)]; }

const char* Log::LevelName(int level) { return kLevelNames[ClampLevel(level)]; }

} // namespace Vak
