// vesk --check against a good and a broken program directory: each problem
// is one FAIL line, the exit code says whether there was one, and the check
// neither writes a file nor talks to the configured hosts.
#include "refresh/InstallationCheck.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "picture/Bitmap.h"
#include "picture/BmpCodec.h"
#include "platform/DateTime.h"
#include "support/FindProgram.h"
#include "support/RequireEnvironment.h"
#include "support/RunProcess.h"
#include "support/ScriptedServer.h"
#include "support/TempDir.h"
#include "support/TlsFront.h"
#include "support/UdpListener.h"
#include "support/Unprivileged.h"

namespace refresh {
namespace {

using testing_support::ProcessOptions;
using testing_support::ProcessResult;
using testing_support::RunTool;
using testing_support::ScriptedServer;
using testing_support::TempDir;

using Environment = std::map<std::string, std::string>;

zub32::Configuration Load(const TempDir& dir, const Environment& environment) {
  return zub32::LoadConfiguration(dir.path(), [&](const std::string& name) {
    const auto found = environment.find(name);
    return found == environment.end() ? std::nullopt : std::optional<std::string>(found->second);
  });
}

void WriteBackground(const TempDir& dir, int width, int height) {
  picture::Bitmap bitmap(width, height, 24);
  bitmap.FillRect(0, 0, width, height, picture::kWhite);
  picture::SaveBmpFile(bitmap, dir.File("IDR641.background.bmp"));
}

// The check's result whose text starts with subject; a failed expectation
// when there is none.
CheckResult Find(const std::vector<CheckResult>& results, const std::string& subject) {
  for (const CheckResult& result : results) {
    if (result.text.rfind(subject, 0) == 0) return result;
  }
  ADD_FAILURE() << "no result for " << subject;
  return {false, "<none>"};
}

// Names, sizes and modification times of everything in a directory.
std::map<std::string, std::string> Listing(const std::string& directory) {
  std::map<std::string, std::string> listing;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    struct stat status {};
    ::lstat(entry.path().c_str(), &status);
    listing[entry.path().filename().string()] = std::to_string(status.st_size) + "@" +
                                                std::to_string(status.st_mtim.tv_sec) + "." +
                                                std::to_string(status.st_mtim.tv_nsec);
  }
  return listing;
}

TEST(InstallationCheckTest, GoodDirectoryPassesEveryCheck) {
  TempDir dir;
  WriteBackground(dir, 512, 512);
  dir.Write("vesk.ini", "RadarHost=127.0.0.1:8080\nPublishHost=localhost\nSyslog=off\n");
  const std::vector<CheckResult> results =
      CheckInstallation(dir.path(), "VESK_HOME", Load(dir, {}));
  ASSERT_EQ(results.size(), 9u);
  for (const CheckResult& result : results) EXPECT_TRUE(result.ok) << result.text;
  EXPECT_EQ(Find(results, "site address").text,
            "site address https://localhost/vesk (default): the pages' picture addresses start "
            "there, their refresh address with http://localhost/vesk/");
  EXPECT_EQ(Find(results, "radar host").text,
            "radar host 127.0.0.1:8080 (vesk.ini): resolves to 127.0.0.1, port 8080");
  EXPECT_EQ(Find(results, "background").text,
            "background IDR641.background.bmp: valid bitmap, 512 x 512, 24 bits per pixel");
  EXPECT_EQ(CheckLine(results.front()).rfind("ok    program directory " + dir.path(), 0), 0u);
}

TEST(InstallationCheckTest, HttpsHostNeedsLoadableCertificateAuthorities) {
  TempDir dir;
  WriteBackground(dir, 512, 512);
  testing_support::TestCertificates().WriteCaFile(dir.File("ca.pem"));
  dir.Write("not-pem.txt", "no certificate here\n");
  struct Row {
    std::string ca_file;  // empty: the system's store
    bool ok;
    std::string text;
  };
  const Row rows[] = {
      {"", true, "certificate authorities system store (default): loaded"},
      {dir.File("ca.pem"), true,
       "certificate authorities " + dir.File("ca.pem") + " (environment): loaded"},
      {dir.File("not-pem.txt"), false,
       "certificate authorities " + dir.File("not-pem.txt") +
           " (environment): EIdTLSError: TLS: cannot load the CA file \"" +
           dir.File("not-pem.txt") + "\": no certificate or crl found"},
  };
  for (const Row& row : rows) {
    Environment environment = {{"VESK_RADAR_HOST", "https://127.0.0.1:8443"}};
    if (!row.ca_file.empty()) environment["VESK_TLS_CA_FILE"] = row.ca_file;
    const std::vector<CheckResult> results =
        CheckInstallation(dir.path(), "VESK_HOME", Load(dir, environment));
    EXPECT_EQ(Find(results, "radar host").text.rfind("radar host https://127.0.0.1:8443 (", 0), 0u);
    const CheckResult& authorities = Find(results, "certificate authorities");
    EXPECT_EQ(authorities.ok, row.ok);
    EXPECT_EQ(authorities.text, row.text);
  }
}

TEST(InstallationCheckTest, BrokenDirectoryReportsEachProblem) {
  TempDir dir;
  dir.Write("IDR641.background.bmp", "BM this is not a bitmap");
  dir.Write("vesk.ini", "RadarHost=localhost:65536\nSyslog=off\n");
  const std::vector<CheckResult> results = CheckInstallation(
      dir.path(), "VESK_HOME", Load(dir, {{"VESK_FONT", dir.File("missing.ttf")}}));

  const CheckResult configuration = Find(results, "configuration");
  EXPECT_FALSE(configuration.ok);
  EXPECT_NE(configuration.text.find("vesk.ini: RadarHost: \"localhost:65536\""), std::string::npos)
      << configuration.text;
  // The run falls back to the default, and so does the check.
  EXPECT_TRUE(Find(results, "radar host localhost (default)").ok);

  const CheckResult background = Find(results, "background");
  EXPECT_FALSE(background.ok);
  EXPECT_NE(background.text.find("EInvalidGraphic: Bitmap image is not valid"), std::string::npos)
      << background.text;

  const CheckResult font = Find(results, "font (environment)");
  EXPECT_FALSE(font.ok);
  EXPECT_NE(font.text.find(dir.File("missing.ttf")), std::string::npos) << font.text;
  EXPECT_EQ(CheckLine(font).rfind("FAIL  font", 0), 0u);
}

// An unknown key fails the check; a radar host left at localhost only
// warns.
TEST(InstallationCheckTest, UnknownKeysFailAndTheDefaultRadarHostWarns) {
  TempDir dir;
  WriteBackground(dir, 512, 512);
  dir.Write("vesk.ini", "RadarHots=radar.example\nColour=blue\nSyslog=off\n");
  std::vector<std::string> lines;
  for (const CheckResult& result : CheckInstallation(dir.path(), "VESK_HOME", Load(dir, {}))) {
    if (result.text.starts_with("configuration") || result.warning) {
      lines.push_back(CheckLine(result));
    }
  }
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "FAIL  configuration: vesk.ini key \"RadarHots\" is unknown and ignored; "
                       "did you mean RadarHost?",
                       "FAIL  configuration: vesk.ini key \"Colour\" is unknown and ignored",
                       "warn  radar host left at its default, localhost: the runs fetch the radar "
                       "loop from this machine; set RadarHost to the radar source host"}));
  for (const CheckResult& result :
       CheckInstallation(dir.path(), "VESK_HOME", Load(dir, {{"VESK_RADAR_HOST", "localhost"}}))) {
    EXPECT_FALSE(result.warning) << result.text;
  }
}

