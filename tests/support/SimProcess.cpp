#include "support/SimProcess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <thread>

#include "support/RunProcess.h"

namespace testing_support {
namespace {

using namespace std::chrono_literals;

constexpr int kWaitMilliseconds = 10000;
constexpr std::string_view kListeningPrefix = "vesk-sim listening on 127.0.0.1:";

// The port of the simulator's first line, 0 when the line has another form.
int ListeningPort(std::string_view line) {
  if (!line.starts_with(kListeningPrefix)) return 0;
  line.remove_prefix(kListeningPrefix.size());
  if (line.empty() || line.size() > 5) return 0;
  int port = 0;
  for (char c : line) {
    if (c < '0' || c > '9') return 0;
    port = port * 10 + (c - '0');
  }
  return port <= 65535 ? port : 0;
}

// True for "HTTP/1.x 200 ..." status lines.
bool IsOkStatusLine(std::string_view line) {
  return line.size() >= 13 && line.starts_with("HTTP/1.") && line[7] >= '0' && line[7] <= '9' &&
         line.substr(8, 5) == " 200 ";
}

int MillisecondsLeft(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return static_cast<int>(std::max<long long>(left.count(), 0));
}

// Waits for the child to end; true when it did within limit.
bool Reap(pid_t pid, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    const pid_t done = ::waitpid(pid, nullptr, WNOHANG);
    if (done == pid || (done < 0 && errno != EINTR)) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
}

}  // namespace

std::string SimBinary() {
  const char* binary = std::getenv("VESK_SIM_BINARY");
  return binary != nullptr ? std::string(binary) : std::string();
}

SimProcess::SimProcess(std::vector<std::string> arguments) {
  if (std::find(arguments.begin(), arguments.end(), "--max-seconds") == arguments.end()) {
    arguments.insert(arguments.end(), {"--max-seconds", "120"});
  }
  arguments.push_back("--log");
  arguments.insert(arguments.begin(), SimBinary());
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  const std::string log_path = files_.File("sim-log.txt");

  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  const int log = ::open(log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  pid_ = ::fork();
  if (pid_ == 0) {
    if (::dup2(out[1], 1) < 0 || ::dup2(log, 2) < 0) ::_exit(126);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(out[1]);
  if (log >= 0) ::close(log);
  stdout_fd_ = out[0];
  if (pid_ < 0) return;

  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMilliseconds);
  pollfd poll_fd{stdout_fd_, POLLIN, 0};
  while (::poll(&poll_fd, 1, MillisecondsLeft(deadline)) > 0) {
    char c;
    if (::read(stdout_fd_, &c, 1) != 1 || c == '\n') break;
    first_line_.push_back(c);
  }
  port_ = ListeningPort(first_line_);
}

SimProcess::~SimProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    if (!Reap(pid_, 5s)) {
      ::kill(pid_, SIGKILL);
      Reap(pid_, 5s);
    }
  }
  if (stdout_fd_ >= 0) ::close(stdout_fd_);
}

std::string SimProcess::HostPort() const { return "127.0.0.1:" + std::to_string(port_); }

std::string SimProcess::Log() const { return files_.Read("sim-log.txt"); }

std::vector<std::string> SimProcess::RequestedTargets() const {
  std::vector<std::string> targets;
  std::istringstream lines(Log());
  std::string line;
  // "vesk-sim: conn ID METHOD TARGET STATUS BYTES"; other lines are the
  // simulator's own messages.
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::vector<std::string> word;
    for (std::string w; words >> w;) word.push_back(w);
    if (word.size() >= 6 && word[0] == "vesk-sim:" && word[1] == "conn") {
      targets.push_back(word[4]);
    }
  }
  return targets;
}

std::optional<std::string> SimProcess::FetchBody(const std::string& path) const {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return std::nullopt;
  std::string answer;
  bool complete = false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port_));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const std::string request =
      "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
      ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
          static_cast<ssize_t>(request.size())) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMilliseconds);
    pollfd poll_fd{fd, POLLIN, 0};
    while (::poll(&poll_fd, 1, MillisecondsLeft(deadline)) > 0) {
      char buffer[65536];
      const ssize_t count = ::read(fd, buffer, sizeof buffer);
      if (count <= 0) {
        complete = count == 0;
        break;
      }
      answer.append(buffer, static_cast<std::size_t>(count));
    }
  }
  ::close(fd);
  const std::size_t end_of_head = answer.find("\r\n\r\n");
  if (!complete || end_of_head == std::string::npos) return std::nullopt;
  if (!IsOkStatusLine(std::string_view(answer).substr(0, answer.find("\r\n")))) {
    return std::nullopt;
  }
  return answer.substr(end_of_head + 4);
}

bool WriteSimBackground(const std::string& path) {
  ProcessOptions options;
  options.binary = SimBinary();
  options.args = {"--write-background", path};
  options.time_limit = std::chrono::seconds(30);
  const ProcessResult result = RunProcess(options);
  return result.exit_code == 0;
}

}  // namespace testing_support
