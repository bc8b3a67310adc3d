// Makes the nowcast of the frames Image0.png ... Image6.png in a directory
// as a run does, five minutes apart (Image6.png the oldest), and prints its
// status.json member, so that the viewer test can show a forecast of real
// frames.
//
//   WriteNowcast DIR LEGEND
#include <unistd.h>

#include <cstdio>
#include <string>

#include "refresh/NowcastPublication.h"
#include "refresh/RadarFrameUpdate.h"
#include "site/SiteNames.h"

int main(int argc, char** argv) {
  if (argc != 3 || chdir(argv[1]) != 0) {
    std::fprintf(stderr, "usage: WriteNowcast DIR LEGEND\n");
    return 2;
  }
  refresh::RunContext run;
  const std::optional<std::vector<zub32::LegendEntry>> legend = zub32::ParseLegend(argv[2]);
  if (!legend) return 2;
  run.config.legend = *legend;
  for (int index = 0; index < refresh::kLoopEntries; ++index) {
    const int minute = 30 - 5 * index;
    run.frame_addresses[site::FrameFileName(index)] = "/radar/X.T.2015051512" +
                                                      std::string(minute < 10 ? "0" : "") +
                                                      std::to_string(minute) + ".png";
  }
  refresh::PublishNowcast(run);
  const site::NowcastRecord& nowcast = *run.nowcast;
  if (!nowcast.reason.empty()) {
    std::fprintf(stderr, "%s\n", nowcast.reason.c_str());
    return 1;
  }
  std::string frames;
  for (const site::ForecastFrame& frame : nowcast.frames) {
    frames += std::string(frames.empty() ? "" : ", ") + "{\"file\": \"" + frame.file +
              "\", \"lead_minutes\": " + std::to_string(frame.lead_minutes) + "}";
  }
  std::printf("{\"frames\": [%s], \"speed_pixels_per_hour\": %lld, \"direction_degrees\": %lld}\n",
              frames.c_str(), static_cast<long long>(nowcast.speed_pixels_per_hour.value_or(0)),
              static_cast<long long>(nowcast.direction_degrees.value_or(0)));
  return 0;
}
