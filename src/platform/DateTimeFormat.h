// Writing a date-time by a pattern in the regional settings.
#pragma once

#include <string>
#include <string_view>

#include "platform/DateTime.h"
#include "platform/LocaleFormat.h"

namespace platform {

// Formats a date-time with a pattern: yyyy, yy, mmmm, mmm, mm, m, dddd, ddd
// (day names), dd, d, hh, h, nn, n, ss, s, zzz, z, am/pm, a/p, ampm (the
// locale's texts; any of these makes the hours 12-hour), "/" (date
// separator) and ":" (time separator); letters match without regard to case.
// Text in double or single quotes and other characters are copied.
std::string FormatDateTime(std::string_view pattern, TDateTime value,
                           const FormatSettings& settings = LocaleFormat());

}  // namespace platform
