// Which radar frames exist at a given moment. Frames are named by their
// observation time in UTC, written yyyymmddhhmm, and come every
// kFrameStepMinutes of simulated time. The newest frame advances either with
// the wall clock (one step per frame interval) or, for tests, one step after
// each loop page served.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

using Minutes = std::int64_t;  // UTC minutes since 1970-01-01 00:00

inline constexpr Minutes kFrameStepMinutes = 5;
inline constexpr int kLoopFrames = 7;
// Older frames stay available for a while after they leave the loop, as a
// real source keeps them for late clients.
inline constexpr int kRetainedFrames = 36;

// "202407222150" for 2024-07-22 21:50 UTC.
std::string FormatStamp(Minutes minutes);
// The inverse of FormatStamp: exactly twelve digits naming a valid date and
// time from year 1970 to 9999; nullopt otherwise.
std::optional<Minutes> ParseStamp(std::string_view text);

// The current UTC time, rounded down to a whole frame step.
Minutes CurrentFrameStep();

class FrameSchedule {
 public:
  using Clock = std::chrono::steady_clock;

  // With max_steps, the newest frame stops advancing after that many steps.
  FrameSchedule(Minutes first_newest, std::chrono::seconds interval, bool advance_on_request,
                Clock::time_point start, std::optional<std::int64_t> max_steps = std::nullopt);

  // The newest frame at this moment.
  Minutes Newest(Clock::time_point now) const;

  // The loop's frames at this moment, oldest first.
  std::vector<Minutes> Loop(Clock::time_point now) const;

  // Records that a loop page went out: with advance on request, the next
  // page's newest frame is one step later.
  void PageServed();

  // Whether a frame of that time is published now: on the step grid, not in
  // the future and not older than the retained frames.
  bool IsPublished(Minutes frame, Clock::time_point now) const;

 private:
  Minutes first_newest_;
  std::chrono::seconds interval_;
  bool advance_on_request_;
  Clock::time_point start_;
  std::optional<std::int64_t> max_steps_;
  std::int64_t pages_served_ = 0;
};

}  // namespace sim
