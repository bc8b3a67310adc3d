// vesk --check: whether a refresh run can work here, checked without
// running one. It reads the configuration, resolves the configured hosts,
// tests that the program directory is writable, loads the background bitmap
// and the overlay font, and writes nothing; the only network traffic is name
// resolution, unless --online asks for one fetch of each source.
#pragma once

#include <string>
#include <vector>

#include "zub32/Config.h"

namespace refresh {

// Exit code of a check that found a problem.
inline constexpr int kExitCheckFailed = 1;

struct CheckResult {
  bool ok = true;
  // What was checked and what was found, one line.
  std::string text;
  // Worth a look but no problem: shown as a warning, the check still passes.
  bool warning = false;
};

// Every check, in a fixed order: program directory, configuration (one
// failure per malformed value and per unknown vesk.ini key), radar host (a
// warning when it is left at its default, localhost), publishing host,
// site address, syslog, background, map layers (present with their dates,
// missing, held back after a failed fetch), font. program_dir ends in '/'; directory_origin says
// where it came from
// ("VESK_HOME"); any other origin is the executable's directory, which
// fails when it is a system directory.
std::vector<CheckResult> CheckInstallation(const std::string& program_dir,
                                           const std::string& directory_origin,
                                           const zub32::Configuration& config);

// vesk --check --online: fetches the radar loop page and the station feed
// once each, with the client settings of a run and both requests bounded by
// RunDeadline, and reports each answer's status line and body size, or the
// error. Writes no file.
std::vector<CheckResult> CheckOnline(const zub32::Configuration& config);

// "ok    ", "warn  " or "FAIL  " followed by the result's text.
std::string CheckLine(const CheckResult& result);

// Runs the checks for the program directory and configuration a run would
// use, with CheckOnline after them when online is set, prints a line per check and a closing count
// of problems, and returns 0 or kExitCheckFailed; a warning is no problem.
int RunCheck(bool online);

}  // namespace refresh
