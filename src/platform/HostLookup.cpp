#include "platform/HostLookup.h"

#include <netdb.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace platform {
namespace {

struct AddrInfoFree {
  void operator()(addrinfo* list) const { ::freeaddrinfo(list); }
};

HostAddresses ResolveWithGetaddrinfo(const std::string& host, int port) {
  HostAddresses result;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* raw = nullptr;
  const int status = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &raw);
  if (status != 0) {
    const bool system = status == EAI_SYSTEM;
    result.error_code = system ? errno : status;
    result.error = system ? std::strerror(errno) : ::gai_strerror(status);
    return result;
  }
  const std::unique_ptr<addrinfo, AddrInfoFree> list(raw);
  for (const addrinfo* entry = list.get(); entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_addrlen > sizeof(sockaddr_storage)) continue;
    SocketAddress endpoint;
    endpoint.family = entry->ai_family;
    endpoint.socket_type = entry->ai_socktype;
    endpoint.protocol = entry->ai_protocol;
    std::memcpy(&endpoint.address, entry->ai_addr, entry->ai_addrlen);
    endpoint.length = entry->ai_addrlen;
    result.endpoints.push_back(endpoint);
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
  if (result.endpoints.empty()) {
    result.error = "no usable address";
    result.error_code = EAI_NONAME;
  }
  return result;
}

std::mutex& ResolverMutex() {
  static std::mutex mutex;
  return mutex;
}

Resolver& TestResolver() {
  static Resolver resolver;
  return resolver;
}

Resolver CurrentResolver() {
  const std::lock_guard<std::mutex> lock(ResolverMutex());
  return TestResolver() ? TestResolver() : Resolver(ResolveWithGetaddrinfo);
}

// What the helper thread and the caller share; whichever ends last frees it.
struct PendingLookup {
  std::mutex mutex;
  std::condition_variable done_signal;
  bool done = false;
  HostAddresses result;
};

}  // namespace

HostAddresses LookUpHost(const std::string& host, int port,
                         std::optional<LookupClock::time_point> deadline) {
  Resolver resolver = CurrentResolver();
  if (!deadline) return resolver(host, port);
  auto pending = std::make_shared<PendingLookup>();
  try {
    std::thread([pending, resolver, host, port] {
      HostAddresses result = resolver(host, port);
      const std::lock_guard<std::mutex> lock(pending->mutex);
      pending->result = std::move(result);
      pending->done = true;
      pending->done_signal.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    // No thread to spare: resolve here, without the bound.
    return resolver(host, port);
  }
  std::unique_lock<std::mutex> lock(pending->mutex);
  if (!pending->done_signal.wait_until(lock, *deadline, [&] { return pending->done; })) {
    HostAddresses late;
    late.timed_out = true;
    late.error = "name resolution timed out";
    return late;
  }
  return std::move(pending->result);
}

void SetResolverForTesting(Resolver resolver) {
  const std::lock_guard<std::mutex> lock(ResolverMutex());
  TestResolver() = std::move(resolver);
}

}  // namespace platform
