// The local clock and the calendar. A date-time is a day count: whole days
// since 1899-12-30 plus the elapsed fraction of the day, with millisecond
// resolution, so that day-slot and file-age arithmetic is plain subtraction.
#pragma once

#include <chrono>
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

// Replaces the clock that Now(), ClockNow() and UnixNow() read; an empty
// function restores the system clock. For tests only.
void SetClockForTesting(std::function<TDateTime()> clock);

// The same clock as a point in time, for file times and Unix seconds: the
// system clock, or the local time of the installed test clock, so that a run
// stamps its pages and its status with one time.
std::chrono::system_clock::time_point ClockNow();

// Whole seconds since the Unix epoch of a point in time (the fraction cut
// off), and of ClockNow().
std::int64_t UnixSeconds(std::chrono::system_clock::time_point when);
std::int64_t UnixNow();

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

// Converts a local date-time back to seconds since the Unix epoch, as the
// system's time zone rules give it (the earlier moment where a local time
// occurs twice).
std::int64_t LocalDateTimeToUnix(TDateTime value);

// ISO 8601 to the second with the local offset: "2026-12-08T11:50:03+10:00",
// "+00:00" for UTC.
std::string FormatIsoLocal(std::int64_t unix_seconds);

// ISO 8601 to the second in UTC: "2024-07-22T11:50:00Z".
std::string FormatIsoUtc(std::int64_t unix_seconds);

// Reads the whole of either form above ("Z" or an offset "+hh:mm" or
// "-hh:mm"), years 1 to 9999; nullopt for anything else.
std::optional<std::int64_t> ParseIsoTime(std::string_view text);

}  // namespace platform
