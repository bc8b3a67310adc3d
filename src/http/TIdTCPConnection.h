// The client's connection, plain TCP or TLS over it: the transport, its
// input buffer, and the read time-out that bounds every wait for bytes, the
// TLS handshake's included. Past the connect, plain and TLS connections take
// the same path.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "http/ByteSource.h"
#include "http/InputBuffer.h"
#include "platform/TlsSocket.h"
#include "platform/Transport.h"

namespace http {

class TIdTCPConnection : private ByteSource {
 public:
  static constexpr std::size_t kRecvBufferSize = 32768;

  TIdTCPConnection() = default;
  TIdTCPConnection(const TIdTCPConnection&) = delete;
  TIdTCPConnection& operator=(const TIdTCPConnection&) = delete;

  // Connects within the read time-out (0: a connect without limit), with
  // tls runs the TLS handshake for host within it again, and starts with an
  // empty input buffer.
  void Connect(const std::string& host, int port, bool tls);
  // Open until it is closed here or the peer's close has been seen.
  bool Connected() const { return transport_ != nullptr; }
  bool Secure() const { return transport_ && transport_->Secure(); }
  void Disconnect();

  // The PEM bundle TLS connections verify certificates against; empty: the
  // system's store.
  void SetTlsCaFile(const std::string& path) { tls_ca_file_ = path; }

  // Checks an idle kept-alive connection before it carries a request: a
  // read of at most 1 millisecond. A connection the peer has closed or
  // reset, or one with bytes nobody asked for (its stream is out of step),
  // is closed.
  void Probe();

  // Sends the bytes in one go.
  void Write(const std::string& bytes);

  InputBuffer& Input() { return input_; }

  // Every byte the input buffer has received over this client's
  // connections, so that a caller can tell whether any byte of an answer
  // arrived since it sent a request.
  std::uint64_t BytesReceived() const { return bytes_received_; }

  // Milliseconds; 0 means no limit.
  int ReadTimeout() const { return read_timeout_; }
  void SetReadTimeout(int milliseconds) { read_timeout_ = milliseconds; }

  // A moment after which no wait may end: every connect, send and receive
  // is bounded by the time left until it as well as by the read time-out,
  // and a wait cut short by it fails as a read that timed out. nullopt: no
  // such moment.
  using Clock = std::chrono::steady_clock;
  void SetDeadline(std::optional<Clock::time_point> deadline) { deadline_ = deadline; }

 private:
  // The limit of one wait in milliseconds (0: none): the read time-out, or
  // the time left until the deadline when that is shorter. Raises
  // EIdReadTimeout once the deadline has passed.
  int WaitLimitMs() const;
  // True when the deadline has passed: a wait that ran out then ran out
  // because of it.
  bool DeadlinePassed() const;

  std::size_t Receive(char* buffer, std::size_t max_bytes) override;

  // Null while not connected.
  std::unique_ptr<platform::Transport> transport_;
  std::string tls_ca_file_;
  // Made for the first TLS connection, and again when the bundle changes.
  std::optional<platform::TlsContext> tls_context_;
  InputBuffer input_{*this, kRecvBufferSize};
  int read_timeout_ = 0;
  std::optional<Clock::time_point> deadline_;
  std::uint64_t bytes_received_ = 0;
};

}  // namespace http
