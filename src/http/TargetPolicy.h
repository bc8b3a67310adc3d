// Where the GETs of a client may go once a fetched page, not the
// configuration, names their addresses: a page on https keeps every later
// request on https, and a page may be held to its own host.
#pragma once

#include <string>
#include <vector>

#include "zub32/Config.h"

namespace http {

struct TargetPolicy {
  // Plain http is refused: what TLS brought must not lead into the clear.
  bool https_only = false;
  // When set, only the scheme, host and port below and other_hosts are
  // taken.
  bool one_origin = false;
  std::string scheme;
  std::string host;
  int port = 0;
  // Further hosts any scheme may reach (only https when https_only); a port
  // of 0 stands for the scheme's default port.
  std::vector<zub32::Endpoint> other_hosts;
  // What the refused addresses are, as a refusal names them ("Frame
  // address"), and a hint on how to allow a host, added to that refusal.
  std::string subject = "Address";
  std::string host_hint;
};

// The message that refuses a GET of address, which resolves to scheme, host
// and port; empty when the policy allows it. Host names compare without
// regard to ASCII case.
std::string TargetRefusal(const TargetPolicy& policy, const std::string& address,
                          const std::string& scheme, const std::string& host, int port);

}  // namespace http
