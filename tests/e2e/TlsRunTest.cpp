// The real binary over https: the simulator behind a loopback TLS front with
// certificates made for the test. A run over https does what the same run
// over http does, and a certificate that fails its check stops the run
// before anything is published.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/Regex.h"
#include "support/RequireEnvironment.h"
#include "support/RunProcess.h"
#include "support/ScriptedServer.h"
#include "support/SimProcess.h"
#include "support/TempDir.h"
#include "support/TestText.h"
#include "support/TlsFront.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ProcessOptions;
using testing_support::ProcessResult;
using testing_support::ReportElement;
using testing_support::ScriptedServer;
using testing_support::SimProcess;
using testing_support::TempDir;
using testing_support::TestCertificates;
using testing_support::TlsFront;
using Kind = TestCertificates::Kind;

constexpr const char* kReport = "e!vesk.xml";
constexpr std::chrono::milliseconds kFrontLifetime{60000};

class TlsRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_ENVIRONMENT("VESK_BINARY", "VESK_SIM_BINARY");
    // A fixed newest frame and no new one for an hour.
    sim_ = std::make_unique<SimProcess>(
        std::vector<std::string>{"--start-frame", "202407222150", "--frame-interval", "3600"});
    ASSERT_NE(sim_->Port(), 0) << sim_->FirstLine();
    certificates_.WriteCaFile(ca_dir_.File("ca.pem"));
  }

  // One run with both hosts at host; the pages name the same site either way.
  ProcessResult Run(const TempDir& program, const std::string& host, bool private_ca = true,
                    const std::map<std::string, std::string>& more = {}) {
    ProcessOptions options =
        testing_support::VeskRunOptions(testing_support::VeskBinary(), elsewhere_.path());
    options.environment["VESK_HOME"] = program.path();
    options.environment["VESK_RADAR_HOST"] = host;
    options.environment["VESK_PUBLISH_HOST"] = host;
    options.environment["VESK_SITE_ADDRESS"] = "http://127.0.0.1:8080/vesk";
    if (private_ca) options.environment["VESK_TLS_CA_FILE"] = ca_dir_.File("ca.pem");
    for (const auto& [name, value] : more) options.environment[name] = value;
    ProcessResult result = testing_support::RunProcess(options);
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_code, 0) << result.err;
    return result;
  }

  static void AddBackground(const TempDir& program) {
    ASSERT_TRUE(testing_support::WriteSimBackground(program.File("IDR641.background.bmp")));
  }

  // The output with the address of the host and the program directory
  // replaced and the run's duration left out, so that runs against
  // different hosts in different directories compare.
  static std::string Lines(const ProcessResult& result, const std::string& address,
                           const TempDir& program) {
    std::string lines;
    for (std::string line : result.OutLines()) {
      for (const std::string& varying : {address, program.path()}) {
        const std::size_t at = line.find(varying);
        if (at != std::string::npos) line.replace(at, varying.size(), "<varies>");
      }
      lines += std::regex_replace(line, std::regex(", [0-9]+ ms$"), ", <n> ms") + "\n";
    }
    return lines;
  }

  // Every file of the program directory; the content of those the run
  // copies from the hosts as they are (the simulator's feed changes with
  // every request, so only its name counts).
  static std::map<std::string, std::string> Files(const TempDir& program) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(program.path())) {
      const std::string name = entry.path().filename().string();
      const bool fetched =
          name.ends_with(".png") || name == "root.html" || name == "LastImageURI.txt";
      files[name] = fetched ? program.Read(name) : "";
    }
    return files;
  }

  TestCertificates certificates_;
  TempDir ca_dir_;
  TempDir elsewhere_;
  std::unique_ptr<SimProcess> sim_;
};

