#include "Simulator.h"

#include <chrono>
#include <ctime>

#include "HttpCaching.h"
#include "LoopPage.h"
#include "RadarScene.h"
#include "StationFeed.h"

namespace sim {
namespace {

// A loop is requested frame by frame, and the next run asks for mostly the
// same frames again; two loops' worth spares most of the rendering.
constexpr std::size_t kCachedFrames = 2 * kLoopFrames;
constexpr std::string_view kServePrefix = "/vesk/";
constexpr std::string_view kLayerPrefix = "/products/radar_transparencies/";
// The feed's sequence starts from the wall clock in microseconds, kept below
// this bound so that the sequence arithmetic never wraps; every simulator run
// then starts at a different entry instead of repeating the first run's values.
constexpr std::uint64_t kFeedSeedBound = std::uint64_t{1} << 40;

std::int64_t WallClockNanos() {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  return std::chrono::duration_cast<std::chrono::nanoseconds>(now).count();
}

std::uint64_t FeedSeed() {
  return static_cast<std::uint64_t>(WallClockNanos() / 1000) % kFeedSeedBound;
}

HttpResponse Ok(std::string content_type, std::string body) {
  HttpResponse response;
  response.content_type = std::move(content_type);
  response.body = std::move(body);
  response.extra_headers.emplace_back("Cache-Control", "no-cache");
  return response;
}

std::string IndexPage(bool serving_files) {
  std::string page =
      "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>vesk-sim</title></head>\n"
      "<body>\n<h1>vesk-sim</h1>\n<ul>\n"
      "<li><a href=\"/products/IDR641.loop.shtml\">radar loop page</a></li>\n"
      "<li><a href=\"/ses/sysinfo.json\">station feed</a></li>\n";
  if (serving_files) page += "<li><a href=\"/vesk/loop.html\">published loop</a></li>\n";
  page += "</ul>\n</body></html>\n";
  return page;
}

}  // namespace

Simulator::Simulator(const SimOptions& options, FrameSchedule::Clock::time_point start)
    : schedule_(options.start_frame.value_or(CurrentFrameStep()), options.frame_interval,
                options.advance_on_request, start, options.stop_publishing_after),
      feed_sequence_(FeedSeed()),
      layers_modified_ns_(WallClockNanos()) {
  if (!options.serve_dir.empty()) files_.emplace(options.serve_dir);
}

HttpResponse Simulator::Handle(const HttpRequest& request) {
  const std::string& path = request.path;
  if (path == kLoopPagePath) return LoopPage(request);
  if (path == kStationFeedPath) return StationFeed();
  if (const std::optional<Minutes> frame = ParseFrameAddress(path)) return Frame(*frame);
  if (path.starts_with(kServePrefix) && files_) {
    return ServedFile(request, std::string_view(path).substr(kServePrefix.size()));
  }
  if (path.starts_with(kLayerPrefix))
    return Layer(request, std::string_view(path).substr(kLayerPrefix.size()));
  if (path == "/") return Ok("text/html; charset=utf-8", IndexPage(files_.has_value()));
  return ErrorResponse(404);
}

HttpResponse Simulator::LoopPage(const HttpRequest& request) {
  const std::vector<Minutes> loop = schedule_.Loop(FrameSchedule::Clock::now());
  // A HEAD request only looks; it does not move the loop on.
  if (request.method == "GET") schedule_.PageServed();
  return Ok("text/html; charset=utf-8", BuildLoopPage(loop));
}

HttpResponse Simulator::Frame(Minutes frame_time) {
  if (!schedule_.IsPublished(frame_time, FrameSchedule::Clock::now())) return ErrorResponse(404);
  auto cached = frame_cache_.find(frame_time);
  if (cached == frame_cache_.end()) {
    cached = frame_cache_.emplace(frame_time, EncodePng(RenderRadarFrame(frame_time))).first;
    // The oldest frames are the least likely to be asked for again.
    while (frame_cache_.size() > kCachedFrames) frame_cache_.erase(frame_cache_.begin());
  }
  return Ok("image/png", cached->second);
}

HttpResponse Simulator::StationFeed() {
  // Every request moves the sequence on, HEAD included, so no two answers in
  // a row carry the same temperature and wind, whatever mix of methods the
  // client uses.
  return Ok("application/json", BuildStationFeed(feed_sequence_++, std::time(nullptr)));
}

// A file actually present in the serve directory wins over a generated layer
// of the same name, so a run's own copies are what the page shows.
HttpResponse Simulator::ServedFile(const HttpRequest& request, std::string_view encoded_path) {
  HttpResponse response = files_->Serve(request, encoded_path);
  if (response.status == 404 && layers_.Find(encoded_path) != nullptr) {
    return Layer(request, encoded_path);
  }
  return response;
}

HttpResponse Simulator::Layer(const HttpRequest& request, std::string_view name) {
  const std::string* file = layers_.Find(name);
  if (file == nullptr) return ErrorResponse(404);
  return VersionedResponse(request, "image/png", *file,
                           FileVersion{file->size(), layers_modified_ns_});
}

}  // namespace sim