TEST(InstallationCheckTest, ProductNamesTheBackgroundAndTheLayersPresent) {
  TempDir dir;
  WriteBackground(dir, 512, 512);
  std::filesystem::rename(dir.File("IDR641.background.bmp"), dir.File("IDR023.background.bmp"));
  // Whole seconds, as the line shows them.
  const auto now = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
  const auto iso = [](std::chrono::system_clock::time_point when) {
    return platform::FormatIsoLocal(std::chrono::system_clock::to_time_t(when));
  };
  const auto write = [&dir](const std::string& name, std::chrono::system_clock::time_point when) {
    dir.Write(name, "a layer");
    std::filesystem::last_write_time(dir.File(name), std::chrono::file_clock::from_sys(when));
  };
  write("IDR023.topography.png", now - std::chrono::hours(200));
  write("IDR023.topography.png.failed", now - std::chrono::hours(1));  // held back
  write("IDR023.locations.png.failed", now - std::chrono::hours(24));  // due again
  write("IDR023.range.png.failed", now + std::chrono::hours(1));       // clock set back: due
  const std::vector<CheckResult> results =
      CheckInstallation(dir.path(), "VESK_HOME", Load(dir, {{"VESK_PRODUCT", "IDR023"}}));
  EXPECT_TRUE(Find(results, "background IDR023.background.bmp: valid bitmap").ok);
  const CheckResult layers = Find(results, "map layers");
  EXPECT_TRUE(layers.ok);
  EXPECT_TRUE(layers.warning);
  EXPECT_EQ(layers.text,
            "map layers (LayerPath /products/radar_transparencies/, default): "
            "IDR023.background.png missing; IDR023.topography.png present (" +
                iso(now - std::chrono::hours(200)) + "), held back after a failed fetch at " +
                iso(now - std::chrono::hours(1)) + " until " + iso(now + std::chrono::hours(23)) +
                "; IDR023.locations.png missing; IDR023.range.png missing; a run with a new frame "
                "fetches each one missing or older than 7 days");

  // Off: nothing is held back, and a missing layer is worth a look.
  const CheckResult off =
      Find(CheckInstallation(dir.path(), "VESK_HOME",
                             Load(dir, {{"VESK_PRODUCT", "IDR023"}, {"VESK_LAYER_PATH", "off"}})),
           "map layers");
  EXPECT_TRUE(off.ok && off.warning);
  EXPECT_EQ(off.text,
            "map layers (LayerPath off, environment): IDR023.background.png missing; "
            "IDR023.topography.png present (" +
                iso(now - std::chrono::hours(200)) +
                "); IDR023.locations.png missing; IDR023.range.png missing; not "
                "fetched: the pages show none that is missing");
}

