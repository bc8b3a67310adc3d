#include "platform/DurationText.h"

namespace platform {
namespace {

constexpr std::uint64_t kSecondsPerMinute = 60;
constexpr std::uint64_t kMinutesPerHour = 60;
constexpr std::uint64_t kHoursPerDay = 24;
// From this many days on the minutes are left out.
constexpr std::uint64_t kDaysWithoutMinutes = 2;

// The magnitude of a signed count, which for the smallest one does not fit
// the signed type.
std::uint64_t Magnitude(std::int64_t value) {
  const auto bits = static_cast<std::uint64_t>(value);
  return value < 0 ? ~bits + 1 : bits;
}

}  // namespace

std::string DurationText(std::int64_t seconds) {
  const std::uint64_t minutes = Magnitude(seconds) / kSecondsPerMinute;
  const std::uint64_t hours = minutes / kMinutesPerHour;
  const std::uint64_t days = hours / kHoursPerDay;
  if (hours == 0) return std::to_string(minutes) + (minutes == 1 ? " minute" : " minutes");
  if (days < kDaysWithoutMinutes) {
    return std::to_string(hours) + " h " + std::to_string(minutes % kMinutesPerHour) + " min";
  }
  return std::to_string(days) + " days " + std::to_string(hours % kHoursPerDay) + " h";
}

std::string AgeText(std::int64_t age_seconds) {
  if (age_seconds <= -static_cast<std::int64_t>(kSecondsPerMinute)) {
    // A clock offset reads as a measure, "34 min", as the longer ones do.
    const std::uint64_t minutes = Magnitude(age_seconds) / kSecondsPerMinute;
    return "clock ahead by " + (minutes < kMinutesPerHour ? std::to_string(minutes) + " min"
                                                          : DurationText(age_seconds));
  }
  // Less than a minute either way reads as fresh, as the viewer says it.
  if (Magnitude(age_seconds) < kSecondsPerMinute) return "under a minute old";
  return DurationText(age_seconds) + " old";
}

}  // namespace platform
