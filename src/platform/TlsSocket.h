// TLS over a connected TCP socket, through OpenSSL, the secure Transport:
// the client handshake with SNI, chain verification and the host-name or
// IP-address check, then receives and sends bounded in time as TcpSocket's
// are. Failures raise the EId* classes of platform/Exceptions.h; TLS
// failures raise EIdTLSError "TLS: " + the reason.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "platform/TcpSocket.h"
#include "platform/Transport.h"

struct ssl_st;
struct ssl_ctx_st;

namespace platform {

struct SslContextFree {
  void operator()(ssl_ctx_st* context) const;
};
struct SslFree {
  void operator()(ssl_st* ssl) const;
};

// The settings every TLS connection of a client shares: TLS 1.2 at least,
// the peer's certificate always verified, against the PEM bundle ca_file or,
// when it is empty, against the system's store.
class TlsContext {
 public:
  // Raises EIdTLSError when the bundle or the store cannot be loaded.
  explicit TlsContext(const std::string& ca_file);

  const std::string& CaFile() const { return ca_file_; }
  ssl_ctx_st* Get() const { return context_.get(); }

 private:
  std::unique_ptr<ssl_ctx_st, SslContextFree> context_;
  std::string ca_file_;
};

class TlsSocket final : public Transport {
 public:
  TlsSocket() = default;
  ~TlsSocket() override { Close(); }
  TlsSocket(TlsSocket&& other) noexcept = default;
  TlsSocket& operator=(TlsSocket&& other) noexcept = default;
  TlsSocket(const TlsSocket&) = delete;
  TlsSocket& operator=(const TlsSocket&) = delete;

  // Runs the client handshake over socket within timeout_ms as a whole
  // (TcpSocket::kNoTimeout: no limit), naming host in SNI (unless it is an
  // address) and checking the certificate for it. Raises EIdReadTimeout
  // "Read Timeout" when the time runs out and EIdTLSError when the handshake
  // or the verification fails.
  static TlsSocket Handshake(TcpSocket socket, const TlsContext& context, const std::string& host,
                             int timeout_ms);

  bool IsOpen() const { return socket_.IsOpen(); }
  bool Secure() const override { return true; }
  // Sends close_notify without waiting for room, then closes the socket.
  void Close();

  // Receives at most max_bytes, waiting at most timeout_ms for the first
  // byte. Returns 0 once the peer has ended the stream with close_notify.
  // A stream that ends without it is cut short: that raises
  // EIdConnClosedGracefully "Connection Closed Gracefully.", after the bytes
  // that came before the end were returned. A wait that runs out raises
  // EIdReadTimeout.
  std::size_t Receive(char* buffer, std::size_t max_bytes, int timeout_ms) override;

  // Receives what is already waiting without waiting for more: the count,
  // 0 when the stream has ended (with or without close_notify), nullopt
  // when nothing is there. Records that carry no data (session tickets) are
  // taken as they come.
  std::optional<std::size_t> ReceiveNow(char* buffer, std::size_t max_bytes) override;

  // Sends all bytes; each wait for room is bounded by timeout_ms. Failures
  // raise EIdSocketError or EIdTLSError.
  void SendAll(const char* data, std::size_t size, int timeout_ms) override;

 private:
  // How the stream ended, kept until the bytes before the end were taken.
  enum class End { kOpen, kCloseNotify, kCutShort };

  // One SSL_read: the count read, or nullopt when it has to wait for the
  // socket (for_writing tells which way); sets end_ when the stream ended.
  std::optional<std::size_t> ReadOnce(char* buffer, std::size_t max_bytes, bool* for_writing);
  std::size_t Ended();

  TcpSocket socket_;
  std::unique_ptr<ssl_st, SslFree> ssl_;
  End end_ = End::kOpen;
};

}  // namespace platform
