// The blocking HTTP/1.1 GET client. A caller sets the target scheme, host,
// port, read time-out, redirect and cookie switches and the request fields,
// then GETs paths or absolute http and https URLs; each GET returns the body bytes or
// raises one of the EId* classes of platform/Exceptions.h. The client keeps
// its connection alive between GETs to the same host and port and closes it
// when it goes away.
#pragma once

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>
#include <utility>

#include "http/BodyDestination.h"
#include "http/ResponseDecoder.h"
#include "http/TIdCookieManager.h"
#include "http/TIdHTTPRequest.h"
#include "http/TIdHTTPResponse.h"
#include "http/TIdTCPConnection.h"
#include "http/TIdURI.h"
#include "http/TargetPolicy.h"

namespace http {

class TIdHTTP {
 public:
  // Time limits for the reads that only serve an error or a redirect, unless
  // SetServiceReadTimeouts says otherwise.
  static constexpr int kProtocolErrorReadTimeout = 2000;
  static constexpr int kRedirectDropReadTimeout = 4000;

  TIdHTTP();
  TIdHTTP(const TIdHTTP&) = delete;
  TIdHTTP& operator=(const TIdHTTP&) = delete;

  // The host to connect to. Setting it also sets the host of the current
  // target; after a redirect to another host it names that host.
  const std::string& Host() const { return host_; }
  void SetHost(const std::string& host);
  int Port() const { return port_; }
  void SetPort(int port);
  // "http" or "https": the scheme of the current target, which a path keeps.
  // A redirect from https to http is refused.
  const std::string& Scheme() const { return url_.Protocol; }
  void SetScheme(const std::string& scheme);
  // The PEM bundle https certificates are verified against; empty (the
  // default): the system's store.
  void SetTlsCaFile(const std::string& path) { connection_.SetTlsCaFile(path); }
  // Milliseconds for one wait for data and for a connect; 0: no limit.
  int ReadTimeout() const { return connection_.ReadTimeout(); }
  void SetReadTimeout(int milliseconds) { connection_.SetReadTimeout(milliseconds); }

  // The limits of the reads of an error page's body and of a dropped
  // redirect's body, in milliseconds.
  void SetServiceReadTimeouts(int protocol_error_ms, int redirect_drop_ms) {
    protocol_error_read_timeout_ = protocol_error_ms;
    redirect_drop_read_timeout_ = redirect_drop_ms;
  }
  int ProtocolErrorReadTimeout() const { return protocol_error_read_timeout_; }
  int RedirectDropReadTimeout() const { return redirect_drop_read_timeout_; }
  // Milliseconds one GET may take as a whole, redirects included; 0: no
  // limit. Every wait of the GET is bounded by the time it has left, so a
  // server that paces its bytes just inside ReadTimeout cannot hold it
  // longer; past it the GET fails with EIdReadTimeout "Read Timeout".
  int RequestDeadline() const { return request_deadline_ms_; }
  void SetRequestDeadline(int milliseconds) { request_deadline_ms_ = milliseconds; }
  // A moment after which no GET of this client may go on, whatever its own
  // deadline leaves: past it the current GET fails with EIdReadTimeout
  // "Read Timeout" as a stalled read does. nullopt: none.
  using Clock = TIdTCPConnection::Clock;
  std::optional<Clock::time_point> RunDeadline() const { return run_deadline_; }
  void SetRunDeadline(std::optional<Clock::time_point> deadline) { run_deadline_ = deadline; }
  // Where GETs and the redirects they follow may go; a target the policy
  // refuses fails with EIdHTTPProtocolException before anything is sent.
  // The default policy allows every http and https target.
  const TargetPolicy& Policy() const { return policy_; }
  void SetPolicy(TargetPolicy policy) { policy_ = std::move(policy); }
  bool HandleRedirects() const { return handle_redirects_; }
  void SetHandleRedirects(bool on) { handle_redirects_ = on; }
  // The most requests one GET makes while it follows redirects.
  int RedirectMaximum() const { return redirect_maximum_; }
  void SetRedirectMaximum(int maximum) { redirect_maximum_ = maximum; }
  bool AllowCookies() const { return allow_cookies_; }
  void SetAllowCookies(bool on) { allow_cookies_ = on; }
  TIdHTTPProtocolVersion ProtocolVersion() const { return protocol_version_; }
  void SetProtocolVersion(TIdHTTPProtocolVersion version) { protocol_version_ = version; }
  std::size_t MaxLineLength() const { return max_line_length_; }
  void SetMaxLineLength(std::size_t length) { max_line_length_ = length; }

