#include "refresh/RunDriver.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "refresh/CommandLine.h"
#include "support/RequireEnvironment.h"
#include "support/RunProcess.h"
#include "support/TempDir.h"

namespace refresh {
namespace {

using testing_support::ProcessOptions;
using testing_support::ProcessResult;
using testing_support::RunProcess;
using testing_support::TempDir;

TEST(RunDriverTest, HtmlDelayIsASignedDecimalIntegerOr333) {
  EXPECT_EQ(ParseHtmlDelay(nullptr), 333);
  EXPECT_EQ(ParseHtmlDelay("1000"), 1000);
  EXPECT_EQ(ParseHtmlDelay("-5"), -5);
  EXPECT_EQ(ParseHtmlDelay("0"), 0);
  EXPECT_EQ(ParseHtmlDelay("+7"), 7);
  EXPECT_EQ(ParseHtmlDelay("007"), 7);
  EXPECT_EQ(ParseHtmlDelay("2147483647"), 2147483647);
  EXPECT_EQ(ParseHtmlDelay("-2147483648"), -2147483647 - 1);
  for (const char* other : {"abc", "", "-", "+", " 5", "5 ", "12abc", "1e3", "0x10", "2147483648",
                            "-2147483649", "99999999999999999999", "--help2"}) {
    EXPECT_EQ(ParseHtmlDelay(other), 333) << other;
  }
}

// Runs the built program with its directory set through VESK_HOME, from
// another working directory, with syslog off.
class VeskRunTest : public ::testing::Test {
 protected:
  ProcessResult Vesk(std::vector<std::string> args,
                     std::map<std::string, std::optional<std::string>> environment = {}) {
    ProcessOptions options;
    options.binary = testing_support::VeskBinary();
    options.args = std::move(args);
    options.working_directory = elsewhere_.path();
    options.environment = {{"VESK_HOME", home_.path()},
                           {"VESK_SYSLOG", "off"},
                           {"LC_ALL", "C"},
                           // A loopback port where nothing listens: the radar stage
                           // fails at once, after the pages are written.
                           {"VESK_RADAR_HOST", "127.0.0.1:1"},
                           {"VESK_PUBLISH_HOST", std::nullopt},
                           {"VESK_FONT", std::nullopt}};
    for (auto& [name, value] : environment) options.environment[name] = value;
    options.time_limit = std::chrono::seconds(60);
    return RunProcess(options);
  }

  void SetUp() override { REQUIRE_ENVIRONMENT("VESK_BINARY"); }

