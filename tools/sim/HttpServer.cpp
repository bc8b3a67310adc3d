#include "HttpServer.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <stdexcept>

namespace sim {
namespace {

// Beyond this many open connections new ones wait in the listen backlog.
constexpr std::size_t kMaxConnections = 64;
// Responses queued for a client that does not read stop the answering of its
// further pipelined requests until they have drained.
constexpr std::size_t kMaxPendingOutputBytes = 4 << 20;
constexpr std::size_t kReceiveChunkBytes = 65536;
// The longest single wait, so that the loop rechecks the clock regularly.
constexpr std::chrono::milliseconds kMaxWait{1000};
// How long a connection whose last answer has gone out waits for the client
// to close its side before it is dropped.
constexpr std::chrono::milliseconds kLingerTimeout{2000};

std::runtime_error SystemError(const std::string& what) {
  return std::runtime_error(what + ": " + std::strerror(errno));
}

}  // namespace

struct HttpServer::Connection {
  platform::FileDescriptor fd;
  std::uint64_t id = 0;
  std::string input;
  std::string output;
  std::size_t output_offset = 0;
  std::size_t body_to_skip = 0;  // request body bytes still to be discarded
  bool refuse_more = false;      // an answer said "Connection: close"
  bool peer_finished = false;    // the client has closed its sending side
  bool write_shut = false;       // our last byte has been sent and FIN queued
  bool closed = false;
  Clock::time_point last_activity;

