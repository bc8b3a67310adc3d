// Runs a program as a child process with a chosen environment, working
// directory and arguments, captures its standard output and error, and stops
// it when it overruns its time.
#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

struct ProcessOptions {
  std::string binary;             // path of the program
  std::vector<std::string> args;  // arguments after the program name
  std::string working_directory;  // empty: the test's own
  // Changes to the test's environment: a value sets the variable, nullopt
  // removes it. With clear_environment only these variables are passed.
  std::map<std::string, std::optional<std::string>> environment;
  bool clear_environment = false;
  std::string standard_input;  // written to the child, then closed
  std::chrono::milliseconds time_limit{30000};
  // As root, the program runs as the user and group nobody, with no more
  // rights over files than an ordinary user (see Unprivileged.h).
  bool unprivileged = false;
};

struct ProcessResult {
  int exit_code = -1;       // -1 when the process did not exit normally
  int signal = 0;           // the signal that ended it, 0 when none
  bool timed_out = false;   // killed after overrunning time_limit
  std::string out;          // standard output
  std::string err;          // standard error
  std::string start_error;  // why it could not be started; empty when it ran

  // Standard output split at line feeds (a CR before the LF is removed).
  std::vector<std::string> OutLines() const;
};

// Runs the program to its end or to its time limit; the child runs in its own
// process group, which is killed as a whole on time-out.
ProcessResult RunProcess(const ProcessOptions& options);

// Runs a program with these arguments, the test's environment and the
// default time limit.
ProcessResult RunTool(const std::string& binary, std::vector<std::string> args);

// The built vesk binary (VESK_BINARY, which CTest sets); empty when unset.
std::string VeskBinary();

// Options that run vesk the way every end-to-end test does: syslog off, the
// stale alert off (the fixtures' frames are named years ago), no loop.webp
// (the fixtures' frames are no pictures, so each run would print why it kept
// the old one), the C locale, a 60-second limit, and none of the
// configuration variables a developer's shell may carry (program directory,
// hosts, font, time limits), so that only what the test then sets applies.
ProcessOptions VeskRunOptions(const std::string& binary, const std::string& working_directory);

// Copies a file and keeps its permission bits; throws on failure.
void CopyExecutable(const std::string& from, const std::string& to);

}  // namespace testing_support
