// A request target split into its parts, and the merging of a relative path
// into the current one.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace http {

struct TIdURI {
  std::string Protocol;  // scheme, e.g. "http"; empty for a bare path
  std::string Username;
  std::string Password;
  std::string Host;  // without brackets for an IPv6 literal
  std::string Port;  // as written; empty when absent
  std::string Path;  // up to and including the last "/"
  std::string Document;
  std::string Params;  // from "?" on, "?" included

  // Splits a URL. Backslashes count as slashes and a fragment from "#" on is
  // dropped. A text without "://" before its "?" is a path; an absolute URL
  // without a path has the path "/".
  static TIdURI Parse(std::string url);

  // Appends a relative path to the current one with a "/" between, collapses
  // repeated slashes and lets each ".." segment remove the segment before
  // it. The result starts and ends with "/".
  static std::string MergePath(const std::string& current, const std::string& relative);

  // The longest host name a target may name.
  static constexpr std::size_t kMaxHostLength = 253;

  // The scheme a text starts with: a letter, then letters, digits, "+", "-"
  // or ".", up to a ":" that comes before any "/", "?" or "#"; empty when
  // the text has none and so is a path.
  static std::string SchemeOf(std::string_view text);

  // True for a host name of letters, digits, ".", "-" and "_", or an IPv6
  // literal (without its brackets) of hexadecimal digits, ":" and ".".
  static bool IsValidHost(std::string_view host);

  // The text with every byte a URI cannot carry as it is (a blank, a double
  // quote, "<", ">", a backslash, "^", "`", "{", "|", "}" and bytes from
  // 0x80 on) written as "%" and two upper-case hexadecimal digits, as
  // browsers do. A "%" stays as it is: the text may be encoded already.
  static std::string EncodeTarget(std::string_view text);
};

}  // namespace http
