// The GET client against a scripted server on 127.0.0.1: the exact request
// bytes, connection reuse, redirects, error answers, broken servers, time-outs.
#include "http/TIdHTTP.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "platform/Exceptions.h"
#include "platform/HostLookup.h"
#include "support/GetFailure.h"
#include "support/ScriptedServer.h"
#include "support/TestText.h"
#include "zub32/Config.h"

namespace {

using testing_support::HttpHead;
using testing_support::HttpOk;

using http::TIdHTTP;
using testing_support::ScriptedServer;
using Script = ScriptedServer::Script;

// The browser identification both callers send: 121 characters, the last a
// double quote.
const std::string kUserAgent =
    "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/126.0.0.0 Safari/537.36 Edg/126.\"";

std::string Redirect(const std::string& location, const std::string& status = "302 Found") {
  return "HTTP/1.1 " + status + "\r\nLocation: " + location + "\r\nContent-Length: 4\r\n\r\ndrop";
}

// One request answered with the given bytes.
Script Answering(const std::string& answer) {
  return {ScriptedServer::ReadRequest(), ScriptedServer::Send(answer)};
}

// A client set up as the program's stages set theirs, aimed at the server.
void SetUpLikeTheCallers(TIdHTTP& client, const ScriptedServer& server) {
  client.SetHost("127.0.0.1");
  client.SetPort(server.Port());
  client.SetReadTimeout(5000);
  client.SetHandleRedirects(true);
  client.SetAllowCookies(true);
  client.Request().UserAgent = kUserAgent;
  client.Request().Connection = "Keep-Alive";
  client.Request().CacheControl = "no-cache";
}

// The request line of a recorded head.
std::string RequestLine(const std::string& head) { return head.substr(0, head.find("\r\n")); }

using testing_support::GetFails;
using testing_support::Raised;

// A port on 127.0.0.1 that nothing listens on: bound, then released.
std::uint16_t UnusedPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

TEST(TIdHTTPTest, RequestBytesOfTheCallersSettings) {
  ScriptedServer server({Answering(HttpOk("page")), Answering(HttpOk("x"))});
  TIdHTTP client;
  SetUpLikeTheCallers(client, server);
  EXPECT_EQ(client.Get("/products/IDR641.loop.shtml"), "page");
  ASSERT_EQ(server.RequestHeads().size(), 1u);
  EXPECT_EQ(server.RequestHeads()[0],
            "GET /products/IDR641.loop.shtml HTTP/1.1\r\n"
            "Connection: Keep-Alive\r\n"
            "Content-Type: text/html\r\n"
            "Cache-control: no-cache\r\n"
            "Host: 127.0.0.1:" +
                std::to_string(server.Port()) +
                "\r\n"
                "Accept: text/html, */*\r\n"
                "User-Agent: " +
                kUserAgent + "\r\n\r\n");
  EXPECT_EQ(client.Host(), "127.0.0.1");
}

TEST(TIdHTTPTest, EveryRequestFieldInItsPlace) {
  ScriptedServer server({Answering(HttpOk(""))});
  TIdHTTP client;
  client.SetHost("127.0.0.1");
  client.SetPort(server.Port());
  client.SetReadTimeout(5000);
  client.SetProtocolVersion(http::TIdHTTPProtocolVersion::pv1_0);
  http::TIdHTTPRequest& request = client.Request();
  request.ContentVersion = "cv";
  request.ContentEncoding = "ce";
  request.ContentLanguage = "cl";
  request.ContentType = "ct";
  request.ContentLength = 99;  // a GET never sends a length
  request.CacheControl = "cc";
  request.Date = "d";
  request.Expires = "e";
  request.Pragma = "p";
  request.CustomHeaders.Add("X-One: 1");
  request.CustomHeaders.Add("X-Two: 2");
  request.ProxyConnection = "pc";
  request.Accept = "a";
  request.AcceptCharSet = "acs";
  request.AcceptEncoding = "ae";
  request.AcceptLanguage = "al";
  request.From = "f";
  request.Referer = "r";
  request.UserAgent = "ua";
  request.LastModified = "lm";
  request.ContentRangeStart = 5;
  request.ContentRangeEnd = 9;
  client.Get("/x?q=1#fragment");
  ASSERT_EQ(server.RequestHeads().size(), 1u);
  EXPECT_EQ(server.RequestHeads()[0],
            "GET /x?q=1 HTTP/1.0\r\n"
            "Connection: keep-alive\r\n"
            "Content-Version: cv\r\nContent-Encoding: ce\r\nContent-Language: cl\r\n"
            "Content-Type: ct\r\nCache-control: cc\r\nDate: d\r\nExpires: e\r\nPragma: p\r\n"
            "X-One: 1\r\nX-Two: 2\r\nProxy-Connection: pc\r\n"
            "Host: 127.0.0.1:" +
                std::to_string(server.Port()) +
                "\r\n"
                "Accept: a\r\nAccept-Charset: acs\r\nAccept-Encoding: ae\r\nAccept-Language: al\r\n"
                "From: f\r\nReferer: r\r\nUser-Agent: ua\r\nIf-Modified-Since: lm\r\n"
                "Range: bytes=5-9\r\n\r\n");
}

TEST(TIdHTTPTest, HostLineOmitsPort80) {
  // Nothing listens on port 80 here; the Host field is computed before the
  // connect fails.
  TIdHTTP client;
  client.SetReadTimeout(2000);
  try {
    client.Get("http://127.0.0.1:80/index.html");
  } catch (const platform::EIdException&) {
  }
  EXPECT_EQ(client.Request().Host, "127.0.0.1");
}

TEST(TIdHTTPTest, LongRequestLinesAreFolded) {
  ScriptedServer server({Answering(HttpOk(""))});
  TIdHTTP client;
  SetUpLikeTheCallers(client, server);
  std::string words;
  for (int i = 0; i < 300; ++i) words += "word" + std::to_string(i % 10) + " ";
  words.pop_back();
  client.Request().Referer = words;
  // A line without a blank to break at goes out whole.
  client.Request().CustomHeaders.Add("X-Token: " + std::string(1500, 't'));
  client.Get("/");
  EXPECT_NE(server.RequestHeads().at(0).find("\r\nX-Token: " + std::string(1500, 't') + "\r\n"),
            std::string::npos);
  std::string head = server.RequestHeads().at(0);
  std::size_t start = head.find("Referer: ");
  std::string folded = head.substr(start, head.find("\r\nUser-Agent") - start);
  std::string unfolded;
  std::size_t begin = 0;
  for (std::size_t end; (end = folded.find("\r\n", begin)) != std::string::npos; begin = end + 2) {
    std::string piece = folded.substr(begin, end - begin);
    EXPECT_LE(piece.size(), 1024u);
    if (begin > 0) {
      EXPECT_EQ(piece[0], ' ');
    }
    unfolded += piece;
  }
  unfolded += folded.substr(begin);
  EXPECT_NE(folded.find("\r\n "), std::string::npos);
  EXPECT_EQ(unfolded, "Referer: " + words);
}

TEST(TIdHTTPTest, KeptAliveConnectionIsReused) {
  ScriptedServer server({{ScriptedServer::ReadRequest(), ScriptedServer::Send(HttpOk("one")),
                          ScriptedServer::ReadRequest(), ScriptedServer::Send(HttpOk("two"))}});
  TIdHTTP client;
  SetUpLikeTheCallers(client, server);
  EXPECT_EQ(client.Get("/products/IDR641.loop.shtml"), "one");
  // An empty URL asks for the current path without document or parameters.
  EXPECT_EQ(client.Get(""), "two");
  EXPECT_EQ(server.Accepted(), 1);
  ASSERT_EQ(server.Requests().size(), 2u);
  EXPECT_EQ(server.Requests()[1].connection, 0);
  EXPECT_EQ(RequestLine(server.Requests()[1].head), "GET /products/ HTTP/1.1");
}

TEST(TIdHTTPTest, ConnectionCloseMeansANewConnection) {
  ScriptedServer server(
      {Answering(HttpOk("one", "Connection: close\r\n")), Answering(HttpOk("two"))});
  TIdHTTP client;
  SetUpLikeTheCallers(client, server);
  EXPECT_EQ(client.Get("/a"), "one");
  EXPECT_FALSE(client.Connected());
  EXPECT_EQ(client.Get("/b"), "two");
  EXPECT_EQ(server.Accepted(), 2);
}

TEST(TIdHTTPTest, StaleKeptConnectionIsReplaced) {
  // HTTP/1.0 without "Connection" counts as kept alive; the server then
  // closes (first run) or resets (second run) it. The next GET finds that
  // out in its probe and connects again.
  for (bool reset : {false, true}) {
    ScriptedServer server({{ScriptedServer::ReadRequest(),
                            ScriptedServer::Send("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nhi"),
                            reset ? ScriptedServer::Reset() : ScriptedServer::Close()},
                           Answering(HttpOk("again"))});
    TIdHTTP client;
    SetUpLikeTheCallers(client, server);
    EXPECT_EQ(client.Get("/a"), "hi");
    EXPECT_TRUE(client.Connected());
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(client.Get("/b"), "again") << (reset ? "reset" : "close");
    EXPECT_EQ(server.Accepted(), 2);
  }
}

// A server that drops a kept-alive connection after the probe of the next
// GET: only a request that went out on a reused connection and got no byte
// of an answer is sent again, once, on a new connection.
TEST(TIdHTTPTest, DroppedReusedConnectionIsRetriedOnceOnANewOne) {
  const Script one = {ScriptedServer::ReadRequest(), ScriptedServer::Send(HttpOk("one"))};
  auto then = [&one](std::vector<ScriptedServer::Step> steps) {
    Script script = one;
    script.insert(script.end(), steps.begin(), steps.end());
    return script;
  };
  struct Case {
    const char* name;
    std::vector<Script> scripts;
    std::string class_name;  // empty: "/b" answers "later"
    int connections;
  };
  const Case cases[] = {
      {"closed after the probe",
       {then({ScriptedServer::ReadRequest(), ScriptedServer::Close()}), Answering(HttpOk("later"))},
       "",
       2},
      {"reset after the probe",
       {then({ScriptedServer::ReadRequest(), ScriptedServer::Reset()}), Answering(HttpOk("later"))},
       "",
       2},
      {"the new connection dropped too",
       {then({ScriptedServer::ReadRequest(), ScriptedServer::Close()}),
        {ScriptedServer::ReadRequest(), ScriptedServer::Close()},
        Answering(HttpOk("late"))},
       "EIdConnClosedGracefully",
       2},
      {"part of a status line arrived",
       {then({ScriptedServer::ReadRequest(), ScriptedServer::Send("HTTP/1.1 2"),
              ScriptedServer::Close()}),
        Answering(HttpOk("later"))},
       "EIdConnClosedGracefully",
       1},
  };
  for (const Case& c : cases) {
    ScriptedServer server(c.scripts);
    TIdHTTP client;
    SetUpLikeTheCallers(client, server);
    EXPECT_EQ(client.Get("/a"), "one") << c.name;
    if (c.class_name.empty()) {
      EXPECT_EQ(client.Get("/b"), "later") << c.name;
      // The same request again, on the new connection.
      ASSERT_EQ(server.Requests().size(), 3u) << c.name;
      EXPECT_EQ(server.Requests()[2].connection, 1) << c.name;
      EXPECT_EQ(server.Requests()[2].head, server.Requests()[1].head) << c.name;
    } else {
      EXPECT_EQ(GetFails(client, "/b").class_name, c.class_name) << c.name;
    }
    EXPECT_EQ(server.Accepted(), c.connections) << c.name;
  }
  // A request on a new connection is never sent again.
  ScriptedServer server(
      {{ScriptedServer::ReadRequest(), ScriptedServer::Reset()}, Answering(HttpOk("never"))});
  TIdHTTP client;
  SetUpLikeTheCallers(client, server);
  EXPECT_EQ(GetFails(client, "/a").message, "Socket Error # 104\r\nConnection reset by peer");
  EXPECT_EQ(server.Accepted(), 1);

  // The retry spends what is left of the GET's deadline, not a new one.
  ScriptedServer slow(
      {then({ScriptedServer::ReadRequest(), ScriptedServer::Wait(600), ScriptedServer::Close()}),
       {ScriptedServer::ReadRequest(), ScriptedServer::Wait(5000)}});
  TIdHTTP late;
  SetUpLikeTheCallers(late, slow);
  late.SetRequestDeadline(1000);
  EXPECT_EQ(late.Get("/a"), "one");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(GetFails(late, "/b").class_name, "EIdReadTimeout");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1400));
  EXPECT_EQ(slow.Accepted(), 2);
}

