#include "platform/TlsSocket.h"

#include <arpa/inet.h>
#include <errno.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdint>
#include <utility>

#include "platform/Exceptions.h"
#include "platform/FileSystem.h"

namespace platform {

void SslContextFree::operator()(ssl_ctx_st* context) const { SSL_CTX_free(context); }
void SslFree::operator()(ssl_st* ssl) const { SSL_free(ssl); }

namespace {

using Clock = std::chrono::steady_clock;

// What OpenSSL may read from the socket at once with read-ahead on.
constexpr std::size_t kReadAheadBytes = 64 * 1024;

// The reason of the oldest queued OpenSSL error, emptying the queue;
// fallback when none is queued.
std::string QueuedReason(const char* fallback) {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return fallback;
  const char* reason = ERR_reason_error_string(code);
  if (reason != nullptr) return reason;
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return text;
}

[[noreturn]] void RaiseTls(const std::string& reason) { throw EIdTLSError("TLS: " + reason); }

[[noreturn]] void RaiseCutShort() {
  throw EIdConnClosedGracefully("Connection Closed Gracefully.");
}

// The socket BIO of OpenSSL writes with write(2), which raises SIGPIPE on a
// connection the peer has reset; this one sends with MSG_NOSIGNAL instead
// and never blocks, so that every wait goes through TcpSocket::Wait.
int SocketFd(BIO* bio) {
  return static_cast<int>(reinterpret_cast<std::intptr_t>(BIO_get_data(bio)));
}

int BioWrite(BIO* bio, const char* data, int size) {
  BIO_clear_retry_flags(bio);
  for (;;) {
    const ssize_t sent =
        ::send(SocketFd(bio), data, static_cast<std::size_t>(size), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent >= 0) return static_cast<int>(sent);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) BIO_set_retry_write(bio);
    return -1;
  }
}

int BioRead(BIO* bio, char* data, int size) {
  BIO_clear_retry_flags(bio);
  for (;;) {
    const ssize_t received =
        ::recv(SocketFd(bio), data, static_cast<std::size_t>(size), MSG_DONTWAIT);
    // OpenSSL tells a stream that ended without close_notify by BIO_eof.
    if (received == 0) BIO_set_flags(bio, BIO_FLAGS_IN_EOF);
    if (received >= 0) return static_cast<int>(received);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) BIO_set_retry_read(bio);
    return -1;
  }
}

long BioControl(BIO* bio, int command, long, void*) {
  if (command == BIO_CTRL_FLUSH) return 1;
  if (command == BIO_CTRL_EOF) return BIO_test_flags(bio, BIO_FLAGS_IN_EOF) != 0 ? 1 : 0;
  return 0;
}

int BioCreate(BIO* bio) {
  BIO_set_init(bio, 1);
  return 1;
}

struct BioMethodFree {
  void operator()(BIO_METHOD* method) const { BIO_meth_free(method); }
};

const BIO_METHOD* SocketBioMethod() {
  static const std::unique_ptr<BIO_METHOD, BioMethodFree> method = [] {
    std::unique_ptr<BIO_METHOD, BioMethodFree> made(
        BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "vesk socket"));
    if (made) {
      BIO_meth_set_write(made.get(), BioWrite);
      BIO_meth_set_read(made.get(), BioRead);
      BIO_meth_set_ctrl(made.get(), BioControl);
      BIO_meth_set_create(made.get(), BioCreate);
    }
    return made;
  }();
  return method.get();
}

bool IsAddressLiteral(const std::string& host) {
  unsigned char address[16];
  return ::inet_pton(AF_INET, host.c_str(), address) == 1 ||
         ::inet_pton(AF_INET6, host.c_str(), address) == 1;
}

int MillisecondsLeft(const std::optional<Clock::time_point>& deadline) {
  if (!deadline) return TcpSocket::kNoTimeout;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
  if (left <= 0) throw EIdReadTimeout("Read Timeout");
  return static_cast<int>(left);
}

std::optional<Clock::time_point> DeadlineAfter(int timeout_ms) {
  if (timeout_ms == TcpSocket::kNoTimeout) return std::nullopt;
  return Clock::now() + std::chrono::milliseconds(timeout_ms);
}