TEST(InstallationCheckTest, BackgroundMissingOrTooSmallForTheText) {
  TempDir dir;
  EXPECT_FALSE(Find(CheckInstallation(dir.path(), "VESK_HOME", Load(dir, {})), "background").ok);

  // 450 rows: the wind line, drawn from row 450 down, would not show.
  WriteBackground(dir, 512, 450);
  const CheckResult small =
      Find(CheckInstallation(dir.path(), "VESK_HOME", Load(dir, {})), "background");
  EXPECT_FALSE(small.ok);
  EXPECT_NE(small.text.find("too small"), std::string::npos) << small.text;

  WriteBackground(dir, 51, 451);
  EXPECT_TRUE(Find(CheckInstallation(dir.path(), "VESK_HOME", Load(dir, {})), "background").ok);
}

TEST(InstallationCheckTest, ProgramDirectoryMissingOrNotWritable) {
  TempDir dir;
  const CheckResult missing =
      CheckInstallation(dir.File("nowhere/"), "VESK_HOME", Load(dir, {})).front();
  EXPECT_FALSE(missing.ok);
  EXPECT_NE(missing.text.find("cannot be found"), std::string::npos) << missing.text;

  dir.Write("plain", "");
  EXPECT_FALSE(CheckInstallation(dir.File("plain"), "VESK_HOME", Load(dir, {})).front().ok);

  // A run would refuse it without VESK_HOME; the check says so.
  const CheckResult system =
      CheckInstallation("/usr/bin/", "the executable's directory", Load(dir, {})).front();
  EXPECT_FALSE(system.ok);
  EXPECT_EQ(system.text,
            "program directory /usr/bin/ (the executable's directory): a system directory (under "
            "/usr); a run refuses it, set VESK_HOME");

  // Searchable but not writable for anyone but root, which the check runs
  // without.
  ASSERT_EQ(::chmod(dir.path().c_str(), 0555), 0);
  std::string text;
  const std::optional<bool> refused = testing_support::RunUnprivileged([&] {
    const CheckResult result = CheckInstallation(dir.path(), "VESK_HOME", Load(dir, {})).front();
    return !result.ok && result.text.find("not writable") != std::string::npos;
  });
  ::chmod(dir.path().c_str(), 0700);
  if (!refused) GTEST_SKIP() << "cannot run a check without write permission here";
  EXPECT_TRUE(*refused);
}

