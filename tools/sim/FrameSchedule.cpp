#include "FrameSchedule.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace sim {
namespace {

using std::chrono::days;
using std::chrono::sys_days;
using std::chrono::year_month_day;

Minutes FloorDiv(Minutes value, Minutes divisor) {
  Minutes quotient = value / divisor;
  if (value % divisor != 0 && value < 0) --quotient;
  return quotient;
}

bool ReadNumber(std::string_view text, int& value) {
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && ptr == text.data() + text.size();
}

}  // namespace

std::string FormatStamp(Minutes minutes) {
  const Minutes day_count = FloorDiv(minutes, 24 * 60);
  const Minutes minute_of_day = minutes - day_count * 24 * 60;
  const year_month_day date{sys_days{days{day_count}}};
  char text[32];
  std::snprintf(text, sizeof text, "%04d%02u%02u%02d%02d", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(minute_of_day / 60), static_cast<int>(minute_of_day % 60));
  return text;
}

std::optional<Minutes> ParseStamp(std::string_view text) {
  if (text.size() != 12) return std::nullopt;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  int year = 0, month = 0, day = 0, hour = 0, minute = 0;
  if (!ReadNumber(text.substr(0, 4), year) || !ReadNumber(text.substr(4, 2), month) ||
      !ReadNumber(text.substr(6, 2), day) || !ReadNumber(text.substr(8, 2), hour) ||
      !ReadNumber(text.substr(10, 2), minute)) {
    return std::nullopt;
  }
  const year_month_day date{std::chrono::year{year},
                            std::chrono::month{static_cast<unsigned>(month)},
                            std::chrono::day{static_cast<unsigned>(day)}};
  if (year < 1970 || !date.ok() || hour > 23 || minute > 59) return std::nullopt;
  const Minutes day_count = sys_days{date}.time_since_epoch().count();
  return day_count * 24 * 60 + hour * 60 + minute;
}

Minutes CurrentFrameStep() {
  const auto now = std::chrono::system_clock::now();
  const Minutes minutes =
      std::chrono::duration_cast<std::chrono::minutes>(now.time_since_epoch()).count();
  return FloorDiv(minutes, kFrameStepMinutes) * kFrameStepMinutes;
}

FrameSchedule::FrameSchedule(Minutes first_newest, std::chrono::seconds interval,
                             bool advance_on_request, Clock::time_point start,
                             std::optional<std::int64_t> max_steps)
    : first_newest_(first_newest),
      interval_(interval),
      advance_on_request_(advance_on_request),
      start_(start),
      max_steps_(max_steps) {}

Minutes FrameSchedule::Newest(Clock::time_point now) const {
  std::int64_t steps = pages_served_;
  if (!advance_on_request_ && now > start_) {
    steps = std::chrono::duration_cast<std::chrono::seconds>(now - start_) / interval_;
  }
  if (max_steps_) steps = std::min(steps, *max_steps_);
  return first_newest_ + steps * kFrameStepMinutes;
}

std::vector<Minutes> FrameSchedule::Loop(Clock::time_point now) const {
  const Minutes newest = Newest(now);
  std::vector<Minutes> loop;
  for (int age = kLoopFrames - 1; age >= 0; --age) loop.push_back(newest - age * kFrameStepMinutes);
  return loop;
}

void FrameSchedule::PageServed() {
  if (advance_on_request_) ++pages_served_;
}

bool FrameSchedule::IsPublished(Minutes frame, Clock::time_point now) const {
  const Minutes newest = Newest(now);
  if (frame > newest || newest - frame >= kRetainedFrames * kFrameStepMinutes) return false;
  return (newest - frame) % kFrameStepMinutes == 0;
}

}  // namespace sim
