#include "platform/ContentDigest.h"

#include <openssl/evp.h>

#include <cstdint>

#include "platform/Exceptions.h"
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

void ContentDigest::Update(const void* data, std::size_t size) {
  if (EVP_DigestUpdate(context_.get(), data, size) != 1) throw EOSError("SHA-256 digest failed");
}

ContentDigest& ContentDigest::Add(std::string_view piece) {
  const std::uint64_t length = piece.size();
  unsigned char prefix[8];
  for (int i = 0; i < 8; ++i) prefix[i] = static_cast<unsigned char>(length >> (8 * i));
  Update(prefix, sizeof prefix);
  Update(piece.data(), piece.size());
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
  // The piece's length goes first, as Add writes it, so the digest equals
  // DigestOf the same bytes; a file that is not of that length when read
  // has changed and gives none.
  ContentDigest digest;
  std::uint64_t expected = 0;
  std::uint64_t total = 0;
  const bool read = ReadFileInPieces(
      path, max_bytes,
      [&](std::size_t size) {
        expected = size;
        unsigned char prefix[8];
        for (int i = 0; i < 8; ++i) prefix[i] = static_cast<unsigned char>(expected >> (8 * i));
        digest.Update(prefix, sizeof prefix);
      },
      [&](std::string_view piece) {
        total += piece.size();
        if (total <= expected) digest.Update(piece.data(), piece.size());
      });
  if (!read || total != expected) return std::nullopt;
  return digest.Finish();
}

}  // namespace platform
