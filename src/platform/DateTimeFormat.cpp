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

}  // namespace platform
