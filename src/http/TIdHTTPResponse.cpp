#include "http/TIdHTTPResponse.h"

#include <charconv>

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
  std::int64_t length = -1;
  ContentLength = ParseDecimal(RawHeaders.Values("Content-Length"), &length) ? length : -1;
  if (ContentLength < 0) ContentLength = -1;
  WWWAuthenticate = RawHeaders.ExtractValues("WWW-Authenticate");
  ProxyAuthenticate = RawHeaders.ExtractValues("Proxy-Authenticate");
}

}  // namespace http
