#include "http/TIdHTTPResponse.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <optional>

namespace http {

bool ParseDecimal(std::string_view text, std::int64_t* value) {
  bool plus = !text.empty() && text[0] == '+';
  if (plus) text.remove_prefix(1);
  if (text.empty() || (plus && text[0] == '-')) return false;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value, 10);
  return error == std::errc() && end == text.data() + text.size();
}

int ParseStatusCode(const std::string& status_line) {
  std::size_t first = status_line.find(' ');
  if (first == std::string::npos) return -1;
  std::size_t second = status_line.find(' ', first + 1);
  std::string_view word =
      std::string_view(status_line)
          .substr(first + 1,
                  second == std::string::npos ? std::string_view::npos : second - first - 1);
  std::int64_t code = 0;
  if (!ParseDecimal(word, &code) || code < -2147483647 || code > 2147483647) return -1;
  return static_cast<int>(code);
}

void TIdHTTPResponse::SetStatusLine(std::string line) {
  ResponseCode = ParseStatusCode(line);
  ResponseText = std::move(line);
}

namespace {

bool AllDigits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// One element of a Content-Length value: its number, the largest value for
// a string of digits too long to hold, nullopt when it is no number. Only
// digits count: a sign is read one way here and another way elsewhere.
std::optional<std::int64_t> LengthElement(std::string_view text) {
  if (!AllDigits(text)) return std::nullopt;
  std::int64_t value = 0;
  if (ParseDecimal(text, &value)) return value;
  return std::numeric_limits<std::int64_t>::max();
}

}  // namespace

void TIdHTTPResponse::ProcessContentLength() {
  // Every Content-Length line counts, and a line may hold a comma-separated
  // list: repeats of one length are that length, two different lengths are
  // a conflict. A lone value that is no number leaves the length unknown;
  // one that sits beside another value, or one with a "+" sign that a
  // lenient reader would take for a length, is malformed.
  ContentLength = -1;
  ContentLengthConflict = false;
  ContentLengthMalformed = false;
  std::optional<std::int64_t> length;
  std::size_t elements = 0;
  bool unknown = false;
  for (const std::string& value : RawHeaders.ExtractValues("Content-Length")) {
    std::string_view rest = value;
    for (;;) {
      std::size_t comma = rest.find(',');
      const std::string_view text = TrimBlanks(rest.substr(0, comma));
      ++elements;
      if (!text.empty() && text[0] == '+') ContentLengthMalformed = true;
      std::optional<std::int64_t> element = LengthElement(text);
      if (!element) {
        unknown = true;
      } else {
        if (length && *length != *element) ContentLengthConflict = true;
        length = element;
      }
      if (comma == std::string_view::npos) break;
      rest.remove_prefix(comma + 1);
    }
  }
  if (unknown && elements > 1) ContentLengthMalformed = true;
  if (!ContentLengthConflict && !ContentLengthMalformed && !unknown && length)
    ContentLength = *length;
}

void TIdHTTPResponse::ProcessHeaders() {
  Location = RawHeaders.Values("Location");
  Connection = RawHeaders.Values("Connection");
  ProxyConnection = RawHeaders.Values("Proxy-Connection");
  ContentType = RawHeaders.Values("Content-Type");
  ContentEncoding = RawHeaders.Values("Content-Encoding");
  ContentLanguage = RawHeaders.Values("Content-Language");
  ContentVersion = RawHeaders.Values("Content-Version");
  CacheControl = RawHeaders.Values("Cache-Control");
  Pragma = RawHeaders.Values("Pragma");
  TransferEncoding = RawHeaders.Values("Transfer-Encoding");
  Date = RawHeaders.Values("Date");
  Expires = RawHeaders.Values("Expires");
  LastModified = RawHeaders.Values("Last-Modified");
  Server = RawHeaders.Values("Server");
  ProcessContentLength();
  WWWAuthenticate = RawHeaders.ExtractValues("WWW-Authenticate");
  ProxyAuthenticate = RawHeaders.ExtractValues("Proxy-Authenticate");
}

}  // namespace http
