#include "http/TIdHTTP.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <utility>

#include "platform/AsciiText.h"
#include "platform/Exceptions.h"
#include "zub32/PrintableText.h"

namespace http {

namespace {

// Sets a read time-out for one read and restores the old one afterwards,
// also when the read fails.
class ReadTimeoutOverride {
 public:
  ReadTimeoutOverride(TIdTCPConnection& connection, int milliseconds)
      : connection_(connection), saved_(connection.ReadTimeout()) {
    connection_.SetReadTimeout(milliseconds);
  }
  ~ReadTimeoutOverride() { connection_.SetReadTimeout(saved_); }
  ReadTimeoutOverride(const ReadTimeoutOverride&) = delete;
  ReadTimeoutOverride& operator=(const ReadTimeoutOverride&) = delete;

 private:
  TIdTCPConnection& connection_;
  int saved_;
};

// Bounds every wait of one GET by its deadline and the run's, and lifts the
// bound when the GET ends, however it ends.
class DeadlineScope {
 public:
  using Clock = TIdTCPConnection::Clock;
  DeadlineScope(TIdTCPConnection& connection, int milliseconds,
                std::optional<Clock::time_point> run_deadline)
      : connection_(connection) {
    std::optional<Clock::time_point> deadline = run_deadline;
    if (milliseconds > 0) {
      const Clock::time_point own = Clock::now() + std::chrono::milliseconds(milliseconds);
      deadline = deadline ? std::min(*deadline, own) : own;
    }
    connection_.SetDeadline(deadline);
  }
  ~DeadlineScope() { connection_.SetDeadline(std::nullopt); }
  DeadlineScope(const DeadlineScope&) = delete;
  DeadlineScope& operator=(const DeadlineScope&) = delete;

