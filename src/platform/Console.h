// Progress lines on standard output, one line per event.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace platform {

// Writes the text and a line feed to standard output and flushes, so lines of
// a run interleave correctly with anything else writing to the same stream.
// Throws EOSError when standard output cannot be written.
void WriteLine(std::string_view text);

// Writes each text as a line, all with one flush: for a step that prints
// hundreds of lines at once.
void WriteLines(std::span<const std::string> texts);

}  // namespace platform
