#include "refresh/ViewerPage.h"

#include <gtest/gtest.h>

#include <string>

namespace refresh {
namespace {

// The page is one file that a reader's browser needs nothing else for: no
// address outside the directory, no file beside it but status.json and the
// pictures, and small.
TEST(ViewerPageTest, IsOneSmallFileWithoutOutsideReferences) {
  const std::string page = BuildViewerPage(500, "IDR023");
  EXPECT_LE(page.size(), 30u * 1024u);
  for (const char* outside : {"http:", "https:", "<link", "<script src", "@import", "url("}) {
    EXPECT_EQ(page.find(outside), std::string::npos) << outside;
  }
  EXPECT_NE(page.find("fetch('status.json', { cache: 'no-store' })"), std::string::npos);
}

TEST(ViewerPageTest, CarriesTheDelayAndTheProductsLayers) {
  const std::string page = BuildViewerPage(-7, "IDR023");
  EXPECT_NE(page.find("Math.max(20, -7)"), std::string::npos);
  EXPECT_NE(page.find("[\"IDR023.background.png\", \"IDR023.topography.png\", "
                      "\"IDR023.locations.png\", \"IDR023.range.png\"]"),
            std::string::npos);
  EXPECT_EQ(page.find('@'), std::string::npos) << "a placeholder is left";
  EXPECT_EQ(BuildViewerPage(-7, "IDR023"), page) << "the same values give the same page";
}

}  // namespace
}  // namespace refresh
