#pragma once
// The program's exception and its two ways of writing an error to the log
// client "Velmar".
#include "Vak/Bexlorn/Exception.h"

class VelmarEx : public Vak::Exception {
public:
  explicit VelmarEx(const Vak::Exception& other) : Vak::Exception(other) {}

  // "Velmar Error".
  const char* ClassName() const override;
};

// Formats the message and writes it through the client "Velmar".
void VelmarLogError(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The same line, then throws a VelmarEx whose reason is the message (cut to
// the exception's reason area).
[[noreturn]] void VelmarLogThrow(const char* format, ...) __attribute__((format(printf, 1, 2)));
