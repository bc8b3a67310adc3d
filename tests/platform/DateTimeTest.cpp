#include "platform/DateTime.h"
#include "platform/DateTimeFormat.h"
#include "platform/DurationText.h"
#include "platform/NumberFormat.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <optional>
#include <string>

namespace platform {
namespace {

// 2024-07-22 (a Monday) is day 45495 of the day count.
constexpr double kJuly22 = 45495;

FormatSettings Dotted() {
  FormatSettings settings = CLocaleFormat();
  settings.date_separator = ".";
  settings.time_separator = "-";
  settings.thousand_separator = ",";
  return settings;
}

TEST(DateTimeTest, EncodesAndDecodesTheDayCount) {
  EXPECT_EQ(EncodeDateTime(1899, 12, 30, 0, 0, 0, 0), 0.0);
  EXPECT_EQ(EncodeDateTime(2024, 7, 22, 0, 0, 0, 0), kJuly22);
  EXPECT_DOUBLE_EQ(EncodeDateTime(2024, 7, 22, 21, 51, 30, 0), kJuly22 + 78690.0 / 86400.0);
  // Before day 0 the fraction still counts forwards from the day's midnight.
  EXPECT_DOUBLE_EQ(EncodeDateTime(1899, 12, 29, 6, 0, 0, 0), -1.25);

  const DateTimeParts parts = DecodeDateTime(EncodeDateTime(2024, 2, 29, 23, 59, 59, 999));
  EXPECT_EQ(parts.year, 2024);
  EXPECT_EQ(parts.month, 2);
  EXPECT_EQ(parts.day, 29);
  EXPECT_EQ(parts.hour, 23);
  EXPECT_EQ(parts.minute, 59);
  EXPECT_EQ(parts.second, 59);
  EXPECT_EQ(parts.millisecond, 999);
  EXPECT_EQ(parts.day_of_week, 4);  // Thursday

  EXPECT_EQ(DecodeDateTime(kJuly22).day_of_week, 1);
  EXPECT_EQ(DecodeDateTime(kJuly22 - 1).day_of_week, 0);
  EXPECT_EQ(DecodeDateTime(0).day_of_week, 6);
  const DateTimeParts early = DecodeDateTime(-1.25);
  EXPECT_EQ(early.day, 29);
  EXPECT_EQ(early.hour, 6);
  EXPECT_EQ(DecodeDateTime(EncodeDateTime(9999, 12, 31, 23, 59, 59, 0)).year, 9999);
  // Values no clock or file gives decode as day 0 instead of overflowing.
  EXPECT_EQ(DecodeDateTime(std::nan("")).year, 1899);
  EXPECT_EQ(DecodeDateTime(1e300).year, 1899);
}

TEST(DateTimeTest, DecodingRoundsToTheNearestMillisecond) {
  // 0.4 ms before midnight is midnight of the next day, not 23:59:59.999.
  const DateTimeParts parts = DecodeDateTime(kJuly22 + 1 - 0.0004 / 86400000.0 * 1000);
  EXPECT_EQ(parts.day, 23);
  EXPECT_EQ(parts.hour, 0);
  EXPECT_EQ(MillisecondOfDay(EncodeDateTime(2024, 7, 22, 12, 30, 0, 0)), 45000000);
}

TEST(DateTimeTest, FormatsPatternsWithTheLocaleSeparators) {
  const TDateTime value = EncodeDateTime(2024, 7, 22, 21, 51, 30, 7);
  EXPECT_EQ(FormatDateTime("hh:nn:ss dd/mm/yy", value, CLocaleFormat()), "21:51:30 22/07/24");
  EXPECT_EQ(FormatDateTime("hh:nn:ss dd/mm/yy", value, Dotted()), "21-51-30 22.07.24");
  EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", value, Dotted()), "2024-07-22 21-51-30.007");
  EXPECT_EQ(FormatDateTime("YYYYMMDDHHNNSSZZZ", value, CLocaleFormat()), "20240722215130007");
  EXPECT_EQ(FormatDateTime("d/m h:n:s z", EncodeDateTime(2024, 1, 2, 3, 4, 5, 60), CLocaleFormat()),
            "2/1 3:4:5 60");
  EXPECT_EQ(FormatDateTime("ddd dddd mmm mmmm", value, CLocaleFormat()), "Mon Monday Jul July");
  EXPECT_EQ(FormatDateTime("\"hh\" 'mm' hh", value, CLocaleFormat()), "hh mm 21");
}

TEST(DateTimeTest, TwelveHourClockFollowsTheAmPmMarker) {
  const FormatSettings settings = CLocaleFormat();
  EXPECT_EQ(FormatDateTime("h:nn am/pm", EncodeDateTime(2024, 7, 22, 0, 5, 0, 0), settings),
            "12:05 am");
  EXPECT_EQ(FormatDateTime("h:nn AM/PM", EncodeDateTime(2024, 7, 22, 12, 5, 0, 0), settings),
            "12:05 PM");
  EXPECT_EQ(FormatDateTime("hh:nn:ss ampm", EncodeDateTime(2024, 7, 22, 21, 51, 30, 0), settings),
            "09:51:30 PM");
  EXPECT_EQ(FormatDateTime("h a/p", EncodeDateTime(2024, 7, 22, 9, 0, 0, 0), settings), "9 a");
}

TEST(DateTimeTest, TranslatesLibraryFormatsIntoPatterns) {
  EXPECT_EQ(StrftimeToPattern("%m/%d/%y", "/", '/'), "mm/dd/yy");
  EXPECT_EQ(StrftimeToPattern("%d.%m.%Y", ".", '/'), "dd/mm/yyyy");
  EXPECT_EQ(StrftimeToPattern("%Y-%m-%d", "-", '/'), "yyyy/mm/dd");
  EXPECT_EQ(StrftimeToPattern("%H:%M:%S", ":", ':'), "hh:nn:ss");
  EXPECT_EQ(StrftimeToPattern("%r", ":", ':'), "hh:nn:ss ampm");
  EXPECT_EQ(StrftimeToPattern("%T %Z", ":", ':'), "hh:nn:ss ");
  // A letter that is not the separator is quoted, so it is not read as a field.
  EXPECT_EQ(StrftimeToPattern("%H h %M", "h", ':'), "hh : nn");
  EXPECT_EQ(StrftimeToPattern("%e de %B", "/", '/'), "d \"d\"\"e\" mmmm");

  EXPECT_EQ(FirstLiteral("%d.%m.%Y", false, "/"), ".");
  EXPECT_EQ(FirstLiteral("%H%M", false, ":"), ":");
  EXPECT_EQ(FirstLiteral("%Y\xE5\xB9\xB4%m", true, "/"), "\xE5\xB9\xB4");

  // A locale whose date reads 2024年07月22日 keeps its characters whole.
  FormatSettings settings = CLocaleFormat();
  settings.date_separator = FirstLiteral("%Y\xE5\xB9\xB4%m\xE6\x9C\x88%d\xE6\x97\xA5", true, "/");
  settings.short_date_format =
      StrftimeToPattern("%Y\xE5\xB9\xB4%m\xE6\x9C\x88%d\xE6\x97\xA5", settings.date_separator, '/');
  EXPECT_EQ(FormatDateTime(settings.short_date_format, kJuly22, settings),
            "2024\xE5\xB9\xB4"
            "07\xE6\x9C\x88"
            "22\xE6\x97\xA5");
}

TEST(DateTimeTest, GroupsThousands) {
  const FormatSettings dotted = Dotted();
  EXPECT_EQ(FormatGroupedNumber(1234567.891, 2, dotted), "1,234,567.89");
  EXPECT_EQ(FormatGroupedNumber(1234567.891, 2, CLocaleFormat()), "1234567.89");
  EXPECT_EQ(FormatGroupedNumber(999, 0, dotted), "999");
  EXPECT_EQ(FormatGroupedNumber(1000, 0, dotted), "1,000");
  EXPECT_EQ(FormatGroupedNumber(0, 2, dotted), "0.00");
  EXPECT_EQ(FormatGroupedNumber(-1234.5, 2, dotted), "-1,234.50");
  EXPECT_EQ(FormatGroupedNumber(-0.001, 2, dotted), "0.00");
  EXPECT_EQ(FormatGroupedNumber(99.996, 2, dotted), "100.00");
}

TEST(DateTimeTest, AgesReadInMinutesHoursOrDays) {
  const struct {
    std::int64_t seconds;
    const char* age;
  } kCases[] = {
      {0, "under a minute old"},
      {119, "1 minute old"},
      {3599, "59 minutes old"},
      {3600, "1 h 0 min old"},
      {40 * 3600 + 15 * 60, "40 h 15 min old"},
      {2 * 86400 - 1, "47 h 59 min old"},
      {2 * 86400 + 3 * 3600 + 59, "2 days 3 h old"},
      {-59, "under a minute old"},  // the clock a little behind the stamp
      {-34 * 60, "clock ahead by 34 min"},
      {std::numeric_limits<std::int64_t>::min(), "clock ahead by 106751991167300 days 15 h"}};
  for (const auto& c : kCases) EXPECT_EQ(AgeText(c.seconds), c.age) << c.seconds;
}

TEST(DateTimeTest, NowReadsTheInstalledClock) {
  SetClockForTesting([] { return kJuly22 + 0.5; });
  EXPECT_EQ(Now(), kJuly22 + 0.5);
  const TDateTime noon = EncodeDateTime(2024, 7, 22, 12, 0, 0, 250);
  SetClockForTesting([noon] { return noon; });
  // The Unix seconds of status.json come from the same clock as the pages.
  EXPECT_EQ(FormatIsoLocal(UnixNow()).substr(0, 19), "2024-07-22T12:00:00");
  EXPECT_EQ(ClockNow().time_since_epoch() % std::chrono::seconds(1),
            std::chrono::milliseconds(250));
  SetClockForTesting({});
  // The system clock: some time after 2020.
  EXPECT_GT(Now(), EncodeDateTime(2020, 1, 1, 0, 0, 0, 0));
  EXPECT_GT(UnixNow(), 1577836800);
}

TEST(DateTimeTest, UnixSecondsBecomeLocalTime) {
  const std::int64_t seconds = 1721685090;  // 2024-07-22 21:51:30 UTC
  time_t as_time = static_cast<time_t>(seconds);
  struct tm local {};
  localtime_r(&as_time, &local);
  const DateTimeParts parts = DecodeDateTime(UnixToLocalDateTime(seconds, 250000000));
  EXPECT_EQ(parts.hour, local.tm_hour);
  EXPECT_EQ(parts.minute, 51);
  EXPECT_EQ(parts.second, 30);
  EXPECT_EQ(parts.millisecond, 250);
}

}  // namespace
}  // namespace platform

