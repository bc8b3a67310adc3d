// Text from the network written where a person or a parser reads it: the
// exception report and the console. Values may hold any bytes; these
// helpers keep every byte visible without letting it act as markup, a line
// break, a terminal control sequence or an invalid character.
#pragma once

#include <cstddef>
#include <limits>
#include <string>
#include <string_view>

#include "platform/AsciiText.h"

namespace zub32 {

// Text built from pieces (each a character or an escape as written) and
// bounded in length: a piece that would pass max_length is refused, the text
// is cut back at a piece boundary to where mark still fits and ends in mark
// (or is cut bare when mark alone does not fit), and it takes no more
// pieces. A text within max_length is never cut.
class BoundedText {
 public:
  BoundedText(std::size_t max_length, std::string_view mark);
  // False once the text is cut; the piece is then dropped.
  bool Append(std::string_view piece);
  const std::string& text() const { return text_; }

 private:
  std::string text_;
  std::size_t max_length_;
  std::size_t keep_;  // the length up to which the mark still fits after it
  std::string_view mark_;
  std::size_t cut_ = std::numeric_limits<std::size_t>::max();  // where the mark goes
  bool full_ = false;
};

// Every byte outside 0x20-0x7E other than tab as "\xHH"; it lives with the
// console writer, which escapes every line the same way.
using platform::PrintableBytes;

// The text on one line: every run of blanks, tabs, CRs and LFs (the CR LF
// inside socket error messages included) becomes one blank, blanks at either
// end are dropped, every other byte outside 0x20-0x7E is written as "\xHH",
// and a result longer than max_length is cut, never inside a "\xHH", and
// ends in "...".
std::string OneLine(std::string_view text, std::size_t max_length);

}  // namespace zub32
