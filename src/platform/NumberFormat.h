// Writing a number with digit groups in the regional settings.
#pragma once

#include <string>

#include "platform/LocaleFormat.h"

namespace platform {

// Formats a number with the pattern "#,##0.00" or "#,##0": digit groups joined
// by the thousands separator, the given count of decimals (0 to 9), rounded
// half away from zero.
std::string FormatGroupedNumber(double value, int decimals,
                                const FormatSettings& settings = LocaleFormat());

}  // namespace platform
