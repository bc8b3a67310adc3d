// The regional settings that dates, times and numbers are written with.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

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

}  // namespace platform
