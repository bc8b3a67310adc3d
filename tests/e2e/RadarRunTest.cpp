// The real binary, copied into a temporary program directory, fetching the
// radar loop and its frames from the simulator or from a scripted loopback
// server: what it writes, what it requests, what it prints and what it
// reports when the source fails.
#include <gtest/gtest.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "support/ProgramFixture.h"
#include "support/Regex.h"
#include "support/RunProcess.h"
#include "support/ScriptedServer.h"
#include "support/SimProcess.h"
#include "support/SlotTag.h"
#include "support/TempDir.h"
#include "support/TestPng.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ProcessOptions;
using testing_support::ProcessResult;
using testing_support::ScriptedServer;
using testing_support::SimProcess;
using testing_support::TempDir;

constexpr const char* kLoopPath = "/products/IDR641.loop.shtml";
constexpr const char* kUserAgent =
    "Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_3) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/83.0.4103.97 Safari/537.36\"";
constexpr const char* kPagesWritten = "Writing index24.html....";
constexpr const char* kOverlayLine = "Calling Generate_SESOverlay...";
constexpr const char* kReport = "e!vesk.xml";
constexpr const char* kFeed = R"({"currentTemp":"21.5","currentWind":"NW 12"})";

std::string ImageFile(int index) { return "Image" + std::to_string(index) + ".png"; }

// The slot tag of this moment.
std::string SlotTagNow() { return testing_support::SlotTag(::time(nullptr)); }

// The lines the radar update prints for one frame of entry n.
std::vector<std::string> FrameLines(const std::string& address, int n) {
  const std::string file = ImageFile(6 - n);
  return {"sImageURI=" + address, "sImageFilename=" + file,
          file + ". image0.png is the most recent.", "Saving " + file};
}

std::vector<std::string> Append(std::vector<std::string> lines,
                                const std::vector<std::string>& more) {
  lines.insert(lines.end(), more.begin(), more.end());
  return lines;
}

// Standard output without the summary line that ends every run (tested in
// SummaryRunTest).
std::vector<std::string> RunLines(const ProcessResult& result) {
  std::vector<std::string> lines = result.OutLines();
  if (!lines.empty() && lines.back().rfind("Summary: ", 0) == 0) lines.pop_back();
  return lines;
}

// The lines after both pages were written.
std::vector<std::string> LinesAfterPages(const ProcessResult& result) {
  std::vector<std::string> lines = RunLines(result);
  const auto pages = std::find(lines.begin(), lines.end(), kPagesWritten);
  if (pages == lines.end()) return {"<no \"" + std::string(kPagesWritten) + "\" line>"};
  return std::vector<std::string>(pages + 1, lines.end());
}

// The lines after the pages, up to (without) the overlay's first line.
std::vector<std::string> RadarLines(const ProcessResult& result) {
  std::vector<std::string> lines = LinesAfterPages(result);
  lines.erase(std::find(lines.begin(), lines.end(), kOverlayLine), lines.end());
  if (!lines.empty() && lines.back() == "Done!") lines.pop_back();
  return lines;
}

std::string LastLine(const ProcessResult& result) {
  const std::vector<std::string> lines = RunLines(result);
  return lines.empty() ? std::string() : lines.back();
}

bool Printed(const ProcessResult& result, const std::string& line) {
  const std::vector<std::string> lines = result.OutLines();
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// A radar source scripted byte for byte: a 200 with Content-Length for every
// path it knows, a 404 for the rest, the station feed for the overlay. The
// map may change between runs.
class ScriptedSource {
 public:
  ScriptedSource()
      : server_(
            [this](const std::string& target) {
              return ScriptedServer::Script{ScriptedServer::Send(Answer(target))};
            },
            std::chrono::seconds(120)) {}

  void Serve(const std::string& path, const std::string& body) {
    std::lock_guard<std::mutex> lock(mutex_);
    bodies_[path] = body;
  }
  void Refuse(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    bodies_.erase(path);
  }
  std::string HostPort() const { return "127.0.0.1:" + std::to_string(server_.Port()); }

  // Request targets in order; a new slice starts where the last one ended.
  std::vector<std::string> NewTargets() {
    std::vector<std::string> targets;
    const std::vector<std::string> heads = server_.RequestHeads();
    const std::regex request_line(R"(GET (\S*) HTTP/1\.1\r\n[^]*)");
    for (std::size_t i = seen_; i < heads.size(); ++i) {
      std::smatch match;
      targets.push_back(std::regex_match(heads[i], match, request_line) ? match[1].str()
                                                                        : "<malformed>");
    }
    seen_ = heads.size();
    return targets;
  }
  std::vector<std::string> Heads() const { return server_.RequestHeads(); }

 private:
  std::string Answer(const std::string& target) {
    std::string status = "200 OK";
    std::string body;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      const auto found = bodies_.find(target);
      if (found != bodies_.end()) {
        body = found->second;
      } else if (target == "/ses/sysinfo.json") {
        body = kFeed;
      } else {
        status = "404 Not Found";
        body = "<html><body>No such file</body></html>";
      }
    }
    return "HTTP/1.1 " + status + "\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
  }

  std::mutex mutex_;
  std::map<std::string, std::string> bodies_;
  std::size_t seen_ = 0;
  ScriptedServer server_;  // last: stopped before the map goes away
};

