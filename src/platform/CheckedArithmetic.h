// Sums and differences of stored times and counts that may come from a file
// or the network: nullopt when the result would not fit.
#pragma once

#include <cstdint>
#include <optional>

namespace platform {

inline std::optional<std::int64_t> CheckedAdd(std::int64_t a, std::int64_t b) {
  std::int64_t sum = 0;
  if (__builtin_add_overflow(a, b, &sum)) return std::nullopt;
  return sum;
}

inline std::optional<std::int64_t> CheckedSub(std::int64_t a, std::int64_t b) {
  std::int64_t difference = 0;
  if (__builtin_sub_overflow(a, b, &difference)) return std::nullopt;
  return difference;
}

}  // namespace platform
