// Peak memory of a whole refresh run whose station feed is very large: a
// loopback server (a child process) answers the radar loop page, seven small
// frames and a feed of --feed-mib MiB whose two station members come first,
// so that every cut out of it could copy nearly all of it. The run's peak
// resident size comes from wait4; the target is at most kMaxPeakRatio times
// the feed body. Exits 1 when the run fails or misses the target, 2 on a bad
// command line.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchOptions.h"

extern char** environ;

namespace {

constexpr double kMaxPeakRatio = 1.2;
constexpr std::size_t kMiB = 1024 * 1024;
constexpr int kServerLifetimeSeconds = 300;
constexpr int kFrames = 7;

std::string FramePath(int n) { return "/radar/IDR641.T.20240722215" + std::to_string(n) + ".png"; }

std::string LoopPage() {
  std::string page = "<html><script>\n";
  for (int n = 0; n < kFrames; ++n)
    page += "theImageNames[" + std::to_string(n) + "] = \"" + FramePath(n) + "\";\n";
  return page + "</script></html>\n";
}

std::string Answer(const std::string& body) {
  return "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\n\r\n" + body;
}

bool SendAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t sent = ::send(fd, data, std::min<std::size_t>(size, kMiB), MSG_NOSIGNAL);
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return true;
}

// Sends the feed: the members, then padding up to feed_bytes, streamed from
// one MiB so that the server itself stays small.
void SendFeed(int fd, std::size_t feed_bytes) {
  const std::string start = R"({"currentTemp":"21.4","currentWind":"SW 11 km/h","padding":")";
  const std::string end = "\"}";
  const std::string head =
      "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: " + std::to_string(feed_bytes) +
      "\r\n\r\n" + start;
  if (!SendAll(fd, head.data(), head.size())) return;
  const std::string padding(kMiB, 'p');
  std::size_t left = feed_bytes - start.size() - end.size();
  while (left > 0) {
    const std::size_t count = std::min(left, padding.size());
    if (!SendAll(fd, padding.data(), count)) return;
    left -= count;
  }
  SendAll(fd, end.data(), end.size());
}

// The server child: one connection at a time, each answered and closed,
// until the parent closes control_fd or the lifetime ends.
[[noreturn]] void Serve(int listener, int control_fd, std::size_t feed_bytes) {
  const std::string page = Answer(LoopPage());
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(kServerLifetimeSeconds);
  while (std::chrono::steady_clock::now() < end) {
    pollfd entries[2] = {{listener, POLLIN, 0}, {control_fd, POLLIN, 0}};
    if (::poll(entries, 2, 1000) < 0) continue;
    if (entries[1].revents != 0) break;
    if ((entries[0].revents & POLLIN) == 0) continue;
    const int fd = ::accept(listener, nullptr, nullptr);
    if (fd < 0) continue;
    std::string head;
    char buffer[4096];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
      const ssize_t count = ::recv(fd, buffer, sizeof buffer, 0);
      if (count <= 0) break;
      head.append(buffer, static_cast<std::size_t>(count));
    }
    if (head.rfind("GET /ses/sysinfo.json ", 0) == 0) {
      SendFeed(fd, feed_bytes);
    } else if (head.rfind("GET /radar/", 0) == 0) {
      const std::string frame = Answer("\x89PNG frame " + head.substr(4, 40));
      SendAll(fd, frame.data(), frame.size());
    } else {
      SendAll(fd, page.data(), page.size());
    }
    ::shutdown(fd, SHUT_WR);
    while (::recv(fd, buffer, sizeof buffer, 0) > 0) {
    }
    ::close(fd);
  }
  std::_Exit(0);
}

[[noreturn]] void Usage(const std::string& problem) {
  std::fprintf(stderr, "LargeFeedBench: %s\n", problem.c_str());
  std::fprintf(stderr, "usage: LargeFeedBench --vesk PATH --work DIR [--feed-mib N]\n");
  std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  std::string vesk, work;
  std::size_t feed_mib = 250;
  bench::ReadOptions(
      argc, argv,
      {{"--vesk", [&](const std::string& value) { vesk = value; }},
       {"--work", [&](const std::string& value) { work = value; }},
       {"--feed-mib",
        [&](const std::string& value) { feed_mib = std::strtoul(value.c_str(), nullptr, 10); }}},
      Usage);
  if (vesk.empty() || work.empty() || feed_mib == 0) Usage("--vesk and --work are needed");
  const std::size_t feed_bytes = feed_mib * kMiB;

  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::listen(listener, 16) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    std::perror("LargeFeedBench: listen");
    return 1;
  }
  int control[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, control) != 0) return 1;
  const pid_t server = ::fork();
  if (server == 0) {
    ::close(control[0]);
    Serve(listener, control[1], feed_bytes);
  }
  ::close(control[1]);

  // A fresh program directory holding only the program.
  namespace fs = std::filesystem;
  const fs::path home = fs::path(work) / "program";
  fs::remove_all(home);
  fs::create_directories(home);
  const std::string host = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));
  std::vector<std::string> settings = {"VESK_HOME=" + home.string() + "/", "VESK_SYSLOG=off",
                                       "VESK_RADAR_HOST=" + host, "VESK_PUBLISH_HOST=" + host,
                                       "LC_ALL=C"};
  for (char** variable = environ; *variable != nullptr; ++variable) {
    const std::string text = *variable;
    if (text.rfind("VESK_", 0) != 0 && text.rfind("LC_ALL=", 0) != 0) settings.push_back(text);
  }
  std::vector<char*> environment;
  for (std::string& text : settings) environment.push_back(text.data());
  environment.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, (fs::path(work) / "run.out").c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  char* arguments[] = {vesk.data(), nullptr};
  pid_t run = 0;
  const auto started = std::chrono::steady_clock::now();
  if (posix_spawn(&run, vesk.c_str(), &actions, nullptr, arguments, environment.data()) != 0) {
    std::perror("LargeFeedBench: posix_spawn");
    return 1;
  }
  int status = 0;
  rusage usage{};
  ::wait4(run, &status, 0, &usage);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  ::close(control[0]);
  ::waitpid(server, nullptr, 0);

  const bool feed_saved =
      fs::exists(home / "sysinfo.json") && fs::file_size(home / "sysinfo.json") == feed_bytes;
  const bool drawn = fs::exists(home / "SESOverlay0.bmp") && !fs::exists(home / "e!vesk.xml");
  const double peak_bytes = static_cast<double>(usage.ru_maxrss) * 1024.0;
  const double ratio = peak_bytes / static_cast<double>(feed_bytes);
  std::printf("feed %zu MiB, run %.2f s, peak %.1f MiB = %.3fx the feed (target <= %.2f: %s)\n",
              feed_mib, seconds, peak_bytes / kMiB, ratio, kMaxPeakRatio,
              ratio <= kMaxPeakRatio ? "met" : "missed");
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || !feed_saved || !drawn) {
    std::printf("the run did not save the feed and draw the overlay; see %s/run.out\n",
                work.c_str());
    return 1;
  }
  return ratio <= kMaxPeakRatio ? 0 : 1;
}
