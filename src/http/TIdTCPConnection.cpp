#include "http/TIdTCPConnection.h"

#include <algorithm>
#include <utility>

#include "platform/Exceptions.h"
#include "platform/TcpSocket.h"

namespace http {

namespace {

[[noreturn]] void RaiseReadTimeout() { throw platform::EIdReadTimeout("Read Timeout"); }

}  // namespace

bool TIdTCPConnection::DeadlinePassed() const { return deadline_ && Clock::now() >= *deadline_; }

int TIdTCPConnection::WaitLimitMs() const {
  if (!deadline_) return read_timeout_;
  const auto left = *deadline_ - Clock::now();
  if (left <= Clock::duration::zero()) RaiseReadTimeout();
  // Rounded up: a wait of 0 would mean no limit at all.
  const auto left_ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  const int limit = static_cast<int>(std::min<long long>(left_ms, 0x7fffffff));
  return read_timeout_ == 0 ? limit : std::min(read_timeout_, limit);
}

void TIdTCPConnection::Connect(const std::string& host, int port, bool tls) {
  Disconnect();
  platform::TcpSocket socket;
  try {
    socket = platform::TcpSocket::Connect(host, port, WaitLimitMs());
  } catch (const platform::EIdConnectTimeout&) {
    if (DeadlinePassed()) RaiseReadTimeout();
    throw;
  }
  if (tls) {
    if (!tls_context_ || tls_context_->CaFile() != tls_ca_file_) tls_context_.emplace(tls_ca_file_);
    transport_ = std::make_unique<platform::TlsSocket>(
        platform::TlsSocket::Handshake(std::move(socket), *tls_context_, host, WaitLimitMs()));
  } else {
    transport_ = std::make_unique<platform::TcpSocket>(std::move(socket));
  }
  input_.Reset();
}

// A TLS transport sends its close_notify as it goes.
void TIdTCPConnection::Disconnect() { transport_.reset(); }

void TIdTCPConnection::Probe() {
  if (!Connected()) return;
  if (input_.Buffered() > 0) {
    Disconnect();
    return;
  }
  char byte = 0;
  try {
    // A quiet connection is still good; anything else is not. Nothing is
    // waited for: a byte or the peer's close would already be there.
    if (!transport_->ReceiveNow(&byte, 1)) return;
  } catch (const platform::EIdException&) {
  }
  Disconnect();
}

void TIdTCPConnection::Write(const std::string& bytes) {
  try {
    const int limit_ms = WaitLimitMs();
    if (!transport_) throw platform::EIdNotConnected("Not Connected");
    transport_->SendAll(bytes.data(), bytes.size(), limit_ms);
  } catch (const platform::EIdSocketError&) {
    // A send that could not finish before the deadline is the same stall as
    // a read that could not.
    if (DeadlinePassed()) RaiseReadTimeout();
    throw;
  }
}

std::size_t TIdTCPConnection::Receive(char* buffer, std::size_t max_bytes) {
  if (!transport_) throw platform::EIdNotConnected("Not Connected");
  std::size_t received = 0;
  try {
    received = transport_->Receive(buffer, max_bytes, WaitLimitMs());
  } catch (const platform::EIdConnClosedGracefully&) {
    // A TLS stream cut short is over as a closed one is.
    Disconnect();
    throw;
  }
  bytes_received_ += received;
  if (received == 0) Disconnect();
  return received;
}

}  // namespace http
