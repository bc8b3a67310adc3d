// Name resolution for the HTTP client and the installation check, bounded in
// time: a resolver that hangs cannot hold the run past its deadline.
#pragma once

#include <sys/socket.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// One place to connect to, as the resolver gave it.
struct SocketAddress {
  int family = 0;
  int socket_type = 0;
  int protocol = 0;
  sockaddr_storage address{};
  socklen_t length = 0;
};

struct HostAddresses {
  // The numeric addresses in the resolver's order, each once; empty when
  // the name did not resolve.
  std::vector<std::string> addresses;
  // Every address to try a connection to, in the resolver's order.
  std::vector<SocketAddress> endpoints;
  // Why the name did not resolve (the resolver's text) and its code (an
  // errno value for a system failure); empty and 0 on success.
  std::string error;
  int error_code = 0;
  // The deadline passed before the resolver answered.
  bool timed_out = false;
};

using LookupClock = std::chrono::steady_clock;

// Resolves host for a TCP connection to port (IPv4 and IPv6). Only the
// resolver is asked; nothing else is sent. With a deadline the resolver runs
// on a helper thread and the caller stops waiting at the deadline; the
// thread then finishes on its own and its answer is dropped.
HostAddresses LookUpHost(const std::string& host, int port,
                         std::optional<LookupClock::time_point> deadline = std::nullopt);

// Replaces the resolver for tests (to stand for one that hangs); an empty
// function restores getaddrinfo.
using Resolver = std::function<HostAddresses(const std::string& host, int port)>;
void SetResolverForTesting(Resolver resolver);

}  // namespace platform
