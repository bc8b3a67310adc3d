// Arbitrary text as a request target or redirect Location for the URL
// splitter, and its path merged into a current path as the client resolves
// a relative target. Besides crashes and sanitizer findings it checks what
// the client relies on: the parts put together give back the text (less its
// fragment, with slashes for backslashes), a path ends with "/" and a
// document holds none, and a merged path is absolute, ends with "/", has no
// empty and no ".." segment.
//
// Input: "current path\n" target, or a target alone (current path
// "/products/").
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "http/TIdURI.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

void CheckMerged(const std::string& merged) {
  Check(!merged.empty() && merged.front() == '/' && merged.back() == '/');
  Check(merged.find("//") == std::string::npos);
  Check(merged.find("/../") == std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string current = "/products/";
  std::string target(input);
  if (const std::size_t newline = input.find('\n'); newline != std::string_view::npos) {
    current = std::string(input.substr(0, newline));
    target = std::string(input.substr(newline + 1));
  }

  const http::TIdURI uri = http::TIdURI::Parse(target);
  Check(uri.Document.find('/') == std::string::npos);
  Check(uri.Path.empty() || uri.Path.back() == '/');
  Check(uri.Params.empty() || uri.Params.front() == '?');
  for (const std::string* part : {&uri.Protocol, &uri.Username, &uri.Password, &uri.Host, &uri.Port,
                                  &uri.Path, &uri.Document, &uri.Params}) {
    Check(part->find('#') == std::string::npos);
    Check(part->find('\\') == std::string::npos);
  }

  // The text up to its fragment, with slashes for backslashes.
  std::string expected = target.substr(0, target.find('#'));
  for (char& c : expected) {
    if (c == '\\') c = '/';
  }
  const bool absolute = expected.substr(0, expected.find('?')).find("://") != std::string::npos;
  if (!absolute) {
    // A bare path splits into path, document and parameters and nothing else.
    Check(uri.Protocol.empty());
    Check(uri.Host.empty() && uri.Port.empty() && uri.Username.empty());
    Check(uri.Path + uri.Document + uri.Params == expected);
  } else {
    Check(uri.Path.front() == '/');
    Check(expected.starts_with(uri.Protocol + "://"));
    // Without user information, brackets or an empty port, the authority
    // is host[:port] exactly.
    const std::string rest = expected.substr(uri.Protocol.size() + 3);
    if (rest.find_first_of("@[]") == std::string::npos) {
      const std::string authority = uri.Host + (uri.Port.empty() ? "" : ":" + uri.Port);
      Check(rest.starts_with(authority));
    }
    Check(expected.ends_with(uri.Document + uri.Params));
  }

  CheckMerged(http::TIdURI::MergePath(current, uri.Path));
  CheckMerged(http::TIdURI::MergePath("/", uri.Path));
  return 0;
}
