#include "util/ResultsPrinting.h"

#include "content/KUID.h"
#include "content/ResultsLog.h"

namespace {

const char* SeverityPrefix(int32_t severity) {
  switch (severity) {
    case ResultsLog::kNote: return "; ";
    case ResultsLog::kWarning: return "! ";
    case ResultsLog::kError: return "- ";
    case ResultsLog::kResult: return "+ ";
    default: return "";
  }
}

} // namespace

void PrintResultsLog(const ResultsLog& log, std::FILE* out) {
  log.Lock();
  int errors = 0;
  int warnings = 0;
  for (const ResultsLog::Line& line : log.GetLines()) {
    Vak::PString assetText("<NULL>");
    if (const VelmarProperty* property = line.property.Get()) {
      Vak::PString value;
      property->GetValueText(value);
      assetText = KUID::Parse(value.c_str(), false).ToConfigText();
    }
    std::fprintf(out, "%s%s : %s\n", SeverityPrefix(line.severity), assetText.c_str(), static_cast<const char*>(line.text));
    if (line.severity == ResultsLog::kError) ++errors;
    if (line.severity == ResultsLog::kWarning) ++warnings;
  }
  std::fprintf(out, "OK (%d Errors, %d Warnings)\n", errors, warnings);
  std::fflush(out);
  log.Unlock();
}
