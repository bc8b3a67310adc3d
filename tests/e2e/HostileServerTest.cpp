// The real binary against misbehaving web hosts: for each scenario a scripted
// loopback server answers one request of a run (the radar loop page, a frame
// or the station feed) in a broken or hostile way and answers the others
// well. Every run must exit 0 in time, leave one exception report exactly
// when something failed, and leave every published file either as it was or
// replaced whole by the bytes the hosts served: nothing lost, nothing
// partial, nothing left behind.
#include <gtest/gtest.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "picture/Bitmap.h"
#include "picture/BmpCodec.h"
#include "support/ProgramFixture.h"
#include "support/RunProcess.h"
#include "support/ScriptedServer.h"
#include "support/SimProcess.h"
#include "support/SlotTag.h"
#include "support/TempDir.h"
#include "support/TestPng.h"
#include "support/TestText.h"
#include "support/TlsFront.h"

namespace {

using testing_support::HttpHead;
using testing_support::HttpOk;
using testing_support::ReportElement;

namespace fs = std::filesystem;
using testing_support::ProcessOptions;
using testing_support::ProcessResult;
using testing_support::ScriptedServer;
using testing_support::SlotTag;
using testing_support::TempDir;
using Script = ScriptedServer::Script;

constexpr const char* kLoopPath = "/products/IDR641.loop.shtml";
constexpr const char* kFeedPath = "/ses/sysinfo.json";
constexpr const char* kMovedPagePath = "/products/moved.shtml";
constexpr const char* kReport = "e!vesk.xml";
// Where the scenarios that fetch the map layers find them, and what each
// host serves there.
constexpr const char* kLayerPath = "/layers/";
const std::string kLayerBody = testing_support::OneColourPng(8, 8, 0x80402080);
constexpr const char* kOldNewest = "/radar/IDR641.T.202407222140.png";
// The frame entry that stands in for "a frame": one in the middle of the
// loop, so that a failure there leaves some frames new and some old.
constexpr int kHostileEntry = 3;
constexpr int kReadTimeoutMs = 500;
constexpr int kDeadlineSeconds = 3;
// The hostile streams announce or carry 10 GiB, a MiB at a time; the hosts
// stop once the client hangs up, a few MiB past its 256 MiB limit at most.
constexpr std::uint64_t kMiB = 1024 * 1024;
constexpr std::uint64_t kTenGiB = 10240 * kMiB;

std::string FrameAddress(int n) {
  return "/radar/IDR641.T.20240722215" + std::to_string(n) + ".png";
}

// Frame bytes with zero bytes, CR LF and bytes above 127, distinct per entry.
std::string FrameBytes(int n) {
  std::string bytes("\x89PNG\r\n\x1a\n", 8);
  bytes += std::string(1, '\0') + "new frame " + std::to_string(n) + "\r\n\xff\xfe";
  bytes.append(2000 + 100 * static_cast<std::size_t>(n), static_cast<char>('a' + n));
  return bytes;
}

std::string LoopPage() {
  std::string page = "<html><body><script>\n  var theImageNames = new Array();\n";
  for (int n = 0; n < 7; ++n) {
    page += "  theImageNames[" + std::to_string(n) + "] = \"" + FrameAddress(n) + "\";\n";
  }
  return page + "</script></body></html>\n";
}

// The loop page with the address of one entry replaced.
std::string PageWith(int entry, const std::string& address) {
  std::string page = LoopPage();
  const std::string old = "\"" + FrameAddress(entry) + "\"";
  return page.replace(page.find(old), old.size(), "\"" + address + "\"");
}

const std::string kFeedBody = R"({"currentTemp":"21.5","currentWind":"NW 12","updated":"now"})";

std::string Redirect(const std::string& location) {
  return HttpHead("302 Found", "Location: " + location + "\r\nContent-Length: 5\r\n") + "moved";
}

// A body in the chunked coding, cut into pieces of at most piece bytes,
// ending with the last chunk unless told otherwise.
std::string Chunked(const std::string& body, std::size_t piece, bool last_chunk = true,
                    const std::string& line_end = "\r\n") {
  std::string coded;
  for (std::size_t offset = 0; offset < body.size(); offset += piece) {
    const std::size_t size = std::min(piece, body.size() - offset);
    char line[32];
    std::snprintf(line, sizeof line, "%zx", size);
    coded += line + line_end + body.substr(offset, size) + line_end;
  }
  if (last_chunk) coded += "0" + line_end + line_end;
  return coded;
}

std::string Half(const std::string& body) { return body.substr(0, body.size() / 2); }

// A literal with its zero bytes.
template <std::size_t N>
std::string Bytes(const char (&text)[N]) {
  return std::string(text, N - 1);
}

// Where the hosts listen, known once every server is up.
struct Ports {
  std::atomic<int> radar{0};
  std::atomic<int> publish{0};
  std::atomic<int> other{0};
};

std::string UrlAt(int port, const std::string& path) {
  return "http://127.0.0.1:" + std::to_string(port) + path;
}

// The text with each "{other}" replaced by the other host's port: for pages
// and settings that name that host.
std::string AtOther(std::string text, int other_port) {
  const std::string mark = "{other}";
  for (std::size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at))
    text.replace(at, mark.size(), std::to_string(other_port));
  return text;
}

// Builds the steps that follow a request head.
using Answer = std::function<Script(const Ports&)>;

Answer Sends(std::string bytes) {
  return [bytes](const Ports&) { return Script{ScriptedServer::Send(bytes)}; };
}
Answer Plays(Script script) {
  return [script](const Ports&) { return script; };
}

enum class Target { kLoopPage, kFrame, kFeed };

struct Scenario {
  std::string name;
  Target target;
  // The answer to the target's request.
  Answer answer;
  // The class of the reported error; empty when the run succeeds.
  std::string report_class;
  // Other paths the hosts answer, each on every host.
  std::map<std::string, Answer> routes;
  // More checks on what the hosts saw.
  std::function<void(const ScriptedServer& radar, const ScriptedServer& other)> check;
  int deadline_seconds = kDeadlineSeconds;
  // Changes the program directory before the run.
  std::function<void(const TempDir& program)> prepare;
  // More checks on the run's output.
  std::function<void(const ProcessResult& result)> check_output;
  // The loop page the radar host serves, when not LoopPage().
  std::string page;
  // Part of the reported message, when it matters.
  std::string report_message;
  // More settings of the run, and the longest it may take (0: no bound).
  std::map<std::string, std::string> environment;
  int max_run_seconds = 0;
  // A step every host plays after each of its answers (a close, say).
  std::optional<ScriptedServer::Step> after_each_answer;
  // The radar host behind TLS, and runs made one after the other, each of
  // them fetching the whole loop.
  bool tls = false;
  int runs = 1;
};

void PrintTo(const Scenario& scenario, std::ostream* out) { *out << scenario.name; }

std::string TargetPath(Target target) {
  switch (target) {
    case Target::kLoopPage:
      return kLoopPath;
    case Target::kFrame:
      return FrameAddress(kHostileEntry);
    case Target::kFeed:
      return kFeedPath;
  }
  return "";
}

// Every request target the server saw.
std::vector<std::string> Targets(const ScriptedServer& server) {
  std::vector<std::string> targets;
  for (const std::string& head : server.RequestHeads())
    targets.push_back(ScriptedServer::RequestTarget(head));
  return targets;
}