TEST_F(TlsRunTest, RunsOverHttpsAsOverHttpWithOneHandshakePerClient) {
  TlsFront front(certificates_.Server(Kind::kGood), static_cast<std::uint16_t>(sim_->Port()),
                 {kFrontLifetime, true, ""});
  TempDir plain;
  TempDir secure;
  AddBackground(plain);
  AddBackground(secure);
  const std::string plain_host = "127.0.0.1:" + std::to_string(sim_->Port());
  const std::string secure_host = "127.0.0.1:" + std::to_string(front.Port());
  // A frame, then no change.
  for (int run = 1; run <= 2; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    const ProcessResult over_http = Run(plain, plain_host);
    const ProcessResult over_https = Run(secure, "https://" + secure_host);
    EXPECT_EQ(Lines(over_https, "https://" + secure_host, secure),
              Lines(over_http, "http://" + plain_host, plain));
    EXPECT_FALSE(secure.Exists(kReport)) << secure.Read(kReport);
    EXPECT_EQ(Files(secure), Files(plain));
  }
  // The radar client's page and seven frames, the overlay client's feed,
  // and the second run's page.
  EXPECT_EQ(front.Handshakes(), 3);
}

TEST_F(TlsRunTest, FailedCertificateCheckIsReportedAndNothingIsPublished) {
  struct Row {
    Kind kind;
    bool private_ca;
    const char* message;
  };
  const Row rows[] = {
      {Kind::kExpired, true, "TLS: certificate verify failed: certificate has expired"},
      {Kind::kOtherName, true, "TLS: IP address mismatch"},
      {Kind::kSelfSigned, true,
       "TLS: certificate verify failed: self-signed certificate; set TlsCaFile to the CA "
       "certificate that signed it"},
      {Kind::kGood, false,
       "TLS: certificate verify failed: unable to get local issuer certificate; set TlsCaFile "
       "to the CA certificate that signed it"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.message);
    TlsFront front(certificates_.Server(row.kind), static_cast<std::uint16_t>(sim_->Port()),
                   {kFrontLifetime, true, ""});
    TempDir program;
    AddBackground(program);
    const ProcessResult result =
        Run(program, "https://127.0.0.1:" + std::to_string(front.Port()), row.private_ca);
    const std::string report = program.Read(kReport);
    EXPECT_EQ(ReportElement(report, "ClassName"), "EIdTLSError") << report;
    EXPECT_EQ(ReportElement(report, "e.Message"), row.message) << report;
    EXPECT_NE(result.out.find(std::string("run failed: EIdTLSError: ") + row.message),
              std::string::npos)
        << result.out;
    for (const char* name : {"root.html", "LastImageURI.txt", "Image6.png", "SESOverlay0.bmp"})
      EXPECT_FALSE(program.Exists(name)) << name;
  }
}

TEST_F(TlsRunTest, HttpsPageNeverLeadsToPlainHttp) {
  // A plain host that would serve every frame, and an https page naming it.
  ScriptedServer plain(
      [](const std::string&) {
        return ScriptedServer::Script{ScriptedServer::Send(testing_support::HttpOk("frame"))};
      },
      kFrontLifetime);
  const std::string frame = "http://127.0.0.1:" + std::to_string(plain.Port()) + "/f0.png";
  ScriptedServer page_host(
      [frame](const std::string&) {
        std::string page = "<script>\n";
        for (int n = 0; n < 7; ++n)
          page += "theImageNames[" + std::to_string(n) + "] = \"" + frame + "\";\n";
        return ScriptedServer::Script{ScriptedServer::Send(testing_support::HttpOk(page))};
      },
      kFrontLifetime);
  TlsFront front(certificates_.Server(Kind::kGood), static_cast<std::uint16_t>(page_host.Port()),
                 {kFrontLifetime, true, ""});
  // Naming the plain host in FrameHosts allows the host, never plain http.
  for (const std::string& frame_hosts :
       {std::string(), "127.0.0.1:" + std::to_string(plain.Port())}) {
    SCOPED_TRACE(frame_hosts);
    TempDir program;
    AddBackground(program);
    const ProcessResult result = Run(program, "https://127.0.0.1:" + std::to_string(front.Port()),
                                     true, {{"VESK_FRAME_HOSTS", frame_hosts}});
    const std::string report = program.Read(kReport);
    EXPECT_EQ(ReportElement(report, "ClassName"), "EIdHTTPProtocolException") << report;
    EXPECT_EQ(ReportElement(report, "e.Message"),
              "Frame address over plain http after an https page refused: " + frame)
        << report;
    for (const char* name : {"LastImageURI.txt", "Image6.png"})
      EXPECT_FALSE(program.Exists(name)) << name;
  }
  EXPECT_EQ(plain.Accepted(), 0);
}

}  // namespace
