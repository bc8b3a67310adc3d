// Lengths of time and ages as people read them, the one wording of every
// console line, report line and check that names one.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// A length of time in whole seconds, cut to the minute: under an hour
// "0 minutes", "1 minute", "59 minutes"; under two days "1 h 0 min",
// "47 h 59 min"; from two days on "2 days 0 h". A negative length reads
// as its magnitude.
std::string DurationText(std::int64_t seconds);

// The age of something stamped age_seconds ago: "50 minutes old", "under
// a minute old" for less than a minute either way; a
// stamp a minute or more ahead of the clock reads "clock ahead by 34 min"
// (or "clock ahead by 2 h 5 min") rather than as a negative age.
std::string AgeText(std::int64_t age_seconds);

}  // namespace platform
