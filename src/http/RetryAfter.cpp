#include "http/RetryAfter.h"

#include <algorithm>
#include <charconv>
#include <string>

#include "platform/CheckedArithmetic.h"

#include "http/HttpDate.h"
#include "http/TIdHeaderList.h"

namespace http {
namespace {

// More digits than this in a Retry-After are refused, well before overflow.
constexpr std::size_t kMaxRetryAfterDigits = 10;

}  // namespace

std::optional<std::int64_t> RetryAfterSeconds(std::string_view value, std::int64_t now,
                                              std::int64_t max_wait_seconds) {
  value = TrimBlanks(value);
  if (value.empty()) return std::nullopt;
  std::int64_t seconds = 0;
  if (value.front() >= '0' && value.front() <= '9') {
    if (value.size() > kMaxRetryAfterDigits) return std::nullopt;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), seconds);
    if (error != std::errc() || end != value.data() + value.size()) return std::nullopt;
  } else {
    const std::optional<std::int64_t> when = ParseHttpDate(std::string(value));
    if (!when) return std::nullopt;
    const std::optional<std::int64_t> wait = platform::CheckedSub(*when, now);
    if (!wait) return std::nullopt;
    seconds = *wait;
  }
  if (seconds <= 0) return std::nullopt;
  return std::min(seconds, max_wait_seconds);
}

}  // namespace http
