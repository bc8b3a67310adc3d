// status.json read back, the metrics text, the Retry-After wait, the stale
// alert's timing and what vesk --status makes of a status.json.
#include "refresh/RunStatus.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "http/RetryAfter.h"
#include "platform/DateTime.h"
#include "refresh/BackOff.h"
#include "refresh/FrameLinks.h"
#include "refresh/RunMetrics.h"
#include "refresh/StaleAlert.h"
#include "refresh/StatusCommand.h"
#include "site/SiteNames.h"
#include "site/StatusDocument.h"
#include "support/FindProgram.h"
#include "support/RunProcess.h"
#include "support/TempDir.h"

namespace refresh {
namespace {

// 2024-07-22T11:50:00Z.
constexpr std::int64_t kFrameTime = 1721649000;

site::RunStatus SampleStatus() {
  site::RunStatus status;
  status.version = "2024.7.22.2151";
  status.product = "IDR641";
  status.started = kFrameTime + 180;
  status.finished = kFrameTime + 181;
  status.outcome = site::RunResult::kFailed;
  status.failure =
      site::RunFailure{"EIdHTTPProtocolException", "HTTP/1.1 503 \"Busy\"\r\n\xFF", "Main():100"};
  status.last_success = kFrameTime;
  status.consecutive_failures = 2;
  status.newest_frame = site::NewestFrame{"/radar/IDR641.T.202407221150.png", kFrameTime, 181};
  status.frames = {{"Image6.png", "/radar/IDR641.T.202407221120.png"},
                   {"Image0.png", "/radar/IDR641.T.202407221150.png"}};
  status.archive = {{"MO143", "Image-MO143.png", "", kFrameTime - 300}};
  status.stale = true;
  status.not_before = kFrameTime + 3600;
  status.station = site::StationValues{"21.4", "SW \"11\" km/h", kFrameTime};
  status.stale_after_minutes = 30;
  site::NowcastRecord nowcast;
  nowcast.issued = kFrameTime;
  nowcast.frames = {{"Nowcast1.png", 5, kFrameTime + 300}, {"Nowcast6.png", 30, kFrameTime + 1800}};
  nowcast.speed_pixels_per_hour = 86;
  nowcast.direction_degrees = 63;
  nowcast.rain_expected_in_minutes = 30;
  status.nowcast = nowcast;
  return status;
}

TEST(RunStatusTest, FrameTimesComeFromTheTwelveDigitsOfTheName) {
  const struct {
    const char* address;
    std::optional<std::int64_t> time;
  } kCases[] = {{"/radar/IDR641.T.202407221150.png", kFrameTime},
                {"/radar/2024/IDR641.T.202407221150.png", kFrameTime},
                {"/radar/IDR641.T.2024072211501.png", std::nullopt},  // thirteen digits
                {"/radar/IDR641.T.20240722115.png", std::nullopt},
                {"/radar/IDR641.T.202413221150.png", std::nullopt},  // month 13
                {"/radar/latest.png", std::nullopt}};
  for (const auto& c : kCases)
    EXPECT_EQ(site::FrameTimeFromAddress(c.address), c.time) << c.address;
}

TEST(RunStatusTest, StatusReadsBackAndCorruptTextCountsAsAbsent) {
  const std::string text = site::StatusJson(SampleStatus());
  EXPECT_NE(text.find("\"failure\": {\"class\": \"EIdHTTPProtocolException\", \"message\": "
                      "\"HTTP/1.1 503 \\\"Busy\\\"\\r\\n\xEF\xBF\xBD\""),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\"time\": \"2024-07-22T11:50:00Z\""), std::string::npos) << text;
  EXPECT_NE(text.find("\"overlay\": null"), std::string::npos) << text;
  EXPECT_NE(text.find("\"station\": {\"temperature\": \"21.4\", \"wind\": \"SW \\\"11\\\" km/h\", "
                      "\"updated\": \"2024-07-22T11:50:00Z\"},\n \"frames\""),
            std::string::npos)
      << text;
  const std::optional<site::RunStatus> back = site::ParseStatusJson(text);
  ASSERT_TRUE(back) << text;
  EXPECT_EQ(back->last_success, kFrameTime);
  EXPECT_EQ(back->last_new_frame, std::nullopt);
  EXPECT_EQ(back->consecutive_failures, 2);
  EXPECT_EQ(back->not_before, kFrameTime + 3600);
  EXPECT_EQ(back->newest_frame->age_seconds, 181);
  ASSERT_EQ(back->frames.size(), 2u);
  EXPECT_EQ(back->frames[1].address, "/radar/IDR641.T.202407221150.png");
  EXPECT_TRUE(back->stale);
  ASSERT_TRUE(back->nowcast);
  EXPECT_EQ(back->nowcast->issued, kFrameTime);
  ASSERT_EQ(back->nowcast->frames.size(), 2u);
  EXPECT_EQ(back->nowcast->frames[1].file, "Nowcast6.png");
  EXPECT_EQ(back->nowcast->frames[1].lead_minutes, 30);
  EXPECT_EQ(back->nowcast->frames[1].time, kFrameTime + 1800);
  EXPECT_EQ(back->nowcast->direction_degrees, 63);
  EXPECT_EQ(back->nowcast->rain_expected_in_minutes, 30);
  // A nowcast that could not be made reads back with its reason.
  site::RunStatus none = SampleStatus();
  none.nowcast = site::NowcastRecord{};
  none.nowcast->reason = "3 usable frames, at least 4 needed";
  const std::optional<site::RunStatus> none_back = site::ParseStatusJson(site::StatusJson(none));
  ASSERT_TRUE(none_back && none_back->nowcast);
  EXPECT_EQ(none_back->nowcast->reason, none.nowcast->reason);
  EXPECT_TRUE(none_back->nowcast->frames.empty());
  EXPECT_EQ(none_back->nowcast->rain_expected_in_minutes, std::nullopt);

