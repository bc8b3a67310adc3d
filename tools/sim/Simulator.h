// The simulator's routes: the radar source host's loop page and frames, the
// map layers, the publishing host's station feed and, optionally, its /vesk/
// directory.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "FrameSchedule.h"
#include "HttpMessage.h"
#include "MapLayers.h"
#include "SimOptions.h"
#include "StaticFiles.h"

namespace sim {

class Simulator {
 public:
  // Throws std::runtime_error when the serve directory cannot be used.
  Simulator(const SimOptions& options, FrameSchedule::Clock::time_point start);

  HttpResponse Handle(const HttpRequest& request);

 private:
  HttpResponse LoopPage(const HttpRequest& request);
  HttpResponse Frame(Minutes frame_time);
  HttpResponse StationFeed();
  HttpResponse ServedFile(std::string_view encoded_path);
  HttpResponse Layer(std::string_view name);

  FrameSchedule schedule_;
  std::optional<StaticFiles> files_;
  std::uint64_t feed_sequence_;
  std::map<Minutes, std::string> frame_cache_;  // encoded frames by time
  MapLayers layers_;
};

}  // namespace sim
