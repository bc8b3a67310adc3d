#include "platform/Udp.h"

#include <arpa/inet.h>
#include <errno.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <utility>

#include "platform/FileSystem.h"

namespace platform {
namespace {

constexpr int kMinPort = 1;
constexpr int kMaxPort = 65535;

std::string ErrnoText(int error_number) { return SystemErrorText(error_number); }

[[noreturn]] void ThrowErrno(int error_number) {
  throw UdpSocketError(error_number, ErrnoText(error_number));
}

sockaddr_in MakeAddress(const std::string& dotted, int port) {
  if (port < kMinPort || port > kMaxPort) {
    throw UdpSocketError(0, "Invalid port " + std::to_string(port));
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  if (inet_pton(AF_INET, dotted.c_str(), &address.sin_addr) != 1) {
    throw UdpSocketError(0, "Invalid IPv4 address \"" + dotted + "\"");
  }
  return address;
}

struct IfAddrsDeleter {
  void operator()(ifaddrs* list) const { freeifaddrs(list); }
};

struct AddrInfoDeleter {
  void operator()(addrinfo* list) const { freeaddrinfo(list); }
};

std::string Dotted(const in_addr& address) {
  char text[INET_ADDRSTRLEN];
  if (inet_ntop(AF_INET, &address, text, sizeof text) == nullptr) ThrowErrno(errno);
  return text;
}

}  // namespace

UdpSocketError::UdpSocketError(int error_number, const std::string& text)
    : EIdSocketError("EIdSocketError",
                     error_number == 0 ? text : SocketErrorMessage(error_number, text)),
      error_number_(error_number) {}

std::vector<std::string> LocalIPv4Addresses() {
  ifaddrs* raw = nullptr;
  if (getifaddrs(&raw) != 0) ThrowErrno(errno);
  std::unique_ptr<ifaddrs, IfAddrsDeleter> list(raw);
  std::vector<std::string> addresses;
  for (const ifaddrs* entry = list.get(); entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
    if ((entry->ifa_flags & IFF_UP) == 0) continue;
    sockaddr_in address;
    std::memcpy(&address, entry->ifa_addr, sizeof address);
    addresses.push_back(Dotted(address.sin_addr));
  }
  return addresses;
}

std::string ResolveIPv4(const std::string& host) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* raw = nullptr;
  const int status = getaddrinfo(host.c_str(), nullptr, &hints, &raw);
  if (status != 0) {
    const int error_number = status == EAI_SYSTEM ? errno : 0;
    throw UdpSocketError(error_number,
                         "Cannot resolve host \"" + host + "\": " + gai_strerror(status));
  }
  std::unique_ptr<addrinfo, AddrInfoDeleter> list(raw);
  for (const addrinfo* entry = list.get(); entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_family != AF_INET || entry->ai_addr == nullptr) continue;
    sockaddr_in address;
    std::memcpy(&address, entry->ai_addr, sizeof address);
    return Dotted(address.sin_addr);
  }
  throw UdpSocketError(0, "Host \"" + host + "\" has no IPv4 address");
}

UdpSocket::UdpSocket() : fd_(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
  if (!fd_.valid()) ThrowErrno(errno);
}

void UdpSocket::Close() { fd_ = FileDescriptor(); }

void UdpSocket::Bind(const std::string& local_address) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = 0;
  if (inet_pton(AF_INET, local_address.c_str(), &address.sin_addr) != 1) {
    throw UdpSocketError(0, "Invalid IPv4 address \"" + local_address + "\"");
  }
  if (bind(fd_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ThrowErrno(errno);
  }
}

void UdpSocket::SendTo(std::string_view payload, const std::string& address, int port) {
  const sockaddr_in destination = MakeAddress(address, port);
  const ssize_t sent = sendto(fd_.get(), payload.data(), payload.size(), MSG_NOSIGNAL,
                              reinterpret_cast<const sockaddr*>(&destination), sizeof destination);
  if (sent < 0) ThrowErrno(errno);
  // A datagram is sent whole or not at all; anything else is a system fault.
  if (static_cast<std::size_t>(sent) != payload.size()) ThrowErrno(EMSGSIZE);
}

void UdpSocket::SendBroadcast(std::string_view payload, int port) {
  SetBroadcast(true);
  try {
    SendTo(payload, "255.255.255.255", port);
  } catch (...) {
    // Withdraw the permission even when the send failed; a second failure
    // must not hide the first.
    const int off = 0;
    setsockopt(fd_.get(), SOL_SOCKET, SO_BROADCAST, &off, sizeof off);
    throw;
  }
  SetBroadcast(false);
}

void UdpSocket::SetBroadcast(bool enabled) {
  const int value = enabled ? 1 : 0;
  if (setsockopt(fd_.get(), SOL_SOCKET, SO_BROADCAST, &value, sizeof value) != 0) ThrowErrno(errno);
}

}  // namespace platform
