// HTTP/1.1 message handling of the simulator, free of I/O: the request head
// parser works on the bytes received so far, the response writer produces
// the bytes to send.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sim {

// Limits on what a client may send. A head or body beyond them is refused
// instead of being buffered without bound.
inline constexpr std::size_t kMaxRequestHeadBytes = 16384;
inline constexpr std::size_t kMaxHeaderLines = 100;
inline constexpr std::size_t kMaxRequestBodyBytes = 1 << 20;

struct HttpRequest {
  std::string method;
  std::string target;  // as sent on the request line
  std::string path;    // origin-form path, without query
  std::string query;   // from '?' on, empty when absent
  int minor_version = 1;
  std::vector<std::pair<std::string, std::string>> headers;  // in arrival order, values trimmed
  bool keep_alive = true;
  std::size_t body_length = 0;  // bytes of request body that follow the head

  // The first header of that name (compared without regard to case), or
  // nullptr when there is none.
  const std::string* FindHeader(std::string_view name) const;
};

enum class ParseStatus { kIncomplete, kComplete, kError };

struct ParseResult {
  ParseStatus status = ParseStatus::kIncomplete;
  std::size_t consumed = 0;  // head bytes, including the empty line, when complete
  int error_status = 0;      // the status to answer with when status is kError
};

// Parses the request head at the start of the buffer. Empty lines before the
// request line are skipped; lines may end with CR LF or LF.
ParseResult ParseRequestHead(std::string_view buffer, HttpRequest& request);

struct HttpResponse {
  int status = 200;
  std::string content_type;
  std::string body;
  std::vector<std::pair<std::string, std::string>> extra_headers;
};

// Header helpers: names compare without regard to case, values may carry
// blanks and tabs around them, and list values separate elements by commas.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
std::string_view Trim(std::string_view text);
std::vector<std::string_view> ListElements(std::string_view value);

// The reason phrase for the status codes the simulator sends.
std::string_view ReasonPhrase(int status);

// A plain-text response whose body is the status line's text.
HttpResponse ErrorResponse(int status);

// The status line and header lines of the response, ending with the empty
// line. Content-Length states the body's length (also for HEAD), except on a
// 304 answer, which has none.
std::string SerializeResponseHead(const HttpResponse& response, bool keep_alive, std::time_t now);

// An HTTP date such as "Mon, 22 Jul 2024 21:51:00 GMT".
std::string HttpDate(std::time_t when);

}  // namespace sim