// A loop page in the form the radar source writes it, with the given entry
// assignments ("theImageNames[3] = \"/a.png\";").
std::string LoopPage(const std::vector<std::string>& assignments) {
  std::string page =
      "<html><head><title>Radar loop</title></head><body>\r\n"
      "<script type=\"text/javascript\">\n  var theImageNames = new Array();\n";
  for (const std::string& assignment : assignments) page += "  " + assignment + "\n";
  page += "</script>\n<img id=\"frame\" src=\"/radar/latest.png\">\n</body></html>\n";
  return page;
}

std::string Assignment(int n, const std::string& address) {
  return "theImageNames[" + std::to_string(n) + "] = \"" + address + "\";";
}

std::string FrameAddress(int n) {
  return "/radar/IDR641.T.20240722215" + std::to_string(n) + ".png";
}

// Frame bytes that a text-minded reader would mangle: zero bytes, CR LF,
// bytes above 127 and the entry's own number.
std::string FrameBytes(int n, const std::string& run) {
  std::string bytes("\x89PNG\r\n\x1a\n", 8);
  bytes += std::string(1, '\0') + "frame " + std::to_string(n) + " of " + run + "\r\n\xff\xfe";
  bytes.append(3000 + 100 * static_cast<std::size_t>(n), static_cast<char>('A' + n));
  return bytes;
}

// What the container of a WebP animation says: its loop count and each
// ANMF frame's duration; nullopt when the RIFF structure is broken.
struct WebpAnimation {
  int loop_count = -1;
  std::vector<int> durations_ms;
};
std::optional<WebpAnimation> ReadWebpAnimation(const std::string& bytes) {
  auto little_endian = [&](std::size_t at, int count) {
    std::uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i)
      value = value << 8 | static_cast<std::uint8_t>(bytes[at + i]);
    return value;
  };
  if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WEBP") != 0 ||
      little_endian(4, 4) + 8 != bytes.size()) {
    return std::nullopt;
  }
  WebpAnimation animation;
  for (std::size_t at = 12; at < bytes.size();) {
    if (bytes.size() - at < 8) return std::nullopt;
    const std::string fourcc = bytes.substr(at, 4);
    const std::size_t size = little_endian(at + 4, 4);
    if (bytes.size() - at - 8 < size) return std::nullopt;
    if (fourcc == "ANIM" && size >= 6)
      animation.loop_count = static_cast<int>(little_endian(at + 12, 2));
    if (fourcc == "ANMF" && size >= 16) {
      animation.durations_ms.push_back(static_cast<int>(little_endian(at + 8 + 12, 3)));
    }
    at += 8 + size + size % 2;
  }
  return animation;
}

// Runs take ProgramFixture's options, which set VESK_SYSLOG=off.
class RadarRunTest : public testing_support::ProgramFixture {
 protected:
  RadarRunTest() : ProgramFixture(/*with_background=*/true) {}

  ProcessResult Run(const std::string& host_port,
                    const std::map<std::string, std::string>& settings = {}) {
    ProcessOptions options = RunOptions(host_port);
    for (const auto& [name, value] : settings) options.environment[name] = value;
    return RunToSuccess(options);
  }

  // Archived frames in the program directory.
  std::set<std::string> Archives() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(program_.path())) {
      const std::string name = entry.path().filename().string();
      if (name.starts_with("Image-")) names.insert(name);
    }
    return names;
  }

  // One archive for the run's slot (two when the run straddled a slot
  // boundary), the newest frame's bytes in the last one.
  void ExpectArchiveOfNewest(const std::string& tag_before, const std::string& tag_after) {
    const std::set<std::string> archives = Archives();
    const std::string before = "Image-" + tag_before + ".png";
    const std::string after = "Image-" + tag_after + ".png";
    if (tag_before == tag_after) {
      EXPECT_EQ(archives, std::set<std::string>{after});
    } else {
      for (const std::string& name : archives) {
        EXPECT_TRUE(name == before || name == after) << name;
      }
    }
    const std::string last = archives.count(after) ? after : before;
    EXPECT_EQ(program_.Read(last), program_.Read("Image0.png"));
  }

  void ExpectReport(const std::string& class_name, const std::string& message) {
    const std::string report = program_.Read(kReport);
    EXPECT_NE(report.find("<Function>Main():100</Function>\r\n"), std::string::npos) << report;
    EXPECT_NE(report.find("<ClassName>" + class_name + "</ClassName>"), std::string::npos)
        << report;
    EXPECT_NE(report.find("<e.Message>" + message + "</e.Message>"), std::string::npos) << report;
  }
};

