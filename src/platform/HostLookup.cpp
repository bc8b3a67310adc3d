#include "platform/HostLookup.h"

#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

namespace platform {
namespace {

struct AddrInfoFree {
  void operator()(addrinfo* list) const { ::freeaddrinfo(list); }
};

}  // namespace

HostAddresses LookUpHost(const std::string& host, int port) {
  HostAddresses result;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* raw = nullptr;
  const int status = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &raw);
  if (status != 0) {
    result.error = status == EAI_SYSTEM ? std::strerror(errno) : ::gai_strerror(status);
    return result;
  }
  const std::unique_ptr<addrinfo, AddrInfoFree> list(raw);
  for (const addrinfo* entry = list.get(); entry != nullptr; entry = entry->ai_next) {
    char text[NI_MAXHOST] = {};
    if (::getnameinfo(entry->ai_addr, entry->ai_addrlen, text, sizeof text, nullptr, 0,
                      NI_NUMERICHOST) != 0) {
      continue;
    }
    const std::string address(text);
    if (std::find(result.addresses.begin(), result.addresses.end(), address) ==
        result.addresses.end()) {
      result.addresses.push_back(address);
    }
  }
  if (result.addresses.empty()) result.error = "no usable address";
  return result;
}

}  // namespace platform
