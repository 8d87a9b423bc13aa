#include "tools/MD5.h"

#include <cstdlib>
#include <cstring>

#include <openssl/evp.h>

#include "platform/os/File.h"

namespace {

char* HexText(const unsigned char digest[16]) {
  char* text = static_cast<char*>(std::malloc(33));
  if (!text) return nullptr;
  static const char kDigits[] = "0123456789abcdef";
  for (int i = 0; i < 16; ++i) {
    text[2 * i] = kDigits[digest[i] >> 4];
    text[2 * i + 1] = kDigits[digest[i] & 15];
  }
  text[32] = 0;
  return text;
}

Vak::PString Adopt(char* text) {
  if (!text) return Vak::PString();
  Vak::PString result(text);
  std::free(text);
  return result;
}

} // namespace

MD5::MD5() : context_(EVP_MD_CTX_new()) {
  if (context_ && EVP_DigestInit_ex(context_, EVP_md5(), nullptr) != 1) {
    EVP_MD_CTX_free(context_);
    context_ = nullptr;
  }
}

MD5::MD5(std::FILE* stream) : MD5() {
  update(stream);
  if (stream) std::fclose(stream);
  finalize();
}

MD5::~MD5() { EVP_MD_CTX_free(context_); }

void MD5::update(const unsigned char* input, unsigned int length) {
  if (finalized_) {
    std::fprintf(stderr, "MD5::update:  Can't update a finalized digest!\n");
    return;
  }
  if (context_ && length > 0 && EVP_DigestUpdate(context_, input, length) != 1) {
    EVP_MD_CTX_free(context_);
    context_ = nullptr;
  }
}

void MD5::update(std::FILE* stream) {
  if (!stream) return;
  unsigned char buffer[1024];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, stream)) > 0) update(buffer, static_cast<unsigned int>(n));
  // A read error leaves the digest unusable: it must not match anything.
  if (std::ferror(stream)) {
    EVP_MD_CTX_free(context_);
    context_ = nullptr;
  }
}

void MD5::finalize() {
  if (finalized_) {
    std::fprintf(stderr, "MD5::finalize:  Already finalized this digest!\n");
    return;
  }
  unsigned int length = 0;
  if (context_ && EVP_DigestFinal_ex(context_, digest_, &length) != 1) {
    EVP_MD_CTX_free(context_);
    context_ = nullptr;
  }
  finalized_ = true;
}

char* MD5::hex_digest() {
  if (!finalized_) {
    std::fprintf(stderr, "MD5::hex_digest:  Can't get digest if you haven't finalized the digest!\n");
    char* empty = static_cast<char*>(std::malloc(1));
    if (empty) *empty = 0;
    return empty;
  }
  if (!context_) return nullptr;
  return HexText(digest_);
}

Vak::PString FileMD5Hex(const char* path) {
  platform::File file;
  if (!path || file.Open(path, platform::File::Access::Read, platform::File::Disposition::OpenExisting) !=
                   platform::Error::None)
    return Vak::PString();
  MD5 digest;
  unsigned char buffer[65536];
  for (;;) {
    std::size_t n = 0;
    if (file.Read(buffer, sizeof buffer, n) != platform::Error::None) return Vak::PString();
    if (n == 0) break;
    digest.update(buffer, static_cast<unsigned int>(n));
  }
  digest.finalize();
  return Adopt(digest.hex_digest());
}

Vak::PString BufferMD5Hex(const void* data, std::size_t length) {
  MD5 digest;
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  while (length > 0) {
    const unsigned int part = length > 0x40000000u ? 0x40000000u : static_cast<unsigned int>(length);
    digest.update(bytes, part);
    bytes += part;
    length -= part;
  }
  digest.finalize();
  return Adopt(digest.hex_digest());
}
