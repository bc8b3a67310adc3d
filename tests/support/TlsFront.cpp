#include "support/TlsFront.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <utility>

namespace testing_support {

void X509Free::operator()(X509* certificate) const { X509_free(certificate); }
void KeyFree::operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }

namespace {

using Clock = std::chrono::steady_clock;

constexpr long kDaySeconds = 24 * 60 * 60;
constexpr std::size_t kPumpBlock = 64 * 1024;
// How long one wait of the pump lasts before it looks at the clock again.
constexpr int kPollStepMs = 100;
constexpr const char* kServerNames = "DNS:localhost,IP:127.0.0.1";

void Require(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("test certificates: ") + what);
}

void AddExtension(X509* certificate, X509* issuer, int nid, const char* value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
  Require(extension != nullptr && X509_add_ext(certificate, extension, -1) == 1, "extension");
  X509_EXTENSION_free(extension);
}

// A P-256 key and a certificate for it, valid from not_before to not_after
// seconds from now, signed by issuer (itself when null).
Credential MakeCredential(const char* common_name, const char* names, bool ca, long not_before,
                          long not_after, const Credential* issuer) {
  static long serial = 1;
  Credential made;
  made.key.reset(EVP_EC_gen("P-256"));
  made.certificate.reset(X509_new());
  X509* certificate = made.certificate.get();
  Require(made.key && certificate, "key");
  X509_set_version(certificate, X509_VERSION_3);
  ASN1_INTEGER_set(X509_get_serialNumber(certificate), serial++);
  X509_gmtime_adj(X509_getm_notBefore(certificate), not_before);
  X509_gmtime_adj(X509_getm_notAfter(certificate), not_after);
  X509_set_pubkey(certificate, made.key.get());
  X509_NAME* name = X509_get_subject_name(certificate);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(common_name), -1, -1, 0);
  X509* signer = issuer ? issuer->certificate.get() : certificate;
  X509_set_issuer_name(certificate, X509_get_subject_name(signer));
  AddExtension(certificate, signer, NID_basic_constraints, ca ? "critical,CA:TRUE" : "CA:FALSE");
  AddExtension(certificate, signer, NID_key_usage,
               ca ? "critical,keyCertSign,cRLSign" : "critical,digitalSignature");
  if (names != nullptr) AddExtension(certificate, signer, NID_subject_alt_name, names);
  EVP_PKEY* signing_key = issuer ? issuer->key.get() : made.key.get();
  Require(X509_sign(certificate, signing_key, EVP_sha256()) > 0, "signature");
  return made;
}

bool WaitFor(int fd, short events, int ms) {
  pollfd entry{fd, events, 0};
  return ::poll(&entry, 1, ms) > 0;
}

bool SendAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return true;
}

}  // namespace

TestCertificates::TestCertificates() {
  ca_ = MakeCredential("VESK test CA", nullptr, true, -kDaySeconds, kDaySeconds, nullptr);
  servers_.push_back(
      MakeCredential("localhost", kServerNames, false, -kDaySeconds, kDaySeconds, &ca_));
  servers_.push_back(
      MakeCredential("localhost", kServerNames, false, -2 * kDaySeconds, -kDaySeconds, &ca_));
  servers_.push_back(
      MakeCredential("other.invalid", "DNS:other.invalid", false, -kDaySeconds, kDaySeconds, &ca_));
  servers_.push_back(
      MakeCredential("localhost", kServerNames, false, -kDaySeconds, kDaySeconds, nullptr));
}

void TestCertificates::WriteCaFile(const std::string& path) const {
  FILE* file = std::fopen(path.c_str(), "w");
  Require(file != nullptr, "CA file");
  const bool written = PEM_write_X509(file, ca_.certificate.get()) == 1;
  Require(std::fclose(file) == 0 && written, "CA file");
}

const Credential& TestCertificates::Server(Kind kind) const {
  return servers_.at(static_cast<std::size_t>(kind));
}

TlsFront::TlsFront(const Credential& credential, std::uint16_t backend_port, Options options)
    : options_(std::move(options)),
      backend_port_(backend_port),
      context_(SSL_CTX_new(TLS_server_method()), SSL_CTX_free) {
  SSL_CTX* context = context_.get();
  if (context == nullptr || SSL_CTX_use_certificate(context, credential.certificate.get()) != 1 ||
      SSL_CTX_use_PrivateKey(context, credential.key.get()) != 1)
    throw std::runtime_error("TLS front: cannot use the credential");
  SSL_CTX_set_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE);
  if (!options_.tls12_ciphers.empty()) {
    SSL_CTX_set_max_proto_version(context, TLS1_2_VERSION);
    SSL_CTX_set_cipher_list(context, options_.tls12_ciphers.c_str());
  }
  end_of_life_ = Clock::now() + options_.lifetime;
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::listen(listener_, 16) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    if (listener_ >= 0) ::close(listener_);
    throw std::runtime_error("TLS front: cannot listen on 127.0.0.1");
  }
  port_ = ntohs(address.sin_port);
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