// A server that closes every connection right after its answer, without
// "Connection: close", races every probe: however the race ends, each GET
// gets its answer. The close comes at once or 1 or 2 ms late, so that the
// next request meets it before, inside and after the probe.
TEST(TIdHTTPTest, ServerClosingAfterEveryAnswerNeverFailsAGet) {
  for (bool reset : {false, true}) {
    ScriptedServer server(
        [reset](const std::string& target) {
          return Script{ScriptedServer::Send(HttpOk(target)),
                        ScriptedServer::Wait((target.back() - '0') % 3),
                        reset ? ScriptedServer::Reset() : ScriptedServer::Close()};
        },
        std::chrono::seconds(20));
    TIdHTTP client;
    SetUpLikeTheCallers(client, server);
    for (int i = 0; i < 10; ++i) {
      const std::string path = "/" + std::to_string(i);
      EXPECT_EQ(client.Get(path), path) << (reset ? "reset " : "close ") << i;
    }
    EXPECT_EQ(server.Accepted(), 10) << (reset ? "reset" : "close");
  }
}

TEST(TIdHTTPTest, InterimAnswersAreSkipped) {
  // Every 1xx but 101 announces a final answer that follows.
  ScriptedServer server(
      {{ScriptedServer::ReadRequest(),
        ScriptedServer::Send("HTTP/1.1 100 Continue\r\n\r\n"
                             "HTTP/1.1 103 Early Hints\r\nLink: </a.css>; rel=preload\r\n\r\n"
                             "HTTP/1.1 102 Processing\r\n\r\n" +
                             HttpOk("after continue")),
        ScriptedServer::ReadRequest(),
        ScriptedServer::Send("HTTP/1.1 101 Switching Protocols\r\nUpgrade: x\r\n\r\n")}});
  TIdHTTP client;
  SetUpLikeTheCallers(client, server);
  EXPECT_EQ(client.Get("/"), "after continue");
  EXPECT_EQ(client.Response().ResponseCode, 200);
  // A switch of protocols was never asked for: an error, not a wait for more.
  Raised raised = GetFails(client, "/");
  EXPECT_EQ(raised.class_name, "EIdHTTPProtocolException");
  EXPECT_EQ(raised.message, "HTTP/1.1 101 Switching Protocols");
}

