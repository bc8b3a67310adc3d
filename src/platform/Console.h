// Progress lines on standard output, one line per event. Lines show text
// from the network and from files, so every line is written in its visible
// form: a byte a terminal or a log reader could act on (a control byte, a
// line break, an escape sequence, bytes from 0x80 on) appears as "\xHH", and
// no text can start a line of its own.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace platform {

// The longest console line as written; a longer one is cut and ends in
// "...".
inline constexpr std::size_t kMaxConsoleLineBytes = 16 * 1024;

// The text as a console line: PrintableBytes, cut to kMaxConsoleLineBytes
// between escapes.
std::string ConsoleText(std::string_view text);

// Writes ConsoleText(text) and a line feed to standard output and flushes,
// so lines of a run interleave correctly with anything else writing to the
// same stream. Throws EOSError when standard output cannot be written.
void WriteLine(std::string_view text);

// Writes each text as a line, all with one flush: for a step that prints
// hundreds of lines at once.
void WriteLines(std::span<const std::string> texts);

// Writes ConsoleText(text) and a line feed to standard error; a failure
// there is ignored, as nothing is left to tell.
void WriteErrorLine(std::string_view text);

}  // namespace platform
