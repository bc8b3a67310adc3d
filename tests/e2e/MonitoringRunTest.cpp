// What runs leave for their operators, with the real binary: a source that
// stops publishing turns stale after StaleAfter and is announced once on a
// loopback syslog listener, vesk --status warns about it and about runs that
// stopped, and a source that answers 503 with Retry-After is left alone until
// then, but not for longer than any answer may ask. A run with a new frame
// publishes its nowcast, and the station's rain warning goes out once at
// onset and is cleared once.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "support/RequireEnvironment.h"
#include "support/RunProcess.h"
#include "support/ScriptedServer.h"
#include "support/SimProcess.h"
#include "support/SlotTag.h"
#include "support/TempDir.h"
#include "support/TestText.h"
#include "support/UdpListener.h"

namespace {

using testing_support::ProcessOptions;
using testing_support::ProcessResult;
using testing_support::ScriptedServer;
using testing_support::SimProcess;
using testing_support::TempDir;

class MonitoringRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_ENVIRONMENT("VESK_BINARY", "VESK_SIM_BINARY");
    ASSERT_TRUE(testing_support::WriteSimBackground(home_.File("IDR641.background.bmp")));
  }

  ProcessResult Vesk(const std::string& host, const std::string& syslog,
                     std::vector<std::string> args = {},
                     const std::map<std::string, std::string>& settings = {}) const {
    ProcessOptions options =
        testing_support::VeskRunOptions(testing_support::VeskBinary(), elsewhere_.path());
    options.args = std::move(args);
    options.environment["VESK_HOME"] = home_.path();
    options.environment["VESK_SYSLOG"] = syslog;
    options.environment["VESK_RADAR_HOST"] = host;
    options.environment["VESK_PUBLISH_HOST"] = host;
    options.environment["VESK_STALE_AFTER"] = "1";
    options.environment["VESK_METRICS_FILE"] = "vesk.prom";
    for (const auto& [name, value] : settings) options.environment[name] = value;
    ProcessResult result = testing_support::RunProcess(options);
    EXPECT_FALSE(result.timed_out);
    return result;
  }

  static bool HasLine(const ProcessResult& result, const std::string& start) {
    for (const std::string& line : result.OutLines()) {
      if (line.starts_with(start)) return true;
    }
    return false;
  }

  TempDir home_;
  TempDir elsewhere_;
};

TEST_F(MonitoringRunTest, FrozenSourceTurnsStaleAfterStaleAfterAndIsAnnouncedOnce) {
  // The newest frame is stamped with the current minute, early enough in it
  // that the first run sees it less than a minute old.
  auto now = std::chrono::system_clock::now();
  if (std::chrono::floor<std::chrono::minutes>(now) + std::chrono::seconds(40) < now) {
    std::this_thread::sleep_until(std::chrono::ceil<std::chrono::minutes>(now));
    now = std::chrono::system_clock::now();
  }
  const auto minute = std::chrono::floor<std::chrono::minutes>(now);
  const std::time_t stamp_time = std::chrono::system_clock::to_time_t(minute);
  char stamp[16];
  std::strftime(stamp, sizeof stamp, "%Y%m%d%H%M", std::gmtime(&stamp_time));
  const std::string newest = std::string("/radar/IDR641.T.") + stamp + ".png";

  SimProcess sim({"--start-frame", stamp, "--stop-publishing-after", "0", "--max-seconds", "150"});
  ASSERT_NE(sim.Port(), 0) << sim.FirstLine();
  testing_support::UdpListener listener;
  const std::string syslog = "127.0.0.1:" + std::to_string(listener.port());

  // An archive that wraps past midnight, whatever the clock: a slot of the
  // day before, later in the day than now, goes before one of ten minutes ago.
  const std::time_t now_seconds = std::chrono::system_clock::to_time_t(now);
  const std::string older = "Image-" + testing_support::SlotTag(now_seconds - 86400 + 900);
  const std::string newer = "Image-" + testing_support::SlotTag(now_seconds - 600) + ".png";
  home_.Write(older + ".png", "day before");
  home_.Write(newer, "ten minutes ago");
  const auto file_now = std::filesystem::file_time_type::clock::now();
  std::filesystem::last_write_time(home_.File(older + ".png"), file_now - std::chrono::hours(23));
  std::filesystem::last_write_time(home_.File(newer), file_now - std::chrono::minutes(10));

  const ProcessResult fresh = Vesk(sim.HostPort(), syslog);
  EXPECT_FALSE(HasLine(fresh, "Radar source stale")) << fresh.out;
  for (const char* file : {"index24.html", "status.json"}) {
    const std::string text = home_.Read(file);
    EXPECT_LT(text.find(older), text.find(newer)) << file << ": " << older << " " << newer;
    EXPECT_NE(text.find(newer), std::string::npos) << file;
  }
  EXPECT_NE(home_.Read("status.json").find("\"stale\": false"), std::string::npos);
  EXPECT_TRUE(listener.ReceiveAll().empty());

  std::this_thread::sleep_until(minute + std::chrono::seconds(62));
  const ProcessResult stale = Vesk(sim.HostPort(), syslog);
  const std::vector<std::string> lines = stale.OutLines();
  ASSERT_GE(lines.size(), 3u) << stale.out;
  EXPECT_EQ(lines[lines.size() - 3],
            "Radar source stale: newest frame " + newest + " is 1 minute old");
  EXPECT_EQ(lines[lines.size() - 2], "Done!");
  EXPECT_NE(home_.Read("status.json").find("\"stale\": true"), std::string::npos);
  EXPECT_NE(home_.Read("vesk.prom").find("vesk_source_stale{product=\"IDR641\"} 1\n"),
            std::string::npos);
  EXPECT_FALSE(home_.Exists("e!vesk.xml"));
  const std::vector<testing_support::Datagram> alerts = listener.ReceiveAll();
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_NE(alerts[0].payload.find(" STALE:Product=IDR641 Age=1min Newest=" + newest + " H="),
            std::string::npos)
      << alerts[0].payload;
  EXPECT_TRUE(alerts[0].payload.starts_with("<4>VESK:")) << alerts[0].payload;

  // Still stale: within the hour no second line.
  Vesk(sim.HostPort(), syslog);
  EXPECT_TRUE(listener.ReceiveAll().empty());

  const ProcessResult status = Vesk(sim.HostPort(), "off", {"--status"});
  EXPECT_EQ(status.exit_code, 1) << status.out;
  EXPECT_TRUE(HasLine(status, "VESK WARNING - the radar source is stale")) << status.out;

  // Runs that stopped years ago, with the StaleAfter of the runs.
  std::string stopped = home_.Read("status.json");
  stopped.replace(stopped.find("\"finished\": \"") + 13, 4, "2020");
  home_.Write("status.json", stopped);
  const ProcessResult dead = Vesk(sim.HostPort(), "off", {"--status"});
  EXPECT_EQ(dead.exit_code, 2) << dead.out;
  EXPECT_TRUE(HasLine(dead, "VESK CRITICAL - no run for ")) << dead.out;
}

