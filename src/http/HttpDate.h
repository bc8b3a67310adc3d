// The date format of HTTP headers, as cookies' Expires and Retry-After carry
// it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace http {

// Reads an HTTP date ("Sun, 06 Nov 1994 08:49:37 GMT", also with dashes
// between day, month and year, or a two-digit year) as UTC, in whole seconds
// since the Unix epoch (negative before it). Any year from 1 to 9999.
std::optional<std::int64_t> ParseHttpDate(const std::string& text);

}  // namespace http