TEST_F(RadarRunTest, FirstRunFetchesTheLoopAndTheSecondFindsNoChange) {
  // A fixed newest frame and no new one for an hour: both runs see one page.
  SimProcess sim({"--start-frame", "202407222150", "--frame-interval", "3600"});
  ASSERT_NE(sim.Port(), 0) << sim.FirstLine();

  const std::string tag_before = SlotTagNow();
  const ProcessResult first = Run(sim.HostPort());
  const std::string tag_after = SlotTagNow();
  const std::vector<std::string> first_requests = sim.RequestedTargets();

  // The frame addresses as the simulator's page names them.
  const std::optional<std::string> page = sim.FetchBody(kLoopPath);
  ASSERT_TRUE(page);
  std::vector<std::string> addresses;
  for (int n = 0; n < 7; ++n) {
    std::smatch match;
    const std::regex entry("theImageNames\\[" + std::to_string(n) + "\\] = \"([^\"]+)\";");
    ASSERT_TRUE(std::regex_search(*page, match, entry)) << n;
    addresses.push_back(match[1]);
  }

  std::vector<std::string> expected = {
      "Opening http://" + sim.HostPort() + "/products/IDR641.loop.shtml",
      "Saving response to root.html"};
  for (int n = 0; n < 7; ++n) expected = Append(expected, FrameLines(addresses[n], n));
  EXPECT_EQ(RadarLines(first), expected) << first.out;
  EXPECT_TRUE(Printed(first, kOverlayLine));
  EXPECT_EQ(LastLine(first), "Done!");

  EXPECT_EQ(program_.Read("root.html"), *page);
  EXPECT_EQ(program_.Read("LastImageURI.txt"), addresses[6]);
  for (int n = 0; n < 7; ++n) {
    const std::optional<std::string> frame = sim.FetchBody(addresses[n]);
    ASSERT_TRUE(frame) << addresses[n];
    EXPECT_EQ(program_.Read(ImageFile(6 - n)), *frame) << ImageFile(6 - n);
  }
  ExpectArchiveOfNewest(tag_before, tag_after);
  for (int i = 0; i < 7; ++i) {
    const fs::path link = program_.File("image" + std::to_string(i) + ".png");
    ASSERT_TRUE(fs::is_symlink(link)) << link;
    EXPECT_EQ(fs::read_symlink(link), fs::path(ImageFile(i)));
  }
  EXPECT_FALSE(program_.Exists(kReport)) << program_.Read(kReport);
  std::vector<std::string> loop_requests = {kLoopPath};
  loop_requests.insert(loop_requests.end(), addresses.begin(), addresses.end());
  ASSERT_GE(first_requests.size(), loop_requests.size());
  EXPECT_EQ(std::vector<std::string>(first_requests.begin(), first_requests.begin() + 8),
            loop_requests);

  // The same page again: root.html is rewritten, nothing else is fetched.
  fs::remove(program_.File("root.html"));
  const std::size_t requests_before = sim.RequestedTargets().size();
  const ProcessResult second = Run(sim.HostPort());
  EXPECT_EQ(
      LinesAfterPages(second),
      (std::vector<std::string>{"Opening http://" + sim.HostPort() + "/products/IDR641.loop.shtml",
                                "Saving response to root.html",
                                " No change to theImageNames[6] in " + addresses[6], "Done!"}))
      << second.out;
  const std::vector<std::string> all = sim.RequestedTargets();
  EXPECT_EQ(std::vector<std::string>(all.begin() + static_cast<long>(requests_before), all.end()),
            std::vector<std::string>{kLoopPath});
  EXPECT_EQ(program_.Read("root.html"), *page);
  EXPECT_EQ(program_.Read("LastImageURI.txt"), addresses[6]);
}

