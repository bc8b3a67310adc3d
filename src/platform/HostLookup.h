// Name resolution on its own, without a connection: what an installation
// check needs to tell whether the configured hosts can be reached by name.
#pragma once

#include <string>
#include <vector>

namespace platform {

struct HostAddresses {
  // The numeric addresses in the resolver's order, each once; empty when
  // the name did not resolve.
  std::vector<std::string> addresses;
  // Why the name did not resolve (the resolver's text); empty on success.
  std::string error;
};

// Resolves host for a TCP connection to port the way the HTTP client does
// (IPv4 and IPv6). Only the resolver is asked; nothing else is sent.
HostAddresses LookUpHost(const std::string& host, int port);

}  // namespace platform
