// Local clock and regional settings. A date-time is a day count: whole days
// since 1899-12-30 plus the elapsed fraction of the day, with millisecond
// resolution, so that day-slot and file-age arithmetic is plain subtraction.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace platform {

using TDateTime = double;

// The current local date-time, read from the system clock (or from the clock
// installed by SetClockForTesting).
TDateTime Now();

// Replaces the clock that Now() reads; an empty function restores the system
// clock. For tests only.
void SetClockForTesting(std::function<TDateTime()> clock);

struct DateTimeParts {
  int year = 0, month = 0, day = 0;                    // month and day from 1
  int hour = 0, minute = 0, second = 0, millisecond = 0;
  int day_of_week = 0;                                 // 0 Sunday .. 6 Saturday
};

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                         int millisecond);
DateTimeParts DecodeDateTime(TDateTime value);

// Converts seconds since the Unix epoch, as the file system keeps them, to a
// local date-time.
TDateTime UnixToLocalDateTime(std::int64_t seconds, std::int64_t nanoseconds);

// Regional settings, taken once from the C library locale of the environment
// (setlocale(LC_ALL, "")). With LC_ALL=C the day names are Sun, Mon, ...
struct FormatSettings {
  std::array<std::string, 7> short_day_names;  // Sunday first
  std::string date_separator;                  // "/" in the C locale
  std::string time_separator;                  // ":" in the C locale
  std::string short_date_format;               // pattern for FormatDateTime, e.g. "mm/dd/yy"
  std::string long_time_format;                // pattern for FormatDateTime, e.g. "hh:nn:ss"
  std::string thousand_separator;              // empty in the C locale
  std::string decimal_separator;               // "." in the C locale
};
const FormatSettings& LocaleFormat();

// Formats a date-time with a pattern: yyyy, yy, mm, m, dd, d, ddd (short day
// name), hh, h, nn, n, ss, s, zzz, z, am/pm, "/" (date separator) and ":"
// (time separator); letters match without regard to case, as in "DDD".
// Other characters are copied.
std::string FormatDateTime(std::string_view pattern, TDateTime value,
                           const FormatSettings& settings = LocaleFormat());

// Formats a number with the pattern "#,##0.00" or "#,##0": digit groups joined
// by the thousands separator, the given count of decimals.
std::string FormatGroupedNumber(double value, int decimals,
                                const FormatSettings& settings = LocaleFormat());

}  // namespace platform
