#include "support/SlotTag.h"

#include <cstdio>

namespace testing_support {

std::string SlotTag(std::time_t when) {
  std::tm local{};
  ::localtime_r(&when, &local);
  static constexpr const char* kDays[] = {"SU", "MO", "TU", "WE", "TH", "FR", "SA"};
  char tag[16];
  std::snprintf(tag, sizeof tag, "%s%03d", kDays[local.tm_wday],
                (local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec) / 300);
  return tag;
}

}  // namespace testing_support
