#include "platform/LocaleFormat.h"

#include <langinfo.h>
#include <locale.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <utility>

#include "platform/AsciiText.h"

namespace platform {
namespace {

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

// What each C library conversion becomes in a FormatDateTime pattern: the
// pattern's own letters, or a C library format of its own that is
// translated in turn.
struct Conversion {
  char code;
  std::string_view text;
  bool expands;
};
constexpr Conversion kConversions[] = {
    {'a', "ddd", false},     {'A', "dddd", false},    {'b', "mmm", false},
    {'h', "mmm", false},     {'B', "mmmm", false},    {'d', "dd", false},
    {'e', "d", false},       {'m', "mm", false},      {'y', "yy", false},
    {'Y', "yyyy", false},    {'G', "yyyy", false},    {'H', "hh", false},
    {'I', "hh", false},      {'k', "h", false},       {'l', "h", false},
    {'M', "nn", false},      {'S', "ss", false},      {'p', "ampm", false},
    {'P', "ampm", false},    {'n', " ", false},       {'t', " ", false},
    {'%', "%", false},       {'D', "%m/%d/%y", true}, {'F', "%Y-%m-%d", true},
    {'T', "%H:%M:%S", true}, {'R', "%H:%M", true},    {'r', "%I:%M:%S %p", true},
};

}  // namespace

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
    const auto found =
        std::find_if(std::begin(kConversions), std::end(kConversions),
                     [&](const Conversion& entry) { return entry.code == format[at]; });
    // Conversions without a counterpart (time zone, week number) are left out.
    if (found == std::end(kConversions)) continue;
    pattern += found->expands ? StrftimeToPattern(found->text, separator, placeholder)
                              : std::string(found->text);
  }
  return pattern;
}

}  // namespace platform
