// The five-minute day slot and the slot tag that name archived frames and
// overlays ("Image-MO150.png", "SESOverlay-MO150.bmp").
#pragma once

#include <array>
#include <string>

#include "platform/DateTime.h"

namespace zub32 {

// The five-minute slots of a day.
inline constexpr int kSlotsPerDay = 288;

// Whole part of (fraction of the local day elapsed * 288.0): 0 to 287.
int DaySlot(platform::TDateTime value);

// The slots of the day in time order for an archive that ends with the
// current slot: the slots after it (the day before's), then those from
// midnight up to the current one, oldest first.
std::array<int, kSlotsPerDay> SlotsOldestFirst(int current_slot);

// The first two characters of the abbreviated day name of the date (the
// locale's, ASCII letters upper-cased), then the slot written with at least
// three digits: "MO150".
std::string SlotTag(platform::TDateTime day, int slot);

// The slot tag of the current moment, from one reading of the clock.
std::string CurrentSlotTag();

}  // namespace zub32
