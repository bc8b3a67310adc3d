// The real binary against the simulator and scripted hosts: every run ends
// with one summary line after the lines of the run itself (after "Done!", or
// after a failure the top-level handler caught), and --help shows how to
// operate the program.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "support/Regex.h"
#include "support/RequireEnvironment.h"
#include "support/RunProcess.h"
#include "support/ScriptedServer.h"
#include "support/SimProcess.h"
#include "support/TempDir.h"

namespace {

using testing_support::ProcessOptions;
using testing_support::ProcessResult;
using testing_support::ScriptedServer;
using testing_support::SimProcess;
using testing_support::TempDir;

class SummaryRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_ENVIRONMENT("VESK_BINARY", "VESK_SIM_BINARY");
    ASSERT_TRUE(testing_support::WriteSimBackground(home_.File("IDR641.background.bmp")));
  }

  ProcessResult Vesk(const std::vector<std::string>& args, const std::string& radar_host,
                     const std::string& publish_host,
                     const std::optional<std::string>& syslog = "off") {
    ProcessOptions options =
        testing_support::VeskRunOptions(testing_support::VeskBinary(), elsewhere_.path());
    options.args = args;
    options.environment["VESK_SYSLOG"] = syslog;
    options.environment["VESK_HOME"] = home_.path();
    options.environment["VESK_RADAR_HOST"] = radar_host;
    options.environment["VESK_PUBLISH_HOST"] = publish_host;
    ProcessResult result = testing_support::RunProcess(options);
    EXPECT_FALSE(result.timed_out);
    return result;
  }

  // The last two lines of standard output; the second is the summary.
  static std::vector<std::string> Ending(const ProcessResult& result) {
    const std::vector<std::string> lines = result.OutLines();
    if (lines.size() < 2) return {"<fewer than two lines>", result.out};
    return {lines[lines.size() - 2], lines.back()};
  }

  static bool Matches(const std::string& line, const std::string& pattern) {
    return std::regex_match(line, std::regex(pattern));
  }

  TempDir home_;
  TempDir elsewhere_;
};

TEST_F(SummaryRunTest, NewFrameThenNoChange) {
  SimProcess sim({});
  ASSERT_NE(sim.Port(), 0) << sim.FirstLine();

  const ProcessResult fetched = Vesk({"500"}, sim.HostPort(), sim.HostPort());
  EXPECT_EQ(fetched.exit_code, 0);
  std::vector<std::string> ending = Ending(fetched);
  EXPECT_EQ(ending[0], "Done!") << fetched.out;
  EXPECT_TRUE(Matches(ending[1], R"(Summary: frames downloaded 7, overlay drawn, \d+ ms)"))
      << ending[1];

  const ProcessResult unchanged = Vesk({}, sim.HostPort(), sim.HostPort());
  ending = Ending(unchanged);
  EXPECT_EQ(ending[0], "Done!") << unchanged.out;
  EXPECT_TRUE(Matches(ending[1], R"(Summary: frames downloaded 0, overlay not drawn, \d+ ms)"))
      << ending[1];
}

TEST_F(SummaryRunTest, FailedOverlayIsNamedAndTheRunStillEnds) {
  SimProcess sim({});
  ASSERT_NE(sim.Port(), 0) << sim.FirstLine();
  ScriptedServer publish(
      {{ScriptedServer::ReadRequest(), ScriptedServer::Send("HTTP/1.1 500 Internal Server Error\r\n"
                                                            "Content-Length: 0\r\n\r\n")}});

  const ProcessResult result =
      Vesk({}, sim.HostPort(), "127.0.0.1:" + std::to_string(publish.Port()));
  const std::vector<std::string> ending = Ending(result);
  EXPECT_EQ(ending[0], "Done!") << result.out;
  EXPECT_TRUE(Matches(
      ending[1], R"(Summary: frames downloaded 7, overlay failed \(report e!vesk\.xml\), \d+ ms)"))
      << ending[1];
  EXPECT_TRUE(home_.Exists("e!vesk.xml"));
}

TEST_F(SummaryRunTest, FailureCaughtAtTheTopEndsWithTheSummary) {
  ScriptedServer radar(
      {{ScriptedServer::ReadRequest(),
        ScriptedServer::Send("HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found")}});
  const ProcessResult result = Vesk({}, "127.0.0.1:" + std::to_string(radar.Port()), "127.0.0.1:1");
  EXPECT_EQ(result.exit_code, 0);
  const std::vector<std::string> lines = result.OutLines();
  ASSERT_GE(lines.size(), 2u) << result.out;
  EXPECT_EQ(lines[lines.size() - 2], "Opening http://127.0.0.1:" + std::to_string(radar.Port()) +
                                         "/products/IDR641.loop.shtml");
  EXPECT_TRUE(Matches(lines.back(),
                      R"(Summary: run failed: EIdHTTPProtocolException: HTTP/1\.1 404 Not Found )"
                      R"(\(report e!vesk\.xml\); frames downloaded 0, overlay not drawn, \d+ ms)"))
      << lines.back();
  EXPECT_NE(home_.Read("e!vesk.xml").find("HTTP/1.1 404 Not Found"), std::string::npos);
}

TEST_F(SummaryRunTest, HelpShowsCommandsKeysSourcesAndDirectory) {
  home_.Write("vesk.ini", "PublishHost=www.example.org:8080\nSyslog=nonsense value\n");
  // Syslog is left to vesk.ini; --help sends nothing.
  const ProcessResult result = Vesk({"--help"}, "radar.example.org", "", std::nullopt);
  EXPECT_EQ(result.exit_code, 0);
  for (const char* expected :
       {"vesk [DELAY]", "vesk --check", "vesk --help", "vesk --version", "Program directory: ",
        "VESK_RADAR_HOST / RadarHost=", "current: radar.example.org (environment)",
        "VESK_PUBLISH_HOST / PublishHost=", "current: www.example.org:8080 (vesk.ini)",
        "VESK_SYSLOG / Syslog=",
        // A malformed Syslog turns it off rather than broadcasting.
        "current: off (vesk.ini)", "VESK_FONT / Font=", "current: (not set) (default)",
        "vesk.ini: Syslog: \"nonsense value\""}) {
    EXPECT_NE(result.out.find(expected), std::string::npos) << expected << "\n" << result.out;
  }
  EXPECT_NE(result.out.find("Program directory: " + home_.path()), std::string::npos);
  EXPECT_EQ(result.OutLines().back().rfind("Summary:", 0), std::string::npos);
  EXPECT_FALSE(home_.Exists("index.html"));
}

}  // namespace
