// A UDP socket that collects the datagrams sent to it, for tests of code
// that sends syslog lines. Every wait is bounded.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace testing_support {

struct Datagram {
  std::string payload;
  std::string source_address;  // dotted IPv4
};

class UdpListener {
 public:
  // Binds a dotted IPv4 address and port; port 0 picks an ephemeral port.
  // Throws std::runtime_error when the socket cannot be bound.
  explicit UdpListener(const std::string& address = "127.0.0.1", int port = 0);
  ~UdpListener();
  UdpListener(const UdpListener&) = delete;
  UdpListener& operator=(const UdpListener&) = delete;

  int port() const { return port_; }

  // The next datagram, or nullopt when none arrives within timeout_ms.
  std::optional<Datagram> Receive(int timeout_ms = 2000);

  // Every datagram that arrives until none has come for quiet_ms.
  std::vector<Datagram> ReceiveAll(int quiet_ms = 300);

 private:
  int fd_ = -1;
  int port_ = 0;
};

}  // namespace testing_support