TEST_F(MonitoringRunTest, RetryAfterKeepsLaterRunsAwayFromTheSource) {
  ScriptedServer radar(
      [](const std::string&) {
        return ScriptedServer::Script{ScriptedServer::Send(testing_support::HttpHead(
            "503 Service Unavailable", "Retry-After: 120\r\nContent-Length: 0\r\n"))};
      },
      std::chrono::seconds(30));
  const std::string host = "127.0.0.1:" + std::to_string(radar.Port());
  // A corrupt status.json counts as none.
  home_.Write("status.json", "{\"program\": \"VESK\", \"consecutive_failures\": 7");

  const ProcessResult refused = Vesk(host, "off");
  EXPECT_TRUE(HasLine(refused, "Summary: run failed: EIdHTTPProtocolException: HTTP/1.1 503"))
      << refused.out;
  const std::string after_refusal = home_.Read("status.json");
  EXPECT_NE(after_refusal.find("\"consecutive_failures\": 1,"), std::string::npos) << after_refusal;
  EXPECT_EQ(after_refusal.find("\"not_before\": null"), std::string::npos) << after_refusal;
  const std::size_t requests = radar.Requests().size();

  const ProcessResult waiting = Vesk(host, "off");
  EXPECT_TRUE(HasLine(waiting, "Radar source asked to wait until ")) << waiting.out;
  EXPECT_TRUE(home_.Exists("index.html") && home_.Exists("index24.html"));
  EXPECT_TRUE(HasLine(waiting, "Summary: frames downloaded 0, overlay not drawn")) << waiting.out;
  EXPECT_EQ(radar.Requests().size(), requests);
  const std::string after_wait = home_.Read("status.json");
  EXPECT_NE(after_wait.find("\"outcome\": \"no-change\""), std::string::npos) << after_wait;
  EXPECT_EQ(after_wait.find("\"not_before\": null"), std::string::npos) << after_wait;

  const ProcessResult check = Vesk(host, "off", {"--check"});
  EXPECT_TRUE(HasLine(check, "ok    radar source asked to wait until ")) << check.out;
  // The waiting run did not fail, yet the wait is pending.
  const ProcessResult pending = Vesk(host, "off", {"--status"});
  EXPECT_EQ(pending.exit_code, 1) << pending.out;
  EXPECT_TRUE(HasLine(pending, "VESK WARNING - the radar source asked to wait until "))
      << pending.out;

  // A stored wait years ahead and a count at its end: the run fetches, and
  // the count stays at its end.
  std::string planted = after_wait;
  const auto set = [&planted](const std::string& member, const std::string& value) {
    const std::size_t at = planted.find("\"" + member + "\": ") + member.size() + 4;
    planted.replace(at, planted.find_first_of(",}", at) - at, value);
  };
  set("not_before", "\"2999-06-01T12:00:00+00:00\"");
  set("consecutive_failures", "9223372036854775807");
  home_.Write("status.json", planted);
  const ProcessResult ignored = Vesk(host, "off");
  EXPECT_TRUE(HasLine(ignored, "Radar source wait until 2999-0")) << ignored.out;
  EXPECT_GT(radar.Requests().size(), requests);
  const std::string after_ignored = home_.Read("status.json");
  EXPECT_NE(after_ignored.find("\"consecutive_failures\": 9223372036854775807,"), std::string::npos)
      << after_ignored;
  EXPECT_EQ(after_ignored.find("2999-"), std::string::npos) << after_ignored;
  EXPECT_EQ(Vesk(host, "off", {"--status"}).exit_code, 2);
}

