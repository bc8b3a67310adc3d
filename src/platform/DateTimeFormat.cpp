#include "platform/DateTimeFormat.h"

#include <algorithm>
#include <cstdio>

#include "platform/AsciiText.h"

namespace platform {
namespace {

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

}  // namespace

namespace {

// What a pattern field writes: its parts and the settings of the locale.
struct FieldContext {
  const DateTimeParts& parts;
  int shown_hour;
  const FormatSettings& settings;
};

// Writes a month or day field: one or two digits, or the short or long name.
void AppendNumberOrName(std::string& out, std::size_t run, int number,
                        const std::string& short_name, const std::string& long_name) {
  if (run <= 2) {
    AppendPadded(out, number, static_cast<int>(run));
  } else {
    out += run == 3 ? short_name : long_name;
  }
}

// Writes an am/pm field starting at i; returns its length, 0 when none
// starts there.
std::size_t AppendMarker(std::string& out, std::string_view pattern, std::size_t i,
                         const FieldContext& field) {
  const bool before_noon = field.parts.hour < 12;
  const bool upper = pattern[i] == 'A';
  if (StartsWithNoCase(pattern, i, "am/pm")) {
    out += before_noon ? (upper ? "AM" : "am") : (upper ? "PM" : "pm");
    return 5;
  }
  if (StartsWithNoCase(pattern, i, "a/p")) {
    out += before_noon ? (upper ? "A" : "a") : (upper ? "P" : "p");
    return 3;
  }
  if (StartsWithNoCase(pattern, i, "ampm")) {
    out += before_noon ? field.settings.am_string : field.settings.pm_string;
    return 4;
  }
  return 0;
}

// Writes the letter field that starts at i; returns its length, 0 when the
// letter starts none and is copied as it is.
std::size_t AppendField(std::string& out, std::string_view pattern, std::size_t i,
                        const FieldContext& field) {
  const DateTimeParts& parts = field.parts;
  const FormatSettings& settings = field.settings;
  const std::size_t run = RunLength(pattern, i);
  switch (AsciiLower(pattern[i])) {
    case 'y':
      AppendPadded(out, run <= 2 ? parts.year % 100 : parts.year, run <= 2 ? 2 : 4);
      return run;
    case 'm':
      AppendNumberOrName(out, std::min<std::size_t>(run, 4), parts.month,
                         settings.short_month_names[parts.month - 1],
                         settings.long_month_names[parts.month - 1]);
      return std::min<std::size_t>(run, 4);
    case 'd':
      AppendNumberOrName(out, std::min<std::size_t>(run, 4), parts.day,
                         settings.short_day_names[parts.day_of_week],
                         settings.long_day_names[parts.day_of_week]);
      return std::min<std::size_t>(run, 4);
    case 'h':
      AppendPadded(out, field.shown_hour, run >= 2 ? 2 : 1);
      return std::min<std::size_t>(run, 2);
    case 'n':
      AppendPadded(out, parts.minute, run >= 2 ? 2 : 1);
      return std::min<std::size_t>(run, 2);
    case 's':
      AppendPadded(out, parts.second, run >= 2 ? 2 : 1);
      return std::min<std::size_t>(run, 2);
    case 'z':
      AppendPadded(out, parts.millisecond, run >= 3 ? 3 : 1);
      return run >= 3 ? 3 : 1;
    case 'a':
      return AppendMarker(out, pattern, i, field);
    default:
      return 0;
  }
}

}  // namespace

std::string FormatDateTime(std::string_view pattern, TDateTime value,
                           const FormatSettings& settings) {
  const DateTimeParts parts = DecodeDateTime(value);
  int shown_hour = parts.hour;
  if (UsesTwelveHourClock(pattern)) {
    shown_hour = parts.hour % 12;
    if (shown_hour == 0) shown_hour = 12;
  }
  const FieldContext field{parts, shown_hour, settings};
  std::string out;
  for (std::size_t i = 0; i < pattern.size();) {
    const char c = pattern[i];
    if (c == '"' || c == '\'') {
      const std::size_t close = pattern.find(c, i + 1);
      const std::size_t end = close == std::string_view::npos ? pattern.size() : close;
      out.append(pattern.substr(i + 1, end - i - 1));
      i = close == std::string_view::npos ? pattern.size() : close + 1;
      continue;
    }
    if (c == '/' || c == ':') {
      out += c == '/' ? settings.date_separator : settings.time_separator;
      ++i;
      continue;
    }
    const std::size_t length = IsAsciiLetter(c) ? AppendField(out, pattern, i, field) : 0;
    if (length > 0) {
      i += length;
    } else {
      out += c;
      ++i;
    }
  }
  return out;
}

}  // namespace platform