// Why a handshake failed: the verification's verdict when there was one,
// else what OpenSSL or the socket reported.
[[noreturn]] void RaiseHandshakeFailure(ssl_st* ssl, int error) {
  const long verdict = SSL_get_verify_result(ssl);
  if (verdict == X509_V_ERR_HOSTNAME_MISMATCH) RaiseTls("host name mismatch");
  if (verdict == X509_V_ERR_IP_ADDRESS_MISMATCH) RaiseTls("IP address mismatch");
  if (verdict != X509_V_OK) {
    std::string reason =
        std::string("certificate verify failed: ") + X509_verify_cert_error_string(verdict);
    // A chain that ends in a certificate no trusted CA signed is mostly a
    // private CA, which the operator can name.
    if (verdict == X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT ||
        verdict == X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN ||
        verdict == X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT ||
        verdict == X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY) {
      reason += "; set TlsCaFile to the CA certificate that signed it";
    }
    RaiseTls(reason);
  }
  if (error == SSL_ERROR_SYSCALL && errno != 0 && ERR_peek_error() == 0)
    RaiseTls("handshake failed: " + SystemErrorText(errno));
  RaiseTls("handshake failed: " + QueuedReason("connection closed"));
}

}  // namespace

TlsContext::TlsContext(const std::string& ca_file) : ca_file_(ca_file) {
  ERR_clear_error();
  context_.reset(SSL_CTX_new(TLS_client_method()));
  if (!context_) RaiseTls(QueuedReason("cannot create a context"));
  SSL_CTX_set_min_proto_version(context_.get(), TLS1_2_VERSION);
  SSL_CTX_set_verify(context_.get(), SSL_VERIFY_PEER, nullptr);
  SSL_CTX_set_mode(context_.get(), SSL_MODE_ENABLE_PARTIAL_WRITE);
  // Records are read from the socket several at a time rather than header
  // and body apart: a large body costs a quarter of the receive calls.
  SSL_CTX_set_read_ahead(context_.get(), 1);
  SSL_CTX_set_default_read_buffer_len(context_.get(), kReadAheadBytes);
  if (ca_file.empty()) {
    if (SSL_CTX_set_default_verify_paths(context_.get()) != 1)
      RaiseTls("cannot load the system's certificate store: " + QueuedReason("unknown error"));
    return;
  }
  // OpenSSL would wait forever on a FIFO.
  struct stat status {};
  if (::stat(ca_file.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
    RaiseTls("CA file \"" + ca_file + "\" is not a readable regular file");
  if (SSL_CTX_load_verify_locations(context_.get(), ca_file.c_str(), nullptr) != 1)
    RaiseTls("cannot load the CA file \"" + ca_file + "\": " + QueuedReason("unknown error"));
}

TlsSocket TlsSocket::Handshake(TcpSocket socket, const TlsContext& context, const std::string& host,
                               int timeout_ms) {
  const auto deadline = DeadlineAfter(timeout_ms);
  TlsSocket tls;
  tls.socket_ = std::move(socket);
  ERR_clear_error();
  tls.ssl_.reset(SSL_new(context.Get()));
  BIO* bio = tls.ssl_ ? BIO_new(SocketBioMethod()) : nullptr;
  if (bio == nullptr) RaiseTls(QueuedReason("cannot create a connection"));
  BIO_set_data(bio, reinterpret_cast<void*>(static_cast<std::intptr_t>(tls.socket_.Handle())));
  SSL_set_bio(tls.ssl_.get(), bio, bio);
  ssl_st* ssl = tls.ssl_.get();
  // An address is checked against the certificate's IP addresses; SNI
  // carries host names only.
  const bool set = IsAddressLiteral(host)
                       ? X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host.c_str()) == 1
                       : SSL_set_tlsext_host_name(ssl, host.c_str()) == 1 &&
                             SSL_set1_host(ssl, host.c_str()) == 1;
  if (!set) RaiseTls("cannot check the name \"" + host + "\": " + QueuedReason("unknown error"));
  SSL_set_hostflags(ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
  for (;;) {
    ERR_clear_error();
    errno = 0;
    const int result = SSL_connect(ssl);
    if (result == 1) return tls;
    const int error = SSL_get_error(ssl, result);
    if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE)
      RaiseHandshakeFailure(ssl, error);
    if (!tls.socket_.Wait(error == SSL_ERROR_WANT_WRITE, MillisecondsLeft(deadline)))
      throw EIdReadTimeout("Read Timeout");
  }
}

void TlsSocket::Close() {
  // Only a stream that is still in order gets its close_notify; the result
  // does not matter, as nothing more is read.
  if (ssl_ && end_ == End::kOpen && SSL_is_init_finished(ssl_.get())) {
    ERR_clear_error();
    SSL_shutdown(ssl_.get());
    ERR_clear_error();
  }
  ssl_.reset();
  socket_.Close();
  end_ = End::kOpen;
}

std::optional<std::size_t> TlsSocket::ReadOnce(char* buffer, std::size_t max_bytes,
                                               bool* for_writing) {
  ERR_clear_error();
  errno = 0;
  std::size_t read = 0;
  if (SSL_read_ex(ssl_.get(), buffer, max_bytes, &read) == 1) return read;
  const int error = SSL_get_error(ssl_.get(), 0);
  switch (error) {
    case SSL_ERROR_WANT_READ:
    case SSL_ERROR_WANT_WRITE:
      *for_writing = error == SSL_ERROR_WANT_WRITE;
      return std::nullopt;
    case SSL_ERROR_ZERO_RETURN:
      end_ = End::kCloseNotify;
      return 0;
    case SSL_ERROR_SYSCALL:
      if (errno != 0 && ERR_peek_error() == 0) {
        const int code = errno;
        throw EIdSocketError(SocketErrorMessage(code, SystemErrorText(code)));
      }
      end_ = End::kCutShort;
      return 0;
    default:
      if (ERR_GET_REASON(ERR_peek_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
        ERR_clear_error();
        end_ = End::kCutShort;
        return 0;
      }
      RaiseTls(QueuedReason("record layer failure"));
  }
}

std::size_t TlsSocket::Ended() {
  if (end_ == End::kCutShort) RaiseCutShort();
  return 0;
}

std::size_t TlsSocket::Receive(char* buffer, std::size_t max_bytes, int timeout_ms) {
  if (!ssl_) throw EIdNotConnected("Not Connected");
  if (end_ != End::kOpen) return Ended();
  std::optional<Clock::time_point> deadline;
  std::size_t received = 0;
  for (;;) {
    bool for_writing = false;
    const std::optional<std::size_t> read =
        ReadOnce(buffer + received, max_bytes - received, &for_writing);
    if (read) {
      received += *read;
      // A record holds at most 16 KiB: take what else has already arrived,
      // and leave an end for the next call.
      if (end_ != End::kOpen || received == max_bytes) break;
      continue;
    }
    if (received > 0) break;
    if (!deadline) deadline = DeadlineAfter(timeout_ms);
    if (!socket_.Wait(for_writing, MillisecondsLeft(deadline)))
      throw EIdReadTimeout("Read Timeout");
  }
  if (received == 0) return Ended();
  return received;
}

std::optional<std::size_t> TlsSocket::ReceiveNow(char* buffer, std::size_t max_bytes) {
  if (!ssl_) throw EIdNotConnected("Not Connected");
  if (end_ != End::kOpen) return 0;
  bool for_writing = false;
  return ReadOnce(buffer, max_bytes, &for_writing);
}

void TlsSocket::SendAll(const char* data, std::size_t size, int timeout_ms) {
  if (!ssl_) throw EIdNotConnected("Not Connected");
  std::size_t sent = 0;
  while (sent < size) {
    ERR_clear_error();
    errno = 0;
    std::size_t written = 0;
    if (SSL_write_ex(ssl_.get(), data + sent, size - sent, &written) == 1) {
      sent += written;
      continue;
    }
    const int error = SSL_get_error(ssl_.get(), 0);
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
      if (!socket_.Wait(error == SSL_ERROR_WANT_WRITE, timeout_ms))
        throw EIdSocketError(SocketErrorMessage(ETIMEDOUT, SystemErrorText(ETIMEDOUT)));
      continue;
    }
    if (error == SSL_ERROR_SYSCALL && errno != 0 && ERR_peek_error() == 0) {
      const int code = errno;
      throw EIdSocketError(SocketErrorMessage(code, SystemErrorText(code)));
    }
    RaiseTls(QueuedReason("connection closed"));
  }
}

}  // namespace platform