TEST_F(RadarRunTest, SavesExactlyTheFramesThePageNames) {
  ScriptedSource source;
  // Entries 0 and 1 are missing and entry 2 holds an empty address: none of
  // them is requested, and their frame files keep what they held.
  std::vector<std::string> assignments = {"theImageNames[2] = \"\";"};
  for (int n = 3; n < 7; ++n) {
    assignments.push_back(Assignment(n, FrameAddress(n)));
    source.Serve(FrameAddress(n), FrameBytes(n, "first"));
  }
  const std::string page = LoopPage(assignments);
  source.Serve(kLoopPath, page);
  for (int i = 0; i < 7; ++i) program_.Write(ImageFile(i), "old frame " + std::to_string(i));

  const std::string tag_before = SlotTagNow();
  const ProcessResult result = Run(source.HostPort());
  const std::string tag_after = SlotTagNow();

  std::vector<std::string> expected = {
      "Opening http://" + source.HostPort() + "/products/IDR641.loop.shtml",
      "Saving response to root.html"};
  for (int n = 3; n < 7; ++n) expected = Append(expected, FrameLines(FrameAddress(n), n));
  EXPECT_EQ(RadarLines(result), expected) << result.out;
  EXPECT_TRUE(Printed(result, kOverlayLine));
  EXPECT_EQ(LastLine(result), "Done!");

  std::vector<std::string> requested = source.NewTargets();
  requested.erase(std::remove(requested.begin(), requested.end(), "/ses/sysinfo.json"),
                  requested.end());
  // Then the map layers, by default from the product's default path.
  std::vector<std::string> expected_requests = {kLoopPath, FrameAddress(3), FrameAddress(4),
                                                FrameAddress(5), FrameAddress(6)};
  for (const char* layer : {"background", "topography", "locations", "range"}) {
    expected_requests.push_back("/products/radar_transparencies/IDR641." + std::string(layer) +
                                ".png");
  }
  EXPECT_EQ(requested, expected_requests);
  for (const std::string& head : source.Heads()) {
    EXPECT_NE(head.find("\r\nUser-Agent: " + std::string(kUserAgent) + "\r\n"), std::string::npos)
        << head;
    EXPECT_NE(head.find("\r\nConnection: Keep-Alive\r\n"), std::string::npos) << head;
    EXPECT_NE(head.find("\r\nCache-control: no-cache\r\n"), std::string::npos) << head;
  }

  EXPECT_EQ(program_.Read("root.html"), page);
  EXPECT_EQ(program_.Read("LastImageURI.txt"), FrameAddress(6));
  for (int n = 3; n < 7; ++n) {
    EXPECT_EQ(program_.Read(ImageFile(6 - n)), FrameBytes(n, "first")) << ImageFile(6 - n);
  }
  for (int i = 4; i < 7; ++i)
    EXPECT_EQ(program_.Read(ImageFile(i)), "old frame " + std::to_string(i));
  ExpectArchiveOfNewest(tag_before, tag_after);
  EXPECT_FALSE(program_.Exists(kReport)) << program_.Read(kReport);
}

TEST_F(RadarRunTest, FailedFrameIsFetchedAgainByTheNextRun) {
  ScriptedSource source;
  std::vector<std::string> assignments;
  for (int n = 0; n < 7; ++n) {
    assignments.push_back(Assignment(n, FrameAddress(n)));
    source.Serve(FrameAddress(n), FrameBytes(n, "second"));
  }
  source.Serve(kLoopPath, LoopPage(assignments));
  source.Refuse(FrameAddress(2));
  program_.Write("LastImageURI.txt", "/radar/IDR641.T.202407222145.png");
  for (int i = 0; i < 7; ++i) program_.Write(ImageFile(i), "old frame " + std::to_string(i));

  const ProcessResult failed = Run(source.HostPort());
  std::vector<std::string> expected = {
      "Opening http://" + source.HostPort() + "/products/IDR641.loop.shtml",
      "Saving response to root.html"};
  for (int n = 0; n < 2; ++n) expected = Append(expected, FrameLines(FrameAddress(n), n));
  std::vector<std::string> failing = FrameLines(FrameAddress(2), 2);
  failing.pop_back();
  expected = Append(expected, failing);
  EXPECT_EQ(LinesAfterPages(failed), expected) << failed.out;

  ExpectReport("EIdHTTPProtocolException", "HTTP/1.1 404 Not Found");
  EXPECT_NE(program_.Read(kReport).find("<Notes>" + std::string(kUserAgent) + "</Notes>"),
            std::string::npos);
  EXPECT_EQ(program_.Read("LastImageURI.txt"), "/radar/IDR641.T.202407222145.png");
  EXPECT_EQ(program_.Read("Image6.png"), FrameBytes(0, "second"));
  EXPECT_EQ(program_.Read("Image5.png"), FrameBytes(1, "second"));
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(program_.Read(ImageFile(i)), "old frame " + std::to_string(i));

  // The source recovers; the next run fetches the whole loop.
  source.NewTargets();
  source.Serve(FrameAddress(2), FrameBytes(2, "second"));
  fs::remove(program_.File(kReport));
  const ProcessResult recovered = Run(source.HostPort());
  EXPECT_EQ(LastLine(recovered), "Done!") << recovered.out;
  EXPECT_TRUE(Printed(recovered, kOverlayLine));
  EXPECT_EQ(program_.Read("LastImageURI.txt"), FrameAddress(6));
  for (int n = 0; n < 7; ++n) {
    EXPECT_EQ(program_.Read(ImageFile(6 - n)), FrameBytes(n, "second")) << ImageFile(6 - n);
  }
  std::vector<std::string> requested = source.NewTargets();
  EXPECT_EQ(std::count_if(requested.begin(), requested.end(),
                          [](const std::string& target) { return target.starts_with("/radar/"); }),
            7);
  EXPECT_FALSE(program_.Exists(kReport)) << program_.Read(kReport);
}

