// The radar source's request to wait (a Retry-After answer): how long a
// stored wait still holds, and when it is too far ahead to be believed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace refresh {

// The longest wait a Retry-After answer can impose.
inline constexpr std::int64_t kMaxBackOffHours = 6;
inline constexpr std::int64_t kMaxBackOffSeconds = kMaxBackOffHours * 3600;

// The wait a stored not_before still imposes at now: nullopt when it has
// passed or lies more than kMaxBackOffSeconds ahead, farther than any
// Retry-After answer asks for (a clock that ran ahead and was set back, or an
// edited file).
std::optional<std::int64_t> PendingWait(std::optional<std::int64_t> not_before, std::int64_t now);
// True when not_before lies more than kMaxBackOffSeconds after now.
bool WaitTooFarAhead(std::int64_t not_before, std::int64_t now);

// The pending wait of the status.json in directory (with trailing '/'), as
// PendingWait tells it.
std::optional<std::int64_t> PendingNotBefore(const std::string& directory, std::int64_t now);

}  // namespace refresh