  std::string unknown_outcome = text;
  unknown_outcome.replace(text.find("\"outcome\": \"failed\""), 19, "\"outcome\": \"banana\"");
  for (const std::string& corrupt :
       {text.substr(0, text.size() / 2), std::string("[]"), std::string("{\"program\": \"X\"}"),
        unknown_outcome,
        // A local time that would be written back in year 0.
        std::string("{\"program\": \"VESK\", \"run\": {}, \"consecutive_failures\": 0, "
                    "\"last_success\": \"0001-01-01T00:00:00+23:59\"}"),
        std::string("{\"program\": \"VESK\", \"run\": {}, \"consecutive_failures\": -1}"),
        std::string("{\"program\": \"VESK\", \"run\": {}, \"consecutive_failures\": 0, "
                    "\"last_success\": \"yesterday\"}")}) {
    EXPECT_FALSE(site::ParseStatusJson(corrupt)) << corrupt;
  }
}

TEST(RunStatusTest, HostileTextAndCountsStillWriteADocumentThatReadsBack) {
  // 400 KB addresses of bytes that are no UTF-8, each written as U+FFFD.
  const std::string hostile(400 * 1024, '\xFF');
  site::RunStatus previous = SampleStatus();
  previous.consecutive_failures = std::numeric_limits<std::int64_t>::max();
  previous.frames.clear();
  for (int i = 0; i < 7; ++i) previous.frames.push_back({site::FrameFileName(i), hostile});
  site::RunStatus status = SampleStatus();
  status.failure->message = hostile + "\"\\";
  status.newest_frame->address = hostile;
  CarryOverStatus(status, previous, {{"Image0.png", hostile}}, kFrameTime);
  EXPECT_EQ(status.consecutive_failures, std::numeric_limits<std::int64_t>::max());
  const std::string text = site::StatusJson(status);
  EXPECT_LE(text.size(), site::kMaxStatusDocumentBytes);
  // Each frame names the ring member the pages show with it.
  for (const char* pair : {"{\"file\": \"Image6.png\", \"overlay\": \"SESOverlay6.bmp\", ",
                           "{\"file\": \"Image0.png\", \"overlay\": \"SESOverlay0.bmp\", "}) {
    EXPECT_NE(text.find(pair), std::string::npos) << pair;
  }
  const std::optional<site::RunStatus> back = site::ParseStatusJson(text);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->consecutive_failures, std::numeric_limits<std::int64_t>::max());
  ASSERT_EQ(back->frames.size(), 7u);
  // Cut on a character boundary at kMaxStatusTextBytes and marked.
  EXPECT_TRUE(back->frames[0].address.ends_with("\xEF\xBF\xBD\xE2\x80\xA6"));
  EXPECT_LE(back->frames[0].address.size(), site::kMaxStatusTextBytes);
  EXPECT_GT(back->frames[0].address.size(), site::kMaxStatusTextBytes - 6);