TEST(TIdHTTPTest, BodyFramings) {
  struct Case {
    const char* name;
    std::string answer;
    std::string body;
  };
  std::string binary("\0\x01\xff\r\n\0", 6);
  const std::vector<Case> cases = {
      {"length", HttpOk(binary), binary},
      {"chunked",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: "
       "chunked\r\n\r\n1a\r\nabcdefghijklmnopqrstuvwxyz\r\n0\r\n\r\n",
       "abcdefghijklmnopqrstuvwxyz"},
      {"Chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n",
       "abc"},
      {"extensions",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: "
       "chunked\r\n\r\n1a;ext=1\r\nabcdefghijklmnopqrstuvwxyz\r\n"
       "2 ext\r\n!!\r\n0\r\n\r\n",
       "abcdefghijklmnopqrstuvwxyz!!"},
      {"until close", "HTTP/1.0 200 OK\r\n\r\nuntil the end", "until the end"},
      {"empty", HttpOk(""), ""},
  };
  for (const Case& c : cases) {
    ScriptedServer server(
        {{ScriptedServer::ReadRequest(), ScriptedServer::Send(c.answer), ScriptedServer::Close()}});
    TIdHTTP client;
    SetUpLikeTheCallers(client, server);
    EXPECT_EQ(client.Get("/"), c.body) << c.name;
  }
}

TEST(TIdHTTPTest, ResponseSplitIntoSmallPiecesOverTheNetwork) {
  std::string answer =
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n";
  ScriptedServer server({{ScriptedServer::ReadRequest(), ScriptedServer::Trickle(answer, 3, 2)}});
  TIdHTTP client;
  SetUpLikeTheCallers(client, server);
  EXPECT_EQ(client.Get("/"), "hello world");
}

