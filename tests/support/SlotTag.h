// The archive slot tag of a moment, worked out independently of the program:
// two letters of the weekday in English and the five-minute slot of the local
// day, zero-filled to three digits ("TU143").
#pragma once

#include <ctime>
#include <string>

namespace testing_support {

std::string SlotTag(std::time_t when);

}  // namespace testing_support
