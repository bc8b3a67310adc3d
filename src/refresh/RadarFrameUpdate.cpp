#include "refresh/RadarFrameUpdate.h"

#include <cstdint>
#include <exception>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "http/FetchClient.h"
#include "platform/Console.h"
#include "platform/Exceptions.h"
#include "platform/FileSystem.h"
#include "refresh/FrameFiles.h"
#include "refresh/FrameLinks.h"
#include "site/SiteNames.h"
#include "zub32/Config.h"
#include "zub32/DaySlot.h"
#include "zub32/TextFiles.h"

namespace refresh {
namespace {

constexpr const char* kNewestEntry = "theImageNames[6]";

std::string EntryName(int n) { return "theImageNames[" + std::to_string(n) + "]"; }

// The assignment of the entry up to its ";" (the rest of the page when the
// ";" is missing); empty when the page has no such entry. A view into the
// page: a page without the ";" is not copied for it.
std::string_view EntryText(const std::string& page, int n) {
  return zub32::BetweenView(page, EntryName(n), ";");
}

// The address between the first two double quotes of an entry's text.
std::string QuotedAddress(std::string_view entry_text) {
  return std::string(zub32::BetweenView(entry_text, "\"", "\""));
}

// The newest frame's address. A page without one cannot be compared with the
// last download, so it is a failure rather than a change.
std::string NewestAddress(const std::string& page, const std::string& request_path) {
  if (page.empty()) {
    throw platform::EContentError("The radar loop page " + request_path + " came back empty");
  }
  const std::string_view entry = EntryText(page, 6);
  if (entry.empty()) {
    throw platform::EContentError("The radar loop page " + request_path +
                                  " names no newest frame: it has no " + kNewestEntry + " entry");
  }
  std::string address = QuotedAddress(entry);
  if (address.empty()) {
    throw platform::EContentError("The radar loop page " + request_path +
                                  " names no newest frame: its " + kNewestEntry +
                                  " entry holds no quoted address");
  }
  return address;
}

// True when the newest address differs in any byte from the one recorded by
// the last complete download, or none is recorded.
bool NewestFrameChanged(const std::string& newest) {
  if (!platform::EntryExists(site::kLastImageUriFileName)) return true;
  return zub32::FileToBin(site::kLastImageUriFileName) != newest;
}

// Fetches the frame of entry n into Image(6-n).png and the slot's archive;
// false when the frame could not be staged. Requests that fail raise.
bool FetchFrame(http::TIdHTTP& client, const http::TIdURI& page_url, const std::string& page, int n,
                FrameFiles& frames, std::map<std::string, std::string>& addresses) {
  const std::string_view entry = EntryText(page, n);
  if (entry.empty()) return true;
  const std::string sImageURI = QuotedAddress(entry);
  // An empty address would fetch whatever the client makes of it, never a
  // frame; it is skipped like a missing entry.
  if (sImageURI.empty()) return true;
  const std::string sImageFilename = site::FrameFileName(6 - n);
  platform::WriteLine("sImageURI=" + sImageURI);
  platform::WriteLine("sImageFilename=" + sImageFilename);
  platform::WriteLine(sImageFilename + ". image0.png is the most recent.");
  // A path names a frame on the page's host, as it does in a browser, not on
  // the host of the frame before.
  client.SetURL(page_url);
  const std::string sImageData = client.Get(sImageURI);
  // An empty answer is no frame: the loop is incomplete, as after a failed
  // request, and the run reports it.
  if (sImageData.empty()) {
    throw platform::EContentError("The frame " + sImageURI + " came back empty");
  }
  platform::WriteLine("Saving " + sImageFilename);
  addresses[sImageFilename] = sImageURI;
  const bool saved = frames.Stage(sImageData, sImageFilename, true);
  // Only the newest frame goes into the slot's archive: a loop cut short
  // must not leave an older frame there as the frame of this slot.
  if (n == kLoopEntries - 1) {
    frames.Stage(sImageData, site::ArchiveFrameName(zub32::CurrentSlotTag()), false);
  }
  return saved;
}

// Frames come from where the loop page came from after its redirects, or
// from a host FrameHosts names; an https page keeps them on https.
http::TargetPolicy FramePolicy(const http::TIdHTTP& client, const zub32::Configuration& config) {
  http::TargetPolicy policy;
  policy.https_only = client.Scheme() == "https";
  policy.one_origin = true;
  policy.scheme = client.URL().Protocol;
  policy.host = client.URL().Host;
  policy.port = client.Port();
  policy.other_hosts = config.frame_hosts;
  policy.subject = "Frame address";
  policy.host_hint = "FrameHosts may name further hosts";
  return policy;
}

// Publishes the staged frames and records the address of each one placed.
int PublishFrames(FrameFiles& frames, const std::string& newest,
                  const std::map<std::string, std::string>& addresses, RunContext& run) {
  std::vector<std::string> placed;
  const int count = frames.Publish(newest, &placed);
  for (const std::string& name : placed) run.frame_addresses[name] = addresses.at(name);
  return count;
}

// The loop page, and its frames when the newest one is new.
bool UpdateFromLoopPage(http::TIdHTTP& client, RunContext& run) {
  http::ConfigureFetchClient(client, run.config.radar_host, run.config);
  const std::string sRequestPath = RadarRequestPath(run.config.product);
  run.ExceptionRec.Notes = client.Request().UserAgent;

  platform::WriteLine("Opening " + http::OpeningAddress(client, sRequestPath));
  const std::string sResponse = client.Get(sRequestPath);
  platform::WriteLine(std::string("Saving response to ") + site::kRootFileName);
  zub32::StringToFile(sResponse, site::kRootFileName, false, "");

  const std::string newest = NewestAddress(sResponse, sRequestPath);
  if (!NewestFrameChanged(newest)) {
    platform::WriteLine(std::string(" No change to ") + kNewestEntry + " in " + newest);
    return false;
  }

  // What follows from an https page stays on https, the frames' own
  // requests and every later request of this client alike.
  http::TargetPolicy after_frames;
  after_frames.https_only = client.Scheme() == "https";
  client.SetPolicy(FramePolicy(client, run.config));
  const http::TIdURI page_url = client.URL();
  // The page may be as large as any body; a frame only as large as the
  // configuration allows.
  client.SetBodyLimit(static_cast<std::size_t>(run.config.max_frame_bytes));
  FrameFiles frames;
  std::map<std::string, std::string> addresses;
  bool all_saved = true;
  try {
    for (int n = 0; n < kLoopEntries; ++n) {
      if (!FetchFrame(client, page_url, sResponse, n, frames, addresses)) all_saved = false;
    }
  } catch (const std::exception&) {
    client.SetPolicy(after_frames);
    // The frames that came before a failed request are still published.
    run.frames_downloaded += PublishFrames(frames, "", addresses, run);
    throw;
  }
  client.SetPolicy(after_frames);
  // Recorded only once the whole loop is on disk: a frame that was not saved
  // makes the next run fetch the loop again.
  run.frames_downloaded += PublishFrames(frames, all_saved ? newest : "", addresses, run);
  KeepLowercaseFrameNames();
  return true;
}

}  // namespace

std::string RadarRequestPath(const std::string& product) {
  return "/products/" + product + ".loop.shtml";
}

bool RadarFrameUpdate(RunContext& run) {
  http::TIdHTTP& client = run.radar_client.emplace();
  try {
    return UpdateFromLoopPage(client, run);
  } catch (const platform::EIdHTTPProtocolException& answer) {
    run.radar_refusal =
        RadarRefusal{answer.ErrorCode(), client.Response().RawHeaders.Values("Retry-After")};
    throw;
  }
}

}  // namespace refresh