// The values of every Cookie line a server received.
std::vector<std::string> CookieLines(const ScriptedServer& server) {
  std::vector<std::string> lines;
  for (const std::string& head : server.RequestHeads()) {
    for (std::size_t at = head.find("\r\nCookie: "); at != std::string::npos;
         at = head.find("\r\nCookie: ", at + 1)) {
      // A folded line goes on after CR LF and a blank.
      std::size_t end = at + 2;
      do {
        end = head.find("\r\n", end + 1);
      } while (end != std::string::npos && end + 2 < head.size() && head[end + 2] == ' ');
      lines.push_back(head.substr(at + 2, end - at - 2));
    }
  }
  return lines;
}

// A header line with its folds (CR LF and a blank) joined again.
std::string Unfolded(std::string line) {
  for (std::size_t at = line.find("\r\n "); at != std::string::npos; at = line.find("\r\n ", at))
    line.erase(at, 2);
  return line;
}

bool HasControlByte(const std::string& text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7f;
  });
}

std::vector<Scenario> Scenarios() {
  const std::string page = LoopPage();
  const std::string frame = FrameBytes(kHostileEntry);
  std::vector<Scenario> all;
  auto add = [&all](std::string name, Target target, Answer answer, std::string report_class) {
    Scenario scenario;
    scenario.name = std::move(name);
    scenario.target = target;
    scenario.answer = std::move(answer);
    scenario.report_class = std::move(report_class);
    all.push_back(std::move(scenario));
    return &all.back();
  };
  const Target L = Target::kLoopPage;
  const Target F = Target::kFrame;
  const Target S = Target::kFeed;
  // The run succeeds: no report.
  const std::string ok;

  // Stalls, resets and closes.
  add("LoopPage_StallBeforeHead", L, Plays({ScriptedServer::Wait(20000)}), "EIdReadTimeout");
  add("LoopPage_StallInsideHead", L,
      Plays({ScriptedServer::Send("HTTP/1.1 200 OK\r\nContent-Le"), ScriptedServer::Wait(20000)}),
      "EIdReadTimeout");
  add("LoopPage_StallMidBody", L,
      Plays({ScriptedServer::Send(
                 HttpHead("200 OK", "Content-Length: " + std::to_string(page.size()) + "\r\n") +
                 Half(page)),
             ScriptedServer::Wait(20000)}),
      "EIdReadTimeout");
  add("Frame_StallMidBody", F,
      Plays({ScriptedServer::Send(HttpHead("200 OK", "Content-Length: 5000\r\n") + Half(frame)),
             ScriptedServer::Wait(20000)}),
      "EIdReadTimeout");
  add("Feed_StallBeforeHead", S, Plays({ScriptedServer::Wait(20000)}), "EIdReadTimeout");
  // One byte every 150 ms never trips the read time-out; the request
  // deadline ends it.
  add("Frame_TrickleBeyondTheDeadline", F, Plays({ScriptedServer::Trickle(HttpOk(frame), 1, 150)}),
      "EIdReadTimeout");
  add("LoopPage_ResetBeforeHead", L, Plays({ScriptedServer::Reset()}), "EIdSocketError");
  add("Frame_ResetMidBody", F,
      Plays({ScriptedServer::Send(HttpHead("200 OK", "Content-Length: 5000\r\n") + Half(frame)),
             ScriptedServer::Wait(100), ScriptedServer::Reset()}),
      "EIdSocketError");
  add("Feed_ResetMidBody", S,
      Plays({ScriptedServer::Send(HttpHead("200 OK", "Content-Length: 500\r\n") + Half(kFeedBody)),
             ScriptedServer::Wait(100), ScriptedServer::Reset()}),
      "EIdSocketError");
  add("LoopPage_ClosedWithoutAnswer", L, Plays({ScriptedServer::Close()}),
      "EIdConnClosedGracefully");
  // A TLS port's alert to the plain request, with no line end to wait for.
  add("LoopPage_AnswerIsTls", L,
      Plays({ScriptedServer::Send(std::string("\x15\x03\x01\0\2\2\x46", 7)),
             ScriptedServer::Wait(20000)}),
      "EIdException");
  add("LoopPage_HeadCutByClose", L,
      Plays({ScriptedServer::Send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n"),
             ScriptedServer::Close()}),
      "EIdException");

  // Bodies that end too early, twice or never.
  add("LoopPage_TruncatedContentLength", L,
      Plays({ScriptedServer::Send(
                 HttpHead("200 OK", "Content-Length: " + std::to_string(page.size()) + "\r\n") +
                 Half(page)),
             ScriptedServer::Close()}),
      "EIdConnClosedGracefully");
  add("Frame_TruncatedContentLength", F,
      Plays({ScriptedServer::Send(
                 HttpHead("200 OK", "Content-Length: " + std::to_string(frame.size()) + "\r\n") +
                 Half(frame)),
             ScriptedServer::Close()}),
      "EIdConnClosedGracefully");
  add("Feed_TruncatedContentLength", S,
      Plays({ScriptedServer::Send(HttpHead("200 OK", "Content-Length: 100\r\n") + kFeedBody),
             ScriptedServer::Close()}),
      "EIdConnClosedGracefully");
  add("Frame_DuplicateEqualContentLength", F,
      Sends(HttpHead("200 OK", "Content-Length: " + std::to_string(frame.size()) +
                                   "\r\nContent-Length: " + std::to_string(frame.size()) + "\r\n") +
            frame),
      ok);
  add("Frame_ConflictingContentLength", F,
      Sends(HttpHead("200 OK", "Content-Length: 100\r\nContent-Length: " +
                                   std::to_string(frame.size()) + "\r\n") +
            frame),
      "EIdException");
  add("LoopPage_ConflictingContentLengthList", L,
      Sends(HttpHead("200 OK", "Content-Length: " + std::to_string(page.size()) + ", 20\r\n") +
            page),
      "EIdException");
  // A negative length counts as none: the body runs to the close.
  add("Frame_NegativeContentLength", F,
      Plays({ScriptedServer::Send(HttpHead("200 OK", "Content-Length: -1\r\n") + frame),
             ScriptedServer::Close()}),
      ok);
  add("Frame_ContentLengthPast64Bits", F,
      Plays({ScriptedServer::Send(
                 HttpHead("200 OK", "Content-Length: 99999999999999999999999\r\n") + frame),
             ScriptedServer::Close()}),
      "EIdException");
  // 10 GiB announced and streamed; the client refuses at once and hangs
  // up, which ends the stream after a few MiB.
  add("Frame_Declared10GiBBody", F,
      Plays({ScriptedServer::Send(
                 HttpHead("200 OK", "Content-Length: " + std::to_string(kTenGiB) + "\r\n")),
             ScriptedServer::Repeat(std::string(kMiB, 'x'), kTenGiB / kMiB)}),
      "EIdException");
  // Frames past the frame limit: by their length before the body is read,
  // chunked as they grow past it.
  add("Frame_LengthPastTheFrameLimit", F,
      Plays({ScriptedServer::Send(HttpHead("200 OK", "Content-Length: 16777217\r\n")),
             ScriptedServer::Repeat(std::string(kMiB, 'x'), 17)}),
      "EIdException")
      ->report_message = "Response body exceeds 16777216 bytes";
  {
    Scenario* scenario =
        add("Frame_ChunkedPastASmallFrameLimit", F,
            Plays({ScriptedServer::Send(HttpHead("200 OK", "Transfer-Encoding: chunked\r\n")),
                   ScriptedServer::Repeat("400\r\n" + std::string(1024, 'x') + "\r\n", 1024)}),
            "EIdException");
    scenario->environment["VESK_MAX_FRAME_BYTES"] = "8192";
    scenario->report_message = "Response body exceeds 8192 bytes";
  }
  add("LoopPage_Chunked10GiBStream", L,
      Plays(
          {ScriptedServer::Send(HttpHead("200 OK", "Transfer-Encoding: chunked\r\n")),
           ScriptedServer::Repeat("100000\r\n" + std::string(kMiB, 'x') + "\r\n", kTenGiB / kMiB)}),
      "EIdException")
      ->deadline_seconds = 30;
  add("Feed_UntilClose10GiBStream", S,
      Plays({ScriptedServer::Send(HttpHead("200 OK", "Connection: close\r\n")),
             ScriptedServer::Repeat(std::string(kMiB, 'x'), kTenGiB / kMiB)}),
      "EIdException")
      ->deadline_seconds = 30;
  add("Frame_ChunkSizeOverflow", F,
      Plays({ScriptedServer::Send(HttpHead("200 OK", "Transfer-Encoding: chunked\r\n") +
                                  "ffffffffffffffff\r\n" + frame),
             ScriptedServer::Close()}),
      "EIdException");
  add("Frame_Single10GiBChunk", F,
      Plays({ScriptedServer::Send(HttpHead("200 OK", "Transfer-Encoding: chunked\r\n") +
                                  "280000000\r\n"),
             ScriptedServer::Repeat(std::string(kMiB, 'x'), kTenGiB / kMiB)}),
      "EIdException");
  add("LoopPage_ChunkedWithoutLastChunkThenClose", L,
      Plays({ScriptedServer::Send(HttpHead("200 OK", "Transfer-Encoding: chunked\r\n") +
                                  Chunked(page, 100, false)),
             ScriptedServer::Close()}),
      "EIdConnClosedGracefully");
  add("Frame_ChunkedWithoutLastChunkThenStall", F,
      Plays({ScriptedServer::Send(HttpHead("200 OK", "Transfer-Encoding: chunked\r\n") +
                                  Chunked(frame, 700, false)),
             ScriptedServer::Wait(20000)}),
      "EIdReadTimeout");
  add("Frame_ChunkedWithExtensionsAndTrailer", F,
      Sends(HttpHead("200 OK", "Transfer-Encoding: chunked\r\n") + "10 ; name=value\r\n" +
            frame.substr(0, 16) + "\r\n" + Chunked(frame.substr(16), 333, false) +
            "0\r\nX-Trailer: yes\r\n\r\n"),
      ok);
  add("Frame_LengthAndChunkedTogether", F,
      Sends(HttpHead("200 OK", "Content-Length: 20\r\nTransfer-Encoding: chunked\r\n") +
            Chunked(frame, 500)),
      "EIdException");
  add("Frame_SurplusBytesAfterTheBody", F, Sends(HttpOk(frame) + "HTTP/1.1 200 OK\r\n\r\nstray"),
      ok);

  // Line ends and head lines of odd forms.
  add("LoopPage_BareLineFeeds", L,
      Sends("HTTP/1.1 200 OK\nContent-Length: " + std::to_string(page.size()) + "\n\n" + page), ok);
  add("Frame_BareLineFeedsChunked", F,
      Sends("HTTP/1.1 200 OK\nTransfer-Encoding: chunked\n\n" + Chunked(frame, 1000, true, "\n")),
      ok);
  add("LoopPage_HeaderLineWithoutColon", L,
      Sends(HttpOk(page, "this line has no colon\r\nX-Fine: yes\r\n")), ok);
  // Without its colon the length is no length: the body runs to the close.
  add("Frame_ContentLengthWithoutColon", F,
      Plays({ScriptedServer::Send(HttpHead("200 OK", "Content-Length 20\r\n") + frame),
             ScriptedServer::Close()}),
      ok);
  add("LoopPage_ContinuationLines", L,
      Sends(HttpOk(page, " leading continuation\r\nX-Folded: one\r\n two\r\n\tthree\r\n")), ok);
  add("Frame_ContentLengthOnAContinuationLine", F,
      Sends(HttpHead("200 OK", "Content-Length:\r\n " + std::to_string(frame.size()) + "\r\n") +
            frame),
      ok);
  add("LoopPage_NulBytesInHeaders", L,
      Sends(HttpOk(page, Bytes("X-Zero: a\0b\r\nX-\0Name: v\r\n"))), ok);
  add("LoopPage_NulByteInStatusLine", L,
      Sends(Bytes("HTTP/1.1 200\0 OK\r\nContent-Length: 2\r\n\r\nok")), "EIdHTTPProtocolException");

  // Status lines of every odd form.
  add("LoopPage_Http10StatusLine", L,
      Sends("HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(page.size()) + "\r\n\r\n" +
            page),
      ok);
  add("LoopPage_StatusLineWithoutReason", L,
      Sends("HTTP/1.1 200\r\nContent-Length: " + std::to_string(page.size()) + "\r\n\r\n" + page),
      ok);
  add("LoopPage_Status99", L, Sends("HTTP/1.1 99 Odd\r\nContent-Length: 2\r\n\r\nno"),
      "EIdHTTPProtocolException");
  add("LoopPage_GarbageStatusLine", L,
      Plays({ScriptedServer::Send("\x16\x01\x01 not a status line at all\r\n\r\njunk"),
             ScriptedServer::Close()}),
      "EIdHTTPProtocolException");
  add("LoopPage_EmptyStatusLine", L, Sends("\r\nContent-Length: 0\r\n\r\n"),
      "EIdHTTPProtocolException");
  add(
      "Frame_RepeatedContinue", F,
      [frame](const Ports&) {
        std::string interim;
        for (int i = 0; i < 20; ++i) interim += "HTTP/1.1 100 Continue\r\n\r\n";
        return Script{ScriptedServer::Send(interim + HttpOk(frame))};
      },
      ok);
  add("LoopPage_ContinueFlood", L,
      Plays({ScriptedServer::Repeat("HTTP/1.1 100 Continue\r\n\r\n", 100000),
             ScriptedServer::Close()}),
      "EIdException");
  add("LoopPage_Status101", L,
      Sends(
          "HTTP/1.1 101 Switching Protocols\r\nUpgrade: something\r\nConnection: Upgrade\r\n\r\n"),
      "EIdHTTPProtocolException");
  add("LoopPage_Status103BeforeTheAnswer", L,
      Sends("HTTP/1.1 103 Early Hints\r\nLink: </style.css>; rel=preload\r\n\r\n" + HttpOk(page)),
      ok);
  add("LoopPage_Status204WithBody", L,
      Sends(HttpHead("204 No Content", "Content-Length: 5\r\n") + "hello"), "EContentError");
  add("Frame_Status204WithBody", F,
      Sends(HttpHead("204 No Content", "Content-Length: 5\r\n") + "hello"), "EContentError");
  add("LoopPage_Status304WithBody", L,
      Sends(HttpHead("304 Not Modified", "Content-Length: 5\r\n") + "hello"),
      "EIdHTTPProtocolException");
  add("Frame_EmptyBody", F, Sends(HttpOk("")), "EContentError");
  add("Frame_NotFound", F, Sends(HttpHead("404 Not Found", "Content-Length: 9\r\n") + "not here!"),
      "EIdHTTPProtocolException");
  // The error page stalls: its read time-out (2 s) is longer than the run's
  // own, and the stall replaces the protocol error.
  add("Feed_ServerErrorWithStalledBody", S,
      Plays({ScriptedServer::Send(HttpHead("500 Internal Server Error", "Content-Length: 100\r\n") +
                                  "partial"),
             ScriptedServer::Wait(20000)}),
      "EIdReadTimeout");
  add("Feed_BareLineFeeds", S,
      Sends("HTTP/1.1 200 OK\nContent-Length: " + std::to_string(kFeedBody.size()) + "\n\n" +
            kFeedBody),
      ok);

  // Redirects.
  add("LoopPage_RedirectLoop", L, Sends(Redirect(kLoopPath)), "EIdHTTPProtocolException");
  add("LoopPage_RedirectPingPong", L, Sends(Redirect("/products/other.shtml")),
      "EIdHTTPProtocolException")
      ->routes["/products/other.shtml"] = Sends(Redirect(kLoopPath));
  {
    Scenario* scenario = add(
        "LoopPage_RedirectToAnotherPort", L,
        [](const Ports& ports) {
          return Script{ScriptedServer::Send(Redirect(UrlAt(ports.other.load(), kLoopPath)))};
        },
        ok);
    scenario->check = [](const ScriptedServer& radar, const ScriptedServer& other) {
      // The frames come from where the page came from.
      EXPECT_EQ(Targets(radar), std::vector<std::string>{kLoopPath});
      std::vector<std::string> expected = {kLoopPath};
      for (int n = 0; n < 7; ++n) expected.push_back(FrameAddress(n));
      EXPECT_EQ(Targets(other), expected);
      const std::string head = other.RequestHeads().at(0);
      EXPECT_NE(head.find("\r\nHost: 127.0.0.1:" + std::to_string(other.Port()) + "\r\n"),
                std::string::npos)
          << head;
    };
  }
  {
    Scenario* scenario = add("LoopPage_RedirectThroughDotDotPath", L,
                             Sends(Redirect("../radar/../products/moved.shtml")), ok);
    scenario->routes[kMovedPagePath] = Sends(HttpOk(page));
    scenario->check = [](const ScriptedServer& radar, const ScriptedServer&) {
      EXPECT_EQ(Targets(radar).at(1), kMovedPagePath);
    };
  }
  {
    Scenario* scenario = add("LoopPage_RedirectAboveTheRoot", L,
                             Sends(Redirect("../../../../../products/moved.shtml")), ok);
    scenario->routes[kMovedPagePath] = Sends(HttpOk(page));
    scenario->check = [](const ScriptedServer& radar, const ScriptedServer&) {
      EXPECT_EQ(Targets(radar).at(1), kMovedPagePath);
    };
  }
  // The redirect is followed, and the plain host, waiting for a request,
  // stalls the handshake until the read time-out.
  add(
      "LoopPage_RedirectToHttpsOnAPlainHost", L,
      [](const Ports& ports) {
        return Script{ScriptedServer::Send(
            Redirect("https://127.0.0.1:" + std::to_string(ports.radar.load()) + kLoopPath))};
      },
      "EIdReadTimeout");
  add("LoopPage_RedirectWithoutLocation", L, Sends(HttpHead("302 Found", "Content-Length: 0\r\n")),
      "EIdHTTPProtocolException");
  add("Frame_RedirectToAMirror", F, Sends(Redirect("/mirror/frame3.png")), ok)
      ->routes["/mirror/frame3.png"] = Sends(HttpOk(frame));
  {
    // The newest frame, fetched last, moves the client to another host; the
    // map layers still come from the configured radar host.
    Scenario* scenario =
        add("Frame_NewestOnAnotherHostLayersFromTheRadarHost", L, Sends(HttpOk(page)), ok);
    scenario->routes[FrameAddress(6)] = [](const Ports& ports) {
      return Script{ScriptedServer::Send(Redirect(UrlAt(ports.other.load(), "/mirror/6.png")))};
    };
    scenario->routes["/mirror/6.png"] = Sends(HttpOk(FrameBytes(6)));
    for (const char* layer : {"background", "topography", "locations", "range"})
      scenario->routes[kLayerPath + std::string("IDR641.") + layer + ".png"] =
          Sends(HttpOk(kLayerBody));
    scenario->environment["VESK_LAYER_PATH"] = kLayerPath;
    scenario->environment["VESK_FRAME_HOSTS"] = "127.0.0.1:{other}";
    scenario->check = [](const ScriptedServer& radar, const ScriptedServer& other) {
      std::vector<std::string> expected = {kLoopPath};
      for (int n = 0; n < 7; ++n) expected.push_back(FrameAddress(n));
      for (const char* layer : {"background", "topography", "locations", "range"})
        expected.push_back(kLayerPath + std::string("IDR641.") + layer + ".png");
      EXPECT_EQ(Targets(radar), expected);
      EXPECT_EQ(Targets(other), std::vector<std::string>{"/mirror/6.png"});
    };
  }
  {
    // Without FrameHosts, a frame's redirect to another host is refused.
    Scenario* scenario = add(
        "Frame_RedirectToAnotherHost", F,
        [](const Ports& ports) {
          return Script{ScriptedServer::Send(Redirect(UrlAt(ports.other.load(), "/mirror/3.png")))};
        },
        "EIdHTTPProtocolException");
    scenario->report_message = "Frame address on another host refused: http://127.0.0.1:";
    scenario->check = [](const ScriptedServer&, const ScriptedServer& other) {
      EXPECT_EQ(other.Accepted(), 0);
    };
  }
  add(
      "Feed_RedirectToTheRadarHost", S,
      [](const Ports& ports) {
        return Script{ScriptedServer::Send(Redirect(UrlAt(ports.radar.load(), kFeedPath)))};
      },
      ok);

  // Connections that go stale between requests.
  {
    Scenario* scenario = add("LoopPage_StaleKeptAliveConnection", L,
                             Plays({ScriptedServer::SendAndClose(HttpOk(page))}), ok);
    scenario->check = [](const ScriptedServer& radar, const ScriptedServer&) {
      EXPECT_GE(radar.Accepted(), 2);
    };
  }
  // Hosts that close every connection just after its answer, without
  // "Connection: close": each later request on it races the close.
  // Over TLS only the close: a reset there can overtake the answer itself.
  for (bool tls : {false, true}) {
    for (bool reset : {false, true}) {
      if (tls && reset) continue;
      const std::string name = std::string(tls ? "AllHosts_Tls" : "AllHosts_") +
                               (reset ? "ResetAfterEachAnswer" : "CloseAfterEachAnswer");
      Scenario* scenario = add(name, L, Sends(HttpOk(page)), ok);
      scenario->after_each_answer = reset ? ScriptedServer::Reset() : ScriptedServer::Close();
      scenario->tls = tls;
      scenario->runs = 10;
      scenario->check = [](const ScriptedServer& radar, const ScriptedServer&) {
        EXPECT_EQ(radar.Accepted(), 10 * 8);
      };
    }
  }
  add("LoopPage_Http10AnswerThenClose", L,
      Plays({ScriptedServer::SendAndClose("HTTP/1.0 200 OK\r\nContent-Length: " +
                                          std::to_string(page.size()) + "\r\n\r\n" + page)}),
      ok);

  // Heads far too large.
  add(
      "LoopPage_TenThousandHeaderLines", L,
      [page](const Ports&) {
        std::string headers;
        for (int i = 0; i < 10000; ++i) headers += "X-Line-" + std::to_string(i) + ": v\r\n";
        return Script{ScriptedServer::Send(HttpOk(page, headers))};
      },
      "EIdException");
  add("Frame_OverlongHeaderLine", F,
      Sends(HttpOk(frame, "X-Long: " + std::string(20000, 'v') + "\r\n")),
      "EIdReadLnMaxLineLengthExceeded");

  // Cookies of every odd kind; none may break the run or come back with
  // control bytes in it.
  {
    std::string cookies =
        "Set-Cookie: good=1; Path=/\r\n"
        "Set-Cookie: novalue\r\n"
        "Set-Cookie: =nameless\r\n"
        "Set-Cookie: big=" +
        std::string(5000, 'b') +
        "\r\n"
        "Set-Cookie: elsewhere=1; Domain=other.example; Path=/\r\n"
        "Set-Cookie: badexpiry=1; Expires=someday never; Path=/\r\n"
        "Set-Cookie: negative=1; Max-Age=-1; Path=/\r\n"
        "Set-Cookie: forever=1; Max-Age=99999999999999999999; Path=/\r\n"
        "Set-Cookie: relative=1; Path=no-slash\r\n"
        "Set-Cookie: secure=1; Secure; Path=/\r\n"
        "Set-Cookie: ;;;;\r\n"
        "Set-Cookie: cr=a\rInjected: yes; Path=/\r\n"
        "Set-Cookie: del=a\x7f; Path=/\r\n"
        "Set-cookie2: old=style; Version=1\r\n";
    cookies += Bytes("Set-Cookie: nul=a\0b; Path=/\r\n");
    Scenario* scenario = add("LoopPage_CookieOddities", L, Sends(HttpOk(page, cookies)), ok);
    scenario->check = [](const ScriptedServer& radar, const ScriptedServer&) {
      const std::vector<std::string> lines = CookieLines(radar);
      ASSERT_EQ(lines.size(), 7u);
      for (const std::string& folded : lines) {
        const std::string line = Unfolded(folded);
        EXPECT_FALSE(HasControlByte(line)) << line;
        EXPECT_NE(line.find("good=1"), std::string::npos) << line;
        EXPECT_NE(line.find("badexpiry=1"), std::string::npos) << line;
        EXPECT_NE(line.find("forever=1"), std::string::npos) << line;
        EXPECT_EQ(line.find("secure="), std::string::npos) << line;
        EXPECT_EQ(line.find("elsewhere="), std::string::npos) << line;
        EXPECT_EQ(line.find("negative="), std::string::npos) << line;
      }
    };
  }
  {
    Scenario* scenario = add(
        "Frame_CookieFlood", F,
        [frame](const Ports&) {
          std::string cookies;
          for (int i = 0; i < 900; ++i)
            cookies += "Set-Cookie: c" + std::to_string(i) + "=" + std::string(1000, 'v') + "\r\n";
          return Script{ScriptedServer::Send(HttpOk(frame, cookies))};
        },
        ok);
    scenario->check = [](const ScriptedServer& radar, const ScriptedServer&) {
      // The store keeps a bounded number of them.
      const std::vector<std::string> lines = CookieLines(radar);
      ASSERT_EQ(lines.size(), 3u);
      EXPECT_LT(lines.back().size(), 70u * 1010u);
      for (const std::string& line : lines) {
        EXPECT_LE(line.size(), 8192u);
        EXPECT_EQ(line.find("\r\n"), std::string::npos);
        EXPECT_NE(line.find("c899="), std::string::npos);
      }
    };
  }
  // Addresses that would smuggle a request, lead off the web, or to a port
  // nobody named.
  auto targets_are = [](std::vector<std::string> expected) {
    return [expected](const ScriptedServer& radar, const ScriptedServer& other) {
      EXPECT_EQ(Targets(radar), expected);
      EXPECT_EQ(other.Accepted(), 0);
    };
  };
  std::vector<std::string> page_and_three_frames = {kLoopPath};
  for (int n = 0; n < kHostileEntry; ++n) page_and_three_frames.push_back(FrameAddress(n));
  const struct {
    const char* name;
    std::string address;
    std::string message;
  } kBadFrameAddresses[] = {
      {"LoopPage_FrameAddressWithCrLf", "/radar/a\r\nGET /smuggled HTTP/1.1\r\nX: y.png",
       R"(Control byte 0x0D in the address "/radar/a\x0D\x0AGET /smuggled HTTP/1.1\x0D\x0AX: y.png")"},
      {"LoopPage_FrameAddressWithNul", Bytes("/radar/a\0b.png"),
       R"(Control byte 0x00 in the address "/radar/a\x00b.png")"},
  };
  for (const auto& bad : kBadFrameAddresses) {
    const std::string hostile_page = PageWith(kHostileEntry, bad.address);
    Scenario* scenario = add(bad.name, L, Sends(HttpOk(hostile_page)), "EIdException");
    scenario->page = hostile_page;
    scenario->report_message = bad.message;
    scenario->check = targets_are(page_and_three_frames);
  }
  {
    const std::string spaced_page = PageWith(kHostileEntry, "/radar/new frame\xc3\xa9.png");
    Scenario* scenario =
        add("LoopPage_FrameAddressWithSpaceAndHighByte", L, Sends(HttpOk(spaced_page)), ok);
    scenario->page = spaced_page;
    scenario->routes["/radar/new%20frame%C3%A9.png"] = Sends(HttpOk(frame));
    scenario->check = [](const ScriptedServer& radar, const ScriptedServer&) {
      EXPECT_EQ(Targets(radar).at(kHostileEntry + 1), "/radar/new%20frame%C3%A9.png");
    };
  }
  // Frames only from the host that served the page, or from one FrameHosts
  // names; a refused one is never requested.
  {
    const std::string foreign =
        PageWith(kHostileEntry, "http://127.0.0.1:{other}" + FrameAddress(kHostileEntry));
    auto served = [foreign](const Ports& ports) {
      return Script{ScriptedServer::Send(HttpOk(AtOther(foreign, ports.other.load())))};
    };
    Scenario* refused = add("LoopPage_FrameOnAnotherPort", L, served, "EIdHTTPProtocolException");
    refused->page = foreign;
    refused->report_message = "Frame address on another host refused: http://127.0.0.1:";
    refused->check = targets_are(page_and_three_frames);
    refused->check_output = [](const ProcessResult& result) {
      EXPECT_NE(result.out.find("FrameHosts may name further hosts"), std::string::npos);
    };
    Scenario* allowed = add("LoopPage_FrameOnAHostFrameHostsNames", L, served, ok);
    allowed->page = foreign;
    allowed->environment["VESK_FRAME_HOSTS"] = "cdn.invalid, 127.0.0.1:{other}";
    allowed->check = [](const ScriptedServer&, const ScriptedServer& other) {
      EXPECT_EQ(Targets(other), std::vector<std::string>{FrameAddress(kHostileEntry)});
    };
  }
  // Text from the page reaches the console escaped: no line of its own, no
  // terminal sequence.
  {
    const std::string raw = PageWith(kHostileEntry, "/radar/x\x1B[2J\x85.png\rSummary: forged");
    Scenario* scenario =
        add("LoopPage_FrameAddressForgesAConsoleLine", L, Sends(HttpOk(raw)), "EIdException");
    scenario->page = raw;
    scenario->check_output = [](const ProcessResult& result) {
      int summaries = 0;
      for (const std::string& line : result.OutLines()) {
        summaries += line.starts_with("Summary:") ? 1 : 0;
        EXPECT_FALSE(HasControlByte(line)) << line;
      }
      EXPECT_EQ(summaries, 1) << result.out;
      EXPECT_NE(result.out.find(R"(sImageURI=/radar/x\x1B[2J\x85.png\x0DSummary: forged)"),
                std::string::npos)
          << result.out;
    };
  }
  const struct {
    const char* name;
    std::string location;
    std::string report_class;
    std::string message;
  } kBadLocations[] = {
      {"LoopPage_LocationWithCrAndInjectedLine", "/products/moved.shtml\rInjected: yes",
       "EIdException",
       R"(Control byte 0x0D in the address "/products/moved.shtml\x0DInjected: yes")"},
      {"LoopPage_LocationWithNul", Bytes("/products/moved\0.shtml"), "EIdException",
       R"(Control byte 0x00 in the address "/products/moved\x00.shtml")"},
      {"LoopPage_RedirectToFile", "file:///etc/passwd", "EIdUnknownProtocol",
       R"(Scheme "file" not supported: file:///etc/passwd)"},
      {"LoopPage_RedirectToData", "data:text/plain,hello", "EIdUnknownProtocol",
       R"(Scheme "data" not supported: data:text/plain,hello)"},
      // Port 80 of 127.0.0.1, where nothing listens in a test: the port of
      // the page's host would have answered.
      {"LoopPage_RedirectWithoutPort", std::string("http://127.0.0.1") + kLoopPath,
       "EIdConnectException", "Connection refused"},
  };
  for (const auto& bad : kBadLocations) {
    Scenario* scenario = add(bad.name, L, Sends(Redirect(bad.location)), bad.report_class);
    scenario->report_message = bad.message;
    scenario->check = targets_are({kLoopPath});
  }
  {
    Scenario* scenario = add(
        "LoopPage_RedirectToFtp", L,
        [](const Ports& ports) {
          return Script{ScriptedServer::Send(
              Redirect("ftp://127.0.0.1:" + std::to_string(ports.other.load()) + "/products/x"))};
        },
        "EIdUnknownProtocol");
    scenario->report_message = R"(Scheme "ftp" not supported: ftp://127.0.0.1:)";
    scenario->check = targets_are({kLoopPath});
  }
  {
    Scenario* scenario =
        add("LoopPage_LocationWithSpace", L, Sends(Redirect("/products/moved page.shtml")), ok);
    scenario->routes["/products/moved%20page.shtml"] = Sends(HttpOk(page));
    scenario->check = [](const ScriptedServer& radar, const ScriptedServer&) {
      EXPECT_EQ(Targets(radar).at(1), "/products/moved%20page.shtml");
    };
  }
  {
    Scenario* scenario = add(
        "LoopPage_CookieExpiresInYears9999And0100", L,
        Sends(HttpOk(page,
                     "Set-Cookie: far=1; Expires=Fri, 31 Dec 9999 23:59:59 GMT; Path=/\r\n"
                     "Set-Cookie: ancient=1; Expires=Fri, 01 Jan 0100 00:00:00 GMT; Path=/\r\n")),
        ok);
    scenario->check = [](const ScriptedServer& radar, const ScriptedServer&) {
      const std::vector<std::string> lines = CookieLines(radar);
      ASSERT_EQ(lines.size(), 7u);
      for (const std::string& line : lines) EXPECT_EQ(line, "Cookie: far=1");
    };
  }
  {
    // Each answer comes just inside the request deadline, but the run's own
    // deadline ends the run long before nine of them are through.
    auto slow = [](const std::string& bytes) {
      return Plays({ScriptedServer::Trickle(bytes, bytes.size() / 16 + 1, 150)});
    };
    Scenario* scenario = add("AllHosts_EachAnswerJustInsideTheRequestDeadline", L,
                             slow(HttpOk(page)), "EIdReadTimeout");
    for (int n = 0; n < 7; ++n) scenario->routes[FrameAddress(n)] = slow(HttpOk(FrameBytes(n)));
    scenario->routes[kFeedPath] = slow(HttpOk(kFeedBody));
    scenario->environment["VESK_RUN_DEADLINE"] = "5";
    scenario->report_message = "Read Timeout";
    scenario->max_run_seconds = 10;
  }

  // Failures that reach the report with bytes no XML reader takes, and a
  // failure that must not be hidden by a later one of the same run.
  add("LoopPage_StatusLineWithControlAndHighBytes", L,
      Sends(Bytes("HTTP/1.1 404 Not\x01Found\x80\xff\x1b[2J\0end\r\nContent-Length: 0\r\n\r\n")),
      "EIdHTTPProtocolException");
  {
    Scenario* scenario =
        add("LoopPage_NotFoundWhileAPageCannotBeWritten", L,
            Sends(HttpHead("404 Not Found", "Content-Length: 0\r\n")), "EIdHTTPProtocolException");
    // A directory in the page's place: renaming the new page over it fails.
    scenario->prepare = [](const TempDir& program) {
      fs::create_directory(program.File("index24.html"));
    };
    scenario->check_output = [](const ProcessResult& result) {
      const std::vector<std::string> lines = result.OutLines();
      ASSERT_FALSE(lines.empty());
      EXPECT_NE(lines.back().find("HTTP/1.1 404 Not Found (report e!vesk.xml); "),
                std::string::npos)
          << lines.back();
      EXPECT_NE(lines.back().find(
                    "1 file not written (report not written: e!vesk.xml holds an earlier failure)"),
                std::string::npos)
          << lines.back();
    };
  }
  return all;
}