TEST_F(RadarRunTest, PageWithoutNewestFrameIsAFailure) {
  ScriptedSource source;
  std::vector<std::string> entries;
  for (int n = 0; n < 6; ++n) {
    entries.push_back(Assignment(n, FrameAddress(n)));
    source.Serve(FrameAddress(n), FrameBytes(n, "none"));
  }
  // No theImageNames[6] at all, and one whose value is no quoted address.
  const std::vector<std::string> pages = {
      LoopPage(entries), LoopPage(Append(entries, {"theImageNames[6] = latestFrame;"}))};
  program_.Write("LastImageURI.txt", "/radar/IDR641.T.202407222145.png");

  for (const std::string& page : pages) {
    SCOPED_TRACE(page);
    source.Serve(kLoopPath, page);
    fs::remove(program_.File(kReport));
    const ProcessResult result = Run(source.HostPort());
    EXPECT_EQ(LinesAfterPages(result),
              (std::vector<std::string>{
                  "Opening http://" + source.HostPort() + "/products/IDR641.loop.shtml",
                  "Saving response to root.html"}))
        << result.out;
    EXPECT_EQ(source.NewTargets(), std::vector<std::string>{kLoopPath});
    ASSERT_TRUE(program_.Exists(kReport));
    const std::string report = program_.Read(kReport);
    EXPECT_NE(report.find("<Function>Main():100</Function>"), std::string::npos) << report;
    EXPECT_NE(report.find("<ClassName>EContentError</ClassName>"), std::string::npos) << report;
    EXPECT_NE(report.find("theImageNames[6]"), std::string::npos) << report;
    EXPECT_EQ(program_.Read("root.html"), page);
    EXPECT_EQ(program_.Read("LastImageURI.txt"), "/radar/IDR641.T.202407222145.png");
    EXPECT_TRUE(Archives().empty());
  }
}

TEST_F(RadarRunTest, RefusedLoopPageStillLeavesBothPages) {
  std::string refusing_host;
  {
    // A port that was just free again: nothing listens there.
    ScriptedServer closed(std::vector<ScriptedServer::Script>{});
    refusing_host = "127.0.0.1:" + std::to_string(closed.Port());
  }
  const ProcessResult result = Run(refusing_host);
  EXPECT_EQ(LinesAfterPages(result), std::vector<std::string>{"Opening http://" + refusing_host +
                                                              "/products/IDR641.loop.shtml"})
      << result.out;
  EXPECT_TRUE(program_.Exists("index.html"));
  EXPECT_TRUE(program_.Exists("index24.html"));
  EXPECT_FALSE(program_.Exists("root.html"));
  EXPECT_FALSE(program_.Exists("LastImageURI.txt"));
  const std::string report = program_.Read(kReport);
  EXPECT_NE(report.find("<Function>Main():100</Function>"), std::string::npos) << report;
  EXPECT_NE(report.find("<ClassName>EIdConnectException</ClassName>"), std::string::npos) << report;
  EXPECT_FALSE(Printed(result, "Done!"));
}

