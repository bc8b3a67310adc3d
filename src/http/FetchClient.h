// The client settings both fetching stages use: the radar loop page and its
// frames, and the station feed on the publishing host.
#pragma once

#include <string>
#include <string_view>

#include "http/TIdHTTP.h"
#include "zub32/Config.h"

namespace http {

// The browser identification both stages send: 121 characters, the last of
// them a double quote, which is sent too.
inline constexpr std::string_view kBrowserUserAgent =
    "Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_3) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/83.0.4103.97 Safari/537.36\"";

// Points the client at `host` and gives it the run's time limits, redirects,
// cookies and the request fields both stages send; everything else keeps the
// client's defaults.
void ConfigureFetchClient(TIdHTTP& client, const zub32::Endpoint& host,
                          const zub32::Configuration& config);

// The scheme, "://", host, ":" port unless it is the scheme's default, and
// path: where the client's
// next GET of path goes, as the stages' "Opening" lines show it.
std::string OpeningAddress(const TIdHTTP& client, std::string_view path);

// The same for path on a configured host, wherever the client's last
// request went.
std::string EndpointAddress(const zub32::Endpoint& host, std::string_view path);

}  // namespace http
