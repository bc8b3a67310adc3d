// The deployment examples in contrib/ and the manual page, checked with the
// tools that will read them: systemd-analyze, nginx (serving the files of a
// real run), the cron job's command under sh, and groff. Each test skips,
// saying why, where its tool is not installed.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/FindProgram.h"
#include "support/Regex.h"
#include "support/RequireEnvironment.h"
#include "support/RunProcess.h"
#include "support/SimProcess.h"
#include "support/TempDir.h"
#include "zub32/Config.h"

namespace {

using testing_support::FindProgram;
using testing_support::ProcessOptions;
using testing_support::ProcessResult;
using testing_support::RunProcess;
using testing_support::RunTool;
using testing_support::TempDir;

constexpr const char* kInstalledBinary = "/usr/bin/vesk";
constexpr const char* kServedDirectory = "/var/www/vesk";

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string SourceFile(const std::string& relative) {
  const char* source = std::getenv("VESK_SOURCE_DIR");
  return source == nullptr ? "" : ReadFile(std::string(source) + "/" + relative);
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// The value of the first "Key=" line, "Environment=NAME=" included.
std::string Setting(const std::string& text, const std::string& key) {
  std::smatch match;
  if (!std::regex_search(text, match, std::regex("(^|\n)" + key + "=([^\n]*)"))) return "<none>";
  return match[2];
}

class ContribTest : public ::testing::Test {
 protected:
  void SetUp() override { REQUIRE_ENVIRONMENT("VESK_SOURCE_DIR"); }
};

TEST_F(ContribTest, ExamplesAgreeOnTheProgramDirectoryAndArchiveLines) {
  const std::string service = SourceFile("contrib/vesk.service");
  EXPECT_EQ(Setting(service, "Environment=VESK_HOME"), kServedDirectory);
  EXPECT_EQ(Setting(service, "ReadWritePaths"), kServedDirectory);
  EXPECT_EQ(Setting(SourceFile("contrib/vesk.cron"), "VESK_HOME"), kServedDirectory);
  for (const char* example : {"contrib/vesk.service", "contrib/vesk@.service"}) {
    EXPECT_EQ(Setting(SourceFile(example), "Environment=VESK_ARCHIVE_LINES"), "summary") << example;
  }
  EXPECT_EQ(Setting(SourceFile("contrib/vesk.cron"), "VESK_ARCHIVE_LINES"), "summary");
  EXPECT_NE(
      SourceFile("contrib/nginx-vesk.conf").find(std::string("alias ") + kServedDirectory + "/;"),
      std::string::npos);
}

TEST_F(ContribTest, SystemdUnitsVerify) {
  const std::string analyze = FindProgram("systemd-analyze");
  if (analyze.empty()) GTEST_SKIP() << "systemd-analyze is not installed";
  REQUIRE_ENVIRONMENT("VESK_BINARY");
  // verify wants the program of ExecStart to exist.
  TempDir units;
  units.Write("vesk.service", Replaced(SourceFile("contrib/vesk.service"), kInstalledBinary,
                                       testing_support::VeskBinary()));
  units.Write("vesk.timer", SourceFile("contrib/vesk.timer"));
  const ProcessResult result = RunTool(
      analyze, {"verify", "--man=no", units.File("vesk.service"), units.File("vesk.timer")});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  // Unknown or misspelt settings are only warned about; any word about our
  // units is a fault.
  EXPECT_EQ(result.err.find("vesk."), std::string::npos) << result.err;
}

// One instance per product: its own directory, product and font cache, and
// a timer that staggers the instances by a fixed offset inside the slot.
TEST_F(ContribTest, TemplateUnitsGiveEachProductItsOwnDirectoryAndVerify) {
  const std::string service = SourceFile("contrib/vesk@.service");
  const std::string timer = SourceFile("contrib/vesk@.timer");
  EXPECT_EQ(Setting(service, "Environment=VESK_HOME"), std::string(kServedDirectory) + "/%i");
  EXPECT_EQ(Setting(service, "ReadWritePaths"), std::string(kServedDirectory) + "/%i");
  EXPECT_EQ(Setting(service, "Environment=VESK_PRODUCT"), "%i");
  EXPECT_EQ(Setting(service, "Environment=XDG_CACHE_HOME"), "/var/cache/vesk/%i");
  EXPECT_EQ(Setting(timer, "OnCalendar"), Setting(SourceFile("contrib/vesk.timer"), "OnCalendar"));
  EXPECT_EQ(Setting(timer, "FixedRandomDelay"), "true");

  const std::string analyze = FindProgram("systemd-analyze");
  if (analyze.empty()) GTEST_SKIP() << "systemd-analyze is not installed";
  REQUIRE_ENVIRONMENT("VESK_BINARY");
  TempDir units;
  units.Write("vesk@.service", Replaced(service, kInstalledBinary, testing_support::VeskBinary()));
  units.Write("vesk@.timer", timer);
  // An instance is verified through its template in the same directory.
  const ProcessResult result = RunTool(
      analyze,
      {"verify", "--man=no", units.File("vesk@IDR023.service"), units.File("vesk@IDR023.timer")});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.err.find("vesk@"), std::string::npos) << result.err;
}

TEST_F(ContribTest, ManualPageFormatsWithoutWarningsAndNamesEveryKey) {
  const std::string page = ReadFile(VESK_MANUAL_PAGE);
  const zub32::Configuration defaults =
      zub32::LoadConfiguration("/nonexistent/", [](const std::string&) { return std::nullopt; });
  for (const zub32::ConfigEntry& entry : defaults.entries) {
    EXPECT_NE(page.find(entry.environment), std::string::npos) << entry.environment;
    EXPECT_NE(page.find(entry.key), std::string::npos) << entry.key;
  }
  for (const char* option : {"\\-\\-check", "\\-\\-help", "\\-\\-version", "VESK_HOME"}) {
    EXPECT_NE(page.find(option), std::string::npos) << option;
  }
  const std::string groff = FindProgram("groff");
  if (groff.empty()) GTEST_SKIP() << "groff is not installed";
  const ProcessResult result = RunTool(groff, {"-man", "-Tutf8", "-ww", "-z", VESK_MANUAL_PAGE});
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.err, "");
}