  // An age too large to grow is left out rather than wrapped.
  status.newest_frame->address = "/radar/IDR641.T.202407221150.png";
  status.newest_frame->age_seconds = std::numeric_limits<std::int64_t>::max();
  EXPECT_EQ(DescribeStatus(true, site::StatusJson(status), kFrameTime + 3600).lines.at(2),
            "Newest frame: /radar/IDR641.T.202407221150.png");
}

TEST(RunStatusTest, RetryAfterGivesSecondsOrAnHttpDateCappedAtSixHours) {
  const std::int64_t now = 784111777;  // Sun, 06 Nov 1994 08:49:37 GMT
  const struct {
    const char* value;
    std::optional<std::int64_t> wait;
  } kCases[] = {{"120", 120},
                {" 120 ", 120},
                {"0", std::nullopt},
                {"100000", kMaxBackOffSeconds},
                {"99999999999999999999", std::nullopt},
                {"12a", std::nullopt},
                {"-5", std::nullopt},
                {"Sun, 06 Nov 1994 09:49:37 GMT", 3600},
                {"Sun, 06 Nov 1994 08:00:00 GMT", std::nullopt},  // past
                {"Mon, 07 Nov 1994 08:49:37 GMT", kMaxBackOffSeconds},
                {"soon", std::nullopt},
                {"", std::nullopt}};
  for (const auto& c : kCases)
    EXPECT_EQ(http::RetryAfterSeconds(c.value, now, kMaxBackOffSeconds), c.wait) << c.value;
}

TEST(RunStatusTest, StaleLineOnceAnHourAndOneFreshLineAfterwards) {
  const std::int64_t now = kFrameTime;
  const struct {
    bool stale;
    bool on_record;
    std::optional<std::int64_t> last_alert;
    StaleAlert alert;
  } kCases[] = {
      {true, false, std::nullopt, StaleAlert::kStale},
      {true, true, now - 60, StaleAlert::kNone},
      {true, true, now - kStaleAlertRepeatSeconds, StaleAlert::kStale},
      {true, true, std::nullopt, StaleAlert::kStale},  // unreadable record
      {true, true, now + 7200, StaleAlert::kStale},    // a record from the future
      {false, true, now - 60, StaleAlert::kFresh},
      {false, false, std::nullopt, StaleAlert::kNone},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(DecideStaleAlert(c.stale, c.on_record, c.last_alert, now), c.alert)
        << c.stale << c.on_record << c.last_alert.value_or(0);
  }
}

