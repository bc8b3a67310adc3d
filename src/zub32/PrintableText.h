// Text from the network written where a person or a parser reads it: the
// exception report and the console. Values may hold any bytes; these
// helpers keep every byte visible without letting it act as markup, a line
// break, a terminal control sequence or an invalid character.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/AsciiText.h"

namespace zub32 {

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
