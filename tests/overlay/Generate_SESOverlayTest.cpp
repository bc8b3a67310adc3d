// The overlay stage in a temporary program directory, fed by a scripted
// server on 127.0.0.1: the request and console lines, the cut of the feed,
// the drawn picture on new and loaded backgrounds, the reports of failed
// steps, and the ring over several runs.
#include "overlay/Generate_SESOverlay.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "overlay/OverlayRing.h"
#include "picture/Bitmap.h"
#include "picture/BmpCodec.h"
#include "picture/TextRenderer.h"
#include "platform/DateTime.h"
#include "platform/DateTimeFormat.h"
#include "site/SiteNames.h"
#include "support/FileSizeLimit.h"
#include "support/ProgramState.h"
#include "support/ScriptedServer.h"
#include "support/TempDir.h"
#include "support/TestText.h"
#include "support/UdpListener.h"
#include "support/Unprivileged.h"
#include "zub32/Config.h"
#include "zub32/ExceptionReport.h"
#include "zub32/Records.h"

namespace {

using testing_support::HttpOk;
using testing_support::ReportElement;
using testing_support::SplitAt;

using picture::Bitmap;
using picture::kBlack;
using picture::kWhite;
using picture::Rgb;
using testing_support::ScriptedServer;
using testing_support::TempDir;

// Tuesday 2024-07-23 11:27 in the C locale: slot tag TU137.
constexpr const char* kStamp = "Tue 11:27";
constexpr const char* kOverlayFile = "SESOverlay-TU137.bmp";
constexpr const char* kFeed =
    R"({"going":"Good","currentTemp":"21.4","currentWind":"SW 11 km/h","rain":"0.0"})";
const Rgb kGrey{150, 160, 170};

std::unique_ptr<ScriptedServer> Serving(const std::string& answer) {
  return std::make_unique<ScriptedServer>(std::vector<ScriptedServer::Script>{
      {ScriptedServer::ReadRequest(), ScriptedServer::Send(answer)}});
}

picture::TextRenderer& OverlayText() {
  picture::FontRequest font;
  font.bold = true;
  font.size_points = 10;
  return picture::TextRenderer::For(font);
}

// The background with the three lines drawn where the overlay puts them.
Bitmap Drawn(Bitmap background, const std::string& temperature, const std::string& wind) {
  OverlayText().DrawText(background, 50, 418, kStamp, kBlack, kWhite);
  OverlayText().DrawText(background, 50, 434, "TEMP: " + temperature, kBlack, kWhite);
  OverlayText().DrawText(background, 50, 450, "WIND: " + wind, kBlack, kWhite);
  return background;
}

Bitmap Filled(int width, int height, Rgb color) {
  Bitmap bitmap(width, height, 24);
  bitmap.FillRect(0, 0, width, height, color);
  return bitmap;
}

class Generate_SESOverlayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::current_path(dir_.path());
    zub32::GlobalSettings.SelfName = "VESK";
    zub32::GlobalSettings.Version = "2024.7.22.2151";
    zub32::GlobalSettings.ExceptionFileName = "e!vesk.xml";
    zub32::GlobalSettings.EXEPath = dir_.path();
    zub32::GlobalSettings.CallDepth = 0;
    platform::SetLocaleFormatForTesting(platform::CLocaleFormat());
    SetTime(11, 27);
  }

  static void SetTime(int hour, int minute) {
    platform::SetClockForTesting(
        [=] { return platform::EncodeDateTime(2024, 7, 23, hour, minute, 0, 0); });
  }

  // Runs the stage against the server and returns its console lines.
  std::vector<std::string> RunStage(const ScriptedServer& server) {
    const int port = server.Port();
    config_.publish_host = {"127.0.0.1", port, "127.0.0.1:" + std::to_string(port)};
    opening_ = "Opening http://127.0.0.1:" + std::to_string(port) + "/ses/sysinfo.json";
    // Each call stands for the stage of a new run.
    zub32::BeginRunReports(config_.syslog);
    ::testing::internal::CaptureStdout();
    overlay::Generate_SESOverlay(config_);
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(zub32::GlobalSettings.CallDepth, 0);
    return SplitAt(out, "\n");
  }

  std::vector<std::string> RunStage(const std::string& answer) {
    return RunStage(*Serving(answer));
  }

  void WriteBackground(const Bitmap& bitmap) {
    dir_.Write("IDR641.background.bmp", picture::EncodeBmp(bitmap));
  }

  Bitmap Overlay() { return picture::LoadBmpFile(dir_.File(kOverlayFile)); }

  // Names in the program directory.
  std::set<std::string> Entries() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path()))
      names.insert(entry.path().filename().string());
    return names;
  }

  testing_support::ProgramState saved_;
  TempDir dir_;
  // The run's configuration the stage is given.
  zub32::Configuration config_;
  // The stage's first line for the server of the last RunStage.
  std::string opening_;
};

