#include "platform/ContentDigest.h"

#include <openssl/evp.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/Exceptions.h"
#include "platform/FileDescriptor.h"
#include "platform/RegularFile.h"

namespace platform {

void ContentDigest::ContextDeleter::operator()(evp_md_ctx_st* context) const {
  EVP_MD_CTX_free(context);
}

ContentDigest::ContentDigest() : context_(EVP_MD_CTX_new()) {
  if (!context_ || EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr) != 1) {
    throw EOSError("SHA-256 digest not available");
  }
}

ContentDigest::~ContentDigest() = default;

ContentDigest& ContentDigest::Add(std::string_view piece) {
  const std::uint64_t length = piece.size();
  unsigned char prefix[8];
  for (int i = 0; i < 8; ++i) prefix[i] = static_cast<unsigned char>(length >> (8 * i));
  if (EVP_DigestUpdate(context_.get(), prefix, sizeof prefix) != 1 ||
      EVP_DigestUpdate(context_.get(), piece.data(), piece.size()) != 1) {
    throw EOSError("SHA-256 digest failed");
  }
  return *this;
}

std::string ContentDigest::Finish() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(context_.get(), digest, &length) != 1) {
    throw EOSError("SHA-256 digest failed");
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  text.reserve(2 * length);
  for (unsigned int i = 0; i < length; ++i) {
    text.push_back(kHex[digest[i] >> 4]);
    text.push_back(kHex[digest[i] & 0xF]);
  }
  return text;
}

std::string DigestOf(std::string_view bytes) { return ContentDigest().Add(bytes).Finish(); }

std::optional<std::string> DigestOfFile(const std::string& path, std::size_t max_bytes) {
  struct stat status {};
  int error_number = 0;
  const FileDescriptor fd = OpenRegularFile(path, true, status, error_number);
  if (!fd.valid() || status.st_size < 0) return std::nullopt;
  const auto size = static_cast<std::uint64_t>(status.st_size);
  if (size > max_bytes) return std::nullopt;
  // The piece's length goes first, as Add writes it, so the digest equals
  // DigestOf the same bytes; a file that is not of that length when read
  // has changed and gives none.
  ContentDigest digest;
  unsigned char prefix[8];
  for (int i = 0; i < 8; ++i) prefix[i] = static_cast<unsigned char>(size >> (8 * i));
  if (EVP_DigestUpdate(digest.context_.get(), prefix, sizeof prefix) != 1) {
    throw EOSError("SHA-256 digest failed");
  }
  std::uint64_t total = 0;
  char buffer[kCopyBufferSize];
  for (;;) {
    const ssize_t count = ::read(fd.get(), buffer, sizeof buffer);
    if (count < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    if (count == 0) break;
    total += static_cast<std::uint64_t>(count);
    if (total > size) return std::nullopt;
    if (EVP_DigestUpdate(digest.context_.get(), buffer, static_cast<std::size_t>(count)) != 1) {
      throw EOSError("SHA-256 digest failed");
    }
  }
  if (total != size) return std::nullopt;
  return digest.Finish();
}

}  // namespace platform
