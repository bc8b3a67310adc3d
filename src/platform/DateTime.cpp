#include "platform/DateTime.h"

#include <langinfo.h>
#include <locale.h>
#include <time.h>

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

// Length of the UTF-8 sequence that starts with this byte (1 for anything
// that is not a valid lead byte, so that broken text still advances).
std::size_t Utf8SequenceLength(unsigned char lead) {
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  if (lead >= 0xE0) return lead <= 0xEF ? 3 : 1;
  if (lead >= 0xC2) return 2;
  return 1;
}

// Skips the flags, width and E/O modifier of a conversion that starts after
// the '%' at index i; returns the index of the conversion character.
std::size_t SkipConversionPrefix(std::string_view format, std::size_t i) {
  while (i < format.size() &&
         (format[i] == '_' || format[i] == '-' || format[i] == '0' || format[i] == '^' ||
          format[i] == '#' || (format[i] >= '1' && format[i] <= '9'))) {
    ++i;
  }
  if (i < format.size() && (format[i] == 'E' || format[i] == 'O')) ++i;
  return i;
}

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithNoCase(std::string_view text, std::size_t at, std::string_view prefix) {
  if (at > text.size() || text.size() - at < prefix.size()) return false;
  for (std::size_t k = 0; k < prefix.size(); ++k) {
    if (AsciiLower(text[at + k]) != prefix[k]) return false;
  }
  return true;
}

std::size_t RunLength(std::string_view text, std::size_t at) {
  const char lower = AsciiLower(text[at]);
  std::size_t end = at;
  while (end < text.size() && AsciiLower(text[end]) == lower) ++end;
  return end - at;
}

void AppendPadded(std::string& out, long long number, int width) {
  char buffer[32];
  const int length = std::snprintf(buffer, sizeof buffer, "%0*lld", width, number);
  if (length > 0) out.append(buffer, static_cast<std::size_t>(length));
}

// Whether the pattern holds an am/pm marker outside quoted text; such a
// pattern shows the hours on the 12-hour clock.
bool UsesTwelveHourClock(std::string_view pattern) {
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (c == '"' || c == '\'') {
      const std::size_t close = pattern.find(c, i + 1);
      if (close == std::string_view::npos) return false;
      i = close;
      continue;
    }
    if (StartsWithNoCase(pattern, i, "am/pm") || StartsWithNoCase(pattern, i, "a/p") ||
        StartsWithNoCase(pattern, i, "ampm")) {
      return true;
    }
  }
  return false;
}

std::string LangInfo(nl_item item, locale_t locale) {
  const char* text = nl_langinfo_l(item, locale);
  return text != nullptr ? std::string(text) : std::string();
}

FormatSettings SettingsFromLocale(locale_t locale) {
  FormatSettings settings;
  const std::string codeset = LangInfo(CODESET, locale);
  settings.utf8 = codeset == "UTF-8" || codeset == "utf8";
  static constexpr nl_item kShortDays[7] = {ABDAY_1, ABDAY_2, ABDAY_3, ABDAY_4,
                                            ABDAY_5, ABDAY_6, ABDAY_7};
  static constexpr nl_item kLongDays[7] = {DAY_1, DAY_2, DAY_3, DAY_4, DAY_5, DAY_6, DAY_7};
  static constexpr nl_item kShortMonths[12] = {ABMON_1, ABMON_2,  ABMON_3,  ABMON_4,
                                               ABMON_5, ABMON_6,  ABMON_7,  ABMON_8,
                                               ABMON_9, ABMON_10, ABMON_11, ABMON_12};
  static constexpr nl_item kLongMonths[12] = {MON_1, MON_2, MON_3, MON_4,  MON_5,  MON_6,
                                              MON_7, MON_8, MON_9, MON_10, MON_11, MON_12};
  for (int i = 0; i < 7; ++i) {
    settings.short_day_names[i] = LangInfo(kShortDays[i], locale);
    settings.long_day_names[i] = LangInfo(kLongDays[i], locale);
  }
  for (int i = 0; i < 12; ++i) {
    settings.short_month_names[i] = LangInfo(kShortMonths[i], locale);
    settings.long_month_names[i] = LangInfo(kLongMonths[i], locale);
  }
  std::string date_format = LangInfo(D_FMT, locale);
  std::string time_format = LangInfo(T_FMT, locale);
  // A few locales leave the 24-hour format empty and keep only the 12-hour one.
  if (time_format.empty()) time_format = LangInfo(T_FMT_AMPM, locale);
  if (date_format.empty()) date_format = "%m/%d/%y";
  if (time_format.empty()) time_format = "%H:%M:%S";
  settings.date_separator = FirstLiteral(date_format, settings.utf8, "/");
  settings.time_separator = FirstLiteral(time_format, settings.utf8, ":");
  settings.short_date_format = StrftimeToPattern(date_format, settings.date_separator, '/');
  settings.long_time_format = StrftimeToPattern(time_format, settings.time_separator, ':');
  const std::string am = LangInfo(AM_STR, locale);
  const std::string pm = LangInfo(PM_STR, locale);
  settings.am_string = am.empty() ? "AM" : am;
  settings.pm_string = pm.empty() ? "PM" : pm;
  settings.thousand_separator = LangInfo(THOUSEP, locale);
  settings.decimal_separator = LangInfo(RADIXCHAR, locale);
  if (settings.decimal_separator.empty()) settings.decimal_separator = ".";
  return settings;
}

