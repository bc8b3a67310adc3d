// The request record of a client: the header fields a caller sets once and
// every later GET sends, and the raw header list built from them.
#pragma once

#include <cstdint>
#include <string>

#include "http/TIdHeaderList.h"

namespace http {

enum class TIdHTTPProtocolVersion { pv1_0, pv1_1 };

struct TIdHTTPRequest {
  // Entity fields.
  std::string Connection;
  std::string ContentVersion;
  std::string ContentEncoding;
  std::string ContentLanguage;
  std::string ContentType = "text/html";
  std::int64_t ContentLength = -1;  // sent only when 0 or more; a GET sets -1
  std::string CacheControl;
  std::string Date;     // an HTTP date text; empty: not sent
  std::string Expires;  // an HTTP date text; empty: not sent
  std::string Pragma;
  TIdHeaderList CustomHeaders;  // whole "Name: value" lines, sent as given
  std::string ProxyConnection;

  // Request fields.
  std::string Host;  // computed for every request
  std::string Accept = "text/html, */*";
  std::string AcceptCharSet;
  std::string AcceptEncoding;
  std::string AcceptLanguage;
  std::string From;
  std::string Referer;
  std::string UserAgent = "Mozilla/3.0 (compatible; VESK HTTP client)";
  std::string LastModified;            // sent as "If-Modified-Since"; empty: not sent
  std::int64_t ContentRangeStart = 0;  // "Range" when either bound is set
  std::int64_t ContentRangeEnd = 0;

  // Built at send time: the request line's target and the header lines.
  std::string RequestTarget;
  TIdHeaderList RawHeaders;

  // Fills RawHeaders from the fields in the order the request sends them.
  // Under pv1_0 an empty Connection goes out as "keep-alive".
  void BuildHeaders(TIdHTTPProtocolVersion version);
};

}  // namespace http
