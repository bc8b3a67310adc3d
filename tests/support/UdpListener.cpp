#include "support/UdpListener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace testing_support {
namespace {

// Larger than any datagram, so that nothing is cut off unnoticed.
constexpr std::size_t kMaxDatagram = 65536;

std::runtime_error SystemError(const std::string& what) {
  return std::runtime_error(what + ": " + std::strerror(errno));
}

}  // namespace

UdpListener::UdpListener(const std::string& address, int port) {
  fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) throw SystemError("socket");
  const int on = 1;
  setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(static_cast<std::uint16_t>(port));
  if (inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1) {
    close(fd_);
    throw std::runtime_error("bad address " + address);
  }
  socklen_t length = sizeof local;
  if (bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
      getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
    const auto error = SystemError("bind " + address + ":" + std::to_string(port));
    close(fd_);
    throw error;
  }
  port_ = ntohs(local.sin_port);
}

UdpListener::~UdpListener() { close(fd_); }

std::optional<Datagram> UdpListener::Receive(int timeout_ms) {
  pollfd waiting{fd_, POLLIN, 0};
  if (poll(&waiting, 1, timeout_ms) <= 0) return std::nullopt;
  std::string buffer(kMaxDatagram, '\0');
  sockaddr_in source{};
  socklen_t length = sizeof source;
  const ssize_t received = recvfrom(fd_, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                    reinterpret_cast<sockaddr*>(&source), &length);
  if (received < 0) return std::nullopt;
  buffer.resize(static_cast<std::size_t>(received));
  char text[INET_ADDRSTRLEN] = "";
  inet_ntop(AF_INET, &source.sin_addr, text, sizeof text);
  return Datagram{buffer, text};
}

std::vector<Datagram> UdpListener::ReceiveAll(int quiet_ms) {
  std::vector<Datagram> all;
  while (auto datagram = Receive(quiet_ms)) all.push_back(std::move(*datagram));
  return all;
}

}  // namespace testing_support