TEST_F(Generate_SESOverlayTest, NewPictureRequestConsoleLinesAndFirstRing) {
  auto server = Serving(HttpOk(kFeed));
  const std::vector<std::string> lines = RunStage(*server);

  const std::string port = std::to_string(server->Port());
  ASSERT_EQ(server->RequestHeads().size(), 1u);
  EXPECT_EQ(server->RequestHeads()[0],
            "GET /ses/sysinfo.json HTTP/1.1\r\n"
            "Connection: Keep-Alive\r\n"
            "Content-Type: text/html\r\n"
            "Cache-control: no-cache\r\n"
            "Host: 127.0.0.1:" +
                port +
                "\r\n"
                "Accept: text/html, */*\r\n"
                "User-Agent: Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_3) AppleWebKit/537.36 "
                "(KHTML, like Gecko) Chrome/83.0.4103.97 Safari/537.36\"\r\n"
                "\r\n");

  const std::string overlay_name = dir_.File(kOverlayFile);
  const std::vector<std::string> expected_lines = {
      opening_,
      "IDR641.background.bmp is missing.",
      "Saving to " + overlay_name,
      "Copy SESOverlay5.bmp -> SESOverlay6.bmp",
      "Copy SESOverlay4.bmp -> SESOverlay5.bmp",
      "Copy SESOverlay3.bmp -> SESOverlay4.bmp",
      "Copy SESOverlay2.bmp -> SESOverlay3.bmp",
      "Copy SESOverlay1.bmp -> SESOverlay2.bmp",
      "Copy SESOverlay0.bmp -> SESOverlay1.bmp",
      "Copy " + overlay_name + " -> SESOverlay0.bmp",
  };
  EXPECT_EQ(lines, expected_lines);

  EXPECT_EQ(dir_.Read("sysinfo.json"), kFeed);
  // Six copies found no source; the seventh made member 0. No report.
  EXPECT_EQ(Entries(), (std::set<std::string>{"sysinfo.json", kOverlayFile, "SESOverlay0.bmp"}));
  EXPECT_EQ(dir_.Read("SESOverlay0.bmp"), dir_.Read(kOverlayFile));

  const Bitmap overlay = Overlay();
  EXPECT_EQ(overlay.Width(), 512);
  EXPECT_EQ(overlay.Height(), 512);
  EXPECT_EQ(overlay.BitCount(), 24);
  // Ink only inside the three cells, black on white.
  picture::TextRenderer& text = OverlayText();
  const std::pair<int, std::string> cells[] = {
      {418, kStamp}, {434, "TEMP: 21.4"}, {450, "WIND: SW 11 km/h"}};
  for (int y = 0; y < 512; ++y) {
    for (int x = 0; x < 512; ++x) {
      const Rgb color = overlay.PixelColor(x, y);
      if (color == kWhite) continue;
      ASSERT_EQ(color, kBlack) << x << "," << y;
      bool inside = false;
      for (const auto& [top, line] : cells) {
        inside |=
            x >= 50 && x < 50 + text.TextWidth(line) && y >= top && y < top + text.LineHeight();
      }
      ASSERT_TRUE(inside) << "ink at " << x << "," << y;
    }
  }
  EXPECT_EQ(overlay, Drawn(Filled(512, 512, kWhite), "21.4", "SW 11 km/h"));
}

TEST_F(Generate_SESOverlayTest, FeedTextsAreCutByPlainSearch) {
  // On grey the white cells show, so an empty value leaves a cell exactly
  // as wide as its label.
  const Bitmap background = Filled(512, 480, kGrey);
  WriteBackground(background);
  struct Case {
    const char* name;
    std::string feed;
    std::string temperature;
    std::string wind;
  };
  const Case cases[] = {
      {"temperature as a number", R"({"currentTemp":21.4,"currentWind":"N 3 km/h","x":1})", "",
       "N 3 km/h"},
      {"blank after the colon", R"({"currentTemp": "21.4","currentWind":"N 3 km/h",})", "",
       "N 3 km/h"},
      {"wind is the last member", R"({"currentTemp":"-2.0","currentWind":"calm"})", "-2.0",
       "calm\"}"},
      {"only the first occurrence",
       R"({"currentTemp":"1","currentWind":"E","currentTemp":"2","currentWind":"W",})", "1", "E"},
      {"escaped quote and escapes", R"({"currentTemp":"20\u00b0","currentWind":"a\",b",})",
       R"(20\u00b0)", "a\\"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    const std::vector<std::string> lines = RunStage(HttpOk(test.feed));
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[1], "BMP loaded from IDR641.background.bmp.");
    EXPECT_EQ(dir_.Read("sysinfo.json"), test.feed);
    EXPECT_EQ(Overlay(), Drawn(background, test.temperature, test.wind));
    EXPECT_FALSE(dir_.Exists("e!vesk.xml"));
  }
}

