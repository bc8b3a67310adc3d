#include "site/ViewerPage.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/Regex.h"

namespace site {
namespace {

// The page is one file that a reader's browser needs nothing else for: no
// address outside the directory, no file beside it but status.json and the
// pictures, and small.
TEST(ViewerPageTest, IsOneSmallFileWithoutOutsideReferences) {
  const std::string page = BuildViewerPage(500, "IDR023", zub32::DefaultLegend(), true);
  EXPECT_LE(page.size(), 30u * 1024u);
  for (const char* outside : {"http:", "https:", "<link", "<script src", "@import", "url("}) {
    EXPECT_EQ(page.find(outside), std::string::npos) << outside;
  }
  EXPECT_NE(page.find("fetch('status.json', { cache: 'no-store' })"), std::string::npos);
  EXPECT_NE(page.find("href=\"loop.webp\" download=\"loop.webp\""), std::string::npos);
}

TEST(ViewerPageTest, CarriesTheDelayTheProductItsLayersAndTheLegend) {
  const std::vector<zub32::LegendEntry> legend = {{"#f5f5ff", "light"}, {"#280000", ""}};
  const std::string page = BuildViewerPage(-7, "IDR023", legend, false);
  EXPECT_NE(page.find("<title>IDR023 radar loop</title>"), std::string::npos);
  EXPECT_NE(page.find("<h1>Radar loop IDR023</h1>"), std::string::npos);
  EXPECT_NE(page.find("kLegend = [[\"#f5f5ff\", \"light\"], [\"#280000\", \"\"]];"),
            std::string::npos);
  EXPECT_NE(page.find("download=\"loop.webp\" hidden>"), std::string::npos);
  EXPECT_NE(page.find("Math.max(20, -7)"), std::string::npos);
  EXPECT_NE(page.find("[\"IDR023.background.png\", \"IDR023.topography.png\", "
                      "\"IDR023.locations.png\", \"IDR023.range.png\"]"),
            std::string::npos);
  EXPECT_FALSE(std::regex_search(page, std::regex("@[A-Z_]+@"))) << "a placeholder is left";
  EXPECT_EQ(BuildViewerPage(-7, "IDR023", legend, false), page)
      << "the same values give the same page";
}

}  // namespace
}  // namespace site
