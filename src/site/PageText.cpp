#include "site/PageText.h"

#include <algorithm>
#include <iterator>

#include "platform/DateTime.h"
#include "platform/DateTimeFormat.h"
#include "site/SiteNames.h"
#include "zub32/Config.h"
#include "zub32/TextFiles.h"

namespace site {

std::string CacheBuster() {
  std::string text = zub32::StringOfString(platform::Now());
  text.erase(std::remove(text.begin(), text.end(), ' '), text.end());
  return text;
}

std::string CreationTime() {
  return platform::FormatDateTime("hh:nn:ss dd/mm/yy", platform::Now());
}

void AppendLine(std::string& page, std::string_view line) {
  page.append(line);
  page.append("\r\n");
}

void AppendCommentHead(std::string& page, std::string_view version, std::string_view self_name) {
  AppendLine(page, "<!DOCTYPE html>");
  AppendLine(page, "<html lang=\"en\">");
  AppendLine(page, "  <!--");
  AppendLine(page, "    FUNCTION: Main()");
  AppendLine(page, "    CREATED: " + CreationTime());
  AppendLine(page, "    VERSION: " + std::string(version));
  AppendLine(page, "    SELFNAME: " + std::string(self_name));
  AppendLine(page, "  -->");
  AppendLine(page, "  <head>");
}

PageAddresses PageAddresses::ForPublishHost(std::string_view host) {
  const std::string path = std::string(host) + "/vesk/";
  return {"https://" + path, "http://" + path};
}

PageAddresses PageAddresses::For(const zub32::Configuration& config) {
  if (config.site_address.empty()) return ForPublishHost(config.publish_host.text);
  return {config.site_address + "/", config.site_address + "/"};
}

void AppendBoxRule(std::string& page, const PageAddresses& addresses, const BoxRule& rule) {
  AppendLine(page, "      ." + rule.css_class);
  AppendLine(page, "      {");
  AppendLine(page, "        z-index:" + std::to_string(rule.z_index) + ";");
  if (rule.order == PropertyOrder::kPositionFirst) AppendLine(page, "        position:absolute;");
  AppendLine(page,
             "        background:url(\"" + addresses.pictures + rule.picture + "\") no-repeat;");
  AppendLine(page, rule.shown ? "        display:block;" : "        display:none;");
  AppendLine(page, "        overflow:hidden;");
  if (rule.order == PropertyOrder::kBackgroundFirst) AppendLine(page, "        position:absolute;");
  AppendLine(page, "        height:600px;");
  AppendLine(page, "        width:100%;");
  AppendLine(page, "        left:0px;");
  AppendLine(page, "        top:0px;");
  AppendLine(page, "      }");
  if (rule.blank_after) AppendLine(page, "");
}

void AppendLayerRules(std::string& page, const PageAddresses& addresses, const std::string& product,
                      const bool (&shown)[4]) {
  struct Layer {
    const char* css_class;
    int z_index;
  };
  // In the order of kMapLayers.
  static constexpr Layer kLayers[] = {
      {"background-box", 0},
      {"topography-box", 2},
      {"locations-box", 3},
      {"range-box", 4},
  };
  static_assert(std::size(kLayers) == kMapLayers.size());
  AppendLine(page, "    <style>");
  AppendLine(page, "      .container");
  AppendLine(page, "      {");
  AppendLine(page, "        position:relative;");
  AppendLine(page, "      }");
  AppendLine(page, "");
  for (std::size_t n = 0; n < std::size(kLayers); ++n) {
    AppendBoxRule(page, addresses,
                  {kLayers[n].css_class, kLayers[n].z_index, MapLayerFileName(product, n), shown[n],
                   PropertyOrder::kBackgroundFirst, true});
  }
}

void AppendLayerDivs(std::string& page, std::string_view title) {
  AppendLine(page, "    </style>");
  AppendLine(page, "    <title>" + std::string(title) + "</title>");
  AppendLine(page, "  </head>");
  AppendLine(page, "");
  AppendLine(page, "  <body>");
  AppendLine(page, "    <!-- <h1>Zelvo Zozuzoro Vazu VESK loop.</h1> -->");
  AppendLine(page, "    <div class=\"container\">");
  AppendLine(page, "      <div id=\"myDivBackground\" class=\"background-box\"></div>");
  AppendLine(page, "      <div id=\"myDivTopography\" class=\"topography-box\"></div>");
  AppendLine(page, "      <div id=\"myDivLocations\" class=\"locations-box\"></div>");
  AppendLine(page, "      <div id=\"myDivRange\" class=\"range-box\"></div>");
}

void AppendScriptOpening(std::string& page, int first_index) {
  AppendLine(page, "    </div>");
  AppendLine(page, "  </body>");
  AppendLine(page, "");
  AppendLine(page, "  <script type=\"text/javascript\">");
  AppendLine(page, "    document.getElementById(\"myDivBackground\").style.display=\"none\";");
  AppendLine(page, "    document.getElementById(\"myDivTopography\").style.display=\"block\";");
  AppendLine(page, "    document.getElementById(\"myDivLocations\").style.display=\"block\";");
  AppendLine(page, "    document.getElementById(\"myDivRange\").style.display=\"block\";");
  AppendLine(page, "    let i1=" + std::to_string(first_index) + ";");
  AppendLine(page, "");
  AppendLine(page, "    setInterval(function()");
  AppendLine(page, "    {");
}

}  // namespace site
