#include "platform/TcpSocket.h"

#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <utility>

#include "platform/Exceptions.h"
#include "platform/FileSystem.h"
#include "platform/HostLookup.h"

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

std::string ErrnoText(int code) { return SystemErrorText(code); }

[[noreturn]] void RaiseSocketError(int code) {
  throw EIdSocketError(SocketErrorMessage(code, ErrnoText(code)));
}

// Milliseconds left until deadline for poll: -1 without a deadline, never
// negative otherwise.
int RemainingMs(const std::optional<Clock::time_point>& deadline) {
  if (!deadline) return -1;
  auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

std::optional<Clock::time_point> DeadlineAfter(int timeout_ms) {
  if (timeout_ms == TcpSocket::kNoTimeout) return std::nullopt;
  return Clock::now() + std::chrono::milliseconds(timeout_ms);
}

// Waits for events on fd until the deadline; false when it passed first.
// Restarts after signals with the time that is left.
bool WaitFor(int fd, short events, const std::optional<Clock::time_point>& deadline) {
  for (;;) {
    pollfd entry{fd, events, 0};
    int ready = ::poll(&entry, 1, RemainingMs(deadline));
    if (ready > 0) return true;
    if (ready == 0) return false;
    if (errno != EINTR) RaiseSocketError(errno);
  }
}

}  // namespace

void TcpSocket::Close() { fd_ = FileDescriptor(); }

TcpSocket TcpSocket::Connect(const std::string& host, int port, int timeout_ms) {
  auto deadline = DeadlineAfter(timeout_ms);

  // The name is resolved within the connect's own time: a resolver that
  // hangs is a connect that times out.
  const HostAddresses found = LookUpHost(host, port, deadline);
  if (found.timed_out) throw EIdConnectTimeout("Connect timed out.");
  if (found.endpoints.empty())
    throw EIdSocketError(SocketErrorMessage(found.error_code, found.error));

  int last_error = EHOSTUNREACH;
  for (const SocketAddress& address : found.endpoints) {
    TcpSocket socket(::socket(address.family, address.socket_type | SOCK_NONBLOCK | SOCK_CLOEXEC,
                              address.protocol));
    if (!socket.IsOpen()) {
      last_error = errno;
      continue;
    }
    const auto* peer = reinterpret_cast<const sockaddr*>(&address.address);
    if (::connect(socket.fd_.get(), peer, address.length) == 0) return socket;
    if (errno != EINPROGRESS) {
      last_error = errno;
      continue;
    }
    if (!WaitFor(socket.fd_.get(), POLLOUT, deadline))
      throw EIdConnectTimeout("Connect timed out.");
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(socket.fd_.get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
    if (error == 0) return socket;
    last_error = error;
  }
  throw EIdConnectException(ErrnoText(last_error));
}

bool TcpSocket::Wait(bool for_writing, int timeout_ms) {
  if (!fd_.valid()) throw EIdNotConnected("Not Connected");
  return WaitFor(fd_.get(), for_writing ? POLLOUT : POLLIN, DeadlineAfter(timeout_ms));
}

std::optional<std::size_t> TcpSocket::TryReceive(char* buffer, std::size_t max_bytes,
                                                 int timeout_ms) {
  if (!fd_.valid()) throw EIdNotConnected("Not Connected");
  std::optional<Clock::time_point> deadline;
  bool waited = false;
  for (;;) {
    // Try first and wait only when nothing is there: a stream that keeps the
    // socket filled costs one call per block instead of two.
    ssize_t received = ::recv(fd_.get(), buffer, max_bytes, MSG_DONTWAIT);
    if (received >= 0) return static_cast<std::size_t>(received);
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) RaiseSocketError(errno);
    if (!waited) {
      deadline = DeadlineAfter(timeout_ms);
      waited = true;
    }
    if (!WaitFor(fd_.get(), POLLIN, deadline)) return std::nullopt;
  }
}

std::optional<std::size_t> TcpSocket::ReceiveNow(char* buffer, std::size_t max_bytes) {
  if (!fd_.valid()) throw EIdNotConnected("Not Connected");
  for (;;) {
    ssize_t received = ::recv(fd_.get(), buffer, max_bytes, MSG_DONTWAIT);
    if (received >= 0) return static_cast<std::size_t>(received);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return std::nullopt;
    RaiseSocketError(errno);
  }
}

std::size_t TcpSocket::Receive(char* buffer, std::size_t max_bytes, int timeout_ms) {
  auto received = TryReceive(buffer, max_bytes, timeout_ms);
  if (!received) throw EIdReadTimeout("Read Timeout");
  return *received;
}

void TcpSocket::SendAll(const char* data, std::size_t size, int timeout_ms) {
  if (!fd_.valid()) throw EIdNotConnected("Not Connected");
  std::size_t sent = 0;
  while (sent < size) {
    ssize_t count = ::send(fd_.get(), data + sent, size - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (count >= 0) {
      sent += static_cast<std::size_t>(count);
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) RaiseSocketError(errno);
    if (!WaitFor(fd_.get(), POLLOUT, DeadlineAfter(timeout_ms))) RaiseSocketError(ETIMEDOUT);
  }
}

}  // namespace platform
