// Runs the real vesk-sim on an ephemeral loopback port and talks to it over
// plain sockets, checking what the refresh run and the end-to-end tests rely
// on: the loop page's theImageNames form, valid transparent PNG frames, the
// map layers, the advancing loop, the changing station feed, keep-alive
// connections, the served directory's refusals, compression and validators,
// and a bounded, signal-driven lifetime.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "picture/BmpCodec.h"
#include "support/Regex.h"
#include "support/RequireEnvironment.h"
#include "support/TempDir.h"

namespace {

using namespace std::chrono_literals;
using testing_support::TempDir;

constexpr auto kWait = 10s;

std::string SimBinary() {
  const char* path = std::getenv("VESK_SIM_BINARY");
  return path != nullptr ? path : "";
}

// The text after the first occurrence of `start`, cut before the first `end`
// after it: how the refresh run reads the page and the feed.
std::string Between(const std::string& text, const std::string& start, const std::string& end) {
  const std::size_t from = text.find(start);
  if (from == std::string::npos) return "";
  const std::string rest = text.substr(from + start.size());
  return rest.substr(0, rest.find(end));
}

std::string ImageName(const std::string& page, int n) {
  return Between(Between(page, "theImageNames[" + std::to_string(n) + "]", ";"), "\"", "\"");
}

// A running simulator, stopped by SIGTERM (and, failing that, SIGKILL) when
// the object goes away.
class Sim {
 public:
  explicit Sim(std::vector<std::string> arguments, const TempDir& dir) {
    stderr_path_ = dir.File("sim-stderr.txt");
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    // Built before the fork: the child only makes system calls until exec.
    arguments.insert(arguments.begin(), SimBinary());
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      const int err = open(stderr_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(err, STDERR_FILENO);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(out[1]);
    stdout_fd_ = out[0];
    first_line_ = ReadLine();
    std::smatch match;
    if (std::regex_match(first_line_, match,
                         std::regex(R"(vesk-sim listening on 127\.0\.0\.1:(\d+))"))) {
      port_ = std::stoi(match[1]);
    }
  }
  ~Sim() {
    if (pid_ > 0 && !exit_status_) {
      kill(pid_, SIGTERM);
      if (!WaitExit(kWait)) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
      }
    }
    close(stdout_fd_);
  }

  int port() const { return port_; }
  const std::string& first_line() const { return first_line_; }
  pid_t pid() const { return pid_; }

