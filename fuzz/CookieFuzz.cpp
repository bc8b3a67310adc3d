// Arbitrary Set-Cookie values for the cookie store, and arbitrary texts as
// HTTP dates. Besides crashes and sanitizer findings (an expiry far in the
// past or future must not overflow) it checks what a request relies on: the
// Cookie value sent back is one line without control bytes and within its
// bound, and a date read has a year from 1 to 9999.
//
// Input: Set-Cookie values, one a line; the first line is also read as a
// date.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "http/HttpDate.h"
#include "http/TIdCookieManager.h"
#include "http/TIdHeaderList.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

// 0001-01-01 and 9999-12-31 23:59:60 in seconds since 1970.
constexpr std::int64_t kFirstSecond = -62135596800;
constexpr std::int64_t kLastSecond = 253402300800;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::string first(input.substr(0, input.find('\n')));
  if (const auto seconds = http::ParseHttpDate(first))
    Check(*seconds >= kFirstSecond && *seconds <= kLastSecond);

  http::TIdCookieManager store;
  const auto now = http::TIdCookieManager::Clock::now();
  std::string_view rest = input;
  while (!rest.empty()) {
    const std::size_t newline = rest.find('\n');
    store.AddServerCookie(std::string(rest.substr(0, newline)), "www.example.com", "/a/b.png", now);
    if (newline == std::string_view::npos) break;
    rest.remove_prefix(newline + 1);
  }
  Check(store.Count() <= http::TIdCookieManager::kMaxCookies);
  for (const char* path : {"/", "/a/b.png", "/other"}) {
    const std::string header = store.CookieHeader("WWW.example.com", path, false, now);
    Check(header.size() <= http::TIdCookieManager::kMaxHeaderBytes);
    for (char c : header) Check(!http::IsControlByte(c));
  }
  return 0;
}
