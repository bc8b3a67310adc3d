#include "platform/DateTime.h"

#include <time.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <utility>

namespace platform {

std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const unsigned year_of_era = static_cast<unsigned>(year - era * 400);
  const unsigned day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const unsigned day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + static_cast<std::int64_t>(day_of_era) - 719468;
}

namespace {

void CivilFromDays(std::int64_t days, int& year, int& month, int& day) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const unsigned day_of_era = static_cast<unsigned>(days - era * 146097);
  const unsigned year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const unsigned day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const unsigned mp = (5 * day_of_year + 2) / 153;
  day = static_cast<int>(day_of_year - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year =
      static_cast<int>(static_cast<std::int64_t>(year_of_era) + era * 400 + (month <= 2 ? 1 : 0));
}

// 1899-12-30, day 0 of the day count, is this many days before 1970-01-01.
constexpr std::int64_t kEpochOffsetDays = 25569;
// The day after 9999-12-31, the end of the range the calendar arithmetic is
// used for; 0001-01-01 is day -693593, so the same bound covers both ends.
constexpr double kDayAfterLast = 2958466.0;

// Splits a value into its signed day number and the milliseconds of its day.
void SplitDateTime(TDateTime value, std::int64_t& day_number, std::int64_t& ms_of_day) {
  // Values outside the years 1 to 9999 (or not numbers at all) are no
  // date-time any clock or file gives; they decode as day 0 rather than
  // overflowing the calendar arithmetic.
  if (!std::isfinite(value) || std::fabs(value) >= kDayAfterLast) value = 0;
  const double magnitude = std::fabs(value);
  const std::int64_t total = std::llround(magnitude * static_cast<double>(kMillisecondsPerDay));
  day_number = total / kMillisecondsPerDay;
  ms_of_day = total % kMillisecondsPerDay;
  if (value < 0) day_number = -day_number;
}

std::mutex& ClockMutex() {
  static std::mutex mutex;
  return mutex;
}

std::function<TDateTime()>& TestClock() {
  static std::function<TDateTime()> clock;
  return clock;
}

TDateTime LocalDateTimeFromUnix(time_t seconds, std::int64_t nanoseconds) {
  struct tm local {};
  if (localtime_r(&seconds, &local) == nullptr) return 0;
  return EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                        local.tm_min, local.tm_sec, static_cast<int>(nanoseconds / 1000000));
}

}  // namespace

TDateTime Now() {
  {
    std::lock_guard<std::mutex> lock(ClockMutex());
    if (TestClock()) return TestClock()();
  }
  struct timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  return LocalDateTimeFromUnix(now.tv_sec, now.tv_nsec);
}

void SetClockForTesting(std::function<TDateTime()> clock) {
  std::lock_guard<std::mutex> lock(ClockMutex());
  TestClock() = std::move(clock);
}

std::chrono::system_clock::time_point ClockNow() {
  std::optional<TDateTime> local;
  {
    std::lock_guard<std::mutex> lock(ClockMutex());
    if (TestClock()) local = TestClock()();
  }
  if (!local) return std::chrono::system_clock::now();
  return std::chrono::system_clock::time_point(
      std::chrono::seconds(LocalDateTimeToUnix(*local)) +
      std::chrono::milliseconds(MillisecondOfDay(*local) % 1000));
}

std::int64_t UnixSeconds(std::chrono::system_clock::time_point when) {
  return std::chrono::duration_cast<std::chrono::seconds>(when.time_since_epoch()).count();
}

std::int64_t UnixNow() { return UnixSeconds(ClockNow()); }

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                         int millisecond) {
  const std::int64_t day_number =
      DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) +
      kEpochOffsetDays;
  const std::int64_t ms_of_day =
      ((static_cast<std::int64_t>(hour) * 60 + minute) * 60 + second) * 1000 + millisecond;
  const double fraction = static_cast<double>(ms_of_day) / static_cast<double>(kMillisecondsPerDay);
  const double whole = static_cast<double>(day_number);
  return day_number < 0 ? whole - fraction : whole + fraction;
}

DateTimeParts DecodeDateTime(TDateTime value) {
  std::int64_t day_number = 0;
  std::int64_t ms = 0;
  SplitDateTime(value, day_number, ms);
  DateTimeParts parts;
  CivilFromDays(day_number - kEpochOffsetDays, parts.year, parts.month, parts.day);
  parts.millisecond = static_cast<int>(ms % 1000);
  ms /= 1000;
  parts.second = static_cast<int>(ms % 60);
  ms /= 60;
  parts.minute = static_cast<int>(ms % 60);
  parts.hour = static_cast<int>(ms / 60);
  // Day 0 (1899-12-30) was a Saturday.
  parts.day_of_week = static_cast<int>(((day_number + 6) % 7 + 7) % 7);
  return parts;
}