TEST_F(RadarRunTest, LowercaseNamesLinkToTheFrames) {
  ScriptedSource source;
  std::vector<std::string> assignments;
  for (int n = 0; n < 7; ++n) {
    assignments.push_back(Assignment(n, FrameAddress(n)));
    source.Serve(FrameAddress(n), FrameBytes(n, "links"));
  }
  source.Serve(kLoopPath, LoopPage(assignments));
  // Put there by hand: a file, a link elsewhere and a correct link.
  program_.Write("image1.png", "placed by hand");
  fs::create_symlink("elsewhere.png", program_.File("image2.png"));
  fs::create_symlink("Image3.png", program_.File("image3.png"));

  const ProcessResult result = Run(source.HostPort());
  const std::vector<std::string> lines = RadarLines(result);
  ASSERT_GE(lines.size(), 2u) << result.out;
  EXPECT_EQ(
      std::vector<std::string>(lines.end() - 2, lines.end()),
      (std::vector<std::string>{"image1.png is not a link to Image1.png; left as it is",
                                "image2.png pointed at elsewhere.png; now points at Image2.png"}))
      << result.out;
  EXPECT_EQ(LastLine(result), "Done!");

  EXPECT_EQ(program_.Read("image1.png"), "placed by hand");
  EXPECT_FALSE(fs::is_symlink(program_.File("image1.png")));
  for (int i : {0, 2, 3, 4, 5, 6}) {
    const fs::path link = program_.File("image" + std::to_string(i) + ".png");
    ASSERT_TRUE(fs::is_symlink(link)) << link;
    EXPECT_EQ(fs::read_symlink(link), fs::path(ImageFile(i)));
    EXPECT_EQ(program_.Read(link.filename().string()), FrameBytes(6 - i, "links"));
  }
  for (const auto& entry : fs::directory_iterator(program_.path())) {
    EXPECT_NE(entry.path().filename().string().front(), '.') << "temporary link left behind";
  }
}

// A whole PNG picture as a map layer, 64 rows high, of a colour the tag
// gives, so that layers differ.
std::string LayerPng(int width, const std::string& tag) {
  return testing_support::OneColourPng(width, 64,
                                       static_cast<std::uint32_t>(std::hash<std::string>{}(tag)));
}

std::string LayerFile(const std::string& product, const std::string& layer) {
  return product + "." + layer + ".png";
}

constexpr const char* kLayerNames[] = {"background", "topography", "locations", "range"};

// A scripted source of one product's loop, whose newest frame moves on with
// every call of NextLoop, and its map layers.
class ProductSource : public ScriptedSource {
 public:
  // With pictures, the frames are whole PNG pictures that loop.webp can
  // draw; without, bytes that only look like them.
  explicit ProductSource(std::string product, bool pictures = false)
      : product_(std::move(product)), pictures_(pictures) {}

  void NextLoop() {
    ++loop_;
    std::vector<std::string> assignments;
    for (int n = 0; n < 7; ++n) {
      const std::string address = "/radar/" + product_ + ".T.2024072221" +
                                  std::to_string(10 + loop_) + std::to_string(n) + ".png";
      assignments.push_back(Assignment(n, address));
      Serve(address,
            pictures_ ? LayerPng(64, address) : FrameBytes(n, "loop " + std::to_string(loop_)));
    }
    Serve("/products/" + product_ + ".loop.shtml", LoopPage(assignments));
  }
  std::string LayerPath(const std::string& layer) const {
    return "/products/radar_transparencies/" + LayerFile(product_, layer);
  }
  // The map layer requests among the requests since the last call.
  std::vector<std::string> NewLayerTargets() {
    std::vector<std::string> layers;
    for (const std::string& target : NewTargets()) {
      if (target.starts_with("/products/radar_transparencies/")) layers.push_back(target);
    }
    return layers;
  }

 private:
  std::string product_;
  bool pictures_;
  int loop_ = 0;
};

// How many lines of the run start with the prefix.
std::ptrdiff_t LinesStartingWith(const ProcessResult& result, const std::string& prefix) {
  const std::vector<std::string> lines = result.OutLines();
  return std::count_if(lines.begin(), lines.end(),
                       [&](const std::string& line) { return line.starts_with(prefix); });
}