// Every regular file of a directory with its bytes; links and the program
// itself are left out.
std::map<std::string, std::string> Files(const TempDir& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::directory_iterator(dir.path())) {
    if (entry.is_symlink() || !entry.is_regular_file()) continue;
    const std::string name = entry.path().filename().string();
    if (name == "vesk") continue;
    files[name] = dir.Read(name);
  }
  return files;
}

std::set<std::string> Names(const TempDir& dir) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir.path()))
    names.insert(entry.path().filename().string());
  return names;
}

// Bytes as a failure message shows them: their size and how they start.
std::string Shown(const std::string& bytes) {
  std::string start;
  for (char c : bytes.substr(0, 24)) {
    const auto byte = static_cast<unsigned char>(c);
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
    start += byte >= 0x20 && byte < 0x7f ? std::string(1, c) : std::string(escaped);
  }
  return std::to_string(bytes.size()) + " bytes \"" + start +
         (bytes.size() > 24 ? "...\" " : "\" ");
}

// Compares file contents without flooding the output with them.
#define EXPECT_SAME_BYTES(actual, expected) \
  EXPECT_TRUE((actual) == (expected)) << Shown(actual) << " instead of " << Shown(expected)

// The hosts of one run: the radar source, the publishing host and another
// host that redirects may point at, all answering by the scenario.
class Hosts {
 public:
  explicit Hosts(const Scenario& scenario)
      : scenario_(scenario),
        radar_(Route(Role::kRadar), kLifetime),
        publish_(Route(Role::kPublish), kLifetime),
        other_(Route(Role::kOther), kLifetime) {
    ports_.radar = radar_.Port();
    ports_.publish = publish_.Port();
    ports_.other = other_.Port();
    if (scenario.tls) {
      certificates_.emplace();
      radar_front_.emplace(certificates_->Server(testing_support::TestCertificates::Kind::kGood),
                           radar_.Port(), testing_support::TlsFront::Options{kLifetime, true, ""});
    }
  }

