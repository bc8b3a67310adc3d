#include "refresh/NowcastPublication.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <new>
#include <vector>

#include "nowcast/Nowcast.h"
#include "nowcast/StationWarning.h"
#include "picture/PngDecoder.h"
#include "platform/Console.h"
#include "platform/Exceptions.h"
#include "platform/FileSystem.h"
#include "refresh/RadarFrameUpdate.h"
#include "site/SiteNames.h"
#include "site/StatusDocument.h"
#include "zub32/PrintableText.h"

namespace refresh {
namespace {

constexpr std::int64_t kSecondsPerMinute = 60;
// The reason on the console line and in status.json is cut at this length.
constexpr std::size_t kMaxReasonLength = 300;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The address of each current frame file: this run's, else the one
// status.json kept.
std::map<std::string, std::string> FrameAddresses(const RunContext& run) {
  std::map<std::string, std::string> addresses;
  if (const std::optional<site::RunStatus> previous = site::ReadPreviousStatus()) {
    for (const site::FrameRecord& frame : previous->frames) addresses[frame.file] = frame.address;
  }
  for (const auto& [file, address] : run.frame_addresses) addresses[file] = address;
  return addresses;
}

struct DecodedFrame {
  picture::RgbaImage picture;
  std::int64_t minutes = 0;
};

// The current frames that can be read, decode and have a time, oldest
// first.
std::vector<DecodedFrame> ReadFrames(const RunContext& run) {
  const std::map<std::string, std::string> addresses = FrameAddresses(run);
  std::vector<DecodedFrame> frames;
  for (int index = 0; index < kLoopEntries; ++index) {
    const std::string file = site::FrameFileName(index);
    const auto address = addresses.find(file);
    if (address == addresses.end()) continue;
    const std::optional<std::int64_t> time = site::FrameTimeFromAddress(address->second);
    const std::optional<std::string> bytes =
        platform::ReadWholeFile(file, static_cast<std::size_t>(run.config.max_frame_bytes));
    if (!time || !bytes) continue;
    try {
      frames.push_back({picture::DecodePng(*bytes), *time / kSecondsPerMinute});
    } catch (const platform::EInvalidGraphic&) {
      // A frame that does not decode is not usable; the count of those
      // left decides.
    }
  }
  std::sort(frames.begin(), frames.end(),
            [](const DecodedFrame& a, const DecodedFrame& b) { return a.minutes < b.minutes; });
  return frames;
}

// Makes and writes the nowcast into record; the reason when it fails.
std::string MakeAndWrite(const RunContext& run, site::NowcastRecord& record) {
  const nowcast::Legend legend = LegendColours(run.config.legend);
  const std::vector<DecodedFrame> decoded = ReadFrames(run);
  std::vector<nowcast::TimedFrame> frames;
  for (const DecodedFrame& frame : decoded) frames.push_back({&frame.picture, frame.minutes});
  const nowcast::Forecast forecast = nowcast::MakeNowcast(frames, legend);
  if (!forecast.Made()) return forecast.failure;
  for (std::size_t k = 0; k < forecast.leads.size(); ++k) {
    const std::string file = site::NowcastFileName(static_cast<int>(k) + 1);
    const platform::FileResult written =
        platform::ReplaceFileAtomically(file, nowcast::EncodeLevelsPng(forecast.leads[k], legend));
    if (!written.ok()) return file + " not written: " + written.reason();
  }
  record.issued = forecast.issued_minutes * kSecondsPerMinute;
  for (std::size_t k = 0; k < forecast.leads.size(); ++k) {
    const int lead = forecast.LeadMinutes(k);
    record.frames.push_back({site::NowcastFileName(static_cast<int>(k) + 1), lead,
                             (forecast.issued_minutes + lead) * kSecondsPerMinute});
  }
  record.speed_pixels_per_hour = std::llround(forecast.speed_pixels_per_hour);
  record.direction_degrees = std::llround(forecast.direction_degrees) % 360;
  if (run.config.station_pixel) {
    const std::optional<int> rain =
        nowcast::FirstRainLead(forecast, {run.config.station_pixel->x, run.config.station_pixel->y},
                               run.config.alert_level);
    if (rain) record.rain_expected_in_minutes = *rain;
  }
  return {};
}

}  // namespace

nowcast::Legend LegendColours(const std::vector<zub32::LegendEntry>& legend) {
  nowcast::Legend colours;
  for (const zub32::LegendEntry& entry : legend) {
    // ParseLegend accepted only "#rrggbb".
    if (entry.colour.size() != 7) continue;
    std::uint8_t channel[3] = {0, 0, 0};
    for (int c = 0; c < 3; ++c) {
      const int high = HexDigit(entry.colour[1 + 2 * c]);
      const int low = HexDigit(entry.colour[2 + 2 * c]);
      channel[c] = static_cast<std::uint8_t>(std::max(high, 0) * 16 + std::max(low, 0));
    }
    colours.push_back({channel[0], channel[1], channel[2]});
  }
  return colours;
}

void PublishNowcast(RunContext& run) {
  if (!run.config.nowcast) return;
  site::NowcastRecord record;
  std::string reason;
  try {
    reason = MakeAndWrite(run, record);
  } catch (const platform::Exception& error) {
    reason = error.what();
  } catch (const std::bad_alloc&) {
    reason = "out of memory";
  }
  if (!reason.empty()) {
    record = site::NowcastRecord{};
    record.reason = zub32::OneLine(reason, kMaxReasonLength);
    try {
      platform::WriteLine("Nowcast not made: " + record.reason);
    } catch (const std::exception&) {
      // Standard output that cannot take the line changes nothing;
      // status.json still says why.
    }
  }
  run.nowcast = std::move(record);
}

}  // namespace refresh
