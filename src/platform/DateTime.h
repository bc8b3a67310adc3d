// Local clock and regional settings. A date-time is a day count: whole days
// since 1899-12-30 plus the elapsed fraction of the day, with millisecond
// resolution, so that day-slot and file-age arithmetic is plain subtraction.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

using TDateTime = double;

inline constexpr std::int64_t kMillisecondsPerDay = 86400000;

// The current local date-time, read from the system clock (or from the clock
// installed by SetClockForTesting).
TDateTime Now();

// Replaces the clock that Now() reads; an empty function restores the system
// clock. For tests only.
void SetClockForTesting(std::function<TDateTime()> clock);

struct DateTimeParts {
  int year = 0, month = 0, day = 0;  // month and day from 1
  int hour = 0, minute = 0, second = 0, millisecond = 0;
  int day_of_week = 0;  // 0 Sunday .. 6 Saturday
};

// Encodes a calendar date and time of day. Before 1899-12-30 the whole part
// counts the days backwards and the fraction still runs forwards, so that
// -1.25 is 1899-12-29 06:00.
TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                         int millisecond);
// Decodes a date-time, rounded to the nearest millisecond.
DateTimeParts DecodeDateTime(TDateTime value);

// Milliseconds elapsed since local midnight, 0 to 86399999, after rounding
// the value to the nearest millisecond.
std::int64_t MillisecondOfDay(TDateTime value);

// Days from 1970-01-01 to a proleptic Gregorian date (negative before);
// month and day from 1.
std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day);

// Converts seconds since the Unix epoch, as the file system keeps them, to a
// local date-time.
TDateTime UnixToLocalDateTime(std::int64_t seconds, std::int64_t nanoseconds);

// Regional settings, taken once from the C library locale of the environment
// (the locale that setlocale(LC_ALL, "") would select: LC_ALL, LC_TIME,
// LC_NUMERIC, LANG). With LC_ALL=C the day names are Sun, Mon, ...
struct FormatSettings {
  std::array<std::string, 7> short_day_names;     // Sunday first
  std::array<std::string, 7> long_day_names;      // Sunday first
  std::array<std::string, 12> short_month_names;  // January first
  std::array<std::string, 12> long_month_names;   // January first
  std::string date_separator;                     // "/" in the C locale
  std::string time_separator;                     // ":" in the C locale
  std::string short_date_format;                  // pattern for FormatDateTime, e.g. "mm/dd/yy"
  std::string long_time_format;                   // pattern for FormatDateTime, e.g. "hh:nn:ss"
  std::string am_string = "AM";
  std::string pm_string = "PM";
  std::string thousand_separator;  // empty in the C locale
  std::string decimal_separator;   // "." in the C locale
  bool utf8 = false;               // texts of the locale are UTF-8 encoded
};
const FormatSettings& LocaleFormat();

// The settings of the C locale, independent of the environment.
FormatSettings CLocaleFormat();

// Replaces the settings that LocaleFormat() returns; nullopt restores the
// environment's. For tests only.
void SetLocaleFormatForTesting(std::optional<FormatSettings> settings);

// Translates a C library date or time format (nl_langinfo's D_FMT, T_FMT)
// into a FormatDateTime pattern. Each occurrence of the separator between
// conversions becomes the pattern's separator placeholder ('/' for dates,
// ':' for times), so that FormatDateTime writes the locale's separator there;
// other literal text is quoted.
std::string StrftimeToPattern(std::string_view format, std::string_view separator,
                              char placeholder);

// The first literal (non-conversion, non-blank) character of a C library
// format, one whole UTF-8 sequence when utf8 is set; fallback when none.
std::string FirstLiteral(std::string_view format, bool utf8, std::string_view fallback);

// Formats a date-time with a pattern: yyyy, yy, mmmm, mmm, mm, m, dddd, ddd
// (day names), dd, d, hh, h, nn, n, ss, s, zzz, z, am/pm, a/p, ampm (the
// locale's texts; any of these makes the hours 12-hour), "/" (date
// separator) and ":" (time separator); letters match without regard to case.
// Text in double or single quotes and other characters are copied.
std::string FormatDateTime(std::string_view pattern, TDateTime value,
                           const FormatSettings& settings = LocaleFormat());

// Formats a number with the pattern "#,##0.00" or "#,##0": digit groups joined
// by the thousands separator, the given count of decimals (0 to 9), rounded
// half away from zero.
std::string FormatGroupedNumber(double value, int decimals,
                                const FormatSettings& settings = LocaleFormat());

}  // namespace platform
