// A single-threaded HTTP/1.1 server on 127.0.0.1: keep-alive connections with
// Content-Length bodies, several requests per connection (pipelined ones
// answered in order), several connections at once, all driven by one poll
// loop. Idle connections are closed after a bound.
#pragma once

#include <signal.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "HttpMessage.h"
#include "platform/FileDescriptor.h"

namespace sim {

class HttpServer {
 public:
  using Clock = std::chrono::steady_clock;
  using Handler = std::function<HttpResponse(const HttpRequest&)>;

  struct Options {
    std::uint16_t port = 0;  // 0: an ephemeral port
    std::chrono::milliseconds idle_timeout{15000};
    bool log = false;  // one line per request on standard error
  };

  // Binds and listens; throws std::runtime_error with the reason on failure.
  HttpServer(const Options& options, Handler handler);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // The port actually bound.
  std::uint16_t port() const { return port_; }

  // Serves until the deadline passes or stop_flag becomes non-zero. The
  // signals in wake_signals are blocked by the caller and unblocked only
  // while the loop waits, so a stop signal can never slip in between the
  // flag test and the wait.
  void Run(Clock::time_point deadline, const volatile sig_atomic_t& stop_flag,
           const sigset_t& wait_mask);

 private:
  struct Connection;

  // Drops closed and idle connections; returns the earlier of wake and the
  // next idle expiry.
  Clock::time_point DropIdleConnections(Clock::time_point now, Clock::time_point wake);
  void Accept();
  void ReadFrom(Connection& connection);
  void Pump(Connection& connection);
  bool ProcessRequests(Connection& connection);
  bool Flush(Connection& connection);
  void Respond(Connection& connection, const HttpRequest* request, const HttpResponse& response,
               bool keep_alive);

  Options options_;
  Handler handler_;
  platform::FileDescriptor listener_;
  std::uint16_t port_ = 0;
  std::uint64_t next_connection_id_ = 1;
  std::vector<std::unique_ptr<Connection>> connections_;
};

}  // namespace sim