TEST(TIdHTTPTest, LengthBodyCutShortIsAnError) {
  // Six of ten bytes arrive with the head, then the server closes: a short
  // body must never pass for a whole one.
  ScriptedServer server(
      {{ScriptedServer::ReadRequest(),
        ScriptedServer::Send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n012345"),
        ScriptedServer::Close()}});
  TIdHTTP client;
  SetUpLikeTheCallers(client, server);
  Raised raised = GetFails(client, "/frame.png");
  EXPECT_EQ(raised.class_name, "EIdConnClosedGracefully");
  EXPECT_EQ(raised.message, "Connection Closed Gracefully.");
}

TEST(TIdHTTPTest, NoContentReturnsAtOnceAndKeepsTheConnection) {
  ScriptedServer server(
      {{ScriptedServer::ReadRequest(), ScriptedServer::Send("HTTP/1.1 204 No Content\r\n\r\n"),
        ScriptedServer::ReadRequest(), ScriptedServer::Send(HttpOk("next"))}});
  TIdHTTP client;
  SetUpLikeTheCallers(client, server);
  client.SetReadTimeout(0);  // a read after the 204 head would hang
  EXPECT_EQ(client.Get("/"), "");
  EXPECT_EQ(client.Get("/n"), "next");
  EXPECT_EQ(server.Accepted(), 1);
}

TEST(TIdHTTPTest, ErrorStatusesRaiseTheProtocolError) {
  struct Case {
    std::string answer;
    int code;
    std::string status_line;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nno such\r\n", 404,
       "HTTP/1.1 404 Not Found", "no such\r\n"},
      {"HTTP/1.1 503 Service Unavailable\r\nTransfer-Encoding: "
       "chunked\r\n\r\n4\r\nbusy\r\n0\r\n\r\n",
       503, "HTTP/1.1 503 Service Unavailable", "busy"},
      // Not modified, without a Location, is no redirect; it has no body.
      {"HTTP/1.1 304 Not Modified\r\n\r\n", 304, "HTTP/1.1 304 Not Modified", ""},
      {"HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=x\r\nContent-Length: 0\r\n\r\n",
       401, "HTTP/1.1 401 Unauthorized", ""},
      {"HTTP/1.1 407 Proxy\r\nContent-Length: 0\r\n\r\n", 407, "HTTP/1.1 407 Proxy", ""},
      {"HTTP/1.1 abc\r\nContent-Length: 3\r\n\r\nxyz", -1, "HTTP/1.1 abc", "xyz"},
  };
  for (const Case& c : cases) {
    ScriptedServer server({{ScriptedServer::ReadRequest(), ScriptedServer::Send(c.answer),
                            ScriptedServer::ReadRequest(), ScriptedServer::Send(HttpOk("fine"))}});
    TIdHTTP client;
    SetUpLikeTheCallers(client, server);
    try {
      client.Get("/missing");
      ADD_FAILURE() << c.status_line << ": no error";
    } catch (const platform::EIdHTTPProtocolException& error) {
      EXPECT_EQ(error.ClassName(), "EIdHTTPProtocolException");
      EXPECT_EQ(error.ErrorCode(), c.code);
      EXPECT_EQ(error.Message(), c.status_line);
      EXPECT_EQ(error.ErrorMessage(), c.text);
    }
    // The error answer was read whole: the kept connection serves on.
    EXPECT_EQ(client.Get("/next"), "fine") << c.status_line;
    EXPECT_EQ(server.Accepted(), 1) << c.status_line;
  }
}

TEST(TIdHTTPTest, ProtocolErrorReadsItsBodyWithinItsLimit) {
  // With no read time-out of its own, the client would wait for the rest of
  // the error page until the server goes away; the limit (2000 ms unless
  // set) ends it with a time-out first, which replaces the protocol error.
  ScriptedServer server(
      {{ScriptedServer::ReadRequest(),
        ScriptedServer::Send("HTTP/1.1 500 Oops\r\nContent-Length: 100\r\n\r\npart"),
        ScriptedServer::Wait(2000)}},
      {std::chrono::milliseconds(4000), false});
  TIdHTTP client;
  EXPECT_EQ(client.ProtocolErrorReadTimeout(), 2000);
  SetUpLikeTheCallers(client, server);
  client.SetReadTimeout(0);
  client.SetServiceReadTimeouts(200, client.RedirectDropReadTimeout());
  Raised raised = GetFails(client, "/");
  EXPECT_EQ(raised.class_name, "EIdReadTimeout");
  EXPECT_EQ(raised.message, "Read Timeout");
  EXPECT_EQ(client.ReadTimeout(), 0);
}

TEST(TIdHTTPTest, RedirectsAreFollowed) {
  ScriptedServer other({Answering(HttpOk("elsewhere"))});
  ScriptedServer server(
      {{ScriptedServer::ReadRequest(), ScriptedServer::Send(Redirect("/other")),
        ScriptedServer::ReadRequest(),
        ScriptedServer::Send(Redirect("deeper/../next?x=1", "301 Moved")),
        ScriptedServer::ReadRequest(),
        ScriptedServer::Send(
            Redirect("http://localhost:" + std::to_string(other.Port()) + "/far/page?y=2")),
        ScriptedServer::ReadRequest()}});
  TIdHTTP client;
  SetUpLikeTheCallers(client, server);
  EXPECT_EQ(client.Get("/start/here.html"), "elsewhere");
  std::vector<std::string> heads = server.RequestHeads();
  ASSERT_EQ(heads.size(), 3u);
  EXPECT_EQ(RequestLine(heads[1]), "GET /other HTTP/1.1");
  EXPECT_EQ(RequestLine(heads[2]), "GET /next?x=1 HTTP/1.1");
  EXPECT_EQ(server.Accepted(), 1);
  ASSERT_EQ(other.RequestHeads().size(), 1u);
  EXPECT_EQ(RequestLine(other.RequestHeads()[0]), "GET /far/page?y=2 HTTP/1.1");
  EXPECT_NE(
      other.RequestHeads()[0].find("\r\nHost: localhost:" + std::to_string(other.Port()) + "\r\n"),
      std::string::npos);
  EXPECT_EQ(client.Host(), "localhost");
}

