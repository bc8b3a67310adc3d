#include "refresh/RainAlert.h"

#include <string>

#include "refresh/StaleAlert.h"

namespace refresh {

void AlertOnRain(const site::RunStatus& status, bool station_set, std::int64_t now) {
  const bool rain =
      station_set && status.nowcast && status.nowcast->rain_expected_in_minutes.has_value();
  const std::int64_t minutes = rain ? *status.nowcast->rain_expected_in_minutes : 0;
  const std::string product = "Product=" + status.product;
  AnnounceCondition(rain,
                    {kRainAlertFileName, kRainSyslogCode,
                     "RAIN:" + product + " In=" + std::to_string(minutes) + "min", kDrySyslogCode,
                     "DRY:" + product},
                    now);
}

}  // namespace refresh
