// ASCII letter case, for protocol and configuration texts whose keywords
// match without regard to case whatever the locale.
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

}  // namespace platform