TEST(TIdHTTPTest, PolicyRefusesTargetsAndTheirRedirectsBeforeAnythingIsSent) {
  ScriptedServer other({Answering(HttpOk("elsewhere"))});
  const std::string far = "http://127.0.0.1:" + std::to_string(other.Port()) + "/far";
  ScriptedServer server({{ScriptedServer::ReadRequest(), ScriptedServer::Send(Redirect(far)),
                          ScriptedServer::ReadRequest(), ScriptedServer::Send(Redirect(far))}});
  TIdHTTP client;
  SetUpLikeTheCallers(client, server);
  http::TargetPolicy policy;
  policy.one_origin = true;
  policy.scheme = "http";
  policy.host = "127.0.0.1";
  policy.port = server.Port();
  policy.subject = "Frame address";
  policy.host_hint = "allow it";
  client.SetPolicy(policy);
  Raised raised = GetFails(client, "/frame.png");
  EXPECT_EQ(raised.class_name, "EIdHTTPProtocolException");
  EXPECT_EQ(raised.message, "Frame address on another host refused: " + far + "; allow it");
  // Once https is required, plain http fails even on the page's own host.
  policy.https_only = true;
  client.SetPolicy(policy);
  EXPECT_EQ(GetFails(client, "http://127.0.0.1:" + std::to_string(server.Port()) + "/x").message,
            "Frame address over plain http after an https page refused: http://127.0.0.1:" +
                std::to_string(server.Port()) + "/x");
  EXPECT_EQ(other.Accepted(), 0);
  // A listed host without a port stands for the scheme's default port only.
  policy.https_only = false;
  policy.other_hosts = {*zub32::ParseEndpoint("127.0.0.1", 0)};
  client.SetPolicy(policy);
  EXPECT_EQ(GetFails(client, "/frame.png").class_name, "EIdHTTPProtocolException");
  EXPECT_EQ(other.Accepted(), 0);
  policy.other_hosts = *zub32::ParseHostList("127.0.0.1:" + std::to_string(other.Port()));
  client.SetPolicy(policy);
  EXPECT_EQ(client.Get(far), "elsewhere");
}

TEST(TIdHTTPTest, SuccessWithLocationIsARedirect) {
  ScriptedServer server({{ScriptedServer::ReadRequest(),
                          ScriptedServer::Send(HttpOk("dropped", "Location: /moved\r\n")),
                          ScriptedServer::ReadRequest(), ScriptedServer::Send(HttpOk("kept"))}});
  TIdHTTP client;
  SetUpLikeTheCallers(client, server);
  EXPECT_EQ(client.Get("/"), "kept");
  EXPECT_EQ(RequestLine(server.RequestHeads().at(1)), "GET /moved HTTP/1.1");
}

TEST(TIdHTTPTest, RedirectLimitCountsRequests) {
  // Two redirects and an answer fit in three requests; a third redirect is
  // the protocol error with that answer's status line.
  ScriptedServer fits({{ScriptedServer::ReadRequest(), ScriptedServer::Send(Redirect("/1")),
                        ScriptedServer::ReadRequest(), ScriptedServer::Send(Redirect("/2")),
                        ScriptedServer::ReadRequest(), ScriptedServer::Send(HttpOk("made it"))}});
  TIdHTTP client;
  SetUpLikeTheCallers(client, fits);
  client.SetRedirectMaximum(3);
  EXPECT_EQ(client.Get("/0"), "made it");

  Script endless;
  for (int i = 0; i < 20; ++i) {
    endless.push_back(ScriptedServer::ReadRequest());
    endless.push_back(ScriptedServer::Send(Redirect("/loop", "307 Temporary Redirect")));
  }
  ScriptedServer loop({endless});
  TIdHTTP looping;
  SetUpLikeTheCallers(looping, loop);
  Raised raised = GetFails(looping, "/loop");
  EXPECT_EQ(raised.class_name, "EIdHTTPProtocolException");
  EXPECT_EQ(raised.message, "HTTP/1.1 307 Temporary Redirect");
  EXPECT_EQ(loop.RequestHeads().size(), 15u);
}

TEST(TIdHTTPTest, RedirectWithoutFollowingIsAnError) {
  ScriptedServer server({Answering(Redirect("/elsewhere"))});
  TIdHTTP client;
  SetUpLikeTheCallers(client, server);
  client.SetHandleRedirects(false);
  try {
    client.Get("/");
    ADD_FAILURE() << "no error";
  } catch (const platform::EIdHTTPProtocolException& error) {
    EXPECT_EQ(error.ErrorCode(), 302);
    EXPECT_EQ(error.Message(), "HTTP/1.1 302 Found");
    EXPECT_EQ(error.ErrorMessage(), "drop");
  }
}