TEST_F(RadarRunTest, ProductNamesTheLoopTheBackgroundTheLayersAndThePages) {
  ProductSource source("IDR023");
  source.NextLoop();
  for (const char* layer : kLayerNames) source.Serve(source.LayerPath(layer), LayerPng(512, layer));
  fs::rename(program_.File("IDR641.background.bmp"), program_.File("IDR023.background.bmp"));

  const ProcessResult first = Run(source.HostPort(), {{"VESK_PRODUCT", "IDR023"}});
  EXPECT_EQ(RadarLines(first).front(),
            "Opening http://" + source.HostPort() + "/products/IDR023.loop.shtml");
  EXPECT_TRUE(Printed(first, "BMP loaded from IDR023.background.bmp.")) << first.out;
  EXPECT_EQ(LastLine(first), "Done!");
  EXPECT_EQ(first.OutLines().back().find("not fetched"), std::string::npos) << first.out;
  std::vector<std::string> requested = source.NewTargets();
  for (const std::string& target : requested) {
    EXPECT_EQ(target.find("IDR641"), std::string::npos) << target;
  }
  // The layers come last, on the radar client's kept-alive connection.
  std::vector<std::string> layer_requests;
  for (const char* layer : kLayerNames) {
    layer_requests.push_back(source.LayerPath(layer));
    EXPECT_EQ(program_.Read(LayerFile("IDR023", layer)), LayerPng(512, layer)) << layer;
    EXPECT_TRUE(Printed(first, "Saving " + LayerFile("IDR023", layer))) << first.out;
  }
  ASSERT_GE(requested.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(requested.end() - 4, requested.end()), layer_requests);
  EXPECT_FALSE(program_.Exists(kReport)) << program_.Read(kReport);

  // The next run's pages show the product's layers.
  Run(source.HostPort(), {{"VESK_PRODUCT", "IDR023"}});
  for (const char* page : {"index.html", "index24.html"}) {
    const std::string text = program_.Read(page);
    EXPECT_EQ(text.find("IDR641"), std::string::npos) << page;
    for (const char* layer : kLayerNames) {
      EXPECT_NE(text.find("/vesk/" + LayerFile("IDR023", layer) + "\")"), std::string::npos)
          << page << " " << layer;
    }
  }
}

TEST_F(RadarRunTest, FirstRunAgainstTheSimulatorLeavesTheFourLayers) {
  SimProcess sim({"--start-frame", "202407222150", "--frame-interval", "3600"});
  ASSERT_NE(sim.Port(), 0) << sim.FirstLine();
  const ProcessResult result =
      Run(sim.HostPort(), {{"VESK_LAYER_PATH", "/products/radar_transparencies/"}});
  EXPECT_EQ(LastLine(result), "Done!") << result.out;
  for (const char* layer : kLayerNames) {
    const std::optional<std::string> served =
        sim.FetchBody("/products/radar_transparencies/" + LayerFile("IDR641", layer));
    ASSERT_TRUE(served) << layer;
    EXPECT_EQ(program_.Read(LayerFile("IDR641", layer)), *served) << layer;
  }
}

