#include "overlay/Generate_SESOverlay.h"

#include <optional>
#include <string>

#include "http/FetchClient.h"
#include "http/TIdHTTP.h"
#include "overlay/OverlayPicture.h"
#include "overlay/OverlayRing.h"
#include "overlay/StationFeed.h"
#include "picture/Bitmap.h"
#include "platform/Console.h"
#include "platform/DateTime.h"
#include "platform/DateTimeFormat.h"
#include "platform/Exceptions.h"
#include "site/SiteNames.h"
#include "zub32/Config.h"
#include "zub32/DaySlot.h"
#include "zub32/ExceptionReport.h"
#include "zub32/Records.h"
#include "zub32/TextFiles.h"

namespace overlay {
namespace {

// The routine's exit steps, run on every way out: the final step marker,
// then the picture and the client are released where they were made.
class ExitSteps {
 public:
  ExitSteps(zub32::tLogRec& log, std::optional<picture::Bitmap>& bitmap,
            std::optional<http::TIdHTTP>& client)
      : log_(log), bitmap_(bitmap), client_(client) {}
  ~ExitSteps() {
    log_.Trace = 400;
    bitmap_.reset();
    client_.reset();
  }
  ExitSteps(const ExitSteps&) = delete;
  ExitSteps& operator=(const ExitSteps&) = delete;

 private:
  zub32::tLogRec& log_;
  std::optional<picture::Bitmap>& bitmap_;
  std::optional<http::TIdHTTP>& client_;
};

}  // namespace

bool Generate_SESOverlay(const zub32::Configuration& config) {
  zub32::tLogRec Log;
  zub32::tExceptionRec ExceptionRec;
  Log.Trace = 100;
  // Lowered again after the exit steps, however the routine is left.
  zub32::CallDepthScope depth;
  std::optional<http::TIdHTTP> client;
  std::optional<picture::Bitmap> bitmap;
  ExitSteps exit_steps(Log, bitmap, client);
  bool drawn = false;
  try {
    client.emplace();
    http::ConfigureFetchClient(*client, config.publish_host, config);
    // A report of any later failure names the client that was used.
    ExceptionRec.Notes = client->Request().UserAgent;
    platform::WriteLine("Opening " + http::OpeningAddress(*client, kStationFeedPath));
    const std::string response_text = client->Get(kStationFeedPath);
    // An empty body is not written, so the last good copy stays.
    zub32::StringToFile(response_text, site::kStationFeedFile, false, "");
    const StationInfo info = CutStationInfo(response_text);

    bitmap.emplace(LoadBackground(config.product));
    const std::string overlay_name =
        OverlayName(zub32::GlobalSettings.EXEPath, zub32::CurrentSlotTag());
    Log.Trace = 200;
    DrawStationLines(*bitmap, platform::FormatDateTime(kStampFormat, platform::Now()), info,
                     OverlayFont(config.font));
    platform::WriteLine("Saving to " + overlay_name);
    SaveOverlayAndRotateRing(*bitmap, zub32::GlobalSettings.EXEPath, overlay_name);
    Log.Trace = 300;
    drawn = true;
  } catch (const platform::Exception& error) {
    // An overlay that could not be saved is also one of the run's failed
    // writes: it is named on the console even where the report cannot be
    // written.
    if (dynamic_cast<const platform::EFCreateError*>(&error) != nullptr) {
      zub32::NoteWriteFailure(error.Message());
    }
    ExceptionRec.Function = kOverlayFunctionName;
    ExceptionRec.ClassName = error.ClassName();
    ExceptionRec.Message = error.Message();
    ExceptionRec.Trace = Log.Trace;
    ExceptionRec.Beep = true;
    ExceptionRec.FileName = zub32::GlobalSettings.ExceptionFileName;
    ExceptionRec.FileName = zub32::SaveExceptionRecAsXML(ExceptionRec);
  }
  return drawn;
}

}  // namespace overlay
