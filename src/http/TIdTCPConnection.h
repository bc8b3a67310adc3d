// The client's TCP connection: the socket, its input buffer, and the read
// time-out that bounds every wait for bytes.
#pragma once

#include <cstddef>
#include <string>

#include "http/ByteSource.h"
#include "http/InputBuffer.h"
#include "platform/TcpSocket.h"

namespace http {

class TIdTCPConnection : private ByteSource {
 public:
  static constexpr std::size_t kRecvBufferSize = 32768;

  TIdTCPConnection() = default;
  TIdTCPConnection(const TIdTCPConnection&) = delete;
  TIdTCPConnection& operator=(const TIdTCPConnection&) = delete;

  // Connects within the read time-out (0: a connect without limit) and
  // starts with an empty input buffer.
  void Connect(const std::string& host, int port);
  // Open until it is closed here or the peer's close has been seen.
  bool Connected() const { return socket_.IsOpen(); }
  void Disconnect();

  // Checks an idle kept-alive connection before it carries a request: a
  // read of at most 1 millisecond. A connection the peer has closed or
  // reset, or one with bytes nobody asked for (its stream is out of step),
  // is closed.
  void Probe();

  // Sends the bytes in one go.
  void Write(const std::string& bytes);

  InputBuffer& Input() { return input_; }

  // Milliseconds; 0 means no limit.
  int ReadTimeout() const { return read_timeout_; }
  void SetReadTimeout(int milliseconds) { read_timeout_ = milliseconds; }

 private:
  // The limit of one wait for bytes. Every wait of the connection asks here,
  // so an overall limit for a whole GET can join the read time-out in this
  // one place.
  int WaitLimitMs() const { return read_timeout_; }

  std::size_t Receive(char* buffer, std::size_t max_bytes) override;

  platform::TcpSocket socket_;
  InputBuffer input_{*this, kRecvBufferSize};
  int read_timeout_ = 0;
};

}  // namespace http
