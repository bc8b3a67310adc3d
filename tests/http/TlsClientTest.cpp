// The client over TLS: scripted hosts behind a loopback TLS front, with
// certificates made for the test.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "http/TIdHTTP.h"
#include "platform/Exceptions.h"
#include "support/GetFailure.h"
#include "support/ScriptedServer.h"
#include "support/TempDir.h"
#include "support/TestText.h"
#include "support/TlsFront.h"

namespace {

using http::TIdHTTP;
using testing_support::HttpHead;
using testing_support::HttpOk;
using testing_support::ScriptedServer;
using testing_support::TempDir;
using testing_support::TestCertificates;
using testing_support::TlsFront;
using Kind = TestCertificates::Kind;
using Script = ScriptedServer::Script;

Script Answering(const std::string& answer) {
  return {ScriptedServer::ReadRequest(), ScriptedServer::Send(answer)};
}

using testing_support::GetFails;
using testing_support::Raised;

class TlsClientTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    certificates_ = std::make_unique<TestCertificates>();
    ca_dir_ = std::make_unique<TempDir>();
    certificates_->WriteCaFile(ca_dir_->File("ca.pem"));
  }
  static void TearDownTestSuite() {
    certificates_.reset();
    ca_dir_.reset();
  }

  // A client as the stages set theirs up, aimed at https://host:port.
  static void AimAt(TIdHTTP& client, const std::string& host, int port) {
    client.SetScheme("https");
    client.SetHost(host);
    client.SetPort(port);
    client.SetTlsCaFile(ca_dir_->File("ca.pem"));
    client.SetReadTimeout(5000);
    client.SetHandleRedirects(true);
    client.Request().Connection = "Keep-Alive";
  }

  // Made once: every test of the suite uses the same CA.
  static std::unique_ptr<TestCertificates> certificates_;
  static std::unique_ptr<TempDir> ca_dir_;
};

std::unique_ptr<TestCertificates> TlsClientTest::certificates_;
std::unique_ptr<TempDir> TlsClientTest::ca_dir_;

TEST_F(TlsClientTest, KeptAliveConnectionCarriesEveryRequestAfterOneHandshake) {
  // A cookie for secure connections only goes back over this one.
  ScriptedServer backend(
      {{ScriptedServer::ReadRequest(),
        ScriptedServer::Send(HttpOk("page", "Set-Cookie: id=7; Path=/; Secure\r\n")),
        ScriptedServer::ReadRequest(), ScriptedServer::Send(HttpOk("frame 1")),
        ScriptedServer::ReadRequest(), ScriptedServer::Send(HttpOk("frame 2"))}});
  TlsFront front(certificates_->Server(Kind::kGood), backend.Port());
  TIdHTTP client;
  AimAt(client, "127.0.0.1", front.Port());
  EXPECT_EQ(client.Get("/products/loop.shtml"), "page");
  EXPECT_EQ(client.Get("/radar/1.png"), "frame 1");
  EXPECT_EQ(client.Get("/radar/2.png"), "frame 2");
  EXPECT_EQ(front.Handshakes(), 1);
  EXPECT_EQ(backend.Accepted(), 1);
  const std::vector<std::string> heads = backend.RequestHeads();
  ASSERT_EQ(heads.size(), 3u);
  EXPECT_NE(heads[1].find("\r\nHost: 127.0.0.1:" + std::to_string(front.Port()) + "\r\n"),
            std::string::npos)
      << heads[1];
  EXPECT_NE(heads[1].find("\r\nCookie: id=7\r\n"), std::string::npos) << heads[1];
}

TEST_F(TlsClientTest, KeptAliveConnectionTheHostEndedIsReplacedBeforeTheNextRequest) {
  ScriptedServer backend(
      {{ScriptedServer::ReadRequest(), ScriptedServer::SendAndClose(HttpOk("one"))},
       Answering(HttpOk("two"))});
  TlsFront front(certificates_->Server(Kind::kGood), backend.Port());
  TIdHTTP client;
  AimAt(client, "127.0.0.1", front.Port());
  EXPECT_EQ(client.Get("/one"), "one");
  // Time for the host's close_notify to arrive.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(client.Get("/two"), "two");
  EXPECT_EQ(front.Handshakes(), 2);
}

// The host drops the kept connection once the next request is on it: with
// close_notify, with a bare end of stream, or with a reset. The request is
// sent once more, over a new handshake.
TEST_F(TlsClientTest, KeptAliveConnectionDroppedAfterTheProbeIsRetriedOnce) {
  for (int way = 0; way < 3; ++way) {
    ScriptedServer backend({{ScriptedServer::ReadRequest(), ScriptedServer::Send(HttpOk("one")),
                             ScriptedServer::ReadRequest(),
                             way == 2 ? ScriptedServer::Reset() : ScriptedServer::Close()},
                            Answering(HttpOk("two"))});
    TlsFront front(certificates_->Server(Kind::kGood), backend.Port(),
                   TlsFront::Options{std::chrono::milliseconds(10000), way == 0, ""});
    TIdHTTP client;
    AimAt(client, "127.0.0.1", front.Port());
    EXPECT_EQ(client.Get("/one"), "one") << way;
    EXPECT_EQ(client.Get("/two"), "two") << way;
    EXPECT_EQ(front.Handshakes(), 2) << way;
  }
}

