#include "platform/sha256_file.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <memory>
#include <stdexcept>

namespace qz::platform {
namespace {

struct DigestContextFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

std::string Hex(const unsigned char* bytes, unsigned int length) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(length * 2);
  for (unsigned int i = 0; i < length; ++i) {
    hex += kDigits[bytes[i] >> 4];
    hex += kDigits[bytes[i] & 0xf];
  }
  return hex;
}

bool HashDescriptor(int fd, EVP_MD_CTX* context, std::string& hexDigest) {
  if (EVP_DigestInit_ex(context, EVP_sha256(), nullptr) != 1) return false;
  static thread_local char buffer[1 << 16];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (EVP_DigestUpdate(context, buffer, static_cast<size_t>(n)) != 1) return false;
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(context, digest, &length) != 1) return false;
  hexDigest = Hex(digest, length);
  return true;
}

}  // namespace

bool Sha256OfFile(std::string_view path, std::string& hexDigest) {
  int fd = open(std::string(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  std::unique_ptr<EVP_MD_CTX, DigestContextFree> context(EVP_MD_CTX_new());
  errno = EIO;  // what a failure of the library itself reports
  bool ok = context && HashDescriptor(fd, context.get(), hexDigest);
  int saved = errno;
  close(fd);
  errno = saved;
  return ok;
}

bool IsSha256Hex(std::string_view text) {
  return text.size() == 64 &&
         std::all_of(text.begin(), text.end(), [](char c) { return std::isxdigit(c & 0xff); });
}

std::string Sha256OfText(std::string_view text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(text.data(), text.size(), digest, &length, EVP_sha256(), nullptr) != 1)
    throw std::runtime_error("SHA-256 failed in the crypto library");
  return Hex(digest, length);
}

}  // namespace qz::platform