// The cron job's command as sh runs it, with the paths moved into a
// temporary directory: it runs vesk under the lock, and while another run
// holds the lock it neither runs nor empties the last run's log.
TEST_F(ContribTest, CronCommandRunsUnderItsLock) {
  const std::string flock = FindProgram("flock");
  if (flock.empty()) GTEST_SKIP() << "flock is not installed";
  REQUIRE_ENVIRONMENT("VESK_BINARY");
  const std::string cron = SourceFile("contrib/vesk.cron");
  std::smatch match;
  ASSERT_TRUE(std::regex_search(cron, match, std::regex(R"((^|\n)\*/5 \* \* \* \* vesk ([^\n]+))")))
      << cron;
  TempDir root;
  std::filesystem::create_directories(root.File("www"));
  std::filesystem::create_directories(root.File("log"));
  std::filesystem::create_directories(root.File("bin"));
  testing_support::CopyExecutable(testing_support::VeskBinary(), root.File("bin/vesk"));
  std::string command = match[2];
  command = Replaced(command, "/run/lock/vesk.lock", root.File("vesk.lock"));
  command = Replaced(command, "/var/log/vesk/", root.File("log/"));

  ProcessOptions options;
  options.binary = "/bin/sh";
  options.args = {"-c", command};
  options.environment = {{"PATH", root.File("bin") + ":/usr/bin:/bin"},
                         {"VESK_HOME", root.File("www")},
                         {"VESK_SYSLOG", "off"},
                         // Nothing listens there: the run fails at once.
                         {"VESK_RADAR_HOST", "127.0.0.1:1"},
                         {"LC_ALL", "C"}};
  options.time_limit = std::chrono::seconds(60);
  ProcessResult result = RunProcess(options);
  EXPECT_EQ(result.exit_code, 0) << result.err;
  const std::string log = root.Read("log/last-run.log");
  EXPECT_EQ(log.rfind("HTML delay: 500ms (Param1)\n", 0), 0u) << log;
  EXPECT_NE(log.find("\nSummary: run failed: "), std::string::npos) << log;
  EXPECT_TRUE(std::filesystem::exists(root.File("www/index.html")));

  const int lock = ::open(root.File("vesk.lock").c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(lock, 0);
  ASSERT_EQ(::flock(lock, LOCK_EX), 0);
  std::filesystem::remove(root.File("www/index.html"));
  result = RunProcess(options);
  ::close(lock);
  EXPECT_NE(result.exit_code, 0);
  EXPECT_EQ(root.Read("log/last-run.log"), log);
  EXPECT_FALSE(std::filesystem::exists(root.File("www/index.html")));
}

// nginx on a loopback port of its own, stopped when the object goes away.
class NginxServer {
 public:
  explicit NginxServer(const TempDir& prefix) {
    // The port is free when asked for; nginx binds it a moment later.
    const int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(probe, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      ::close(probe);
      return;
    }
    port_ = ntohs(address.sin_port);
    ::close(probe);
    prefix.Write("nginx.conf", Config(prefix.path()));
  }

  // Starts nginx in the foreground. It dies with the test process, so that
  // a test that crashes or is killed leaves no server behind.
  void Start(const std::string& nginx, const TempDir& prefix) {
    if (port_ == 0) return;
    const std::string conf = prefix.File("nginx.conf");
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ == 0) {
      if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent) ::_exit(126);
      const int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, 1);
      ::dup2(null, 2);
      ::execl(nginx.c_str(), nginx.c_str(), "-p", prefix.path().c_str(), "-c", conf.c_str(), "-e",
              "stderr", static_cast<char*>(nullptr));
      ::_exit(127);
    }
  }
  ~NginxServer() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  NginxServer(const NginxServer&) = delete;
  NginxServer& operator=(const NginxServer&) = delete;

  // A minimal main configuration around the snippet, in prefix.
  std::string Config(const std::string& prefix) const {
    std::string temp;
    for (const char* kind : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"}) {
      temp += std::string("    ") + kind + "_temp_path " + prefix + "tmp;\n";
    }
    return "daemon off;\nmaster_process off;\nworker_processes 1;\nerror_log stderr;\n"
           "pid " +
           prefix +
           "nginx.pid;\nevents { worker_connections 16; }\nhttp {\n"
           "    access_log off;\n" +
           temp + "    server {\n        listen 127.0.0.1:" + std::to_string(port_) +
           ";\n"
           "        include " +
           prefix + "vesk.conf;\n    }\n}\n";
  }

  int Port() const { return port_; }

  // The status line and headers, lower-cased names, of a GET; "status" is
  // the code. Empty when nothing answered within two seconds.
  std::map<std::string, std::string> Get(const std::string& path) const {
    std::map<std::string, std::string> response;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port_));
    std::string received;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
      const std::string request = "GET " + path + " HTTP/1.0\r\nHost: localhost\r\n\r\n";
      if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
          static_cast<ssize_t>(request.size())) {
        pollfd wait{fd, POLLIN, 0};
        char buffer[65536];
        while (::poll(&wait, 1, 2000) > 0) {
          const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
          if (got <= 0) break;
          received.append(buffer, static_cast<std::size_t>(got));
        }
      }
    }
    ::close(fd);
    const std::size_t head_end = received.find("\r\n\r\n");
    if (received.rfind("HTTP/1.1 ", 0) != 0 || head_end == std::string::npos) return response;
    response["status"] = received.substr(9, 3);
    std::istringstream head(received.substr(0, head_end));
    std::string line;
    std::getline(head, line);
    while (std::getline(head, line)) {
      const std::size_t colon = line.find(':');
      if (colon == std::string::npos) continue;
      std::string name = line.substr(0, colon);
      for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      std::string value = line.substr(colon + 1);
      value.erase(0, value.find_first_not_of(' '));
      if (!value.empty() && value.back() == '\r') value.pop_back();
      response[name] = value;
    }
    response["body"] = received.substr(head_end + 4);
    return response;
  }

  // Waits up to five seconds for nginx to answer.
  bool WaitUntilServing() const {
    for (int i = 0; i < 50 && pid_ > 0; ++i) {
      if (!Get("/").empty()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

// The files of a real run, served through the snippet: everything the pages
// point at is served without caching and with its picture type, everything
// else in the directory is not served.
TEST_F(ContribTest, NginxSnippetServesWhatThePagesShowAndNothingElse) {
  const std::string nginx = FindProgram("nginx");
  if (nginx.empty()) GTEST_SKIP() << "nginx is not installed";
  REQUIRE_ENVIRONMENT("VESK_BINARY", "VESK_SIM_BINARY");

  TempDir site;
  std::filesystem::create_directories(site.File("tmp"));
  TempDir home;
  site.Write("vesk.conf", Replaced(SourceFile("contrib/nginx-vesk.conf"),
                                   std::string(kServedDirectory) + "/", home.path()));
  NginxServer server(site);
  ASSERT_NE(server.Port(), 0);
  const ProcessResult syntax =
      RunTool(nginx, {"-t", "-p", site.path(), "-c", site.File("nginx.conf"), "-e", "stderr"});
  ASSERT_EQ(syntax.exit_code, 0) << syntax.err;
  server.Start(nginx, site);

  // Two runs, so that the pages name the files of the first.
  {
    testing_support::SimProcess sim({});
    ASSERT_NE(sim.Port(), 0) << sim.FirstLine();
    ASSERT_TRUE(testing_support::WriteSimBackground(home.File("IDR641.background.bmp")));
    home.Write("vesk.ini", "Syslog=off\n");
    for (int run = 0; run < 2; ++run) {
      ProcessOptions options;
      options.binary = testing_support::VeskBinary();
      options.environment = {
          {"VESK_HOME", home.path()},          {"VESK_SYSLOG", "off"},
          {"VESK_RADAR_HOST", sim.HostPort()}, {"VESK_PUBLISH_HOST", sim.HostPort()},
          {"VESK_FONT", std::nullopt},         {"LC_ALL", "C"}};
      ASSERT_EQ(RunProcess(options).exit_code, 0);
    }
  }
  ASSERT_TRUE(server.WaitUntilServing());

  // Every picture address of the pages, below /vesk/, without its query.
  std::set<std::string> shown = {"index.html", "index24.html", "loop.html", "status.json",
                                 "loop.webp"};
  const std::regex address(R"(/vesk/([^"?'\s)]+))");
  for (const char* page : {"index.html", "index24.html"}) {
    const std::string text = home.Read(page);
    for (std::sregex_iterator it(text.begin(), text.end(), address), end; it != end; ++it) {
      shown.insert((*it)[1]);
    }
  }
  // Every file status.json names, which the viewer shows: frames, overlays
  // and forecast pictures.
  const std::string status = home.Read("status.json");
  const std::regex named(R"re("(?:file|frame|overlay)": "([^"/]+)")re");
  for (std::sregex_iterator it(status.begin(), status.end(), named), end; it != end; ++it) {
    shown.insert((*it)[1]);
  }
  EXPECT_EQ(shown.count("Nowcast6.png"), 1u) << status;
  int served = 0;
  for (const std::string& name : shown) {
    if (name.rfind("IDR641.", 0) == 0) continue;  // published by other means
    SCOPED_TRACE(name);
    const auto response = server.Get("/vesk/" + name);
    if (!std::filesystem::exists(home.File(name))) continue;
    ++served;
    EXPECT_EQ(response.count("status") ? response.at("status") : "none", "200");
    EXPECT_EQ(response.count("cache-control") ? response.at("cache-control") : "none", "no-cache");
    const std::string extension = name.substr(name.rfind('.') + 1);
    const std::map<std::string, std::string> types = {{"html", "text/html"},
                                                      {"png", "image/png"},
                                                      {"bmp", "image/bmp"},
                                                      {"webp", "image/webp"},
                                                      {"json", "application/json"}};
    EXPECT_EQ(response.count("content-type") ? response.at("content-type") : "none",
              types.count(extension) ? types.at(extension) : "?");
  }
  // The readers land on the viewer page.
  EXPECT_EQ(server.Get("/vesk/")["body"], home.Read("loop.html"));
  // Both pages, the status, the loop picture, seven frames, the archived
  // frame and overlay, the ring, six forecast pictures.
  EXPECT_GE(served, 2 + 1 + 1 + 7 + 2 + 1 + 6);

  int hidden = 0;
  for (const auto& entry : std::filesystem::directory_iterator(home.path())) {
    const std::string name = entry.path().filename().string();
    // Frames and overlays of a slot the pages do not name yet are served too.
    if (shown.count(name) != 0 || name.rfind("Image", 0) == 0 || name.rfind("image", 0) == 0 ||
        name.rfind("SESOverlay", 0) == 0) {
      continue;
    }
    SCOPED_TRACE(name);
    const auto response = server.Get("/vesk/" + Replaced(name, "!", "%21"));
    EXPECT_EQ(response.count("status") ? response.at("status") : "none", "404");
    ++hidden;
  }
  // vesk.ini, root.html, LastImageURI.txt, sysinfo.json, the background.
  EXPECT_GE(hidden, 5);
  // The loop picture's kept encodings, and the directory itself.
  int cached = 0;
  for (const auto& entry : std::filesystem::directory_iterator(home.File(".loopcache"))) {
    SCOPED_TRACE(entry.path().filename().string());
    const auto response = server.Get("/vesk/.loopcache/" + entry.path().filename().string());
    EXPECT_EQ(response.count("status") ? response.at("status") : "none", "404");
    ++cached;
  }
  EXPECT_GE(cached, 1);
  EXPECT_EQ(server.Get("/vesk/.loopcache/")["status"], "404");
}

}  // namespace