TEST(TIdHTTPTest, StalledRedirectBodyIsDroppedAfterItsLimit) {
  // The redirect's body never completes; after the limit (4000 ms unless
  // set) the client gives up on it, closes that connection and follows on a
  // new one.
  ScriptedServer server(
      {{ScriptedServer::ReadRequest(),
        ScriptedServer::Send(
            "HTTP/1.1 302 Found\r\nLocation: /next\r\nContent-Length: 50\r\n\r\nxx"),
        ScriptedServer::Wait(2000)},
       Answering(HttpOk("followed"))},
      {std::chrono::milliseconds(4000), false});
  TIdHTTP client;
  EXPECT_EQ(client.RedirectDropReadTimeout(), 4000);
  SetUpLikeTheCallers(client, server);
  client.SetReadTimeout(0);
  client.SetServiceReadTimeouts(client.ProtocolErrorReadTimeout(), 300);
  EXPECT_EQ(client.Get("/"), "followed");
  EXPECT_EQ(server.Accepted(), 2);
  EXPECT_EQ(client.ReadTimeout(), 0);
}

TEST(TIdHTTPTest, BrokenAnswers) {
  struct Case {
    const char* name;
    Script script;
    std::string class_name;
    std::string message;
  };
  std::vector<Case> cases;
  cases.push_back({"over-long status line",
                   Answering("HTTP/1.1 200 " + std::string(17000, 'x') + "\r\n\r\n"),
                   "EIdReadLnMaxLineLengthExceeded", "Max line length exceeded."});
  cases.push_back(
      {"success head cut by close",
       {ScriptedServer::ReadRequest(),
        ScriptedServer::Send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n"), ScriptedServer::Close()},
       "EIdException",
       "Undefined situation"});
  cases.push_back({"closed without an answer",
                   {ScriptedServer::ReadRequest(), ScriptedServer::Close()},
                   "EIdConnClosedGracefully",
                   "Connection Closed Gracefully."});
  cases.push_back({"body larger than the limit",
                   Answering("HTTP/1.1 200 OK\r\nContent-Length: 300000000\r\n\r\n"),
                   "EIdException", "Response body exceeds 268435456 bytes"});
  cases.push_back({"reset during the body",
                   {ScriptedServer::ReadRequest(),
                    ScriptedServer::Send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nabc"),
                    ScriptedServer::Wait(100), ScriptedServer::Reset()},
                   "EIdSocketError",
                   "Socket Error # 104\r\nConnection reset by peer"});
  for (Case& c : cases) {
    ScriptedServer server({c.script});
    TIdHTTP client;
    SetUpLikeTheCallers(client, server);
    Raised raised = GetFails(client, "/");
    EXPECT_EQ(raised.class_name, c.class_name) << c.name;
    EXPECT_EQ(raised.message, c.message) << c.name;
    EXPECT_FALSE(client.Connected()) << c.name;
  }
}

// A body limit of the client's own: a length past it fails before any of
// the body is waited for, a chunked or close-ended body once it passes it.
TEST(TIdHTTPTest, BodyLimitHoldsForEveryFraming) {
  const std::string at_limit(1024, 'b');
  const std::string past_limit(1025, 'b');
  const std::string chunked = HttpHead("200 OK", "Transfer-Encoding: chunked\r\n");
  const std::string close_ended = HttpHead("200 OK", "Connection: close\r\n");
  const struct {
    const char* name;
    Script script;
    bool fails;
  } kCases[] = {
      {"length at the limit", Answering(HttpOk(at_limit)), false},
      {"length past the limit",
       {ScriptedServer::ReadRequest(),
        ScriptedServer::Send(HttpHead("200 OK", "Content-Length: 1025\r\n")),
        ScriptedServer::Wait(3000)},
       true},
      {"chunked at the limit", Answering(chunked + "400\r\n" + at_limit + "\r\n0\r\n\r\n"), false},
      {"chunked past the limit",
       {ScriptedServer::ReadRequest(),
        ScriptedServer::Send(chunked + "200\r\n" + at_limit.substr(512) + "\r\n201\r\n"),
        ScriptedServer::Wait(3000)},
       true},
      {"close-ended at the limit",
       {ScriptedServer::ReadRequest(), ScriptedServer::SendAndClose(close_ended + at_limit)},
       false},
      {"close-ended past the limit",
       {ScriptedServer::ReadRequest(), ScriptedServer::Send(close_ended + past_limit),
        ScriptedServer::Wait(3000)},
       true},
  };
  for (const auto& c : kCases) {
    ScriptedServer server({c.script});
    TIdHTTP client;
    SetUpLikeTheCallers(client, server);
    client.SetBodyLimit(1024);
    const auto start = std::chrono::steady_clock::now();
    if (c.fails) {
      const Raised raised = GetFails(client, "/");
      EXPECT_EQ(raised.class_name, "EIdException") << c.name;
      EXPECT_EQ(raised.message, "Response body exceeds 1024 bytes") << c.name;
      EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << c.name;
    } else {
      EXPECT_EQ(client.Get("/"), at_limit) << c.name;
    }
  }
}

TEST(TIdHTTPTest, SilentServerTimesOut) {
  ScriptedServer server({{ScriptedServer::ReadRequest(), ScriptedServer::Wait(5000)}});
  TIdHTTP client;
  SetUpLikeTheCallers(client, server);
  client.SetReadTimeout(200);
  Raised raised = GetFails(client, "/");
  EXPECT_EQ(raised.class_name, "EIdReadTimeout");
  EXPECT_EQ(raised.message, "Read Timeout");
}

TEST(TIdHTTPTest, RequestDeadlineCutsATricklingServer) {
  // One byte every 100 ms never runs into the read time-out; only the
  // deadline ends the GET, which would otherwise take four seconds.
  ScriptedServer server(
      {{ScriptedServer::ReadRequest(),
        ScriptedServer::Trickle(
            "HTTP/1.1 200 OK\r\nContent-Length: 40\r\n\r\n" + std::string(40, 'x'), 1, 100)},
       Answering(HttpOk("next"))});
  TIdHTTP client;
  SetUpLikeTheCallers(client, server);
  client.SetReadTimeout(1000);
  client.SetRequestDeadline(600);
  Raised raised = GetFails(client, "/");
  EXPECT_EQ(raised.class_name, "EIdReadTimeout");
  EXPECT_EQ(raised.message, "Read Timeout");
  EXPECT_FALSE(client.Connected());
  // Each GET has a deadline of its own.
  EXPECT_EQ(client.Get("/"), "next");
  EXPECT_EQ(client.ReadTimeout(), 1000);
}

TEST(TIdHTTPTest, RequestDeadlineCoversTheWholeRedirectChain) {
  // Each answer comes well within the read time-out, but the chain takes
  // longer than the deadline.
  Script script;
  for (int i = 0; i < 4; ++i) {
    script.push_back(ScriptedServer::ReadRequest());
    script.push_back(ScriptedServer::Wait(300));
    script.push_back(ScriptedServer::Send(Redirect("/hop" + std::to_string(i))));
  }
  script.push_back(ScriptedServer::ReadRequest());
  script.push_back(ScriptedServer::Send(HttpOk("end")));
  for (int deadline : {0, 900}) {
    ScriptedServer server({script});
    TIdHTTP client;
    SetUpLikeTheCallers(client, server);
    client.SetReadTimeout(1000);
    client.SetRequestDeadline(deadline);
    if (deadline == 0) {
      EXPECT_EQ(client.Get("/"), "end");
    } else {
      EXPECT_EQ(GetFails(client, "/").class_name, "EIdReadTimeout");
      EXPECT_LE(server.RequestHeads().size(), 4u);
    }
  }
}

TEST(TIdHTTPTest, RefusedPortFailsToConnect) {
  TIdHTTP client;
  client.SetHost("127.0.0.1");
  client.SetPort(UnusedPort());
  client.SetReadTimeout(2000);
  Raised raised = GetFails(client, "/");
  EXPECT_EQ(raised.class_name, "EIdConnectException");
  EXPECT_EQ(raised.message, "Connection refused");
}

TEST(TIdHTTPTest, UnresolvableNameIsASocketError) {
  TIdHTTP client;
  client.SetHost("no-such-host.invalid");
  client.SetReadTimeout(2000);
  Raised raised = GetFails(client, "/");
  EXPECT_EQ(raised.class_name, "EIdSocketError");
  EXPECT_EQ(raised.message.rfind("Socket Error # ", 0), 0u) << raised.message;
}

TEST(TIdHTTPTest, HangingResolverIsBoundedByEveryTimeLimit) {
  constexpr auto kHang = std::chrono::milliseconds(1000);
  platform::SetResolverForTesting([kHang](const std::string&, int) {
    std::this_thread::sleep_for(kHang);
    return platform::HostAddresses{};
  });
  const struct {
    int read_timeout_ms;
    int request_deadline_ms;
    bool run_deadline;
    const char* class_name;
  } kCases[] = {{200, 0, false, "EIdConnectTimeout"},
                {5000, 200, false, "EIdReadTimeout"},
                {5000, 0, true, "EIdReadTimeout"}};
  for (const auto& c : kCases) {
    TIdHTTP client;
    client.SetHost("resolver.example");
    client.SetReadTimeout(c.read_timeout_ms);
    client.SetRequestDeadline(c.request_deadline_ms);
    if (c.run_deadline)
      client.SetRunDeadline(TIdHTTP::Clock::now() + std::chrono::milliseconds(200));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(GetFails(client, "/").class_name, c.class_name);
    EXPECT_LT(std::chrono::steady_clock::now() - start, kHang / 2);
  }
  // The helper threads end before the real resolver is back.
  std::this_thread::sleep_for(kHang);
  platform::SetResolverForTesting({});
}

TEST(TIdHTTPTest, ConnectTimesOutWhenNobodyAnswers) {
  // A listener whose backlog is full drops further connection requests, so
  // a connect to it waits until its time-out.
  int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 0), 0);
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  std::vector<int> fillers;
  for (int i = 0; i < 4; ++i) {
    int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    ::connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address);
    fillers.push_back(filler);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  TIdHTTP client;
  client.SetHost("127.0.0.1");
  client.SetPort(ntohs(address.sin_port));
  client.SetReadTimeout(300);
  Raised raised = GetFails(client, "/");
  for (int fd : fillers) ::close(fd);
  ::close(listener);
  EXPECT_EQ(raised.class_name, "EIdConnectTimeout");
  EXPECT_EQ(raised.message, "Connect timed out.");
}

