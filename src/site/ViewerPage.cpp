#include "site/ViewerPage.h"

#include "site/SiteNames.h"
#include "site/StatusMembers.h"
#include "site/ViewerFiles.h"
#include "zub32/Json.h"
#include "zub32/TextFiles.h"

namespace site {
namespace {

constexpr std::string_view kStylePlaceholder = "@VIEWER_STYLE@\n";
constexpr std::string_view kScriptPlaceholder = "@VIEWER_SCRIPT@\n";
constexpr std::string_view kDelayPlaceholder = "@HTML_DELAY@";
constexpr std::string_view kLayersPlaceholder = "@MAP_LAYERS@";
constexpr std::string_view kProductPlaceholder = "@PRODUCT@";
constexpr std::string_view kLegendPlaceholder = "@LEGEND@";
constexpr std::string_view kDownloadPlaceholder = "@DOWNLOAD@";
constexpr std::string_view kStatusFilePlaceholder = "@STATUS_FILE@";
constexpr std::string_view kLoopPicturePlaceholder = "@LOOP_PICTURE@";
constexpr std::string_view kMembersPlaceholder = "@STATUS_MEMBERS@";

void ReplaceAll(std::string& text, std::string_view placeholder, std::string_view value) {
  for (std::size_t at = text.find(placeholder); at != std::string::npos;
       at = text.find(placeholder, at + value.size())) {
    text.replace(at, placeholder.size(), value);
  }
}

// Fills in the names of the files the page reads, as the program writes them.
void ReplaceFileNames(std::string& page) {
  ReplaceAll(page, kStatusFilePlaceholder, kStatusFileName);
  ReplaceAll(page, kLoopPicturePlaceholder, kLoopPictureFile);
}

// The script's object of status.json member names: {"frames": "frames", ...}.
std::string ViewerMembers() {
  std::string members = "{";
  for (const ScriptMember& entry : kViewerMembers) {
    if (members.size() > 1) members += ", ";
    members += zub32::JsonString(entry.script_name) + ": " + zub32::JsonString(entry.json_name);
  }
  return members + "}";
}

}  // namespace

// The page reads status.json beside it and draws each picture of the loop
// onto one canvas at its natural size from the top-left corner, in the
// order of the loop pages' boxes: the background map, the overlay, the
// topography, locations and range layers, and the radar frame on top. The
// overlay's station text would lie under the rain, so the page writes the
// station values and the frame's time as text of its own above the picture.
// It holds only the pictures of the next few frames, and a frame is shown
// only once its pictures have arrived, so its labels always match it.
// Every address is relative to the page, so it works under any site address.
std::string BuildViewerPage(std::int32_t html_delay, const std::string& product,
                            const std::vector<zub32::LegendEntry>& legend, bool loop_picture) {
  // The product holds letters and digits only, so its names need no escape
  // inside a script string or the page's text.
  std::string layers = "[";
  for (std::size_t n = 0; n < kMapLayers.size(); ++n) {
    if (n > 0) layers += ", ";
    layers += "\"" + MapLayerFileName(product, n) + "\"";
  }
  layers += "]";
  // Colours and labels are checked when read; they are escaped all the same.
  std::string colours = "[";
  for (const zub32::LegendEntry& entry : legend) {
    if (colours.size() > 1) colours += ", ";
    colours += "[" + zub32::JsonString(entry.colour) + ", " + zub32::JsonString(entry.label) + "]";
  }
  colours += "]";
  std::string page(kViewerMarkup);
  ReplaceAll(page, kStylePlaceholder, kViewerStyle);
  ReplaceAll(page, kScriptPlaceholder, kViewerScript);
  ReplaceFileNames(page);
  ReplaceAll(page, kMembersPlaceholder, ViewerMembers());
  ReplaceAll(page, kDelayPlaceholder, std::to_string(html_delay));
  ReplaceAll(page, kLayersPlaceholder, layers);
  ReplaceAll(page, kProductPlaceholder, product);
  ReplaceAll(page, kLegendPlaceholder, colours);
  ReplaceAll(page, kDownloadPlaceholder, loop_picture ? "" : "hidden");
  return page;
}

void WriteViewerPage(std::int32_t html_delay, const zub32::Configuration& config) {
  zub32::StringToFile(BuildViewerPage(html_delay, config.product, config.legend,
                                      config.loop_export == zub32::LoopExport::kWebp),
                      kViewerPageFileName, false, "");
}

}  // namespace site
