// TLS for the scripted server: certificates made at run time, and a loopback
// front that ends TLS and passes the plain bytes on to a ScriptedServer, so
// that every script plays over https as it does over http.
#pragma once

#include <openssl/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

struct X509Free {
  void operator()(X509* certificate) const;
};
struct KeyFree {
  void operator()(EVP_PKEY* key) const;
};

// A certificate with its private key.
struct Credential {
  std::unique_ptr<X509, X509Free> certificate;
  std::unique_ptr<EVP_PKEY, KeyFree> key;
};

// A throw-away CA and server certificates for the kinds a test needs.
class TestCertificates {
 public:
  enum class Kind {
    kGood,        // for localhost and 127.0.0.1, issued by the CA
    kExpired,     // the same names, expired yesterday
    kOtherName,   // for other.invalid only
    kSelfSigned,  // for localhost and 127.0.0.1, issued by itself
  };

  TestCertificates();
  // Writes the CA certificate as PEM to path.
  void WriteCaFile(const std::string& path) const;
  const Credential& Server(Kind kind) const;

 private:
  Credential ca_;
  std::vector<Credential> servers_;  // by Kind
};

// Listens on 127.0.0.1; each connection is handshaken with the credential,
// then its bytes go to 127.0.0.1:backend_port and back. The end of the
// backend's stream ends the TLS stream, with close_notify unless the front
// is told to cut it short; a reset of the backend resets the client. Bounded by its lifetime like
// ScriptedServer.
class TlsFront {
 public:
  struct Options {
    std::chrono::milliseconds lifetime{10000};
    bool close_notify = true;
    // Only TLS 1.2 with this cipher list, when set ("ECDHE-ECDSA-AES128-GCM-SHA256").
    std::string tls12_ciphers;
  };

  TlsFront(const Credential& credential, std::uint16_t backend_port, Options options);
  TlsFront(const Credential& credential, std::uint16_t backend_port)
      : TlsFront(credential, backend_port, Options()) {}
  ~TlsFront();
  TlsFront(const TlsFront&) = delete;
  TlsFront& operator=(const TlsFront&) = delete;

  std::uint16_t Port() const { return port_; }
  // "https://127.0.0.1:<port>" followed by path.
  std::string Url(const std::string& path = "/") const;
  // Handshakes completed so far.
  int Handshakes() const { return handshakes_.load(); }

 private:
  void AcceptLoop();
  void Serve(int client);
  bool Alive() const;

  Options options_;
  std::uint16_t backend_port_;
  std::unique_ptr<SSL_CTX, void (*)(SSL_CTX*)> context_;
  std::chrono::steady_clock::time_point end_of_life_;
  int listener_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<bool> stopped_{false};
  std::atomic<int> handshakes_{0};
  std::mutex mutex_;
  std::vector<std::thread> threads_;
  std::thread acceptor_;
};

}  // namespace testing_support