  // RadarHost as a run is given it.
  std::string RadarHost() const {
    return radar_front_ ? "https://127.0.0.1:" + std::to_string(radar_front_->Port())
                        : "127.0.0.1:" + std::to_string(radar_.Port());
  }
  // Writes the CA of the TLS front's certificate to path; false without TLS.
  bool WriteCaFile(const std::string& path) const {
    if (certificates_) certificates_->WriteCaFile(path);
    return certificates_.has_value();
  }

  const ScriptedServer& radar() const { return radar_; }
  const ScriptedServer& publish() const { return publish_; }
  const ScriptedServer& other() const { return other_; }

 private:
  enum class Role { kRadar, kPublish, kOther };

  static constexpr std::chrono::seconds kLifetime{60};

  ScriptedServer::Router Route(Role role) {
    return [this, role](const std::string& path) { return AnswerTo(role, path); };
  }

  // The hostile answer comes only from the host that serves the target;
  // the others answer that path well, as a redirect may lead there.
  Script AnswerTo(Role role, const std::string& path) const {
    Script script = PlainAnswerTo(role, path);
    if (scenario_.after_each_answer) script.push_back(*scenario_.after_each_answer);
    return script;
  }

  Script PlainAnswerTo(Role role, const std::string& path) const {
    const Role hostile = scenario_.target == Target::kFeed ? Role::kPublish : Role::kRadar;
    if (role == hostile && path == TargetPath(scenario_.target)) return scenario_.answer(ports_);
    const auto route = scenario_.routes.find(path);
    if (route != scenario_.routes.end()) return route->second(ports_);
    if (path == kLoopPath) return {ScriptedServer::Send(HttpOk(LoopPage()))};
    if (path == kFeedPath) return {ScriptedServer::Send(HttpOk(kFeedBody))};
    for (int n = 0; n < 7; ++n) {
      if (path == FrameAddress(n)) return {ScriptedServer::Send(HttpOk(FrameBytes(n)))};
    }
    return {ScriptedServer::Send(HttpHead("404 Not Found", "Content-Length: 9\r\n") + "not here!")};
  }

