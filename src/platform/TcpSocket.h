// A connected TCP stream socket for the HTTP client, the plain Transport:
// name resolution through platform/HostLookup.h (IPv4 and IPv6), a connect
// bounded in time, receives bounded in time and a send that writes
// everything. Failures raise the EId* classes of platform/Exceptions.h with
// the messages the exception report shows.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "platform/FileDescriptor.h"
#include "platform/Transport.h"

namespace platform {

class TcpSocket final : public Transport {
 public:
  TcpSocket() = default;
  TcpSocket(TcpSocket&& other) noexcept = default;
  TcpSocket& operator=(TcpSocket&& other) noexcept = default;
  TcpSocket(const TcpSocket&) = delete;
  TcpSocket& operator=(const TcpSocket&) = delete;

  // Resolves host and connects to the first of its addresses that accepts,
  // trying them in the resolver's order, all within timeout_ms milliseconds
  // together, name resolution included (kNoTimeout: no limit). Raises EIdSocketError when the name
  // does not resolve, EIdConnectTimeout "Connect timed out." when the time runs out, and
  // EIdConnectException with the system's text when every address refuses or fails.
  static TcpSocket Connect(const std::string& host, int port, int timeout_ms);

  bool IsOpen() const { return fd_.valid(); }
  bool Secure() const override { return false; }
  void Close();
  // The descriptor, for a layer that runs its own protocol over the socket
  // (TLS); the socket keeps owning it.
  int Handle() const { return fd_.get(); }

  // Waits at most timeout_ms (kNoTimeout: no limit) until the socket can be
  // read, or written when for_writing; false when the time ran out first.
  bool Wait(bool for_writing, int timeout_ms);

  // Receives at most max_bytes into buffer, waiting at most timeout_ms for
  // the first byte (kNoTimeout: no limit). Returns the count received, 0 when
  // the peer has closed its side, and nullopt when the wait ran out. A reset
  // or other failure raises EIdSocketError.
  std::optional<std::size_t> TryReceive(char* buffer, std::size_t max_bytes, int timeout_ms);

  // Receives what is already waiting, without waiting: the count received,
  // 0 when the peer has closed its side, nullopt when nothing is there. A
  // reset or other failure raises EIdSocketError.
  std::optional<std::size_t> ReceiveNow(char* buffer, std::size_t max_bytes) override;

  // As TryReceive, but a wait that runs out raises EIdReadTimeout "Read Timeout".
  std::size_t Receive(char* buffer, std::size_t max_bytes, int timeout_ms) override;

  // Sends all bytes; each wait for room in the send buffer is bounded by
  // timeout_ms. Failures raise EIdSocketError.
  void SendAll(const char* data, std::size_t size, int timeout_ms) override;

 private:
  explicit TcpSocket(int fd) : fd_(fd) {}

  FileDescriptor fd_;
};

}  // namespace platform
