#include "content/ResultsLog.h"

#include <cstring>

class ResultsLog::Hold {
public:
  explicit Hold(const ResultsLog& log) : log_(log) { log_.Lock(); }
  ~Hold() { log_.Unlock(); }
  Hold(const Hold&) = delete;
  Hold& operator=(const Hold&) = delete;

private:
  const ResultsLog& log_;
};

void ResultsLog::Lock() const {
  section_.Lock();
  ++depth_;
}

void ResultsLog::Unlock() const {
  --depth_;
  section_.Unlock();
}

ResultsLog::~ResultsLog() {
  Hold hold(*this);
  NuMessageData message(NuMessageListDestroyed(), this);
  SendToPipes(message);
  context_.clear();
  lines_.Clear();
  // The base closes the pipes once the log's own parts are gone.
}

ResultsLog& ResultsLog::operator=(const ResultsLog& other) {
  if (this == &other) return *this;
  Hold hold(*this);
  {
    Hold holdOther(other);
    Lines copy(other.lines_);  // each line takes its own property reference
    lines_.Swap(copy);
    warnings_ = other.warnings_;
    errors_ = other.errors_;
    results_ = other.results_;
  }
  allLinesSeen_ = 0;
  return *this;
}

void ResultsLog::ExpandMacro(const char* value, Vak::AnsiString& text, const char* name) {
  Vak::AnsiString macro;
  macro.Setf("$(%s)", name ? name : "");
  const unsigned macroLength = macro.Size();
  const unsigned valueLength = value ? static_cast<unsigned>(std::strlen(value)) : 0;
  unsigned start = 0;
  for (;;) {
    const unsigned length = text.Size();
    if (start >= length) return;
    const char* chars = text;
    const int found = Vak::AnsiString::FindIgnoreCase(chars + start, length - start, macro, macroLength);
    if (found < 0) return;
    const unsigned at = start + static_cast<unsigned>(found);
    text.Del(at, macroLength);
    if (valueLength) text.Insert(value, at);
    start = at + valueLength;
  }
}

namespace {
std::atomic<ResultsLog::TextResolver> gTextResolver{nullptr};
} // namespace

void ResultsLog::SetTextResolver(TextResolver resolver) { gTextResolver.store(resolver); }

ResultsLog::TextResolver ResultsLog::GetTextResolver() { return gTextResolver.load(); }

bool ResultsLog::IsInterfaceTextKey(const char* text) {
  if (!text || text[0] != '$' || text[1] == 0) return false;
  for (const char* c = text + 1; *c; ++c) {
    const bool word = (*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') || (*c >= '0' && *c <= '9') || *c == '_';
    if (!word) return false;
  }
  return true;
}

void ResultsLog::AddMessage(int32_t severity, VelmarProperty* property, const char* text,
                            const ACSChunkPtr& parameters) {
  // Looked up before the log's lock is taken: the interface text has a lock
  // of its own.
  Vak::PString resolved;
  if (const TextResolver resolver = gTextResolver.load(); resolver && IsInterfaceTextKey(text)) {
    resolved = resolver(Vak::PString(text));
    if (resolved.Length() > 0) text = resolved.c_str();
  }
  Hold hold(*this);
  Line line;
  line.severity = severity;
  if (property) {
    line.property = VelmarPropertyPtr(property);
  } else if (!context_.empty()) {
    line.property = context_.back();
  }

  Vak::AnsiString expanded(text);
  const int count = parameters.GetChildCount();
  for (int i = 0; i < count; ++i) {
    Vak::PString name = parameters.GetChildName(i);
    Vak::PString value = parameters.GetChildString(name);
    name.ToUpper();
    ExpandMacro(value.c_str(), expanded, name.c_str());
  }
  line.text = std::move(expanded);
  lines_.Append(std::move(line));

  switch (severity) {
    case kWarning: ++warnings_; break;
    case kError: ++errors_; break;
    case kResult: ++results_; break;
    default: break;
  }
  allLinesSeen_ = 0;

  NuMessageData message(NuMessageListUpdated(), this);
  SendToPipes(message);
}

void ResultsLog::PushProperty(VelmarProperty* property) {
  Hold hold(*this);
  context_.emplace_back(property);
}

void ResultsLog::PopProperty() {
  Hold hold(*this);
  if (!context_.empty()) context_.pop_back();
}

uint64_t ResultsLog::LineCount() const {
  Hold hold(*this);
  return lines_.Count();
}

int32_t ResultsLog::GetWarningCount() const {
  Hold hold(*this);
  return warnings_;
}

int32_t ResultsLog::GetErrorCount() const {
  Hold hold(*this);
  return errors_;
}

int32_t ResultsLog::GetResultCount() const {
  Hold hold(*this);
  return results_;
}

bool ResultsLog::AllLinesSeen() const {
  Hold hold(*this);
  return allLinesSeen_ != 0;
}

void ResultsLog::SetAllLinesSeen(bool seen) {
  Hold hold(*this);
  allLinesSeen_ = seen ? 1 : 0;
}
