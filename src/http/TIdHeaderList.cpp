#include "http/TIdHeaderList.h"

#include <algorithm>

#include "platform/AsciiText.h"

namespace http {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsContinuation(const std::string& line) { return !line.empty() && IsBlank(line[0]); }

}  // namespace

bool ContainsIgnoreCase(std::string_view text, std::string_view part) {
  auto found = std::search(text.begin(), text.end(), part.begin(), part.end(), [](char x, char y) {
    return platform::AsciiLower(x) == platform::AsciiLower(y);
  });
  return found != text.end() || part.empty();
}

std::string_view TrimBlanks(std::string_view text) {
  // Trims blanks and control characters at both ends, as header values are
  // compared without them.
  auto is_space = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  while (!text.empty() && is_space(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_space(text.back())) text.remove_suffix(1);
  return text;
}

std::size_t TIdHeaderList::Find(std::string_view name, std::size_t from) const {
  for (std::size_t i = from; i < lines_.size(); ++i) {
    const std::string& line = lines_[i];
    std::size_t colon = line.find(':');
    if (colon != std::string::npos &&
        platform::EqualsIgnoringAsciiCase(std::string_view(line).substr(0, colon), name))
      return i;
  }
  return lines_.size();
}

std::string TIdHeaderList::ValueAt(std::size_t index, std::size_t* next) const {
  const std::string& line = lines_[index];
  std::string value(TrimBlanks(std::string_view(line).substr(line.find(':') + 1)));
  std::size_t i = index + 1;
  for (; i < lines_.size() && IsContinuation(lines_[i]); ++i) {
    value += ' ';
    value += TrimBlanks(lines_[i]);
  }
  *next = i;
  return value;
}

std::string TIdHeaderList::Values(std::string_view name) const {
  std::size_t index = Find(name, 0);
  if (index == lines_.size()) return {};
  std::size_t next = 0;
  return ValueAt(index, &next);
}

std::vector<std::string> TIdHeaderList::ExtractValues(std::string_view name) const {
  std::vector<std::string> values;
  std::size_t next = 0;
  for (std::size_t index = Find(name, 0); index < lines_.size(); index = Find(name, next))
    values.push_back(ValueAt(index, &next));
  return values;
}

std::string TIdHeaderList::FoldedText() const {
  std::string text;
  for (const std::string& line : lines_) {
    std::string_view rest = line;
    // Break before the last blank that keeps the piece within kFoldLength,
    // but never before the first word of the value; a piece without such a
    // blank stays whole.
    std::size_t colon = rest.find(':');
    std::size_t earliest = colon == std::string_view::npos ? 1 : colon + 2;
    while (rest.size() > kFoldLength) {
      std::size_t blank = rest.find_last_of(" \t", kFoldLength);
      if (blank == std::string_view::npos || blank < earliest) break;
      text.append(rest.substr(0, blank));
      text += "\r\n";
      rest.remove_prefix(blank);
      earliest = 1;
    }
    text.append(rest);
    text += "\r\n";
  }
  return text;
}

bool IsControlByte(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7f;
}

}  // namespace http