std::int64_t MillisecondOfDay(TDateTime value) {
  std::int64_t day_number = 0;
  std::int64_t ms = 0;
  SplitDateTime(value, day_number, ms);
  return ms;
}

TDateTime UnixToLocalDateTime(std::int64_t seconds, std::int64_t nanoseconds) {
  return LocalDateTimeFromUnix(static_cast<time_t>(seconds), nanoseconds);
}

std::int64_t LocalDateTimeToUnix(TDateTime value) {
  const DateTimeParts parts = DecodeDateTime(value);
  struct tm local {};
  local.tm_year = parts.year - 1900;
  local.tm_mon = parts.month - 1;
  local.tm_mday = parts.day;
  local.tm_hour = parts.hour;
  local.tm_min = parts.minute;
  local.tm_sec = parts.second;
  local.tm_isdst = -1;
  return static_cast<std::int64_t>(mktime(&local));
}

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
constexpr int kMaxIsoYear = 9999;

std::string FormatIso(const struct tm& parts, const char* zone) {
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%s", parts.tm_year + 1900,
                parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec, zone);
  return text;
}

// A field of exactly width digits, the whole field.
std::optional<int> IsoField(std::string_view text, std::size_t at, std::size_t width) {
  if (at + width > text.size()) return std::nullopt;
  int value = 0;
  const char* first = text.data() + at;
  for (std::size_t i = 0; i < width; ++i) {
    if (first[i] < '0' || first[i] > '9') return std::nullopt;
  }
  const auto [end, error] = std::from_chars(first, first + width, value);
  if (error != std::errc() || end != first + width) return std::nullopt;
  return value;
}

}  // namespace

std::string FormatIsoLocal(std::int64_t unix_seconds) {
  const time_t seconds = static_cast<time_t>(unix_seconds);
  struct tm local {};
  if (localtime_r(&seconds, &local) == nullptr) return FormatIsoUtc(unix_seconds);
  // Offsets lie within a day; the clamp keeps the two fields two digits.
  const long offset_minutes = local.tm_gmtoff / 60;
  const int magnitude = static_cast<int>(
      std::min(offset_minutes < 0 ? -offset_minutes : offset_minutes, 24L * 60 - 1));
  char zone[16];
  std::snprintf(zone, sizeof zone, "%c%02d:%02d", offset_minutes < 0 ? '-' : '+', magnitude / 60,
                magnitude % 60);
  return FormatIso(local, zone);
}

std::string FormatIsoUtc(std::int64_t unix_seconds) {
  const time_t seconds = static_cast<time_t>(unix_seconds);
  struct tm utc {};
  gmtime_r(&seconds, &utc);
  return FormatIso(utc, "Z");
}

std::optional<std::int64_t> ParseIsoTime(std::string_view text) {
  const auto year = IsoField(text, 0, 4), month = IsoField(text, 5, 2), day = IsoField(text, 8, 2);
  const auto hour = IsoField(text, 11, 2), minute = IsoField(text, 14, 2);
  const auto second = IsoField(text, 17, 2);
  if (text.size() < 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
      text[16] != ':' || !year || !month || !day || !hour || !minute || !second) {
    return std::nullopt;
  }
  if (*year < 1 || *year > kMaxIsoYear || *month < 1 || *month > 12 || *day < 1 || *day > 31 ||
      *hour > 23 || *minute > 59 || *second > 59) {
    return std::nullopt;
  }
  std::int64_t offset_seconds = 0;
  const std::string_view zone = text.substr(19);
  if (zone != "Z") {
    const auto zone_hours = IsoField(text, 20, 2), zone_minutes = IsoField(text, 23, 2);
    if (zone.size() != 6 || (zone[0] != '+' && zone[0] != '-') || zone[3] != ':' || !zone_hours ||
        !zone_minutes || *zone_hours > 23 || *zone_minutes > 59) {
      return std::nullopt;
    }
    offset_seconds = (*zone_hours * 60 + *zone_minutes) * 60;
    if (zone[0] == '-') offset_seconds = -offset_seconds;
  }
  const std::int64_t days =
      DaysFromCivil(*year, static_cast<unsigned>(*month), static_cast<unsigned>(*day));
  // A day past the end of its month ("02-30") does not come back unchanged.
  int civil_year = 0, civil_month = 0, civil_day = 0;
  CivilFromDays(days, civil_year, civil_month, civil_day);
  if (civil_day != *day) return std::nullopt;
  return days * kSecondsPerDay + *hour * 3600 + *minute * 60 + *second - offset_seconds;
}

}  // namespace platform
