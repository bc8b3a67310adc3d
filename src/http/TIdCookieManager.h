// The client's cookie store: keeps the cookies that responses set and gives
// back the ones that apply to a later request. Host-only and domain cookies,
// path matching, expiry by Max-Age or Expires, secure cookies only over
// secure connections.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DateTime.h"

namespace http {

class TIdCookieManager {
 public:
  using Clock = std::chrono::system_clock;

  // A store holds at most this many cookies (the oldest go first) and takes
  // none whose name and value together are longer than kMaxCookieBytes, nor
  // one whose name or value holds a control byte.
  static constexpr std::size_t kMaxCookies = 64;
  static constexpr std::size_t kMaxCookieBytes = 4096;
  // The longest "Cookie" value sent back, so that the line with its name
  // stays within 8 KiB: servers refuse longer header lines, and a folded
  // one is read as two.
  static constexpr std::size_t kMaxHeaderBytes = 8192 - sizeof("Cookie: ") + 1;

  // Takes one "Set-Cookie" or "Set-Cookie2" value from a response to a
  // request for host and path (the path of the request target, used for the
  // default cookie path). A cookie whose expiry has passed removes the
  // stored one of the same name, domain and path.
  void AddServerCookie(const std::string& value, const std::string& host, const std::string& path,
                       Clock::time_point now = platform::ClockNow());

  // The "Cookie" header value for a request to host and path: "name=value"
  // pairs joined by "; ", longer paths first; empty when none applies. At
  // most kMaxHeaderBytes: past that the oldest cookies are left out.
  std::string CookieHeader(const std::string& host, const std::string& path, bool secure,
                           Clock::time_point now = platform::ClockNow()) const;

  std::size_t Count() const { return cookies_.size(); }

 private:
  struct Cookie {
    std::string name;
    std::string value;
    std::string domain;  // lower case, without a leading dot
    std::string path;
    bool host_only = true;
    bool secure = false;
    // Whole seconds since the Unix epoch, which hold any year from 1 to
    // 9999; none: until the client goes away.
    std::optional<std::int64_t> expires;
    std::uint64_t order = 0;  // creation order
  };

  // Applies the attributes after the name=value pair to cookie; false when
  // its Domain names another site, so that the cookie is refused.
  static bool ApplyAttributes(std::span<const std::string_view> attributes,
                              const std::string& request_host, std::int64_t now_seconds,
                              Cookie& cookie);
  // Puts cookie in place of the stored one of its name, domain and path, or
  // beside the others (dropping the oldest past kMaxCookies); an expired one
  // only removes its stored namesake.
  void Store(Cookie cookie, std::int64_t now_seconds);

  std::vector<Cookie> cookies_;
  std::uint64_t next_order_ = 0;
};

}  // namespace http