  // Waits for the process to end; its wait status, or nullopt on time-out.
  std::optional<int> WaitExit(std::chrono::steady_clock::duration limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!exit_status_ && std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_)
        exit_status_ = status;
      else
        std::this_thread::sleep_for(20ms);
    }
    return exit_status_;
  }

  std::string Stderr() const {
    std::ifstream in(stderr_path_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

 private:
  std::string ReadLine() {
    std::string line;
    pollfd poll_fd{stdout_fd_, POLLIN, 0};
    while (poll(&poll_fd, 1, static_cast<int>(std::chrono::milliseconds(kWait).count())) > 0) {
      char c;
      if (read(stdout_fd_, &c, 1) != 1 || c == '\n') break;
      line.push_back(c);
    }
    return line;
  }

  pid_t pid_ = -1;
  int stdout_fd_ = -1;
  int port_ = 0;
  std::string first_line_;
  std::string stderr_path_;
  std::optional<int> exit_status_;
};

struct Response {
  int status = 0;
  std::string head;
  std::string body;
  bool ok = false;  // a whole response arrived
};

// A raw client connection with a receive time-out, so that a silent server
// fails the test instead of hanging it.
class Client {
 public:
  explicit Client(int port) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    timeval timeout{5, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~Client() { close(fd_); }
  bool connected() const { return connected_; }

  void Send(const std::string& bytes) {
    ASSERT_EQ(send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
  }

  // Reads one response delimited by its Content-Length; the answer to a HEAD
  // request has no body whatever its Content-Length says.
  Response Read(bool head_only = false) {
    Response response;
    std::size_t head_end;
    while ((head_end = buffer_.find("\r\n\r\n")) == std::string::npos) {
      if (!Fill()) return response;
    }
    response.head = buffer_.substr(0, head_end + 2);
    buffer_.erase(0, head_end + 4);
    response.status = std::stoi(response.head.substr(9, 3));
    const std::string length = Between(response.head, "Content-Length: ", "\r\n");
    const std::size_t size = length.empty() || head_only ? 0 : std::stoul(length);
    while (buffer_.size() < size) {
      if (!Fill()) return response;
    }
    response.body = buffer_.substr(0, size);
    buffer_.erase(0, size);
    response.ok = true;
    return response;
  }

  // extra_headers: further header lines, each ending with CR LF.
  Response Get(const std::string& target, const std::string& extra_headers = "") {
    Send("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: Keep-Alive\r\n" +
         extra_headers + "\r\n");
    return Read();
  }

  void ShutdownSending() { shutdown(fd_, SHUT_WR); }

  // True when the server has closed the connection: end of stream, with no
  // further bytes.
  bool ServerClosed() { return buffer_.empty() && !Fill() && buffer_.empty() && eof_; }

 private:
  bool Fill() {
    char chunk[65536];
    const ssize_t count = recv(fd_, chunk, sizeof chunk, 0);
    if (count <= 0) {
      eof_ = count == 0;
      return false;
    }
    buffer_.append(chunk, static_cast<std::size_t>(count));
    return true;
  }

  int fd_ = -1;
  bool connected_ = false;
  bool eof_ = false;
  std::string buffer_;
};

Response Get(int port, const std::string& target) { return Client(port).Get(target); }

class SimulatorTest : public ::testing::Test {
 protected:
  void SetUp() override { REQUIRE_ENVIRONMENT("VESK_SIM_BINARY"); }
  TempDir dir_;
};

// The data of a gzip body, or "" when it is not one.
std::string Gunzip(const std::string& body) {
  z_stream stream{};
  if (inflateInit2(&stream, 15 + 16) != Z_OK) return "";
  std::string out(1 << 20, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.data()));
  stream.avail_in = static_cast<uInt>(body.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  const bool complete = inflate(&stream, Z_FINISH) == Z_STREAM_END && stream.avail_in == 0;
  out.resize(stream.total_out);
  inflateEnd(&stream);
  return complete ? out : "";
}

std::uint32_t BigEndian32(const std::string& bytes, std::size_t at) {
  return (std::uint32_t{static_cast<std::uint8_t>(bytes[at])} << 24) |
         (std::uint32_t{static_cast<std::uint8_t>(bytes[at + 1])} << 16) |
         (std::uint32_t{static_cast<std::uint8_t>(bytes[at + 2])} << 8) |
         std::uint32_t{static_cast<std::uint8_t>(bytes[at + 3])};
}

// An indexed PNG's colours and pixels, as ExpectValidIndexedPng reads them.
struct IndexedPng {
  std::string palette;       // red, green, blue for each entry
  std::string transparency;  // the tRNS alphas, empty when there is none
  std::string indices;       // one per pixel, rows top to bottom

  std::uint8_t Index(int x, int y) const {
    return static_cast<std::uint8_t>(indices[static_cast<std::size_t>(y) * 512 + x]);
  }
  bool Clear(int x, int y) const {
    return Index(x, y) < transparency.size() && transparency[Index(x, y)] == 0;
  }
  picture::Rgb Colour(int x, int y) const {
    const auto channel = [&](int c) {
      return static_cast<std::uint8_t>(palette[Index(x, y) * 3 + c]);
    };
    return {channel(0), channel(1), channel(2)};
  }
  double ClearShare() const {
    std::size_t clear = 0;
    for (int y = 0; y < 512; ++y) {
      for (int x = 0; x < 512; ++x) clear += Clear(x, y);
    }
    return static_cast<double>(clear) / (512.0 * 512.0);
  }
};

// Checks a PNG file against the format: signature, chunk CRCs, IHDR first and
// IEND last, PLTE before IDAT, and IDAT inflating to exactly one filter byte
// plus one index per pixel on each row, every index inside the palette. The
// simulator writes every row unfiltered, so the indices can be read back.
void ExpectValidIndexedPng(const std::string& png, int expected_size,
                           IndexedPng* decoded = nullptr) {
  IndexedPng image;
  ASSERT_GE(png.size(), 8u);
  ASSERT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  std::vector<std::string> order;
  std::string header, idat;
  std::size_t at = 8;
  while (at < png.size()) {
    ASSERT_LE(12u, png.size() - at) << "truncated chunk";
    const std::uint32_t length = BigEndian32(png, at);
    ASSERT_LE(length, png.size() - at - 12) << "chunk overruns the file";
    const std::string type = png.substr(at + 4, 4);
    const std::string data = png.substr(at + 8, length);
    const uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(png.data() + at + 4), length + 4);
    EXPECT_EQ(BigEndian32(png, at + 8 + length), static_cast<std::uint32_t>(crc)) << type;
    order.push_back(type);
    if (type == "IHDR") header = data;
    if (type == "PLTE") image.palette = data;
    if (type == "tRNS") image.transparency = data;
    if (type == "IDAT") idat += data;
    at += 12 + length;
  }
  ASSERT_GE(order.size(), 4u);
  EXPECT_EQ(order.front(), "IHDR");
  EXPECT_EQ(order.back(), "IEND");
  ASSERT_EQ(header.size(), 13u);
  const auto width = BigEndian32(header, 0), height = BigEndian32(header, 4);
  EXPECT_EQ(width, static_cast<std::uint32_t>(expected_size));
  EXPECT_EQ(height, static_cast<std::uint32_t>(expected_size));
  EXPECT_EQ(header[8], 8);  // bit depth
  EXPECT_EQ(header[9], 3);  // indexed colour
  ASSERT_FALSE(image.palette.empty());
  ASSERT_EQ(image.palette.size() % 3, 0u);
  const std::size_t entries = image.palette.size() / 3;
  EXPECT_LE(image.transparency.size(), entries);

  const std::size_t row = width + 1;
  std::string raw(row * height + 1, '\0');  // one spare byte shows surplus data
  uLongf raw_size = raw.size();
  ASSERT_EQ(uncompress(reinterpret_cast<Bytef*>(raw.data()), &raw_size,
                       reinterpret_cast<const Bytef*>(idat.data()), idat.size()),
            Z_OK);
  ASSERT_EQ(raw_size, row * height);
  for (std::size_t y = 0; y < height; ++y) {
    ASSERT_EQ(raw[y * row], 0) << "filter type of row " << y;
    for (std::size_t x = 1; x < row; ++x) {
      ASSERT_LT(static_cast<std::uint8_t>(raw[y * row + x]), entries) << x << "," << y;
    }
    image.indices.append(raw, y * row + 1, width);
  }
  if (decoded != nullptr) *decoded = std::move(image);
}

TEST_F(SimulatorTest, LoopPageNamesSevenFramesFiveMinutesApartThatAreValidPngs) {
  Sim sim({"--max-seconds", "60", "--start-frame", "202407222150"}, dir_);
  ASSERT_NE(sim.port(), 0) << "first line: " << sim.first_line();

  Client client(sim.port());
  const Response page = client.Get("/products/IDR641.loop.shtml");
  ASSERT_TRUE(page.ok);
  EXPECT_EQ(page.status, 200);
  EXPECT_NE(page.head.find("Content-Type: text/html"), std::string::npos);
  EXPECT_GT(page.body.size(), 15000u);  // a page of realistic size, not only the script
  EXPECT_EQ(ImageName(page.body, 6), "/radar/IDR641.T.202407222150.png");
  EXPECT_EQ(ImageName(page.body, 0), "/radar/IDR641.T.202407222120.png");
  EXPECT_EQ(ImageName(page.body, 3), "/radar/IDR641.T.202407222135.png");

  // All frames over the same kept-alive connection, as the refresh run does.
  std::vector<std::string> frames;
  for (int n = 0; n < 7; ++n) {
    const Response frame = client.Get(ImageName(page.body, n));
    ASSERT_TRUE(frame.ok) << n;
    EXPECT_EQ(frame.status, 200);
    EXPECT_NE(frame.head.find("Content-Type: image/png"), std::string::npos);
    IndexedPng decoded;
    ExpectValidIndexedPng(frame.body, 512, &decoded);
    // Clear where there is no echo, such as the corners beyond the radar's reach.
    EXPECT_TRUE(decoded.Clear(0, 0) && decoded.Clear(511, 511)) << n;
    frames.push_back(frame.body);
  }
  for (int n = 1; n < 7; ++n) EXPECT_NE(frames[n], frames[n - 1]) << "the echo must move";
  // A frame is fixed by its time: asked again, it is byte-identical.
  EXPECT_EQ(client.Get(ImageName(page.body, 2)).body, frames[2]);

  // Frames outside the published loop are not there.
  EXPECT_EQ(client.Get("/radar/IDR641.T.202407222155.png").status, 404);  // the future
  EXPECT_EQ(client.Get("/radar/IDR641.T.202407222152.png").status, 404);  // off the grid
  EXPECT_EQ(client.Get("/radar/IDR641.T.202407221150.png").status, 404);  // long gone
  EXPECT_EQ(client.Get("/radar/IDR641.T.202413322150.png").status, 404);  // no such date
}

TEST_F(SimulatorTest, AdvanceOnRequestMovesTheNewestFrameAfterEachPage) {
  Sim sim({"--max-seconds", "60", "--advance-on-request", "--start-frame", "202407222355"}, dir_);
  ASSERT_NE(sim.port(), 0);
  const std::string first = Get(sim.port(), "/products/IDR641.loop.shtml").body;
  const std::string second = Get(sim.port(), "/products/IDR641.loop.shtml").body;
  EXPECT_EQ(ImageName(first, 6), "/radar/IDR641.T.202407222355.png");
  // The loop crosses midnight into the next day.
  EXPECT_EQ(ImageName(second, 6), "/radar/IDR641.T.202407230000.png");
  EXPECT_EQ(ImageName(second, 5), ImageName(first, 6));
  // The previous newest frame is still published.
  EXPECT_EQ(Get(sim.port(), ImageName(first, 6)).status, 200);
}

TEST_F(SimulatorTest, StopPublishingAfterFreezesTheNewestFrame) {
  Sim sim({"--max-seconds", "60", "--advance-on-request", "--start-frame", "202407222355",
           "--stop-publishing-after", "1"},
          dir_);
  ASSERT_NE(sim.port(), 0);
  std::vector<std::string> newest;
  for (int page = 0; page < 3; ++page) {
    newest.push_back(ImageName(Get(sim.port(), "/products/IDR641.loop.shtml").body, 6));
  }
  EXPECT_EQ(newest, (std::vector<std::string>{"/radar/IDR641.T.202407222355.png",
                                              "/radar/IDR641.T.202407230000.png",
                                              "/radar/IDR641.T.202407230000.png"}));
}

TEST_F(SimulatorTest, NewestFrameFollowsTheFrameInterval) {
  {
    Sim sim({"--max-seconds", "60", "--start-frame", "202407222150"}, dir_);
    ASSERT_NE(sim.port(), 0);
    const std::string first = Get(sim.port(), "/products/IDR641.loop.shtml").body;
    const std::string second = Get(sim.port(), "/products/IDR641.loop.shtml").body;
    EXPECT_EQ(ImageName(second, 6), ImageName(first, 6)) << "no new frame within 300 s";
  }
  Sim sim({"--max-seconds", "60", "--frame-interval", "1", "--start-frame", "202407222150"}, dir_);
  ASSERT_NE(sim.port(), 0);
  std::this_thread::sleep_for(1200ms);
  const std::string later = Get(sim.port(), "/products/IDR641.loop.shtml").body;
  EXPECT_NE(ImageName(later, 6), "/radar/IDR641.T.202407222150.png");
}

TEST_F(SimulatorTest, StationFeedChangesTemperatureAndWindOnEveryRequest) {
  std::vector<std::string> first_readings;
  // Each refresh run may meet a freshly started simulator, whose first
  // reading must not repeat the previous one's. Starts are seeded from the
  // clock, so two of them agree by chance once in some 22,000; three all
  // agreeing never happens in practice.
  for (int run = 0; run < 3; ++run) {
    Sim sim({"--max-seconds", "60"}, dir_);
    ASSERT_NE(sim.port(), 0);
    Client client(sim.port());
    std::string previous_temp, previous_wind;
    for (int i = 0; i < 5; ++i) {
      const Response feed = client.Get("/ses/sysinfo.json");
      ASSERT_TRUE(feed.ok);
      EXPECT_NE(feed.head.find("Content-Type: application/json"), std::string::npos);
      // Read as the overlay reads it: up to the quote and comma after each value.
      const std::string temp = Between(feed.body, "\"currentTemp\":\"", "\",");
      const std::string wind = Between(feed.body, "\"currentWind\":\"", "\",");
      EXPECT_TRUE(std::regex_match(temp, std::regex(R"(-?\d+\.\d)"))) << temp;
      EXPECT_TRUE(std::regex_match(wind, std::regex(R"([NESW]{1,3} \d+ km/h)"))) << wind;
      EXPECT_NE(temp, previous_temp);
      EXPECT_NE(wind, previous_wind);
      if (i == 0) first_readings.push_back(temp + " " + wind);
      previous_temp = temp;
      previous_wind = wind;
    }
  }
  ASSERT_EQ(first_readings.size(), 3u);
  EXPECT_FALSE(first_readings[0] == first_readings[1] && first_readings[1] == first_readings[2]);
}

TEST_F(SimulatorTest, KeepAliveAnswersPipelinedRequestsInOrderOnOneConnection) {
  Sim sim({"--max-seconds", "60", "--log"}, dir_);
  ASSERT_NE(sim.port(), 0);
  Client client(sim.port());
  client.Send(
      "GET /ses/sysinfo.json HTTP/1.1\r\nHost: a\r\n\r\n"
      "GET /nowhere HTTP/1.1\r\nHost: a\r\n\r\n"
      "HEAD /products/IDR641.loop.shtml HTTP/1.1\r\nHost: a\r\n\r\n"
      "GET /ses/sysinfo.json HTTP/1.1\r\nHost: a\r\nConnection: close\r\n\r\n");
  const Response feed = client.Read();
  EXPECT_EQ(feed.status, 200);
  EXPECT_NE(feed.body.find("currentTemp"), std::string::npos);
  EXPECT_EQ(client.Read().status, 404);
  // The HEAD answer states the page's length but carries no body, so the
  // next answer follows its head directly.
  const Response head = client.Read(/*head_only=*/true);
  EXPECT_EQ(head.status, 200);
  EXPECT_NE(Between(head.head, "Content-Length: ", "\r\n"), "0");
  const Response last = client.Read();
  ASSERT_TRUE(last.ok);
  EXPECT_NE(last.body.find("currentTemp"), std::string::npos);
  EXPECT_NE(last.head.find("Connection: close"), std::string::npos);
  EXPECT_TRUE(client.ServerClosed());

  const std::string log = sim.Stderr();
  EXPECT_NE(log.find("vesk-sim: conn 1 GET /ses/sysinfo.json 200"), std::string::npos) << log;
  EXPECT_NE(log.find("vesk-sim: conn 1 GET /nowhere 404"), std::string::npos) << log;
  EXPECT_NE(log.find("vesk-sim: conn 1 HEAD /products/IDR641.loop.shtml 200"), std::string::npos);
  EXPECT_EQ(log.find("conn 2"), std::string::npos) << log;
}

TEST_F(SimulatorTest, ConnectionsEndAsHttpSays) {
  Sim sim({"--max-seconds", "60", "--idle-timeout", "1"}, dir_);
  ASSERT_NE(sim.port(), 0);
  {
    // HTTP/1.0 without keep-alive: one answer, then the end.
    Client client(sim.port());
    client.Send("GET /ses/sysinfo.json HTTP/1.0\r\n\r\n");
    EXPECT_EQ(client.Read().status, 200);
    EXPECT_TRUE(client.ServerClosed());
  }
  {
    // A client that half-closes after its request still gets the answer.
    Client client(sim.port());
    client.Send("GET /ses/sysinfo.json HTTP/1.1\r\nHost: a\r\n\r\n");
    client.ShutdownSending();
    EXPECT_EQ(client.Read().status, 200);
    EXPECT_TRUE(client.ServerClosed());
  }
  {
    // An idle kept-alive connection is closed after the idle bound, while a
    // second connection is served meanwhile.
    Client idle(sim.port());
    EXPECT_EQ(idle.Get("/ses/sysinfo.json").status, 200);
    EXPECT_EQ(Get(sim.port(), "/ses/sysinfo.json").status, 200);
    EXPECT_TRUE(idle.ServerClosed());  // within the client's 5 s receive bound
  }
}

TEST_F(SimulatorTest, MalformedRequestsAreRefusedAndTheConnectionClosed) {
  Sim sim({"--max-seconds", "60"}, dir_);
  ASSERT_NE(sim.port(), 0);
  struct Case {
    std::string request;
    int status;
  };
  const std::vector<Case> cases = {
      {"GET /ses/sysinfo.json\r\n\r\n", 400},                            // no version
      {"GET  /ses/sysinfo.json HTTP/1.1\r\nHost: a\r\n\r\n", 400},       // two blanks
      {"GET /ses/sysinfo.json HTTP/1.1\r\n\r\n", 400},                   // no Host
      {"GET /ses/sysinfo.json HTTP/1.1\r\nHost a\r\n\r\n", 400},         // no colon
      {"GET /ses/sysinfo.json HTTP/1.1\r\nHost: a\r\n b\r\n\r\n", 400},  // folded line
      {"GET /ses/sysinfo.json HTTP/2.0\r\nHost: a\r\n\r\n", 505},
      {"GET /x HTTP/1.1\r\nHost: a\r\nContent-Length: 1x\r\n\r\n", 400},
      {"GET /x HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: chunked\r\n\r\n", 501},
      {"GET /x HTTP/1.1\r\nHost: a\r\nX: " + std::string(20000, 'a') + "\r\n\r\n", 431},
      {"GET /x HTTP/1.1\r\nHost: a\r\nX: " + std::string(20000, 'a'), 431},  // head never ends
  };
  for (const Case& test : cases) {
    Client client(sim.port());
    client.Send(test.request);
    const Response response = client.Read();
    EXPECT_EQ(response.status, test.status) << test.request.substr(0, 80);
    EXPECT_NE(response.head.find("Connection: close"), std::string::npos);
    EXPECT_TRUE(client.ServerClosed()) << test.request.substr(0, 80);
  }

  // Methods other than GET and HEAD are refused, but a request body is
  // skipped and the connection goes on.
  Client client(sim.port());
  client.Send("POST /ses/sysinfo.json HTTP/1.1\r\nHost: a\r\nContent-Length: 5\r\n\r\nhello");
  const Response refused = client.Read();
  EXPECT_EQ(refused.status, 405);
  EXPECT_NE(refused.head.find("Allow: GET, HEAD"), std::string::npos);
  EXPECT_EQ(client.Get("/ses/sysinfo.json").status, 200);
}

TEST_F(SimulatorTest, ServeDirServesPlainFilesAndRefusesEscapes) {
  TempDir outside;
  outside.Write("secret.txt", "not for the web");
  dir_.Write("index.html", "<html>loop</html>");
  dir_.Write("loop.html", "<html>viewer</html>");
  dir_.Write("Image0.png", "frame bytes");
  dir_.Write("SESOverlay0.bmp", "BM overlay");
  ASSERT_EQ(symlink("Image0.png", dir_.File("image0.png").c_str()), 0);
  ASSERT_EQ(symlink(outside.File("secret.txt").c_str(), dir_.File("leak.txt").c_str()), 0);
  ASSERT_EQ(mkdir(dir_.File("sub").c_str(), 0700), 0);
  ASSERT_EQ(mkfifo(dir_.File("fifo").c_str(), 0600), 0);

  Sim sim({"--max-seconds", "60", "--serve-dir", dir_.path()}, dir_);
  ASSERT_NE(sim.port(), 0);
  Client client(sim.port());

  Response page = client.Get("/vesk/index.html");
  EXPECT_EQ(page.status, 200);
  EXPECT_EQ(page.body, "<html>loop</html>");
  EXPECT_NE(page.head.find("Content-Type: text/html"), std::string::npos);
  EXPECT_EQ(client.Get("/vesk/").body, "<html>viewer</html>");
  // The pages add a cache-buster query to every picture.
  const Response frame = client.Get("/vesk/image0.png?foo=22.07.202421:51:00");
  EXPECT_EQ(frame.status, 200);
  EXPECT_EQ(frame.body, "frame bytes");
  EXPECT_NE(frame.head.find("Content-Type: image/png"), std::string::npos);
  EXPECT_NE(client.Get("/vesk/SESOverlay0.bmp").head.find("Content-Type: image/bmp"),
            std::string::npos);
  EXPECT_EQ(client.Get("/vesk/%49mage0.png").body, "frame bytes");
  EXPECT_EQ(client.Get("/vesk/missing.png").status, 404);

  // Both temporary directories share a parent, so "../<name>" reaches the other.
  const std::string outside_name =
      std::filesystem::path(outside.path()).parent_path().filename().string();
  const std::vector<std::string> refused = {
      "/vesk/../" + outside_name + "/secret.txt",
      "/vesk/sub/../../etc/passwd",
      "/vesk/%2e%2e/%2e%2e/etc/passwd",
      "/vesk/%2E%2E%2Fetc%2Fpasswd",
      "/vesk//etc/passwd",
      "/vesk/./index.html",
      "/vesk/leak.txt",  // a link out of the directory
      "/vesk/sub",       // a directory
      "/vesk/fifo",      // not a plain file
  };
  for (const std::string& target : refused) {
    const Response response = client.Get(target);
    EXPECT_EQ(response.status, 403) << target;
    EXPECT_EQ(response.body.find("not for the web"), std::string::npos) << target;
  }
  EXPECT_EQ(client.Get("/vesk/%zz").status, 400);
  EXPECT_EQ(client.Get("/vesk/a%00b").status, 400);
}

TEST_F(SimulatorTest, MapLayersAreServedFromTheRadarHostAndUnderVesk) {
  dir_.Write("IDR641.range.png", "own rings");
  Sim sim({"--max-seconds", "60", "--serve-dir", dir_.path()}, dir_);
  ASSERT_NE(sim.port(), 0);
  Client client(sim.port());
  for (const std::string layer : {"background", "topography", "locations", "range"}) {
    const std::string name = "IDR641." + layer + ".png";
    const Response radar_host = client.Get("/products/radar_transparencies/" + name);
    const Response vesk = client.Get("/vesk/" + name);
    for (const Response* response : {&radar_host, &vesk}) {
      EXPECT_EQ(response->status, 200) << name;
      EXPECT_NE(response->head.find("Content-Type: image/png"), std::string::npos) << name;
    }
    // A file in the served directory wins over the generated layer.
    EXPECT_EQ(vesk.body == "own rings", layer == "range") << name;
    EXPECT_EQ(vesk.body == radar_host.body, layer != "range") << name;
    IndexedPng decoded;
    ExpectValidIndexedPng(radar_host.body, 512, &decoded);
    // The background is an opaque map; the others let it show through.
    if (layer == "background") {
      EXPECT_EQ(decoded.ClearShare(), 0.0);
    } else {
      EXPECT_GT(decoded.ClearShare(), 0.6) << name;
      EXPECT_LT(decoded.ClearShare(), 0.999) << name;
    }
  }
  EXPECT_EQ(client.Get("/products/radar_transparencies/IDR641.other.png").status, 404);
}

TEST_F(SimulatorTest, ServedFilesAreGzippedWhenAcceptedAndRevalidatedWithValidators) {
  std::string page = "<html>";
  for (int i = 0; i < 200; ++i) page += "<p>frame " + std::to_string(i) + "</p>\n";
  page += "</html>";
  dir_.Write("index.html", page);
  dir_.Write("Image0.png", "frame bytes");
  Sim sim({"--max-seconds", "60", "--serve-dir", dir_.path()}, dir_);
  ASSERT_NE(sim.port(), 0);
  Client client(sim.port());
  const std::string gzip = "Accept-Encoding: deflate, gzip\r\n";
  const auto header = [](const Response& response, const std::string& name) {
    return Between(response.head, "\r\n" + name + ": ", "\r\n");
  };

  const Response packed = client.Get("/vesk/index.html", gzip);
  EXPECT_EQ(header(packed, "Content-Encoding"), "gzip");
  EXPECT_EQ(header(packed, "Vary"), "Accept-Encoding");
  EXPECT_LT(packed.body.size(), page.size() / 4);
  EXPECT_EQ(Gunzip(packed.body), page);
  const Response plain = client.Get("/vesk/index.html", "Accept-Encoding: gzip;q=0\r\n");
  EXPECT_EQ(plain.body, page);
  EXPECT_EQ(header(plain, "Content-Encoding"), "");
  EXPECT_EQ(header(plain, "Cache-Control"), "no-cache");
  // Pictures already compressed are sent as they are.
  const Response picture = client.Get("/vesk/Image0.png", gzip);
  EXPECT_EQ(picture.body, "frame bytes");
  EXPECT_EQ(header(picture, "Content-Encoding"), "");
  const Response layer = client.Get("/products/radar_transparencies/IDR641.range.png", gzip);

  const std::string plain_tag = header(plain, "ETag"), packed_tag = header(packed, "ETag");
  EXPECT_TRUE(std::regex_match(plain_tag, std::regex(R"((W/)?"[^"]+")"))) << plain_tag;
  EXPECT_NE(packed_tag, plain_tag);
  const std::string modified = header(plain, "Last-Modified");
  EXPECT_TRUE(std::regex_match(modified, std::regex(R"(\w{3}, \d\d \w{3} \d{4} [\d:]{8} GMT)")));
  struct Case {
    std::string target, headers;
    int status;
  };
  const std::vector<Case> cases = {
      {"/vesk/index.html", "If-None-Match: " + plain_tag + "\r\n", 304},
      {"/vesk/index.html", gzip + "If-None-Match: \"x\", " + packed_tag + "\r\n", 304},
      {"/vesk/index.html", gzip + "If-None-Match: " + plain_tag + "\r\n", 200},  // other coding
      {"/vesk/index.html", "If-Modified-Since: " + modified + "\r\n", 304},
      {"/vesk/index.html", "If-Modified-Since: Mon, 22 Jul 2024 21:51:00 GMT\r\n", 200},
      // A tag, when sent, decides alone.
      {"/vesk/index.html", "If-None-Match: \"x\"\r\nIf-Modified-Since: " + modified + "\r\n", 200},
      {"/vesk/Image0.png", "If-None-Match: " + header(picture, "ETag") + "\r\n", 304},
      {"/products/radar_transparencies/IDR641.range.png",
       "If-Modified-Since: " + header(layer, "Last-Modified") + "\r\n", 304},
  };
  for (const Case& test : cases) {
    const Response response = client.Get(test.target, test.headers);
    ASSERT_TRUE(response.ok) << test.headers;
    EXPECT_EQ(response.status, test.status) << test.target << " " << test.headers;
    EXPECT_NE(header(response, "ETag"), "") << test.headers;
    if (test.status == 304) {
      EXPECT_EQ(header(response, "Content-Length"), "") << test.headers;
      EXPECT_EQ(response.body, "");
    }
  }
  // HEAD states the coded body's length and sends none.
  client.Send("HEAD /vesk/index.html HTTP/1.1\r\nHost: a\r\n" + gzip + "\r\n");
  const Response head = client.Read(/*head_only=*/true);
  EXPECT_EQ(header(head, "Content-Length"), std::to_string(packed.body.size()));
  EXPECT_EQ(client.Get("/vesk/Image0.png").body, "frame bytes");
}

TEST_F(SimulatorTest, WithoutServeDirNothingIsServedUnderVesk) {
  dir_.Write("index.html", "x");
  Sim sim({"--max-seconds", "60"}, dir_);
  ASSERT_NE(sim.port(), 0);
  EXPECT_EQ(Get(sim.port(), "/vesk/index.html").status, 404);
}

TEST_F(SimulatorTest, StopsOnSignalsAndAfterMaxSeconds) {
  for (const int signal_number : {SIGTERM, SIGINT}) {
    Sim sim({"--max-seconds", "60"}, dir_);
    ASSERT_NE(sim.port(), 0);
    Client open_connection(sim.port());  // an open connection does not hold it up
    EXPECT_EQ(open_connection.Get("/ses/sysinfo.json").status, 200);
    kill(sim.pid(), signal_number);
    const std::optional<int> status = sim.WaitExit(kWait);
    ASSERT_TRUE(status.has_value()) << "still running after signal " << signal_number;
    EXPECT_TRUE(WIFEXITED(*status));
    EXPECT_EQ(WEXITSTATUS(*status), 0);
  }
  Sim sim({"--max-seconds", "1"}, dir_);
  ASSERT_NE(sim.port(), 0);
  const std::optional<int> status = sim.WaitExit(kWait);
  ASSERT_TRUE(status.has_value()) << "--max-seconds 1 did not stop it";
  EXPECT_EQ(WEXITSTATUS(*status), 0);
}

TEST_F(SimulatorTest, CommandLineIsChecked) {
  const auto run = [&](const std::string& arguments) {
    const std::string command =
        "'" + SimBinary() + "' " + arguments + " >" + dir_.File("out") + " 2>" + dir_.File("err");
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  EXPECT_EQ(run("--help"), 0);
  EXPECT_NE(dir_.Read("out").find("--max-seconds"), std::string::npos);
  for (const char* bad : {"--port 70000", "--port 12x", "--max-seconds 0", "--frame-interval",
                          "--start-frame 202402301200", "--bogus", "--log=yes"}) {
    EXPECT_EQ(run(bad), 2) << bad;
    EXPECT_FALSE(dir_.Read("err").empty()) << bad;
  }
  EXPECT_EQ(run("--max-seconds 5 --serve-dir " + dir_.File("missing")), 1);
}

TEST_F(SimulatorTest, WritesALightMapAsBackgroundBitmap) {
  const std::string path = dir_.File("IDR641.background.bmp");
  const std::string command = "'" + SimBinary() + "' --write-background '" + path + "' >/dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const picture::Bitmap map = picture::LoadBmpFile(path);
  EXPECT_EQ(map.Width(), 512);
  EXPECT_EQ(map.Height(), 512);
  EXPECT_EQ(map.BitCount(), 24);
  // Light enough for black text, and a picture rather than a flat fill.
  long long brightness = 0;
  std::vector<bool> seen(1 << 24, false);
  int colours = 0;
  for (int y = 0; y < 512; ++y) {
    for (int x = 0; x < 512; ++x) {
      const picture::Rgb c = map.PixelColor(x, y);
      brightness += c.red + c.green + c.blue;
      const std::uint32_t key = (c.red << 16) | (c.green << 8) | c.blue;
      if (!seen[key]) {
        seen[key] = true;
        ++colours;
      }
    }
  }
  EXPECT_GT(brightness / (512 * 512 * 3), 180);
  EXPECT_GT(colours, 10);

  // The served background layer is the same map, pixel for pixel, so that the
  // overlay drawn on the bitmap lines up with the other layers.
  Sim sim({"--max-seconds", "60"}, dir_);
  ASSERT_NE(sim.port(), 0);
  IndexedPng layer;
  ExpectValidIndexedPng(
      Get(sim.port(), "/products/radar_transparencies/IDR641.background.png").body, 512, &layer);
  int differing = 0;
  for (int y = 0; y < 512; ++y) {
    for (int x = 0; x < 512; ++x) differing += !(layer.Colour(x, y) == map.PixelColor(x, y));
  }
  EXPECT_EQ(differing, 0);
}

}  // namespace
