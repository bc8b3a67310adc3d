#include "http/TIdCookieManager.h"

#include <algorithm>
#include <cctype>

#include "platform/AsciiText.h"
#include "platform/DateTime.h"

#include "http/HttpDate.h"
#include "http/TIdHTTPResponse.h"
#include "http/TIdHeaderList.h"

namespace http {

namespace {

bool DomainMatches(const std::string& host, const std::string& domain) {
  if (host == domain) return true;
  return host.size() > domain.size() &&
         host.compare(host.size() - domain.size(), domain.size(), domain) == 0 &&
         host[host.size() - domain.size() - 1] == '.';
}

bool PathMatches(const std::string& request_path, const std::string& cookie_path) {
  if (request_path.compare(0, cookie_path.size(), cookie_path) != 0) return false;
  return request_path.size() == cookie_path.size() || cookie_path.back() == '/' ||
         request_path[cookie_path.size()] == '/';
}

std::string DefaultPath(const std::string& request_path) {
  std::size_t last = request_path.rfind('/');
  if (request_path.empty() || request_path[0] != '/' || last == 0 || last == std::string::npos)
    return "/";
  return request_path.substr(0, last);
}

bool IsIpLiteral(const std::string& host) {
  return host.find(':') != std::string::npos || std::all_of(host.begin(), host.end(), [](char c) {
           return std::isdigit(static_cast<unsigned char>(c)) || c == '.';
         });
}

bool HasControlByte(const std::string& text) {
  return std::any_of(text.begin(), text.end(), IsControlByte);
}

// Splits "a; b; c" into its trimmed parts.
std::vector<std::string_view> SplitAttributes(std::string_view text) {
  std::vector<std::string_view> parts;
  while (true) {
    std::size_t semicolon = text.find(';');
    parts.push_back(TrimBlanks(text.substr(0, semicolon)));
    if (semicolon == std::string_view::npos) break;
    text.remove_prefix(semicolon + 1);
  }
  return parts;
}

// Max-Age past this counts as this: about 136 years, far enough for ever.
constexpr std::int64_t kMaxAgeSeconds = std::int64_t{1} << 32;

}  // namespace

void TIdCookieManager::AddServerCookie(const std::string& value, const std::string& host,
                                       const std::string& path, Clock::time_point now) {
  std::vector<std::string_view> parts = SplitAttributes(value);
  std::size_t equals = parts[0].find('=');
  if (equals == std::string_view::npos) return;
  Cookie cookie;
  cookie.name = std::string(TrimBlanks(parts[0].substr(0, equals)));
  cookie.value = std::string(TrimBlanks(parts[0].substr(equals + 1)));
  if (cookie.name.empty() || cookie.name.size() + cookie.value.size() > kMaxCookieBytes) return;
  // Control bytes (a lone CR, a zero byte) would travel back inside the
  // Cookie line of the next request, where a server may take them for the
  // end of the line.
  if (HasControlByte(cookie.name) || HasControlByte(cookie.value)) return;

  std::string request_host = platform::AsciiLower(host);
  cookie.domain = request_host;
  cookie.path = DefaultPath(path);
  const std::int64_t now_seconds = platform::UnixSeconds(now);
  if (!ApplyAttributes(std::span(parts).subspan(1), request_host, now_seconds, cookie)) return;
  Store(std::move(cookie), now_seconds);
}

bool TIdCookieManager::ApplyAttributes(std::span<const std::string_view> attributes,
                                       const std::string& request_host, std::int64_t now_seconds,
                                       Cookie& cookie) {
  std::optional<std::int64_t> max_age_expiry;
  for (const std::string_view part : attributes) {
    std::size_t eq = part.find('=');
    std::string_view name = TrimBlanks(part.substr(0, eq));
    std::string attribute =
        eq == std::string_view::npos ? std::string() : std::string(TrimBlanks(part.substr(eq + 1)));
    if (platform::EqualsIgnoringAsciiCase(name, "Domain")) {
      std::string domain = platform::AsciiLower(attribute);
      if (!domain.empty() && domain[0] == '.') domain.erase(0, 1);
      if (domain.empty()) continue;
      // A server may widen a cookie to its own domain, never to another.
      if (!DomainMatches(request_host, domain) ||
          (IsIpLiteral(request_host) && domain != request_host))
        return false;
      cookie.domain = domain;
      cookie.host_only = domain == request_host;
    } else if (platform::EqualsIgnoringAsciiCase(name, "Path")) {
      if (!attribute.empty() && attribute[0] == '/') cookie.path = attribute;
    } else if (platform::EqualsIgnoringAsciiCase(name, "Secure")) {
      cookie.secure = true;
    } else if (platform::EqualsIgnoringAsciiCase(name, "Max-Age")) {
      std::int64_t seconds = 0;
      if (ParseDecimal(attribute, &seconds)) {
        // Clamped so that the sum cannot overflow.
        max_age_expiry = now_seconds + std::clamp<std::int64_t>(seconds, 0, kMaxAgeSeconds);
      }
    } else if (platform::EqualsIgnoringAsciiCase(name, "Expires")) {
      if (auto when = ParseHttpDate(attribute)) cookie.expires = *when;
    }
  }
  if (max_age_expiry) cookie.expires = max_age_expiry;
  return true;
}

void TIdCookieManager::Store(Cookie cookie, std::int64_t now_seconds) {
  auto same = std::find_if(cookies_.begin(), cookies_.end(), [&](const Cookie& stored) {
    return stored.name == cookie.name && stored.domain == cookie.domain &&
           stored.path == cookie.path;
  });
  bool expired = cookie.expires && *cookie.expires <= now_seconds;
  if (same != cookies_.end()) {
    if (expired) {
      cookies_.erase(same);
      return;
    }
    cookie.order = same->order;
    *same = std::move(cookie);
    return;
  }
  if (expired) return;
  if (cookies_.size() >= kMaxCookies) {
    cookies_.erase(
        std::min_element(cookies_.begin(), cookies_.end(),
                         [](const Cookie& a, const Cookie& b) { return a.order < b.order; }));
  }
  cookie.order = next_order_++;
  cookies_.push_back(std::move(cookie));
}

std::string TIdCookieManager::CookieHeader(const std::string& host, const std::string& path,
                                           bool secure, Clock::time_point now) const {
  const std::int64_t now_seconds = platform::UnixSeconds(now);
  std::string request_host = platform::AsciiLower(host);
  std::string request_path = path.empty() ? "/" : path;
  std::vector<const Cookie*> matching;
  for (const Cookie& cookie : cookies_) {
    if (cookie.expires && *cookie.expires <= now_seconds) continue;
    if (cookie.secure && !secure) continue;
    bool host_ok = cookie.host_only ? request_host == cookie.domain
                                    : DomainMatches(request_host, cookie.domain);
    if (host_ok && PathMatches(request_path, cookie.path)) matching.push_back(&cookie);
  }
  // The newest first into the budget: the ones that no longer fit are the
  // oldest.
  std::sort(matching.begin(), matching.end(),
            [](const Cookie* a, const Cookie* b) { return a->order > b->order; });
  std::size_t used = 0;
  std::size_t kept = 0;
  for (const Cookie* cookie : matching) {
    const std::size_t size = cookie->name.size() + 1 + cookie->value.size() + (kept ? 2 : 0);
    if (used + size > kMaxHeaderBytes) break;
    used += size;
    ++kept;
  }
  matching.resize(kept);
  std::sort(matching.begin(), matching.end(), [](const Cookie* a, const Cookie* b) {
    if (a->path.size() != b->path.size()) return a->path.size() > b->path.size();
    return a->order < b->order;
  });
  std::string header;
  header.reserve(used);
  for (const Cookie* cookie : matching) {
    if (!header.empty()) header += "; ";
    header += cookie->name + "=" + cookie->value;
  }
  return header;
}

}  // namespace http
