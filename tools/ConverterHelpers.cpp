#include "tools/ConverterHelpers.h"

#include <cstring>
#include <string>
#include <vector>

#include "Vak/Bexlorn/CodePage.h"
#include "Vak/Bexlorn/File.h"
#include "assetdb/InterfaceTextDB.h"
#include "content/ACSChunkPtr.h"
#include "content/PowerOfTwo.h"
#include "content/TextHelpers.h"
#include "content/VelmarEx.h"
#include "platform/os/Process.h"
#include "platform/os/Program.h"
#include "platform/os/NativePath.h"

uint32_t NextPowerOfTwo(uint32_t v) {
  if (IsPowerOfTwo(v)) return v;
  uint32_t power = 1;
  while (power != 0 && power < v) power <<= 1;
  return power;
}

bool CompareTagText(const char* text, int length, const char* tag) {
  if (!text) return false;
  if (!tag) {
    VelmarLogError("comptagstr> null str");
    return false;
  }
  return EqualTextNoCase(text, length, tag, static_cast<int>(std::strlen(tag)));
}

bool EqualTextNoCase(const char* a, int lengthA, const char* b, int lengthB) {
  if (lengthA != lengthB) return false;
  return lengthA <= 0 || Vak::CodePage::AsciiEqualsIgnoreCase(a, b, static_cast<std::size_t>(lengthA));
}

float ParseFloatText(const char* text, int length) {
  int i = 0;
  const bool negative = length > 0 && text[0] == '-';
  if (negative) i = 1;
  double value = 0;
  double weight = 0;  // 0 before the '.'
  for (; i < length; ++i) {
    const char c = text[i];
    if (c == '.' && weight == 0) {
      weight = 0.1;
    } else if (c >= '0' && c <= '9') {
      if (weight == 0) {
        value = value * 10 + (c - '0');
      } else {
        value += (c - '0') * weight;
        weight /= 10;
      }
    } else {
      return 0.0f;
    }
  }
  return static_cast<float>(negative ? -value : value);
}

int32_t ParseIntText(const char* text, int length) {
  int i = 0;
  const bool negative = length > 0 && text[0] == '-';
  if (negative) i = 1;
  uint32_t value = 0;  // wraps as the 32-bit register does
  for (; i < length; ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') return 0;
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  return static_cast<int32_t>(negative ? 0u - value : value);
}

namespace {

std::vector<std::string> SplitWords(const char* text) {
  std::vector<std::string> words;
  if (!text) return words;
  const char* p = text;
  for (;;) {
    while (*p == ' ' || *p == '\t') ++p;
    if (!*p) break;
    std::string word;
    while (*p && *p != ' ' && *p != '\t') {
      if (*p == '"' || *p == '\'') {
        const char quote = *p++;
        while (*p && *p != quote) word += *p++;
        if (*p) ++p;
      } else {
        word += *p++;
      }
    }
    words.push_back(std::move(word));
  }
  return words;
}

} // namespace

int RunProgramAndWait(const char* program, const char* commandLine, bool wait) {
  std::vector<std::string> arguments = SplitWords(commandLine);
  if (program) {
    if (arguments.empty()) arguments.emplace_back(program);
    else arguments[0] = program;
  }
  if (arguments.empty()) return -1;
  arguments[0] = platform::ResolvePath(arguments[0].c_str());
  platform::Process process;
  if (process.Start(arguments) != platform::Error::None) return -1;
  if (!wait) return 0;
  // The exit code is looked at every 200 ms while the program runs.
  while (!process.Wait(200)) {
  }
  return process.ExitCode();
}

bool GetProgramBinFolder() {
  const std::string program = platform::ProgramPath();
  if (program.empty()) return false;
  Vak::File::Path folder(program.c_str());
  folder.DelName(true);
  folder.DelName(false);
  folder.AddPath("bin");
  if (Vak::File::Exists(folder).Value() != 0) return false;
  return Vak::File::ChDir(folder);
}

namespace {

Vak::PString Text(const char* key) { return GetInterfaceString(Vak::PString(key)); }

} // namespace

Vak::PString FormatByteCount(int64_t bytes) {
  if (bytes < 0) return Text("$cm_unknown");
  Vak::PString out;
  if (bytes < 1024) {
    out.Setf("%d %s", static_cast<int>(bytes), Text("$cm_general_bytes").c_str());
    return out;
  }
  double value = bytes / 1024.0;
  const char* unit = "$cm_general_kilobytes";
  if (value > 1024) {
    value /= 1024;
    unit = "$cm_general_megabytes";
    if (value > 1024) {
      value /= 1024;
      unit = "$cm_general_gigabytes";
    }
  }
  out.Setf("%.2f %s", value, Text(unit).c_str());
  return out;
}

Vak::PString FormatTransferRate(int64_t bytesPerSecond) {
  double value = static_cast<double>(bytesPerSecond);
  const char* key = "$cm_general_bps";
  const char* parameter = "$(BYTES)";
  if (bytesPerSecond >= 1024) {
    value /= 1024;
    key = "$cm_general_kbps";
    parameter = "$(KILOBYTES)";
    if (value > 1024) {
      value /= 1024;
      key = "$cm_general_mbps";
      parameter = "$(MEGABYTES)";
    }
  }
  Vak::PString text = Text(key);
  ReplaceFirstf(text, parameter, "%.2f", value);
  return text;
}

FrameStatistics& RunFrameStatistics() {
  static FrameStatistics statistics;
  return statistics;
}

void LogAverageFrameRate() {
  const FrameStatistics& run = RunFrameStatistics();
  if (run.seconds > 0) VelmarLogError("VelmarLogEnd> Averaged %ffps over %fsec", run.frames / run.seconds, run.seconds);
}

KUID ReadConfigKuid(const char* path) {
  if (Vak::File::Exists(path).Value() != 0) return KUID::Null();
  ACSChunkPtr config;
  config.Load(nullptr, path);
  return config.GetChildKUID(Vak::PString("kuid"), KUID::Null());
}

Vak::PString KuidToHtmlText(const KUID& kuid) {
  if (kuid.IsNull()) return Vak::PString("&#60;NULL KUID&#62;");
  // The config text's form with its angle brackets written as entities.
  const Vak::PString config = kuid.ToConfigText();
  const std::string inner(config.c_str() + 1, config.Length() - 2);
  return Vak::PString(("&#60;" + inner + "&#62;").c_str());
}

bool TryAcquireGate(Gate& gate, bool exclusive) {
  gate.lock.Lock();
  const bool granted = exclusive ? gate.holders == 0 : !(gate.holders > 0 && gate.exclusive) && gate.waitingWriters == 0;
  if (granted) {
    ++gate.holders;
    gate.exclusive = exclusive;
    gate.event.Reset();
  }
  gate.lock.Unlock();
  return granted;
}