  bool OutputPending() const { return output_offset < output.size(); }
};

HttpServer::HttpServer(const Options& options, Handler handler)
    : options_(options), handler_(std::move(handler)) {
  listener_ =
      platform::FileDescriptor(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!listener_.valid()) throw SystemError("socket");
  const int on = 1;
  ::setsockopt(listener_.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(options_.port);
  if (::bind(listener_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    throw SystemError("bind 127.0.0.1:" + std::to_string(options_.port));
  }
  if (::listen(listener_.get(), 64) != 0) throw SystemError("listen");
  socklen_t length = sizeof address;
  if (::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw SystemError("getsockname");
  }
  port_ = ntohs(address.sin_port);
}

HttpServer::~HttpServer() = default;

void HttpServer::Run(Clock::time_point deadline, const volatile sig_atomic_t& stop_flag,
                     const sigset_t& wait_mask) {
  std::vector<pollfd> polls;
  while (stop_flag == 0) {
    const Clock::time_point now = Clock::now();
    if (now >= deadline) break;

    const Clock::time_point wake = DropIdleConnections(now, std::min(deadline, now + kMaxWait));

    polls.clear();
    const bool accepting = connections_.size() < kMaxConnections;
    if (accepting) polls.push_back(pollfd{listener_.get(), POLLIN, 0});
    for (const auto& connection : connections_) {
      short events = 0;
      if (connection->OutputPending()) events |= POLLOUT;
      // A client whose answers pile up is not read from until they drain;
      // one that is being closed is read only to see its end.
      if (!connection->peer_finished &&
          (connection->refuse_more || connection->output.size() < kMaxPendingOutputBytes)) {
        events |= POLLIN;
      }
      polls.push_back(pollfd{connection->fd.get(), events, 0});
    }

    const auto wait = std::max(std::chrono::nanoseconds(0),
                               std::chrono::ceil<std::chrono::nanoseconds>(wake - now));
    const timespec timeout{static_cast<time_t>(wait.count() / 1000000000),
                           static_cast<long>(wait.count() % 1000000000)};
    const int ready = ::ppoll(polls.data(), polls.size(), &timeout, &wait_mask);
    if (ready < 0) {
      if (errno == EINTR) continue;
      throw SystemError("ppoll");
    }
    if (ready == 0) continue;

    std::size_t index = 0;
    if (accepting) {
      if (polls[index].revents & POLLIN) Accept();
      ++index;
    }
    // Accept() appended new connections after the polled ones; only the
    // polled ones have results.
    const std::size_t polled = polls.size() - index;
    for (std::size_t i = 0; i < polled; ++i) {
      Connection& connection = *connections_[i];
      const short revents = polls[index + i].revents;
      if (revents & (POLLERR | POLLNVAL)) {
        connection.closed = true;
        continue;
      }
      if (revents & (POLLIN | POLLHUP)) ReadFrom(connection);
      if (!connection.closed && (revents & POLLOUT)) Pump(connection);
    }
  }
}

HttpServer::Clock::time_point HttpServer::DropIdleConnections(Clock::time_point now,
                                                              Clock::time_point wake) {
  std::erase_if(connections_, [&](const std::unique_ptr<Connection>& connection) {
    const auto bound = connection->write_shut ? kLingerTimeout : options_.idle_timeout;
    const Clock::time_point expiry = connection->last_activity + bound;
    if (connection->closed || expiry <= now) return true;
    wake = std::min(wake, expiry);
    return false;
  });
  return wake;
}

void HttpServer::Accept() {
  while (connections_.size() < kMaxConnections) {
    const int fd = ::accept4(listener_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;  // EAGAIN, or a connection that went away before it was taken
    auto connection = std::make_unique<Connection>();
    connection->fd = platform::FileDescriptor(fd);
    connection->id = next_connection_id_++;
    connection->last_activity = Clock::now();
    connections_.push_back(std::move(connection));
  }
}

void HttpServer::ReadFrom(Connection& connection) {
  char buffer[kReceiveChunkBytes];
  const ssize_t received = ::recv(connection.fd.get(), buffer, sizeof buffer, 0);
  if (received < 0) {
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) connection.closed = true;
    return;
  }
  if (received == 0) {
    // The client sends nothing more; complete requests it sent before are
    // still answered, then the connection closes.
    connection.peer_finished = true;
    Pump(connection);
    return;
  }
  connection.last_activity = Clock::now();
  if (connection.refuse_more) return;  // bytes after the last answered request are dropped
  std::size_t offset = 0;
  const std::size_t count = static_cast<std::size_t>(received);
  if (connection.body_to_skip > 0) {
    offset = std::min(connection.body_to_skip, count);
    connection.body_to_skip -= offset;
  }
  connection.input.append(buffer + offset, count - offset);
  Pump(connection);
}

void HttpServer::Pump(Connection& connection) {
  while (true) {
    const bool held_back = !connection.refuse_more && ProcessRequests(connection);
    if (!Flush(connection)) return;
    if (held_back) continue;  // the output has drained; answer the waiting requests
    if (connection.refuse_more || connection.peer_finished) {
      if (!connection.write_shut) {
        // Send FIN after the last answer but keep reading until the client
        // closes too: closing with unread input would reset the connection
        // and could destroy the answer before the client has read it.
        ::shutdown(connection.fd.get(), SHUT_WR);
        connection.write_shut = true;
        connection.last_activity = Clock::now();
      }
      if (connection.peer_finished) connection.closed = true;
    }
    return;
  }
}

// Answers the complete requests in the input. Returns true when it stopped
// because too much output is pending.
bool HttpServer::ProcessRequests(Connection& connection) {
  while (!connection.refuse_more && connection.body_to_skip == 0) {
    if (connection.output.size() >= kMaxPendingOutputBytes) return true;
    HttpRequest request;
    const ParseResult result = ParseRequestHead(connection.input, request);
    if (result.status == ParseStatus::kIncomplete) return false;
    if (result.status == ParseStatus::kError) {
      // After a malformed head the stream cannot be resynchronised.
      connection.input.clear();
      Respond(connection, nullptr, ErrorResponse(result.error_status), false);
      return false;
    }
    connection.input.erase(0, result.consumed);
    const std::size_t skip_now = std::min(request.body_length, connection.input.size());
    connection.input.erase(0, skip_now);
    connection.body_to_skip = request.body_length - skip_now;

    HttpResponse response;
    if (request.method != "GET" && request.method != "HEAD") {
      response = ErrorResponse(405);
      response.extra_headers.emplace_back("Allow", "GET, HEAD");
    } else {
      try {
        response = handler_(request);
      } catch (const std::exception& error) {
        std::fprintf(stderr, "vesk-sim: handler failed for %s: %s\n", request.target.c_str(),
                     error.what());
        response = ErrorResponse(500);
      }
    }
    Respond(connection, &request, response, request.keep_alive);
  }
  return false;
}

void HttpServer::Respond(Connection& connection, const HttpRequest* request,
                         const HttpResponse& response, bool keep_alive) {
  if (!connection.OutputPending()) {
    connection.output.clear();
    connection.output_offset = 0;
  }
  connection.output += SerializeResponseHead(response, keep_alive, std::time(nullptr));
  const bool head_only = request != nullptr && request->method == "HEAD";
  if (!head_only) connection.output += response.body;
  if (!keep_alive) connection.refuse_more = true;
  if (options_.log) {
    const std::string method = request != nullptr ? request->method : "-";
    const std::string target = request != nullptr ? request->target : "-";
    std::fprintf(stderr, "vesk-sim: conn %llu %s %s %d %zu\n",
                 static_cast<unsigned long long>(connection.id), method.c_str(), target.c_str(),
                 response.status, response.body.size());
    std::fflush(stderr);
  }
}

// Sends what the socket takes now. Returns true when nothing is left to send.
bool HttpServer::Flush(Connection& connection) {
  while (connection.OutputPending()) {
    const ssize_t sent =
        ::send(connection.fd.get(), connection.output.data() + connection.output_offset,
               connection.output.size() - connection.output_offset, MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) connection.closed = true;
      return false;
    }
    connection.output_offset += static_cast<std::size_t>(sent);
    connection.last_activity = Clock::now();
  }
  connection.output.clear();
  connection.output_offset = 0;
  return true;
}

}  // namespace sim
