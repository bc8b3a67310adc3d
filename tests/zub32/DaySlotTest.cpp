#include "zub32/DaySlot.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "platform/LocaleFormat.h"

namespace zub32 {
namespace {

// The tags below are those of the C locale's day names, which the program
// reads from the environment like any other run started with LC_ALL=C.
const bool kCLocale = setenv("LC_ALL", "C", 1) == 0;

platform::TDateTime At(int day, int hour, int minute, int second, int millisecond = 0) {
  return platform::EncodeDateTime(2024, 7, day, hour, minute, second, millisecond);
}

TEST(DaySlotTest, FiveMinuteSlotsOfTheLocalDay) {
  EXPECT_EQ(DaySlot(At(22, 0, 0, 0)), 0);
  EXPECT_EQ(DaySlot(At(22, 0, 4, 59, 999)), 0);
  EXPECT_EQ(DaySlot(At(22, 0, 5, 0)), 1);
  EXPECT_EQ(DaySlot(At(22, 12, 29, 59, 999)), 149);
  EXPECT_EQ(DaySlot(At(22, 12, 30, 0)), 150);
  EXPECT_EQ(DaySlot(At(22, 12, 34, 56)), 150);
  EXPECT_EQ(DaySlot(At(22, 23, 59, 59)), 287);
  EXPECT_EQ(DaySlot(At(22, 23, 59, 59, 999)), 287);
}

TEST(DaySlotTest, TagsFromTheEnvironmentLocale) {
  ASSERT_TRUE(kCLocale);
  // 2024-07-21 is a Sunday.
  const char* expected[] = {"SU", "MO", "TU", "WE", "TH", "FR", "SA"};
  for (int k = 0; k < 7; ++k) {
    EXPECT_EQ(SlotTag(At(21 + k, 9, 0, 0), 5), std::string(expected[k]) + "005");
  }
  EXPECT_EQ(SlotTag(At(22, 12, 34, 56), 150), "MO150");
  EXPECT_EQ(SlotTag(At(22, 0, 0, 0), 0), "MO000");

  platform::SetClockForTesting([] { return At(23, 23, 59, 59); });
  EXPECT_EQ(CurrentSlotTag(), "TU287");
  platform::SetClockForTesting({});
}

TEST(DaySlotTest, TagCutsWholeCharacters) {
  platform::FormatSettings settings = platform::CLocaleFormat();
  settings.short_day_names[1] = "lun.";
  settings.short_day_names[2] = "\xD0\xB2\xD1\x82";  // two Cyrillic letters
  settings.utf8 = true;
  platform::SetLocaleFormatForTesting(settings);
  EXPECT_EQ(SlotTag(At(22, 0, 0, 0), 0), "LU000");
  EXPECT_EQ(SlotTag(At(23, 0, 0, 0), 7),
            "\xD0\xB2\xD1\x82"
            "007");
  platform::SetLocaleFormatForTesting(std::nullopt);
}

}  // namespace
}  // namespace zub32
