// A connected byte stream that requests go out over and answers come in
// over, whatever carries it: TcpSocket for plain TCP, TlsSocket for TLS over
// a TcpSocket. A user holds one without asking which it is. Every wait is
// bounded in milliseconds; the stream closes when it is destroyed.
#pragma once

#include <cstddef>
#include <optional>

namespace platform {

class Transport {
 public:
  // A wait of kNoTimeout milliseconds has no limit.
  static constexpr int kNoTimeout = 0;

  virtual ~Transport() = default;

  // True when the bytes travel encrypted and the peer's certificate was
  // checked.
  virtual bool Secure() const = 0;

  // Receives at most max_bytes into buffer, waiting at most timeout_ms for
  // the first byte. Returns the count received, 0 once the peer has ended
  // the stream in order. A stream the peer cut short raises
  // EIdConnClosedGracefully "Connection Closed Gracefully.", after the bytes
  // that came before the cut were returned; a wait that runs out raises
  // EIdReadTimeout "Read Timeout"; a reset or other failure raises
  // EIdSocketError, or EIdTLSError for a broken TLS record.
  virtual std::size_t Receive(char* buffer, std::size_t max_bytes, int timeout_ms) = 0;

  // Receives what is already waiting, without waiting: the count received,
  // 0 when the stream has ended (in order or not), nullopt when nothing is
  // there. Failures raise as Receive's do.
  virtual std::optional<std::size_t> ReceiveNow(char* buffer, std::size_t max_bytes) = 0;

  // Sends all bytes; each wait for room is bounded by timeout_ms. A wait
  // that runs out raises EIdSocketError for ETIMEDOUT; other failures raise
  // EIdSocketError or EIdTLSError.
  virtual void SendAll(const char* data, std::size_t size, int timeout_ms) = 0;

 protected:
  // Only a whole stream moves, never its interface alone.
  Transport() = default;
  Transport(const Transport&) = default;
  Transport(Transport&&) noexcept = default;
  Transport& operator=(const Transport&) = default;
  Transport& operator=(Transport&&) noexcept = default;
};

}  // namespace platform
