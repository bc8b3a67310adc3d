#include "refresh/ViewerPage.h"

#include "refresh/MapLayers.h"
#include "zub32/TextFiles.h"

namespace refresh {
namespace {

constexpr std::string_view kDelayPlaceholder = "@HTML_DELAY@";
constexpr std::string_view kLayersPlaceholder = "@MAP_LAYERS@";

void ReplaceOnce(std::string& text, std::string_view placeholder, const std::string& value) {
  text.replace(text.find(placeholder), placeholder.size(), value);
}

}  // namespace

std::string BuildViewerPage(std::int32_t html_delay, const std::string& product) {
  // The product holds letters and digits only, so its names need no escape
  // inside a script string.
  std::string layers = "[";
  for (std::size_t n = 0; n < kMapLayers.size(); ++n) {
    if (n > 0) layers += ", ";
    layers += "\"" + MapLayerFileName(product, n) + "\"";
  }
  layers += "]";
  std::string page(kViewerPageTemplate);
  ReplaceOnce(page, kDelayPlaceholder, std::to_string(html_delay));
  ReplaceOnce(page, kLayersPlaceholder, layers);
  return page;
}

void WriteViewerPage(const RunContext& run) {
  zub32::StringToFile(BuildViewerPage(run.html_delay, run.config.product), kViewerPageFileName,
                      false, "");
}

}  // namespace refresh
