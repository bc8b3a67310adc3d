// status.json read back, the metrics text, the Retry-After wait, the stale
// alert's timing and what vesk --status makes of a status.json.
#include "refresh/RunStatus.h"

#include <gtest/gtest.h>

#include <string>

#include "support/FindProgram.h"
#include "support/RunProcess.h"
#include "support/TempDir.h"

namespace refresh {
namespace {

// 2024-07-22T11:50:00Z.
constexpr std::int64_t kFrameTime = 1721649000;

RunStatus SampleStatus() {
  RunStatus status;
  status.version = "2024.7.22.2151";
  status.product = "IDR641";
  status.started = kFrameTime + 180;
  status.finished = kFrameTime + 181;
  status.outcome = "failed";
  status.failure =
      RunFailure{"EIdHTTPProtocolException", "HTTP/1.1 503 \"Busy\"\r\n\xFF", "Main():100"};
  status.last_success = kFrameTime;
  status.consecutive_failures = 2;
  status.newest_frame = NewestFrame{"/radar/IDR641.T.202407221150.png", kFrameTime, 181};
  status.frames = {{"Image6.png", "/radar/IDR641.T.202407221120.png"},
                   {"Image0.png", "/radar/IDR641.T.202407221150.png"}};
  status.archive = {{"MO143", "Image-MO143.png", "", kFrameTime - 300}};
  status.stale = true;
  status.not_before = kFrameTime + 3600;
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
  for (const auto& c : kCases) EXPECT_EQ(FrameTimeFromAddress(c.address), c.time) << c.address;
}

TEST(RunStatusTest, StatusReadsBackAndCorruptTextCountsAsAbsent) {
  const std::string text = StatusJson(SampleStatus());
  EXPECT_NE(text.find("\"failure\": {\"class\": \"EIdHTTPProtocolException\", \"message\": "
                      "\"HTTP/1.1 503 \\\"Busy\\\"\\r\\n\xEF\xBF\xBD\""),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\"time\": \"2024-07-22T11:50:00Z\""), std::string::npos) << text;
  EXPECT_NE(text.find("\"overlay\": null"), std::string::npos) << text;
  const std::optional<RunStatus> back = ParseStatusJson(text);
  ASSERT_TRUE(back) << text;
  EXPECT_EQ(back->last_success, kFrameTime);
  EXPECT_EQ(back->last_new_frame, std::nullopt);
  EXPECT_EQ(back->consecutive_failures, 2);
  EXPECT_EQ(back->not_before, kFrameTime + 3600);
  EXPECT_EQ(back->newest_frame->age_seconds, 181);
  ASSERT_EQ(back->frames.size(), 2u);
  EXPECT_EQ(back->frames[1].address, "/radar/IDR641.T.202407221150.png");
  EXPECT_TRUE(back->stale);

  for (const std::string& corrupt :
       {text.substr(0, text.size() / 2), std::string("[]"), std::string("{\"program\": \"X\"}"),
        std::string("{\"program\": \"VESK\", \"run\": {}, \"consecutive_failures\": -1}"),
        std::string("{\"program\": \"VESK\", \"run\": {}, \"consecutive_failures\": 0, "
                    "\"last_success\": \"yesterday\"}")}) {
    EXPECT_FALSE(ParseStatusJson(corrupt)) << corrupt;
  }
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
  for (const auto& c : kCases) EXPECT_EQ(RetryAfterSeconds(c.value, now), c.wait) << c.value;
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
  const auto with = [](std::int64_t failures, bool stale) {
    RunStatus status = SampleStatus();
    status.consecutive_failures = failures;
    status.stale = stale;
    return StatusJson(status);
  };
  const struct {
    bool present;
    std::optional<std::string> text;
    int exit_code;
  } kCases[] = {{true, with(0, false), 0}, {true, with(0, true), 1}, {true, with(1, false), 1},
                {true, with(2, false), 1}, {true, with(3, true), 2}, {false, std::nullopt, 2},
                {true, std::nullopt, 3},   {true, "{\"program\"", 3}};
  for (const auto& c : kCases) {
    const StatusReport report = DescribeStatus(c.present, c.text, kFrameTime + 181);
    EXPECT_EQ(report.exit_code, c.exit_code) << c.text.value_or("(none)");
    ASSERT_FALSE(report.lines.empty());
  }
  const StatusReport report = DescribeStatus(true, with(1, true), kFrameTime + 181 + 600);
  EXPECT_EQ(report.lines.at(0), "VESK WARNING - the last run failed");
  // The age grows with the time since the run.
  EXPECT_EQ(report.lines.at(2), "Newest frame: /radar/IDR641.T.202407221150.png, 13 minutes old");
  EXPECT_EQ(report.lines.at(4), "Stale: yes");
}

TEST(RunStatusTest, MetricsPassPromtool) {
  const std::string text = MetricsText(SampleStatus());
  EXPECT_NE(text.find("vesk_source_stale{product=\"IDR641\"} 1\n"), std::string::npos) << text;
  EXPECT_NE(text.find("vesk_run_success{product=\"IDR641\"} 0\n"), std::string::npos) << text;
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
