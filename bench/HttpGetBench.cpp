// Throughput and peak memory of one GET of a large body over loopback, framed
// by Content-Length and chunked, against a server in a child process (so that
// its copy of the body does not count against the client's memory). With
// --curl, curl fetches the same bodies from the same server for comparison.
// With --tls the GETs go over https to a TLS front in the same child, with a
// certificate made for the run and one cipher suite for both clients. Both
// clients keep the body: the client in a string, curl in a file on a RAM
// file system (/dev/shm, else the temporary directory), so that the ratio
// compares the clients and not a kept body against one thrown away.
//
// Targets: at least 95% of curl's throughput, and a peak resident size of
// at most 1.1 times the body (the body is never held twice). Exits 1 when a
// target is missed. Throughput is compared as the median ratio of client and
// curl runs taken in pairs: on a shared machine the load drifts, and the two
// runs of a pair see about the same load.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "http/TIdHTTP.h"
#include "platform/Exceptions.h"
#include "platform/MemoryPages.h"
#include "support/TlsFront.h"

namespace {

constexpr std::size_t kChunkSize = 16 * 1024;
constexpr double kMinCurlRatio = 0.95;
constexpr double kMaxMemoryRatio = 1.10;
// The server child ends by itself after this long even if nobody stops it.
constexpr int kServerLifetimeSeconds = 600;
// The one suite both clients get over TLS: what the server allows.
constexpr const char* kTlsCipher = "ECDHE-ECDSA-AES128-GCM-SHA256";

struct Options {
  std::size_t body_bytes = 256u * 1024 * 1024;
  int runs = 3;
  std::string curl;  // path of curl; empty: no comparison
  bool tls = false;
};

// Where the clients go: the plain server's port, or over TLS the front's,
// with the CA file that verifies it.
struct Target {
  std::uint16_t port = 0;
  bool tls = false;
  std::string ca_file;

  std::string Url(const std::string& path) const {
    return std::string(tls ? "https" : "http") + "://127.0.0.1:" + std::to_string(port) + path;
  }
};

// The body's bytes follow a fixed pattern, so that the client's copy can be
// checked without keeping a second one.
char BodyByte(std::size_t index) { return static_cast<char>((index * 131 + index / 4093) & 0xff); }

std::string MakeBody(std::size_t size) {
  std::string body(size, '\0');
  for (std::size_t i = 0; i < size; ++i) body[i] = BodyByte(i);
  return body;
}

bool BodyIsIntact(const std::string& body, std::size_t size) {
  if (body.size() != size) return false;
  for (std::size_t i = 0; i < size; ++i)
    if (body[i] != BodyByte(i)) return false;
  return true;
}

bool SendAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t sent = ::send(fd, data, std::min<std::size_t>(size, 1 << 20), MSG_NOSIGNAL);
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return true;
}

// The server child: answers GET /length and GET /chunked with the body, one
// connection at a time, until the parent closes control_fd or the lifetime
// ends. With a CA file to write, a TLS front passes the GETs of its port on
// to the listener; the port goes to the parent after the ready byte.
[[noreturn]] void Serve(int listener, int control_fd, std::size_t body_bytes,
                        const std::string& ca_file) {
  std::optional<testing_support::TestCertificates> certificates;
  std::optional<testing_support::TlsFront> front;
  std::uint16_t front_port = 0;
  if (!ca_file.empty()) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    certificates.emplace();
    certificates->WriteCaFile(ca_file);
    front.emplace(certificates->Server(testing_support::TestCertificates::Kind::kGood),
                  ntohs(address.sin_port),
                  testing_support::TlsFront::Options{std::chrono::seconds(kServerLifetimeSeconds),
                                                     true, kTlsCipher});
    front_port = front->Port();
  }
  std::string body = MakeBody(body_bytes);
  std::string length_answer =
      "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
      "Content-Length: " +
      std::to_string(body_bytes) + "\r\nConnection: close\r\n\r\n" + body;
  std::string chunked_answer =
      "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
      "Transfer-Encoding: chunked\r\nConnection: close\r\n\r\n";
  chunked_answer.reserve(body_bytes + body_bytes / kChunkSize * 16 + 64);
  char size_line[32];
  for (std::size_t offset = 0; offset < body_bytes; offset += kChunkSize) {
    std::size_t count = std::min(kChunkSize, body_bytes - offset);
    std::snprintf(size_line, sizeof size_line, "%zx\r\n", count);
    chunked_answer += size_line;
    chunked_answer.append(body, offset, count);
    chunked_answer += "\r\n";
  }
  chunked_answer += "0\r\n\r\n";
  body.clear();
  body.shrink_to_fit();

  char ready[3] = {'r', static_cast<char>(front_port >> 8), static_cast<char>(front_port & 0xff)};
  (void)!::write(control_fd, ready, sizeof ready);
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(kServerLifetimeSeconds);
  while (std::chrono::steady_clock::now() < end) {
    pollfd entries[2] = {{listener, POLLIN, 0}, {control_fd, POLLIN, 0}};
    if (::poll(entries, 2, 1000) < 0) continue;
    if (entries[1].revents != 0) break;  // the parent is done (or gone)
    if ((entries[0].revents & POLLIN) == 0) continue;
    int fd = ::accept(listener, nullptr, nullptr);
    if (fd < 0) continue;
    std::string head;
    char buffer[4096];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
      ssize_t count = ::recv(fd, buffer, sizeof buffer, 0);
      if (count <= 0) break;
      head.append(buffer, static_cast<std::size_t>(count));
    }
    const std::string& answer =
        head.find(" /chunked ") != std::string::npos ? chunked_answer : length_answer;
    if (head.find("\r\n\r\n") != std::string::npos) SendAll(fd, answer.data(), answer.size());
    ::shutdown(fd, SHUT_WR);
    while (::recv(fd, buffer, sizeof buffer, 0) > 0) {
    }
    ::close(fd);
  }
  // The front's threads end with the process.
  std::_Exit(0);
}

