#include "refresh/LoopPage30.h"

#include <string_view>

#include "platform/Console.h"
#include "platform/DateTime.h"
#include "refresh/PageText.h"
#include "zub32/Config.h"
#include "zub32/Records.h"
#include "zub32/TextFiles.h"

namespace refresh {
namespace {

constexpr int kFrameCount = 7;

// The two property orders of the box rules: the fixed layers and the overlays
// put the background first, the frames (and the unused seventh overlay rule)
// put the position first.
enum class PropertyOrder { kBackgroundFirst, kPositionFirst };

struct BoxRule {
  std::string css_class;
  int z_index;
  std::string picture;  // path below "/vesk/", with its query when it has one
  bool shown;
  PropertyOrder order;
};

void AppendBoxRule(std::string& page, const std::string& host, const BoxRule& rule) {
  const std::string background =
      "        background:url(\"https://" + host + "/vesk/" + rule.picture + "\") no-repeat;";
  AppendLine(page, "      ." + rule.css_class);
  AppendLine(page, "      {");
  AppendLine(page, "        z-index:" + std::to_string(rule.z_index) + ";");
  if (rule.order == PropertyOrder::kPositionFirst) AppendLine(page, "        position:absolute;");
  AppendLine(page, background);
  AppendLine(page, rule.shown ? "        display:block;" : "        display:none;");
  AppendLine(page, "        overflow:hidden;");
  if (rule.order == PropertyOrder::kBackgroundFirst) AppendLine(page, "        position:absolute;");
  AppendLine(page, "        height:600px;");
  AppendLine(page, "        width:100%;");
  AppendLine(page, "        left:0px;");
  AppendLine(page, "        top:0px;");
  AppendLine(page, "      }");
}

// Lines 263 to 318: the end of the head, the layer divs and the script up to
// the line that carries the delay.
constexpr std::string_view kBodyLines[] = {
    "    </style>",
    "    <title>VESK 30min loop</title>",
    "  </head>",
    "",
    "  <body>",
    "    <!-- <h1>Zelvo Zozuzoro Vazu VESK loop.</h1> -->",
    "    <div class=\"container\">",
    "      <div id=\"myDivBackground\" class=\"background-box\"></div>",
    "      <div id=\"myDivTopography\" class=\"topography-box\"></div>",
    "      <div id=\"myDivLocations\" class=\"locations-box\"></div>",
    "      <div id=\"myDivRange\" class=\"range-box\"></div>",
};

constexpr std::string_view kScriptLines[] = {
    "    </div>",
    "  </body>",
    "",
    "  <script type=\"text/javascript\">",
    "    document.getElementById(\"myDivBackground\").style.display=\"none\";",
    "    document.getElementById(\"myDivTopography\").style.display=\"block\";",
    "    document.getElementById(\"myDivLocations\").style.display=\"block\";",
    "    document.getElementById(\"myDivRange\").style.display=\"block\";",
    "    let i1=6;",
    "",
    "    setInterval(function()",
    "    {",
    "      if (i1>-1)",
    "      {",
    "        //console.log(\"i1=\"+i1);",
    "        for (i2=0; i2<7;i2++)",
    "        {",
    "          if (i1!=i2)",
    "          {",
    "            document.getElementById(\"myDiv\"+i2).style.display=\"none\";",
    "            document.getElementById(\"myDivSES\"+i2).style.display=\"none\";",
    "          } else {",
    "            document.getElementById(\"myDiv\"+i1).style.display=\"block\";",
    "            document.getElementById(\"myDivSES\"+i1).style.display=\"block\";",
    "          }",
    "        }",
    "        i1--;",
    "      } else",
    "      {",
    "        i1=6;",
    "      }",
};

}  // namespace

std::string BuildLoopPage30(std::int32_t html_delay, const std::string& publish_host) {
  const std::string& host = publish_host;
  std::string page;
  AppendLine(page, "<!DOCTYPE html>");
  AppendLine(page, "<html lang=\"en\">");
  AppendLine(page, "  <!--");
  AppendLine(page, "    FUNCTION: Main()");
  AppendLine(page,
             "    CREATED: " + platform::FormatDateTime("hh:nn:ss dd/mm/yy", platform::Now()));
  AppendLine(page, "    VERSION: " + zub32::GlobalSettings.Version);
  AppendLine(page, "    SELFNAME: " + zub32::GlobalSettings.SelfName);
  AppendLine(page, "  -->");
  AppendLine(page, "  <head>");
  AppendLine(page, "    <meta http-equiv=\"refresh\" content=\"300; url=http://" + host +
                       "/vesk/index.html?foo=" + CacheBuster() + "\">");
  AppendLine(page, "    <style>");
  AppendLine(page, "      .container");
  AppendLine(page, "      {");
  AppendLine(page, "        position:relative;");
  AppendLine(page, "      }");
  AppendLine(page, "");

  const BoxRule layers[] = {
      {"background-box", 0, "IDR641.background.png", true, PropertyOrder::kBackgroundFirst},
      {"topography-box", 2, "IDR641.topography.png", false, PropertyOrder::kBackgroundFirst},
      {"locations-box", 3, "IDR641.locations.png", false, PropertyOrder::kBackgroundFirst},
      {"range-box", 4, "IDR641.range.png", false, PropertyOrder::kBackgroundFirst},
  };
  for (const BoxRule& rule : layers) {
    AppendBoxRule(page, host, rule);
    AppendLine(page, "");
  }
  // Each rule is built when it is reached, so the cache-busters are read in
  // page order.
  for (int n = 0; n < kFrameCount; ++n) {
    AppendBoxRule(page, host,
                  {"sesoverlay-box" + std::to_string(n), 1,
                   "SESOverlay" + std::to_string(n) + ".bmp?foo=" + CacheBuster(), false,
                   PropertyOrder::kBackgroundFirst});
    AppendLine(page, "");
  }
  // A seventh overlay rule that no div uses; it stays in the page as it was
  // always published.
  AppendBoxRule(page, host,
                {"sesoverlay-box7", 1, "image0.png?foo=" + CacheBuster(), true,
                 PropertyOrder::kPositionFirst});
  AppendLine(page, "");
  for (int n = 0; n < kFrameCount; ++n) {
    AppendBoxRule(page, host,
                  {"weather-box" + std::to_string(n), 10,
                   "image" + std::to_string(n) + ".png?foo=" + CacheBuster(), false,
                   PropertyOrder::kPositionFirst});
    // The last rule is followed directly by the end of the style sheet.
    if (n + 1 < kFrameCount) AppendLine(page, "");
  }

  for (std::string_view line : kBodyLines) AppendLine(page, line);
  for (int n = 0; n < kFrameCount; ++n) {
    const std::string number = std::to_string(n);
    AppendLine(page,
               "      <div id=\"myDiv" + number + "\" class=\"weather-box" + number + "\"></div>");
  }
  for (int n = 0; n < kFrameCount; ++n) {
    const std::string number = std::to_string(n);
    AppendLine(page, "      <div id=\"myDivSES" + number + "\" class=\"sesoverlay-box" + number +
                         "\"></div>");
  }
  for (std::string_view line : kScriptLines) AppendLine(page, line);
  AppendLine(page, "    }," + std::to_string(html_delay) + ")");
  AppendLine(page, "  </script>");
  AppendLine(page, "</html>");
  return page;
}

void WriteLoopPage30(RunContext& run) {
  platform::WriteLine("Writing index.html");
  run.page_text = BuildLoopPage30(run.html_delay, zub32::RunConfig.publish_host.text);
  // A failed write keeps the previous page, which is still a whole page; the
  // run goes on to its other stages either way.
  zub32::StringToFile(run.page_text, "index.html", false, "");
}

}  // namespace refresh
