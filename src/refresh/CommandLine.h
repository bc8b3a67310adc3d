// The command line: one table of its forms, from which the usage, the --help
// text and the dispatch to a refresh run, the check, the status or the
// version are made.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace refresh {

// Exit code of a command line with an unknown option or an argument its form
// does not take; nothing is run.
inline constexpr int kExitUsage = 2;

// The HTML delay from the first command-line parameter: an optionally signed
// decimal integer that fits 32 bits, the whole parameter; 333 when the
// parameter is absent or anything else ("abc", "", " 5", "1e3").
std::int32_t ParseHtmlDelay(const char* parameter);

// Whether a first argument is meant as an option rather than a delay: it
// starts with "--", or with '-' and a letter ("-5" is a delay).
bool LooksLikeOption(std::string_view argument);

// The usage lines that start the --help text and follow a refused command
// line.
std::string UsageText();

// The --help text: command line, configuration keys with their values in
// force and where each came from, and the program directory.
std::string HelpText();

// Handles the command line: a first argument that LooksLikeOption selects
// the form of that name (--check, --status, --help/-h, --version); any other
// runs one refresh with the first argument as the HTML delay and ignores the
// rest. An unknown option, or an argument the selected form does not take,
// is refused with the usage on standard error and kExitUsage.
// Returns the process exit code.
int RunMain(const std::vector<std::string>& arguments);

}  // namespace refresh