// The simulator's ground clutter around the radar in the middle of the
// frame is forecast at every lead; a corner outside the radar's reach never
// sees an echo. Each run gets a new frame and makes a new nowcast.
TEST_F(MonitoringRunTest, NowcastIsPublishedAndRainAtTheStationAnnouncedOnceAndClearedOnce) {
  SimProcess sim({"--advance-on-request", "--start-frame", "202405151200", "--max-seconds", "150"});
  ASSERT_NE(sim.Port(), 0) << sim.FirstLine();
  testing_support::UdpListener listener;
  const std::string syslog = "127.0.0.1:" + std::to_string(listener.port());
  // The station lines of what the listener got (a stale source adds its own).
  auto station_lines = [&listener] {
    std::vector<std::string> lines;
    for (const testing_support::Datagram& datagram : listener.ReceiveAll()) {
      for (const char* kind : {" RAIN:", " DRY:"}) {
        const std::size_t at = datagram.payload.find(kind);
        if (at != std::string::npos) lines.push_back(datagram.payload.substr(at + 1));
      }
    }
    return lines;
  };
  struct Row {
    const char* station;
    std::vector<std::string> lines;  // the station lines the run sends
  };
  const std::vector<Row> rows = {
      {"256,256", {"RAIN:Product=IDR641 In=5min H=\"\" (ID=40013)"}},
      {"256,256", {}},  // still raining: no second line within the hour
      {"2,2", {"DRY:Product=IDR641 H=\"\" (ID=60014)"}},
      {"2,2", {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.station);
    const ProcessResult run =
        Vesk(sim.HostPort(), syslog, {},
             {{"VESK_STATION_PIXEL", row.station}, {"VESK_ALERT_LEVEL", "1"}});
    EXPECT_FALSE(HasLine(run, "Nowcast not made")) << run.out;
    EXPECT_EQ(station_lines(), row.lines);
    const std::string status = home_.Read("status.json");
    for (int lead = 1; lead <= 6; ++lead) {
      const std::string file = "Nowcast" + std::to_string(lead) + ".png";
      EXPECT_TRUE(home_.Exists(file)) << file;
      EXPECT_NE(status.find("{\"file\": \"" + file +
                            "\", \"lead_minutes\": " + std::to_string(5 * lead) + ", \"time\": \""),
                std::string::npos)
          << status;
    }
    EXPECT_NE(status.find("\"speed_pixels_per_hour\": "), std::string::npos);
    const bool rain = row.station == std::string("256,256");
    EXPECT_NE(status.find(rain ? "\"rain_expected_in_minutes\": 5}"
                               : "\"rain_expected_in_minutes\": null}"),
              std::string::npos)
        << status;
    EXPECT_EQ(
        home_.Read("vesk.prom").find("vesk_rain_expected_seconds{product=\"IDR641\"} 300"),
        rain ? home_.Read("vesk.prom").find("vesk_rain_expected_seconds{") : std::string::npos);
    EXPECT_FALSE(home_.Exists("e!vesk.xml"));
  }
}

// A forecast that cannot be written never fails the run: one line before
// "Done!", no report, and status.json lists no forecast frame but says why,
// so the viewer leaves the pictures on disk out.
TEST_F(MonitoringRunTest, NowcastThatCannotBeWrittenIsOneLineAndNoReport) {
  SimProcess sim({"--advance-on-request", "--start-frame", "202405151200", "--max-seconds", "60"});
  ASSERT_NE(sim.Port(), 0) << sim.FirstLine();
  std::filesystem::create_directory(home_.File("Nowcast3.png"));
  const ProcessResult run = Vesk(sim.HostPort(), "off");
  EXPECT_EQ(run.exit_code, 0) << run.out;
  const std::vector<std::string> lines = run.OutLines();
  const auto failed = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
    return line.starts_with("Nowcast not made: Nowcast3.png not written");
  });
  ASSERT_NE(failed, lines.end()) << run.out;
  EXPECT_LT(failed, std::find(lines.begin(), lines.end(), "Done!")) << run.out;
  EXPECT_FALSE(home_.Exists("e!vesk.xml"));
  const std::string status = home_.Read("status.json");
  EXPECT_NE(status.find("\"reason\": \"Nowcast3.png not written"), std::string::npos) << status;
  EXPECT_EQ(status.find("\"lead_minutes\""), std::string::npos) << status;
}

}  // namespace
