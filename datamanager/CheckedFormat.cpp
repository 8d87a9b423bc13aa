#include "datamanager/CheckedFormat.h"

#include <cstdio>
#include <cstring>

namespace RUZLib {

namespace {

struct Conversion {
  std::size_t begin = 0;  // at the '%'
  std::size_t end = 0;    // behind the conversion character
  char conversion = 0;    // '%' for a literal percent sign
};

char KindOf(char conversion) {
  switch (conversion) {
    case 's': return kArgText;
    case 'c': case 'd': case 'i': case 'u': case 'x': case 'X': return kArgInt;
    case 'f': case 'F': case 'g': case 'G': case 'e': case 'E': return kArgDouble;
    default: return 0;
  }
}

// The conversion starting at `at` (a '%'); false when it is not one we take.
bool ReadConversion(std::string_view format, std::size_t at, Conversion& out) {
  std::size_t i = at + 1;
  auto digits = [&] {
    std::size_t n = 0;
    while (i < format.size() && format[i] >= '0' && format[i] <= '9') ++i, ++n;
    return n;
  };
  std::size_t flags = 0;
  while (i < format.size() && format[i] != 0 && std::strchr("-+ #0", format[i])) ++i, ++flags;
  if (flags > 5) return false;
  // Widths and precisions stay well inside what snprintf takes as an int.
  if (digits() > 4) return false;
  if (i < format.size() && format[i] == '.') {
    ++i;
    if (digits() > 4) return false;
  }
  if (i >= format.size()) return false;
  const char c = format[i];
  if (c == '%') {
    if (i != at + 1) return false;
  } else if (!KindOf(c)) {
    return false;
  }
  out.begin = at;
  out.end = i + 1;
  out.conversion = c;
  return true;
}

template <typename Visit>
bool ForEachConversion(std::string_view format, Visit visit) {
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') continue;
    Conversion conversion;
    if (!ReadConversion(format, i, conversion)) return false;
    visit(conversion);
    i = conversion.end - 1;
  }
  return true;
}

} // namespace

bool FormatConversions(std::string_view format, std::string& kinds) {
  kinds.clear();
  return ForEachConversion(format, [&](const Conversion& c) {
    if (c.conversion != '%') kinds.push_back(KindOf(c.conversion));
  });
}

bool FormatChecked(std::string_view format, std::string_view kinds, std::span<const FormatArg> args,
                   std::string& out) {
  std::string found;
  bool fits = FormatConversions(format, found) && found == kinds && args.size() == kinds.size();
  for (std::size_t i = 0; fits && i < args.size(); ++i) fits = args[i].kind == kinds[i];
  if (!fits) {
    out.assign(format);
    return false;
  }
  out.clear();
  std::size_t literal = 0;
  std::size_t next = 0;
  char spec[32];
  ForEachConversion(format, [&](const Conversion& c) {
    out.append(format.substr(literal, c.begin - literal));
    literal = c.end;
    if (c.conversion == '%') {
      out.push_back('%');
      return;
    }
    const std::size_t length = c.end - c.begin;  // at most 1 + 5 flags + 4 + 1 + 4 + 1
    std::memcpy(spec, format.data() + c.begin, length);
    spec[length] = 0;
    const FormatArg& arg = args[next++];
    auto append = [&](auto value) {
      const int n = std::snprintf(nullptr, 0, spec, value);
      if (n <= 0) return;
      std::string piece(static_cast<std::size_t>(n) + 1, '\0');
      std::snprintf(piece.data(), piece.size(), spec, value);
      piece.resize(static_cast<std::size_t>(n));
      out.append(piece);
    };
    switch (arg.kind) {
      case kArgText: append(arg.text); break;
      case kArgInt: append(arg.integer); break;
      default: append(arg.real); break;
    }
  });
  out.append(format.substr(literal));
  return true;
}

} // namespace RUZLib
