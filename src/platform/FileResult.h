// The outcome of a file operation and the words that describe a failure.
#pragma once

#include <string>
#include <utility>

namespace platform {

// The outcome of a file operation that may fail: success, or the reason,
// which names the file and gives the system's words, and the errno behind
// it (0 where there is none).
class [[nodiscard]] FileResult {
 public:
  FileResult() = default;
  static FileResult Failure(std::string reason, int error_number = 0) {
    FileResult result;
    result.failed_ = true;
    result.reason_ = std::move(reason);
    result.error_number_ = error_number;
    return result;
  }
  bool ok() const { return !failed_; }
  // Empty on success.
  const std::string& reason() const { return reason_; }
  int error_number() const { return error_number_; }

 private:
  bool failed_ = false;
  std::string reason_;
  int error_number_ = 0;
};

// The text of errno as the system states it.
std::string SystemErrorText(int error_number);

// "<what> \"<path>\": <the system's text>", as every file failure reads.
std::string FileErrorText(const std::string& what, const std::string& path, int error_number);

}  // namespace platform