// The peak resident size of this process so far, in bytes (VmHWM).
std::size_t PeakResidentBytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::strtoull(line.c_str() + 6, nullptr, 10) * 1024;
  return 0;
}

// Lets the peak resident size start again from the current one.
void ResetPeakResident() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
}

struct Measurement {
  double megabytes_per_second = 0;
  std::size_t peak_bytes = 0;
};

Measurement MeasureClient(const Target& target, const std::string& path, std::size_t body_bytes) {
  ResetPeakResident();
  Measurement result;
  auto start = std::chrono::steady_clock::now();
  std::string body;
  {
    http::TIdHTTP client;
    client.SetScheme(target.tls ? "https" : "http");
    client.SetHost("127.0.0.1");
    client.SetPort(target.port);
    client.SetTlsCaFile(target.ca_file);
    client.SetReadTimeout(30000);
    body = client.Get(path);
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  result.peak_bytes = PeakResidentBytes();
  if (!BodyIsIntact(body, body_bytes)) {
    std::fprintf(stderr, "HttpGetBench: the body of %s arrived damaged (%zu bytes)\n", path.c_str(),
                 body.size());
    std::exit(2);
  }
  result.megabytes_per_second = static_cast<double>(body_bytes) / 1e6 / seconds;
  return result;
}

// curl's own measure of the same transfer; 0 when it failed.
double MeasureCurl(const std::string& curl, const Target& target, const std::string& path,
                   std::size_t body_bytes) {
  const std::filesystem::path kept =
      (::access("/dev/shm", W_OK) == 0 ? std::filesystem::path("/dev/shm")
                                       : std::filesystem::temp_directory_path()) /
      ("vesk-bench-curl-" + std::to_string(::getpid()) + ".body");
  std::string command =
      "'" + curl + "' -s -o '" + kept.string() + "' -w '%{size_download} %{time_total}' ";
  if (target.tls) command += "--cacert '" + target.ca_file + "' ";
  command += target.Url(path);
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return 0;
  double size = 0, seconds = 0;
  int fields = std::fscanf(pipe, "%lf %lf", &size, &seconds);
  ::pclose(pipe);
  std::error_code ignored;
  std::filesystem::remove(kept, ignored);
  if (fields != 2 || seconds <= 0 || static_cast<std::size_t>(size) != body_bytes) return 0;
  return size / 1e6 / seconds;
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    std::string argument = argv[i];
    if (argument == "--mb" && i + 1 < argc) {
      options.body_bytes = std::strtoull(argv[++i], nullptr, 10) * 1024 * 1024;
    } else if (argument == "--runs" && i + 1 < argc) {
      options.runs = std::max(1, std::atoi(argv[++i]));
    } else if (argument == "--curl" && i + 1 < argc) {
      options.curl = argv[++i];
    } else if (argument == "--tls") {
      options.tls = true;
    } else {
      std::fprintf(stderr, "usage: HttpGetBench [--mb MIB] [--runs N] [--curl PATH] [--tls]\n");
      std::exit(2);
    }
  }
  return options;
}

