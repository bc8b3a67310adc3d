// The SHA-256 digest of bytes given in pieces, in lowercase hexadecimal: a
// name for content that changes whenever any of its bytes does.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

struct evp_md_ctx_st;

namespace platform {

class ContentDigest {
 public:
  ContentDigest();
  ~ContentDigest();
  ContentDigest(const ContentDigest&) = delete;
  ContentDigest& operator=(const ContentDigest&) = delete;

  // Adds one piece preceded by its length, so that pieces cut at other
  // places ("ab" + "c" against "a" + "bc") never give the same digest.
  ContentDigest& Add(std::string_view piece);
  // The 64 hexadecimal digits of everything added; nothing may be added
  // afterwards.
  std::string Finish();

 private:
  friend std::optional<std::string> DigestOfFile(const std::string& path, std::size_t max_bytes);
  // Adds bytes as they are, with no length before them.
  void Update(const void* data, std::size_t size);

  struct ContextDeleter {
    void operator()(evp_md_ctx_st* context) const;
  };
  std::unique_ptr<evp_md_ctx_st, ContextDeleter> context_;
};

// The digest of bytes taken as one piece.
std::string DigestOf(std::string_view bytes);

// DigestOf the content of a regular file (a link to one is followed), read
// in small pieces so that no copy of it is held; nullopt when it cannot be
// read, is larger than max_bytes or changes its size while it is read.
std::optional<std::string> DigestOfFile(const std::string& path, std::size_t max_bytes);

}  // namespace platform
