#pragma once
// The converter's own small content operations: numbers and text, running a
// program, byte counts and rates for a person, KUID texts and a
// reader/writer gate.
#include <cstdint>

#include "Vak/Bexlorn/PString.h"
#include "Vak/Bexlorn/String.h"
#include "Vak/Bexlorn/Sync.h"
#include "content/KUID.h"

namespace Vak {
class Options;
}

// v itself when it is a power of two or 0, else the next power of two above
// (0 past the largest).
uint32_t NextPowerOfTwo(uint32_t v);
// The tag has exactly `length` characters, equal to the text's first
// `length` ones without regard to ASCII case.
bool CompareTagText(const char* text, int length, const char* tag);
bool EqualTextNoCase(const char* a, int lengthA, const char* b, int lengthB);
// An optional '-', digits and at most one '.'; anything else gives 0.
float ParseFloatText(const char* text, int length);
// An optional '-' and digits; anything else gives 0.
int32_t ParseIntText(const char* text, int length);
// Starts the program (null: the command line's first word) with the command
// line's words as its arguments, without a shell; blanks separate words and
// single or double quotes group them. -1 when it cannot start; with `wait`
// its exit code once it ended, else 0.
int RunProgramAndWait(const char* program, const char* commandLine, bool wait);
// Makes the folder "bin" beside the program's folder the current folder when
// there is one; false otherwise.
bool GetProgramBinFolder();
Vak::PString FormatByteCount(int64_t bytes);
Vak::PString FormatTransferRate(int64_t bytesPerSecond);
// Frames counted and seconds run, for the average that LogAverageFrameRate
// reports; nothing in the converter advances them.
struct FrameStatistics {
  double frames = 0;
  double seconds = 0;
};
FrameStatistics& RunFrameStatistics();
void LogAverageFrameRate();
// The "kuid" value of a config file; the null KUID when the file is not
// there or has none.
KUID ReadConfigKuid(const char* path);
Vak::PString KuidToHtmlText(const KUID& kuid);

// A reader/writer gate: holders, whether the holder is exclusive, writers
// waiting, the lock and the event that waiters wait on.
struct Gate {
  int32_t holders = 0;
  bool exclusive = false;
  int32_t waitingWriters = 0;
  Vak::CriticalSection lock;
  Vak::WEvent event{true, false, nullptr};
};
bool TryAcquireGate(Gate& gate, bool exclusive);
