#include "platform/NumberFormat.h"

#include <charconv>
#include <cmath>
#include <string_view>

namespace platform {

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