// The real binary, as an operator runs it.
class InstallationCheckCommandTest : public ::testing::Test {
 protected:
  void SetUp() override { REQUIRE_ENVIRONMENT("VESK_BINARY"); }

  ProcessResult Check(std::vector<std::string> prefix = {}, const char* option = nullptr) {
    ProcessOptions options;
    options.binary = testing_support::VeskBinary();
    options.args = {"--check"};
    if (!prefix.empty()) {
      options.binary = prefix.front();
      options.args = std::vector<std::string>(prefix.begin() + 1, prefix.end());
      options.args.push_back(testing_support::VeskBinary());
      options.args.push_back("--check");
    }
    if (option != nullptr) options.args.push_back(option);
    options.working_directory = elsewhere_.path();
    options.environment = {{"VESK_HOME", home_.path()},       {"VESK_SYSLOG", std::nullopt},
                           {"VESK_RADAR_HOST", std::nullopt}, {"VESK_PUBLISH_HOST", std::nullopt},
                           {"VESK_FONT", std::nullopt},       {"LC_ALL", "C"}};
    options.time_limit = std::chrono::seconds(30);
    return testing_support::RunProcess(options);
  }

  TempDir home_;
  TempDir elsewhere_;
};

TEST_F(InstallationCheckCommandTest, GoodConfigurationExitsZeroAndTouchesNothing) {
  // The hosts and the log host listen, but a check must not contact them.
  ScriptedServer radar({});
  ScriptedServer publish({});
  testing_support::UdpListener loghost;
  WriteBackground(home_, 512, 512);
  home_.Write("vesk.ini", "RadarHost=127.0.0.1:" + std::to_string(radar.Port()) +
                              "\nPublishHost=127.0.0.1:" + std::to_string(publish.Port()) +
                              "\nSyslog=127.0.0.1:" + std::to_string(loghost.port()) + "\n");
  const auto before = Listing(home_.path());

  const ProcessResult result = Check();
  EXPECT_EQ(result.exit_code, 0) << result.out << result.err;
  const std::vector<std::string> lines = result.OutLines();
  ASSERT_EQ(lines.size(), 10u) << result.out;
  for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
    EXPECT_EQ(lines[i].rfind("ok    ", 0), 0u) << lines[i];
  }
  EXPECT_EQ(lines.back(), "vesk --check: no problems found");
  EXPECT_NE(result.out.find("syslog (vesk.ini): 127.0.0.1 resolves to 127.0.0.1, UDP port " +
                            std::to_string(loghost.port())),
            std::string::npos)
      << result.out;

  EXPECT_EQ(Listing(home_.path()), before);
  EXPECT_TRUE(std::filesystem::is_empty(elsewhere_.path()));
  EXPECT_EQ(radar.Accepted(), 0);
  EXPECT_EQ(publish.Accepted(), 0);
  EXPECT_TRUE(loghost.ReceiveAll(200).empty());
}

