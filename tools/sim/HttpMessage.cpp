#include "HttpMessage.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace sim {
namespace {

// Token characters of RFC 9110: what method and header names may hold.
bool IsTokenChar(char c) {
  if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) return true;
  return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool IsToken(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), IsTokenChar);
}

// Splits off the next line; returns false when no line end has arrived yet.
bool NextLine(std::string_view buffer, std::size_t& offset, std::string_view& line) {
  const std::size_t end = buffer.find('\n', offset);
  if (end == std::string_view::npos) return false;
  line = buffer.substr(offset, end - offset);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  offset = end + 1;
  return true;
}

ParseResult Error(int status) { return ParseResult{ParseStatus::kError, 0, status}; }

// Reduces an absolute-form target ("http://host/path") to its path.
bool ToOriginForm(std::string_view target, std::string& path, std::string& query) {
  constexpr std::string_view kScheme = "http://";
  if (target.size() > kScheme.size() &&
      EqualsIgnoreCase(target.substr(0, kScheme.size()), kScheme)) {
    const std::size_t slash = target.find('/', kScheme.size());
    target = slash == std::string_view::npos ? std::string_view("/") : target.substr(slash);
  }
  if (target.empty() || target.front() != '/') return false;
  const std::size_t fragment = target.find('#');
  if (fragment != std::string_view::npos) target = target.substr(0, fragment);
  const std::size_t question = target.find('?');
  path = std::string(target.substr(0, question));
  query = question == std::string_view::npos ? std::string() : std::string(target.substr(question));
  return true;
}

bool ParseRequestLine(std::string_view line, HttpRequest& request) {
  const std::size_t first = line.find(' ');
  const std::size_t second = first == std::string_view::npos ? first : line.find(' ', first + 1);
  if (second == std::string_view::npos || line.find(' ', second + 1) != std::string_view::npos) {
    return false;
  }
  const std::string_view method = line.substr(0, first);
  const std::string_view target = line.substr(first + 1, second - first - 1);
  const std::string_view version = line.substr(second + 1);
  if (!IsToken(method) || target.empty()) return false;
  if (version.size() != 8 || version.substr(0, 5) != "HTTP/" || version[6] != '.') return false;
  if (version[5] < '0' || version[5] > '9' || version[7] < '0' || version[7] > '9') return false;
  request.method = std::string(method);
  request.target = std::string(target);
  request.minor_version = version[5] == '1' ? version[7] - '0' : -1;
  return ToOriginForm(target, request.path, request.query);
}

bool HasConnectionToken(const HttpRequest& request, std::string_view token) {
  for (const auto& [name, value] : request.headers) {
    if (!EqualsIgnoreCase(name, "Connection")) continue;
    for (const std::string_view element : ListElements(value)) {
      if (EqualsIgnoreCase(element, token)) return true;
    }
  }
  return false;
}

}  // namespace

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
           return lower(x) == lower(y);
         });
}

std::string_view Trim(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

std::vector<std::string_view> ListElements(std::string_view value) {
  std::vector<std::string_view> elements;
  while (true) {
    const std::size_t comma = value.find(',');
    const std::string_view element = Trim(value.substr(0, comma));
    if (!element.empty()) elements.push_back(element);
    if (comma == std::string_view::npos) return elements;
    value.remove_prefix(comma + 1);
  }
}

const std::string* HttpRequest::FindHeader(std::string_view name) const {
  for (const auto& header : headers) {
    if (EqualsIgnoreCase(header.first, name)) return &header.second;
  }
  return nullptr;
}

ParseResult ParseRequestHead(std::string_view buffer, HttpRequest& request) {
  request = HttpRequest();
  std::size_t offset = 0;
  std::string_view line;
  // Empty lines before the request line are tolerated, as clients may send a
  // stray line end after a previous message.
  do {
    if (!NextLine(buffer, offset, line)) {
      return buffer.size() > kMaxRequestHeadBytes ? Error(431) : ParseResult{};
    }
  } while (line.empty() && offset <= kMaxRequestHeadBytes);
  if (offset > kMaxRequestHeadBytes) return Error(431);
  if (!ParseRequestLine(line, request)) return Error(400);

  while (true) {
    if (!NextLine(buffer, offset, line)) {
      return buffer.size() > kMaxRequestHeadBytes ? Error(431) : ParseResult{};
    }
    if (offset > kMaxRequestHeadBytes) return Error(431);
    if (line.empty()) break;
    // Folded continuation lines are obsolete and ambiguous; refuse them.
    if (line.front() == ' ' || line.front() == '\t') return Error(400);
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || !IsToken(line.substr(0, colon))) return Error(400);
    if (request.headers.size() == kMaxHeaderLines) return Error(431);
    request.headers.emplace_back(std::string(line.substr(0, colon)),
                                 std::string(Trim(line.substr(colon + 1))));
  }

  if (request.minor_version < 0) return Error(505);
  if (request.minor_version >= 1 && request.FindHeader("Host") == nullptr) return Error(400);
  // Request bodies are only skipped, never read; chunked ones are refused
  // because their end cannot be found without decoding them.
  if (request.FindHeader("Transfer-Encoding") != nullptr) return Error(501);
  bool seen_length = false;
  for (const auto& [name, value] : request.headers) {
    if (!EqualsIgnoreCase(name, "Content-Length")) continue;
    std::size_t length = 0;
    const char* end = value.data() + value.size();
    const auto [ptr, ec] = std::from_chars(value.data(), end, length);
    if (value.empty() || ec != std::errc() || ptr != end) return Error(400);
    if (seen_length && length != request.body_length) return Error(400);
    if (length > kMaxRequestBodyBytes) return Error(413);
    request.body_length = length;
    seen_length = true;
  }
  request.keep_alive = request.minor_version >= 1 ? !HasConnectionToken(request, "close")
                                                  : HasConnectionToken(request, "keep-alive");
  return ParseResult{ParseStatus::kComplete, offset, 0};
}

std::string_view ReasonPhrase(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 304:
      return "Not Modified";
    case 400:
      return "Bad Request";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 413:
      return "Content Too Large";
    case 431:
      return "Request Header Fields Too Large";
    case 500:
      return "Internal Server Error";
    case 501:
      return "Not Implemented";
    case 503:
      return "Service Unavailable";
    case 505:
      return "HTTP Version Not Supported";
    default:
      return "Unknown";
  }
}

HttpResponse ErrorResponse(int status) {
  HttpResponse response;
  response.status = status;
  response.content_type = "text/plain";
  response.body = std::to_string(status) + " " + std::string(ReasonPhrase(status)) + "\n";
  return response;
}

std::string HttpDate(std::time_t when) {
  std::tm parts{};
  gmtime_r(&when, &parts);
  char text[64];
  std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &parts);
  return text;
}

std::string SerializeResponseHead(const HttpResponse& response, bool keep_alive, std::time_t now) {
  std::string head = "HTTP/1.1 " + std::to_string(response.status) + " ";
  head.append(ReasonPhrase(response.status));
  head += "\r\nDate: " + HttpDate(now) + "\r\nServer: vesk-sim\r\n";
  if (!response.content_type.empty()) head += "Content-Type: " + response.content_type + "\r\n";
  // A 304 answer has no body, and a length would claim that of the
  // representation the client already holds.
  if (response.status != 304) {
    head += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
  }
  for (const auto& [name, value] : response.extra_headers) head += name + ": " + value + "\r\n";
  head += keep_alive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
  head += "\r\n";
  return head;
}

}  // namespace sim
