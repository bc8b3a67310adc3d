#include "refresh/ViewerPage.h"

#include "refresh/MapLayers.h"
#include "site/SiteNames.h"
#include "zub32/Json.h"
#include "zub32/TextFiles.h"

namespace refresh {
namespace {

constexpr std::string_view kDelayPlaceholder = "@HTML_DELAY@";
constexpr std::string_view kLayersPlaceholder = "@MAP_LAYERS@";
constexpr std::string_view kProductPlaceholder = "@PRODUCT@";
constexpr std::string_view kLegendPlaceholder = "@LEGEND@";
constexpr std::string_view kDownloadPlaceholder = "@DOWNLOAD@";

void ReplaceAll(std::string& text, std::string_view placeholder, const std::string& value) {
  for (std::size_t at = text.find(placeholder); at != std::string::npos;
       at = text.find(placeholder, at + value.size())) {
    text.replace(at, placeholder.size(), value);
  }
}

}  // namespace

std::string BuildViewerPage(std::int32_t html_delay, const std::string& product,
                            const std::vector<zub32::LegendEntry>& legend, bool loop_picture) {
  // The product holds letters and digits only, so its names need no escape
  // inside a script string or the page's text.
  std::string layers = "[";
  for (std::size_t n = 0; n < site::kMapLayers.size(); ++n) {
    if (n > 0) layers += ", ";
    layers += "\"" + site::MapLayerFileName(product, n) + "\"";
  }
  layers += "]";
  // Colours and labels are checked when read; they are escaped all the same.
  std::string colours = "[";
  for (const zub32::LegendEntry& entry : legend) {
    if (colours.size() > 1) colours += ", ";
    colours += "[" + zub32::JsonString(entry.colour) + ", " + zub32::JsonString(entry.label) + "]";
  }
  colours += "]";
  std::string page(kViewerPageTemplate);
  ReplaceAll(page, kDelayPlaceholder, std::to_string(html_delay));
  ReplaceAll(page, kLayersPlaceholder, layers);
  ReplaceAll(page, kProductPlaceholder, product);
  ReplaceAll(page, kLegendPlaceholder, colours);
  ReplaceAll(page, kDownloadPlaceholder, loop_picture ? "" : "hidden");
  return page;
}

void WriteViewerPage(const RunContext& run) {
  zub32::StringToFile(BuildViewerPage(run.html_delay, run.config.product, run.config.legend,
                                      run.config.loop_export == zub32::LoopExport::kWebp),
                      site::kViewerPageFileName, false, "");
}

}  // namespace refresh
