#include "HttpCaching.h"

#include <zlib.h>

#include <cstdio>
#include <ctime>
#include <limits>
#include <optional>
#include <stdexcept>

namespace sim {
namespace {

constexpr int kGzipWindowBits = 15 + 16;  // the largest window, with a gzip wrapper
constexpr int kMemoryLevel = 8;           // zlib's default

// Pages and bitmaps shrink a lot; PNG data is deflated already.
bool IsCompressible(std::string_view content_type) {
  return content_type.starts_with("text/html") || content_type.starts_with("image/bmp");
}

// A quality value of zero ("q=0", "q=0.000") refuses the coding.
bool RefusedByQuality(std::string_view parameters) {
  while (!parameters.empty()) {
    const std::size_t semicolon = parameters.find(';');
    const std::string_view parameter = Trim(parameters.substr(0, semicolon));
    if (parameter.size() >= 2 && (parameter[0] == 'q' || parameter[0] == 'Q') &&
        parameter[1] == '=') {
      return parameter.substr(2).find_first_not_of("0.") == std::string_view::npos;
    }
    if (semicolon == std::string_view::npos) break;
    parameters.remove_prefix(semicolon + 1);
  }
  return false;
}

bool AcceptsGzip(const HttpRequest& request) {
  const std::string* accept = request.FindHeader("Accept-Encoding");
  if (accept == nullptr) return false;
  for (const std::string_view element : ListElements(*accept)) {
    const std::size_t semicolon = element.find(';');
    const std::string_view coding = Trim(element.substr(0, semicolon));
    if (!EqualsIgnoreCase(coding, "gzip") && !EqualsIgnoreCase(coding, "x-gzip")) continue;
    return semicolon == std::string_view::npos || !RefusedByQuality(element.substr(semicolon + 1));
  }
  return false;
}

std::string EntityTag(const FileVersion& version, bool gzip) {
  char text[64];
  std::snprintf(text, sizeof text, "\"%llx-%llx%s\"", static_cast<unsigned long long>(version.size),
                static_cast<unsigned long long>(version.modified_ns), gzip ? "-gz" : "");
  return text;
}

// A weak comparison, as If-None-Match asks for: "W/" prefixes do not count.
bool TagListMatches(std::string_view list, std::string_view tag) {
  const auto opaque = [](std::string_view text) {
    return text.starts_with("W/") ? text.substr(2) : text;
  };
  for (const std::string_view element : ListElements(list)) {
    if (element == "*" || opaque(element) == opaque(tag)) return true;
  }
  return false;
}

std::optional<std::time_t> ParseHttpDate(const std::string& text) {
  std::tm parts{};
  const char* end = strptime(text.c_str(), "%a, %d %b %Y %H:%M:%S GMT", &parts);
  if (end == nullptr || *end != '\0') return std::nullopt;
  return timegm(&parts);
}

bool ClientCopyIsCurrent(const HttpRequest& request, std::string_view tag,
                         const FileVersion& version) {
  if (const std::string* none_match = request.FindHeader("If-None-Match")) {
    return TagListMatches(*none_match, tag);
  }
  const std::string* modified_since = request.FindHeader("If-Modified-Since");
  if (modified_since == nullptr) return false;
  const std::optional<std::time_t> since = ParseHttpDate(*modified_since);
  return since && version.modified_ns / kNanosPerSecond <= *since;
}

// Ends the deflate stream however the compression is left.
struct DeflateStream {
  z_stream stream{};
  bool open = false;
  ~DeflateStream() {
    if (open) deflateEnd(&stream);
  }
};

// The data in gzip format: deflate with a gzip header and trailer.
std::string GzipCompress(std::string_view data) {
  if (data.size() > std::numeric_limits<uInt>::max()) throw std::runtime_error("body too large");
  DeflateStream deflate;
  if (deflateInit2(&deflate.stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, kGzipWindowBits,
                   kMemoryLevel, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("zlib deflateInit2 failed");
  }
  deflate.open = true;
  std::string out(deflateBound(&deflate.stream, static_cast<uLong>(data.size())), '\0');
  deflate.stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  deflate.stream.avail_in = static_cast<uInt>(data.size());
  deflate.stream.next_out = reinterpret_cast<Bytef*>(out.data());
  deflate.stream.avail_out = static_cast<uInt>(out.size());
  // The bound guarantees that one call with Z_FINISH completes the stream.
  if (::deflate(&deflate.stream, Z_FINISH) != Z_STREAM_END) {
    throw std::runtime_error("zlib deflate failed");
  }
  out.resize(deflate.stream.total_out);
  return out;
}

}  // namespace

HttpResponse VersionedResponse(const HttpRequest& request, std::string content_type,
                               std::string body, const FileVersion& version) {
  const bool compressible = IsCompressible(content_type);
  const bool gzip = compressible && AcceptsGzip(request);
  const std::string tag = EntityTag(version, gzip);

  HttpResponse response;
  response.extra_headers.emplace_back("Cache-Control", "no-cache");
  response.extra_headers.emplace_back("ETag", tag);
  response.extra_headers.emplace_back(
      "Last-Modified", HttpDate(static_cast<std::time_t>(version.modified_ns / kNanosPerSecond)));
  if (compressible) response.extra_headers.emplace_back("Vary", "Accept-Encoding");
  if (ClientCopyIsCurrent(request, tag, version)) {
    response.status = 304;
    return response;
  }
  response.content_type = std::move(content_type);
  if (gzip) {
    response.body = GzipCompress(body);
    response.extra_headers.emplace_back("Content-Encoding", "gzip");
  } else {
    response.body = std::move(body);
  }
  return response;
}

}  // namespace sim
