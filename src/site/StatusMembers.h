// The member names of status.json, each spelled once: the document's writer
// and reader use them, and the viewer page hands those the viewer's script
// reads to the script as its object kMember, so that a member renamed here
// reaches the script and a member the script reads that this table does not
// name stops the build.
#pragma once

#include <array>
#include <string_view>

namespace site::member {

inline constexpr std::string_view kProgram = "program";
inline constexpr std::string_view kVersion = "version";
inline constexpr std::string_view kProduct = "product";
inline constexpr std::string_view kRun = "run";
inline constexpr std::string_view kStarted = "started";
inline constexpr std::string_view kFinished = "finished";
inline constexpr std::string_view kDurationMs = "duration_ms";
inline constexpr std::string_view kOutcome = "outcome";
inline constexpr std::string_view kFramesDownloaded = "frames_downloaded";
inline constexpr std::string_view kOverlay = "overlay";
inline constexpr std::string_view kFilesNotWritten = "files_not_written";
inline constexpr std::string_view kFailure = "failure";
inline constexpr std::string_view kClass = "class";
inline constexpr std::string_view kMessage = "message";
inline constexpr std::string_view kFunction = "function";
inline constexpr std::string_view kLastSuccess = "last_success";
inline constexpr std::string_view kLastNewFrame = "last_new_frame";
inline constexpr std::string_view kConsecutiveFailures = "consecutive_failures";
inline constexpr std::string_view kNewestFrame = "newest_frame";
inline constexpr std::string_view kAddress = "address";
inline constexpr std::string_view kTime = "time";
inline constexpr std::string_view kAgeSeconds = "age_seconds";
inline constexpr std::string_view kStation = "station";
inline constexpr std::string_view kTemperature = "temperature";
inline constexpr std::string_view kWind = "wind";
inline constexpr std::string_view kUpdated = "updated";
inline constexpr std::string_view kFrames = "frames";
inline constexpr std::string_view kFile = "file";
inline constexpr std::string_view kArchive = "archive";
inline constexpr std::string_view kSlot = "slot";
inline constexpr std::string_view kFrame = "frame";
inline constexpr std::string_view kStale = "stale";
inline constexpr std::string_view kStaleAfterMinutes = "stale_after_minutes";
inline constexpr std::string_view kNotBefore = "not_before";
inline constexpr std::string_view kNowcast = "nowcast";
inline constexpr std::string_view kIssued = "issued";
inline constexpr std::string_view kLeadMinutes = "lead_minutes";
inline constexpr std::string_view kSpeedPixelsPerHour = "speed_pixels_per_hour";
inline constexpr std::string_view kDirectionDegrees = "direction_degrees";
inline constexpr std::string_view kReason = "reason";
inline constexpr std::string_view kRainExpectedInMinutes = "rain_expected_in_minutes";

}  // namespace site::member

namespace site {

// A member the viewer's script reads: the name it reads it by
// (kMember.<script_name>) and the member's name in the document.
struct ScriptMember {
  std::string_view script_name;
  std::string_view json_name;
};

inline constexpr std::array<ScriptMember, 21> kViewerMembers = {{
    {"age_seconds", member::kAgeSeconds},
    {"archive", member::kArchive},
    {"file", member::kFile},
    {"finished", member::kFinished},
    {"frame", member::kFrame},
    {"frames", member::kFrames},
    {"issued", member::kIssued},
    {"last_new_frame", member::kLastNewFrame},
    {"lead_minutes", member::kLeadMinutes},
    {"newest_frame", member::kNewestFrame},
    {"nowcast", member::kNowcast},
    {"overlay", member::kOverlay},
    {"reason", member::kReason},
    {"run", member::kRun},
    {"stale", member::kStale},
    {"stale_after_minutes", member::kStaleAfterMinutes},
    {"station", member::kStation},
    {"temperature", member::kTemperature},
    {"time", member::kTime},
    {"updated", member::kUpdated},
    {"wind", member::kWind},
}};

// Whether the script may read a member by that name; the embedded script's
// generated source asserts it for every kMember.<name> the script holds.
constexpr bool IsViewerMember(std::string_view script_name) {
  for (const ScriptMember& entry : kViewerMembers) {
    if (entry.script_name == script_name) return true;
  }
  return false;
}

}  // namespace site
