// The real binary with a new radar frame in every run, so that each run
// draws the station overlay: the overlay's lines between the radar update
// and "Done!", the ring after two runs, and a failing station feed that is
// reported while the run still completes.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "picture/Bitmap.h"
#include "picture/BmpCodec.h"
#include "support/ProgramFixture.h"
#include "support/RunProcess.h"
#include "support/ScriptedServer.h"
#include "support/SimProcess.h"
#include "support/TempDir.h"
#include "support/TestText.h"

namespace {

using testing_support::ReportElement;

using testing_support::ProcessOptions;
using testing_support::ProcessResult;
using testing_support::ScriptedServer;
using testing_support::SimProcess;
using testing_support::TempDir;

constexpr const char* kCalling = "Calling Generate_SESOverlay...";

// The lines from "Calling Generate_SESOverlay..." (exclusive) to the end,
// without the summary line that ends every run (tested in SummaryRunTest).
std::vector<std::string> OverlayLines(const ProcessResult& result) {
  std::vector<std::string> lines = result.OutLines();
  if (!lines.empty() && lines.back().rfind("Summary: ", 0) == 0) lines.pop_back();
  const auto calling = std::find(lines.begin(), lines.end(), kCalling);
  if (calling == lines.end()) return {"<no \"" + std::string(kCalling) + "\" line>"};
  return std::vector<std::string>(calling + 1, lines.end());
}

// Runs take ProgramFixture's options, which set VESK_SYSLOG=off.
class OverlayRunTest : public testing_support::ProgramFixture {
 protected:
  OverlayRunTest() : ProgramFixture(/*with_background=*/true) {}

  ProcessResult Run(const std::string& radar_host, const std::string& publish_host) {
    ProcessOptions options = RunOptions(radar_host);
    options.environment["VESK_PUBLISH_HOST"] = publish_host;
    return RunToSuccess(options);
  }
};

TEST_F(OverlayRunTest, EachNewFrameDrawsAnOverlayAndTurnsTheRing) {
  // Every loop page served names a newer frame, so both runs see a change.
  SimProcess sim({"--advance-on-request"});
  ASSERT_NE(sim.Port(), 0) << sim.FirstLine();

  std::string first_member;
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE("run " + std::to_string(run + 1));
    const ProcessResult result = Run(sim.HostPort(), sim.HostPort());
    const std::vector<std::string> lines = OverlayLines(result);
    // The first run also fetches the map layers, which the second finds fresh.
    const std::size_t layers = run == 0 ? 4 : 0;
    ASSERT_EQ(lines.size(), 11u + layers) << result.out;
    EXPECT_EQ(lines[0], "Opening http://" + sim.HostPort() + "/ses/sysinfo.json");
    EXPECT_EQ(lines[1], "BMP loaded from IDR641.background.bmp.");
    // The slot may change between two runs; the line names this run's.
    const std::string saving = "Saving to " + program_.path() + "SESOverlay-";
    ASSERT_EQ(lines[2].rfind(saving, 0), 0u) << lines[2];
    const std::string overlay_name = lines[2].substr(std::string("Saving to ").size());
    EXPECT_EQ(lines[3], "Copy SESOverlay5.bmp -> SESOverlay6.bmp");
    EXPECT_EQ(lines[8], "Copy SESOverlay0.bmp -> SESOverlay1.bmp");
    EXPECT_EQ(lines[9], "Copy " + overlay_name + " -> SESOverlay0.bmp");
    if (run == 0) {
      EXPECT_EQ(lines[10], "Saving IDR641.background.png");
    }
    EXPECT_EQ(lines.back(), "Done!");

    const std::string archived = overlay_name.substr(program_.path().size());
    EXPECT_EQ(program_.Read("SESOverlay0.bmp"), program_.Read(archived));
    if (run == 1) {
      EXPECT_EQ(program_.Read("SESOverlay1.bmp"), first_member);
    }
    first_member = program_.Read("SESOverlay0.bmp");

    // The map's own size and format, with the feed's texts on it.
    const picture::Bitmap overlay = picture::LoadBmpFile(overlay_name);
    const picture::Bitmap background = picture::LoadBmpFile(program_.File("IDR641.background.bmp"));
    EXPECT_EQ(overlay.Width(), background.Width());
    EXPECT_EQ(overlay.Height(), background.Height());
    EXPECT_EQ(overlay.BitCount(), background.BitCount());
    EXPECT_NE(overlay, background);
    EXPECT_NE(program_.Read("sysinfo.json").find("\"currentTemp\":\""), std::string::npos);
  }
  EXPECT_NE(program_.Read("SESOverlay0.bmp"), program_.Read("SESOverlay1.bmp"));
  EXPECT_FALSE(program_.Exists("e!vesk.xml"));
}

TEST_F(OverlayRunTest, FailingFeedIsReportedAndTheRunStillEnds) {
  SimProcess sim({});
  ASSERT_NE(sim.Port(), 0) << sim.FirstLine();
  ScriptedServer::Options options;
  options.repeat_last_script = true;
  options.lifetime = std::chrono::seconds(60);
  ScriptedServer publish({{ScriptedServer::ReadRequest(),
                           ScriptedServer::Send("HTTP/1.1 404 Not Found\r\nContent-Length: "
                                                "9\r\n\r\nnot found")}},
                         options);

  const ProcessResult result = Run(sim.HostPort(), "127.0.0.1:" + std::to_string(publish.Port()));
  EXPECT_EQ(OverlayLines(result),
            (std::vector<std::string>{
                "Opening http://127.0.0.1:" + std::to_string(publish.Port()) + "/ses/sysinfo.json",
                "Saving IDR641.background.png", "Saving IDR641.topography.png",
                "Saving IDR641.locations.png", "Saving IDR641.range.png", "Done!"}))
      << result.out;

  const std::string report = program_.Read("e!vesk.xml");
  EXPECT_EQ(ReportElement(report, "Function"), "Generate_SESOverlay:100");
  EXPECT_EQ(ReportElement(report, "Trace"), "100");
  EXPECT_EQ(ReportElement(report, "ClassName"), "EIdHTTPProtocolException");
  EXPECT_EQ(ReportElement(report, "e.Message"), "HTTP/1.1 404 Not Found");
  EXPECT_FALSE(program_.Exists("SESOverlay0.bmp"));
  EXPECT_FALSE(program_.Exists("sysinfo.json"));
  // The radar update before it went through.
  EXPECT_TRUE(program_.Exists("Image0.png"));
}

}  // namespace
