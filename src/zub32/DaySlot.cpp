#include "zub32/DaySlot.h"

#include <algorithm>
#include <cstdio>

#include "platform/LocaleFormat.h"

namespace zub32 {
namespace {

constexpr std::int64_t kMillisecondsPerSlot = 5 * 60 * 1000;
constexpr std::size_t kTagLetters = 2;

// Length of the UTF-8 sequence that starts with this byte; 1 for a byte that
// does not start one, so that broken text still advances.
std::size_t SequenceLength(unsigned char lead) {
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  return 1;
}

// The first count characters of a day name: bytes in a single-byte locale,
// whole UTF-8 sequences in a UTF-8 locale, so that a name is never cut in
// the middle of a character.
std::string FirstCharacters(const std::string& name, std::size_t count, bool utf8) {
  std::size_t end = 0;
  for (std::size_t taken = 0; taken < count && end < name.size(); ++taken) {
    end += utf8 ? SequenceLength(static_cast<unsigned char>(name[end])) : 1;
  }
  return name.substr(0, std::min(end, name.size()));
}

}  // namespace

int DaySlot(platform::TDateTime value) {
  // Whole milliseconds avoid the rounding of fraction * 288.0 at the exact
  // start of a slot (12:30:00.000 is slot 150, not 149).
  return static_cast<int>(platform::MillisecondOfDay(value) / kMillisecondsPerSlot);
}

std::array<int, kSlotsPerDay> SlotsOldestFirst(int current_slot) {
  std::array<int, kSlotsPerDay> slots{};
  for (int k = 0; k < kSlotsPerDay; ++k) slots[k] = (current_slot + 1 + k) % kSlotsPerDay;
  return slots;
}

std::string SlotTag(platform::TDateTime day, int slot) {
  const platform::FormatSettings& settings = platform::LocaleFormat();
  const platform::DateTimeParts parts = platform::DecodeDateTime(day);
  std::string name = settings.short_day_names[parts.day_of_week];
  for (char& c : name) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  char digits[16];
  std::snprintf(digits, sizeof digits, "%.*d", 3, slot);
  return FirstCharacters(name, kTagLetters, settings.utf8) + digits;
}

std::string CurrentSlotTag() {
  // One reading serves the day name and the slot, so that a tag taken at
  // midnight cannot pair one day's name with the next day's slot.
  const platform::TDateTime now = platform::Now();
  return SlotTag(now, DaySlot(now));
}

}  // namespace zub32