TEST(TIdHTTPTest, UnknownSchemeIsRefused) {
  TIdHTTP client;
  Raised raised = GetFails(client, "ftp://127.0.0.1/file");
  EXPECT_EQ(raised.class_name, "EIdUnknownProtocol");
  EXPECT_EQ(raised.message, "Scheme \"ftp\" not supported: ftp://127.0.0.1/file");
}

TEST(TIdHTTPTest, AddressesThatCannotBeRequestedFailBeforeAnythingIsSent) {
  ScriptedServer server({Answering(HttpOk("never"))});
  const std::string at = "127.0.0.1:" + std::to_string(server.Port());
  const struct {
    std::string address;
    std::string class_name;
    std::string message;
  } kCases[] = {
      {"ftp://" + at + "/f", "EIdUnknownProtocol",
       "Scheme \"ftp\" not supported: ftp://" + at + "/f"},
      {"GOPHER://" + at + "/", "EIdUnknownProtocol",
       "Scheme \"GOPHER\" not supported: GOPHER://" + at + "/"},
      {"file:///etc/passwd", "EIdUnknownProtocol",
       "Scheme \"file\" not supported: file:///etc/passwd"},
      {"data:text/plain,x", "EIdUnknownProtocol",
       "Scheme \"data\" not supported: data:text/plain,x"},
      {"/a\r\nb.png", "EIdException", "Control byte 0x0D in the address \"/a\\x0D\\x0Ab.png\""},
      {std::string("/a\0b", 4), "EIdException", "Control byte 0x00 in the address \"/a\\x00b\""},
      {"http://" + at + "/\x7f\t", "EIdException",
       "Control byte 0x7F in the address \"http://" + at + "/\\x7F\t\""},
      {"http://exa mple/", "EIdException",
       "Invalid host \"exa mple\" in the address \"http://exa mple/\""},
      {"http://h\xc3\xa9/", "EIdException",
       "Invalid host \"h\\xC3\\xA9\" in the address \"http://h\\xC3\\xA9/\""},
      {"http:///etc/passwd", "EIdException",
       "Invalid host \"\" in the address \"http:///etc/passwd\""},
      {"http:x.png", "EIdException", "Invalid host \"\" in the address \"http:x.png\""},
      {"http://127.0.0.1:+" + std::to_string(server.Port()) + "/", "EIdConnectException",
       "Invalid port \"+" + std::to_string(server.Port()) + "\"."},
  };
  TIdHTTP client;
  SetUpLikeTheCallers(client, server);
  for (const auto& c : kCases) {
    Raised raised = GetFails(client, c.address);
    EXPECT_EQ(raised.class_name, c.class_name) << c.address;
    EXPECT_EQ(raised.message, c.message) << c.address;
  }
  EXPECT_EQ(server.Accepted(), 0);
}