TEST(RunStatusTest, StatusCommandFollowsTheMonitoringPluginConvention) {
  const auto with = [](std::int64_t failures, bool stale,
                       std::optional<std::int64_t> not_before = std::nullopt,
                       int stale_after_minutes = 30) {
    site::RunStatus status = SampleStatus();
    status.consecutive_failures = failures;
    status.stale = stale;
    status.not_before = not_before;
    status.stale_after_minutes = stale_after_minutes;
    return site::StatusJson(status);
  };
  const std::int64_t now = kFrameTime + 181;
  std::string earlier_version = with(0, false, std::nullopt, 5);
  earlier_version.erase(earlier_version.find("\"stale_after_minutes\": 5, "), 26);
  const struct {
    bool present;
    std::optional<std::string> text;
    int exit_code;
    std::int64_t since_run = 0;  // seconds from the last run's end to the check
    const char* headline = nullptr;
  } kCases[] = {{true, with(0, false), 0},
                // A scheduler that stopped: the run's StaleAfter ages the last run.
                {true, with(0, false), 0, 30 * 60},
                {true, with(0, false), 1, 30 * 60 + 1, "VESK WARNING - no run for 30 minutes"},
                {true, with(2, false), 1, 60 * 60, "VESK WARNING - no run for 1 h 0 min"},
                {true, with(0, false), 2, 90 * 60 + 1, "VESK CRITICAL - no run for 1 h 30 min"},
                {true, with(3, false), 2, 31 * 60, "VESK CRITICAL - the last 3 runs failed"},
                {true, with(0, false, std::nullopt, 1), 2, 41 * 3600 + 120,
                 "VESK CRITICAL - no run for 41 h 2 min"},
                {true, with(0, false, std::nullopt, 0), 0, 9 * 86400},  // the alert is off
                {true, with(0, false), 0, -86400},                      // a clock set back
                // A document without the member: the default StaleAfter.
                {true, earlier_version, 1, 30 * 60 + 1},
                {true, with(0, true), 1},
                {true, with(1, false), 1},
                {true, with(2, false), 1},
                {true, with(3, true), 2},
                {true, with(std::numeric_limits<std::int64_t>::max(), false), 2},
                {true, with(0, false, now + kMaxBackOffSeconds), 1},      // a wait pending
                {true, with(0, false, now + kMaxBackOffSeconds + 1), 0},  // ignored
                {true, with(0, false, now), 0},                           // passed
                {false, std::nullopt, 2},
                {true, std::nullopt, 3},
                {true, "{\"program\"", 3}};
  for (const auto& c : kCases) {
    const StatusReport report = DescribeStatus(c.present, c.text, now + c.since_run);
    EXPECT_EQ(report.exit_code, c.exit_code) << c.text.value_or("(none)");
    ASSERT_FALSE(report.lines.empty());
    if (c.headline != nullptr) {
      EXPECT_EQ(report.lines.front(), c.headline);
    }
  }
  const StatusReport report = DescribeStatus(true, with(1, true), kFrameTime + 181 + 600);
  EXPECT_EQ(report.lines.at(0), "VESK WARNING - the last run failed");
  // The age grows with the time since the run.
  EXPECT_EQ(report.lines.at(2), "Newest frame: /radar/IDR641.T.202407221150.png, 13 minutes old");
  EXPECT_EQ(report.lines.at(4), "Stale: yes");
  const StatusReport waiting = DescribeStatus(true, with(0, false, now + 60), now);
  EXPECT_EQ(waiting.lines.at(0), "VESK WARNING - the radar source asked to wait until " +
                                     platform::FormatIsoLocal(now + 60));
  EXPECT_EQ(DescribeStatus(true, with(0, false, now + 86400), now).lines.at(5),
            "Not before: " + platform::FormatIsoLocal(now + 86400) +
                " (more than 6 hours ahead: the next run ignores it)");
}

TEST(RunStatusTest, MetricsPassPromtool) {
  const std::string text = MetricsText(SampleStatus());
  EXPECT_NE(text.find("vesk_source_stale{product=\"IDR641\"} 1\n"), std::string::npos) << text;
  EXPECT_NE(text.find("vesk_run_success{product=\"IDR641\"} 0\n"), std::string::npos) << text;
  EXPECT_NE(text.find("vesk_rain_expected_seconds{product=\"IDR641\"} 1800\n"), std::string::npos)
      << text;
  const std::string promtool = testing_support::FindProgram("promtool");
  if (promtool.empty()) GTEST_SKIP() << "promtool (Debian package prometheus) is not installed";
  testing_support::ProcessOptions options;
  options.binary = promtool;
  options.args = {"check", "metrics"};
  options.standard_input = text;
  const testing_support::ProcessResult result = testing_support::RunProcess(options);
  EXPECT_EQ(result.exit_code, 0) << result.out << result.err;
}

}  // namespace
}  // namespace refresh