  TIdHTTPRequest& Request() { return request_; }
  const TIdHTTPResponse& Response() const { return response_; }
  // The current target: where the last request went, and what the path of
  // the next GET resolves against. Setting it lets a caller resolve paths
  // against a page rather than against the request before.
  const TIdURI& URL() const { return url_; }
  void SetURL(const TIdURI& url) { url_ = url; }
  // Created by the first response while AllowCookies is on; null before.
  const TIdCookieManager* CookieManager() const {
    return cookie_manager_ ? &*cookie_manager_ : nullptr;
  }
  bool Connected() const { return connection_.Connected(); }

  // The most body bytes each following GET takes; a longer body fails with
  // EIdException "Response body exceeds N bytes", before it is read when
  // its Content-Length says so. At most kMaxBodyBytes, the default.
  std::size_t BodyLimit() const { return body_limit_; }
  void SetBodyLimit(std::size_t bytes) { body_limit_ = std::min(bytes, kMaxBodyBytes); }

  // GETs a path (resolved against the current target) or an absolute URL
  // and returns the body, which may be empty and may hold any bytes.
  //
  // A server may close a kept-alive connection at any moment, also just
  // after the probe that precedes its reuse. So a request sent on a reused
  // connection that fails before any byte of its answer arrived (a reset,
  // a broken pipe or the end of the stream) is sent once more on a new
  // connection, within the same deadlines. That happens at most once a GET,
  // and never for a request that went out on a new connection.
  std::string Get(const std::string& url);

 private:
  int protocol_error_read_timeout_ = kProtocolErrorReadTimeout;
  int redirect_drop_read_timeout_ = kRedirectDropReadTimeout;
  enum class NextStep { kFollow, kFinish, kUndefined };

  void ResolveTarget(const std::string& target);
  void PrepareConnection();
  void SendRequest();
  void ReadResponseHeads();
  // SendRequest and ReadResponseHeads, sent again on a new connection as
  // Get describes while retry_left holds; a retry clears it.
  void Exchange(bool& retry_left);
  NextStep DecideNextStep(std::string& body, std::string& target);
  [[noreturn]] void RaiseProtocolError();
  // Reads the current response's body with a temporary read time-out.
  void ReadBodyWithTimeout(BodyDestination& destination, int milliseconds);
  // Reads and drops a redirect's body; a failure only closes the connection.
  void DropBody();
  // The keep-alive decision for the last response head.
  bool KeepAlive() const;

  TIdTCPConnection connection_;
  std::string host_;
  int port_ = 80;
  int request_deadline_ms_ = 0;
  std::optional<Clock::time_point> run_deadline_;
  bool handle_redirects_ = false;
  int redirect_maximum_ = 15;
  bool allow_cookies_ = true;
  TIdHTTPProtocolVersion protocol_version_ = TIdHTTPProtocolVersion::pv1_1;
  std::size_t max_line_length_ = kDefaultMaxLineLength;
  TargetPolicy policy_;
  std::size_t body_limit_ = kMaxBodyBytes;

  TIdURI url_;
  TIdHTTPRequest request_;
  TIdHTTPResponse response_;
  bool has_response_ = false;
  bool head_cut_ = false;       // the peer closed while the last head was read
  bool reused_ = false;         // the current request goes out on a kept-alive connection
  std::string connected_host_;  // where the open connection goes
  int connected_port_ = 0;
  int redirect_count_ = 0;
  std::optional<TIdCookieManager> cookie_manager_;
};

}  // namespace http
