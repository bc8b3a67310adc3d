// UDP datagrams over IPv4: a move-only socket that is bound to one local
// address, can send one datagram to an address or to the limited broadcast
// address, and the machine's local IPv4 addresses.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/Exceptions.h"
#include "platform/FileDescriptor.h"

namespace platform {

// A failed socket operation. With a system error the message reads
// "Socket Error # <errno>\r\n<reason>" like the TCP client's socket errors;
// a failure without one (an invalid port, an unknown host) has ErrorNumber()
// 0 and the text alone as its message.
class UdpSocketError : public EIdSocketError {
 public:
  UdpSocketError(int error_number, const std::string& text);
  int ErrorNumber() const { return error_number_; }

 private:
  int error_number_;
};

// The IPv4 addresses of the interfaces that are up, in dotted form, in the
// order the system lists them (loopback included). Throws UdpSocketError when
// the list cannot be read.
std::vector<std::string> LocalIPv4Addresses();

// The first IPv4 address of a host name or dotted address, in dotted form.
// Throws UdpSocketError when it does not resolve.
std::string ResolveIPv4(const std::string& host);

class UdpSocket {
 public:
  // Creates an IPv4 datagram socket; throws UdpSocketError.
  UdpSocket();
  UdpSocket(UdpSocket&& other) noexcept = default;
  UdpSocket& operator=(UdpSocket&& other) noexcept = default;

  // Binds to a local dotted IPv4 address with an ephemeral port.
  void Bind(const std::string& local_address);

  // Sends payload as one datagram to a dotted IPv4 address and port
  // (1 to 65535). A broadcast destination is refused by the system unless
  // the socket has broadcast permission, which only SendBroadcast grants.
  void SendTo(std::string_view payload, const std::string& address, int port);

  // Sends payload as one datagram to 255.255.255.255 on port. Broadcast
  // permission is granted for this send only and withdrawn again afterwards,
  // so that nothing else sent on the socket can go to a broadcast address.
  void SendBroadcast(std::string_view payload, int port);

  // Closes the socket; later operations fail. Closing twice is harmless.
  void Close();

 private:
  void SetBroadcast(bool enabled);

  FileDescriptor fd_;
};

}  // namespace platform
