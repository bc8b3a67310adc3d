// Progress lines on standard output, one line per event.
#pragma once

#include <string_view>

namespace platform {

// Writes the text and a line feed to standard output and flushes, so lines of
// a run interleave correctly with anything else writing to the same stream.
// Throws EOSError when standard output cannot be written.
void WriteLine(std::string_view text);

}  // namespace platform
