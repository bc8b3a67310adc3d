// ASCII letter case, for protocol and configuration texts whose keywords
// match without regard to case whatever the locale, and the visible form of
// bytes that are no printable ASCII.
#pragma once

#include <string>
#include <string_view>

namespace platform {

inline bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

inline char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

inline std::string AsciiLower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = AsciiLower(c);
  return lower;
}

inline bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t k = 0; k < a.size(); ++k) {
    if (AsciiLower(a[k]) != AsciiLower(b[k])) return false;
  }
  return true;
}

// Every byte outside 0x20-0x7E other than tab as "\xHH" (two upper-case hex
// digits); the rest unchanged. The result is printable ASCII, so applying it
// twice changes nothing more.
inline std::string PrintableBytes(std::string_view text) {
  static constexpr char kHexDigits[] = "0123456789ABCDEF";
  std::string printable;
  printable.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte >= 0x20 && byte <= 0x7E) || c == '\t') {
      printable += c;
      continue;
    }
    printable += "\\x";
    printable += kHexDigits[byte >> 4];
    printable += kHexDigits[byte & 0x0F];
  }
  return printable;
}

}  // namespace platform
