#include "site/LoopPage30.h"

#include <string_view>

#include "platform/Console.h"
#include "platform/DateTime.h"
#include "site/PageText.h"
#include "site/SiteNames.h"
#include "zub32/Config.h"
#include "zub32/Records.h"
#include "zub32/TextFiles.h"

namespace site {
namespace {

constexpr int kFrameCount = 7;

// The body of the interval function, which shows the frames from the
// oldest (6) to the newest (0) and starts over.
constexpr std::string_view kScriptLines[] = {
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

std::string BuildLoopPage30(std::int32_t html_delay, const PageAddresses& addresses,
                            const std::string& product) {
  std::string page;
  AppendCommentHead(page, zub32::GlobalSettings.Version, zub32::GlobalSettings.SelfName);
  AppendLine(page, "    <meta http-equiv=\"refresh\" content=\"300; url=" + addresses.refresh +
                       kLoopPage30FileName + "?foo=" + CacheBuster() + "\">");
  AppendLayerRules(page, addresses, product, {true, false, false, false});
  // Each rule is built when it is reached, so the cache-busters are read in
  // page order.
  for (int n = 0; n < kFrameCount; ++n) {
    AppendBoxRule(
        page, addresses,
        {"sesoverlay-box" + std::to_string(n), 1, RingMemberName(n) + "?foo=" + CacheBuster(),
         false, PropertyOrder::kBackgroundFirst});
  }
  // A seventh overlay rule that no div uses; it stays in the page as it was
  // always published.
  AppendBoxRule(page, addresses,
                {"sesoverlay-box7", 1, FrameLinkName(0) + "?foo=" + CacheBuster(), true,
                 PropertyOrder::kPositionFirst});
  for (int n = 0; n < kFrameCount; ++n) {
    // The last rule is followed directly by the end of the style sheet.
    AppendBoxRule(
        page, addresses,
        {"weather-box" + std::to_string(n), 10, FrameLinkName(n) + "?foo=" + CacheBuster(), false,
         PropertyOrder::kPositionFirst, n + 1 < kFrameCount});
  }

  AppendLayerDivs(page, "VESK 30min loop");
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
  AppendScriptOpening(page, 6);
  for (std::string_view line : kScriptLines) AppendLine(page, line);
  AppendLine(page, "    }," + std::to_string(html_delay) + ")");
  AppendLine(page, "  </script>");
  AppendLine(page, "</html>");
  return page;
}

std::string WriteLoopPage30(std::int32_t html_delay, const PageAddresses& addresses,
                            const std::string& product) {
  platform::WriteLine(std::string("Writing ") + kLoopPage30FileName);
  std::string page = BuildLoopPage30(html_delay, addresses, product);
  // A failed write keeps the previous page, which is still a whole page; the
  // run goes on to its other stages either way.
  zub32::StringToFile(page, kLoopPage30FileName, false, "");
  return page;
}

}  // namespace site