TEST(TIdHTTPTest, RequestTargetsCarryOnlyUriBytes) {
  const struct {
    const char* address;
    const char* request_line;
  } kCases[] = {
      {"/a b/\xc3\xa9.png", "GET /a%20b/%C3%A9.png HTTP/1.1"},
      {"/q?x=<\"|\">&y=%41{}^`", "GET /q?x=%3C%22%7C%22%3E&y=%41%7B%7D%5E%60 HTTP/1.1"},
  };
  Script script;
  for (std::size_t i = 0; i < std::size(kCases); ++i) {
    script.push_back(ScriptedServer::ReadRequest());
    script.push_back(ScriptedServer::Send(HttpOk("")));
  }
  ScriptedServer server({script});
  TIdHTTP client;
  SetUpLikeTheCallers(client, server);
  for (const auto& c : kCases) client.Get(c.address);
  const std::vector<std::string> heads = server.RequestHeads();
  ASSERT_EQ(heads.size(), std::size(kCases));
  for (std::size_t i = 0; i < heads.size(); ++i)
    EXPECT_EQ(RequestLine(heads[i]), kCases[i].request_line);
}

TEST(TIdHTTPTest, CookiesGoBackToTheSameHost) {
  ScriptedServer other({Answering(HttpOk("other"))});
  ScriptedServer server(
      {{ScriptedServer::ReadRequest(),
        ScriptedServer::Send(
            HttpOk("set", "Set-Cookie: session=abc123; Path=/\r\nSet-cookie: theme=dark\r\n")),
        ScriptedServer::ReadRequest(), ScriptedServer::Send(HttpOk("back")),
        ScriptedServer::ReadRequest(),
        ScriptedServer::Send(Redirect("http://localhost:" + std::to_string(other.Port()) + "/"))}});
  TIdHTTP client;
  SetUpLikeTheCallers(client, server);
  client.Get("/login");
  EXPECT_EQ(server.RequestHeads().at(0).find("Cookie"), std::string::npos);
  client.Get("/page");
  std::string second = server.RequestHeads().at(1);
  EXPECT_EQ(second.substr(second.find("User-Agent")),
            "User-Agent: " + kUserAgent + "\r\nCookie: session=abc123; theme=dark\r\n\r\n");
  // Another host gets none of them.
  client.Get("/away");
  EXPECT_EQ(other.RequestHeads().at(0).find("Cookie"), std::string::npos);
}

TEST(TIdHTTPTest, RelativePathsResolveAgainstTheCurrentOne) {
  Script script;
  for (int i = 0; i < 4; ++i) {
    script.push_back(ScriptedServer::ReadRequest());
    script.push_back(ScriptedServer::Send(HttpOk("")));
  }
  ScriptedServer server({script});
  TIdHTTP client;
  SetUpLikeTheCallers(client, server);
  client.Get("/a/b/c.html");
  client.Get("../d//e/f.html");
  client.Get("g\\h.txt");
  client.Get("/");
  std::vector<std::string> heads = server.RequestHeads();
  ASSERT_EQ(heads.size(), 4u);
  EXPECT_EQ(RequestLine(heads[1]), "GET /a/d/e/f.html HTTP/1.1");
  EXPECT_EQ(RequestLine(heads[2]), "GET /a/d/e/g/h.txt HTTP/1.1");
  EXPECT_EQ(RequestLine(heads[3]), "GET / HTTP/1.1");
}

TEST(TIdHTTPTest, ReleasingTheClientClosesItsConnection) {
  ScriptedServer server({{ScriptedServer::ReadRequest(), ScriptedServer::Send(HttpOk("x")),
                          ScriptedServer::ReadRequest()}},
                        {std::chrono::milliseconds(20000), false});
  {
    TIdHTTP client;
    SetUpLikeTheCallers(client, server);
    client.Get("/");
  }
  // The script's last read ends when the client closes, long before the
  // server's own lifetime.
  EXPECT_TRUE(server.WaitForScripts(1, std::chrono::milliseconds(5000)));
}

}  // namespace
