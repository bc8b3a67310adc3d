#include "http/TIdURI.h"

#include <algorithm>
#include <vector>

namespace http {

namespace {

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(char c) {
  return IsAsciiDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool NeedsEncoding(unsigned char byte) {
  if (byte <= 0x20 || byte >= 0x7f) return true;
  return std::string_view("\"<>\\^`{|}").find(static_cast<char>(byte)) != std::string_view::npos;
}

}  // namespace

TIdURI TIdURI::Parse(std::string url) {
  TIdURI uri;
  std::replace(url.begin(), url.end(), '\\', '/');
  url = url.substr(0, url.find('#'));

  std::size_t question = url.find('?');
  if (question != std::string::npos) {
    uri.Params = url.substr(question);
    url.resize(question);
  }

  std::string path_part = url;
  std::size_t scheme_end = url.find("://");
  if (scheme_end != std::string::npos) {
    uri.Protocol = url.substr(0, scheme_end);
    std::string rest = url.substr(scheme_end + 3);
    std::size_t slash = rest.find('/');
    std::string authority = rest.substr(0, slash);
    path_part = slash == std::string::npos ? "/" : rest.substr(slash);

    std::size_t at = authority.rfind('@');
    if (at != std::string::npos) {
      std::string user_info = authority.substr(0, at);
      authority.erase(0, at + 1);
      std::size_t colon = user_info.find(':');
      uri.Username = user_info.substr(0, colon);
      if (colon != std::string::npos) uri.Password = user_info.substr(colon + 1);
    }

    std::size_t port_colon = std::string::npos;
    if (!authority.empty() && authority[0] == '[') {
      std::size_t close = authority.find(']');
      uri.Host = authority.substr(1, close == std::string::npos ? std::string::npos : close - 1);
      if (close != std::string::npos && close + 1 < authority.size() && authority[close + 1] == ':')
        port_colon = close + 1;
    } else {
      port_colon = authority.rfind(':');
      uri.Host = authority.substr(0, port_colon);
    }
    if (port_colon != std::string::npos) uri.Port = authority.substr(port_colon + 1);
  }

  std::size_t last_slash = path_part.rfind('/');
  std::size_t document_start = last_slash == std::string::npos ? 0 : last_slash + 1;
  uri.Path = path_part.substr(0, document_start);
  uri.Document = path_part.substr(document_start);
  return uri;
}

std::string TIdURI::MergePath(const std::string& current, const std::string& relative) {
  std::string joined = current + "/" + relative;
  std::vector<std::string> segments;
  std::size_t start = 0;
  while (start <= joined.size()) {
    std::size_t slash = joined.find('/', start);
    if (slash == std::string::npos) slash = joined.size();
    std::string segment = joined.substr(start, slash - start);
    if (segment == "..") {
      if (!segments.empty()) segments.pop_back();
    } else if (!segment.empty()) {
      segments.push_back(std::move(segment));
    }
    start = slash + 1;
  }
  std::string merged = "/";
  for (const std::string& segment : segments) merged += segment + "/";
  return merged;
}

std::string TIdURI::SchemeOf(std::string_view text) {
  if (text.empty() || !IsAsciiLetter(text[0])) return {};
  for (std::size_t i = 1; i < text.size(); ++i) {
    const char c = text[i];
    if (c == ':') return std::string(text.substr(0, i));
    if (!IsAsciiLetter(c) && !IsAsciiDigit(c) && c != '+' && c != '-' && c != '.') return {};
  }
  return {};
}

bool TIdURI::IsValidHost(std::string_view host) {
  if (host.empty() || host.size() > kMaxHostLength) return false;
  if (host.find(':') != std::string_view::npos)
    return std::all_of(host.begin(), host.end(),
                       [](char c) { return IsHexDigit(c) || c == ':' || c == '.'; });
  return std::all_of(host.begin(), host.end(), [](char c) {
    return IsAsciiLetter(c) || IsAsciiDigit(c) || c == '.' || c == '-' || c == '_';
  });
}

std::string TIdURI::EncodeTarget(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  encoded.reserve(text.size());
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (NeedsEncoding(byte)) {
      encoded += '%';
      encoded += kHex[byte >> 4];
      encoded += kHex[byte & 0x0f];
    } else {
      encoded += c;
    }
  }
  return encoded;
}

}  // namespace http
