// Which cookies the store keeps and which it sends back where.
#include "http/TIdCookieManager.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>

#include "http/HttpDate.h"

namespace {

using http::TIdCookieManager;
using Clock = TIdCookieManager::Clock;

TEST(TIdCookieManagerTest, HostOnlyAndDomainCookies) {
  TIdCookieManager store;
  store.AddServerCookie("only=1", "www.Example.com", "/");
  store.AddServerCookie("wide=2; Domain=.example.com", "www.example.com", "/");
  store.AddServerCookie("foreign=3; Domain=other.com", "www.example.com", "/");
  store.AddServerCookie("suffix=4; Domain=ample.com", "www.example.com", "/");
  EXPECT_EQ(store.Count(), 2u);
  EXPECT_EQ(store.CookieHeader("WWW.EXAMPLE.COM", "/", false), "only=1; wide=2");
  EXPECT_EQ(store.CookieHeader("img.example.com", "/", false), "wide=2");
  EXPECT_EQ(store.CookieHeader("badexample.com", "/", false), "");
  EXPECT_EQ(store.CookieHeader("other.com", "/", false), "");
}

TEST(TIdCookieManagerTest, PathsSecureAndOrder) {
  TIdCookieManager store;
  store.AddServerCookie("root=r", "h", "/index.html");
  store.AddServerCookie("docs=d; Path=/docs", "h", "/");
  store.AddServerCookie("dir=x", "h", "/ses/sysinfo.json");  // default path /ses
  store.AddServerCookie("safe=s; Secure; HttpOnly", "h", "/");
  EXPECT_EQ(store.CookieHeader("h", "/docs/a", false), "docs=d; root=r");
  EXPECT_EQ(store.CookieHeader("h", "/docsx", false), "root=r");
  EXPECT_EQ(store.CookieHeader("h", "/ses/other.json", false), "dir=x; root=r");
  EXPECT_EQ(store.CookieHeader("h", "/", true), "root=r; safe=s");
}

TEST(TIdCookieManagerTest, ReplacementAndExpiry) {
  TIdCookieManager store;
  Clock::time_point now = Clock::now();
  store.AddServerCookie("a=1", "h", "/", now);
  store.AddServerCookie("b=1; Max-Age=10", "h", "/", now);
  store.AddServerCookie("c=1; Expires=Wed, 21 Oct 2099 07:28:00 GMT", "h", "/", now);
  store.AddServerCookie("a=2", "h", "/", now);
  EXPECT_EQ(store.CookieHeader("h", "/", false, now), "a=2; b=1; c=1");
  EXPECT_EQ(store.CookieHeader("h", "/", false, now + std::chrono::seconds(11)), "a=2; c=1");
  store.AddServerCookie("a=gone; Max-Age=0", "h", "/", now);
  store.AddServerCookie("c=gone; expires=Thu, 01-Jan-1970 00:00:01 GMT", "h", "/", now);
  EXPECT_EQ(store.CookieHeader("h", "/", false, now), "b=1");
}

TEST(TIdCookieManagerTest, BoundedAgainstFloods) {
  TIdCookieManager store;
  store.AddServerCookie("big=" + std::string(TIdCookieManager::kMaxCookieBytes, 'x'), "h", "/");
  store.AddServerCookie("novalue", "h", "/");
  // Control bytes would end up inside the next request's Cookie line.
  store.AddServerCookie("cr=a\rInjected: 1", "h", "/");
  store.AddServerCookie(std::string("nul=a\0b", 7), "h", "/");
  store.AddServerCookie("x\x7f=1", "h", "/");
  EXPECT_EQ(store.Count(), 0u);
  for (int i = 0; i < 100; ++i) store.AddServerCookie("c" + std::to_string(i) + "=v", "h", "/");
  EXPECT_EQ(store.Count(), TIdCookieManager::kMaxCookies);
  // The oldest went first.
  EXPECT_EQ(store.CookieHeader("h", "/", false).substr(0, 6), "c36=v;");
}

TEST(TIdCookieManagerTest, HttpDates) {
  // Whole seconds since 1970, for any year from 1 to 9999.
  const struct {
    const char* text;
    std::optional<std::int64_t> seconds;
  } kCases[] = {
      {"Sun, 06 Nov 1994 08:49:37 GMT", 784111777},
      {"Sunday, 06-Nov-94 08:49:37 GMT", 784111777},
      {"Sun Nov  6 08:49:37 1994", 784111777},
      {"Fri, 31 Dec 9999 23:59:59 GMT", 253402300799},
      {"Fri, 12 Apr 2262 00:00:00 GMT", 9223372800},
      {"Fri, 01 Jan 0100 00:00:00 GMT", -59011459200},
      {"Mon, 01 Jan 0001 00:00:00 GMT", -62135596800},
      {"Fri, 04-Mar-0050 05:06:07 GMT", -60583920833},
      {"Fri, 04-Mar-50 05:06:07 GMT", 2529983167},
      {"Fri, 01 Jan 0000 00:00:00 GMT", std::nullopt},
      {"yesterday", std::nullopt},
      {"Sun, 06 Nov 1994 25:49:37 GMT", std::nullopt},
  };
  for (const auto& c : kCases) EXPECT_EQ(http::ParseHttpDate(c.text), c.seconds) << c.text;
}

TEST(TIdCookieManagerTest, FarExpiriesAndALongHeader) {
  TIdCookieManager store;
  const Clock::time_point now = Clock::now();
  store.AddServerCookie("far=1; Expires=Fri, 31 Dec 9999 23:59:59 GMT", "h", "/", now);
  store.AddServerCookie("old=1; Expires=Fri, 01 Jan 0100 00:00:00 GMT", "h", "/", now);
  EXPECT_EQ(store.CookieHeader("h", "/", false, now), "far=1");
  // Sixty cookies of a kilobyte: only the newest that fit go back.
  for (int i = 0; i < 60; ++i)
    store.AddServerCookie("c" + std::to_string(i) + "=" + std::string(1000, 'v'), "h", "/", now);
  const std::string header = store.CookieHeader("h", "/", false, now);
  EXPECT_LE(header.size(), TIdCookieManager::kMaxHeaderBytes);
  EXPECT_EQ(header.substr(0, 4), "c52=") << header.substr(0, 40);
  EXPECT_NE(header.find("c59="), std::string::npos);
}

}  // namespace
