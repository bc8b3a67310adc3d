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
  HttpResponse ServedFile(const HttpRequest& request, std::string_view encoded_path);
  HttpResponse Layer(const HttpRequest& request, std::string_view name);

  FrameSchedule schedule_;
  std::optional<StaticFiles> files_;
  std::uint64_t feed_sequence_;
  std::map<Minutes, std::string> frame_cache_;  // encoded frames by time
  MapLayers layers_;
  // The layers are generated afresh by each run, so they date from its start.
  std::int64_t layers_modified_ns_;
};

}  // namespace sim