TEST_F(Generate_SESOverlayTest, EmptyBodyKeepsTheOldFeedCopyAndStillDraws) {
  dir_.Write("sysinfo.json", "old");
  const std::vector<std::string> lines = RunStage(HttpOk(""));
  EXPECT_EQ(lines.size(), 10u);
  EXPECT_EQ(dir_.Read("sysinfo.json"), "old");
  EXPECT_EQ(Overlay(), Drawn(Filled(512, 512, kWhite), "", ""));
  EXPECT_EQ(dir_.Read("SESOverlay0.bmp"), dir_.Read(kOverlayFile));
}

TEST_F(Generate_SESOverlayTest, FailedFetchIsReportedAndChangesNoFile) {
  auto not_found = Serving("HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found");
  // A redirect back to the feed on every request: past the client's limit
  // it is a failure, not an empty feed.
  const std::string loop =
      "HTTP/1.1 302 Found\r\nLocation: /ses/sysinfo.json\r\nContent-Length: 0\r\n\r\n";
  ScriptedServer::Script redirects;
  for (int i = 0; i < 40; ++i) {
    redirects.push_back(ScriptedServer::ReadRequest());
    redirects.push_back(ScriptedServer::Send(loop));
  }
  ScriptedServer::Options options;
  options.repeat_last_script = true;
  ScriptedServer redirecting({redirects}, options);

  struct Case {
    const char* name;
    ScriptedServer& server;
    std::string message;
  };
  const Case cases[] = {{"404", *not_found, "HTTP/1.1 404 Not Found"},
                        {"endless redirects", redirecting, "HTTP/1.1 302 Found"}};
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    dir_.Write("sysinfo.json", "old");
    dir_.Write("SESOverlay0.bmp", "member 0");
    const std::vector<std::string> lines = RunStage(test.server);
    EXPECT_EQ(lines, std::vector<std::string>{opening_});

    const std::string report = dir_.Read("e!vesk.xml");
    EXPECT_EQ(ReportElement(report, "Function"), "Generate_SESOverlay:100");
    EXPECT_EQ(ReportElement(report, "Trace"), "100");
    EXPECT_EQ(ReportElement(report, "ClassName"), "EIdHTTPProtocolException");
    EXPECT_EQ(ReportElement(report, "e.Message"), test.message);
    EXPECT_EQ(ReportElement(report, "Notes"),
              "Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_3) AppleWebKit/537.36 (KHTML, like "
              "Gecko) Chrome/83.0.4103.97 Safari/537.36\"");
    EXPECT_EQ(dir_.Read("sysinfo.json"), "old");
    EXPECT_EQ(dir_.Read("SESOverlay0.bmp"), "member 0");
    EXPECT_EQ(Entries(), (std::set<std::string>{"sysinfo.json", "SESOverlay0.bmp", "e!vesk.xml"}));
    std::filesystem::remove(dir_.File("e!vesk.xml"));
  }
}

TEST_F(Generate_SESOverlayTest, InvalidBackgroundIsReportedAtTheFirstStep) {
  dir_.Write("IDR641.background.bmp", "BM not really a bitmap");
  const std::vector<std::string> lines = RunStage(HttpOk(kFeed));
  EXPECT_EQ(lines, std::vector<std::string>{opening_});
  const std::string report = dir_.Read("e!vesk.xml");
  EXPECT_EQ(ReportElement(report, "Trace"), "100");
  EXPECT_EQ(ReportElement(report, "ClassName"), "EInvalidGraphic");
  EXPECT_EQ(ReportElement(report, "e.Message"), "Bitmap image is not valid");
  EXPECT_FALSE(dir_.Exists(kOverlayFile));
  EXPECT_FALSE(dir_.Exists("SESOverlay0.bmp"));
}