// The environment's locale, read without changing the process-wide locale, so
// that number formatting and parsing elsewhere stay in the C locale.
FormatSettings EnvironmentSettings() {
  locale_t locale = newlocale(LC_ALL_MASK, "", static_cast<locale_t>(nullptr));
  if (locale == static_cast<locale_t>(nullptr)) return CLocaleFormat();
  FormatSettings settings = SettingsFromLocale(locale);
  freelocale(locale);
  return settings;
}

std::optional<FormatSettings>& LocaleOverride() {
  static std::optional<FormatSettings> override_settings;
  return override_settings;
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

FormatSettings CLocaleFormat() {
  FormatSettings settings;
  settings.short_day_names = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  settings.long_day_names = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                             "Thursday", "Friday", "Saturday"};
  settings.short_month_names = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  settings.long_month_names = {"January",   "February", "March",    "April",
                               "May",       "June",     "July",     "August",
                               "September", "October",  "November", "December"};
  settings.date_separator = "/";
  settings.time_separator = ":";
  settings.short_date_format = "mm/dd/yy";
  settings.long_time_format = "hh:nn:ss";
  settings.thousand_separator = "";
  settings.decimal_separator = ".";
  return settings;
}

const FormatSettings& LocaleFormat() {
  if (LocaleOverride()) return *LocaleOverride();
  static const FormatSettings settings = EnvironmentSettings();
  return settings;
}

void SetLocaleFormatForTesting(std::optional<FormatSettings> settings) {
  LocaleOverride() = std::move(settings);
}

std::string FirstLiteral(std::string_view format, bool utf8, std::string_view fallback) {
  for (std::size_t i = 0; i < format.size();) {
    const char c = format[i];
    if (c == '%') {
      const std::size_t conversion = SkipConversionPrefix(format, i + 1);
      if (conversion < format.size() && format[conversion] == '%') {
        return "%";
      }
      i = conversion + 1;
      continue;
    }
    if (c == ' ' || c == '\t') {
      ++i;
      continue;
    }
    const std::size_t length = utf8 ? Utf8SequenceLength(static_cast<unsigned char>(c)) : 1;
    return std::string(format.substr(i, length));
  }
  return std::string(fallback);
}

std::string StrftimeToPattern(std::string_view format, std::string_view separator,
                              char placeholder) {
  std::string pattern;
  for (std::size_t i = 0; i < format.size();) {
    const char c = format[i];
    if (c != '%') {
      if (!separator.empty() && format.substr(i, separator.size()) == separator) {
        pattern += placeholder;
        i += separator.size();
        continue;
      }
      // Letters, quotes and the two separator placeholders mean something to
      // FormatDateTime, so literal ones are quoted.
      if (IsAsciiLetter(c) || c == '/' || c == ':' || c == '\'') {
        pattern += '"';
        pattern += c;
        pattern += '"';
      } else if (c == '"') {
        pattern += "'\"'";
      } else {
        pattern += c;
      }
      ++i;
      continue;
    }
    const std::size_t at = SkipConversionPrefix(format, i + 1);
    if (at >= format.size()) break;
    i = at + 1;
    switch (format[at]) {
      case 'a':
        pattern += "ddd";
        break;
      case 'A':
        pattern += "dddd";
        break;
      case 'b':
      case 'h':
        pattern += "mmm";
        break;
      case 'B':
        pattern += "mmmm";
        break;
      case 'd':
        pattern += "dd";
        break;
      case 'e':
        pattern += "d";
        break;
      case 'm':
        pattern += "mm";
        break;
      case 'y':
        pattern += "yy";
        break;
      case 'Y':
      case 'G':
        pattern += "yyyy";
        break;
      case 'H':
      case 'I':
        pattern += "hh";
        break;
      case 'k':
      case 'l':
        pattern += "h";
        break;
      case 'M':
        pattern += "nn";
        break;
      case 'S':
        pattern += "ss";
        break;
      case 'p':
      case 'P':
        pattern += "ampm";
        break;
      case 'D':
        pattern += StrftimeToPattern("%m/%d/%y", separator, placeholder);
        break;
      case 'F':
        pattern += StrftimeToPattern("%Y-%m-%d", separator, placeholder);
        break;
      case 'T':
        pattern += StrftimeToPattern("%H:%M:%S", separator, placeholder);
        break;
      case 'R':
        pattern += StrftimeToPattern("%H:%M", separator, placeholder);
        break;
      case 'r':
        pattern += StrftimeToPattern("%I:%M:%S %p", separator, placeholder);
        break;
      case 'n':
      case 't':
        pattern += ' ';
        break;
      case '%':
        pattern += '%';
        break;
      default:
        break;  // Conversions without a counterpart (time zone, week number) are left out.
    }
  }
  return pattern;
}