TEST_F(InstallationCheckCommandTest, BrokenConfigurationExitsNonZeroAndTouchesNothing) {
  // An unresolvable name would be asked of the machine's name server; in a
  // network namespace of its own the look-up fails without leaving it.
  const std::string unshare = testing_support::FindProgram("unshare");
  const std::string true_program = testing_support::FindProgram("true");
  if (unshare.empty() || true_program.empty()) GTEST_SKIP() << "unshare is not installed";
  std::vector<std::string> prefix;
  for (const char* flags : {"-n", "-rn"}) {
    if (RunTool(unshare, {flags, true_program}).exit_code == 0) {
      prefix = {unshare, flags};
      break;
    }
  }
  if (prefix.empty()) GTEST_SKIP() << "network namespaces are not permitted here";
  home_.Write("IDR641.background.bmp", std::string("BM\x10\0\0\0", 6));
  home_.Write("vesk.ini", "RadarHost=localhost:0\nPublishHost=nonexistent.invalid\nSyslog=off\n");
  const auto before = Listing(home_.path());

  const ProcessResult result = Check(prefix);
  EXPECT_EQ(result.exit_code, kExitCheckFailed) << result.out << result.err;
  const std::vector<std::string> lines = result.OutLines();
  std::vector<std::string> failed;
  for (const std::string& line : lines) {
    if (line.rfind("FAIL  ", 0) == 0) failed.push_back(line.substr(6, line.find(' ', 6) - 6));
  }
  EXPECT_EQ(failed, (std::vector<std::string>{"configuration:", "publishing", "background"}))
      << result.out;
  EXPECT_NE(
      result.out.find("FAIL  publishing host nonexistent.invalid (vesk.ini): does not resolve"),
      std::string::npos)
      << result.out;
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "vesk --check: 3 problems found");
  EXPECT_EQ(Listing(home_.path()), before);
}

// --online fetches each source once, as a run would, and writes nothing.
TEST_F(InstallationCheckCommandTest, OnlineFetchesTheLoopPageAndTheFeedOnce) {
  ScriptedServer radar(
      {{ScriptedServer::ReadRequest(),
        ScriptedServer::Send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello")}});
  ScriptedServer publish(
      {{ScriptedServer::ReadRequest(),
        ScriptedServer::Send("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n")}});
  WriteBackground(home_, 512, 512);
  home_.Write("vesk.ini", "RadarHost=127.0.0.1:" + std::to_string(radar.Port()) +
                              "\nPublishHost=127.0.0.1:" + std::to_string(publish.Port()) +
                              "\nSyslog=off\n");
  const auto before = Listing(home_.path());

  const ProcessResult result = Check({}, "--online");
  EXPECT_EQ(result.exit_code, kExitCheckFailed) << result.out << result.err;
  const std::vector<std::string> lines = result.OutLines();
  ASSERT_GE(lines.size(), 3u) << result.out;
  EXPECT_EQ(lines[lines.size() - 3], "ok    radar loop page " +
                                         radar.Url("/products/IDR641.loop.shtml") +
                                         ": HTTP/1.1 200 OK, 5 bytes");
  EXPECT_EQ(lines[lines.size() - 2], "FAIL  station feed " + publish.Url("/ses/sysinfo.json") +
                                         ": EIdHTTPProtocolException: HTTP/1.1 404 Not Found");
  EXPECT_EQ(lines.back(), "vesk --check: 1 problem found");
  EXPECT_EQ(radar.Accepted(), 1);
  EXPECT_EQ(publish.Accepted(), 1);
  EXPECT_EQ(Listing(home_.path()), before);
  EXPECT_TRUE(std::filesystem::is_empty(elsewhere_.path()));
}

}  // namespace
}  // namespace refresh