TEST_F(Generate_SESOverlayTest, LoadedBackgroundsKeepTheirFormat) {
  // A palette without pure black or white: the text takes the nearest
  // entries and the palette is saved back unchanged.
  std::vector<picture::PaletteEntry> palette;
  for (int i = 0; i < 200; ++i) {
    palette.push_back({static_cast<uint8_t>(10 + i), static_cast<uint8_t>(200 - i),
                       static_cast<uint8_t>(i % 50 + 100), 0});
  }
  Bitmap indexed(500, 470, 8, palette, {});
  for (int y = 0; y < indexed.Height(); ++y) {
    for (int x = 0; x < indexed.Width(); ++x) indexed.SetPixelValue(x, y, (x * 7 + y * 3) % 200);
  }
  WriteBackground(indexed);
  RunStage(HttpOk(kFeed));
  const Bitmap overlay = Overlay();
  EXPECT_EQ(overlay.BitCount(), 8);
  EXPECT_EQ(overlay.Palette(), palette);
  EXPECT_EQ(overlay, Drawn(indexed, "21.4", "SW 11 km/h"));
  EXPECT_NE(overlay, indexed);

  // 400 rows: every line falls below the picture.
  const Bitmap short_one = Filled(512, 400, kGrey);
  WriteBackground(short_one);
  RunStage(HttpOk(kFeed));
  EXPECT_EQ(Overlay(), short_one);
}

TEST_F(Generate_SESOverlayTest, UnwritableProgramDirectoryIsReportedAtTheSaveStep) {
  // The report file cannot be written either; its summary goes to syslog.
  testing_support::UdpListener syslog;
  config_.syslog = {zub32::SyslogMode::kUnicast, "127.0.0.1", syslog.port()};
  dir_.Write("SESOverlay0.bmp", "member 0");
  ASSERT_EQ(::chmod(dir_.path().c_str(), 0555), 0);
  std::vector<std::string> lines;
  const std::optional<bool> ran = testing_support::RunUnprivileged([&] {
    // The server starts in the child, so that no thread runs beside the fork.
    lines = RunStage(HttpOk(kFeed));
    // Drawn and announced, but neither saved nor rotated; the failed save is
    // named right after.
    const auto saving =
        std::find(lines.begin(), lines.end(), "Saving to " + dir_.File(kOverlayFile));
    return saving != lines.end() && saving + 1 != lines.end() &&
           saving[1] ==
               "Cannot create file \"" + dir_.File(kOverlayFile) + "\". Permission denied" &&
           std::none_of(lines.begin(), lines.end(),
                        [](const std::string& line) { return line.starts_with("Copy "); });
  });
  ::chmod(dir_.path().c_str(), 0700);
  if (!ran) GTEST_SKIP() << "cannot run a check without write permission here";
  EXPECT_TRUE(*ran) << "the stage went past the failed save";

  const std::optional<testing_support::Datagram> summary = syslog.Receive();
  ASSERT_TRUE(summary.has_value());
  EXPECT_NE(summary->payload.find("Func=Generate_SESOverlay Trace=200 "), std::string::npos)
      << summary->payload;
  EXPECT_EQ(Entries(), (std::set<std::string>{"SESOverlay0.bmp"}));
  EXPECT_EQ(dir_.Read("SESOverlay0.bmp"), "member 0");
}