namespace platform {
namespace {

// Sets TZ for the scope and restores the previous one.
class TimeZoneScope {
 public:
  explicit TimeZoneScope(const char* zone) {
    if (const char* previous = std::getenv("TZ")) previous_ = previous;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~TimeZoneScope() {
    if (previous_) {
      ::setenv("TZ", previous_->c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }
  TimeZoneScope(const TimeZoneScope&) = delete;
  TimeZoneScope& operator=(const TimeZoneScope&) = delete;

 private:
  std::optional<std::string> previous_;
};

// 2024-07-22T11:50:03Z.
constexpr std::int64_t kMoment = 1721649003;

TEST(DateTimeTest, WritesAndReadsIso8601WithTheLocalOffset) {
  const struct {
    const char* zone;
    const char* local;
  } kZones[] = {{"UTC0", "2024-07-22T11:50:03+00:00"},
                {"<+10>-10", "2024-07-22T21:50:03+10:00"},
                {"<-0330>3:30", "2024-07-22T08:20:03-03:30"}};
  for (const auto& zone : kZones) {
    const TimeZoneScope scope(zone.zone);
    EXPECT_EQ(FormatIsoLocal(kMoment), zone.local);
    EXPECT_EQ(ParseIsoTime(zone.local), kMoment) << zone.local;
    // A local date-time converts back to the same moment.
    EXPECT_EQ(LocalDateTimeToUnix(UnixToLocalDateTime(kMoment, 0)), kMoment);
  }
  EXPECT_EQ(FormatIsoUtc(kMoment), "2024-07-22T11:50:03Z");
  EXPECT_EQ(ParseIsoTime("2024-07-22T11:50:03Z"), kMoment);

  for (const char* text :
       {"2024-07-22T11:50:03", "2024-07-22 11:50:03Z", "2024-02-30T00:00:00Z",
        "2024-07-22T24:00:00Z", "2024-07-22T11:50:03+1000", "2024-07-22T11:50:03+10:00x",
        "+024-07-22T11:50:03Z", "2024-7-22T11:50:03Z", "0000-01-01T00:00:00Z"}) {
    EXPECT_FALSE(ParseIsoTime(text)) << text;
  }
}

}  // namespace
}  // namespace platform
