#include "http/TIdTCPConnection.h"

#include "platform/Exceptions.h"

namespace http {

void TIdTCPConnection::Connect(const std::string& host, int port) {
  Disconnect();
  socket_ = platform::TcpSocket::Connect(host, port, WaitLimitMs());
  input_.Reset();
}

void TIdTCPConnection::Disconnect() { socket_.Close(); }

void TIdTCPConnection::Probe() {
  if (!socket_.IsOpen()) return;
  if (input_.Buffered() > 0) {
    Disconnect();
    return;
  }
  char byte = 0;
  try {
    // A quiet connection is still good; anything else is not.
    if (!socket_.TryReceive(&byte, 1, 1)) return;
  } catch (const platform::EIdSocketError&) {
  }
  Disconnect();
}

void TIdTCPConnection::Write(const std::string& bytes) {
  socket_.SendAll(bytes.data(), bytes.size(), WaitLimitMs());
}

std::size_t TIdTCPConnection::Receive(char* buffer, std::size_t max_bytes) {
  if (!socket_.IsOpen()) throw platform::EIdNotConnected("Not Connected");
  std::size_t received = socket_.Receive(buffer, max_bytes, WaitLimitMs());
  if (received == 0) socket_.Close();
  return received;
}

}  // namespace http
