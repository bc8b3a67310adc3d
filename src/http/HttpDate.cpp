#include "http/HttpDate.h"

#include <string_view>
#include <vector>

#include "platform/AsciiText.h"
#include "platform/DateTime.h"

#include "http/TIdHTTPResponse.h"

namespace http {
namespace {

constexpr int kMaxYear = 9999;
constexpr std::int64_t kSecondsPerDay = 86400;

int MonthIndex(std::string_view name) {
  static const char* const kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                        "jul", "aug", "sep", "oct", "nov", "dec"};
  if (name.size() < 3) return -1;
  for (int i = 0; i < 12; ++i)
    if (platform::EqualsIgnoringAsciiCase(name.substr(0, 3), kMonths[i])) return i;
  return -1;
}

}  // namespace

std::optional<std::int64_t> ParseHttpDate(const std::string& text) {
  // Tokens split at blanks, commas and dashes; the time is the token with
  // colons, the month the one with letters that names a month, then day and
  // year in that order among the numbers.
  std::vector<std::string> tokens;
  std::string current;
  for (char c : text + " ") {
    if (c == ' ' || c == ',' || c == '-' || c == '\t') {
      if (!current.empty()) tokens.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  int day = -1, month = -1, year = -1, hour = -1, minute = -1, second = -1;
  bool short_year = false;
  for (const std::string& token : tokens) {
    std::int64_t number = 0;
    if (token.find(':') != std::string::npos && hour < 0) {
      std::int64_t h = 0, m = 0, s = 0;
      std::size_t a = token.find(':'), b = token.find(':', a + 1);
      if (b == std::string::npos || !ParseDecimal(token.substr(0, a), &h) ||
          !ParseDecimal(token.substr(a + 1, b - a - 1), &m) ||
          !ParseDecimal(token.substr(b + 1), &s) || h < 0 || h > 23 || m < 0 || m > 59 || s < 0 ||
          s > 60)
        return std::nullopt;
      hour = static_cast<int>(h), minute = static_cast<int>(m), second = static_cast<int>(s);
    } else if (month < 0 && MonthIndex(token) >= 0) {
      month = MonthIndex(token);
    } else if (token.size() <= 4 && ParseDecimal(token, &number) && number >= 0) {
      if (day < 0 && token.size() <= 2) {
        day = static_cast<int>(number);
      } else if (year < 0) {
        year = static_cast<int>(number);
        short_year = token.size() <= 2;
      }
    }
  }
  if (day < 1 || day > 31 || month < 0 || year < 0 || hour < 0) return std::nullopt;
  // Only a two-digit year is a year of the last or this century: "0100" is
  // the year 100.
  if (short_year) year += year < 70 ? 2000 : 1900;
  if (year < 1 || year > kMaxYear) return std::nullopt;
  const std::int64_t days =
      platform::DaysFromCivil(year, static_cast<unsigned>(month + 1), static_cast<unsigned>(day));
  return days * kSecondsPerDay + hour * 3600 + minute * 60 + second;
}

}  // namespace http
