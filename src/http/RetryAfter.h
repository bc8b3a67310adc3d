// The Retry-After header of a 429 or 503 answer: how long the server asks
// its clients to wait.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace http {

// The wait a Retry-After value asks for, in seconds from now: a whole
// number of seconds or an HTTP date, capped at max_wait_seconds. nullopt
// when it is malformed or asks for no wait.
std::optional<std::int64_t> RetryAfterSeconds(std::string_view value, std::int64_t now,
                                              std::int64_t max_wait_seconds);

}  // namespace http
