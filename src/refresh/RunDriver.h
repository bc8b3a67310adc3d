// The program's entry: one refresh run from start to exit, or the help and
// version texts.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Version.h"
#include "refresh/RunContext.h"

namespace refresh {

inline constexpr const char* kSelfName = "VESK";
inline constexpr const char* kVersion = platform::kVeskVersion;
inline constexpr const char* kExceptionFileName = "e!vesk.xml";
// Exit code of a run whose program directory cannot be entered, holds no
// file this user can create or, without VESK_HOME, is a system directory;
// every run that gets going ends with 0, failures included.
inline constexpr int kExitNoProgramDirectory = 2;
// Exit code of a command line with an unknown option; nothing is run.
inline constexpr int kExitUsage = 2;

// The HTML delay from the first command-line parameter: an optionally signed
// decimal integer that fits 32 bits, the whole parameter; 333 when the
// parameter is absent or anything else ("abc", "", " 5", "1e3").
std::int32_t ParseHtmlDelay(const char* parameter);

// Whether a first argument is meant as an option rather than a delay: it
// starts with "--", or with '-' and a letter ("-5" is a delay).
bool LooksLikeOption(std::string_view argument);

// The usage lines that start the --help text and follow an unknown option.
std::string UsageText();

// The --help text: command line, configuration keys with their values in
// force and where each came from, and the program directory.
std::string HelpText();

// Handles the command line: --help/-h and --version print and return 0,
// --check checks; any other first argument that LooksLikeOption is refused
// with the usage on standard error and kExitUsage; anything else runs one
// refresh with the first parameter as the HTML delay.
// Returns the process exit code.
int RunMain(const std::vector<std::string>& arguments);

// One refresh run; first_parameter is null when there is none.
int Run(const char* first_parameter);

}  // namespace refresh
