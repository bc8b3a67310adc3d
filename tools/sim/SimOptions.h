// The simulator's command line.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "FrameSchedule.h"

namespace sim {

struct SimOptions {
  std::uint16_t port = 0;
  std::chrono::seconds frame_interval{300};
  bool advance_on_request = false;
  std::optional<Minutes> start_frame;  // newest frame at start; the current time by default
  // New frames after the start frame before the source stops publishing;
  // none: it never stops.
  std::optional<std::int64_t> stop_publishing_after;
  std::chrono::seconds max_seconds{600};
  std::chrono::seconds idle_timeout{15};
  std::string serve_dir;  // empty: nothing is served under /vesk/
  bool log = false;
  std::string write_background;  // non-empty: write the map there and exit
  bool help = false;
};

// A command line the simulator cannot run with; the message says why.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Parses the arguments after the program name. Throws UsageError.
SimOptions ParseSimOptions(const std::vector<std::string>& arguments);

// The text that --help prints.
std::string UsageText();

}  // namespace sim