// Measures one path; false when a target was missed.
bool MeasurePath(const Options& options, const Target& target, const std::string& path) {
  Measurement best;
  double curl_best = 0;
  std::vector<double> ratios;
  // One pair first, not counted: the first transfer of this process pays
  // once what later ones do not (the TLS library's first use, the first
  // large pages for so big a body), and curl's first run warms the server.
  MeasureClient(target, path, options.body_bytes);
  if (!options.curl.empty()) MeasureCurl(options.curl, target, path, options.body_bytes);
  for (int run = 0; run < options.runs; ++run) {
    Measurement m = MeasureClient(target, path, options.body_bytes);
    best.megabytes_per_second = std::max(best.megabytes_per_second, m.megabytes_per_second);
    best.peak_bytes = std::max(best.peak_bytes, m.peak_bytes);
    if (options.curl.empty()) continue;
    double curl = MeasureCurl(options.curl, target, path, options.body_bytes);
    curl_best = std::max(curl_best, curl);
    if (curl > 0) ratios.push_back(m.megabytes_per_second / curl);
  }
  const char* name = path.c_str() + 1;
  double memory_ratio =
      static_cast<double>(best.peak_bytes) / static_cast<double>(options.body_bytes);
  bool met = memory_ratio <= kMaxMemoryRatio;
  std::printf("%-8s client %8.1f MB/s  peak %7.1f MiB (%.3fx body, target <= %.2fx: %s)\n", name,
              best.megabytes_per_second, static_cast<double>(best.peak_bytes) / 1048576.0,
              memory_ratio, kMaxMemoryRatio, met ? "met" : "MISSED");
  if (options.curl.empty()) return met;
  if (ratios.size() != static_cast<std::size_t>(options.runs)) {
    std::printf("%-8s curl failed\n", name);
    return false;
  }
  std::sort(ratios.begin(), ratios.end());
  double median = ratios[ratios.size() / 2];
  bool ratio_met = median >= kMinCurlRatio;
  std::printf(
      "%-8s curl   %8.1f MB/s  client/curl median %.3f of %.3f..%.3f (target >= %.2f: %s)\n", name,
      curl_best, median, ratios.front(), ratios.back(), kMinCurlRatio,
      ratio_met ? "met" : "MISSED");
  return met && ratio_met;
}

}  // namespace

int main(int argc, char** argv) {
  Options options = ParseOptions(argc, argv);
  // The heap as vesk sets it up.
  platform::PreferLargePagesForHeap(platform::kRunHeapReserve);

  int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener < 0 ||
      ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener, 8) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    std::perror("HttpGetBench: listen on 127.0.0.1");
    return 2;
  }
  Target target{ntohs(address.sin_port), options.tls, ""};
  std::string ca_dir;
  if (options.tls) {
    char pattern[] = "/tmp/vesk-bench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) return 2;
    ca_dir = pattern;
    target.ca_file = ca_dir + "/ca.pem";
  }

  // Started before anything else, so that the child inherits no threads and
  // little memory.
  int control[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, control) != 0) return 2;
  pid_t child = ::fork();
  if (child < 0) return 2;
  if (child == 0) {
    ::close(control[0]);
    Serve(listener, control[1], options.body_bytes, target.ca_file);
  }
  ::close(control[1]);
  ::close(listener);
  unsigned char ready[3] = {};
  if (::read(control[0], ready, sizeof ready) != sizeof ready) {
    std::fprintf(stderr, "HttpGetBench: the server did not start\n");
    return 2;
  }
  if (options.tls) target.port = static_cast<std::uint16_t>(ready[1] << 8 | ready[2]);

  std::printf("HttpGetBench: one GET of %zu bytes over loopback%s, best of %d runs\n",
              options.body_bytes, options.tls ? " over TLS 1.2" : "", options.runs);
  if (options.tls) std::printf("cipher suite of the client and curl: %s\n", kTlsCipher);
  if (options.curl.empty()) std::printf("curl not given: no throughput comparison\n");
  bool all_met = true;
  for (const char* path : {"/length", "/chunked"})
    all_met = MeasurePath(options, target, path) && all_met;

  ::close(control[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (!ca_dir.empty()) std::filesystem::remove_all(ca_dir);
  return all_met ? 0 : 1;
}