  TempDir home_;
  TempDir elsewhere_;
};

TEST_F(VeskRunTest, RunUsesTheFirstParameterAndTheProgramDirectory) {
  const ProcessResult result = Vesk({"1000", "ignored"});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  const std::vector<std::string> lines = result.OutLines();
  ASSERT_GE(lines.size(), 3u) << result.out;
  EXPECT_EQ(lines[0], "HTML delay: 1000ms (Param1)");
  EXPECT_EQ(lines[1], "v2024.7.22.2151");
  EXPECT_EQ(lines[2], "Writing index.html");
  EXPECT_NE(home_.Read("index.html").find("\r\n    },1000)\r\n"), std::string::npos);
  EXPECT_TRUE(std::filesystem::is_empty(elsewhere_.path()));

  const ProcessResult defaulted = Vesk({"abc"});
  ASSERT_FALSE(defaulted.OutLines().empty());
  EXPECT_EQ(defaulted.OutLines()[0], "HTML delay: 333ms (Param1)");
  EXPECT_NE(home_.Read("index.html").find("\r\n    },333)\r\n"), std::string::npos);
}

TEST_F(VeskRunTest, ConfiguredPublishingHostAndMalformedValues) {
  home_.Write("vesk.ini", "[vesk]\nPublishHost=www.example.org:8080\n");
  ProcessResult result = Vesk({});
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_NE(home_.Read("index.html").find("url=http://www.example.org:8080/vesk/index.html?foo="),
            std::string::npos);

  result = Vesk({}, {{"VESK_PUBLISH_HOST", "bad host:1"}});
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_NE(result.err.find("VESK_PUBLISH_HOST"), std::string::npos) << result.err;
  EXPECT_EQ(result.OutLines().at(0), "HTML delay: 333ms (Param1)");
  EXPECT_NE(home_.Read("index.html").find("url=http://localhost/vesk/index.html?foo="),
            std::string::npos);
}

TEST_F(VeskRunTest, HelpAndVersionPrintWithoutARun) {
  home_.Write("vesk.ini", "RadarHost=radar.example\n");
  for (const char* flag : {"--help", "-h"}) {
    const ProcessResult result =
        Vesk({flag}, {{"VESK_SYSLOG", "127.0.0.1:5514"}, {"VESK_RADAR_HOST", std::nullopt}});
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_NE(result.out.find("Program directory: " + home_.path()), std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("from VESK_HOME"), std::string::npos);
    EXPECT_NE(result.out.find("current: radar.example (vesk.ini)"), std::string::npos);
    EXPECT_NE(result.out.find("current: localhost (default)"), std::string::npos);
    EXPECT_NE(result.out.find("current: 127.0.0.1:5514 (environment)"), std::string::npos);
    for (const char* key : {"VESK_RADAR_HOST", "VESK_PUBLISH_HOST", "VESK_SYSLOG", "VESK_FONT",
                            "RadarHost=", "PublishHost=", "Syslog=", "Font="}) {
      EXPECT_NE(result.out.find(key), std::string::npos) << key;
    }
  }
  const ProcessResult version = Vesk({"--version"});
  EXPECT_EQ(version.exit_code, 0);
  EXPECT_EQ(version.out, "vesk 2024.7.22.2151\n");
  // Where --status looked for a file that is not there, and why there.
  const ProcessResult status = Vesk({"--status"});
  EXPECT_EQ(status.exit_code, 2);
  EXPECT_TRUE(status.out.ends_with("\nLooked for status.json in " + home_.path() +
                                   " (VESK_HOME=" + home_.path() + ")\n"))
      << status.out;
  EXPECT_FALSE(home_.Exists("index.html"));
}

// A first argument meant as an option but unknown, or an argument its option
// does not take, is refused before anything is written or sent, with the
// known option it is near to; a signed number or a word stays a delay, and
// only the first argument of a run counts.
TEST_F(VeskRunTest, UnknownOptionsAreRefusedAndDelaysAreNot) {
  struct Row {
    std::vector<std::string> args;
    const char* first_line;  // a run's, or nullptr for a refusal
    const char* suggestion;  // the refusal's, or empty
    const char* refusal = "unknown option";
  };
  const Row kRows[] = {
      {{"--chek"}, nullptr, "--check"},
      {{"--"}, nullptr, ""},
      {{"-x"}, nullptr, ""},  // one edit from -h, but half its letters
      {{"--help2"}, nullptr, "--help"},
      {{"-check"}, nullptr, "--check"},
      {{"--stauts"}, nullptr, "--status"},  // two letters swapped
      {{"--STATUS"}, nullptr, "--status"},
      {{"--online"}, nullptr, ""},  // only after --check
      {{"--verbose"}, nullptr, ""},
      {{"--check", "--onlne"}, nullptr, "--online"},
      {{"--check", "foo"}, nullptr, "", "unexpected argument"},
      {{"--check", "--online", "--online"}, nullptr, "", "unexpected argument"},
      {{"--check", "--online", "x"}, nullptr, "", "unexpected argument"},
      {{"--status", "extra"}, nullptr, "", "unexpected argument"},
      {{"--status", "--chek"}, nullptr, ""},
      {{"--version", "x"}, nullptr, "", "unexpected argument"},
      {{"--help", "x"}, nullptr, "", "unexpected argument"},
      {{"-h", "--help"}, nullptr, "", "unexpected argument"},
      {{"--status", "--online"}, nullptr, "", "unexpected argument"},
      {{"-5"}, "HTML delay: -5ms (Param1)", ""},
      {{"-"}, "HTML delay: 333ms (Param1)", ""},
      {{"+7", "--chek"}, "HTML delay: 7ms (Param1)", ""},
      {{"abc"}, "HTML delay: 333ms (Param1)", ""},
  };
  for (const auto& [args, first_line, suggestion, refusal] : kRows) {
    for (const auto& entry : std::filesystem::directory_iterator(home_.path())) {
      std::filesystem::remove_all(entry);
    }
    const ProcessResult result = Vesk(args);
    if (first_line == nullptr) {
      EXPECT_EQ(result.exit_code, kExitUsage) << args[0];
      EXPECT_EQ(result.out, "") << args[0];
      const std::string hint = *suggestion ? std::string("; did you mean ") + suggestion + "?" : "";
      EXPECT_EQ(result.err, "vesk: " + std::string(refusal) + " \"" + args.back() + "\"" + hint +
                                "\n" + UsageText())
          << args.back();
      EXPECT_TRUE(std::filesystem::is_empty(home_.path())) << args[0];
    } else {
      EXPECT_EQ(result.exit_code, 0) << args[0];
      ASSERT_FALSE(result.OutLines().empty()) << args[0];
      EXPECT_EQ(result.OutLines()[0], first_line);
    }
    EXPECT_TRUE(std::filesystem::is_empty(elsewhere_.path())) << args[0];
  }
}

TEST_F(VeskRunTest, MissingProgramDirectoryWritesNothing) {
  const ProcessResult result = Vesk({}, {{"VESK_HOME", home_.path() + "missing"}});
  EXPECT_EQ(result.exit_code, kExitNoProgramDirectory);
  EXPECT_NE(result.err.find(home_.path() + "missing/"), std::string::npos) << result.err;
  EXPECT_EQ(result.out, "");
  EXPECT_TRUE(std::filesystem::is_empty(elsewhere_.path()));
}

TEST_F(VeskRunTest, FailureReachesTheTopLevelHandler) {
  // Standard output that cannot be written fails the driver's first step.
  ProcessOptions options;
  options.binary = "/bin/sh";
  options.args = {"-c", "exec \"$0\" >/dev/full", testing_support::VeskBinary()};
  options.working_directory = elsewhere_.path();
  options.environment = {{"VESK_HOME", home_.path()}, {"VESK_SYSLOG", "off"}, {"LC_ALL", "C"}};
  const ProcessResult result = RunProcess(options);
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_FALSE(home_.Exists("index.html"));
  const std::string report = home_.Read("e!vesk.xml");
  EXPECT_NE(report.find("<Function>Main():100</Function>"), std::string::npos) << report;
  EXPECT_NE(report.find("<ClassName>EOSError</ClassName>"), std::string::npos) << report;
}

}  // namespace
}  // namespace refresh