TEST_F(Generate_SESOverlayTest, RingShiftsAcrossThreeRuns) {
  const char* temperatures[] = {"21.4", "21.6", "21.9"};
  for (int run = 0; run < 3; ++run) {
    SetTime(11, 27 + 5 * run);
    RunStage(HttpOk(std::string(R"({"currentTemp":")") + temperatures[run] + R"(","x":1})"));
  }
  const std::string archived[] = {"SESOverlay-TU137.bmp", "SESOverlay-TU138.bmp",
                                  "SESOverlay-TU139.bmp"};
  EXPECT_NE(dir_.Read(archived[0]), dir_.Read(archived[1]));
  EXPECT_NE(dir_.Read(archived[1]), dir_.Read(archived[2]));
  EXPECT_EQ(dir_.Read("SESOverlay0.bmp"), dir_.Read(archived[2]));
  EXPECT_EQ(dir_.Read("SESOverlay1.bmp"), dir_.Read(archived[1]));
  EXPECT_EQ(dir_.Read("SESOverlay2.bmp"), dir_.Read(archived[0]));
  EXPECT_FALSE(dir_.Exists("SESOverlay3.bmp"));
  // Separate files: the ring can change without touching the archive, and
  // no two members are one file, however a member came to its place.
  std::set<ino_t> files;
  for (const std::string& name :
       {std::string("SESOverlay0.bmp"), std::string("SESOverlay1.bmp"),
        std::string("SESOverlay2.bmp"), archived[0], archived[1], archived[2]}) {
    struct stat status {};
    ASSERT_EQ(::stat(dir_.File(name).c_str(), &status), 0) << name;
    files.insert(status.st_ino);
  }
  EXPECT_EQ(files.size(), 6u);
}

TEST_F(Generate_SESOverlayTest, FailedCopiesArePassedOverAndKeepTheirDestination) {
  dir_.Write("SESOverlay0.bmp", "zero");
  dir_.Write("SESOverlay1.bmp", "one");
  dir_.Write("SESOverlay2.bmp", "two");
  std::filesystem::create_directory(dir_.File("SESOverlay3.bmp"));
  dir_.Write("SESOverlay4.bmp", "four");
  dir_.Write("SESOverlay6.bmp", "stale");
  const std::vector<std::string> lines = RunStage(HttpOk(kFeed));

  // 5 -> 6 lacks a source and 3 -> 4 has a directory for one, which is no
  // member either; 2 -> 3 cannot replace it, which is named; the rows after
  // it are still done.
  ASSERT_EQ(lines.size(), 11u);
  EXPECT_EQ(lines[3], "Copy SESOverlay5.bmp -> SESOverlay6.bmp");
  EXPECT_EQ(lines[4], "Copy SESOverlay4.bmp -> SESOverlay5.bmp");
  EXPECT_EQ(lines[5], "Copy SESOverlay3.bmp -> SESOverlay4.bmp");
  EXPECT_EQ(lines[6], "Copy SESOverlay2.bmp -> SESOverlay3.bmp");
  EXPECT_EQ(lines[7], "Cannot replace \"" + dir_.File("SESOverlay3.bmp") + "\": Is a directory");
  EXPECT_EQ(dir_.Read("SESOverlay6.bmp"), "stale");
  EXPECT_EQ(dir_.Read("SESOverlay5.bmp"), "four");
  EXPECT_EQ(dir_.Read("SESOverlay4.bmp"), "four");
  EXPECT_TRUE(std::filesystem::is_directory(dir_.File("SESOverlay3.bmp")));
  EXPECT_EQ(dir_.Read("SESOverlay2.bmp"), "one");
  EXPECT_EQ(dir_.Read("SESOverlay1.bmp"), "zero");
  EXPECT_EQ(dir_.Read("SESOverlay0.bmp"), dir_.Read(kOverlayFile));
  // Nothing half-copied is left behind.
  EXPECT_EQ(Entries(),
            (std::set<std::string>{"sysinfo.json", kOverlayFile, "SESOverlay0.bmp",
                                   "SESOverlay1.bmp", "SESOverlay2.bmp", "SESOverlay3.bmp",
                                   "SESOverlay4.bmp", "SESOverlay5.bmp", "SESOverlay6.bmp"}));
}

// On a disk too full for the new member 0 the ring does not turn: an old
// overlay is never shown twice while the new one is missing.
TEST_F(Generate_SESOverlayTest, RingKeepsEveryMemberWhenTheNewOneCannotBeWritten) {
  std::set<std::string> names = {kOverlayFile};
  for (int n = 0; n < overlay::kRingSize; ++n) {
    dir_.Write(site::RingMemberName(n), "member " + std::to_string(n));
    names.insert(site::RingMemberName(n));
  }
  dir_.Write(kOverlayFile, std::string(8192, 'x'));
  ::testing::internal::CaptureStdout();
  {
    const testing_support::FileSizeLimit limit(4096);
    overlay::RotateOverlayRing(
        dir_.path(), dir_.File(kOverlayFile),
        platform::StagedFile::Copy(dir_.File(kOverlayFile), dir_.File("SESOverlay0.bmp")));
  }
  const std::vector<std::string> lines = SplitAt(::testing::internal::GetCapturedStdout(), "\n");
  EXPECT_EQ(lines, std::vector<std::string>{"Cannot write \"" + dir_.File("SESOverlay0.bmp") +
                                            "\": File too large"});
  for (int n = 0; n < overlay::kRingSize; ++n) {
    EXPECT_EQ(dir_.Read(site::RingMemberName(n)), "member " + std::to_string(n));
  }
  EXPECT_EQ(Entries(), names);
}

}  // namespace
