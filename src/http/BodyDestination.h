// Where a response body goes while it is read: the caller's byte string, or
// nowhere when a body is only dropped. Bytes are received straight into the
// string's storage, so a body is never held twice.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace http {

// Raises EIdException "Response body exceeds N bytes" for a body that
// would pass the limit of N bytes.
[[noreturn]] void RaiseBodyTooLarge(std::size_t limit);

class BodyDestination {
 public:
  // Collects into target (which is emptied), at most limit bytes.
  BodyDestination(std::string& target, std::size_t limit);
  // Drops every byte, but still counts them against limit.
  explicit BodyDestination(std::size_t limit);
  ~BodyDestination();
  BodyDestination(const BodyDestination&) = delete;
  BodyDestination& operator=(const BodyDestination&) = delete;

  // Makes room for a body of known total size at once, as a length-framed
  // body is sized in advance. Raises when total exceeds the limit.
  void ExpectTotal(std::size_t total);

  // Returns storage for up to count bytes after those taken so far; count
  // must not exceed Remaining(). Commit then keeps the first of them.
  char* Room(std::size_t count);
  void Commit(std::size_t count);
  void Append(const char* data, std::size_t count);

  std::size_t Size() const { return used_; }
  std::size_t Limit() const { return limit_; }
  std::size_t Remaining() const { return limit_ - used_; }

  // Trims the target to the bytes taken. Also done on destruction.
  void Finish();

  // Raises the error for a body that would pass the limit.
  [[noreturn]] void RaiseTooLarge() const;

 private:
  // Ensures capacity for count more bytes.
  void MakeRoom(std::size_t count);
  void Grow(std::size_t capacity);

  std::string* target_ = nullptr;
  std::size_t used_ = 0;
  std::size_t limit_;
  std::vector<char> scratch_;  // receive space while dropping
};

}  // namespace http
