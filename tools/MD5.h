#pragma once
// Whole-message MD5 digests (RFC 1321), computed through OpenSSL's EVP
// interface. A digest is finalised once; misuse is reported on standard
// error and changes nothing.
#include <cstdint>
#include <cstdio>

#include "Vak/Bexlorn/PString.h"

struct evp_md_ctx_st;

class MD5 {
public:
  MD5();
  // Reads the stream to its end, closes it and finalises.
  explicit MD5(std::FILE* stream);
  ~MD5();
  MD5(const MD5&) = delete;
  MD5& operator=(const MD5&) = delete;

  void update(const unsigned char* input, unsigned int length);
  void update(std::FILE* stream);
  void finalize();
  // A new 33-byte text (32 hex digits) that the caller frees with free();
  // before finalisation an empty text.
  char* hex_digest();
  bool finalized() const { return finalized_; }

private:
  evp_md_ctx_st* context_;
  unsigned char digest_[16] = {};
  bool finalized_ = false;
};

// The digest of a plain file as 32 lower-case hex digits; the null string
// when it cannot be opened or read.
Vak::PString FileMD5Hex(const char* path);
// The digest of bytes in memory, as FileMD5Hex gives it.
Vak::PString BufferMD5Hex(const void* data, std::size_t length);