std::string FormatDateTime(std::string_view pattern, TDateTime value,
                           const FormatSettings& settings) {
  const DateTimeParts parts = DecodeDateTime(value);
  const bool twelve_hour = UsesTwelveHourClock(pattern);
  int shown_hour = parts.hour;
  if (twelve_hour) {
    shown_hour = parts.hour % 12;
    if (shown_hour == 0) shown_hour = 12;
  }
  const bool before_noon = parts.hour < 12;
  std::string out;
  for (std::size_t i = 0; i < pattern.size();) {
    const char c = pattern[i];
    const char lower = AsciiLower(c);
    if (c == '"' || c == '\'') {
      const std::size_t close = pattern.find(c, i + 1);
      const std::size_t end = close == std::string_view::npos ? pattern.size() : close;
      out.append(pattern.substr(i + 1, end - i - 1));
      i = close == std::string_view::npos ? pattern.size() : close + 1;
      continue;
    }
    if (c == '/') {
      out += settings.date_separator;
      ++i;
      continue;
    }
    if (c == ':') {
      out += settings.time_separator;
      ++i;
      continue;
    }
    const std::size_t run = IsAsciiLetter(c) ? RunLength(pattern, i) : 0;
    switch (lower) {
      case 'y':
        if (run <= 2) {
          AppendPadded(out, parts.year % 100, 2);
        } else {
          AppendPadded(out, parts.year, 4);
        }
        i += run;
        continue;
      case 'm':
        if (run == 1) {
          AppendPadded(out, parts.month, 1);
        } else if (run == 2) {
          AppendPadded(out, parts.month, 2);
        } else if (run == 3) {
          out += settings.short_month_names[parts.month - 1];
        } else {
          out += settings.long_month_names[parts.month - 1];
        }
        i += std::min<std::size_t>(run, 4);
        continue;
      case 'd':
        if (run == 1) {
          AppendPadded(out, parts.day, 1);
        } else if (run == 2) {
          AppendPadded(out, parts.day, 2);
        } else if (run == 3) {
          out += settings.short_day_names[parts.day_of_week];
        } else {
          out += settings.long_day_names[parts.day_of_week];
        }
        i += std::min<std::size_t>(run, 4);
        continue;
      case 'h':
      case 'n':
      case 's': {
        const int number = lower == 'h' ? shown_hour : lower == 'n' ? parts.minute : parts.second;
        AppendPadded(out, number, run >= 2 ? 2 : 1);
        i += std::min<std::size_t>(run, 2);
        continue;
      }
      case 'z':
        if (run >= 3) {
          AppendPadded(out, parts.millisecond, 3);
          i += 3;
        } else {
          AppendPadded(out, parts.millisecond, 1);
          i += 1;
        }
        continue;
      case 'a':
        if (StartsWithNoCase(pattern, i, "am/pm")) {
          const bool upper = c == 'A';
          out += before_noon ? (upper ? "AM" : "am") : (upper ? "PM" : "pm");
          i += 5;
          continue;
        }
        if (StartsWithNoCase(pattern, i, "a/p")) {
          const bool upper = c == 'A';
          out += before_noon ? (upper ? "A" : "a") : (upper ? "P" : "p");
          i += 3;
          continue;
        }
        if (StartsWithNoCase(pattern, i, "ampm")) {
          out += before_noon ? settings.am_string : settings.pm_string;
          i += 4;
          continue;
        }
        break;
      default:
        break;
    }
    out += c;
    ++i;
  }
  return out;
}

std::string FormatGroupedNumber(double value, int decimals, const FormatSettings& settings) {
  if (decimals < 0) decimals = 0;
  if (decimals > 9) decimals = 9;
  if (!std::isfinite(value)) return std::isnan(value) ? "NAN" : (value > 0 ? "INF" : "-INF");
  char buffer[400];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value),
                                    std::chars_format::fixed, decimals);
  if (result.ec != std::errc()) return "";
  const std::string_view digits(buffer, static_cast<std::size_t>(result.ptr - buffer));
  const std::size_t point = digits.find('.');
  const std::string_view whole = digits.substr(0, point);
  const std::string_view fraction =
      point == std::string_view::npos ? std::string_view() : digits.substr(point + 1);
  std::string out;
  for (std::size_t k = 0; k < whole.size(); ++k) {
    if (k > 0 && (whole.size() - k) % 3 == 0) out += settings.thousand_separator;
    out += whole[k];
  }
  if (!fraction.empty()) {
    out += settings.decimal_separator;
    out.append(fraction);
  }
  const bool all_zero = digits.find_first_not_of("0.") == std::string_view::npos;
  if (value < 0 && !all_zero) out.insert(0, "-");
  return out;
}

}  // namespace platform
