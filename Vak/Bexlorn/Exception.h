#pragma once
// The engine's exception: a self-contained value (no heap) thrown and caught
// by value. Texts are bounded by the fixed areas; longer ones are cut.
#include <cstddef>

namespace Vak {

class Exception {
public:
  static constexpr std::size_t kDescriptionSize = 4096;
  static constexpr std::size_t kReasonSize = 256;

  // `file` must outlive the exception (a literal such as __FILE__); may be null.
  Exception(const char* file, int line, const char* reason);
  Exception(const Exception& other) = default;
  Exception& operator=(const Exception& other) = default;
  virtual ~Exception();

  virtual const char* ClassName() const;
  virtual bool IsHardwareException() const;
  virtual const char* Description() const;
  virtual const char* Reason() const;

  // printf-style; the result is cut at kReasonSize - 1 characters.
  void SetReason(const char* format, ...) __attribute__((format(printf, 2, 3)));

  const char* File() const { return file_; }
  int Line() const { return line_; }

private:
  char description_[kDescriptionSize];
  char reason_[kReasonSize];
  bool hardware_ = false;
  int line_;
  const char* file_;
};

// Thrown by the file layer and the substitution list.
class FileEx : public Exception {
public:
  FileEx(const char* file, int line, const char* reason) : Exception(file, line, reason) {}
  explicit FileEx(const Exception& other) : Exception(other) {}

  const char* ClassName() const override;
};

} // namespace Vak
