#include "content/VelmarEx.h"

#include <cstdarg>

#include "Vak/Bexlorn/FormatBuffer.h"
#include "Vak/Bexlorn/Log.h"

namespace {

constexpr const char kClientName[] = "Velmar";
constexpr const char kThrowFile[] = ".\\VelmarLog";
constexpr int kThrowLine = 53;

// The client is looked up for every line rather than kept: Log::Shutdown
// deletes clients, and the log may be opened again afterwards.
void WriteLine(const char* text) {
  // Output at a fixed level leaves the client's current level alone, so
  // threads writing errors at once do not race on it.
  Vak::Log::GetClient(kClientName)->Output(Vak::kLogWarn, "%s", text);
}

} // namespace

const char* VelmarEx::ClassName() const { return "Velmar Error"; }

void VelmarLogError(const char* format, ...) {
  va_list args;
  va_start(args, format);
  Vak::FormatBuffer text(format, args);
  va_end(args);
  WriteLine(text.Text());
}

void VelmarLogThrow(const char* format, ...) {
  va_list args;
  va_start(args, format);
  Vak::FormatBuffer text(format, args);
  va_end(args);
  WriteLine(text.Text());
  throw VelmarEx(Vak::Exception(kThrowFile, kThrowLine, text.Text()));
}