// By host name: SNI and the name check. The other outcomes of the check
// (expired, self-signed, unknown CA, IP address) are rows of TlsRunTest.
TEST_F(TlsClientTest, CertificateNameIsCheckedBeforeAnythingIsSent) {
  for (const Kind kind : {Kind::kGood, Kind::kOtherName}) {
    ScriptedServer backend({Answering(HttpOk("secret"))});
    TlsFront front(certificates_->Server(kind), backend.Port());
    TIdHTTP client;
    AimAt(client, "localhost", front.Port());
    if (kind == Kind::kGood) {
      EXPECT_EQ(client.Get("/"), "secret");
      continue;
    }
    const Raised raised = GetFails(client, "/");
    EXPECT_EQ(raised.class_name, "EIdTLSError");
    EXPECT_EQ(raised.message, "TLS: host name mismatch");
    EXPECT_EQ(backend.Accepted(), 0);
  }
}

TEST_F(TlsClientTest, StreamEndWithoutCloseNotifyCutsTheBodyShort) {
  struct Row {
    const char* name;
    std::string answer;
    bool close_notify;
    const char* body;  // nullptr: EIdConnClosedGracefully
  };
  const Row rows[] = {
      {"by length, cut short", HttpHead("200 OK", "Content-Length: 10\r\n") + "12345", true,
       nullptr},
      {"by length, complete, no close_notify", HttpOk("complete"), false, "complete"},
      {"until close, with close_notify", HttpHead("200 OK", "") + "to the end", true, "to the end"},
      {"until close, without close_notify", HttpHead("200 OK", "") + "to the end", false, nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ScriptedServer backend(
        {{ScriptedServer::ReadRequest(), ScriptedServer::SendAndClose(row.answer)}});
    TlsFront::Options options;
    options.close_notify = row.close_notify;
    TlsFront front(certificates_->Server(Kind::kGood), backend.Port(), options);
    TIdHTTP client;
    AimAt(client, "127.0.0.1", front.Port());
    if (row.body != nullptr) {
      EXPECT_EQ(client.Get("/"), row.body);
      continue;
    }
    const Raised raised = GetFails(client, "/");
    EXPECT_EQ(raised.class_name, "EIdConnClosedGracefully");
    EXPECT_EQ(raised.message, "Connection Closed Gracefully.");
  }
}

TEST_F(TlsClientTest, RedirectsMayEnterTlsButNeverLeaveIt) {
  ScriptedServer secure_backend({Answering(HttpOk("over tls"))});
  TlsFront front(certificates_->Server(Kind::kGood), secure_backend.Port());
  ScriptedServer plain({Answering(
      HttpHead("302 Found", "Location: " + front.Url("/page") + "\r\nContent-Length: 0\r\n"))});
  TIdHTTP upgraded;
  AimAt(upgraded, "127.0.0.1", plain.Port());
  upgraded.SetScheme("http");
  EXPECT_EQ(upgraded.Get("/page"), "over tls");
  EXPECT_EQ(upgraded.Scheme(), "https");

  ScriptedServer plain_target({Answering(HttpOk("in the clear"))});
  const std::string downgrade = plain_target.Url("/page");
  ScriptedServer downgrading_backend(
      {Answering(HttpHead("301 Moved", "Location: " + downgrade + "\r\nContent-Length: 0\r\n"))});
  TlsFront downgrading(certificates_->Server(Kind::kGood), downgrading_backend.Port());
  TIdHTTP client;
  AimAt(client, "127.0.0.1", downgrading.Port());
  const Raised raised = GetFails(client, "/page");
  EXPECT_EQ(raised.class_name, "EIdHTTPProtocolException");
  EXPECT_EQ(raised.message, "Redirect from https to http refused: " + downgrade);
  EXPECT_EQ(plain_target.Accepted(), 0);
}

TEST_F(TlsClientTest, HandshakeIsBoundedByTheReadTimeoutAndTheDeadline) {
  struct Row {
    const char* name;
    int read_timeout_ms;
    int request_deadline_ms;
  };
  for (const Row& row : {Row{"read time-out", 300, 0}, Row{"request deadline", 10000, 300}}) {
    SCOPED_TRACE(row.name);
    // A host that accepts and never answers the client's hello.
    ScriptedServer stalling({{ScriptedServer::Wait(5000)}});
    TIdHTTP client;
    AimAt(client, "127.0.0.1", stalling.Port());
    client.SetReadTimeout(row.read_timeout_ms);
    client.SetRequestDeadline(row.request_deadline_ms);
    const auto start = std::chrono::steady_clock::now();
    const Raised raised = GetFails(client, "/");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(raised.class_name, "EIdReadTimeout");
    EXPECT_EQ(raised.message, "Read Timeout");
  }
}

TEST_F(TlsClientTest, PlainHttpAnswerToTheHelloFailsTheHandshake) {
  ScriptedServer plain({{ScriptedServer::SendAndClose(HttpHead("400 Bad Request", ""))}});
  TIdHTTP client;
  AimAt(client, "127.0.0.1", plain.Port());
  const Raised raised = GetFails(client, "/");
  EXPECT_EQ(raised.class_name, "EIdTLSError");
  EXPECT_EQ(raised.message.rfind("TLS: handshake failed: ", 0), 0u) << raised.message;
}

}  // namespace
