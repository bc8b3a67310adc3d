// A request target split into its parts, and the merging of a relative path
// into the current one.
#pragma once

#include <string>

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
};

}  // namespace http