  const Scenario& scenario_;
  Ports ports_;
  // Last, so that they stop before the rest goes away.
  ScriptedServer radar_;
  ScriptedServer publish_;
  ScriptedServer other_;
  std::optional<testing_support::TestCertificates> certificates_;
  std::optional<testing_support::TlsFront> radar_front_;
};

// Runs take ProgramFixture's options, which set VESK_SYSLOG=off.
class HostileServerTest : public testing_support::ProgramFixture,
                          public ::testing::WithParamInterface<Scenario> {
 protected:
  HostileServerTest() : ProgramFixture(/*with_background=*/true) {}

  void SetUp() override {
    ProgramFixture::SetUp();
    // What earlier runs published: frames, archives of this slot and the
    // one before, the ring, the last page and feed.
    const time_t now = ::time(nullptr);
    for (int i = 0; i < 7; ++i) {
      program_.Write("Image" + std::to_string(i) + ".png", "old frame " + std::to_string(i));
      program_.Write("SESOverlay" + std::to_string(i) + ".bmp", "old ring " + std::to_string(i));
    }
    for (const std::string& tag : {SlotTag(now - 300), SlotTag(now)}) {
      program_.Write("Image-" + tag + ".png", "old archived frame " + tag);
      program_.Write("SESOverlay-" + tag + ".bmp", "old archived overlay " + tag);
    }
    program_.Write("LastImageURI.txt", kOldNewest);
    program_.Write("root.html", "<html>old page</html>");
    program_.Write("sysinfo.json", R"({"currentTemp":"9.0","currentWind":"S 1","updated":"old"})");
    if (GetParam().prepare) GetParam().prepare(program_);
    before_ = Files(program_);
    before_names_ = Names(program_);
  }

  ProcessResult Run(const Hosts& hosts, int deadline_seconds) {
    ProcessOptions options = RunOptions();
    options.environment["VESK_RADAR_HOST"] = hosts.RadarHost();
    if (hosts.WriteCaFile(elsewhere_.File("ca.pem")))
      options.environment["VESK_TLS_CA_FILE"] = elsewhere_.File("ca.pem");
    options.environment["VESK_PUBLISH_HOST"] =
        "127.0.0.1:" + std::to_string(hosts.publish().Port());
    options.environment["VESK_READ_TIMEOUT"] = std::to_string(kReadTimeoutMs);
    options.environment["VESK_REQUEST_DEADLINE"] = std::to_string(deadline_seconds);
    // The answers under test are the loop page's, the frames' and the feed's;
    // the one scenario about the layers turns them on again.
    options.environment["VESK_LAYER_PATH"] = "off";
    other_port_ = hosts.other().Port();
    for (const auto& [name, value] : GetParam().environment)
      options.environment[name] = AtOther(value, other_port_);
    // Every GET ends within its deadline, so a run that overruns this is
    // hanging.
    options.time_limit = std::chrono::seconds(deadline_seconds + 30);
    return testing_support::RunProcess(options);
  }

  // Each published file is as before or holds what the hosts served, and
  // the files that belong together changed together.
  void ExpectNothingLostOrPartial(const std::set<std::string>& tags, bool overlay_drawn) {
    const std::map<std::string, std::string> after = Files(program_);
    for (const auto& [name, bytes] : before_) {
      EXPECT_TRUE(after.count(name)) << name << " was lost";
    }
    const std::string newest = FrameBytes(6);
    for (const auto& [name, bytes] : after) {
      const auto old = before_.find(name);
      if (old != before_.end() && old->second == bytes) continue;
      if (name == "index.html" || name == "index24.html" || name == "loop.html" ||
          name == kReport || name == "vesk.lock") {
        continue;
      }
      if (name == "status.json") {
        EXPECT_TRUE(bytes.starts_with("{\"program\": \"VESK\"")) << bytes;
      } else if (name == "root.html") {
        EXPECT_SAME_BYTES(bytes, ServedPage()) << name;
      } else if (name == "LastImageURI.txt") {
        EXPECT_EQ(bytes, FrameAddress(6)) << name;
        // Recorded only with the whole loop on disk.
        for (int i = 0; i < 7; ++i)
          EXPECT_SAME_BYTES(after.at("Image" + std::to_string(i) + ".png"), FrameBytes(6 - i)) << i;
      } else if (name == "sysinfo.json") {
        EXPECT_EQ(bytes, kFeedBody) << name;
      } else if (name.size() == 10 && name.starts_with("Image") && name.ends_with(".png")) {
        EXPECT_SAME_BYTES(bytes, FrameBytes(6 - (name[5] - '0'))) << name;
      } else if (name.starts_with("Image-") && name.ends_with(".png")) {
        EXPECT_TRUE(tags.count(name.substr(6, 5))) << name;
        EXPECT_SAME_BYTES(bytes, newest) << name << " must hold the newest frame";
      } else if (name.starts_with("SESOverlay-") && name.ends_with(".bmp")) {
        EXPECT_TRUE(tags.count(name.substr(11, 5))) << name;
        EXPECT_TRUE(overlay_drawn) << name;
        const picture::Bitmap overlay = picture::LoadBmpFile(program_.File(name));
        const picture::Bitmap background =
            picture::LoadBmpFile(program_.File("IDR641.background.bmp"));
        EXPECT_EQ(overlay.Width(), background.Width()) << name;
        EXPECT_EQ(overlay.Height(), background.Height()) << name;
      } else if (name.starts_with("SESOverlay") && name.ends_with(".bmp")) {
        EXPECT_TRUE(overlay_drawn) << name;
      } else if (name.starts_with("IDR641.") && name.ends_with(".png")) {
        EXPECT_SAME_BYTES(bytes, kLayerBody) << name;
      } else {
        ADD_FAILURE() << name << " is new or changed and should not be";
      }
    }
    // The ring turned as a whole, its first member the one overlay drawn,
    // or not at all.
    if (overlay_drawn) {
      for (int i = 1; i < 7; ++i) {
        EXPECT_EQ(after.at("SESOverlay" + std::to_string(i) + ".bmp"),
                  before_.at("SESOverlay" + std::to_string(i - 1) + ".bmp"))
            << i;
      }
      std::vector<std::string> drawn;
      for (const auto& [name, bytes] : after) {
        const auto old = before_.find(name);
        if (name.starts_with("SESOverlay-") && (old == before_.end() || old->second != bytes))
          drawn.push_back(bytes);
      }
      ASSERT_EQ(drawn.size(), 1u);
      EXPECT_SAME_BYTES(after.at("SESOverlay0.bmp"), drawn.front());
    }
    // Nothing else, no temporary file in particular, is left behind.
    for (const std::string& name : Names(program_)) {
      const bool link = name.size() == 10 && name.starts_with("image") && name.ends_with(".png");
      const bool page = name == "index.html" || name == "index24.html" || name == "loop.html" ||
                        name == "status.json";
      // Regular files only (no directory a writer made for itself), and no
      // names the run has no business writing.
      EXPECT_TRUE(after.count(name) || link || before_names_.count(name))
          << name << " was left behind";
      EXPECT_TRUE(before_.count(name) || link || page || name == kReport || name == "vesk.lock" ||
                  name == "vesk" || name.starts_with("Image-") || name.starts_with("SESOverlay-") ||
                  (name.starts_with("IDR641.") && name.ends_with(".png")))
          << name << " was left behind";
    }
  }

  std::string ServedPage() const {
    return GetParam().page.empty() ? LoopPage() : AtOther(GetParam().page, other_port_);
  }

  int other_port_ = 0;
  std::map<std::string, std::string> before_;
  std::set<std::string> before_names_;
};

