// An ordered list of header lines, each a name, ": " and a value, with the
// lookups of HTTP: names without regard to case, values trimmed, and
// continuation lines (starting with a blank or tab) joined to the line
// before them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace http {

class TIdHeaderList {
 public:
  // Request lines longer than this are folded onto continuation lines.
  static constexpr std::size_t kFoldLength = 1024;

  void Add(std::string line) { lines_.push_back(std::move(line)); }
  void Clear() { lines_.clear(); }
  std::size_t Count() const { return lines_.size(); }
  const std::string& operator[](std::size_t index) const { return lines_[index]; }

  // The value of the first line of that name, continuation lines appended
  // after one blank each; empty when there is none.
  std::string Values(std::string_view name) const;
  // The values of every line of that name, in order.
  std::vector<std::string> ExtractValues(std::string_view name) const;
  // Every line followed by CR LF, lines longer than kFoldLength folded at a
  // blank onto continuation lines that begin with that blank.
  std::string FoldedText() const;

 private:
  // Index of the first line named name at or after from, or Count().
  std::size_t Find(std::string_view name, std::size_t from) const;
  // The value of the line at index with its continuation lines; next
  // receives the index after them.
  std::string ValueAt(std::size_t index, std::size_t* next) const;

  std::vector<std::string> lines_;
};

// Shared text helpers of the client; names compare with
// platform::EqualsIgnoringAsciiCase.
bool ContainsIgnoreCase(std::string_view text, std::string_view part);
std::string_view TrimBlanks(std::string_view text);
// 0x00-0x1F and 0x7F: bytes that may end a line or act on a terminal.
bool IsControlByte(char c);

}  // namespace http