TlsFront::~TlsFront() {
  stopped_ = true;
  if (acceptor_.joinable()) acceptor_.join();
  for (std::thread& thread : threads_) thread.join();
  ::close(listener_);
}

std::string TlsFront::Url(const std::string& path) const {
  return "https://127.0.0.1:" + std::to_string(port_) + path;
}

bool TlsFront::Alive() const { return !stopped_.load() && Clock::now() < end_of_life_; }

void TlsFront::AcceptLoop() {
  while (Alive()) {
    if (!WaitFor(listener_, POLLIN, kPollStepMs)) continue;
    const int client = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (client < 0) continue;
    std::lock_guard<std::mutex> lock(mutex_);
    threads_.emplace_back([this, client] { Serve(client); });
  }
}

void TlsFront::Serve(int client) {
  // OpenSSL writes with write(2): a client that hung up must not end the
  // test with SIGPIPE.
  sigset_t pipe_signal;
  sigemptyset(&pipe_signal);
  sigaddset(&pipe_signal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);

  const int on = 1;
  ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  std::unique_ptr<SSL, void (*)(SSL*)> ssl(SSL_new(context_.get()), SSL_free);
  SSL_set_fd(ssl.get(), client);
  int backend = -1;
  // Waits as SSL asks; false when the front's time is up.
  auto wait_as_asked = [&](int result) {
    const int error = SSL_get_error(ssl.get(), result);
    if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) return false;
    while (Alive()) {
      if (WaitFor(client, error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, kPollStepMs))
        return true;
    }
    return false;
  };
  auto ssl_write_all = [&](const char* data, std::size_t size) {
    while (size > 0) {
      std::size_t written = 0;
      const int result = SSL_write_ex(ssl.get(), data, size, &written);
      if (result == 1) {
        data += written;
        size -= written;
      } else if (!wait_as_asked(result)) {
        return false;
      }
    }
    return true;
  };

  bool handshaken = false;
  for (;;) {
    const int result = SSL_accept(ssl.get());
    if (result == 1) {
      handshaken = true;
      break;
    }
    if (!wait_as_asked(result)) break;
  }
  if (handshaken) {
    ++handshakes_;
    backend = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(backend_port_);
    if (::connect(backend, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
      handshaken = false;
  }
  std::vector<char> buffer(kPumpBlock);
  bool ended_by_backend = false;
  bool reset_by_backend = false;
  while (handshaken && Alive()) {
    pollfd entries[2] = {{client, POLLIN, 0}, {backend, POLLIN, 0}};
    ::poll(entries, 2, kPollStepMs);
    bool client_gone = false;
    for (;;) {
      std::size_t read = 0;
      const int result = SSL_read_ex(ssl.get(), buffer.data(), buffer.size(), &read);
      if (result == 1) {
        if (!SendAll(backend, buffer.data(), read)) client_gone = true;
        continue;
      }
      if (SSL_get_error(ssl.get(), result) != SSL_ERROR_WANT_READ) client_gone = true;
      break;
    }
    if (client_gone) break;
    const ssize_t received = ::recv(backend, buffer.data(), buffer.size(), MSG_DONTWAIT);
    if (received > 0) {
      if (!ssl_write_all(buffer.data(), static_cast<std::size_t>(received))) break;
    } else if (received == 0 || (errno != EAGAIN && errno != EINTR)) {
      ended_by_backend = received == 0;
      reset_by_backend = received < 0 && errno == ECONNRESET;
      break;
    }
  }
  if (ended_by_backend && options_.close_notify) SSL_shutdown(ssl.get());
  if (ended_by_backend) {
    // Keep reading until the client closes too, so that unread bytes do not
    // turn the close into a reset.
    ::shutdown(client, SHUT_WR);
    while (Alive() && WaitFor(client, POLLIN, kPollStepMs)) {
      if (::recv(client, buffer.data(), buffer.size(), 0) <= 0) break;
    }
  }
  ERR_clear_error();
  if (backend >= 0) ::close(backend);
  if (reset_by_backend) {
    // A reset of the backend's goes on to the client as a reset, after the
    // bytes before it: without Nagle's delay they are on their way already.
    linger option{1, 0};
    ::setsockopt(client, SOL_SOCKET, SO_LINGER, &option, sizeof option);
  }
  ::close(client);
}

}  // namespace testing_support