TEST_P(HostileServerTest, RunEndsCleanlyAndKeepsThePublishedFiles) {
  const Scenario& scenario = GetParam();
  const time_t start = ::time(nullptr);
  ProcessResult result;
  {
    Hosts hosts(scenario);
    // Every run but the last must end as well as the last; each starts from
    // what SetUp published, so that it fetches the whole loop again.
    for (int run = 1; run < scenario.runs; ++run) {
      result = Run(hosts, scenario.deadline_seconds);
      EXPECT_EQ(result.exit_code, 0) << "run " << run << ": " << result.err;
      EXPECT_FALSE(program_.Exists(kReport)) << "run " << run << ": " << program_.Read(kReport);
      for (const std::string& name : Names(program_))
        if (!before_names_.count(name)) fs::remove(program_.File(name));
      for (const auto& [name, bytes] : before_) program_.Write(name, bytes);
    }
    result = Run(hosts, scenario.deadline_seconds);
    if (scenario.max_run_seconds > 0) {
      EXPECT_LE(::time(nullptr) - start, scenario.max_run_seconds);
    }
    if (scenario.check) scenario.check(hosts.radar(), hosts.other());
  }
  const std::set<std::string> tags = {SlotTag(start), SlotTag(::time(nullptr))};

  ASSERT_TRUE(result.start_error.empty()) << result.start_error;
  EXPECT_FALSE(result.timed_out) << result.out;
  EXPECT_EQ(result.exit_code, 0) << result.err;
  if (scenario.check_output) scenario.check_output(result);

  const bool fails = !scenario.report_class.empty();
  const std::string report = program_.Read(kReport);
  if (fails) {
    ASSERT_TRUE(program_.Exists(kReport)) << result.out;
    EXPECT_EQ(ReportElement(report, "ClassName"), scenario.report_class) << report;
    const std::string function =
        scenario.target == Target::kFeed ? "Generate_SESOverlay:100" : "Main():100";
    EXPECT_EQ(ReportElement(report, "Function"), function) << report;
    EXPECT_EQ(ReportElement(report, "Trace"), "100") << report;
    EXPECT_NE(ReportElement(report, "e.Message").find(scenario.report_message), std::string::npos)
        << report;
    // Whatever the hosts sent, the report is well-formed XML.
    const ProcessResult parsed =
        testing_support::RunTool("/usr/bin/xmllint", {"--noout", program_.File(kReport)});
    EXPECT_EQ(parsed.exit_code, 0) << parsed.err << report;
  } else {
    EXPECT_FALSE(program_.Exists(kReport)) << report;
  }

  // A failure of the page or a frame leaves the loop to the next run; one
  // of the feed only costs the overlay.
  const bool frames_done = !fails || scenario.target == Target::kFeed;
  const bool overlay_drawn = !fails;
  EXPECT_EQ(program_.Read("LastImageURI.txt"), frames_done ? FrameAddress(6) : kOldNewest);
  if (frames_done) {
    for (int i = 0; i < 7; ++i)
      EXPECT_SAME_BYTES(program_.Read("Image" + std::to_string(i) + ".png"), FrameBytes(6 - i))
          << i;
    EXPECT_SAME_BYTES(program_.Read("root.html"), ServedPage());
  }
  EXPECT_EQ(program_.Read("sysinfo.json") == kFeedBody, overlay_drawn);
  EXPECT_EQ(program_.Read("SESOverlay1.bmp") == before_.at("SESOverlay0.bmp"), overlay_drawn);
  ExpectNothingLostOrPartial(tags, overlay_drawn);
}

INSTANTIATE_TEST_SUITE_P(Matrix, HostileServerTest, ::testing::ValuesIn(Scenarios()),
                         [](const ::testing::TestParamInfo<Scenario>& row) {
                           return row.param.name;
                         });

}  // namespace
