#include "refresh/InstallationCheck.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "http/FetchClient.h"
#include "http/TIdHTTP.h"
#include "overlay/OverlayPicture.h"
#include "overlay/StationFeed.h"
#include "picture/Bitmap.h"
#include "picture/BmpCodec.h"
#include "picture/TextRenderer.h"
#include "platform/Console.h"
#include "platform/DateTime.h"
#include "platform/Exceptions.h"
#include "platform/FileSystem.h"
#include "platform/HostLookup.h"
#include "platform/TlsSocket.h"
#include "platform/Udp.h"
#include "refresh/BackOff.h"
#include "refresh/MapLayers.h"
#include "refresh/RadarFrameUpdate.h"
#include "refresh/RunSummary.h"
#include "site/PageText.h"
#include "site/SiteNames.h"
#include "site/StatusDocument.h"
#include "zub32/PrintableText.h"
#include "zub32/SystemInfo.h"

namespace refresh {
namespace {

// Long enough for every message the checks quote, short enough for a line.
constexpr std::size_t kMaxDetail = 160;

std::string Join(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : ", ") + item;
  return text;
}

std::string ErrorText(const platform::Exception& error) {
  return error.ClassName() + ": " + zub32::OneLine(error.Message(), kMaxDetail);
}

// A key's entry as --help shows it: the value in force and where it came
// from.
zub32::ConfigEntry EntryOf(const zub32::Configuration& config, const std::string& key) {
  for (const zub32::ConfigEntry& entry : config.entries) {
    if (entry.key == key) return entry;
  }
  return {};
}

std::string SourceOf(const zub32::Configuration& config, const std::string& key) {
  return zub32::SourceText(EntryOf(config, key).source);
}

// Without VESK_HOME a run refuses a system directory; the check says so
// instead of refusing, since it writes nothing.
CheckResult CheckProgramDirectory(const std::string& directory, const std::string& origin) {
  const std::string subject = "program directory " + directory + " (" + origin + "): ";
  if (origin != zub32::kHomeVariable) {
    if (const std::optional<std::string> problem = zub32::SystemDirectoryProblem(directory)) {
      return {false, subject + *problem + "; a run refuses it, set " + zub32::kHomeVariable};
    }
  }
  if (const std::optional<std::string> problem = platform::DirectoryWriteProblem(directory)) {
    return {false, subject + *problem};
  }
  return {true, subject + "writable"};
}

void CheckConfiguration(const std::string& directory, const zub32::Configuration& config,
                        std::vector<CheckResult>& results) {
  for (const std::string& warning : config.warnings) {
    results.push_back({false, "configuration: " + zub32::OneLine(warning, kMaxDetail)});
  }
  // A misspelt key leaves its setting at the default without a word from
  // the run.
  for (const zub32::UnknownKey& unknown : config.unknown_keys) {
    std::string text = std::string("configuration: ") + zub32::kConfigFileName + " key \"" +
                       zub32::OneLine(unknown.key, kMaxDetail) + "\" is unknown and ignored";
    if (!unknown.closest.empty()) text += "; did you mean " + unknown.closest + "?";
    results.push_back({false, text});
  }
  if (!config.warnings.empty() || !config.unknown_keys.empty()) return;
  const std::string file = directory + zub32::kConfigFileName;
  results.push_back(
      {true, std::string("configuration: no malformed values (") +
                 (platform::EntryExists(file) ? file + " read"
                                              : std::string("no ") + zub32::kConfigFileName) +
                 ")"});
}

CheckResult CheckHost(const std::string& role, const zub32::Endpoint& endpoint,
                      const std::string& source) {
  const std::string scheme = endpoint.scheme == "https" ? "https://" : "";
  const std::string subject = role + " " + scheme + endpoint.text + " (" + source + "): ";
  const platform::HostAddresses found = platform::LookUpHost(endpoint.host, endpoint.port);
  if (found.addresses.empty()) {
    return {false, subject + "does not resolve (" + zub32::OneLine(found.error, kMaxDetail) + ")"};
  }
  return {true, subject + "resolves to " + Join(found.addresses) + ", port " +
                    std::to_string(endpoint.port)};
}

CheckResult CheckSyslog(const zub32::Configuration& config) {
  const std::string subject = "syslog (" + SourceOf(config, "Syslog") + "): ";
  try {
    switch (config.syslog.mode) {
      case zub32::SyslogMode::kOff:
        return {true, subject + "off; a failure is only recorded in the report"};
      case zub32::SyslogMode::kBroadcast: {
        const std::vector<std::string> addresses = platform::LocalIPv4Addresses();
        if (addresses.empty()) {
          return {false, subject + "broadcast, but no interface with an IPv4 address is up"};
        }
        return {true, subject + "broadcast to UDP port 514 from " + Join(addresses)};
      }
      case zub32::SyslogMode::kUnicast:
        break;
    }
    return {true, subject + config.syslog.host + " resolves to " +
                      platform::ResolveIPv4(config.syslog.host) + ", UDP port " +
                      std::to_string(config.syslog.port)};
  } catch (const platform::Exception& error) {
    return {false, subject + ErrorText(error)};
  }
}

CheckResult CheckBackground(const std::string& directory, const std::string& product) {
  const std::string background = site::OverlayBackgroundFileName(product);
  const std::string subject = "background " + background + ": ";
  const std::string path = directory + background;
  if (!platform::EntryExists(path)) {
    return {false, subject +
                       "missing in the program directory; the overlay would show the "
                       "station text on a plain white picture"};
  }
  try {
    const picture::Bitmap bitmap = picture::LoadBmpFile(path, overlay::kMaxBackgroundPixelBytes);
    const std::string size = std::to_string(bitmap.Width()) + " x " +
                             std::to_string(bitmap.Height()) + ", " +
                             std::to_string(bitmap.BitCount()) + " bits per pixel";
    // The three text lines start 50 pixels from the left at rows 418, 434
    // and 450; a smaller picture cuts them off.
    if (bitmap.Width() <= overlay::kTextLeft || bitmap.Height() <= overlay::kWindTop) {
      return {false, subject + size + ": too small, the station text at rows " +
                         std::to_string(overlay::kStampTop) + " to " +
                         std::to_string(overlay::kWindTop) + " would be cut off"};
    }
    return {true, subject + "valid bitmap, " + size};
  } catch (const platform::Exception& error) {
    return {false, subject + ErrorText(error)};
  }
}

// Which layers are in place, where the runs fetch them; a missing one is
// fetched by the next run with a new frame, so it is no problem.
std::string IsoTime(std::chrono::system_clock::time_point when) {
  return platform::FormatIsoLocal(
      std::chrono::duration_cast<std::chrono::seconds>(when.time_since_epoch()).count());
}

// Each layer as it stands: present with its write time, or missing, and held
// back after a failed fetch (the marker's time) until the retry is due, as
// a run decides it at now.
CheckResult CheckMapLayers(const std::string& directory, const zub32::Configuration& config,
                           std::chrono::system_clock::time_point now) {
  std::string text = "map layers (LayerPath " + EntryOf(config, "LayerPath").value + ", " +
                     SourceOf(config, "LayerPath") + "): ";
  CheckResult result;
  for (std::size_t layer = 0; layer < site::kMapLayers.size(); ++layer) {
    const std::string file = site::MapLayerFileName(config.product, layer);
    if (layer > 0) text += "; ";
    const std::optional<std::chrono::system_clock::time_point> written =
        platform::IsRegularEntry(directory + file) ? platform::LastWriteTime(directory + file)
                                                   : std::nullopt;
    text += file + (written ? " present (" + IsoTime(*written) + ")" : " missing");
    if (!written && !config.fetch_layers) result.warning = true;
    const std::optional<std::chrono::system_clock::time_point> failed =
        platform::LastWriteTime(directory + MapLayerAttemptFileName(file));
    if (config.fetch_layers && failed && *failed <= now && now - *failed < kMapLayerRetryInterval) {
      text += ", held back after a failed fetch at " + IsoTime(*failed) + " until " +
              IsoTime(*failed + kMapLayerRetryInterval);
      result.warning = true;
    }
  }
  text += config.fetch_layers ? "; a run with a new frame fetches each one missing or older than " +
                                    std::to_string(kMapLayerMaxAge.count() / 24) + " days"
                              : "; not fetched: the pages show none that is missing";
  result.text = text;
  return result;
}

CheckResult CheckFont(const zub32::Configuration& config) {
  const picture::FontRequest request = overlay::OverlayFont(config.font);
  const std::string subject = "font (" + SourceOf(config, "Font") + "): ";
  try {
    const std::string& file = picture::TextRenderer::For(request).FontFile();
    if (!request.file.empty()) return {true, subject + file};
    return {true, subject + file + ", fontconfig's choice for \"" + request.face + "\"" +
                      (request.bold ? " bold" : "")};
  } catch (const platform::Exception& error) {
    return {false, subject + ErrorText(error)};
  }
}

// Loads the certificate authorities as the first https connection of a run
// does; only where a host is reached over https or a bundle is named.
std::optional<CheckResult> CheckCertificateAuthorities(const zub32::Configuration& config) {
  const bool https = config.radar_host.scheme == "https" || config.publish_host.scheme == "https";
  if (!https && config.tls_ca_file.empty()) return std::nullopt;
  const std::string subject = "certificate authorities " + EntryOf(config, "TlsCaFile").value +
                              " (" + SourceOf(config, "TlsCaFile") + "): ";
  try {
    const platform::TlsContext context(config.tls_ca_file);
    return CheckResult{true, subject + "loaded"};
  } catch (const platform::Exception& error) {
    return CheckResult{false, subject + ErrorText(error)};
  }
}

// The addresses the pages use, as the page writers form them: without
// SiteAddress the refresh goes over http:// while the pictures go over
// https://.
CheckResult CheckSiteAddress(const zub32::Configuration& config) {
  const std::string subject = "site address " + EntryOf(config, "SiteAddress").value + " (" +
                              SourceOf(config, "SiteAddress") + "): ";
  const site::PageAddresses addresses = site::PageAddresses::For(config);
  if (addresses.pictures == addresses.refresh) {
    return {true, subject + "the pages' picture and refresh addresses start there"};
  }
  return {true, subject + "the pages' picture addresses start there, their refresh address with " +
                    addresses.refresh};
}

// Fetches path once from host with the client settings of a run and says
// what came back; the body is counted and dropped.
CheckResult CheckFetch(const std::string& subject, const zub32::Endpoint& host,
                       const std::string& path, const zub32::Configuration& config) {
  http::TIdHTTP client;
  http::ConfigureFetchClient(client, host, config);
  const std::string prefix = subject + " " + http::OpeningAddress(client, path) + ": ";
  try {
    const std::string body = client.Get(path);
    return {true, prefix + zub32::OneLine(client.Response().ResponseText, kMaxDetail) + ", " +
                      std::to_string(body.size()) + " bytes"};
  } catch (const platform::Exception& error) {
    return {false, prefix + ErrorText(error)};
  }
}

}  // namespace