TEST_F(RadarRunTest, LayerThatFailsKeepsItsFileAndWaitsADay) {
  ProductSource source("IDR641", true);
  source.NextLoop();
  // Topography's picture stream is broken, locations is missing, range
  // declares 16384 x 16384 pixels; background is good.
  source.Serve(source.LayerPath("background"), LayerPng(512, "bg"));
  source.Serve(source.LayerPath("topography"),
               testing_support::WithChunkBytes(LayerPng(512, "topo"), "IDAT", 2, "\xff\xff"));
  source.Serve(source.LayerPath("range"),
               testing_support::WithDeclaredSize(LayerPng(512, "big"), 16384, 16384));
  // A week-old layer is due again.
  const auto week_ago = fs::file_time_type::clock::now() - std::chrono::hours(7 * 24 + 1);
  program_.Write(LayerFile("IDR641", "topography"), "old topography");
  fs::last_write_time(program_.File(LayerFile("IDR641", "topography")), week_ago);
  const std::map<std::string, std::string> settings = {
      {"VESK_LAYER_PATH", "/products/radar_transparencies"}, {"VESK_EXPORT", "webp"}};

  const ProcessResult first = Run(source.HostPort(), settings);
  EXPECT_EQ(LastLine(first), "Done!");
  EXPECT_EQ(source.NewLayerTargets().size(), 4u);
  const std::vector<std::string> lines = RunLines(first);
  for (const char* layer : {"topography", "locations", "range"}) {
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [&](const std::string& line) {
                              return line.starts_with(
                                  LayerFile("IDR641", layer) + " not fetched from http://" +
                                  source.HostPort() + source.LayerPath(layer) + ": ");
                            }),
              1)
        << layer << first.out;
  }
  EXPECT_NE(first.out.find(", 3 map layers not fetched, "), std::string::npos) << first.out;
  EXPECT_FALSE(program_.Exists(kReport)) << program_.Read(kReport);
  EXPECT_EQ(program_.Read(LayerFile("IDR641", "background")), LayerPng(512, "bg"));
  EXPECT_EQ(program_.Read(LayerFile("IDR641", "topography")), "old topography");
  EXPECT_FALSE(program_.Exists(LayerFile("IDR641", "locations")));
  EXPECT_FALSE(program_.Exists(LayerFile("IDR641", "range")));
  // loop.webp is drawn without the three shown layers, one line each.
  EXPECT_TRUE(program_.Exists("loop.webp"));
  EXPECT_EQ(first.out.find(", loop.webp not written, "), std::string::npos) << first.out;
  EXPECT_EQ(LinesStartingWith(first, "loop.webp drawn without "), 3) << first.out;
  EXPECT_EQ(LinesStartingWith(first,
                              "loop.webp drawn without IDR641.topography.png: PNG picture "
                              "is not valid: "),
            1);
  EXPECT_EQ(LinesStartingWith(first, "loop.webp drawn without IDR641.range.png: missing"), 1);

  // Within the day, a new frame asks for none of them again.
  source.NextLoop();
  const ProcessResult second = Run(source.HostPort(), settings);
  EXPECT_EQ(source.NewLayerTargets(), std::vector<std::string>{});
  EXPECT_EQ(second.out.find("not fetched"), std::string::npos) << second.out;

  // A day after the failure the source has mended the topography; a week-old
  // background is fetched again too.
  source.Serve(source.LayerPath("topography"), LayerPng(512, "topo"));
  const auto day_ago = fs::file_time_type::clock::now() - std::chrono::hours(25);
  fs::last_write_time(program_.File(LayerFile("IDR641", "topography") + ".failed"), day_ago);
  fs::last_write_time(program_.File(LayerFile("IDR641", "background")), week_ago);
  source.NextLoop();
  const ProcessResult third = Run(source.HostPort(), settings);
  EXPECT_EQ(source.NewLayerTargets(), (std::vector<std::string>{source.LayerPath("background"),
                                                                source.LayerPath("topography")}));
  EXPECT_EQ(program_.Read(LayerFile("IDR641", "topography")), LayerPng(512, "topo"));
  EXPECT_FALSE(program_.Exists(LayerFile("IDR641", "topography") + ".failed"));
  EXPECT_TRUE(program_.Exists(LayerFile("IDR641", "range") + ".failed"));
  EXPECT_EQ(third.out.find("not fetched"), std::string::npos) << third.out;
  EXPECT_EQ(LinesStartingWith(third, "loop.webp drawn without "), 2) << third.out;
  EXPECT_EQ(LinesStartingWith(third, "loop.webp drawn without IDR641.topography.png"), 0);
}

TEST_F(RadarRunTest, NewFrameLeavesTheLoopAsAnAnimatedPictureAndABadFrameKeepsIt) {
  SimProcess sim({"--advance-on-request"});
  ASSERT_NE(sim.Port(), 0) << sim.FirstLine();
  const std::map<std::string, std::string> layers = {
      {"VESK_LAYER_PATH", "/products/radar_transparencies/"}};
  auto with_export = [&](const char* value) {
    std::map<std::string, std::string> settings = layers;
    settings["VESK_EXPORT"] = value;
    return settings;
  };

  const ProcessResult off = Run(sim.HostPort(), with_export("off"));
  EXPECT_EQ(LastLine(off), "Done!") << off.out;
  EXPECT_FALSE(program_.Exists("loop.webp"));

  const ProcessResult written = Run(sim.HostPort(), with_export("webp"));
  EXPECT_EQ(LastLine(written), "Done!") << written.out;
  const std::string picture = program_.Read("loop.webp");
  EXPECT_LE(picture.size(), 1'500'000u);
  const std::optional<WebpAnimation> animation = ReadWebpAnimation(picture);
  ASSERT_TRUE(animation);
  EXPECT_EQ(animation->loop_count, 0);
  // The default delay of 333 ms, the newest frame held three times as long.
  EXPECT_EQ(animation->durations_ms, (std::vector<int>{333, 333, 333, 333, 333, 333, 999}));

  // Frames that are no PNG pictures: one line, the old picture, no report.
  ProductSource source("IDR641");
  source.NextLoop();
  const ProcessResult bad = Run(source.HostPort(), with_export("webp"));
  EXPECT_EQ(LastLine(bad), "Done!") << bad.out;
  const std::vector<std::string> lines = RunLines(bad);
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& line) {
                            return line.starts_with(
                                "loop.webp not written, the old one stays: Image0.png: PNG picture "
                                "is not valid: ");
                          }),
            1)
      << bad.out;
  EXPECT_NE(bad.out.find(", loop.webp not written, "), std::string::npos) << bad.out;
  EXPECT_EQ(program_.Read("loop.webp"), picture);
  EXPECT_FALSE(program_.Exists(kReport)) << program_.Read(kReport);
}

}  // namespace