 private:
  TIdTCPConnection& connection_;
};

constexpr int kMaxPort = 65535;
constexpr const char* kDefaultHttpPort = "80";
constexpr const char* kDefaultHttpsPort = "443";

int ParsePort(const std::string& text) {
  std::int64_t port = 0;
  // Digits only: a sign is no part of a port.
  const bool digits = !text.empty() && std::all_of(text.begin(), text.end(),
                                                   [](char c) { return c >= '0' && c <= '9'; });
  if (!digits || !ParseDecimal(text, &port) || port > kMaxPort)
    throw platform::EIdConnectException("Invalid port \"" + zub32::PrintableBytes(text) + "\".");
  return static_cast<int>(port);
}

// The address as an error message quotes it, every unprintable byte visible.
std::string Quoted(const std::string& address) {
  return "\"" + zub32::PrintableBytes(address) + "\"";
}

// A target goes into the request line, so a control byte in it (a CR or LF
// above all) would end that line early and start one the server obeys.
void RefuseControlBytes(const std::string& address) {
  const auto bad = std::find_if(address.begin(), address.end(), IsControlByte);
  if (bad == address.end()) return;
  char code[8];
  std::snprintf(code, sizeof code, "0x%02X", static_cast<unsigned char>(*bad));
  throw platform::EIdException(std::string("Control byte ") + code + " in the address " +
                               Quoted(address));
}

// A socket error that only says the peer has closed or reset the
// connection: ECONNRESET, or EPIPE for a send after the peer's reset.
bool IsDroppedConnection(const platform::EIdSocketError& error) {
  for (int code : {ECONNRESET, EPIPE}) {
    if (error.Message().starts_with(platform::SocketErrorMessage(code, ""))) return true;
  }
  return false;
}

bool IsHttps(const std::string& scheme) {
  return platform::EqualsIgnoringAsciiCase(scheme, "https");
}

bool ValueIs(const std::string& value, const char* word) {
  return platform::EqualsIgnoringAsciiCase(TrimBlanks(value), word);
}

}  // namespace

TIdHTTP::TIdHTTP() {
  url_.Protocol = "http";
  url_.Port = std::to_string(port_);
}

void TIdHTTP::SetScheme(const std::string& scheme) {
  if (scheme != "http" && scheme != "https")
    throw platform::EIdUnknownProtocol("Scheme \"" + zub32::PrintableBytes(scheme) +
                                       "\" not supported");
  if (scheme != url_.Protocol) connection_.Disconnect();
  url_.Protocol = scheme;
}

void TIdHTTP::SetHost(const std::string& host) {
  host_ = host;
  url_.Host = host;
}

void TIdHTTP::SetPort(int port) {
  port_ = port;
  url_.Port = std::to_string(port);
}

std::string TIdHTTP::Get(const std::string& url) {
  std::string body;
  std::string target = url;
  redirect_count_ = 0;
  bool retry_left = true;
  DeadlineScope deadline(connection_, request_deadline_ms_, run_deadline_);
  try {
    for (;;) {
      ++redirect_count_;
      ResolveTarget(target);
      PrepareConnection();
      Exchange(retry_left);
      NextStep step = DecideNextStep(body, target);
      if (step == NextStep::kFinish) break;
      if (step == NextStep::kUndefined) throw platform::EIdException("Undefined situation");
      body.clear();
    }
  } catch (const platform::EIdHTTPProtocolException&) {
    // The answer was read whole, so the connection is still in step and
    // the keep-alive decision holds.
    if (!KeepAlive()) connection_.Disconnect();
    throw;
  } catch (...) {
    // Any other failure may leave unread bytes of this exchange on the
    // connection, which would be taken for the next answer.
    connection_.Disconnect();
    throw;
  }
  if (!KeepAlive()) connection_.Disconnect();
  redirect_count_ = 0;
  return body;
}

void TIdHTTP::ResolveTarget(const std::string& target) {
  RefuseControlBytes(target);
  TIdURI uri = TIdURI::Parse(target);
  // Only http and https are followed: another scheme, with or without "//",
  // names something that is no web page, whatever port it gives.
  const std::string scheme = uri.Protocol.empty() ? TIdURI::SchemeOf(target) : uri.Protocol;
  const bool https = IsHttps(scheme);
  if (!scheme.empty() && !https && !platform::EqualsIgnoringAsciiCase(scheme, "http"))
    throw platform::EIdUnknownProtocol("Scheme \"" + zub32::PrintableBytes(scheme) +
                                       "\" not supported: " + zub32::PrintableBytes(target));
  if (!scheme.empty() && (uri.Protocol.empty() || !TIdURI::IsValidHost(uri.Host)))
    throw platform::EIdException("Invalid host " + Quoted(uri.Host) + " in the address " +
                                 Quoted(target));
  // A redirect must not take what TLS protected onto plain http.
  if (!scheme.empty() && !https && redirect_count_ > 1 && IsHttps(url_.Protocol))
    throw platform::EIdHTTPProtocolException(
        response_.ResponseCode,
        "Redirect from https to http refused: " + zub32::PrintableBytes(target), "");
  const TIdURI previous = url_;
  url_.Path =
      (!uri.Path.empty() && uri.Path[0] == '/') ? uri.Path : TIdURI::MergePath(url_.Path, uri.Path);
  url_.Document = uri.Document;
  url_.Params = uri.Params;
  if (!scheme.empty()) {
    // An absolute address names its own port or its scheme's, never the
    // port of the request before it.
    url_.Host = uri.Host;
    url_.Protocol = https ? "https" : "http";
    url_.Port = !uri.Port.empty() ? uri.Port : https ? kDefaultHttpsPort : kDefaultHttpPort;
  } else {
    // A path stays on the current scheme.
    if (url_.Protocol.empty()) url_.Protocol = "http";
    if (url_.Port.empty() || url_.Port == "0")
      url_.Port = IsHttps(url_.Protocol) ? kDefaultHttpsPort : kDefaultHttpPort;
  }
  const bool restricted = policy_.https_only || policy_.one_origin;
  const std::string refusal =
      restricted ? TargetRefusal(policy_, target, url_.Protocol, url_.Host, ParsePort(url_.Port))
                 : std::string();
  if (!refusal.empty()) {
    // The current target stays where the last request went, so that a
    // later path still resolves against it.
    url_ = previous;
    throw platform::EIdHTTPProtocolException(redirect_count_ > 1 ? response_.ResponseCode : 0,
                                             refusal, "");
  }
  request_.RequestTarget = TIdURI::EncodeTarget(url_.Path + url_.Document + url_.Params);
  // An IPv6 literal needs its brackets back in the Host line.
  std::string host = url_.Host.find(':') != std::string::npos ? "[" + url_.Host + "]" : url_.Host;
  const char* default_port = IsHttps(url_.Protocol) ? kDefaultHttpsPort : kDefaultHttpPort;
  request_.Host = url_.Port == default_port ? host : host + ":" + url_.Port;
}

void TIdHTTP::PrepareConnection() {
  int port = ParsePort(url_.Port);
  const bool tls = IsHttps(url_.Protocol);
  if (connection_.Connected() && (!platform::EqualsIgnoringAsciiCase(url_.Host, connected_host_) ||
                                  port != connected_port_ || tls != connection_.Secure()))
    connection_.Disconnect();
  host_ = url_.Host;
  port_ = port;
  if (has_response_ && !KeepAlive()) connection_.Disconnect();
  connection_.Probe();
  reused_ = connection_.Connected();
  if (!reused_) {
    connection_.Connect(host_, port_, tls);
    connected_host_ = host_;
    connected_port_ = port_;
    has_response_ = false;
  }
}

void TIdHTTP::SendRequest() {
  request_.ContentLength = -1;
  request_.BuildHeaders(protocol_version_);
  const char* version = protocol_version_ == TIdHTTPProtocolVersion::pv1_0 ? "1.0" : "1.1";
  std::string bytes = "GET " + request_.RequestTarget + " HTTP/" + version + "\r\n";
  bytes += request_.RawHeaders.FoldedText();
  if (allow_cookies_ && cookie_manager_) {
    std::string cookies =
        cookie_manager_->CookieHeader(url_.Host, url_.Path + url_.Document, IsHttps(url_.Protocol));
    if (!cookies.empty()) {
      // One line, never folded: the store keeps it short enough, and
      // servers that take no continuation lines would read a folded one
      // as two.
      request_.RawHeaders.Add("Cookie: " + cookies);
      bytes += request_.RawHeaders[request_.RawHeaders.Count() - 1] + "\r\n";
    }
  }
  bytes += "\r\n";
  connection_.Write(bytes);
}

void TIdHTTP::Exchange(bool& retry_left) {
  const std::uint64_t received_before = connection_.BytesReceived();
  // Only a connection the server dropped before it answered: any byte of
  // the answer, or a request that failed on a new connection, means the
  // server took the request, and sending it again could do twice what it
  // did once.
  auto may_retry = [&] {
    return retry_left && reused_ && connection_.BytesReceived() == received_before;
  };
  try {
    SendRequest();
    ReadResponseHeads();
    return;
  } catch (const platform::EIdConnClosedGracefully&) {
    if (!may_retry()) throw;
  } catch (const platform::EIdSocketError& error) {
    if (!may_retry() || !IsDroppedConnection(error)) throw;
  }
  retry_left = false;
  connection_.Disconnect();
  PrepareConnection();
  SendRequest();
  ReadResponseHeads();
}

void TIdHTTP::ReadResponseHeads() {
  HeadBudget budget;
  do {
    head_cut_ = ReadResponseHead(connection_.Input(), response_, max_line_length_, budget);
    has_response_ = true;
    if (allow_cookies_) {
      if (!cookie_manager_) cookie_manager_.emplace();
      std::string path = url_.Path + url_.Document;
      for (const char* name : {"Set-cookie", "Set-cookie2"})
        for (const std::string& value : response_.RawHeaders.ExtractValues(name))
          cookie_manager_->AddServerCookie(value, url_.Host, path);
    }
  } while (IsInterimStatus(response_.ResponseCode) && !head_cut_);
}

TIdHTTP::NextStep TIdHTTP::DecideNextStep(std::string& body, std::string& target) {
  int code = response_.ResponseCode;
  bool redirect = (code >= 300 && code <= 399 && code != 304) || !response_.Location.empty();
  if (redirect) {
    if (handle_redirects_ && redirect_count_ < redirect_maximum_) {
      DropBody();
      target = response_.Location;
      return NextStep::kFollow;
    }
    // Out of redirects, or not following them: the answer is an error, not
    // an empty success.
    RaiseProtocolError();
  }
  if (code < 200 || code > 299) RaiseProtocolError();
  if (!connection_.Connected()) return NextStep::kUndefined;
  BodyDestination destination(body, body_limit_);
  ReadBody(connection_.Input(), response_, destination, max_line_length_);
  return NextStep::kFinish;
}

void TIdHTTP::ReadBodyWithTimeout(BodyDestination& destination, int milliseconds) {
  ReadTimeoutOverride timeout(connection_, milliseconds);
  ReadBody(connection_.Input(), response_, destination, max_line_length_);
}

void TIdHTTP::DropBody() {
  if (!connection_.Connected()) return;
  try {
    BodyDestination nowhere(kMaxBodyBytes);
    ReadBodyWithTimeout(nowhere, redirect_drop_read_timeout_);
  } catch (const platform::Exception&) {
    // The failure itself does not matter, but the rest of that body would
    // be taken for the next answer.
    connection_.Disconnect();
  }
}

void TIdHTTP::RaiseProtocolError() {
  std::string text;
  // A head cut short by the peer's close has no body to read.
  if (!head_cut_) {
    BodyDestination destination(text, kMaxBodyBytes);
    ReadBodyWithTimeout(destination, protocol_error_read_timeout_);
  }
  throw platform::EIdHTTPProtocolException(response_.ResponseCode, response_.ResponseText,
                                           std::move(text));
}

bool TIdHTTP::KeepAlive() const {
  if (!connection_.Connected()) return false;
  if (protocol_version_ == TIdHTTPProtocolVersion::pv1_1)
    return !ValueIs(response_.Connection, "close") && !ValueIs(response_.ProxyConnection, "close");
  return ValueIs(response_.Connection, "keep-alive") ||
         ValueIs(response_.ProxyConnection, "keep-alive");
}

}  // namespace http