std::vector<CheckResult> CheckOnline(const zub32::Configuration& config) {
  // Both requests together are bounded as those of a run.
  zub32::Configuration bounded = config;
  bounded.run_started = std::chrono::steady_clock::now();
  return {
      CheckFetch("radar loop page", config.radar_host, RadarRequestPath(config.product), bounded),
      CheckFetch("station feed", config.publish_host, overlay::kStationFeedPath, bounded)};
}

std::vector<CheckResult> CheckInstallation(const std::string& program_dir,
                                           const std::string& directory_origin,
                                           const zub32::Configuration& config) {
  std::vector<CheckResult> results;
  results.push_back(CheckProgramDirectory(program_dir, directory_origin));
  CheckConfiguration(program_dir, config, results);
  results.push_back(CheckHost("radar host", config.radar_host, SourceOf(config, "RadarHost")));
  if (EntryOf(config, "RadarHost").source == zub32::ValueSource::kDefault) {
    results.push_back({true,
                       "radar host left at its default, localhost: the runs fetch the radar loop "
                       "from this machine; set RadarHost to the radar source host",
                       true});
  }
  results.push_back(
      CheckHost("publishing host", config.publish_host, SourceOf(config, "PublishHost")));
  if (std::optional<CheckResult> authorities = CheckCertificateAuthorities(config))
    results.push_back(*authorities);
  results.push_back(CheckSiteAddress(config));
  results.push_back(CheckSyslog(config));
  results.push_back(CheckBackground(program_dir, config.product));
  results.push_back(CheckMapLayers(program_dir, config, platform::ClockNow()));
  results.push_back(CheckFont(config));
  if (const std::optional<std::int64_t> until =
          PendingNotBefore(program_dir, platform::UnixNow())) {
    results.push_back({true, "radar source asked to wait until " +
                                 platform::FormatIsoLocal(*until) + " (" + site::kStatusFileName +
                                 "): runs send it nothing until then"});
  }
  return results;
}

std::string CheckLine(const CheckResult& result) {
  if (!result.ok) return "FAIL  " + result.text;
  return (result.warning ? "warn  " : "ok    ") + result.text;
}

int RunCheck(bool online) {
  const std::string directory = zub32::GetEXEPath("");
  const std::string origin =
      zub32::HomeFromEnvironment() ? zub32::kHomeVariable : "the executable's directory";
  const zub32::Configuration config = zub32::LoadConfiguration(directory);
  int problems = 0;
  std::vector<CheckResult> results = CheckInstallation(directory, origin, config);
  if (online) {
    for (CheckResult& result : CheckOnline(config)) results.push_back(std::move(result));
  }
  for (const CheckResult& result : results) {
    if (!result.ok) ++problems;
    // A check line names files and values of the installation, which may
    // hold any bytes.
    std::printf("%s\n", platform::ConsoleText(CheckLine(result)).c_str());
  }
  if (problems == 0) {
    std::printf("vesk --check: no problems found\n");
  } else {
    std::printf("vesk --check: %d problem%s found\n", problems, problems == 1 ? "" : "s");
  }
  std::fflush(stdout);
  return problems == 0 ? 0 : kExitCheckFailed;
}

}  // namespace refresh
